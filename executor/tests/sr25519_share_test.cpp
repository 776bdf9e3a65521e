// The stored sr25519 share record against a record assembled byte by byte
// from its layout, its refusals, and the consistency check that keeps an
// inconsistent share out of the protocols.
#include "executor/sr25519_share.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using crypto::EdScalar;
using crypto::RistrettoPoint;
using test::hex;
using test::patch;

noise::NoiseKeyPair keypair(std::uint8_t start) {
  crypto::ByteArray<32> priv{};
  for (std::size_t i = 0; i < 32; ++i) priv[i] = static_cast<std::uint8_t>(start + i);
  return noise::keypair_from_private(priv).value();
}

Sr25519StorableSecretShare sample_share() {
  const noise::NoiseKeyPair own = keypair(1);
  return Sr25519StorableSecretShare{
      frost::Sr25519KeyShare{RistrettoPoint::base_mul(EdScalar::from_u64(5)), EdScalar::from_u64(7),
                             PartyId::unchecked(2), 3, 2},
      own,
      {{PartyId::unchecked(1), keypair(40).public_key()},
       {PartyId::unchecked(2), own.public_key()},
       {PartyId::unchecked(3), keypair(80).public_key()}}};
}

std::string expected_text(const Sr25519StorableSecretShare& s) {
  std::string out = hex(crypto::as_bytes("sr25519")) + "00" + hex(s.key_share.group_key.to_bytes()) +
                    hex(s.key_share.secret_share.to_bytes()) + "0200" + "0300" + "0200" +
                    hex(s.transport_keypair.private_key().span()) + "03";
  for (const auto& [id, key] : s.partyid_pubkey_map) {
    out += id.value() == 1 ? "0100" : id.value() == 2 ? "0200" : "0300";
    out += hex(key.bytes());
  }
  return out;
}

// Byte offsets of the fields.
constexpr std::size_t kVariantAt = 7, kKeyAt = 8, kScalarAt = 40, kIdAt = 72, kNAt = 74, kTAt = 76, kPrivAt = 78;

TEST(Sr25519Share, LayoutAndRoundTrip) {
  const Sr25519StorableSecretShare share = sample_share();
  const std::string text = sr25519_share_encode(share);
  EXPECT_EQ(text, expected_text(share));
  auto back = sr25519_share_decode(text);
  ASSERT_TRUE(back) << back.error().display();
  EXPECT_TRUE(*back == share);
  // Upper-case hex reads too.
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(sr25519_share_decode(upper));
}

TEST(Sr25519Share, RefusedRecords) {
  const std::string good = sr25519_share_encode(sample_share());
  const std::string l_hex = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";
  struct Case {
    const char* name;
    std::string text;
    std::string source;
  };
  const std::vector<Case> cases = {
      {"other prefix", patch(good, 0, "7332"), "Invalid StorableSecretShare tag"},
      {"variant 1", patch(good, kVariantAt, "01"), "Invalid StorableSecretShare tag"},
      {"group key not a point", patch(good, kKeyAt, std::string(64, 'f')), "Invalid RistrettoPoint"},
      {"secret share = l", patch(good, kScalarAt, l_hex), "Invalid Scalar"},
      {"party id 0", patch(good, kIdAt, "0000"), "Zero value in a NonZero type"},
      {"8193 parties", patch(good, kNAt, "0120"), "Invalid number of parties"},
      {"threshold 0", patch(good, kTAt, "0000"), "Invalid number of parties"},
      {"zero transport key", patch(good, kPrivAt, std::string(64, '0')), "Invalid private key"},
      {"cut in the map", good.substr(0, good.size() - 2), "Out of bounds"},
  };
  for (const Case& c : cases) {
    auto r = sr25519_share_decode(c.text);
    ASSERT_FALSE(r) << c.name;
    ASSERT_NE(r.error().source(), nullptr) << c.name;
    EXPECT_EQ(r.error().source()->display(), c.source) << c.name;
  }
  EXPECT_FALSE(sr25519_share_decode(good.substr(1)));  // odd length
}

TEST(Sr25519Share, InconsistentSharesAreRefusedBeforeUse) {
  EXPECT_TRUE(sr25519_share_checked_key_share(sample_share()));
  struct Case {
    const char* name;
    void (*spoil)(Sr25519StorableSecretShare&);
  };
  const std::vector<Case> cases = {
      {"threshold above the parties", [](Sr25519StorableSecretShare& s) { s.key_share.threshold = 4; }},
      {"own id missing from the map",
       [](Sr25519StorableSecretShare& s) { s.partyid_pubkey_map.erase(PartyId::unchecked(2)); }},
      {"another key under the own id",
       [](Sr25519StorableSecretShare& s) { s.partyid_pubkey_map.at(PartyId::unchecked(2)) = keypair(9).public_key(); }},
  };
  for (const Case& c : cases) {
    Sr25519StorableSecretShare s = sample_share();
    c.spoil(s);
    // Such records read (the reader checks fields, not their relations) ...
    ASSERT_TRUE(sr25519_share_decode(sr25519_share_encode(s))) << c.name;
    // ... and are refused before any session.
    const auto r = sr25519_share_checked_key_share(s);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().display(), "The provided serialized key share is invalid") << c.name;
  }
}

}  // namespace
}  // namespace velto::executor
