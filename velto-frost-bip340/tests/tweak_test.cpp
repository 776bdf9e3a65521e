// The key tweak against libsecp256k1's x-only tweak-add (x and parity of the
// tweaked key, and the tweaked secret of a one-party key against the key
// pair tweak), for keys of both y parities; refusals of a tweak of n or more
// and of a tweak that makes the key the point at infinity.
#include "velto-frost-bip340/tweak.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "velto-frost-bip340/tests/bip340_test_util.hpp"

namespace velto::bip340::testing {
namespace {

using crypto::ByteArray;
using crypto::Point;
using crypto::Scalar;

// libsecp256k1's x-only tweak-add on the key: the compressed result, or
// nothing when it refuses.
std::optional<ByteArray<33>> libsecp_tweak(const Point& key, const ByteArray<32>& tweak) {
  secp256k1_xonly_pubkey xonly;
  const ByteArray<32> x = key.x_bytes();
  if (secp256k1_xonly_pubkey_parse(oracle_ctx(), &xonly, x.data()) != 1) return std::nullopt;
  secp256k1_pubkey out;
  if (secp256k1_xonly_pubkey_tweak_add(oracle_ctx(), &out, &xonly, tweak.data()) != 1) return std::nullopt;
  ByteArray<33> ser{};
  std::size_t len = ser.size();
  secp256k1_ec_pubkey_serialize(oracle_ctx(), ser.data(), &len, &out, SECP256K1_EC_COMPRESSED);
  return ser;
}

// libsecp256k1's key-pair tweak: the tweaked secret of a one-party key.
std::optional<ByteArray<32>> libsecp_tweak_secret(const Scalar& secret, const ByteArray<32>& tweak) {
  secp256k1_context* ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
  const ByteArray<32> sk = secret.to_bytes();
  secp256k1_keypair pair;
  std::optional<ByteArray<32>> out;
  if (secp256k1_keypair_create(ctx, &pair, sk.data()) == 1 &&
      secp256k1_keypair_xonly_tweak_add(ctx, &pair, tweak.data()) == 1) {
    ByteArray<32> tweaked{};
    if (secp256k1_keypair_sec(ctx, tweaked.data(), &pair) == 1) out = tweaked;
  }
  secp256k1_context_destroy(ctx);
  return out;
}

Bip340KeyShare one_party(const Scalar& secret) {
  return Bip340KeyShare{secret, ByteArray<32>{7}, Point::base_mul(secret), pid(1), 1, 1};
}

TEST(Bip340Tweak, MatchesLibsecpForBothParities) {
  crypto::OsRng rng;
  for (const bool even : {true, false}) {
    const Scalar secret = secret_with_parity(even);
    const Bip340KeyShare share = one_party(secret);
    std::vector<ByteArray<32>> tweaks = {ByteArray<32>{}, Scalar::one().to_bytes(), (-Scalar::one()).to_bytes()};
    for (int i = 0; i < 8; ++i) tweaks.push_back(Scalar::random(rng).to_bytes());
    for (const ByteArray<32>& tweak : tweaks) {
      const std::optional<Bip340KeyShare> ours = bip340_tweak_pubkey(share, tweak);
      const std::optional<ByteArray<33>> theirs = libsecp_tweak(share.public_key, tweak);
      ASSERT_TRUE(ours.has_value() && theirs.has_value()) << even << " " << hex(tweak);
      // x and parity.
      EXPECT_EQ(hex(ours->public_key.to_compressed()), hex(*theirs)) << even << " " << hex(tweak);
      // The share follows the key.
      EXPECT_EQ(Point::base_mul(ours->secret_share), ours->public_key);
      EXPECT_EQ(hex(ours->secret_share.to_bytes()), hex(*libsecp_tweak_secret(secret, tweak)));
      EXPECT_EQ(ours->chain_code, share.chain_code);
      EXPECT_EQ(ours->party_id, share.party_id);
    }
  }
}

TEST(Bip340Tweak, ZeroTweakOnlyBringsTheKeyToEvenY) {
  for (const bool even : {true, false}) {
    const Bip340KeyShare share = one_party(secret_with_parity(even));
    const std::optional<Bip340KeyShare> t = bip340_tweak_pubkey(share, ByteArray<32>{});
    ASSERT_TRUE(t.has_value());
    EXPECT_TRUE(t->public_key.has_even_y());
    EXPECT_EQ(t->public_key.x_bytes(), share.public_key.x_bytes());
    EXPECT_EQ(t->public_key == share.public_key, even);
  }
}

TEST(Bip340Tweak, SharesOfAThresholdKeyStaySharesOfTheTweakedKey) {
  for (const bool even : {true, false}) {
    const Scalar secret = secret_with_parity(even);
    const std::vector<Bip340KeyShare> shares = deal(secret, 2, 3);
    const ByteArray<32> tweak = Scalar::from_u64(12345).to_bytes();
    std::vector<Bip340KeyShare> tweaked;
    for (const auto& s : shares) tweaked.push_back(*bip340_tweak_pubkey(s, tweak));
    // Parties 1 and 3 rebuild the tweaked secret.
    const std::vector<PartyId> ids = {pid(1), pid(3)};
    const Scalar rebuilt = ecdsa::lagrange_coefficient_at(pid(1), ids, pid(1)) * tweaked[0].secret_share +
                           ecdsa::lagrange_coefficient_at(pid(3), ids, pid(3)) * tweaked[2].secret_share;
    EXPECT_EQ(Point::base_mul(rebuilt), tweaked[0].public_key);
    EXPECT_EQ(tweaked[0].public_key, tweaked[1].public_key);
  }
}

TEST(Bip340Tweak, RefusesTweaksOfNOrMoreAndAnInfiniteResult) {
  const ByteArray<32> n = unhex_array<32>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141");
  const ByteArray<32> n_plus_one = unhex_array<32>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364142");
  const ByteArray<32> all_ones = unhex_array<32>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  for (const bool even : {true, false}) {
    const Scalar secret = secret_with_parity(even);
    const Bip340KeyShare share = one_party(secret);
    // t·G = −P_e: t = n − x for an even key, x for an odd one.
    const ByteArray<32> to_infinity = (even ? -secret : secret).to_bytes();
    struct Case {
      std::string name;
      ByteArray<32> tweak;
    };
    for (const Case& c : std::vector<Case>{{"n", n}, {"n+1", n_plus_one}, {"2^256-1", all_ones},
                                           {"infinity", to_infinity}}) {
      EXPECT_FALSE(bip340_tweak_pubkey(share, c.tweak).has_value()) << c.name << " " << even;
      EXPECT_FALSE(libsecp_tweak(share.public_key, c.tweak).has_value()) << c.name << " " << even;
    }
  }
}

}  // namespace
}  // namespace velto::bip340::testing
