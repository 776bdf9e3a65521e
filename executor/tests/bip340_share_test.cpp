// The stored BIP340 share record against a record assembled byte by byte
// from its layout (field order id, t, n), its refusals (the identity as
// group key included), and the consistency check that keeps an inconsistent
// share out of the protocols.
#include "executor/bip340_share.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using crypto::Point;
using crypto::Scalar;
using test::hex;
using test::patch;

noise::NoiseKeyPair keypair(std::uint8_t start) {
  crypto::ByteArray<32> priv{};
  for (std::size_t i = 0; i < 32; ++i) priv[i] = static_cast<std::uint8_t>(start + i);
  return noise::keypair_from_private(priv).value();
}

// Party 2 of 5 at threshold 3 (three distinct values, so the layout test
// pins their order), with a group key of the given y parity.
Bip340StorableSecretShare sample_share(bool even_y = true) {
  std::uint64_t k = 5;
  while (Point::base_mul(Scalar::from_u64(k)).has_even_y() != even_y) ++k;
  const noise::NoiseKeyPair own = keypair(1);
  crypto::ByteArray<32> chain{};
  for (std::size_t i = 0; i < 32; ++i) chain[i] = static_cast<std::uint8_t>(0xC0 + i);
  return Bip340StorableSecretShare{
      bip340::Bip340KeyShare{Scalar::from_u64(7), chain, Point::base_mul(Scalar::from_u64(k)), PartyId::unchecked(2),
                             3, 5},
      own,
      {{PartyId::unchecked(1), keypair(40).public_key()},
       {PartyId::unchecked(2), own.public_key()},
       {PartyId::unchecked(3), keypair(80).public_key()}}};
}

std::string expected_text(const Bip340StorableSecretShare& s) {
  std::string out = hex(crypto::as_bytes("bip340")) + "00" + hex(s.key_share.secret_share.to_bytes()) +
                    hex(s.key_share.public_key.to_compressed()) + hex(s.key_share.chain_code) + "0200" + "0300" +
                    "0500" + hex(s.transport_keypair.private_key().span()) + "03";
  for (const auto& [id, key] : s.partyid_pubkey_map) {
    out += id.value() == 1 ? "0100" : id.value() == 2 ? "0200" : "0300";
    out += hex(key.bytes());
  }
  return out;
}

// Hex offsets of the fields (two characters a byte).
constexpr std::size_t kVariantAt = 6, kScalarAt = 7, kKeyAt = 39, kIdAt = 104, kTAt = 106, kNAt = 108, kPrivAt = 110;

std::size_t at(std::size_t byte) { return 2 * byte; }

TEST(Bip340Share, LayoutAndRoundTripForBothParities) {
  for (const bool even : {true, false}) {
    const Bip340StorableSecretShare share = sample_share(even);
    const std::string text = bip340_share_encode(share);
    EXPECT_EQ(text, expected_text(share)) << even;
    EXPECT_EQ(text.substr(at(kKeyAt), 2), even ? "02" : "03");
    auto back = bip340_share_decode(text);
    ASSERT_TRUE(back) << back.error().display();
    EXPECT_TRUE(*back == share);
    EXPECT_EQ(back->key_share.party_id, PartyId::unchecked(2));
    EXPECT_EQ(back->key_share.threshold, 3);
    EXPECT_EQ(back->key_share.num_parties, 5);
    // Upper-case hex reads too.
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(bip340_share_decode(upper));
  }
}

TEST(Bip340Share, RefusedRecords) {
  const std::string good = bip340_share_encode(sample_share());
  const std::string n_hex = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
  struct Case {
    const char* name;
    std::string text;
    std::string source;
  };
  const std::vector<Case> cases = {
      {"other prefix", patch(good, 0, "6263"), "Invalid StorableSecretShare tag"},
      {"sr25519 prefix", patch(good, 0, hex(crypto::as_bytes("sr2551"))), "Invalid StorableSecretShare tag"},
      {"variant 1", patch(good, kVariantAt, "01"), "Invalid StorableSecretShare tag"},
      {"secret share = n", patch(good, kScalarAt, n_hex), "Invalid Scalar"},
      {"group key prefix 04", patch(good, kKeyAt, "04"), "Invalid Compressed AffinePoint"},
      {"group key the identity", patch(good, kKeyAt, std::string(66, '0')), "Invalid Compressed AffinePoint"},
      {"party id 0", patch(good, kIdAt, "0000"), "Zero value in a NonZero type"},
      {"threshold 0", patch(good, kTAt, "0000"), "Invalid number of parties"},
      {"8193 parties", patch(good, kNAt, "0120"), "Invalid number of parties"},
      {"zero transport key", patch(good, kPrivAt, std::string(64, '0')), "Invalid private key"},
      {"cut in the map", good.substr(0, good.size() - 2), "Out of bounds"},
  };
  for (const Case& c : cases) {
    auto r = bip340_share_decode(c.text);
    ASSERT_FALSE(r) << c.name;
    ASSERT_NE(r.error().source(), nullptr) << c.name;
    EXPECT_EQ(r.error().source()->display(), c.source) << c.name;
  }
  EXPECT_FALSE(bip340_share_decode(good.substr(1)));  // odd length
}

TEST(Bip340Share, InconsistentSharesAreRefusedBeforeUse) {
  EXPECT_TRUE(bip340_share_checked_key_share(sample_share()));
  struct Case {
    const char* name;
    void (*spoil)(Bip340StorableSecretShare&);
  };
  const std::vector<Case> cases = {
      {"threshold above the parties", [](Bip340StorableSecretShare& s) { s.key_share.threshold = 6; }},
      {"own id missing from the map",
       [](Bip340StorableSecretShare& s) { s.partyid_pubkey_map.erase(PartyId::unchecked(2)); }},
      {"another key under the own id",
       [](Bip340StorableSecretShare& s) { s.partyid_pubkey_map.at(PartyId::unchecked(2)) = keypair(9).public_key(); }},
  };
  for (const Case& c : cases) {
    Bip340StorableSecretShare s = sample_share();
    c.spoil(s);
    // Such records read (the reader checks fields, not their relations) ...
    ASSERT_TRUE(bip340_share_decode(bip340_share_encode(s))) << c.name;
    // ... and are refused before any session.
    const auto r = bip340_share_checked_key_share(s);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().display(), "The provided serialized key share is invalid") << c.name;
  }
}

}  // namespace
}  // namespace velto::executor
