// Room ids and client ids as text.
//
// A room on the relay is named by 16 opaque bytes that the relay issues when
// the room is created. Wherever a room id crosses a boundary (the create-room
// reply, the result of room creation, the room-id argument of every networked
// operation, the join address) it is written as 32 hexadecimal digits, two per
// byte, high nibble first: lower case on output, either case on input. A
// party's 32-byte transport public key (its client id in the join address) is
// written the same way as 64 digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"

namespace velto::server_tools {

// 16 bytes, opaque: no byte or bit of it is interpreted.
struct RoomUuid {
  crypto::ByteArray<16> bytes{};

  friend bool operator==(const RoomUuid&, const RoomUuid&) = default;
};

// Why a text is not a room id. Checked in this order: odd length, length other
// than 32, then each character from the first.
class RoomUuidParseError final : public velto::Error {
 public:
  enum class Kind : std::uint8_t { InvalidHexCharacter, OddLength, InvalidStringLength };

  static RoomUuidParseError invalid_hex_character(char32_t c, std::size_t index) noexcept {
    return RoomUuidParseError(Kind::InvalidHexCharacter, c, index, 0);
  }
  static RoomUuidParseError odd_length() noexcept { return RoomUuidParseError(Kind::OddLength, 0, 0, 0); }
  static RoomUuidParseError invalid_string_length(std::size_t len) noexcept {
    return RoomUuidParseError(Kind::InvalidStringLength, 0, 0, len);
  }

  Kind kind() const noexcept { return kind_; }
  // InvalidHexCharacter: the offending byte taken as the character with that
  // code, and its byte position.
  char32_t character() const noexcept { return c_; }
  std::size_t index() const noexcept { return index_; }
  // InvalidStringLength: the length of the text in bytes.
  std::size_t length() const noexcept { return len_; }

  // "Invalid character 'g' at position 5", "Odd number of digits",
  // "Invalid string length, expected 32 characters, found: 36".
  std::string display() const override;
  // InvalidHexCharacter { c: 'g', index: 5 }, OddLength,
  // InvalidStringLength { len: 36 }.
  std::string debug() const override;

  friend bool operator==(const RoomUuidParseError&, const RoomUuidParseError&) = default;

 private:
  RoomUuidParseError(Kind kind, char32_t c, std::size_t index, std::size_t len) noexcept
      : kind_(kind), c_(c), index_(index), len_(len) {}

  Kind kind_;
  char32_t c_;
  std::size_t index_;
  std::size_t len_;
};

// Parses 32 hexadecimal digits of either case (mixed too). Pure; allocates
// nothing.
std::expected<RoomUuid, RoomUuidParseError> parse_room_uuid(std::string_view text) noexcept;

// 32 lower-case digits appended to `out`.
void fmt_room_uuid_hex(std::string& out, const RoomUuid& id);
std::string room_uuid_hex(const RoomUuid& id);

// A 32-byte public key as 64 lower-case digits appended to `out`.
void fmt_client_id_hex(std::string& out, const crypto::ByteArray<32>& key);

}  // namespace velto::server_tools
