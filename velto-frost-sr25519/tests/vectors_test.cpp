// The signing routines against the RFC 9591 FROST(ristretto255, SHA-512)
// vectors (nonces, binding-factor inputs and factors, group commitment: a
// binding-factor mistake shared by every party would still give valid
// signatures), and the derivation, seed expansion and verifier against cases
// of an independent sr25519 implementation.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "crypto/hash.hpp"
#include "velto-frost-sr25519/derive.hpp"
#include "velto-frost-sr25519/hashes.hpp"
#include "velto-frost-sr25519/sign.hpp"
#include "velto-frost-sr25519/tests/sr25519_test_util.hpp"

namespace velto::frost::sr_testing {
namespace {

using crypto::Bytes;
using crypto::EdScalar;
using crypto::RistrettoPoint;

std::map<std::string, std::string> rfc_vectors() {
  std::map<std::string, std::string> out;
  for (const auto& f : data_lines("rfc9591_ristretto255.txt")) {
    if (f.size() == 2) out[f[0]] = f[1];
  }
  return out;
}

// A generator handing out one fixed 32-byte block per draw.
class FixedDraws {
 public:
  explicit FixedDraws(std::vector<Bytes> blocks) : blocks_(std::move(blocks)) {}
  void fill_bytes(crypto::MutByteSpan out) {
    ASSERT_LT(next_, blocks_.size());
    ASSERT_EQ(blocks_[next_].size(), out.size());
    std::copy(blocks_[next_].begin(), blocks_[next_].end(), out.begin());
    ++next_;
  }

