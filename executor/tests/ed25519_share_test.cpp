// The Ed25519 and exportable Ed25519 share records against records assembled
// byte by byte from the layouts (testdata/share_ed25519_records.txt, made by
// share_ed25519_gen.py with independent edwards25519, BLAKE3 and derivation
// code), the V1 to V2 upgrade, and the FROST key shares made from records.
#include "executor/ed25519_share.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "executor/tests/share_fixtures.hpp"
#include "velto-frost-ed25519/spub.hpp"

namespace velto::executor {
namespace {

using test::hex;
using test::patch;
using test::ShareFixture;
using test::splice;
using test::unhex;

const std::vector<ShareFixture>& fixtures() {
  static const std::vector<ShareFixture> all = test::load_share_fixtures("share_ed25519_records.txt");
  return all;
}

const ShareFixture& fixture(const std::string& name) {
  for (const auto& f : fixtures()) {
    if (f.name() == name) return f;
  }
  throw std::runtime_error("no share fixture " + name);
}

bool is_exportable(const ShareFixture& f) { return f.name().starts_with("exportable"); }

Ed25519StorableSecretShare decode(const std::string& name) {
  auto share = ed25519_share_decode(fixture(name).at("record"));
  if (!share) throw std::runtime_error("fixture does not decode: " + name + ": " + share.error().debug());
  return std::move(*share);
}

// "ok", "InvalidHex", "OutOfBounds", "InvalidVarIntEncoding" or the custom text.
template <class T>
std::string outcome(const std::expected<T, ShareArgError>& r) {
  if (r) return "ok";
  if (r.error().template is<ShareArgError::InvalidHex>()) return "InvalidHex";
  const sised::SisedError& e = std::get<ShareArgError::InvalidShare>(r.error().value()).error;
  switch (e.kind()) {
    case sised::SisedError::Kind::OutOfBounds:
      return "OutOfBounds";
    case sised::SisedError::Kind::InvalidVarIntEncoding:
      return "InvalidVarIntEncoding";
    case sised::SisedError::Kind::HeapSizeLimitExceeded:
      return "HeapSizeLimitExceeded";
    case sised::SisedError::Kind::Custom:
      return e.custom_text();
  }
  return "?";
}

std::string ed_outcome(const std::string& text) { return outcome(ed25519_share_decode(text)); }
std::string exp_outcome(const std::string& text) { return outcome(exportable_ed25519_share_decode(text)); }

std::string u16_hex(int v) { return hex(crypto::ByteArray<2>{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); }

// The fixture's FROST key-share fields in record order (102 bytes).
std::string fixture_keyshare_hex(const ShareFixture& f) {
  return f.at("pubkey") + f.at("chain_code") + f.at("secret") + u16_hex(f.num("party_id")) +
         u16_hex(f.num("threshold")) + u16_hex(f.num("num_parties"));
}

void expect_fixture_keyshare(const frost::FrostKeyShare& k, const ShareFixture& f) {
  EXPECT_EQ(hex(k.public_key.to_bytes()), f.at("pubkey"));
  EXPECT_EQ(hex(k.chain_code), f.at("chain_code"));
  EXPECT_EQ(hex(k.secret_share.as_span()), f.at("secret"));
  EXPECT_EQ(k.party_id.value(), f.num("party_id"));
  EXPECT_EQ(k.threshold, f.num("threshold"));
  EXPECT_EQ(k.num_parties, f.num("num_parties"));
}

void expect_fixture_tail(const noise::NoiseKeyPair& transport, const PartyPubkeyMap& map, const ShareFixture& f) {
  EXPECT_EQ(hex(transport.private_key().span()), f.at("transport_private"));
  EXPECT_EQ(hex(transport.public_key().span()), f.at("transport_public"));
  std::map<int, std::string> got;
  for (const auto& [id, key] : map) got[id.value()] = hex(key.span());
  EXPECT_EQ(got, test::parse_id_list(f.at("map")));
}

// Byte offsets of the Latest record and the exportable record.
constexpr std::size_t kPubkeyAt = 4, kV2ScalarAt = 68, kPartyIdAt = 100, kThresholdAt = 102, kTransportAt = 106,
                      kMapAt = 138;
constexpr std::size_t kV1ScalarAt = 36, kV1ThresholdAt = 70, kV1TransportAt = 74;
constexpr std::size_t kExpSeedAt = 1, kExpSeedIdAt = 33, kExpSeedCountAt = 37, kExpCommitmentAt = 39,
                      kExpPubkeyAt = 72, kExpScalarAt = 136;

const std::string kZero32(64, '0');
const std::string kEdOrder = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";
const std::string kEdIdentity = "0100000000000000000000000000000000000000000000000000000000000000";
const std::string kEdOrderTwo = "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
const std::string kEdTorsion = "9599999999999999999999999999999999999999999999999999999999999999";
const std::string kEdNotOnCurve = "0200000000000000000000000000000000000000000000000000000000000000";
const std::string kSecpOrder = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";

// ---------------------------------------------------------------------------
// Round trips.

TEST(Ed25519ShareRecords, FixturesDecodeToTheirFieldsAndReencodeByteForByte) {
  for (const ShareFixture& f : fixtures()) {
    if (is_exportable(f)) continue;
    SCOPED_TRACE(f.name());
    auto share = ed25519_share_decode(f.at("record"));
    ASSERT_TRUE(share.has_value()) << share.error().debug();
    EXPECT_EQ(static_cast<int>(share->tag()), f.num("tag"));
    std::visit(
        [&](const auto& k) {
          using T = std::remove_cvref_t<decltype(k)>;
          EXPECT_EQ(hex(k.public_key.to_bytes()), f.at("pubkey"));
          EXPECT_EQ(hex(k.secret_share.as_span()), f.at("secret"));
          EXPECT_EQ(k.party_id.value(), f.num("party_id"));
          EXPECT_EQ(k.threshold, f.num("threshold"));
          EXPECT_EQ(k.num_parties, f.num("num_parties"));
          if constexpr (!std::is_same_v<T, Ed25519SecretShareV1>) {
            EXPECT_EQ(hex(k.chain_code), f.at("chain_code"));
          }
        },
        share->key_share);
    expect_fixture_tail(share->transport_keypair, share->partyid_pubkey_map, f);
    EXPECT_EQ(ed25519_share_encode(*share), f.at("canonical"));
  }
}

TEST(Ed25519ShareRecords, ExportableFixturesDecodeToTheirFieldsAndReencodeByteForByte) {
  for (const ShareFixture& f : fixtures()) {
    if (!is_exportable(f)) continue;
    SCOPED_TRACE(f.name());
    auto share = exportable_ed25519_share_decode(f.at("record"));
    ASSERT_TRUE(share.has_value()) << share.error().debug();
    const frost::PreimageShare& p = share->key_share.preimage_share;
    EXPECT_EQ(hex(p.share.to_bytes()), f.at("seed_share"));
    EXPECT_EQ(p.party_id.value(), f.num("seed_party_id"));
    EXPECT_EQ(p.threshold, f.num("seed_threshold"));
    EXPECT_EQ(p.num_parties, f.num("seed_num_parties"));
    EXPECT_EQ(hex(p.commitment.to_compressed()), f.at("commitment"));
    expect_fixture_keyshare(share->key_share.key_share, f);
    expect_fixture_tail(share->transport_keypair, share->partyid_pubkey_map, f);
    EXPECT_EQ(exportable_ed25519_share_encode(*share), f.at("canonical"));
  }
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

TEST(Ed25519ShareRecords, UpperCaseAndTrailingBytesReadAsTheSameShare) {
  for (const ShareFixture& f : fixtures()) {
    SCOPED_TRACE(f.name());
    const std::string& record = f.at("record");
    for (const std::string& variant : {upper(record), record + "00ff", record + "fc"}) {
      if (is_exportable(f)) {
        auto a = exportable_ed25519_share_decode(record);
        auto b = exportable_ed25519_share_decode(variant);
        ASSERT_TRUE(a.has_value() && b.has_value());
        EXPECT_EQ(*a, *b);
        EXPECT_EQ(exportable_ed25519_share_encode(*b), f.at("canonical"));
      } else {
        auto a = ed25519_share_decode(record);
        auto b = ed25519_share_decode(variant);
        ASSERT_TRUE(a.has_value() && b.has_value());
        EXPECT_EQ(*a, *b);
        EXPECT_EQ(ed25519_share_encode(*b), f.at("canonical"));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Refusals.

struct RefusalCase {
  const char* name;
  std::string text;
  std::string expected;
};

void run_refusals(const std::vector<RefusalCase>& cases, const std::function<std::string(const std::string&)>& run) {
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.text), c.expected);
  }
}

TEST(Ed25519ShareRecords, RecordRefusals) {
  const std::string v1 = fixture("ed_v1").at("record");
  const std::string v2 = fixture("ed_v2").at("record");
  const std::string latest = fixture("ed_latest").at("record");
  const std::string map_key_1 = test::parse_id_list(fixture("ed_latest").at("map")).at(1);
  const std::string map_key_3 = test::parse_id_list(fixture("ed_latest").at("map")).at(3);

  const std::vector<RefusalCase> cases = {
      {"empty", "", "OutOfBounds"},
      {"three bytes", "020000", "OutOfBounds"},
      {"odd length", latest.substr(1), "InvalidHex"},
      {"non-hex character", "G" + latest.substr(1), "InvalidHex"},
      {"tag 3", patch(latest, 0, "03000000"), "Invalid discriminant"},
      {"tag above 255", patch(latest, 0, "00010000"), "Invalid discriminant"},

      // The group key: the sised reader names it, the fixed-width one does not.
      {"latest small-order key", patch(latest, kPubkeyAt, kEdOrderTwo), "Invalid EdwardsPoint"},
      {"latest key with torsion", patch(latest, kPubkeyAt, kEdTorsion), "Invalid EdwardsPoint"},
      {"latest key off the curve", patch(latest, kPubkeyAt, kEdNotOnCurve), "Invalid EdwardsPoint"},
      {"latest identity key", patch(latest, kPubkeyAt, kEdIdentity), "ok"},
      {"v2 small-order key", patch(v2, kPubkeyAt, kEdOrderTwo), "error deserializing bincode"},
      {"v2 key with torsion", patch(v2, kPubkeyAt, kEdTorsion), "error deserializing bincode"},
      {"v1 key off the curve", patch(v1, kPubkeyAt, kEdNotOnCurve), "error deserializing bincode"},
      {"v1 identity key", patch(v1, kPubkeyAt, kEdIdentity), "ok"},

      {"latest scalar l", patch(latest, kV2ScalarAt, kEdOrder), "Invalid Scalar"},
      {"v2 scalar l", patch(v2, kV2ScalarAt, kEdOrder), "error deserializing bincode"},
      {"v1 scalar l", patch(v1, kV1ScalarAt, kEdOrder), "error deserializing bincode"},
      {"latest zero scalar", patch(latest, kV2ScalarAt, kZero32), "ok"},

      {"latest party id 0", patch(latest, kPartyIdAt, "0000"), "Zero value in a NonZero type"},
      {"v2 party id 0", patch(v2, kPartyIdAt, "0000"), "error deserializing bincode"},
      {"latest threshold 0", patch(latest, kThresholdAt, "0000"), "Invalid number of parties"},
      {"latest threshold 8193", patch(latest, kThresholdAt, "0120"), "Invalid number of parties"},
      {"latest parties 8193", patch(latest, kThresholdAt + 2, "0120"), "Invalid number of parties"},
      {"latest threshold 8192", patch(latest, kThresholdAt, "0020"), "ok"},
      {"v2 threshold 0", patch(v2, kThresholdAt, "0000"), "error deserializing bincode"},
      {"v1 threshold 0", patch(v1, kV1ThresholdAt, "0000"), "error deserializing bincode"},
      {"v2 threshold 9000", patch(v2, kThresholdAt, u16_hex(9000)), "ok"},
      {"v1 parties 65535", patch(v1, kV1ThresholdAt + 2, "ffff"), "ok"},

      {"latest zero transport key", patch(latest, kTransportAt, kZero32), "Invalid private key"},
      {"v2 zero transport key", patch(v2, kTransportAt, kZero32), "Invalid private key"},
      {"v1 zero transport key", patch(v1, kV1TransportAt, kZero32), "Invalid private key"},

      {"latest map out of order", splice(latest, kMapAt, 69, "02" + u16_hex(3) + map_key_3 + u16_hex(1) + map_key_1),
       "Collection is not sorted"},
      {"latest map id 0", patch(latest, kMapAt + 1, "0000"), "Zero value in a NonZero type"},
      {"latest map zero key", patch(latest, kMapAt + 3, kZero32), "Invalid public key"},
      {"latest map count too large", patch(latest, kMapAt, "03"), "OutOfBounds"},
      {"latest map count not shortest", splice(latest, kMapAt, 1, "fc02"), "InvalidVarIntEncoding"},
      {"latest repeated map id", splice(latest, kMapAt, 69, "02" + u16_hex(1) + map_key_3 + u16_hex(1) + map_key_1),
       "ok"},
      {"v2 map zero key", patch(v2, kMapAt + 8 + 2, kZero32), "error deserializing bincode"},
      {"v2 map id 0", patch(v2, kMapAt + 8, "0000"), "error deserializing bincode"},
      {"v2 map count too large", patch(v2, kMapAt, "0300000000000000"), "error deserializing bincode"},
      {"v2 map count huge", patch(v2, kMapAt, "ffffffffffffffff"), "error deserializing bincode"},
  };
  run_refusals(cases, ed_outcome);
}

TEST(Ed25519ShareRecords, ExportableRecordRefusals) {
  const std::string e = fixture("exportable").at("record");
  const std::vector<RefusalCase> cases = {
      {"empty", "", "OutOfBounds"},
      {"variant 1", patch(e, 0, "01"), "Invalid discriminant"},
      {"variant not shortest", splice(e, 0, 1, "fc00"), "InvalidVarIntEncoding"},
      {"seed share n", patch(e, kExpSeedAt, kSecpOrder), "Invalid Scalar"},
      {"seed share zero", patch(e, kExpSeedAt, kZero32), "ok"},
      {"seed party id 0", patch(e, kExpSeedIdAt, "0000"), "Zero value in a NonZero type"},
      {"seed threshold 0", patch(e, kExpSeedIdAt + 2, "0000"), "Invalid number of parties"},
      {"seed parties 0", patch(e, kExpSeedCountAt, "0000"), "Invalid number of parties"},
      {"seed parties 8193", patch(e, kExpSeedCountAt, "0120"), "Invalid number of parties"},
      {"commitment prefix 04", patch(e, kExpCommitmentAt, "04"), "Invalid Compressed AffinePoint"},
      {"commitment identity", patch(e, kExpCommitmentAt, "00" + kZero32), "Invalid Compressed AffinePoint"},
      {"frost key with torsion", patch(e, kExpPubkeyAt, kEdTorsion), "Invalid EdwardsPoint"},
      {"frost scalar l", patch(e, kExpScalarAt, kEdOrder), "Invalid Scalar"},
      {"frost party id 0", patch(e, kExpScalarAt + 32, "0000"), "Zero value in a NonZero type"},
      {"frost parties 0", patch(e, kExpScalarAt + 36, "0000"), "Invalid number of parties"},
      {"zero transport key", patch(e, kExpScalarAt + 38, kZero32), "Invalid private key"},
  };
  run_refusals(cases, exp_outcome);
}

// Every cut of every record fails, in the field where it falls.
TEST(Ed25519ShareRecords, EveryTruncationFails) {
  for (const ShareFixture& f : fixtures()) {
    SCOPED_TRACE(f.name());
    const std::string& record = f.at("record");
    const std::size_t size = record.size() / 2;
    for (std::size_t len = 0; len < size; ++len) {
      SCOPED_TRACE(len);
      const std::string cut = record.substr(0, 2 * len);
      if (is_exportable(f)) {
        EXPECT_EQ(exp_outcome(cut), "OutOfBounds");
        continue;
      }
      const int tag = f.num("tag");
      const std::size_t transport_at = tag == 0 ? kV1TransportAt : kTransportAt;
      std::string expected = "OutOfBounds";  // the tag, the transport key, a sorted map
      if (tag != 2 && len >= 4 && len < transport_at) expected = "error deserializing bincode";
      if (tag != 2 && len >= transport_at + 32) expected = "error deserializing bincode";
      EXPECT_EQ(ed_outcome(cut), expected);
    }
  }
}

// Any byte of any record replaced: the reader fails cleanly or reads a share
// that re-encodes to a text it reads back the same.
TEST(Ed25519ShareRecords, CorruptedBytesNeverBreakTheReader) {
  for (const ShareFixture& f : fixtures()) {
    SCOPED_TRACE(f.name());
    const std::string& record = f.at("record");
    for (std::size_t at = 0; at < record.size() / 2; ++at) {
      for (const char* byte : {"ff", "00", "80"}) {
        const std::string text = patch(record, at, byte);
        if (is_exportable(f)) {
          auto share = exportable_ed25519_share_decode(text);
          if (!share) continue;
          auto again = exportable_ed25519_share_decode(exportable_ed25519_share_encode(*share));
          ASSERT_TRUE(again.has_value()) << at;
          EXPECT_EQ(*again, *share) << at;
        } else {
          auto share = ed25519_share_decode(text);
          if (!share) continue;
          auto again = ed25519_share_decode(ed25519_share_encode(*share));
          ASSERT_TRUE(again.has_value()) << at;
          EXPECT_EQ(*again, *share) << at;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Upgrade and key shares.

TEST(Ed25519ShareUpgrade, V1ChainCodeIsBlake3OfTheGroupKeyAndMatchesV2) {
  const Ed25519StorableSecretShare v1 = decode("ed_v1");
  const Ed25519StorableSecretShare v2 = decode("ed_v2");
  ASSERT_EQ(v1.tag(), Ed25519ShareTag::V1);
  const Ed25519SecretShareV2 upgraded = ed25519_share_upgrade_v1_v2(std::get<Ed25519SecretShareV1>(v1.key_share));
  EXPECT_EQ(hex(upgraded.chain_code), fixture("ed_v1").at("chain_code"));
  EXPECT_EQ(upgraded, std::get<Ed25519SecretShareV2>(v2.key_share));
  // Decoding did not upgrade the record.
  EXPECT_EQ(ed25519_share_encode(v1), fixture("ed_v1").at("canonical"));
}

// The chain code depends only on the group key: another party's V1 share of
// the same key gets the same one.
TEST(Ed25519ShareUpgrade, EveryPartyOfTheKeyDerivesTheSameChainCode) {
  const ShareFixture& f = fixture("ed_v1");
  for (const auto& [id, share_hex] : test::parse_id_list(f.at("shares"))) {
    SCOPED_TRACE(id);
    const std::string record = patch(patch(f.at("record"), kV1ScalarAt, share_hex), kV1ScalarAt + 32, u16_hex(id));
    auto share = ed25519_share_decode(record);
    ASSERT_TRUE(share.has_value());
    auto key = ed25519_share_to_keypair(*share);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(hex(key->get().chain_code), f.at("chain_code"));
    EXPECT_EQ(hex(key->get().secret_share.as_span()), share_hex);
  }
}

TEST(Ed25519ShareToKeyPair, EveryTagGivesTheRecordsKeyShare) {
  for (const char* name : {"ed_v1", "ed_v2", "ed_latest"}) {
    SCOPED_TRACE(name);
    const Ed25519StorableSecretShare share = decode(name);
    auto key = ed25519_share_to_keypair(share);
    ASSERT_TRUE(key.has_value());
    expect_fixture_keyshare(key->get(), fixture(name));
    const bool latest = share.tag() == Ed25519ShareTag::Latest;
    EXPECT_EQ(key->is_borrowed(), latest);
    if (latest) {
      EXPECT_EQ(&key->get(), &std::get<frost::FrostKeyShare>(share.key_share));
    }
  }
}

// The fixed 128-byte area: the record-order fields, then zeros; the Latest
// record's body holds the same 102 bytes.
TEST(Ed25519ShareToKeyPair, KeyShareEncodingLayout) {
  const ShareFixture& f = fixture("ed_latest");
  const Ed25519StorableSecretShare share = decode("ed_latest");
  const auto area = frost_keyshare_encode(std::get<frost::FrostKeyShare>(share.key_share));
  EXPECT_EQ(hex(area.span()), fixture_keyshare_hex(f) + std::string(2 * (128 - 102), '0'));
  EXPECT_EQ(fixture_keyshare_hex(f), f.at("record").substr(2 * kPubkeyAt, 2 * 102));
  auto back = frost_keyshare_decode(area);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, std::get<frost::FrostKeyShare>(share.key_share));
}

// A fixed-width record may carry party counts no key share can hold; using
// such a share is an error, not a stop of the process.
TEST(Ed25519ShareToKeyPair, OversizedFixedWidthCountsAreAnInvalidKeyShare) {
  const std::vector<std::string> records = {patch(fixture("ed_v2").at("record"), kThresholdAt, u16_hex(9000)),
                                            patch(fixture("ed_v1").at("record"), kV1ThresholdAt + 2, "ffff")};
  for (const std::string& record : records) {
    auto share = ed25519_share_decode(record);
    ASSERT_TRUE(share.has_value());
    auto key = ed25519_share_to_keypair(*share);
    ASSERT_FALSE(key.has_value());
    EXPECT_TRUE(key.error().inner().is<ExecutorErrorKind::InvalidKeyShare>());
    const std::vector<std::uint32_t> path = {1};
    auto child = ed25519_share_derive_child(*share, path);
    ASSERT_FALSE(child.has_value());
    EXPECT_TRUE(child.error().inner().is<ExecutorErrorKind::InvalidKeyShare>());
  }
}

std::vector<std::uint32_t> parse_path(const std::string& text) {
  std::vector<std::uint32_t> out;
  if (text == "-") return out;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, '/')) out.push_back(static_cast<std::uint32_t>(std::stoul(item)));
  return out;
}

TEST(Ed25519ShareDeriveChild, ChildKeySharesMatchIndependentDerivation) {
  for (const char* name : {"ed_v1", "ed_v2", "ed_latest"}) {
    const ShareFixture& f = fixture(name);
    const Ed25519StorableSecretShare share = decode(name);
    for (const std::string& line : f.derives) {
      SCOPED_TRACE(std::string(name) + " " + line);
      std::stringstream ss(line);
      std::string path, secret, pubkey, chain_code, fingerprint;
      int depth = 0;
      std::uint32_t child_number = 0;
      ss >> path >> secret >> pubkey >> chain_code >> depth >> fingerprint >> child_number;
      auto child = ed25519_share_derive_child(share, parse_path(path));
      ASSERT_TRUE(child.has_value()) << child.error().display();
      EXPECT_EQ(hex(child->key_share.secret_share.as_span()), secret);
      EXPECT_EQ(hex(child->key_share.public_key.to_bytes()), pubkey);
      EXPECT_EQ(hex(child->key_share.chain_code), chain_code);
      EXPECT_EQ(child->depth, depth);
      EXPECT_EQ(hex(child->parent_fingerprint), fingerprint);
      EXPECT_EQ(child->child_number, child_number);
      EXPECT_EQ(child->key_share.party_id.value(), f.num("party_id"));
      EXPECT_EQ(child->key_share.threshold, f.num("threshold"));
      EXPECT_EQ(child->key_share.num_parties, f.num("num_parties"));
    }
  }
}

// Share by share: any two parties' child shares, Lagrange-weighted, give the
// child secret of the child public key, the key the spub derivation gives.
TEST(Ed25519ShareDeriveChild, ChildSharesCombineToTheChildKey) {
  const ShareFixture& f = fixture("ed_latest");
  const std::map<int, std::string> shares = test::parse_id_list(f.at("shares"));
  const std::vector<std::uint32_t> path = {3, 0, 2147483647};

  std::map<int, crypto::EdScalar> child_shares;
  crypto::EdPoint child_key;
  for (const auto& [id, share_hex] : shares) {
    const std::string record = patch(patch(f.at("record"), kV2ScalarAt, share_hex), kPartyIdAt, u16_hex(id));
    auto share = ed25519_share_decode(record);
    ASSERT_TRUE(share.has_value());
    auto child = ed25519_share_derive_child(*share, path);
    ASSERT_TRUE(child.has_value());
    child_shares.emplace(id, child->key_share.secret_share);
    child_key = child->key_share.public_key;
  }

  auto spub = frost::parse_spub([&] {
    frost::ExtendedEd25519Key root;
    root.public_key = frost::EdCurvePoint::from_point(*crypto::EdPoint::from_bytes(unhex(f.at("pubkey"))));
    root.chain_code = crypto::ByteArray<32>{};
    std::copy_n(unhex(f.at("chain_code")).begin(), 32, root.chain_code.begin());
    std::string text;
    frost::spub_encode(root, text);
    return text;
  }());
  ASSERT_TRUE(spub.has_value());
  auto from_spub = frost::spub_derive_path(*spub, path);
  ASSERT_TRUE(from_spub.has_value());
  EXPECT_EQ(from_spub->key.public_key.to_bytes(), child_key.to_bytes());

  for (auto [a, b] : {std::pair{1, 2}, {1, 3}, {2, 3}}) {
    SCOPED_TRACE(std::to_string(a) + "," + std::to_string(b));
    const auto sa = crypto::EdScalar::from_u64(a), sb = crypto::EdScalar::from_u64(b);
    const crypto::EdScalar la = sb * (sb - sa).invert();
    const crypto::EdScalar lb = sa * (sa - sb).invert();
    const crypto::EdScalar x = la * child_shares.at(a) + lb * child_shares.at(b);
    EXPECT_EQ(crypto::EdPoint::base_mul(x), child_key);
  }
}

TEST(Ed25519ShareDeriveChild, HardenedIndexIsAnInvalidDerivationPath) {
  const Ed25519StorableSecretShare share = decode("ed_v1");
  struct Case {
    std::vector<std::uint32_t> path;
    const char* text;
  };
  const Case cases[] = {
      {{2147483648u}, "The derivation path contains an invalid derivation: `2147483648`"},
      {{1, 2147483649u}, "The derivation path contains an invalid derivation: `1/2147483649`"},
  };
  for (const Case& c : cases) {
    auto child = ed25519_share_derive_child(share, c.path);
    ASSERT_FALSE(child.has_value());
    EXPECT_TRUE(child.error().inner().is<ExecutorErrorKind::InvalidDerivationPath>());
    EXPECT_EQ(child.error().display(), c.text);
    EXPECT_EQ(child.error().manager_err(), nullptr);
  }
}

}  // namespace
}  // namespace velto::executor
