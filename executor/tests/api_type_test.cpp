// The ECDSA share record of every tag against records assembled by hand from
// the layout tables (testdata/share_ecdsa_records.txt): the decoded fields,
// the re-encoded text, the text frame, and the refusals of truncated and
// corrupted records.
#include "executor/api_type.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using test::hex;
using test::patch;
using test::share_fixture;
using test::share_fixtures;
using test::splice;
using test::unhex;

constexpr const char* kOk = "ok";
constexpr const char* kInvalidHex = "InvalidHex";
constexpr const char* kOutOfBounds = "OutOfBounds";
constexpr const char* kBadVarint = "InvalidVarIntEncoding";
constexpr const char* kBincode = "error deserializing bincode";
constexpr const char* kDiscriminant = "Invalid discriminant";
constexpr const char* kScalar = "Invalid Scalar";
constexpr const char* kPoint = "Invalid Compressed AffinePoint";
constexpr const char* kZero = "Zero value in a NonZero type";
constexpr const char* kParties = "Invalid number of parties";
constexpr const char* kPrivateKey = "Invalid private key";
constexpr const char* kPublicKey = "Invalid public key";
constexpr const char* kNotSorted = "Collection is not sorted";

const std::string kN = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
const std::string kP = "fffffffffffffffffffffffffffffffffffffffffffffffffffffffefffffc2f";
const std::string kZero32 = std::string(64, '0');

// "ok", "InvalidHex", the SisedError kind, or the text of a Custom error.
std::string outcome_of(const std::expected<EcdsaStorableSecretShare, sised::SisedError>& r) {
  if (r) return kOk;
  switch (r.error().kind()) {
    case sised::SisedError::Kind::OutOfBounds:
      return kOutOfBounds;
    case sised::SisedError::Kind::InvalidVarIntEncoding:
      return kBadVarint;
    case sised::SisedError::Kind::HeapSizeLimitExceeded:
      return "HeapSizeLimitExceeded";
    case sised::SisedError::Kind::Custom:
      return r.error().custom_text();
  }
  return "?";
}

std::string outcome_of(const std::expected<EcdsaStorableSecretShare, ShareArgError>& r) {
  if (r) return kOk;
  if (r.error().is<ShareArgError::InvalidHex>()) return kInvalidHex;
  return outcome_of(std::expected<EcdsaStorableSecretShare, sised::SisedError>(
      std::unexpect, r.error().get_if<ShareArgError::InvalidShare>()->error));
}

std::string decode_outcome(const std::string& text) { return outcome_of(ecdsa_share_decode(text)); }

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// The core fields of any variant, the chain code where the variant has one.
struct Core {
  const crypto::Scalar* secret;
  const crypto::Point* public_key;
  const crypto::ByteArray<32>* chain_code;
  PartyId party_id;
  std::uint16_t threshold;
  std::uint16_t num_parties;
};

Core core_of(const EcdsaStorableSecretShare& share) {
  return std::visit(
      [](const auto& s) -> Core {
        using T = std::remove_cvref_t<decltype(s)>;
        if constexpr (std::is_same_v<T, EcdsaSecretShareV1>) {
          return {&s.secret_share, &s.public_key, nullptr, s.party_id, s.threshold, s.num_parties};
        } else if constexpr (std::is_same_v<T, EcdsaSecretShareV2>) {
          return {&s.secret_share, &s.public_key, &s.chain_code, s.party_id, s.threshold, s.num_parties};
        } else if constexpr (std::is_same_v<T, KeyPairV1_1_0>) {
          const ecdsa::KeyPair& k = s.key_pair;
          return {&k.secret_share, &k.public_key, &k.chain_code, k.party_id, k.threshold, k.num_parties};
        } else {
          return {&s.secret_share, &s.public_key, &s.chain_code, s.party_id, s.threshold, s.num_parties};
        }
      },
      share.key_share);
}

template <class Map>
std::map<int, std::string> state_hashes(const Map& map) {
  std::map<int, std::string> out;
  for (const auto& [id, block] : map) out[id.value()] = hex(crypto::Blake3::hasher().update(block.bytes()).finalize());
  return out;
}

