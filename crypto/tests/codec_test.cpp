#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/codec.hpp"

namespace velto::crypto {
namespace {

std::vector<std::vector<std::string>> read_rows(const std::string& file) {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << "missing " << file;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; fields >> f;) row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}

Bytes unhex(std::string_view s) { return hex_decode(s).value(); }

// ------------------------------------------------------------ hex

TEST(Hex, EncodesLowerCaseAndDecodesEitherCase) {
  struct Case {
    Bytes bytes;
    std::string lower;
    std::string accepted;  // another spelling that decodes to the same bytes
  };
  const Case cases[] = {
      {{}, "", ""},
      {{0x00}, "00", "00"},
      {{0xff}, "ff", "FF"},
      {{0xde, 0xad, 0xbe, 0xef}, "deadbeef", "DeAdbEEF"},
      {{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}, "0123456789abcdef", "0123456789ABCDEF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex_encode(c.bytes), c.lower);
    EXPECT_EQ(hex_decode(c.lower), c.bytes) << c.lower;
    EXPECT_EQ(hex_decode(c.accepted), c.bytes) << c.accepted;
  }
  Bytes all(256);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
  const std::string text = hex_encode(all);
  EXPECT_EQ(text.substr(0, 8), "00010203");
  EXPECT_EQ(text.substr(text.size() - 8), "fcfdfeff");
  EXPECT_EQ(hex_decode(text), all);
}

TEST(Hex, ErrorsWithTheirTextsAndDebugForms) {
  struct Case {
    std::string input;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {"abc", "Odd number of digits", "OddLength"},
      {"zzz", "Odd number of digits", "OddLength"},  // length before characters
      {"0g", "Invalid character 'g' at position 1", "InvalidHexCharacter { c: 'g', index: 1 }"},
      {"zz", "Invalid character 'z' at position 0", "InvalidHexCharacter { c: 'z', index: 0 }"},
      {"0x12", "Invalid character 'x' at position 1", "InvalidHexCharacter { c: 'x', index: 1 }"},
      {"12 4", "Invalid character ' ' at position 2", "InvalidHexCharacter { c: ' ', index: 2 }"},
      {"00\n0", "Invalid character '\\n' at position 2",
       "InvalidHexCharacter { c: '\\n', index: 2 }"},
      {std::string("0\0", 2), "Invalid character '\\0' at position 1",
       "InvalidHexCharacter { c: '\\0', index: 1 }"},
      {"'0", "Invalid character '\\'' at position 0", "InvalidHexCharacter { c: '\\'', index: 0 }"},
      {"\"0", "Invalid character '\"' at position 0", "InvalidHexCharacter { c: '\"', index: 0 }"},
      {"\\0", "Invalid character '\\\\' at position 0",
       "InvalidHexCharacter { c: '\\\\', index: 0 }"},
      {"\x7f" "0", "Invalid character '\\u{7f}' at position 0",
       "InvalidHexCharacter { c: '\\u{7f}', index: 0 }"},
      // Non-ASCII: the first byte of the letter, taken as a code point.
      {"\xc3\xa9", "Invalid character '\xc3\x83' at position 0",
       "InvalidHexCharacter { c: '\xc3\x83', index: 0 }"},
      {"00\xc2\xa0", "Invalid character '\xc3\x82' at position 2",
       "InvalidHexCharacter { c: '\xc3\x82', index: 2 }"},
      {"0\xa0", "Invalid character '\\u{a0}' at position 1",
       "InvalidHexCharacter { c: '\\u{a0}', index: 1 }"},
      // Lengths count bytes: four two-byte letters are 8 bytes, even.
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "Invalid character '\xc3\x83' at position 0",
       "InvalidHexCharacter { c: '\xc3\x83', index: 0 }"},
  };
  for (const Case& c : cases) {
    const auto r = hex_decode(c.input);
    ASSERT_FALSE(r.has_value()) << c.display;
    const Error& e = r.error();  // through the common error interface
    EXPECT_EQ(e.display(), c.display);
    EXPECT_EQ(e.debug(), c.debug);
    EXPECT_EQ(e.source(), nullptr);
  }
  EXPECT_EQ(HexError::invalid_string_length().display(), "Invalid string length");
  EXPECT_EQ(HexError::invalid_string_length().debug(), "InvalidStringLength");
}

TEST(Hex, DecodeIntoChecksOddLengthThenSizeThenCharacters) {
  struct Case {
    std::string input;
    std::size_t out_size;
    std::optional<HexError> error;
  };
  const Case cases[] = {
      {"abcd", 2, std::nullopt},
      {"abc", 2, HexError::odd_length()},
      {"abc", 1, HexError::odd_length()},
      {"zzz", 5, HexError::odd_length()},
      {"abcdef", 2, HexError::invalid_string_length()},
      {"zz", 2, HexError::invalid_string_length()},
      {"", 1, HexError::invalid_string_length()},
      {"ab0z", 2, HexError::invalid_hex_character('z', 3)},
      {"", 0, std::nullopt},
  };
  for (const Case& c : cases) {
    Bytes out(c.out_size, 0x77);
    const auto r = hex_decode_into(c.input, out);
    if (!c.error) {
      ASSERT_TRUE(r.has_value()) << c.input;
      EXPECT_EQ(out, unhex(c.input));
    } else {
      ASSERT_FALSE(r.has_value()) << c.input;
      EXPECT_EQ(r.error(), *c.error) << c.input << ": " << r.error().debug();
      EXPECT_EQ(out, Bytes(c.out_size, 0)) << "no partial output for " << c.input;
    }
  }
}

TEST(DebugChar, MatchesTheCharacterLiteralFormForEveryByte) {
  // codec_char_debug.txt holds, for every byte value b, the literal form of
  // the character U+00bb as the reference formatter prints it.
  std::ifstream in(VELTO_TESTDATA_DIR "/codec_char_debug.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    const auto b = static_cast<char32_t>(std::stoul(line.substr(0, 2), nullptr, 16));
    EXPECT_EQ(debug_char(b), line.substr(3)) << "byte " << line.substr(0, 2);
    ++count;
  }
  EXPECT_EQ(count, 256);
}

// ------------------------------------------------------------ Base58

TEST(Base58, KnownPairs) {
  const auto rows = read_rows("codec_base58_pairs.txt");
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    const Bytes bytes = row[0] == "-" ? Bytes{} : unhex(row[0]);
    const std::string text = row[1] == "-" ? "" : row[1];
    EXPECT_EQ(base58_encode(bytes), text) << row[0];
    EXPECT_EQ(base58_decode(text), bytes) << text;
  }
}

