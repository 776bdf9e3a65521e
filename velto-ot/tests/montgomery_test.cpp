#include "velto-ot/montgomery.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/x25519.hpp"
#include "velto-ot/tests/test_util.hpp"

#ifdef VELTO_HAVE_VALGRIND
#include <valgrind/memcheck.h>
#endif

namespace velto::ot {
namespace {

using testing::hex_array;
using testing::read_rows;
using testing::to_hex;
using Points = std::vector<crypto::ByteArray<32>>;

Points random_values(crypto::ChaCha8Rng& rng, std::size_t n) {
  Points v(n);
  for (auto& x : v) rng.fill_bytes(x);
  return v;
}

// libsodium's scalar for a little-endian private key: clamped, then read
// big-endian as moller_ladder reads its scalars.
crypto::ByteArray<32> clamped_big_endian(crypto::ByteArray<32> priv) {
  priv[0] &= 248;
  priv[31] &= 127;
  priv[31] |= 64;
  std::reverse(priv.begin(), priv.end());
  return priv;
}

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

// Every batch kernel against the single ladder, which the reference above
// pins down. Kernels this CPU lacks are skipped; the portable one always runs.
class LadderKernelTest : public ::testing::TestWithParam<LadderKernel> {
 protected:
  void SetUp() override {
    if (!ladder_kernel_available(GetParam())) GTEST_SKIP() << "this CPU lacks the kernel";
  }

  Points batch(const Points& u, std::span<const crypto::ByteArray<32>> k) const {
    Points out(u.size());
    moller_ladder_batch(GetParam(), u, k, out);
    return out;
  }
};

INSTANTIATE_TEST_SUITE_P(Kernels, LadderKernelTest, ::testing::Values(LadderKernel::portable, LadderKernel::ifma),
                         [](const ::testing::TestParamInfo<LadderKernel>& p) { return p.param == LadderKernel::ifma ? "ifma" : "portable"; });

// The reference cases in one batch: results at infinity (k = 0, u = 0,
// group orders) sit among ordinary ones and must not disturb them.
TEST_P(LadderKernelTest, MatchesAffineReference) {
  const auto rows = read_rows("ladder_vectors.txt");
  Points us;
  Points ks;
  int zeros = 0;
  for (const auto& row : rows) {
    us.push_back(hex_array<32>(row[0]));
    ks.push_back(hex_array<32>(row[1]));
    zeros += row[2] == std::string(64, '0');
  }
  ASSERT_GT(zeros, 3);
  const Points out = batch(us, ks);
  for (std::size_t j = 0; j < rows.size(); ++j) EXPECT_EQ(to_hex(out[j]), rows[j][2]) << "case " << j;

  // One scalar for the whole batch.
  const Points shared = batch(us, std::span(ks).first(1));
  for (std::size_t j = 0; j < us.size(); ++j) EXPECT_EQ(shared[j], moller_ladder(us[j], ks[0])) << "case " << j;
}

// Edge scalars times small-order and out-of-range points, on the curve and
// the twist, shifted through every lane position.
TEST_P(LadderKernelTest, EdgeCasesInEveryLane) {
  const std::vector<std::string> edge_u = {
      "0000000000000000000000000000000000000000000000000000000000000000",  // 0, order 2
      "0100000000000000000000000000000000000000000000000000000000000000",  // 1, order 4
      "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // -1, twist
      "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",  // order 8
      "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",  // order 8
      "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p
      "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p + 1
      "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",  // bit 255 set
      "0600000000000000000000000000000000000000000000000000000000000000",  // curve base
      "0300000000000000000000000000000000000000000000000000000000000000",  // twist base
  };
  const std::vector<std::string> edge_k = {
      "0000000000000000000000000000000000000000000000000000000000000000",  // 0
      "0000000000000000000000000000000000000000000000000000000000000001",  // 1
      "0000000000000000000000000000000000000000000000000000000000000002",
      "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ec",  // l - 1
      "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed",  // l
      "80000000000000000000000000000000a6f7cef517bce6b2c09318d2e7ae9f67",  // 8 l - 1
      "7fffffffffffffffffffffffffffffff5908310ae843194d3f6ce72d18516073",  // twist order - 1
      "7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",  // all ones
      "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",  // top bit ignored
      "4000000000000000000000000000000000000000000000000000000000000000",
  };
  Points us;
  Points ks;
  for (const auto& u : edge_u) {
    for (const auto& k : edge_k) {
      us.push_back(hex_array<32>(u));
      ks.push_back(hex_array<32>(k));
    }
  }
  Points expected(us.size());
  for (std::size_t j = 0; j < us.size(); ++j) expected[j] = moller_ladder(us[j], ks[j]);

  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{11});
  for (std::size_t shift = 0; shift < 8; ++shift) {
    // `shift` random cases in front move every edge case one lane on.
    Points u = random_values(rng, shift);
    Points k = random_values(rng, shift);
    u.insert(u.end(), us.begin(), us.end());
    k.insert(k.end(), ks.begin(), ks.end());
    const Points out = batch(u, k);
    for (std::size_t j = 0; j < us.size(); ++j) {
      EXPECT_EQ(out[shift + j], expected[j]) << "shift " << shift << " u=" << edge_u[j / edge_k.size()]
                                             << " k=" << edge_k[j % edge_k.size()];
    }
  }
}

// Random points (about half on the twist) and unclamped scalars, in batches
// of every size up to 257, each taken from a different place of the pool so
// that every case meets several lane positions; some sizes also with one
// scalar for all.
TEST_P(LadderKernelTest, RandomBatchesOfEverySize) {
  constexpr std::size_t kPool = 263;  // prime: the windows start everywhere
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{12});
  const Points us = random_values(rng, kPool);
  const Points ks = random_values(rng, kPool);
  Points expected(kPool);
  Points expected_k0(kPool);
  for (std::size_t j = 0; j < kPool; ++j) {
    expected[j] = moller_ladder(us[j], ks[j]);
    expected_k0[j] = moller_ladder(us[j], ks[0]);
  }
  const std::vector<std::size_t> shared_sizes = {1, 2, 7, 8, 9, 15, 16, 17, 128, 255, 256, 257};
  for (std::size_t n = 1; n <= 257; ++n) {
    const std::size_t start = (n * 37) % kPool;
    Points u(n);
    Points k(n);
    for (std::size_t j = 0; j < n; ++j) {
      u[j] = us[(start + j) % kPool];
      k[j] = ks[(start + j) % kPool];
    }
    const Points out = batch(u, k);
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_EQ(out[j], expected[(start + j) % kPool]) << "size " << n << " position " << j;
    }
    if (std::find(shared_sizes.begin(), shared_sizes.end(), n) == shared_sizes.end()) continue;
    const Points out_k0 = batch(u, std::span(ks).first(1));
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_EQ(out_k0[j], expected_k0[(start + j) % kPool]) << "one scalar, size " << n << " position " << j;
    }
  }
}

