#include "velto-ote/bitvec.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/error.hpp"

namespace velto::ote {
namespace {

crypto::ChaCha20Rng test_rng(std::uint8_t seed) {
  crypto::ByteArray<32> s{};
  s[0] = seed;
  return crypto::ChaCha20Rng(s);
}

struct LengthCase {
  std::size_t length;
  bool gf4;  // a GF(4) vector (elements) instead of a bit vector (bits)
  bool valid;
  std::size_t words;
};

TEST(VectorsTest, ZeroedLengths) {
  const LengthCase cases[] = {
      {0, false, true, 0},  {64, false, true, 1},  {640, false, true, 10}, {65, false, false, 0},
      {32, false, false, 0}, {0, true, true, 0},   {32, true, true, 1},    {640, true, true, 20},
      {33, true, false, 0},  {48, true, false, 0},
  };
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.length << (c.gf4 ? " elements" : " bits"));
    if (!c.valid) {
      if (c.gf4) {
        EXPECT_THROW(bitvec_zeroed_2bit(c.length), Panic);
      } else {
        EXPECT_THROW(bitvec_zeroed(c.length), Panic);
      }
      continue;
    }
    std::vector<std::uint64_t> words;
    if (c.gf4) {
      const Gf4Vec v = bitvec_zeroed_2bit(c.length);
      words.assign(v.words().begin(), v.words().end());
    } else {
      const BitVec v = bitvec_zeroed(c.length);
      words.assign(v.words().begin(), v.words().end());
    }
    EXPECT_EQ(words, std::vector<std::uint64_t>(c.words, 0));
  }
}

TEST(VectorsTest, ElementAndBitLayout) {
  BitVec b = bitvec_zeroed(128);
  b.words()[1] = 0x8000000000000001ull;
  EXPECT_TRUE(b.bit(64));
  EXPECT_TRUE(b.bit(127));
  EXPECT_FALSE(b.bit(63));

  Gf4Vec v = bitvec_zeroed_2bit(64);
  // Element 33: bits 2 and 3 of word 1.
  v.words()[1] = 0b1100ull | (0b01ull << 62);
  EXPECT_EQ(v.element(33), 3u);
  EXPECT_EQ(v.element(63), 1u);
  EXPECT_EQ(v.element(32), 0u);

  v.truncate(32);
  EXPECT_EQ(v.elements(), 32u);
  EXPECT_THROW(v.truncate(16), Panic);
}

TEST(VectorsTest, InterleavedPlanesMatchElementwise) {
  auto rng = test_rng(1);
  for (int round = 0; round < 32; ++round) {
    const std::uint64_t p0 = rng.next_u64();
    const std::uint64_t p1 = rng.next_u64();
    const auto w = interleave_planes(p0, p1);
    for (unsigned e = 0; e < 64; ++e) {
      const unsigned expected = static_cast<unsigned>(((p0 >> e) & 1) | (((p1 >> e) & 1) << 1));
      const unsigned got = static_cast<unsigned>((w[e / 32] >> (2 * (e % 32))) & 3u);
      ASSERT_EQ(got, expected) << "element " << e;
    }
    EXPECT_EQ(compact_bits(w[0]) | (std::uint64_t{compact_bits(w[1])} << 32), p0);
    EXPECT_EQ(compact_bits(w[0] >> 1) | (std::uint64_t{compact_bits(w[1] >> 1)} << 32), p1);
  }
}

unsigned element_of(const std::array<std::uint64_t, 128>& block, std::size_t row, std::size_t e) {
  return static_cast<unsigned>((block[2 * row + e / 32] >> (2 * (e % 32))) & 3u);
}

TEST(VectorsTest, TransposeMovesEveryElementAndIsAnInvolution) {
  auto rng = test_rng(2);
  std::array<std::uint64_t, 128> original;
  for (auto& w : original) w = rng.next_u64();
  std::array<std::uint64_t, 128> t = original;
  gf4_transpose_64(t);
  for (std::size_t r = 0; r < 64; ++r) {
    for (std::size_t c = 0; c < 64; ++c) {
      ASSERT_EQ(element_of(t, r, c), element_of(original, c, r)) << "row " << r << " element " << c;
    }
  }
  gf4_transpose_64(t);
  EXPECT_EQ(t, original);
}

TEST(VectorsTest, RowIteratorYieldsLaneTOfEveryColumn) {
  auto rng = test_rng(3);
  std::vector<Gf4Vec> columns;
  for (int c = 0; c < 64; ++c) {
    columns.push_back(bitvec_zeroed_2bit(192));
    for (auto& w : columns.back().words()) w = rng.next_u64();
  }
  Gf4RowIter it(columns);
  for (std::size_t j = 0; j < 192; ++j) {
    const std::optional<crypto::Gf128> row = it.next();
    ASSERT_TRUE(row.has_value()) << "row " << j;
    for (std::size_t t = 0; t < 64; ++t) {
      const std::uint64_t word = t < 32 ? row->lo : row->hi;
      ASSERT_EQ((word >> (2 * (t % 32))) & 3u, columns[t].element(j)) << "row " << j << " column " << t;
    }
  }
  EXPECT_FALSE(it.next().has_value());
}

TEST(VectorsTest, RowIteratorRefusesMismatchedColumns) {
  std::vector<Gf4Vec> odd;
  for (int c = 0; c < 64; ++c) odd.push_back(bitvec_zeroed_2bit(32));  // one word each
  EXPECT_THROW(Gf4RowIter{odd}, Panic);

  std::vector<Gf4Vec> uneven;
  for (int c = 0; c < 64; ++c) uneven.push_back(bitvec_zeroed_2bit(c == 9 ? 128 : 64));
  EXPECT_THROW(Gf4RowIter{uneven}, Panic);

  std::vector<Gf4Vec> short_list(63);
  EXPECT_THROW(Gf4RowIter{short_list}, Panic);
}

}  // namespace
}  // namespace velto::ote