TEST(Base58, LeadingZeroBytesRoundTripAsOnes) {
  for (std::size_t zeros = 0; zeros < 4; ++zeros) {
    for (std::size_t len = zeros; len < 40; len += 3) {
      Bytes b(len, 0);
      for (std::size_t i = zeros; i < len; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 1);
      const std::string text = base58_encode(b);
      EXPECT_EQ(text.find_first_not_of('1'), len == zeros ? std::string::npos : zeros) << text;
      EXPECT_EQ(base58_decode(text), b) << text;
    }
  }
}

TEST(Base58, DecodeIntoAFixedArea) {
  // A 32-byte area, as for a transport public key.
  Bytes key(32);
  for (std::size_t i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0xa0 + i);
  Bytes buf(32);
  ASSERT_EQ(base58_decode_into(base58_encode(key), buf), 32u);
  EXPECT_EQ(buf, key);

  const std::string short_text = base58_encode(ByteSpan(key).first(31));
  ASSERT_EQ(base58_decode_into(short_text, buf), 31u);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 31), Bytes(key.begin(), key.begin() + 31));

  Bytes longer = key;
  longer.push_back(1);
  const std::string too_long = base58_encode(longer);
  EXPECT_EQ(base58_decode_into(too_long, buf).error(), Base58Error::buffer_too_small());
  EXPECT_EQ(buf, Bytes(32, 0));
  // Leading '1's need room too.
  EXPECT_EQ(base58_decode_into("1" + base58_encode(key), buf).error(),
            Base58Error::buffer_too_small());
  Bytes zero(1);
  EXPECT_EQ(base58_decode_into("11", zero).error(), Base58Error::buffer_too_small());
  Bytes none;
  EXPECT_EQ(base58_decode_into("", none), 0u);
}

