#include "velto-ot/popf.hpp"

#include <gtest/gtest.h>

#include <string>

#include "velto-ot/tests/test_util.hpp"

namespace velto::ot {
namespace {

using testing::hex_array;
using testing::read_rows;
using testing::to_hex;

// Against BLAKE3 and RFC 8439 ChaCha20 from independent libraries.
TEST(Popf, MatchesReferenceVectors) {
  int keys = 0;
  int applies = 0;
  for (const auto& row : read_rows("base_ot_hash_vectors.txt")) {
    if (row[0] == "popf_keys") {
      const PopfKeys k = popf_keys(hex_array<32>(row[1]), std::stoull(row[2]));
      EXPECT_EQ(to_hex(k.k0), row[3]) << "i=" << row[2];
      EXPECT_EQ(to_hex(k.k1), row[4]) << "i=" << row[2];
      ++keys;
    } else if (row[0] == "popf_apply") {
      const PopfKeys k{hex_array<32>(row[1]), hex_array<32>(row[2])};
      const auto b = static_cast<std::uint8_t>(std::stoi(row[4]));
      EXPECT_EQ(to_hex(popf_apply(k, hex_array<32>(row[3]), b)), row[5]);
      ++applies;
    }
  }
  EXPECT_EQ(keys, 4);
  EXPECT_EQ(applies, 8);
}

// Programming with a bit and evaluating with the same bit gives the value
// back; the other bit gives something else. Only the low bit of b counts.
TEST(Popf, EvaluatesBackOnlyUnderTheProgrammedBit) {
  const PopfKeys keys = popf_keys(crypto::ByteArray<32>{1, 2, 3}, 5);
  const crypto::ByteArray<32> x = {0xAA, 0xBB, 0xCC};
  for (std::uint8_t b : {0, 1}) {
    const auto programmed = popf_apply(keys, x, b);
    EXPECT_NE(programmed, x);
    EXPECT_EQ(popf_apply(keys, programmed, b), x);
    EXPECT_NE(popf_apply(keys, programmed, static_cast<std::uint8_t>(1 - b)), x);
    EXPECT_EQ(popf_apply(keys, x, static_cast<std::uint8_t>(b + 2)), programmed);
  }
}

TEST(CtSelect32, CopiesOnlyWhenTheLowBitIsSet) {
  const crypto::ByteArray<32> src = {0xFF, 0x01, 0x80};
  const crypto::ByteArray<32> orig = {0x0F, 0x10, 0x20, 0x30};
  struct Case {
    std::uint8_t choice;
    bool copies;
  };
  for (const Case c : {Case{0, false}, Case{1, true}, Case{2, false}, Case{3, true}, Case{0xFE, false}}) {
    crypto::ByteArray<32> dst = orig;
    ct_select32(dst, src, c.choice);
    EXPECT_EQ(dst, c.copies ? src : orig) << "choice " << int(c.choice);
  }
}

}  // namespace
}  // namespace velto::ot