TEST(EcdsaShareRecord, FixturesDecodeToTheFieldsTheyWereBuiltFrom) {
  for (const auto& f : share_fixtures()) {
    SCOPED_TRACE(f.name());
    auto share = ecdsa_share_decode(f.at("record"));
    ASSERT_TRUE(share) << share.error().debug();
    EXPECT_EQ(static_cast<int>(share->tag()), f.num("tag"));

    const Core core = core_of(*share);
    EXPECT_EQ(hex(core.secret->to_bytes()), f.at("secret"));
    EXPECT_EQ(hex(core.public_key->to_compressed()), f.at("pubkey"));
    EXPECT_EQ(hex(core.public_key->to_uncompressed()), f.at("pubkey_uncompressed"));
    if (core.chain_code != nullptr) {
      EXPECT_EQ(hex(*core.chain_code), f.at("chain_code"));
    }
    EXPECT_EQ(core.party_id.value(), f.num("party_id"));
    EXPECT_EQ(core.threshold, f.num("threshold"));
    EXPECT_EQ(core.num_parties, f.num("num_parties"));

    EXPECT_EQ(hex(share->transport_keypair.private_key().span()), f.at("transport_private"));
    EXPECT_EQ(hex(share->transport_keypair.public_key().span()), f.at("transport_public"));

    std::map<int, std::string> map;
    for (const auto& [id, key] : share->partyid_pubkey_map) map[id.value()] = hex(key.span());
    EXPECT_EQ(map, test::parse_id_list(f.at("map")));

    const auto* v1_1_0 = std::get_if<KeyPairV1_1_0>(&share->key_share);
    if (f.has("sender_states")) {
      ASSERT_NE(v1_1_0, nullptr);
      ASSERT_TRUE(v1_1_0->setup_states.has_value());
      EXPECT_EQ(state_hashes(v1_1_0->setup_states->sender_states), test::parse_id_list(f.at("sender_states")));
      EXPECT_EQ(state_hashes(v1_1_0->setup_states->receiver_states), test::parse_id_list(f.at("receiver_states")));
    } else if (v1_1_0 != nullptr) {
      EXPECT_FALSE(v1_1_0->setup_states.has_value());
    }
  }
}

// Each record re-encodes to its canonical text: byte for byte for records in
// canonical form; trailing bytes dropped, the counted map in id order, the
// fixed-width point compressed, a repeated map id collapsed otherwise.
TEST(EcdsaShareRecord, FixturesReencodeToTheirCanonicalText) {
  for (const auto& f : share_fixtures()) {
    SCOPED_TRACE(f.name());
    auto share = ecdsa_share_decode(f.at("record"));
    ASSERT_TRUE(share);
    EXPECT_EQ(ecdsa_share_encode(*share), f.at("canonical"));
    auto again = ecdsa_share_decode(f.at("canonical"));
    ASSERT_TRUE(again);
    EXPECT_TRUE(*again == *share);
  }
}

TEST(EcdsaShareRecord, UpperCaseTextReadsAsLowerCaseAndWritesLowerCase) {
  for (const char* name : {"v1", "v2", "v1_1_0", "latest"}) {
    SCOPED_TRACE(name);
    const auto& f = share_fixture(name);
    auto lower = ecdsa_share_decode(f.at("record"));
    auto upper_case = ecdsa_share_decode(upper(f.at("record")));
    ASSERT_TRUE(lower);
    ASSERT_TRUE(upper_case);
    EXPECT_TRUE(*lower == *upper_case);
    EXPECT_EQ(ecdsa_share_encode(*upper_case), f.at("canonical"));
  }
}

TEST(EcdsaShareRecord, TextFrameErrors) {
  const std::string latest = share_fixture("latest").at("record");
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"empty text: empty record", "", kOutOfBounds},
      {"three bytes: no whole tag", "030000", kOutOfBounds},
      {"odd length of hex digits", latest.substr(0, 9), kInvalidHex},
      {"odd length, one character short", latest.substr(1), kInvalidHex},
      {"g in an even-length text", patch(latest, 50, "0g"), kInvalidHex},
      {"space", patch(latest, 1, " 0"), kInvalidHex},
      {"non-ASCII byte", patch(latest, 2, "\xc3\xa9"), kInvalidHex},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_outcome(c.text), c.expected);
  }

  // How the two variants read at the function interface.
  auto bad_hex = ecdsa_share_decode("0");
  ASSERT_FALSE(bad_hex);
  EXPECT_EQ(bad_hex.error().display(), "Invalid hex encoding");
  EXPECT_EQ(bad_hex.error().source(), nullptr);
  auto bad_record = ecdsa_share_decode(patch(latest, 0, "04"));
  ASSERT_FALSE(bad_record);
  EXPECT_EQ(bad_record.error().display(), "Invalid secret share: Invalid discriminant");
  ASSERT_NE(bad_record.error().source(), nullptr);
  EXPECT_EQ(bad_record.error().source()->debug(), "Custom(\"Invalid discriminant\")");
}