TEST(Base58, ErrorsInTextOrderWithTheirTextsAndDebugForms) {
  Bytes big(33, 0xff);
  struct Case {
    std::string input;
    std::size_t area;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {"0", 32, "provided string contained invalid character '0' at byte 0",
       "InvalidCharacter { character: '0', index: 0 }"},
      {"1O", 32, "provided string contained invalid character 'O' at byte 1",
       "InvalidCharacter { character: 'O', index: 1 }"},
      {"2Il", 32, "provided string contained invalid character 'I' at byte 1",
       "InvalidCharacter { character: 'I', index: 1 }"},
      {"abc\x01", 32, "provided string contained invalid character '\\u{1}' at byte 3",
       "InvalidCharacter { character: '\\u{1}', index: 3 }"},
      {"ab'", 32, "provided string contained invalid character '\\'' at byte 2",
       "InvalidCharacter { character: '\\'', index: 2 }"},
      {"a\xc3\xa9", 32, "provided string contained non-ascii character starting at byte 1",
       "NonAsciiCharacter { index: 1 }"},
      {"0\xc3\xa9", 32, "provided string contained invalid character '0' at byte 0",
       "InvalidCharacter { character: '0', index: 0 }"},
      {base58_encode(big) + "0", 32,
       "buffer provided to decode base58 encoded string into was too small", "BufferTooSmall"},
      {base58_encode(big) + "0", 33, "provided string contained invalid character '0' at byte 46",
       "InvalidCharacter { character: '0', index: 46 }"},
  };
  for (const Case& c : cases) {
    Bytes buf(c.area);
    const auto r = base58_decode_into(c.input, buf);
    ASSERT_FALSE(r.has_value()) << c.display;
    const Error& e = r.error();
    EXPECT_EQ(e.display(), c.display);
    EXPECT_EQ(e.debug(), c.debug);
  }
}

// The decoding stops at the first character that makes the value, or its
// leading '1's, too large for the area: nothing after it is looked at, so
// the work is bounded by the area whatever the length of the text.
TEST(Base58, DecodingStopsOnceTheAreaIsExceeded) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t area;
  };
  const Case cases[] = {
      {"leading ones", std::string(33, '1') + "0", 32},
      {"a million leading ones", std::string(1 << 20, '1') + "0", 32},
      {"ones then digits", std::string(20, '1') + std::string(20, 'z') + "0", 32},
      {"digits", std::string(1 << 20, 'z') + "0", 32},
      {"empty area", "10", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes buf(c.area, 0xaa);
    const auto r = base58_decode_into(c.text, buf);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), Base58Error::buffer_too_small());
    EXPECT_EQ(buf, Bytes(c.area, 0));
  }
  // As many leading ones as the area holds are still a value.
  Bytes buf(32);
  EXPECT_EQ(base58_decode_into(std::string(32, '1'), buf), 32u);
  EXPECT_EQ(buf, Bytes(32, 0));
}

// The text bound holds for every length: the largest value of b bytes and b
// zero bytes both fit in base58_max_text_length(b) characters, and a
// decoder told its largest output refuses longer texts before decoding.
TEST(Base58, BoundedDecodingRefusesLongerTextsFirst) {
  EXPECT_EQ(base58_max_text_length(0), 0u);
  EXPECT_EQ(base58_max_text_length(32), 44u);
  EXPECT_EQ(base58_max_text_length(82), 112u);
  for (std::size_t b = 0; b <= 300; ++b) {
    const std::string largest = base58_encode(Bytes(b, 0xff));
    ASSERT_LE(largest.size(), base58_max_text_length(b)) << b;
    ASSERT_EQ(base58_decode(largest, b), Bytes(b, 0xff)) << b;
    ASSERT_EQ(base58_decode(std::string(b, '1'), b), Bytes(b, 0)) << b;
  }
  const std::string over = base58_encode(Bytes(33, 0xff));
  EXPECT_EQ(base58_decode(over, 32).error(), Base58Error::buffer_too_small());
  // The invalid character lies beyond the bound: the text is refused for its
  // length, before any character is read.
  EXPECT_EQ(base58_decode(std::string(45, 'z') + "0", 32).error(), Base58Error::buffer_too_small());
  EXPECT_EQ(base58check_decode(std::string(113, 'z') + "0", std::nullopt, 82).error(),
            Base58Error::buffer_too_small());
  // Within the bound, text order still decides.
  EXPECT_EQ(base58_decode("0" + std::string(40, 'z'), 32).error(), Base58Error::invalid_character('0', 0));
  // Without a bound the text's own length is the area.
  const Bytes long_value(500, 0x7f);
  EXPECT_EQ(base58_decode(base58_encode(long_value)), long_value);
}

