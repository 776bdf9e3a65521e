// The import handlers: an importer's private key becomes a threshold key
// with the same public key and chain code; bad keys, bad announcements and
// failing protocol runs end in orderly errors at every party.
#include "velto-mpc-infra/async/asio.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "executor/tests/ecdsa_latest_util.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {
namespace {

using namespace std::chrono_literals;
using test::asio::awaitable;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The published master key of BIP32 test vector 1.
struct Bip32Master {
  std::string xpub;
  ecdsa::Xpriv xpriv;
};

Bip32Master load_master() {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/bip32_vector1_master.txt");
  std::map<std::string, std::string> fields;
  std::string key, value;
  while (in >> key) {
    if (key[0] == '#') {
      std::getline(in, value);
      continue;
    }
    in >> value;
    fields[key] = value;
  }
  auto xpriv = ecdsa::parse_xpriv(fields.at("xprv"));
  if (!xpriv) throw std::runtime_error("bad xprv in test data");
  return Bip32Master{fields.at("xpub"), *xpriv};
}

crypto::SecretArray<32> key_bytes(const crypto::Scalar& x) { return crypto::SecretArray<32>(x.to_bytes()); }

awaitable<ShareResult> importer(ProtocolExecutor root, std::uint16_t t, crypto::SecretArray<32> key,
                                std::optional<crypto::ByteArray<32>> chain_code) {
  co_return co_await ecdsa_import_importer_handler_latest(std::move(root), t, std::move(key), chain_code);
}

awaitable<ShareResult> recipient(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa_import_recipient_handler_latest(std::move(root), t);
}

// n parties, party `importer_id` imports.
std::vector<ShareResult> run_import(async::Runtime& rt, std::uint16_t n, std::uint16_t t, PartyId importer_id,
                                    const crypto::SecretArray<32>& key,
                                    const std::optional<crypto::ByteArray<32>>& chain_code) {
  return test::run_parties<ShareResult>(rt, test::ids_1_to(n), [&](PartyId id, ProtocolExecutor root) {
    if (id == importer_id) return importer(std::move(root), t, key, chain_code);
    return recipient(std::move(root), t);
  });
}

TEST(EcdsaLatestImport, Bip32MasterKeyBecomesATwoOfThreeKey) {
  async::Runtime rt(4);
  const Bip32Master master = load_master();
  const crypto::Point public_key = crypto::Point::base_mul(master.xpriv.private_key);
  const auto results = run_import(rt, 3, 2, test::pid(2), key_bytes(master.xpriv.private_key),
                                  master.xpriv.chain_code);
  const auto keys = test::keys_of_shares(results);
  ASSERT_EQ(keys.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ecdsa::Xpub xpub;
    xpub.public_key = keys[i].public_key;
    xpub.chain_code = keys[i].chain_code;
    EXPECT_EQ(ecdsa::xpub_to_string(xpub), master.xpub);
    EXPECT_EQ(keys[i].party_id, test::pid(static_cast<std::uint16_t>(i + 1)));
    EXPECT_EQ(keys[i].threshold, 2);
    EXPECT_EQ(keys[i].num_parties, 3);
    const EcdsaStorableSecretShare& share = *results[i];
    ASSERT_EQ(share.partyid_pubkey_map.size(), 3u);
    EXPECT_EQ(share.partyid_pubkey_map, results[0]->partyid_pubkey_map);
    EXPECT_EQ(share.partyid_pubkey_map.at(keys[i].party_id), share.transport_keypair.public_key());
  }
  EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(keys, 2) == master.xpriv.private_key);
  EXPECT_TRUE(keys[0].public_key == public_key);
  test::expect_keys_sign(rt, {keys[0], keys[2]}, 4);
}

TEST(EcdsaLatestImport, MissingChainCodeIsZero) {
  async::Runtime rt(2);
  const crypto::Scalar x = crypto::Scalar::from_u64(0x1234567);
  const auto keys = test::keys_of_shares(run_import(rt, 2, 1, test::pid(1), key_bytes(x), std::nullopt));
  ASSERT_EQ(keys.size(), 2u);
  for (const auto& k : keys) {
    EXPECT_EQ(k.chain_code, crypto::ByteArray<32>{});
    EXPECT_TRUE(k.public_key == crypto::Point::base_mul(x));
  }
}

