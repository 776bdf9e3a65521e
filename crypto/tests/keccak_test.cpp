#include "crypto/keccak.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace velto::crypto {
namespace {

Bytes from_hex(std::string_view hex) {
  const auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
  };
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return out;
}

Bytes to_bytes(ByteSpan s) { return Bytes(s.begin(), s.end()); }

TEST(KeccakF1600, PermutationOfZeroStateMatchesReferenceValues) {
  // The Keccak team's intermediate values for Keccak-f[1600]: the zero state
  // after one and after two applications, lanes in order x + 5y.
  const KeccakState once = {
      0xF1258F7940E1DDE7, 0x84D5CCF933C0478A, 0xD598261EA65AA9EE, 0xBD1547306F80494D,
      0x8B284E056253D057, 0xFF97A42D7F8E6FD4, 0x90FEE5A0A44647C4, 0x8C5BDA0CD6192E76,
      0xAD30A6F71B19059C, 0x30935AB7D08FFC64, 0xEB5AA93F2317D635, 0xA9A6E6260D712103,
      0x81A57C16DBCF555F, 0x43B831CD0347C826, 0x01F22F1A11A5569F, 0x05E5635A21D9AE61,
      0x64BEFEF28CC970F2, 0x613670957BC46611, 0xB87C5A554FD00ECB, 0x8C3EE88A1CCF32C8,
      0x940C7922AE3A2614, 0x1841F924A2C509E4, 0x16F53526E70465C2, 0x75F644E97F30A13B,
      0xEAF1FF7B5CECA249,
  };
  const KeccakState twice = {
      0x2D5C954DF96ECB3C, 0x6A332CD07057B56D, 0x093D8D1270D76B6C, 0x8A20D9B25569D094,
      0x4F9C4F99E5E7F156, 0xF957B9A2DA65FB38, 0x85773DAE1275AF0D, 0xFAF4F247C3D810F7,
      0x1F1B9EE6F79A8759, 0xE4FECC0FEE98B425, 0x68CE61B6B9CE68A1, 0xDEEA66C4BA8F974F,
      0x33C43D836EAFB1F5, 0xE00654042719DBD9, 0x7CF8A9F009831265, 0xFD5449A6BF174743,
      0x97DDAD33D8994B40, 0x48EAD5FC5D0BE774, 0xE3B8C8EE55B7B03C, 0x91A0226E649E42E9,
      0x900E3129E7BADD7B, 0x202A9EC5FAA3CCE8, 0x5B3402464E1C3DB6, 0x609F4E62A44C1059,
      0x20D06CD26A8FBF5C,
  };
  KeccakState s{};
  keccak_f1600(s);
  EXPECT_EQ(s, once);
  keccak_f1600(s);
  EXPECT_EQ(s, twice);
}

TEST(Keccak256, PublishedAnswers) {
  struct Case {
    std::string msg;
    const char* digest;
  };
  // Keccak-256 with domain byte 0x01; the empty-string answer differs from
  // SHA3-256's a7ffc6f8...
  const Case cases[] = {
      {"", "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470"},
      {"abc", "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45"},
      {"hello world", "47173285a8d7341e5e972fc677286384f802f8ef42a5ec5f03bbfa254cb01fad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "45d3b367a6904e6e8d502ee04999a7c27647f91fa845d456525fd352ae3d7371"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopq"
       "rlmnopqrsmnopqrstnopqrstu",
       "f519747ed599024f3882238e5ab43960132572b7345fbeb9a90769dafd21ad67"},
      {std::string(1000000, 'a'),
       "fadae6b49f129bbb812be8407b7b2894f34aecf6dbd1f9b0f0c7e9853098fc96"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msg.substr(0, 16));
    EXPECT_EQ(to_bytes(keccak256(as_bytes(c.msg))), from_hex(c.digest));
  }
}

struct GeneratedCase {
  std::size_t len;
  Bytes digest;
};

std::vector<GeneratedCase> load_generated() {
  std::ifstream in(VELTO_TESTDATA_DIR "/keccak256_vectors.txt");
  EXPECT_TRUE(in.good()) << "missing keccak256_vectors.txt";
  std::vector<GeneratedCase> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::size_t len = 0;
    std::string hex;
    fields >> len >> hex;
    out.push_back({len, from_hex(hex)});
  }
  return out;
}

// Inputs of every length up to 300 bytes (so every position of the padding
// within the 136-byte block, including 135 where 0x01 and 0x80 share a byte
// and 136 which needs a padding-only block) and a few long ones, one-shot
// and fed in pieces that do and do not line up with the rate.
TEST(Keccak256, MatchesPycryptodomeForManyLengthsAndSplits) {
  const auto cases = load_generated();
  ASSERT_GT(cases.size(), 300u);
  const std::vector<std::size_t> piece_sizes = {1, 7, 135, 136, 137};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.len);
    Bytes msg(c.len);
    for (std::size_t i = 0; i < c.len; ++i) msg[i] = static_cast<std::uint8_t>(i % 251);
    EXPECT_EQ(to_bytes(keccak256(msg)), c.digest);
    for (const std::size_t piece : piece_sizes) {
      Keccak256 h;
      for (std::size_t at = 0; at < msg.size(); at += piece) {
        h.update(ByteSpan(msg).subspan(at, std::min(piece, msg.size() - at)));
      }
      EXPECT_EQ(to_bytes(h.finalize()), c.digest) << "pieces of " << piece;
    }
  }
}

TEST(Keccak256, FinalizeLeavesStateUsable) {
  Bytes msg(300);
  for (std::size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<std::uint8_t>(i * 13);
  const ByteSpan all(msg);
  Keccak256 h;
  h.update(all.first(136));
  EXPECT_EQ(h.finalize(), keccak256(all.first(136)));
  h.update(all.subspan(136));
  EXPECT_EQ(h.finalize(), keccak256(all));
}

}  // namespace
}  // namespace velto::crypto
