#include "server-tools/room_uuid.hpp"

#include "crypto/codec.hpp"

namespace velto::server_tools {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

// The digit's value, or -1.
constexpr int hex_value(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_hex(std::string& out, crypto::ByteSpan bytes) {
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0f];
  }
}

}  // namespace

std::string RoomUuidParseError::display() const {
  switch (kind_) {
    case Kind::InvalidHexCharacter:
      return "Invalid character " + crypto::debug_char(c_) + " at position " + std::to_string(index_);
    case Kind::OddLength:
      return "Odd number of digits";
    case Kind::InvalidStringLength:
      return "Invalid string length, expected 32 characters, found: " + std::to_string(len_);
  }
  return {};
}

std::string RoomUuidParseError::debug() const {
  switch (kind_) {
    case Kind::InvalidHexCharacter:
      return "InvalidHexCharacter { c: " + crypto::debug_char(c_) + ", index: " + std::to_string(index_) + " }";
    case Kind::OddLength:
      return "OddLength";
    case Kind::InvalidStringLength:
      return "InvalidStringLength { len: " + std::to_string(len_) + " }";
  }
  return {};
}

std::expected<RoomUuid, RoomUuidParseError> parse_room_uuid(std::string_view text) noexcept {
  if (text.size() % 2 != 0) return std::unexpected(RoomUuidParseError::odd_length());
  if (text.size() != 32) return std::unexpected(RoomUuidParseError::invalid_string_length(text.size()));
  RoomUuid id;
  for (std::size_t i = 0; i < 16; ++i) {
    const auto hi_c = static_cast<unsigned char>(text[2 * i]);
    const int hi = hex_value(hi_c);
    if (hi < 0) return std::unexpected(RoomUuidParseError::invalid_hex_character(hi_c, 2 * i));
    const auto lo_c = static_cast<unsigned char>(text[2 * i + 1]);
    const int lo = hex_value(lo_c);
    if (lo < 0) return std::unexpected(RoomUuidParseError::invalid_hex_character(lo_c, 2 * i + 1));
    id.bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return id;
}

void fmt_room_uuid_hex(std::string& out, const RoomUuid& id) { append_hex(out, id.bytes); }

std::string room_uuid_hex(const RoomUuid& id) {
  std::string out;
  out.reserve(32);
  fmt_room_uuid_hex(out, id);
  return out;
}

void fmt_client_id_hex(std::string& out, const crypto::ByteArray<32>& key) { append_hex(out, key); }

}  // namespace velto::server_tools
