// Key pairs from stored ECDSA shares: the conversion of every tag, the
// 128-byte key-pair encoding, and child derivation against BIP32 computed
// independently (testdata/share_ecdsa_records.txt).
#include "executor/ecdsa_share.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using test::hex;
using test::patch;
using test::share_fixture;
using test::unhex;

EcdsaStorableSecretShare decode(const std::string& name) {
  auto share = ecdsa_share_decode(share_fixture(name).at("record"));
  if (!share) throw std::runtime_error("fixture does not decode: " + name);
  return std::move(*share);
}

// The fixture's key pair fields, written the way the key-pair encoding lays
// them out (103 bytes).
std::string fixture_core_hex(const test::ShareFixture& f) {
  auto u16 = [](int v) { return hex(crypto::ByteArray<2>{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); };
  return f.at("secret") + f.at("pubkey") + f.at("chain_code") + u16(f.num("party_id")) + u16(f.num("threshold")) +
         u16(f.num("num_parties"));
}

void expect_fixture_key_pair(const ecdsa::KeyPair& kp, const test::ShareFixture& f) {
  EXPECT_EQ(hex(kp.secret_share.to_bytes()), f.at("secret"));
  EXPECT_EQ(hex(kp.public_key.to_compressed()), f.at("pubkey"));
  EXPECT_EQ(hex(kp.chain_code), f.at("chain_code"));
  EXPECT_EQ(kp.party_id.value(), f.num("party_id"));
  EXPECT_EQ(kp.threshold, f.num("threshold"));
  EXPECT_EQ(kp.num_parties, f.num("num_parties"));
}

// One key stored under every tag; the V1 record's chain code is derived.
const std::vector<const char*> kSameKey = {"v1", "v2", "v1_1_0", "v1_1_0_states", "latest"};

TEST(EcdsaShareToKeyPair, EveryTagGivesTheSameCurrentKeyPair) {
  for (const char* name : kSameKey) {
    SCOPED_TRACE(name);
    const EcdsaStorableSecretShare share = decode(name);
    const MaybeBorrowed<ecdsa::KeyPair> kp = ecdsa_share_to_keypair(share);
    expect_fixture_key_pair(*kp, share_fixture(name));

    const bool latest = share.tag() == EcdsaShareTag::Latest;
    EXPECT_EQ(kp.is_borrowed(), latest);
    if (latest) {
      EXPECT_EQ(&kp.get(), &std::get<ecdsa::KeyPair>(share.key_share));
    }

    auto present = ecdsa_share_to_keypair_latest(share);
    ASSERT_TRUE(present.has_value());
    EXPECT_EQ(present->get(), kp.get());
  }
}

TEST(EcdsaShareToKeyPair, OlderEngineKeyPairByTag) {
  for (const char* name : kSameKey) {
    SCOPED_TRACE(name);
    const EcdsaStorableSecretShare share = decode(name);
    auto kp = ecdsa_share_to_keypair_v4(share);
    if (share.tag() == EcdsaShareTag::Latest) {
      EXPECT_FALSE(kp.has_value());
      continue;
    }
    ASSERT_TRUE(kp.has_value());
    expect_fixture_key_pair(kp->get().key_pair, share_fixture(name));
    if (share.tag() == EcdsaShareTag::V1_1_0) {
      // The stored key pair itself, set-up states included.
      EXPECT_TRUE(kp->is_borrowed());
      EXPECT_EQ(&kp->get(), &std::get<KeyPairV1_1_0>(share.key_share));
    } else {
      EXPECT_FALSE(kp->is_borrowed());
      EXPECT_FALSE(kp->get().setup_states.has_value());
    }
  }
  // The stored states come along unchanged.
  const EcdsaStorableSecretShare with_states = decode("v1_1_0_states");
  auto kp = ecdsa_share_to_keypair_v4(with_states);
  ASSERT_TRUE(kp && kp->get().setup_states);
  EXPECT_EQ(kp->get().setup_states->sender_states.size(), 2u);
  EXPECT_EQ(kp->get().setup_states->receiver_states.size(), 1u);
}

TEST(EcdsaShareToKeyPair, XpubHelperOfOlderShares) {
  const EcdsaStorableSecretShare v1 = decode("v1");
  const EcdsaStorableSecretShare v2 = decode("v2");
  const KeyPairV1_1_0 from_v1 =
      velto_ecdsa_get_xpub_helper(ecdsa_share_upgrade_v1_v2(std::get<EcdsaSecretShareV1>(v1.key_share)));
  const KeyPairV1_1_0 from_v2 = velto_ecdsa_get_xpub_helper(std::get<EcdsaSecretShareV2>(v2.key_share));
  expect_fixture_key_pair(from_v2.key_pair, share_fixture("v2"));
  EXPECT_FALSE(from_v2.setup_states.has_value());
  EXPECT_EQ(from_v1, from_v2);
}

TEST(KeyPairEncoding, LayoutOfTheFixed128Bytes) {
  const auto& f = share_fixture("latest");
  const std::string core = fixture_core_hex(f);
  const ecdsa::KeyPair kp = std::get<ecdsa::KeyPair>(decode("latest").key_share);

  EXPECT_EQ(hex(keypair_encode(kp).span()), core + "00" + std::string(48, '0'));

  const KeyPairV1_1_0 no_states{kp, std::nullopt};
  auto a = keypair_v1_1_0_encode(no_states);
  ASSERT_TRUE(a);
  EXPECT_EQ(hex(a->span()), core + "00" + std::string(48, '0'));

  // Two empty tables fit: flag 1 and two zero counts.
  const KeyPairV1_1_0 empty_states{kp, PerPeerSetupStates{}};
  auto b = keypair_v1_1_0_encode(empty_states);
  ASSERT_TRUE(b);
  EXPECT_EQ(hex(b->span()), core + "010000" + std::string(44, '0'));
  auto back = keypair_v1_1_0_decode(*b);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, empty_states);

  // Any state does not.
  const EcdsaStorableSecretShare with_states = decode("v1_1_0_states");
  EXPECT_FALSE(keypair_v1_1_0_encode(std::get<KeyPairV1_1_0>(with_states.key_share)).has_value());
}

