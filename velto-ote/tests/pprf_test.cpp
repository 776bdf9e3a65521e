#include "velto-ote/pprf.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "crypto/error.hpp"
#include "velto-ote/prg.hpp"
#include "velto-ote/tests/ote_test_util.hpp"

namespace velto::ote {
namespace {

using test_util::BaseOtBatch;
using test_util::make_batch;
using test_util::make_pair;
using test_util::to_bytes;
using test_util::vec;

TEST(PprfTest, BothSidesMatchReferenceValues) {
  const test_util::PprfPair p = make_pair(test_util::reference_batch());
  EXPECT_EQ(to_bytes(p.message.bytes()), vec("pprf_message"));
  EXPECT_EQ(to_bytes(p.full.bytes()), vec("full_trees"));
  EXPECT_EQ(to_bytes(p.punctured.bytes()), vec("punctured_trees"));
}

TEST(PprfTest, SizesOfMessageAndRecords) {
  const test_util::PprfPair p = make_pair(make_batch(1));
  EXPECT_EQ(p.message.bytes().size(), 10240u);
  EXPECT_EQ(p.full.bytes().size(), 8224u);
  EXPECT_EQ(p.punctured.bytes().size(), 12384u);
}

// Every punctured position occurs; honest hashes agree; the punctured slot
// is zero and the other three leaves are the full side's.
TEST(PprfTest, PuncturedTreesAgreeWithFullTrees) {
  std::array<int, 4> seen{};
  for (std::uint8_t seed = 1; seed <= 3; ++seed) {
    const BaseOtBatch b = make_batch(seed);
    const test_util::PprfPair p = make_pair(b);
    EXPECT_TRUE(p.punctured.hashes_match());
    EXPECT_EQ(p.punctured.key(), b.key);
    EXPECT_EQ(p.full.key(), b.key);
    for (std::size_t t = 0; t < kPprfTrees; ++t) {
      const std::uint8_t c = b.choice(t);
      const std::uint8_t d = b.choice(t + 64);
      const std::uint8_t pt = p.punctured.punctured_index(t);
      ASSERT_EQ(pt, 2 * (1 - c) + (1 - d));
      ++seen[pt];
      EXPECT_EQ(to_bytes(p.punctured.received_hash(t)), to_bytes(p.punctured.computed_hash(t)));
      for (std::size_t x = 0; x < 4; ++x) {
        if (x == pt) {
          EXPECT_EQ(to_bytes(p.punctured.leaf(t, x)), crypto::Bytes(32, 0));
        } else {
          EXPECT_EQ(to_bytes(p.punctured.leaf(t, x)), to_bytes(p.full.leaf(t, x)));
        }
      }
    }
  }
  for (int x = 0; x < 4; ++x) EXPECT_GT(seen[x], 0) << "punctured index " << x;
}

TEST(PprfTest, PuncturedIndexFromChoiceBits) {
  struct Case {
    std::uint8_t c, d, p;
  };
  for (const Case k : {Case{1, 0, 1}, Case{0, 0, 3}, Case{0, 1, 2}, Case{1, 1, 0}}) {
    std::array<std::uint8_t, kBaseOtCount> choices{};
    choices[5] = k.c;
    choices[5 + 64] = k.d;
    const test_util::PprfPair p = make_pair(make_batch(9, choices));
    EXPECT_EQ(p.punctured.punctured_index(5), k.p);
    EXPECT_EQ(to_bytes(p.punctured.leaf(5, k.p)), crypto::Bytes(32, 0));
    EXPECT_TRUE(p.punctured.hashes_match());
  }
}

PuncturedPprfTrees rebuild_with(const BaseOtBatch& b, const PprfSetupMessage& m, std::size_t offset) {
  crypto::Bytes bytes = to_bytes(m.bytes());
  bytes[offset] ^= 0x01;
  auto tampered = decode_pprf_setup_message(bytes);
  return build_punctured_pprf_trees(b.receiver.span(), b.key, *tampered);
}

// Which trees' recomputed hashes and leaves move when one byte of the
// message changes.
TEST(PprfTest, TamperedMessageMovesOnlyItsTree) {
  const BaseOtBatch b = make_batch(4);
  const test_util::PprfPair honest = make_pair(b);
  const std::size_t t = 17;
  const std::uint8_t d = b.choice(t + 64);
  const std::uint8_t pt = honest.punctured.punctured_index(t);

  struct Case {
    const char* name;
    std::size_t offset;
    bool moves_tree;
    bool moves_leaf;  // the leaf recovered through the correction
    bool hashes_match;
  };
  const Case cases[] = {
      {"sum A", 6144 + 64 * t + 3, true, false, false},
      {"sum B", 6144 + 64 * t + 32 + 3, true, false, false},
      {"used half of the correction", 2048 + 64 * t + 32 * d + 5, true, true, false},
      {"unused half of the correction", 2048 + 64 * t + 32 * (1 - d) + 5, false, false, true},
      {"received hash", 32 * t, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PuncturedPprfTrees p = rebuild_with(b, honest.message, c.offset);
    for (std::size_t u = 0; u < kPprfTrees; ++u) {
      const bool same = to_bytes(p.computed_hash(u)) == to_bytes(honest.punctured.computed_hash(u));
      EXPECT_EQ(same, u != t || !c.moves_tree) << "tree " << u;
    }
    const std::size_t recovered = 2 * (pt >> 1) + d;  // high bit 1 - c, low bit d
    EXPECT_EQ(to_bytes(p.leaf(t, recovered)) == to_bytes(honest.punctured.leaf(t, recovered)), !c.moves_leaf);
    // The received hashes are kept as sent: a changed hash shows up as a
    // mismatch, and so does any tree that moved.
    EXPECT_EQ(p.hashes_match(), c.hashes_match);
  }
}

TEST(PprfTest, MessageDecodingNeedsAllBytes) {
  const test_util::PprfPair p = make_pair(make_batch(5));
  crypto::Bytes bytes = to_bytes(p.message.bytes());
  auto short_msg = decode_pprf_setup_message(crypto::ByteSpan(bytes).first(10239));
  ASSERT_FALSE(short_msg.has_value());
  EXPECT_EQ(short_msg.error().kind(), sised::SisedError::Kind::OutOfBounds);

  bytes.resize(10300, 0xEE);
  auto long_msg = decode_pprf_setup_message(bytes);
  ASSERT_TRUE(long_msg.has_value());
  EXPECT_EQ(to_bytes(long_msg->bytes()), to_bytes(p.message.bytes()));
}

TEST(PprfTest, RecordsRoundTripAndRefuseBadBytes) {
  const test_util::PprfPair p = make_pair(make_batch(6));
  auto full = FullPprfTrees::from_bytes(p.full.bytes());
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(to_bytes(full->bytes()), to_bytes(p.full.bytes()));
  auto punct = PuncturedPprfTrees::from_bytes(p.punctured.bytes());
  ASSERT_TRUE(punct.has_value());
  EXPECT_EQ(to_bytes(punct->bytes()), to_bytes(p.punctured.bytes()));

  EXPECT_FALSE(FullPprfTrees::from_bytes(p.full.bytes().first(8223)).has_value());
  EXPECT_FALSE(PuncturedPprfTrees::from_bytes(p.punctured.bytes().first(12383)).has_value());
  crypto::Bytes bad = to_bytes(p.punctured.bytes());
  bad[4096 + 129 * 3 + 128] = 4;
  EXPECT_FALSE(PuncturedPprfTrees::from_bytes(bad).has_value());
}

TEST(PprfTest, DeltaHoldsThePuncturedIndices) {
  const test_util::PprfPair p = make_pair(make_batch(7));
  const crypto::Gf128 delta = p.punctured.delta();
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint64_t word = t < 32 ? delta.lo : delta.hi;
    EXPECT_EQ((word >> (2 * (t % 32))) & 3u, p.punctured.punctured_index(t)) << "tree " << t;
  }
}

// The punctured side's VOLE is the full side's shifted by p * u.
TEST(PprfTest, SmallFieldVoleCorrelation) {
  const test_util::PprfPair p = make_pair(make_batch(8));
  crypto::ByteArray<32> tag{};
  tag[31] = 0x42;
  std::vector<BitVec> u;
  std::vector<Gf4Vec> v;
  std::vector<Gf4Vec> w;
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    u.push_back(bitvec_zeroed(256));
    v.push_back(bitvec_zeroed_2bit(256));
    w.push_back(bitvec_zeroed_2bit(256));
  }
  full_trees_vole(p.full, tag, u, v);
  punctured_trees_vole(p.punctured, tag, w);
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const unsigned pt = p.punctured.punctured_index(t);
    for (std::size_t j = 0; j < 256; ++j) {
      ASSERT_EQ(w[t].element(j), v[t].element(j) ^ (u[t].bit(j) ? pt : 0u)) << "tree " << t << " row " << j;
    }
  }
  // u_t is the XOR of the expansions of the four leaves.
  std::vector<std::uint64_t> r(4);
  std::uint64_t x = 0;
  for (std::size_t leaf = 0; leaf < 4; ++leaf) {
    ote_vole_prg(tag, p.full.leaf(9, leaf), std::span(r).subspan(leaf, 1));
    x ^= r[leaf];
  }
  EXPECT_EQ(u[9].words()[0], x);
}

TEST(PprfTest, ShortBaseOtBatchIsABug) {
  const BaseOtBatch b = make_batch(10);
  EXPECT_THROW(build_full_pprf_trees(b.sender.span().first(64 * 127), b.key), Panic);
  const test_util::PprfPair p = make_pair(b);
  EXPECT_THROW(build_punctured_pprf_trees(b.receiver.span().first(33 * 128 - 1), b.key, p.message), Panic);
}

}  // namespace
}  // namespace velto::ote
