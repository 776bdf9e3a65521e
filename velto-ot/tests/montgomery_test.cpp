#include "velto-ot/montgomery.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/x25519.hpp"
#include "velto-ot/tests/test_util.hpp"

namespace velto::ot {
namespace {

using testing::hex_array;
using testing::read_rows;
using testing::to_hex;

// Cases from a plain-integer reference that multiplies full affine points of
// the curve (B = 1) or the twist (B = 2): random and edge u values (0, 1,
// -1, p, p + 1, bit 255 set), unclamped scalars including 0, 1, the group
// orders and values with the ignored top bit set.
TEST(MollerLadder, MatchesAffineReference) {
  const auto rows = read_rows("ladder_vectors.txt");
  ASSERT_GE(rows.size(), 60u);
  int curve = 0;
  int twist = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 4u);
    const auto u = hex_array<32>(row[0]);
    const auto k = hex_array<32>(row[1]);
    EXPECT_EQ(to_hex(moller_ladder(u, k)), row[2]) << "u=" << row[0] << " k=" << row[1];
    (row[3] == "curve" ? curve : twist) += 1;
  }
  EXPECT_GT(curve, 10);
  EXPECT_GT(twist, 10);
}

// The batch form shares one inversion; results at infinity (k = 0, u = 0,
// group orders) sit among ordinary ones and must not disturb them.
TEST(MollerLadder, BatchEqualsSingleLadders) {
  const auto rows = read_rows("ladder_vectors.txt");
  std::vector<crypto::ByteArray<32>> us;
  std::vector<crypto::ByteArray<32>> ks;
  int zeros = 0;
  for (const auto& row : rows) {
    us.push_back(hex_array<32>(row[0]));
    ks.push_back(hex_array<32>(row[1]));
    zeros += row[2] == std::string(64, '0');
  }
  ASSERT_GT(zeros, 3);
  std::vector<crypto::ByteArray<32>> out(us.size());
  moller_ladder_batch(us, ks, out);
  for (std::size_t j = 0; j < rows.size(); ++j) EXPECT_EQ(to_hex(out[j]), rows[j][2]) << "case " << j;

  // One scalar for the whole batch.
  moller_ladder_batch(us, std::span(ks).first(1), out);
  for (std::size_t j = 0; j < us.size(); ++j) EXPECT_EQ(out[j], moller_ladder(us[j], ks[0])) << "case " << j;
}

// X25519 is this ladder with the scalar clamped and read little-endian.
TEST(MollerLadder, EqualsX25519ForClampedScalars) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{42});
  crypto::ByteArray<32> u = {9};
  for (int n = 0; n < 64; ++n) {
    crypto::ByteArray<32> priv;
    rng.fill_bytes(priv);
    crypto::ByteArray<32> k = priv;
    k[0] &= 248;
    k[31] &= 127;
    k[31] |= 64;
    std::reverse(k.begin(), k.end());
    const auto expected = crypto::x25519(priv, u);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(moller_ladder(u, k), *expected) << "round " << n;
    u = *expected;  // walk through curve points of all kinds
  }
}

// The Edwards-image test against the reference, which decides by the
// quadratic character of u^3 + A u^2 + u (and refuses u = -1).
TEST(HasEdwardsImage, SeparatesCurveFromTwist) {
  const auto rows = read_rows("curve_twist_vectors.txt");
  ASSERT_GE(rows.size(), 40u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 2u);
    EXPECT_EQ(has_edwards_image(hex_array<32>(row[0])), row[1] == "1") << row[0];
  }
}

// The multiples of the two base points stay in their groups: what the
// receiver's check of the sender's message relies on.
TEST(HasEdwardsImage, BasePointMultiplesStayInTheirGroup) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{7});
  EXPECT_TRUE(has_edwards_image(kCurveBasePoint));
  EXPECT_FALSE(has_edwards_image(kTwistBasePoint));
  for (int n = 0; n < 16; ++n) {
    crypto::ByteArray<32> k;
    rng.fill_bytes(k);
    EXPECT_TRUE(has_edwards_image(moller_ladder(kCurveBasePoint, k)));
    EXPECT_FALSE(has_edwards_image(moller_ladder(kTwistBasePoint, k)));
  }
}

}  // namespace
}  // namespace velto::ot
