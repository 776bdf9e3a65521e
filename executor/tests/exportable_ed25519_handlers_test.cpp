// The exportable Ed25519 handlers over the in-memory network: a party that
// makes up its contribution to an export cannot hand the receiver another
// seed, and parties that hold no share refuse a threshold above the party
// count at once, as the holders do.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "executor/exportable_ed25519/handlers.hpp"
#include "noise-kk/keys.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::executor {
namespace {

namespace asio = boost::asio;
using frost::ExportableEd25519KeyShare;
using velto::testing::ids_1_to;
using velto::testing::pid;
using velto::testing::run_session;

using KeyShareOutcome = HandlerOutcome<ExportableEd25519KeyShare>;
using SeedResult = HandlerOutcome<std::optional<frost::Ed25519SeedKeyPair>>;

template <class R, class Protocol>
std::vector<R> results_of(async::Runtime& rt, const std::vector<PartyId>& ids, Protocol protocol) {
  auto outcomes = run_session<R>(rt, ids, std::move(protocol));
  std::vector<R> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

// Party 1 samples, every other party receives.
std::vector<KeyShareOutcome> run_keygen(async::Runtime& rt, std::uint16_t n, std::uint16_t t) {
  return results_of<KeyShareOutcome>(rt, ids_1_to(n), [t](PartyId id, ProtocolExecutor root) {
    if (id == pid(1)) return exportable_sample_key_handler(std::move(root), t);
    return exportable_receive_key_handler(std::move(root), t);
  });
}

std::vector<ExportableEd25519StorableSecretShare> stored(const std::vector<KeyShareOutcome>& keys) {
  std::vector<noise::NoiseKeyPair> transport;
  PartyPubkeyMap map;
  for (const auto& k : keys) {
    transport.push_back(noise::generate_ephemeral());
    map.insert_or_assign(k->key_share.party_id, transport.back().public_key());
  }
  std::vector<ExportableEd25519StorableSecretShare> out;
  for (std::size_t i = 0; i < keys.size(); ++i) out.push_back({*keys[i], transport[i], map});
  return out;
}

TEST(ExportableEd25519Handlers, ForgedFirstContributionNeverBecomesTheSeed) {
  async::Runtime rt(4);
  const auto keys = run_keygen(rt, 3, 2);
  for (const auto& k : keys) ASSERT_TRUE(k.has_value()) << k.error().display();
  const auto shares = stored(keys);

  // The forger's own one-party key: self-consistent, threshold 1, so the
  // receiver's reconstruction would use it alone.
  crypto::SecretArray<32> forged_seed;
  for (std::size_t i = 0; i < 32; ++i) forged_seed[i] = static_cast<std::uint8_t>(0x40 + i);
  std::optional<ExportableEd25519KeyShare> forged = frost::exportable_mask_preimage(forged_seed);
  ASSERT_TRUE(forged.has_value());

  const auto results = results_of<SeedResult>(
      rt, {pid(1), pid(2)}, [&](PartyId id, ProtocolExecutor root) -> asio::awaitable<SeedResult> {
        if (id == pid(1)) co_return co_await exportable_export_handler(std::move(root), shares[0], pid(1));
        if (auto sent = root.send_to(pid(1), *forged); !sent) throw std::runtime_error("send failed");
        co_return SeedResult(std::nullopt);
      });
  ASSERT_FALSE(results[0].has_value()) << "the receiver accepted the forger's seed";
  EXPECT_EQ(results[0].error().display(),
            "Executor Failed: `Reconstruction failed - shares mismatch to the public key.`");
}

TEST(ExportableEd25519Handlers, HonestContributionsRebuildTheSeed) {
  async::Runtime rt(4);
  const auto keys = run_keygen(rt, 3, 2);
  for (const auto& k : keys) ASSERT_TRUE(k.has_value()) << k.error().display();
  const auto shares = stored(keys);
  const auto results = results_of<SeedResult>(rt, {pid(2), pid(3)}, [&](PartyId id, ProtocolExecutor root) {
    return exportable_export_handler(std::move(root), shares[id.value() - 1], pid(3));
  });
  ASSERT_TRUE(results[0].has_value()) << results[0].error().display();
  EXPECT_FALSE(results[0]->has_value());
  ASSERT_TRUE(results[1].has_value()) << results[1].error().display();
  ASSERT_TRUE(results[1]->has_value());
  EXPECT_TRUE((*results[1])->public_key == shares[0].key_share.key_share.public_key);
}

TEST(ExportableEd25519Handlers, ReceiverOutsideTheSessionIsRefusedByEveryParty) {
  async::Runtime rt(4);
  const auto keys = run_keygen(rt, 3, 2);
  for (const auto& k : keys) ASSERT_TRUE(k.has_value()) << k.error().display();
  const auto shares = stored(keys);
  const std::string absent = shares[0].partyid_pubkey_map.at(pid(3)).display();
  const auto results = results_of<SeedResult>(rt, {pid(1), pid(2)}, [&](PartyId id, ProtocolExecutor root) {
    return exportable_export_handler(std::move(root), shares[id.value() - 1], pid(3));
  });
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), "The provided public key(`" + absent + "`) doesn't exist in the party list");
  }
}

TEST(ExportableEd25519Handlers, ThresholdAboveThePartyCountFailsEveryRoleAtOnce) {
  async::Runtime rt(4);
  const std::string text = "Executor Failed: `Threshold 3 is greater than the number of parties 2`";
  for (const auto& r : run_keygen(rt, 2, 3)) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), text);
  }

  crypto::SecretArray<32> seed;
  for (std::size_t i = 0; i < 32; ++i) seed[i] = static_cast<std::uint8_t>(i);
  const auto imported = results_of<ExportableShareOutcome>(rt, ids_1_to(2), [&](PartyId id, ProtocolExecutor root) {
    if (id == pid(1)) return exportable_import_importer_handler(std::move(root), 3, seed);
    return exportable_import_recipient_handler(std::move(root), 3);
  });
  for (const auto& r : imported) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), text);
  }
}

}  // namespace
}  // namespace velto::executor