TEST(EcdsaLatestImport, RefusesKeysOutsideTheGroup) {
  async::Runtime rt(2);
  const char* order = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
  const char* order_plus_one = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364142";
  const char* all_ones = "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff";
  const char* zero = "0000000000000000000000000000000000000000000000000000000000000000";
  for (const char* hex : {zero, order, order_plus_one, all_ones}) {
    SCOPED_TRACE(hex);
    const auto bytes = *crypto::hex_decode(hex);
    const auto results = run_import(rt, 1, 1, test::pid(1), crypto::SecretArray<32>(crypto::ByteSpan(bytes)),
                                    std::nullopt);
    ASSERT_FALSE(results[0].has_value());
    EXPECT_TRUE(results[0].error().inner().is<ExecutorErrorKind::InvalidImportedPrivateKey>());
    EXPECT_EQ(results[0].error().display(), "Received an error from new_full_private_key");
  }
  // One below the order is a key.
  const auto below = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364140");
  const auto ok = run_import(rt, 1, 1, test::pid(1), crypto::SecretArray<32>(crypto::ByteSpan(below)), std::nullopt);
  ASSERT_TRUE(ok[0].has_value()) << ok[0].error().display();
}

TEST(EcdsaLatestImport, ProtocolFailuresAreReturnedAtEveryParty) {
  // A threshold above the party count: the key generation of every party
  // refuses it, and each handler reports that error (not a failed task).
  async::Runtime rt(4);
  const auto results = run_import(rt, 3, 4, test::pid(1), key_bytes(crypto::Scalar::from_u64(5)), std::nullopt);
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().inner().is<ExecutorErrorKind::Executor>()) << r.error().display();
    EXPECT_EQ(r.error().display(), "Executor Failed: `The threshold Is bigger than the number of parties`");
  }
}

// An importer that announces `announcement` as it is; it runs the real
// sharing of `x` when `share_key` is set, else only the key exchange.
awaitable<ShareResult> scripted_importer(ProtocolExecutor root, crypto::Scalar x, crypto::Bytes announcement,
                                         bool share_key, std::uint16_t t) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(joint.error()));
  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  {
    ProtocolExecutor broadcast = joint->child(kImportBroadcastLabel);
    if (!broadcast.send_payload_to_all(outgoing_payload(announcement))) throw std::logic_error("send failed");
  }
  if (!share_key) {
    (void)co_await transport.join();
    co_return std::unexpected(into_boxed_handler_error(box_error<TextError>("only the keys were exchanged")));
  }
  const crypto::Point public_key = crypto::Point::base_mul(x);
  ecdsa::KeyPair imported{x, crypto::ByteArray<32>{}, public_key, test::pid(1), 1, 1};
  auto protocol = async::spawn_task(
      ecdsa_import_importer_protocol_task(joint->child(kImportReshareLabel), std::move(imported), t));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

TEST(EcdsaLatestImport, RecipientChecksTheAnnouncement) {
  async::Runtime rt(4);
  const crypto::Scalar x = crypto::Scalar::from_u64(99);
  const auto real_key = ecdsa::pubkey_to_compressed(crypto::Point::base_mul(x));
  const auto wrong_key = ecdsa::pubkey_to_compressed(crypto::Point::generator());
  auto announce = [](const crypto::ByteArray<33>& key, std::size_t size) {
    crypto::Bytes b(key.begin(), key.end());
    b.resize(size, 0);  // zero chain code, and any extra bytes
    return b;
  };
  struct Case {
    const char* name;
    crypto::Bytes announcement;
    bool share_key;
    // The recipients' failure text, or empty for success.
    std::string error_prefix;
  };
  const Case cases[] = {
      {"66 bytes: the last one is ignored", announce(real_key, 66), true, ""},
      {"64 bytes", announce(real_key, 64), false, "Executor Failed: `Out of bounds`"},
      {"a key the sharing does not produce", announce(wrong_key, 65), true,
       "Executor Failed: `Malformed Public Key `[2, 121, 190, 102, "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto results = test::run_parties<ShareResult>(
        rt, test::ids_1_to(3), [&](PartyId id, ProtocolExecutor root) {
          if (id == test::pid(1)) return scripted_importer(std::move(root), x, c.announcement, c.share_key, 2);
          return recipient(std::move(root), 2);
        });
    for (std::size_t i = 1; i < 3; ++i) {
      if (c.error_prefix.empty()) {
        ASSERT_TRUE(results[i].has_value()) << results[i].error().display();
        EXPECT_TRUE(test::latest_key(*results[i]).public_key == crypto::Point::base_mul(x));
        continue;
      }
      ASSERT_FALSE(results[i].has_value());
      EXPECT_TRUE(results[i].error().inner().is<ExecutorErrorKind::Executor>());
      EXPECT_THAT(results[i].error().display(), StartsWith(c.error_prefix));
    }
  }
}

}  // namespace
}  // namespace velto::executor
