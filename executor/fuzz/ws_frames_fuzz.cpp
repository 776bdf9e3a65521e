// Relay frames and the room's party list: every decoded WebSocketMessage
// encodes back to the bytes it was read from (the decoder ignores what
// follows), Error texts are well-formed UTF-8 exactly when the decoder
// accepts them, the frame reader agrees with the decoder, and the party list
// matches a reference reader and survives its own encoding.
//
// Input: a selector byte, then the message or payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "cmake/fuzz/fuzz_check.hpp"
#include "executor/ws_frames.hpp"
#include "sised/encoder.hpp"

namespace {

namespace crypto = velto::crypto;
namespace ex = velto::executor;

void check_message(crypto::ByteSpan message) {
  auto decoded = ex::decode_ws_message(message);
  auto frame = ex::read_relay_frame(message);
  if (!decoded) {
    const auto* e = frame ? nullptr : frame.error().get_if<ex::RelayError::DeserializationError>();
    VELTO_FUZZ_CHECK(e != nullptr);
    // An Error frame whose length is in the input fails only on its text.
    if (message.size() >= 2 && message[0] == 0 && message[1] <= 251 && message.size() >= 2u + message[1])
      VELTO_FUZZ_CHECK(!velto::fuzz::well_formed_utf8(velto::fuzz::FuzzInput::text(message.subspan(2, message[1]))));
    return;
  }
  const crypto::Bytes encoded = ex::encode_ws_message(*decoded);
  VELTO_FUZZ_CHECK(encoded.size() <= message.size());
  VELTO_FUZZ_CHECK(std::equal(encoded.begin(), encoded.end(), message.begin()));
  if (const auto* relay = std::get_if<ex::RelayFrame>(&*decoded)) {
    VELTO_FUZZ_CHECK(relay->from != 0 && relay->to != 0);
    VELTO_FUZZ_CHECK(encoded.size() == ex::relay_frame_size(relay->payload.size()));
    VELTO_FUZZ_CHECK(encoded == ex::encode_relay_frame(relay->from, relay->to, relay->payload));
    VELTO_FUZZ_CHECK(frame && *frame == *relay);
  } else {
    const auto& text = std::get<ex::ServerErrorFrame>(*decoded).text;
    VELTO_FUZZ_CHECK(velto::fuzz::well_formed_utf8(text));
    const auto* e = frame ? nullptr : frame.error().get_if<ex::RelayError::ServerError>();
    VELTO_FUZZ_CHECK(e != nullptr && e->text == text);
  }
}

// The party list as the reference reads it: nothing when it is refused.
std::optional<ex::RoomMap> model_room(crypto::ByteSpan p) {
  velto::sised::Decoder d(p);
  auto count = d.read_varint();
  if (!count) return std::nullopt;
  ex::RoomMap room;
  std::uint16_t previous = 0;
  for (std::uint32_t i = 0; i < *count; ++i) {
    if (d.remaining() < 34) return std::nullopt;
    const auto id = static_cast<std::uint16_t>(p[d.position()] | p[d.position() + 1] << 8);
    if (id == 0 || id < previous) return std::nullopt;
    (void)d.take(2);
    crypto::ByteArray<32> key;
    (void)d.read_into(key);
    room[id] = key;
    previous = id;
  }
  return room;
}

void check_room(crypto::ByteSpan payload) {
  auto room = ex::decode_room_parties_payload(payload);
  const auto model = model_room(payload);
  VELTO_FUZZ_CHECK(room.has_value() == model.has_value());
  if (!room) return;
  VELTO_FUZZ_CHECK(*room == *model);
  const crypto::Bytes encoded = ex::encode_room_parties(*room);
  auto again = ex::decode_room_parties_payload(encoded);
  VELTO_FUZZ_CHECK(again && *again == *room);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const crypto::ByteSpan body = in.rest();
  if (selector & 1) {
    check_room(body);
  } else {
    check_message(body);
  }
  // A Relay frame built from any payload reads back.
  if (selector & 2) {
    const crypto::Bytes frame = ex::encode_relay_frame(static_cast<std::uint16_t>(1 + (selector >> 2)), 65535, body);
    auto back = ex::read_relay_frame(frame);
    VELTO_FUZZ_CHECK(back && back->payload.size() == body.size() &&
                     std::equal(body.begin(), body.end(), back->payload.begin()));
  }
  return 0;
}