TEST(KeyPairEncoding, ReadersApplyTheRecordChecks) {
  const ecdsa::KeyPair kp = std::get<ecdsa::KeyPair>(decode("latest").key_share);
  const std::string good = hex(keypair_encode(kp).span());
  const std::string n = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
  struct Case {
    const char* name;
    std::string bytes;
    const char* expected;  // custom text, or "" when both readers accept
  };
  const std::vector<Case> cases = {
      {"as written", good, ""},
      {"scalar n", patch(good, 0, n), "Invalid Scalar"},
      {"point prefix 04", patch(good, 32, "04"), "Invalid Compressed AffinePoint"},
      {"identity point", patch(good, 32, std::string(66, '0')), "Invalid Compressed AffinePoint"},
      {"party id 0", patch(good, 97, "0000"), "Zero value in a NonZero type"},
      {"first count 0", patch(good, 99, "0000"), "Invalid number of parties"},
      {"second count 8193", patch(good, 101, "0120"), "Invalid number of parties"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const crypto::SecretArray<kKeyPairEncodingSize> area(crypto::ByteSpan(unhex(c.bytes)));
    auto current = keypair_decode(area);
    auto older = keypair_v1_1_0_decode(area);
    if (std::string(c.expected).empty()) {
      ASSERT_TRUE(current);
      ASSERT_TRUE(older);
      EXPECT_EQ(*current, kp);
      EXPECT_EQ(older->key_pair, kp);
      continue;
    }
    ASSERT_FALSE(current);
    ASSERT_FALSE(older);
    EXPECT_EQ(current.error().custom_text(), c.expected);
    EXPECT_EQ(older.error().custom_text(), c.expected);
  }
  // The flag is only read by the older engine's reader.
  const crypto::SecretArray<kKeyPairEncodingSize> flag2(crypto::ByteSpan(unhex(patch(good, 103, "02"))));
  EXPECT_TRUE(keypair_decode(flag2));
  auto older = keypair_v1_1_0_decode(flag2);
  ASSERT_FALSE(older);
  EXPECT_EQ(older.error().custom_text(), "Invalid discriminant");
}

std::vector<std::uint32_t> parse_path(const std::string& text) {
  std::vector<std::uint32_t> path;
  if (text == "-") return path;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, '/')) path.push_back(static_cast<std::uint32_t>(std::stoul(item)));
  return path;
}

