// The fixed-width form of the older ECDSA records and the V1 to V2 upgrade,
// against values computed independently (testdata/share_ecdsa_records.txt:
// chain codes from PyPI blake3, points from coincurve).
#include "executor/compat.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "executor/api_type.hpp"
#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using test::hex;
using test::share_fixture;
using test::share_fixtures;
using test::unhex;

EcdsaSecretShareV1 decode_v1(const std::string& name) {
  auto share = ecdsa_share_decode(share_fixture(name).at("record"));
  if (!share) throw std::runtime_error("fixture does not decode: " + name);
  return std::get<EcdsaSecretShareV1>(share->key_share);
}

TEST(EcdsaV1Upgrade, ChainCodeIsTheBlake3DerivedKeyOfTheUncompressedGroupKey) {
  for (const auto& f : share_fixtures()) {
    if (f.num("tag") != 0) continue;
    SCOPED_TRACE(f.name());
    const EcdsaSecretShareV1 v1 = decode_v1(f.name());
    const EcdsaSecretShareV2 v2 = ecdsa_share_upgrade_v1_v2(v1);
    EXPECT_EQ(hex(v2.chain_code), f.at("chain_code"));
    EXPECT_TRUE(v2.secret_share == v1.secret_share);
    EXPECT_TRUE(v2.public_key == v1.public_key);
    EXPECT_EQ(v2.party_id, v1.party_id);
    EXPECT_EQ(v2.threshold, v1.threshold);
    EXPECT_EQ(v2.num_parties, v1.num_parties);
  }
}

TEST(EcdsaV1Upgrade, EveryPartyOfTheKeyDerivesTheSameChainCode) {
  const EcdsaSecretShareV1 mine = decode_v1("v1");
  EcdsaSecretShareV1 theirs = mine;
  theirs.secret_share = crypto::Scalar::from_u64(12345);
  theirs.party_id = PartyId::unchecked(3);
  EXPECT_EQ(ecdsa_share_upgrade_v1_v2(theirs).chain_code, ecdsa_share_upgrade_v1_v2(mine).chain_code);
}

TEST(EcdsaV1Upgrade, UncompressedGroupKeyOfOlderShares) {
  const auto& f = share_fixture("v1");
  const EcdsaSecretShareV1 v1 = decode_v1("v1");
  EXPECT_EQ(hex(upgrade_share_public_key(v1)), f.at("pubkey_uncompressed"));
  EXPECT_EQ(hex(sec1_uncompressed_pubkey(ecdsa_share_upgrade_v1_v2(v1))), f.at("pubkey_uncompressed"));
}

// The length-prefixed SEC1 point: which first bytes and lengths are read, and
// that a read consumes exactly the length and the encoding.
TEST(FixedWidthForm, PointEncodings) {
  const auto& f = share_fixture("v1");
  const std::string compressed = f.at("pubkey");
  const std::string uncompressed = f.at("pubkey_uncompressed");
  const std::string x = compressed.substr(2);
  std::string off_curve = uncompressed;
  off_curve[129] = off_curve[129] == '0' ? '1' : '0';
  const std::string p = "fffffffffffffffffffffffffffffffffffffffffffffffffffffffefffffc2f";

  struct Case {
    const char* name;
    std::string bytes;                 // length prefix and encoding
    std::optional<std::string> point;  // compressed result, nothing for a refusal
  };
  const std::vector<Case> cases = {
      {"02/03 with length 33", "2100000000000000" + compressed, compressed},
      {"04 with length 65", "4100000000000000" + uncompressed, compressed},
      {"05 with length 33: x with even y", "2100000000000000" "05" + x, "02" + x},
      {"identity: 00 with length 1", "0100000000000000" "00", std::nullopt},
      {"02/03 with length 65", "4100000000000000" + compressed + std::string(64, '0'), std::nullopt},
      {"04 with length 33", "2100000000000000" "04" + x, std::nullopt},
      {"04 off the curve", "4100000000000000" + off_curve, std::nullopt},
      {"hybrid 06", "4100000000000000" "06" + uncompressed.substr(2), std::nullopt},
      {"x = p", "2100000000000000" "02" + p, std::nullopt},
      {"length 0", "0000000000000000", std::nullopt},
      {"length beyond the input", "2200000000000000" + compressed, std::nullopt},
      {"length cut short", "21000000", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    crypto::Bytes bytes = unhex(c.bytes);
    bytes.push_back(0xAA);  // a following field is not touched
    sised::Decoder d(bytes);
    const std::optional<crypto::Point> point = fixed_width::read_point(d);
    if (!c.point) {
      EXPECT_FALSE(point.has_value());
      continue;
    }
    ASSERT_TRUE(point.has_value());
    EXPECT_EQ(hex(point->to_compressed()), *c.point);
    EXPECT_EQ(d.remaining(), 1u);
  }
}

TEST(FixedWidthForm, PointWriterUsesCompressedFormAndOneByteIdentity) {
  const auto& f = share_fixture("v1");
  struct Case {
    const char* name;
    crypto::Point point;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"key", *crypto::Point::from_compressed(unhex(f.at("pubkey"))), "2100000000000000" + f.at("pubkey")},
      {"identity", crypto::Point::identity(), "0100000000000000" "00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    crypto::Bytes out;
    sised::Sink sink = sised::Sink::buffer(out);
    fixed_width::write_point(sink, c.point);
    EXPECT_EQ(hex(out), c.bytes);
    EXPECT_EQ(fixed_width::point_size(c.point), out.size());
  }
}

TEST(FixedWidthForm, PartyCountsFromOneTo8192) {
  struct Case {
    const char* bytes;
    std::optional<std::uint16_t> value;
  };
  const std::vector<Case> cases = {
      {"0000", std::nullopt}, {"0100", 1},           {"0020", 8192},
      {"0120", std::nullopt}, {"ffff", std::nullopt}, {"01", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const crypto::Bytes bytes = unhex(c.bytes);
    sised::Decoder d(bytes);
    EXPECT_EQ(fixed_width::read_party_count(d), c.value);
  }
}

}  // namespace
}  // namespace velto::executor
