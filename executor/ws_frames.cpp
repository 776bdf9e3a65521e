#include "executor/ws_frames.hpp"

#include <limits>
#include <utility>

#include "sised/codec.hpp"
#include "sised/encoder.hpp"

namespace velto::executor {

std::size_t relay_frame_size(std::size_t payload_len) noexcept {
  return 5 + sised::varint_size(payload_len) + payload_len;
}

crypto::Bytes encode_relay_frame(RelayId from, RelayId to, crypto::ByteSpan payload) {
  if (payload.size() > sised::kMaxVarint) panic(std::string(kFrameEncodePanic));
  crypto::Bytes out;
  out.reserve(relay_frame_size(payload.size()));
  sised::Sink sink = sised::Sink::buffer(out);
  sised::write_varint(sink, 1);
  sised::write_u16(sink, from);
  sised::write_u16(sink, to);
  sised::write_varint(sink, payload.size());
  sink.write(payload);
  if (!sink.ok()) panic(std::string(kFrameEncodePanic));
  return out;
}

crypto::Bytes encode_ws_message(const WebSocketMessage& message) {
  if (const auto* relay = std::get_if<RelayFrame>(&message))
    return encode_relay_frame(relay->from, relay->to, relay->payload);
  const std::string& text = std::get<ServerErrorFrame>(message).text;
  if (text.size() > sised::kMaxVarint) panic(std::string(kFrameEncodePanic));
  crypto::Bytes out;
  out.reserve(1 + sised::varint_size(text.size()) + text.size());
  sised::Sink sink = sised::Sink::buffer(out);
  sised::write_varint(sink, 0);
  sised::write_varint(sink, text.size());
  sink.write(crypto::as_bytes(text));
  return out;
}

namespace {

std::expected<RelayId, sised::SisedError> read_relay_id(sised::Decoder& d) {
  auto v = d.read_u16();
  if (!v) return std::unexpected(std::move(v.error()));
  if (*v == 0) return std::unexpected(sised::SisedError::custom(sised::kZeroNonZero));
  return *v;
}

}  // namespace

std::expected<WebSocketMessage, sised::SisedError> decode_ws_message(crypto::ByteSpan message) {
  using R = std::expected<WebSocketMessage, sised::SisedError>;
  sised::Decoder d(message);
  auto tag = d.read_varint();
  if (!tag) return std::unexpected(std::move(tag.error()));
  if (*tag == 0) {
    auto len = d.read_varint();
    if (!len) return std::unexpected(std::move(len.error()));
    auto bytes = d.take(*len);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    if (!check_utf8(*bytes)) return std::unexpected(sised::SisedError::custom(kInvalidUtf8));
    return R(ServerErrorFrame{std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size())});
  }
  if (*tag != 1) return std::unexpected(sised::SisedError::custom(sised::kInvalidDiscriminant));
  RelayFrame frame;
  auto from = read_relay_id(d);
  if (!from) return std::unexpected(std::move(from.error()));
  auto to = read_relay_id(d);
  if (!to) return std::unexpected(std::move(to.error()));
  auto len = d.read_varint();
  if (!len) return std::unexpected(std::move(len.error()));
  auto payload = d.take(*len);
  if (!payload) return std::unexpected(std::move(payload.error()));
  frame.from = *from;
  frame.to = *to;
  frame.payload.assign(payload->begin(), payload->end());
  return R(std::move(frame));
}

std::string RelayError::display() const {
  struct V {
    std::string operator()(const WebSocketError& e) const { return e.error ? e.error->display() : std::string(); }
    std::string operator()(const DeserializationError& e) const {
      return "Failed deserializing `WebSocketMessage`: " + e.error.display();
    }
    std::string operator()(const ServerError& e) const { return "Received an error message from the server: " + e.text; }
  };
  return std::visit(V{}, value_);
}

std::string RelayError::debug() const {
  struct V {
    std::string operator()(const WebSocketError& e) const {
      return "WebSocketError(Error(" + (e.error ? e.error->debug() : std::string()) + "))";
    }
    std::string operator()(const DeserializationError& e) const { return "DeserializationError(" + e.error.debug() + ")"; }
    std::string operator()(const ServerError& e) const { return "ServerError(" + debug_string(e.text) + ")"; }
  };
  return std::visit(V{}, value_);
}

const Error* RelayError::source() const noexcept {
  struct V {
    const Error* operator()(const WebSocketError& e) const noexcept { return e.error ? e.error->source() : nullptr; }
    const Error* operator()(const DeserializationError& e) const noexcept { return &e.error; }
    const Error* operator()(const ServerError&) const noexcept { return nullptr; }
  };
  return std::visit(V{}, value_);
}

std::expected<RelayFrame, RelayError> read_relay_frame(crypto::ByteSpan message) {
  auto decoded = decode_ws_message(message);
  if (!decoded) return std::unexpected(RelayError::from_decode_error(std::move(decoded.error())));
  if (auto* error = std::get_if<ServerErrorFrame>(&*decoded))
    return std::unexpected(RelayError(RelayError::ServerError{std::move(error->text)}));
  return std::move(std::get<RelayFrame>(*decoded));
}

std::expected<RoomMap, sised::SisedError> decode_room_parties(sised::Decoder& in, std::uint32_t count) {
  RoomMap room;
  std::optional<RelayId> previous;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto id = read_relay_id(in);
    if (!id) return std::unexpected(std::move(id.error()));
    auto key = in.read_array<32>();
    if (!key) return std::unexpected(std::move(key.error()));
    if (previous && *id < *previous) return std::unexpected(sised::SisedError::custom(kNotSorted));
    previous = *id;
    room.insert_or_assign(*id, *key);
  }
  return room;
}

std::expected<RoomMap, sised::SisedError> decode_room_parties_payload(crypto::ByteSpan payload) {
  sised::Decoder d(payload);
  auto count = d.read_varint();
  if (!count) return std::unexpected(std::move(count.error()));
  return decode_room_parties(d, *count);
}

crypto::Bytes encode_room_parties(const RoomMap& room) {
  crypto::Bytes out;
  out.reserve(sised::varint_size(room.size()) + room.size() * 34);
  sised::Sink sink = sised::Sink::buffer(out);
  sised::write_varint(sink, room.size());
  for (const auto& [id, key] : room) {
    sised::write_u16(sink, id);
    sink.write(key);
  }
  return out;
}

}  // namespace velto::executor