TEST(EcdsaShareDeriveChild, MatchesBip32PublicDerivationOnEveryTag) {
  for (const char* name : kSameKey) {
    const auto& f = share_fixture(name);
    const EcdsaStorableSecretShare share = decode(name);
    ASSERT_FALSE(f.derives.empty()) << name;
    for (const std::string& line : f.derives) {
      SCOPED_TRACE(std::string(name) + ": " + line);
      std::stringstream ss(line);
      std::string path, secret, pubkey, chain_code, depth, fingerprint, child_number;
      ss >> path >> secret >> pubkey >> chain_code >> depth >> fingerprint >> child_number;

      auto child = ecdsa_share_derive_child(share, parse_path(path));
      ASSERT_TRUE(child) << child.error().display();
      EXPECT_EQ(hex(child->key_pair.secret_share.to_bytes()), secret);
      EXPECT_EQ(hex(child->key_pair.public_key.to_compressed()), pubkey);
      EXPECT_EQ(hex(child->key_pair.chain_code), chain_code);
      EXPECT_EQ(child->depth, std::stoi(depth));
      EXPECT_EQ(hex(child->parent_fingerprint), fingerprint);
      EXPECT_EQ(child->child_number, std::stoul(child_number));
      EXPECT_EQ(child->key_pair.party_id.value(), f.num("party_id"));
      EXPECT_EQ(child->key_pair.threshold, f.num("threshold"));
      EXPECT_EQ(child->key_pair.num_parties, f.num("num_parties"));
    }
  }
}

TEST(EcdsaShareDeriveChild, InvalidPathsAreExecutorFailures) {
  const EcdsaStorableSecretShare share = decode("v1");
  struct Case {
    std::vector<std::uint32_t> path;
    const char* display;
  };
  const std::vector<Case> cases = {
      {{2147483648u}, "The derivation path contains an invalid derivation: `2147483648`"},
      {{1, 2147483649u}, "The derivation path contains an invalid derivation: `1/2147483649`"},
      {{0, 1, 4294967295u}, "The derivation path contains an invalid derivation: `0/1/4294967295`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    auto child = ecdsa_share_derive_child(share, c.path);
    ASSERT_FALSE(child);
    EXPECT_TRUE(child.error().inner().is<ExecutorErrorKind::InvalidDerivationPath>());
    EXPECT_EQ(child.error().manager_err(), nullptr);
    EXPECT_EQ(child.error().display(), c.display);
  }
}

TEST(EcdsaShareDeriveChild, ZeroChildSecretIsAnInvalidPath) {
  EcdsaStorableSecretShare share = decode("latest");
  auto& kp = std::get<ecdsa::KeyPair>(share.key_share);
  const std::vector<std::uint32_t> path = {7};
  auto child = ecdsa_share_derive_child(share, path);
  ASSERT_TRUE(child);
  // A share whose secret is minus the tweak of this path.
  kp.secret_share = kp.secret_share - child->key_pair.secret_share;
  auto zero = ecdsa_share_derive_child(share, path);
  ASSERT_FALSE(zero);
  EXPECT_EQ(zero.error().display(), "The derivation path contains an invalid derivation: `7`");
}

// Whatever a stored text holds, it either fails to decode or converts without
// a panic: every byte of each small record set to 00, FF and with its low and
// high bit flipped.
TEST(EcdsaShareToKeyPair, DecodedSharesNeverPanic) {
  std::size_t decoded = 0;
  for (const char* name : {"v1", "v2", "v2_uncompressed_point", "v2_largest_counts", "v1_1_0",
                           "v1_1_0_empty_states", "latest", "latest_zero_secret_threshold_above_n"}) {
    const crypto::Bytes record = unhex(share_fixture(name).at("record"));
    for (std::size_t i = 0; i < record.size(); ++i) {
      const std::uint8_t b = record[i];
      for (const std::uint8_t v : {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(b ^ 0x01),
                                   static_cast<std::uint8_t>(b ^ 0x80)}) {
        crypto::Bytes mutated = record;
        mutated[i] = v;
        const std::vector<std::uint32_t> paths[] = {{}, {0, 1}, {2147483648u}};
        try {
          auto share = ecdsa_share_decode(hex(mutated));
          if (!share) continue;
          ++decoded;
          (void)ecdsa_share_encode(*share);
          (void)ecdsa_share_to_keypair(*share);
          (void)ecdsa_share_to_keypair_v4(*share);
          for (const auto& path : paths) (void)ecdsa_share_derive_child(*share, path);
          if (const auto* v1 = std::get_if<EcdsaSecretShareV1>(&share->key_share)) (void)upgrade_share_public_key(*v1);
          if (const auto* v2 = std::get_if<EcdsaSecretShareV2>(&share->key_share)) (void)sec1_uncompressed_pubkey(*v2);
        } catch (const velto::Panic& p) {
          ADD_FAILURE() << name << ": byte " << i << " set to " << int{v} << " panicked: " << p.message();
        }
      }
    }
  }
  // The mutations of the secret, chain code, transport key and map bytes
  // decode; the loop must have exercised the conversions.
  EXPECT_GT(decoded, 100u);
}

}  // namespace
}  // namespace velto::executor
