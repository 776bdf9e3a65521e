// Relay frames: the WebSocketMessage record that every binary websocket
// message to or from the relay holds, and the room's party list that the
// relay sends first.
//
// WebSocketMessage, in sised (tag and lengths are varints):
//   tag 0  Error  text (length, UTF-8 bytes); only the relay sends it
//   tag 1  Relay  from (u16 LE, non-zero), to (u16 LE, non-zero),
//                 payload (length, bytes)
// A Relay frame with an L-byte payload is exactly 5 + k + L bytes, k being the
// size of L's varint. Bytes after the text or payload are ignored.
//
// Relay ids are the relay's addresses of a room's connections (1, 2, 3 ...),
// not the session's PartyIds; 65535 is the relay itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <string>
#include <variant>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "executor/error.hpp"
#include "sised/decoder.hpp"
#include "sised/error.hpp"

namespace velto::executor {

using RelayId = std::uint16_t;
inline constexpr RelayId SERVER_RELAY_ID = 65535;

inline constexpr std::string_view kInvalidUtf8 = "Invalid utf8 string";
inline constexpr std::string_view kNotSorted = "Collection is not sorted";
inline constexpr std::string_view kFrameEncodePanic = "Should never fail serializing a WebSocketMessage";

struct ServerErrorFrame {
  std::string text;
  friend bool operator==(const ServerErrorFrame&, const ServerErrorFrame&) = default;
};

struct RelayFrame {
  RelayId from = 0;
  RelayId to = 0;
  crypto::Bytes payload;
  friend bool operator==(const RelayFrame&, const RelayFrame&) = default;
};

// Variant order is the tag: Error (0), Relay (1).
using WebSocketMessage = std::variant<ServerErrorFrame, RelayFrame>;

// Exact size of a Relay frame carrying payload_len bytes: 5 + k + L.
std::size_t relay_frame_size(std::size_t payload_len) noexcept;

// A Relay frame in one buffer of exactly its size. A payload of 2^32 bytes or
// more cannot be framed (a broken invariant: payloads are far below the 4 MiB
// message limit) and panics.
crypto::Bytes encode_relay_frame(RelayId from, RelayId to, crypto::ByteSpan payload);

// Either variant (the relay's side of the codec; also used by tests).
crypto::Bytes encode_ws_message(const WebSocketMessage& message);

// Decodes one binary message. Errors: "Out of bounds", "Invalid varint
// encoding", and the custom texts "Invalid discriminant", "Zero value in a
// NonZero type", "Invalid utf8 string".
std::expected<WebSocketMessage, sised::SisedError> decode_ws_message(crypto::ByteSpan message);

// The error of one frame on the relay connection.
// Display: the websocket library's own text; "Failed deserializing
// `WebSocketMessage`: {e}" (no closing back-tick); "Received an error message
// from the server: {text}".
class RelayError final : public velto::Error {
 public:
  // A failure of the websocket library, boxed (its text and source pass
  // through unchanged).
  struct WebSocketError {
    BoxedError error;
  };
  // A binary message that does not decode.
  struct DeserializationError {
    executor::DeserializationError error;
  };
  // The relay sent an Error frame.
  struct ServerError {
    std::string text;
  };

  using Value = std::variant<WebSocketError, DeserializationError, ServerError>;

  template <class V>
    requires std::is_constructible_v<Value, V>
  RelayError(V v) : value_(std::move(v)) {}

  static RelayError from_decode_error(sised::SisedError e) {
    return DeserializationError{executor::DeserializationError(executor::DeserializationError::Sised{std::move(e)})};
  }

  const Value& value() const noexcept { return value_; }
  template <class V>
  const V* get_if() const noexcept {
    return std::get_if<V>(&value_);
  }

  std::string display() const override;
  // WebSocketError(Error(...)), DeserializationError(Sised(...)),
  // ServerError("text").
  std::string debug() const override;
  // WebSocketError: the library error's own source; DeserializationError:
  // the DeserializationError; ServerError: none.
  const Error* source() const noexcept override;

 private:
  Value value_;
};

// What the frame reader yields for one binary message: the Relay frame, or
// the RelayError (ServerError for an Error frame, DeserializationError for
// bytes that do not decode).
std::expected<RelayFrame, RelayError> read_relay_frame(crypto::ByteSpan message);

// The room's party list: relay id to the member's 32-byte X25519 transport
// public key.
using RoomMap = std::map<RelayId, crypto::ByteArray<32>>;

// The entries after the count: per entry a relay id (u16 LE, non-zero) and a
// 32-byte key. Ids must not decrease ("Collection is not sorted"); an equal
// id replaces the earlier entry's key. Nothing is reserved from the count, so
// a count far above the input costs nothing before "Out of bounds" ends it.
std::expected<RoomMap, sised::SisedError> decode_room_parties(sised::Decoder& in, std::uint32_t count);

// A whole party-list payload: the count (varint), then decode_room_parties.
// Bytes after the last entry are ignored.
std::expected<RoomMap, sised::SisedError> decode_room_parties_payload(crypto::ByteSpan payload);

// The payload of a party list, entries in ascending relay id order.
crypto::Bytes encode_room_parties(const RoomMap& room);

}  // namespace velto::executor
