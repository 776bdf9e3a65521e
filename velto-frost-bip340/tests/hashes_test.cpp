// The hashes of BIP340 signing against the published FROST(secp256k1,
// SHA-256) vectors of RFC 9591 (testdata/frost-secp256k1-sha256-rfc9591.json),
// through the routines the signing runs: nonces, binding-factor inputs with
// the 33-byte group key (H4 and H5 inside), binding factors (H1) and the
// group commitment. The vectors' signature shares use the RFC's own
// challenge, which this scheme replaces by BIP340's; the same nonces and
// shares are instead summed into a BIP340 signature that libsecp256k1
// accepts.
#include "velto-frost-bip340/hashes.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/hash.hpp"
#include "velto-frost-bip340/sign.hpp"
#include "velto-frost-bip340/tests/bip340_test_util.hpp"

namespace velto::bip340::testing {
namespace {

using crypto::ByteArray;
using crypto::Bytes;
using crypto::Point;
using crypto::Scalar;

std::string vector_file() {
  std::ifstream in(VELTO_TESTDATA_DIR "/frost-secp256k1-sha256-rfc9591.json");
  EXPECT_TRUE(in.good()) << "missing frost-secp256k1-sha256-rfc9591.json";
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The string value of `key` at or after `from` in the JSON text.
std::string value_after(const std::string& json, const std::string& key, std::size_t from = 0) {
  const std::size_t k = json.find("\"" + key + "\"", from);
  if (k == std::string::npos) {
    ADD_FAILURE() << "no " << key;
    return {};
  }
  const std::size_t open = json.find('"', json.find(':', k) + 1);
  return json.substr(open + 1, json.find('"', open + 1) - open - 1);
}

// The fields of participant `id` within the section starting at `section`.
std::map<std::string, std::string> participant(const std::string& json, const std::string& section, int id) {
  const std::size_t at = json.find("\"identifier\": " + std::to_string(id), json.find("\"" + section + "\""));
  std::map<std::string, std::string> out;
  for (const char* key : {"hiding_nonce_randomness", "binding_nonce_randomness", "hiding_nonce", "binding_nonce",
                          "hiding_nonce_commitment", "binding_nonce_commitment", "binding_factor_input",
                          "binding_factor", "participant_share", "sig_share"}) {
    const std::size_t k = json.find(std::string("\"") + key + "\"", at);
    const std::size_t end = json.find('}', at);
    if (k != std::string::npos && k < end) out[key] = value_after(json, key, at);
  }
  return out;
}

TEST(Bip340Hashes, Rfc9591Secp256k1VectorsThroughTheSigningRoutines) {
  const std::string json = vector_file();
  ASSERT_EQ(value_after(json, "name"), "FROST(secp256k1, SHA-256)");
  const Bytes message = unhex(value_after(json, "message"));
  const Point group_key = *Point::from_compressed(unhex(value_after(json, "group_public_key")));
  EXPECT_EQ(Point::base_mul(scalar_hex(value_after(json, "group_secret_key"))), group_key);

  const std::vector<int> signers = {1, 3};
  std::vector<Bip340KeyShare> shares;
  std::vector<Bip340SigningNonces> nonces;
  std::vector<Bip340SigningCommitment> list;
  for (const int id : signers) {
    const auto in = participant(json, "participant_shares", id);
    const auto r1 = participant(json, "round_one_outputs", id);
    shares.push_back(Bip340KeyShare{scalar_hex(in.at("participant_share")), {}, group_key,
                                    pid(static_cast<std::uint16_t>(id)), 2, 3});
    ScriptedRng rng({unhex(r1.at("hiding_nonce_randomness")), unhex(r1.at("binding_nonce_randomness"))});
    nonces.push_back(bip340_signing_nonces(shares.back().secret_share, rng));
    EXPECT_EQ(rng.used(), 2u);
    EXPECT_EQ(hex(nonces.back().hiding.to_bytes()), r1.at("hiding_nonce")) << id;
    EXPECT_EQ(hex(nonces.back().binding.to_bytes()), r1.at("binding_nonce")) << id;
    list.push_back({Point::base_mul(nonces.back().hiding), Point::base_mul(nonces.back().binding),
                    pid(static_cast<std::uint16_t>(id))});
    EXPECT_EQ(hex(list.back().hiding.to_compressed()), r1.at("hiding_nonce_commitment")) << id;
    EXPECT_EQ(hex(list.back().binding.to_compressed()), r1.at("binding_nonce_commitment")) << id;
  }

  const Bip340GroupCommitment group = bip340_group_commitment(group_key, list, message);
  for (std::size_t i = 0; i < signers.size(); ++i) {
    const auto r1 = participant(json, "round_one_outputs", signers[i]);
    EXPECT_EQ(hex(group_key.to_compressed()) + hex(bip340_hash_msg(message)) + hex(bip340_hash_com(list)) +
                  hex(bip340_id_bytes(list[i].id)),
              r1.at("binding_factor_input"))
        << signers[i];
    EXPECT_EQ(hex(group.binding_factors[i].to_bytes()), r1.at("binding_factor")) << signers[i];
  }
  // The group commitment R is the first 33 bytes of the published signature.
  EXPECT_EQ(hex(group.commitment.to_compressed()), value_after(json, "sig").substr(0, 66));

  // The same nonces and shares, answered with the BIP340 challenge, make a
  // BIP340 signature.
  Scalar s;
  for (std::size_t i = 0; i < signers.size(); ++i) {
    s += bip340_signature_share(shares[i], nonces[i], list, group.binding_factors[i], group.commitment, message);
  }
  ByteArray<64> signature{};
  const ByteArray<32> r_x = group.commitment.x_bytes();
  const ByteArray<32> s_bytes = s.to_bytes();
  std::copy(r_x.begin(), r_x.end(), signature.begin());
  std::copy(s_bytes.begin(), s_bytes.end(), signature.begin() + 32);
  EXPECT_TRUE(libsecp_verifies(group_key.x_bytes(), message, signature));
  EXPECT_TRUE(bip340_verify(group_key.x_bytes(), message, signature));
}

TEST(Bip340Hashes, ChallengeIsTheTaggedHashReducedModN) {
  // SHA-256(T ‖ T ‖ R.x ‖ P.x ‖ m), T = SHA-256("BIP0340/challenge"),
  // written out with the plain hash: the cached prefix state must give the
  // same value.
  const ByteArray<32> r_x = unhex_array<32>("F9308A019258C31049344F85F89D5229B531C845836F99B08601F113BCE036F9");
  const ByteArray<32> p_x = unhex_array<32>("DFF1D77F2A671C5F36183726DB2341BE58FEAE1DA2DECED843240F7B502BA659");
  const Bytes message = {'a', 'b', 'c'};
  const std::string tag_text = "BIP0340/challenge";
  const ByteArray<32> tag = crypto::sha256(crypto::ByteSpan(reinterpret_cast<const std::uint8_t*>(tag_text.data()),
                                                            tag_text.size()));
  Bytes input(tag.begin(), tag.end());
  input.insert(input.end(), tag.begin(), tag.end());
  input.insert(input.end(), r_x.begin(), r_x.end());
  input.insert(input.end(), p_x.begin(), p_x.end());
  input.insert(input.end(), message.begin(), message.end());
  EXPECT_EQ(bip340_challenge_hash(r_x, p_x, message), Scalar::from_bytes_reduced(crypto::sha256(input)));
}

}  // namespace
}  // namespace velto::bip340::testing