// libsodium as an independent oracle: X25519 is the ladder with the scalar
// clamped; random u values land on the curve and the twist alike.
TEST_P(LadderKernelTest, EqualsLibsodiumOnCurveAndTwist) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{13});
  const Points privs = random_values(rng, 100);
  const Points us = random_values(rng, 100);
  Points ks;
  for (const auto& priv : privs) ks.push_back(clamped_big_endian(priv));
  const Points out = batch(us, ks);
  int twist = 0;
  for (std::size_t j = 0; j < us.size(); ++j) {
    const auto expected = crypto::x25519(privs[j], us[j]);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(out[j], *expected) << "case " << j;
    twist += has_edwards_image(us[j]) ? 0 : 1;
  }
  EXPECT_GT(twist, 20);
  EXPECT_LT(twist, 80);
}

TEST(LadderKernel, ChosenOncePreferringIfma) {
  EXPECT_TRUE(ladder_kernel_available(LadderKernel::portable));
  const LadderKernel chosen = ladder_kernel();
  EXPECT_EQ(chosen, ladder_kernel_available(LadderKernel::ifma) ? LadderKernel::ifma : LadderKernel::portable);
  EXPECT_EQ(ladder_kernel(), chosen);
}

// Run under valgrind (the ctest entry velto_ot_ladder_constant_time), the
// secrets are marked undefined: memcheck then reports every branch and every
// memory address that depends on them, in the single ladder and in the
// batch with its shared inversion. Valgrind has no AVX-512, so there the
// portable kernel is what runs; the IFMA kernel has the same structure (the
// scalar bits only ever become lane masks).
TEST(MollerLadderConstantTime, NoBranchOrAddressDependsOnSecrets) {
#ifdef VELTO_HAVE_VALGRIND
  if (!RUNNING_ON_VALGRIND) GTEST_SKIP() << "meaningful only under valgrind";
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{14});
  Points us = random_values(rng, 9);
  Points ks = random_values(rng, 9);
  us[3] = Points::value_type{};  // a result at infinity among the others
  ks[5] = Points::value_type{};
  Points expected(us.size());
  Points expected_shared(us.size());
  for (std::size_t j = 0; j < us.size(); ++j) {
    expected[j] = moller_ladder(us[j], ks[j]);
    expected_shared[j] = moller_ladder(us[j], ks[0]);
  }

  const auto mark_secret = [](Points& v) { VALGRIND_MAKE_MEM_UNDEFINED(v.data(), v.size() * 32); };
  const auto declassify = [](Points& v) { VALGRIND_MAKE_MEM_DEFINED(v.data(), v.size() * 32); };
  mark_secret(us);
  mark_secret(ks);
  Points single(us.size());
  for (std::size_t j = 0; j < us.size(); ++j) single[j] = moller_ladder(us[j], ks[j]);
  Points out(us.size());
  moller_ladder_batch(ladder_kernel(), us, ks, out);
  Points shared(us.size());
  moller_ladder_batch(ladder_kernel(), us, std::span(ks).first(1), shared);
  declassify(single);
  declassify(out);
  declassify(shared);
  EXPECT_EQ(VALGRIND_COUNT_ERRORS, 0u);
  EXPECT_EQ(single, expected);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(shared, expected_shared);
#else
  GTEST_SKIP() << "built without valgrind's headers";
#endif
}

// X25519 is this ladder with the scalar clamped and read little-endian.
TEST(MollerLadder, EqualsX25519ForClampedScalars) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{42});
  crypto::ByteArray<32> u = {9};
  for (int n = 0; n < 64; ++n) {
    crypto::ByteArray<32> priv;
    rng.fill_bytes(priv);
    const crypto::ByteArray<32> k = clamped_big_endian(priv);
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
