#include "server-tools/room_uuid.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto::server_tools {
namespace {

TEST(RoomUuid, ParsesEitherCaseAndFormatsLowerCase) {
  const auto id = parse_room_uuid("00112233445566778899AaBbCcDdEeFf");
  ASSERT_TRUE(id.has_value());
  const crypto::ByteArray<16> expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(id->bytes, expected);
  EXPECT_EQ(room_uuid_hex(*id), "00112233445566778899aabbccddeeff");

  // Any 16 bytes are a room id: no version or variant bits are looked at.
  EXPECT_EQ(room_uuid_hex(RoomUuid{}), std::string(32, '0'));
  const auto all_f = parse_room_uuid(std::string(32, 'F'));
  ASSERT_TRUE(all_f.has_value());
  EXPECT_EQ(room_uuid_hex(*all_f), std::string(32, 'f'));
}

TEST(RoomUuid, ParseErrors) {
  struct Case {
    std::string text;
    std::string display;
    std::string debug;
  };
  const std::string digits30(30, 'a');
  const std::vector<Case> cases = {
      {"", "Invalid string length, expected 32 characters, found: 0", "InvalidStringLength { len: 0 }"},
      {"00112233-4455-6677-8899-aabbccddeeff", "Invalid string length, expected 32 characters, found: 36",
       "InvalidStringLength { len: 36 }"},
      {"\"00112233445566778899aabbccddeeff\"", "Invalid string length, expected 32 characters, found: 34",
       "InvalidStringLength { len: 34 }"},
      {std::string(31, 'a'), "Odd number of digits", "OddLength"},
      {"00112233445566778899aabbccddeeff\n", "Odd number of digits", "OddLength"},
      // The length is tested before any character.
      {std::string(33, 'z'), "Odd number of digits", "OddLength"},
      {std::string(34, 'z'), "Invalid string length, expected 32 characters, found: 34",
       "InvalidStringLength { len: 34 }"},
      // Only the first bad character is reported.
      {"01234g6789abcdefxx23456789abcdef", "Invalid character 'g' at position 5",
       "InvalidHexCharacter { c: 'g', index: 5 }"},
      {"0123456789abcdef0123456789abcde'", "Invalid character '\\'' at position 31",
       "InvalidHexCharacter { c: '\\'', index: 31 }"},
      {digits30 + "\t0", "Invalid character '\\t' at position 30", "InvalidHexCharacter { c: '\\t', index: 30 }"},
      // A non-ASCII letter: the first byte of it, taken as the character with
      // that code.
      {digits30 + "\xC3\xA9", "Invalid character '\xC3\x83' at position 30",
       "InvalidHexCharacter { c: '\xC3\x83', index: 30 }"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto r = parse_room_uuid(c.text);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), c.display);
    EXPECT_EQ(r.error().debug(), c.debug);
  }
}

TEST(RoomUuid, LengthCountsBytesNotCharacters) {
  std::string sixteen_letters;
  for (int i = 0; i < 16; ++i) sixteen_letters += "\xC3\xA9";  // é, two bytes each
  const auto r = parse_room_uuid(sixteen_letters);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), RoomUuidParseError::Kind::InvalidHexCharacter);
  EXPECT_EQ(r.error().index(), 0u);
  EXPECT_EQ(r.error().character(), U'\u00C3');
}

TEST(ClientId, SixtyFourLowerCaseDigits) {
  crypto::ByteArray<32> key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0xF0 + (i % 16));
  std::string out = "prefix:";
  fmt_client_id_hex(out, key);
  EXPECT_EQ(out, "prefix:" + std::string("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff") + "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
}

}  // namespace
}  // namespace velto::server_tools