 private:
  std::vector<Bytes> blocks_;
  std::size_t next_ = 0;
};

TEST(Sr25519Rfc9591, NoncesBindingFactorsAndGroupCommitment) {
  auto v = rfc_vectors();
  const RistrettoPoint y = rpoint(v["inputs.group_public_key"]);
  const Bytes message = unhex(v["inputs.message"]);
  const std::vector<std::uint16_t> signers = {1, 3};

  std::vector<Sr25519SigningCommitment> list;
  std::vector<Sr25519SigningNonces> nonces;
  for (const std::uint16_t id : signers) {
    const std::string p = "round_one_outputs.outputs." + std::to_string(id) + ".";
    const std::string share_key = "inputs.participant_shares." + std::to_string(id) + ".participant_share";
    const EdScalar secret = frost::testing::scalar_hex(v[share_key]);
    FixedDraws draws({unhex(v[p + "hiding_nonce_randomness"]), unhex(v[p + "binding_nonce_randomness"])});
    Sr25519SigningNonces n = sr25519_signing_nonces(secret, draws);
    EXPECT_EQ(hex(n.hiding.to_bytes()), v[p + "hiding_nonce"]) << id;
    EXPECT_EQ(hex(n.binding.to_bytes()), v[p + "binding_nonce"]) << id;
    const Sr25519SigningCommitment c{RistrettoPoint::base_mul(n.hiding), RistrettoPoint::base_mul(n.binding), pid(id)};
    EXPECT_EQ(hex(c.hiding.to_bytes()), v[p + "hiding_nonce_commitment"]) << id;
    EXPECT_EQ(hex(c.binding.to_bytes()), v[p + "binding_nonce_commitment"]) << id;
    list.push_back(c);
    nonces.push_back(std::move(n));
  }

  // The binding factor input is Y ‖ H4(m) ‖ H5(list) ‖ id.
  const crypto::ByteArray<64> msg_hash = sr25519_hash_msg(message);
  const crypto::ByteArray<64> com_hash = sr25519_hash_com(list);
  const Sr25519GroupCommitment group = sr25519_group_commitment(y, list, message);
  ASSERT_EQ(group.binding_factors.size(), signers.size());
  for (std::size_t i = 0; i < signers.size(); ++i) {
    const std::string p = "round_one_outputs.outputs." + std::to_string(signers[i]) + ".";
    const std::string input = hex(y.to_bytes()) + hex(msg_hash) + hex(com_hash) + hex(sr25519_id_bytes(pid(signers[i])));
    EXPECT_EQ(input, v[p + "binding_factor_input"]);
    EXPECT_EQ(hex(group.binding_factors[i].to_bytes()), v[p + "binding_factor"]);
  }

  // The group commitment is the R of the RFC's signature.
  EXPECT_EQ(hex(group.commitment.to_bytes()), v["final_output.sig"].substr(0, 64));

  // Signature shares use the sr25519 challenge, not the RFC's: the shares of
  // the vector's signers add up to a signature that an sr25519 verifier
  // accepts under the group key.
  const Sr25519KeyShare share1{y, frost::testing::scalar_hex(v["inputs.participant_shares.1.participant_share"]),
                               pid(1), 3, 2};
  const Sr25519KeyShare share3{y, frost::testing::scalar_hex(v["inputs.participant_shares.3.participant_share"]),
                               pid(3), 3, 2};
  const EdScalar z = sr25519_signature_share(share1, nonces[0], list, group.binding_factors[0], group.commitment,
                                             message) +
                     sr25519_signature_share(share3, nonces[1], list, group.binding_factors[1], group.commitment,
                                             message);
  EXPECT_TRUE(sr25519_verify(y, message, sr25519_signature_bytes(group.commitment, z)));
}

TEST(Sr25519Oracle, SeedExpansion) {
  int cases = 0;
  for (const auto& f : data_lines("sr25519_oracle.txt")) {
    if (f[0] != "seed") continue;
    const crypto::SecretArray<32> seed(unhex_array<32>(f[1]));
    const auto x = sr25519_expand_seed(Sr25519KeyForm::Seed, seed);
    ASSERT_TRUE(x);
    EXPECT_EQ(hex(x->to_bytes()), f[2]);
    EXPECT_EQ(hex(RistrettoPoint::base_mul(*x).to_bytes()), f[3]);
    EXPECT_GE(x->to_bytes()[31], 8);
    EXPECT_LE(x->to_bytes()[31], 15);
    ++cases;
  }
  EXPECT_GT(cases, 0);
}

TEST(Sr25519ExpandSeed, ScalarFormMustBeCanonical) {
  // l − 1 is accepted, l and 2^256 − 1 are refused.
  const auto l_minus_1 = unhex_array<32>("ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  const auto l = unhex_array<32>("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  crypto::ByteArray<32> all_ones{};
  all_ones.fill(0xFF);
  EXPECT_TRUE(sr25519_expand_seed(Sr25519KeyForm::Scalar, crypto::SecretArray<32>(l_minus_1)));
  EXPECT_FALSE(sr25519_expand_seed(Sr25519KeyForm::Scalar, crypto::SecretArray<32>(l)));
  EXPECT_FALSE(sr25519_expand_seed(Sr25519KeyForm::Scalar, crypto::SecretArray<32>(all_ones)));
  // The same bytes as a seed expand to another scalar.
  const auto as_seed = sr25519_expand_seed(Sr25519KeyForm::Seed, crypto::SecretArray<32>(l_minus_1));
  ASSERT_TRUE(as_seed);
  EXPECT_NE(hex(as_seed->to_bytes()), hex(l_minus_1));
}

TEST(Sr25519Oracle, JunctionChainCodes) {
  int cases = 0;
  for (const auto& f : data_lines("sr25519_oracle.txt")) {
    if (f[0] != "cc") continue;
    const Bytes text = field_bytes(f[1]);
    const auto cc = sr25519_junction_chain_code(std::string(text.begin(), text.end()));
    ASSERT_TRUE(cc) << f[1];
    EXPECT_EQ(hex(*cc), f[2]) << f[1];
    ++cases;
  }
  EXPECT_GT(cases, 0);
}

TEST(Sr25519Derive, JunctionRules) {
  const auto cc = [](std::string_view s) { return hex(sr25519_junction_chain_code(s).value()); };
  const std::string zero(64, '0');
  for (const char* same : {"", "0", "00", "+0"}) EXPECT_EQ(cc(same), zero) << same;
  EXPECT_EQ(cc("a0").substr(0, 6), "086130");
  EXPECT_EQ(cc("18446744073709551615"), "ffffffffffffffff" + std::string(48, '0'));
  EXPECT_EQ(cc("18446744073709551616").substr(0, 2), "50");  // 20 × 4: a string junction
  EXPECT_EQ(cc(std::string(31, 'x')).substr(0, 4), "7c78");
  EXPECT_EQ(cc(std::string(32, 'y')), hex(crypto::blake2b_256(
                                          [] {
                                            Bytes b = {128};
                                            b.insert(b.end(), 32, 'y');
                                            return b;
                                          }())));
  const auto hard = sr25519_junction_chain_code("/hard");
  ASSERT_FALSE(hard);
  EXPECT_EQ(hard.error().display(),
            "Invalid derivation path, hard(starting with '//') derivation junctions are not allowed");
  EXPECT_TRUE(sr25519_junction_chain_code("soft/with/slashes"));
  EXPECT_EQ(Sr25519DerivePathError(Sr25519DerivePathError::InvalidLength{4294967296}).display(),
            "Invalid derivation path length, 4294967296 > 4294967295");
}

TEST(Sr25519Oracle, DerivedKeysAndSecrets) {
  int cases = 0;
  for (const auto& f : data_lines("sr25519_oracle.txt")) {
    if (f[0] != "derive") continue;
    const auto x = sr25519_expand_seed(Sr25519KeyForm::Seed, crypto::SecretArray<32>(unhex_array<32>(f[1])));
    ASSERT_TRUE(x);
    std::vector<std::string> path;
    std::stringstream joined(f[2]);
    for (std::string part; std::getline(joined, part, ',');) {
      const Bytes b = field_bytes(part);
      path.emplace_back(b.begin(), b.end());
    }
    const auto derived = sr25519_derive_path(RistrettoPoint::base_mul(*x), path);
    ASSERT_TRUE(derived) << f[2];
    EXPECT_EQ(hex(derived->key.to_bytes()), f[3]) << f[2];
    EXPECT_EQ(hex((*x + derived->tweak).to_bytes()), f[4]) << f[2];
    ++cases;
  }
  EXPECT_GT(cases, 0);
}

TEST(Sr25519Derive, EmptyPathAndEveryJunctionMoves) {
  const RistrettoPoint p = RistrettoPoint::base_mul(EdScalar::from_u64(77));
  const auto none = sr25519_derive_path(p, {});
  ASSERT_TRUE(none);
  EXPECT_EQ(none->key, p);
  EXPECT_TRUE(none->tweak.is_zero());
  const std::vector<std::string> empty_junction = {""};
  const auto moved = sr25519_derive_path(p, empty_junction);
  ASSERT_TRUE(moved);
  EXPECT_FALSE(moved->key == p);
  const std::vector<std::string> stops = {"ok", "/hard", "never"};
  EXPECT_FALSE(sr25519_derive_path(p, stops));
}

TEST(Sr25519Oracle, VerifierAcceptsOracleSignaturesAndRefusesFlippedBits) {
  int cases = 0;
  for (const auto& f : data_lines("sr25519_oracle.txt")) {
    if (f[0] != "sig") continue;
    const RistrettoPoint y = rpoint(f[1]);
    EXPECT_EQ(sr25519_verify(y, field_bytes(f[2]), unhex_array<64>(f[3])), f[4] == "1") << f[2] << " " << f[3];
    ++cases;
  }
  EXPECT_GT(cases, 0);
}

}  // namespace
}  // namespace velto::frost::sr_testing