// The offline exports read an array of share texts: every element is checked
// and decoded in order, and the first failure is the result.
TEST(EcdsaShareRecord, ArraysOfShareTexts) {
  struct TextArg {
    const char* ptr;
    std::size_t len;
  };
  const std::string v1 = share_fixture("v1").at("record");
  const std::string latest = share_fixture("latest").at("record");
  const std::string bad_hex = "0";
  const std::string not_utf8 = "ab\xff";
  const TextArg good1{v1.data(), v1.size()};
  const TextArg good2{latest.data(), latest.size()};

  const std::vector<TextArg> both = {good1, good2};
  auto shares = ecdsa_share_decode_array(std::span<const TextArg>(both));
  ASSERT_TRUE(shares);
  ASSERT_EQ(shares->size(), 2u);
  EXPECT_EQ((*shares)[0].tag(), EcdsaShareTag::V1);
  EXPECT_EQ((*shares)[1].tag(), EcdsaShareTag::Latest);

  struct Case {
    const char* name;
    std::vector<TextArg> texts;
    const char* debug;
  };
  const std::vector<Case> cases = {
      {"null pointer with a length", {good1, {nullptr, 4}}, "NullPointerNonNullLength { len: 4 }"},
      {"not UTF-8", {{not_utf8.data(), not_utf8.size()}, good2},
       "UTF8(Utf8Error { valid_up_to: 2, error_len: Some(1) })"},
      {"first failure wins", {good1, {bad_hex.data(), 1}, {nullptr, 4}}, "Decode(InvalidHex)"},
      {"empty text", {good1, {nullptr, 0}}, "Decode(InvalidShare(OutOfBounds))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = ecdsa_share_decode_array(std::span<const TextArg>(c.texts));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().debug(), c.debug);
  }
}

// Offsets are those of the layout tables: V1 (compressed point) scalar 4,
// point length 36, point 44, party id 77, threshold 79, number of parties 81,
// private key 83, map count 115, entries 123; V2 the same with the chain code
// at 77 and everything after it 32 bytes later; Latest scalar 4, point 36,
// chain code 69, ids 101/103/105, private key 107, map count 139, entries
// 140; V1_1_0 as Latest with the state flag at 107 and the tail one byte
// later.
TEST(EcdsaShareRecord, CorruptedRecordsGiveTheirErrors) {
  const std::string v1 = share_fixture("v1").at("record");
  const std::string v2 = share_fixture("v2").at("record");
  const std::string latest = share_fixture("latest").at("record");
  const std::string v110 = share_fixture("v1_1_0").at("record");
  const std::string states = share_fixture("v1_1_0_states").at("record");
  // V1_1_0 with states: sender count 108, entries at 109 and 12495 (id, then
  // 12,384 bytes), receiver count 24881, entry at 24882 (id, 8,224 bytes),
  // private key 33108.
  const std::string zero_key = kZero32;
  const std::string small_order_key = "01" + std::string(62, '0');

  struct Case {
    const char* name;
    std::string record;
    const char* expected;
  };
  const std::vector<Case> cases = {
      // Tags.
      {"tag 4", patch(latest, 0, "04000000"), kDiscriminant},
      {"tag 2^32 - 1", patch(v1, 0, "ffffffff"), kDiscriminant},
      {"tag 256: the tag is four bytes", patch(v1, 0, "00010000"), kDiscriminant},

      // Secret share scalar.
      {"V1 scalar n", patch(v1, 4, kN), kBincode},
      {"V2 scalar n", patch(v2, 4, kN), kBincode},
      {"Latest scalar n", patch(latest, 4, kN), kScalar},
      {"V1_1_0 scalar 2^256 - 1", patch(v110, 4, std::string(64, 'f')), kScalar},

      // Group key, fixed-width form.
      {"V1 point length 65 over a compressed point", patch(v1, 36, "4100000000000000"), kBincode},
      {"V1 prefix 04 with length 33", patch(v1, 44, "04"), kBincode},
      {"V1 hybrid prefix 06", patch(v1, 44, "06"), kBincode},
      {"V1 x = p", patch(v1, 45, kP), kBincode},
      {"V1 point length 0", patch(v1, 36, "0000000000000000"), kBincode},
      {"V1 point length 2^64 - 1", patch(v1, 36, "ffffffffffffffff"), kBincode},
      {"V2 point length beyond the record", patch(v2, 36, "0000010000000000"), kBincode},
      // Group key, sised form.
      {"Latest prefix 04", patch(latest, 36, "04"), kPoint},
      {"Latest x = p", patch(latest, 37, kP), kPoint},
      {"Latest identity as 33 zero bytes", patch(latest, 36, "00" + kZero32), kPoint},
      {"V1_1_0 identity as 33 zero bytes", patch(v110, 36, "00" + kZero32), kPoint},

      // Party id, threshold, number of parties.
      {"V1 party id 0", patch(v1, 77, "0000"), kBincode},
      {"V2 party id 0", patch(v2, 109, "0000"), kBincode},
      {"Latest party id 0", patch(latest, 101, "0000"), kZero},
      {"V1_1_0 party id 0", patch(v110, 101, "0000"), kZero},
      {"V2 threshold 0", patch(v2, 111, "0000"), kBincode},
      {"Latest threshold 0", patch(latest, 103, "0000"), kParties},
      {"V1 number of parties 0", patch(v1, 81, "0000"), kBincode},
      {"Latest number of parties 0", patch(latest, 105, "0000"), kParties},
      {"Latest threshold 8193", patch(latest, 103, "0120"), kParties},
      {"Latest number of parties 8193", patch(latest, 105, "0120"), kParties},
      {"V1_1_0 number of parties 65535", patch(v110, 105, "ffff"), kParties},

      // Transport private key.
      {"V1 private key all zero", patch(v1, 83, zero_key), kPrivateKey},
      {"V2 private key all zero", patch(v2, 115, zero_key), kPrivateKey},
      {"Latest private key all zero", patch(latest, 107, zero_key), kPrivateKey},
      {"V1_1_0 private key all zero", patch(v110, 108, zero_key), kPrivateKey},
      {"V1_1_0 with states, private key all zero", patch(states, 33108, zero_key), kPrivateKey},

      // Counted map.
      {"V1 map count 3 over 2 entries", patch(v1, 115, "0300000000000000"), kBincode},
      {"V1 map count 2^64 - 1", patch(v1, 115, "ffffffffffffffff"), kBincode},
      {"V1 map id 0", patch(v1, 123, "0000"), kBincode},
      {"V1 map key all zero", patch(v1, 125, zero_key), kBincode},
      {"V2 map key of small order", patch(v2, 157, small_order_key), kBincode},
      // Sorted map.
      {"Latest map count 3 over 2 entries", patch(latest, 139, "03"), kOutOfBounds},
      {"Latest map count 2^32 - 1, no entries", latest.substr(0, 2 * 139) + "ffffffffff", kOutOfBounds},
      {"Latest map id 0", patch(latest, 140, "0000"), kZero},
      {"Latest map key all zero", patch(latest, 142, zero_key), kPublicKey},
      {"Latest map key of small order", patch(latest, 142, small_order_key), kPublicKey},
      {"Latest map ids 3 then 1", patch(patch(latest, 140, "0300"), 174, "0100"), kNotSorted},
      {"Latest map count FC 02", splice(latest, 139, 1, "fc02"), kBadVarint},
      {"Latest map count FD 02 00", splice(latest, 139, 1, "fd0200"), kBadVarint},
      {"V1_1_0 map id 0", patch(v110, 141, "0000"), kZero},

      // V1_1_0 set-up states.
      {"state flag 2", patch(v110, 107, "02"), kDiscriminant},
      {"state flag FC 01", splice(v110, 107, 1, "fc01"), kBadVarint},
      {"sender state id 0", patch(states, 109, "0000"), kZero},
      {"sender state ids 5 then 3", patch(states, 109, "0500"), kNotSorted},
      {"sender state count 3 over 2 states", patch(states, 108, "03"), kOutOfBounds},
      {"receiver state id 0", patch(states, 24882, "0000"), kZero},
      {"receiver state count 2 over 1 state", patch(states, 24881, "02"), kOutOfBounds},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_outcome(c.record), c.expected);
  }
}