TEST(Base58Check, Bip32ExtendedKeysRoundTrip) {
  const auto rows = read_rows("codec_bip32_keys.txt");
  ASSERT_GT(rows.size(), 40u);
  for (const auto& row : rows) {
    const std::string& key = row[1];
    const auto payload = base58check_decode(key);
    if (row[0] == "bad_checksum") {
      ASSERT_FALSE(payload.has_value());
      const Base58Error& e = payload.error();
      EXPECT_EQ(e, Base58Error::invalid_checksum({231, 126, 157, 113}, {231, 126, 157, 91}));
      EXPECT_EQ(e.display(),
                "base58ck checksum [231, 126, 157, 113] did not match expected [231, 126, 157, 91]");
      EXPECT_EQ(e.debug(),
                "InvalidChecksum { checksum: [231, 126, 157, 113], expected_checksum: [231, 126, "
                "157, 91] }");
      continue;
    }
    ASSERT_TRUE(payload.has_value()) << key << ": " << payload.error().display();
    ASSERT_EQ(payload->size(), 78u) << key;
    const std::string version = hex_encode(ByteSpan(*payload).first(4));
    if (key.starts_with("xpub")) {
      EXPECT_EQ(version, "0488b21e") << key;
    } else if (key.starts_with("xprv")) {
      EXPECT_EQ(version, "0488ade4") << key;
    }
    EXPECT_EQ(base58check_encode(*payload), key);
  }
}

TEST(Base58Check, DecodeIntoNeedsRoomForTheChecksum) {
  const std::string xprv =
      "xprv9s21ZrQH143K3QTDL4LXw2F7HEK3wJUD2nW2nRk4stbPy6cq3jPPqjiChkVvvNKmPGJxWUtg6LnF5kejMRNNU3"
      "TGtRBeJgk33yuGBxrMPHi";
  Bytes buf(82);
  ASSERT_EQ(base58check_decode_into(xprv, buf), 78u);
  EXPECT_EQ(hex_encode(ByteSpan(buf).first(4)), "0488ade4");
  Bytes small(81);
  EXPECT_EQ(base58check_decode_into(xprv, small).error(), Base58Error::buffer_too_small());
}

TEST(Base58Check, ShortDataAndVersion) {
  for (const std::string& text :
       std::vector<std::string>{"", "1", "111", base58_encode(Bytes{1, 2, 3})}) {
    const auto r = base58check_decode(text);
    ASSERT_FALSE(r.has_value()) << text;
    EXPECT_EQ(r.error().display(), "base58ck data not long enough to contain checksum");
    EXPECT_EQ(r.error().debug(), "NoChecksum");
  }
  EXPECT_EQ(base58check_decode(base58check_encode({})), Bytes{});

  const std::string text = base58check_encode(Bytes{5, 1, 2, 3});
  EXPECT_EQ(base58check_decode(text, 5), (Bytes{5, 1, 2, 3}));
  const auto wrong = base58check_decode(text, 0);
  ASSERT_FALSE(wrong.has_value());
  EXPECT_EQ(wrong.error().display(), "base58ck version 5 did not match expected 0");
  EXPECT_EQ(wrong.error().debug(), "InvalidVersion { ver: 5, expected_ver: 0 }");
  EXPECT_EQ(Base58Error::buffer_too_small().debug(), "BufferTooSmall");

  // An empty payload has no version byte: refused for every expected
  // version, the first checksum byte's value included.
  const std::string empty = base58check_encode({});
  for (const unsigned version : {0u, 1u, 0x5du, 0xe2u, 0xffu}) {
    const auto r = base58check_decode(empty, static_cast<std::uint8_t>(version));
    ASSERT_FALSE(r.has_value()) << version;
    EXPECT_EQ(r.error().display(), "base58ck data not long enough to contain a version");
    EXPECT_EQ(r.error().debug(), "NoVersion");
    Bytes buf(8);
    EXPECT_EQ(base58check_decode_into(empty, buf, static_cast<std::uint8_t>(version)).error(),
              Base58Error::no_version());
  }
}

}  // namespace
}  // namespace velto::crypto