// Party counts above 8192 and a group key at the identity are valid in the
// old fixed-width format, but no key pair can hold them: the readers refuse
// them at once so that a stored share never reaches the key-pair conversion
// with them.
TEST(EcdsaShareRecord, OlderRecordsRefuseWhatNoKeyPairCanHold) {
  const std::string v1 = share_fixture("v1").at("record");
  const std::string v2 = share_fixture("v2").at("record");
  // The identity: point length 1 and the byte 00 in place of 8 + 33 bytes.
  const std::string identity = "0100000000000000" "00";
  struct Case {
    const char* name;
    std::string record;
  };
  const std::vector<Case> cases = {
      {"V1 number of parties 8193", patch(v1, 81, "0120")},
      {"V1 threshold 8193", patch(v1, 79, "0120")},
      {"V1 both counts 65535", patch(v1, 79, "ffffffff")},
      {"V2 number of parties 8193", patch(v2, 113, "0120")},
      {"V2 threshold 65535", patch(v2, 111, "ffff")},
      {"V1 identity group key", splice(v1, 36, 41, identity)},
      {"V2 identity group key", splice(v2, 36, 41, identity)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto share = ecdsa_share_decode(c.record);
    ASSERT_FALSE(share);
    ASSERT_TRUE(share.error().is<ShareArgError::InvalidShare>());
    EXPECT_EQ(decode_outcome(c.record), kBincode);
  }
  // The largest counts that fit are read (fixture v2_largest_counts holds 8192
  // and 8192 with party id 65535).
  auto largest = ecdsa_share_decode(share_fixture("v2_largest_counts").at("record"));
  ASSERT_TRUE(largest);
  EXPECT_EQ(std::get<EcdsaSecretShareV2>(largest->key_share).num_parties, 8192);
}

TEST(EcdsaShareRecord, AnEqualStateIdReplacesTheEarlierState) {
  const auto& f = share_fixture("v1_1_0_states");
  const auto sender = test::parse_id_list(f.at("sender_states"));
  // Second sender state renumbered from 3 to 1.
  auto share = ecdsa_share_decode(patch(f.at("record"), 12495, "0100"));
  ASSERT_TRUE(share);
  const auto& kp = std::get<KeyPairV1_1_0>(share->key_share);
  ASSERT_TRUE(kp.setup_states);
  EXPECT_EQ(state_hashes(kp.setup_states->sender_states), (std::map<int, std::string>{{1, sender.at(3)}}));
}

// Every proper prefix of a record fails, and where it ends decides how: the
// tag and everything of the sised form report OutOfBounds; the fixed-width
// body and counted map report their one text, while the transport private
// key, read outside that reader, reports OutOfBounds.
TEST(EcdsaShareRecord, TruncatedRecordsFail) {
  for (const auto& f : share_fixtures()) {
    if (f.name().find("trailing") != std::string::npos) continue;
    SCOPED_TRACE(f.name());
    const crypto::Bytes record = unhex(f.at("record"));
    const bool fixed_width = f.num("tag") < 2;
    const std::size_t map_entries = test::parse_id_list(f.at("map")).size();
    const std::size_t private_key_at = record.size() - (8 + 34 * map_entries) - 32;
    // Long records: every 61st length and the last 300.
    const std::size_t step = record.size() > 4096 ? 61 : 1;
    for (std::size_t len = 0; len < record.size(); len += (len + 300 < record.size() ? step : 1)) {
      std::string expected = kOutOfBounds;
      if (fixed_width && len >= 4 && !(len >= private_key_at && len < private_key_at + 32)) expected = kBincode;
      auto r = sised::decode<EcdsaStorableSecretShare>(crypto::ByteSpan(record.data(), len));
      ASSERT_EQ(outcome_of(r), expected) << "length " << len;
    }
  }
}

// Encoding never changes a variant: a V1 value is written as V1, and the
// identity of a hand-built value is written in the fixed-width identity form
// (which the reader then refuses).
TEST(EcdsaShareRecord, EncoderWritesTheValuesVariantAsItIs) {
  auto share = ecdsa_share_decode(share_fixture("v1").at("record"));
  ASSERT_TRUE(share);
  std::get<EcdsaSecretShareV1>(share->key_share).public_key = crypto::Point::identity();
  const std::string text = ecdsa_share_encode(*share);
  EXPECT_EQ(text.substr(0, 8), "00000000");
  EXPECT_EQ(text.substr(2 * 36, 18), "010000000000000000");
  EXPECT_EQ(text.size(), share_fixture("v1").at("canonical").size() - 64);
  EXPECT_EQ(decode_outcome(text), kBincode);
}

}  // namespace
}  // namespace velto::executor
