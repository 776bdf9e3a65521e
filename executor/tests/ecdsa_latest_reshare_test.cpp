// The reshare handlers: remaining parties and new parties move a key to a
// new party set and threshold; the key and chain code stay, and the
// announcements of key and chain code must agree.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "executor/tests/ecdsa_latest_util.hpp"

namespace velto::executor {
namespace {

using namespace std::chrono_literals;
using test::asio::awaitable;

// One party of the new session: a remaining party with its stored share, or
// a new party (no share).
struct Role {
  std::optional<EcdsaStorableSecretShare> share;
};

awaitable<ShareResult> remaining_party(ProtocolExecutor root, EcdsaStorableSecretShare share,
                                       std::vector<PartyId> remaining, std::uint16_t t) {
  co_return co_await ecdsa_reshare_remaining_handler_latest(std::move(root), share, std::move(remaining), t);
}

awaitable<ShareResult> new_party(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa_reshare_new_handler_latest(std::move(root), t);
}

// Runs a reshare whose new session is parties 1..roles.size(), party i
// playing roles[i - 1]; `remaining` are the old ids the remaining parties
// pass.
std::vector<ShareResult> run_reshare(async::Runtime& rt, const std::vector<Role>& roles,
                                     const std::vector<PartyId>& remaining, std::uint16_t new_threshold,
                                     InMemoryNetwork::Options options = {}) {
  const auto ids = test::ids_1_to(static_cast<std::uint16_t>(roles.size()));
  return test::run_parties<ShareResult>(
      rt, ids,
      [&roles, &remaining, new_threshold](PartyId id, ProtocolExecutor root) {
        const Role& role = roles[id.value() - 1];
        if (role.share) return remaining_party(std::move(root), *role.share, remaining, new_threshold);
        return new_party(std::move(root), new_threshold);
      },
      options);
}

TEST(EcdsaLatestReshare, MovesATwoOfThreeKeyToThreeOfFive) {
  async::Runtime rt(4);
  const auto old = test::fresh_shares(rt, 2, 3);
  const ecdsa::KeyPair& old_key = test::latest_key(old[0]);
  const crypto::Scalar secret =
      ecdsa::testing::interpolate({test::latest_key(old[0]), test::latest_key(old[1])});

  // Old parties 1 and 2 remain, as new parties 1 and 3; old party 3 leaves;
  // new parties 2, 4 and 5 join.
  const std::vector<Role> roles{{old[0]}, {}, {old[1]}, {}, {}};
  const auto results = run_reshare(rt, roles, {test::pid(1), test::pid(2)}, 3);
  const auto keys = test::keys_of_shares(results);
  ASSERT_EQ(keys.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(keys[i].public_key == old_key.public_key);
    EXPECT_EQ(keys[i].chain_code, old_key.chain_code);
    EXPECT_EQ(keys[i].party_id, test::pid(static_cast<std::uint16_t>(i + 1)));
    EXPECT_EQ(keys[i].threshold, 3);
    EXPECT_EQ(keys[i].num_parties, 5);
    const EcdsaStorableSecretShare& share = *results[i];
    ASSERT_EQ(share.partyid_pubkey_map.size(), 5u);
    EXPECT_EQ(share.partyid_pubkey_map, results[0]->partyid_pubkey_map);
    EXPECT_EQ(share.partyid_pubkey_map.at(keys[i].party_id), share.transport_keypair.public_key());
  }
  // The remaining parties' new shares are not their old ones.
  EXPECT_FALSE(keys[0].secret_share == test::latest_key(old[0]).secret_share);
  EXPECT_FALSE(keys[2].secret_share == test::latest_key(old[1]).secret_share);
  EXPECT_FALSE(results[0]->transport_keypair.public_key() == old[0].transport_keypair.public_key());

  EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(keys, 3) == secret);
  // Three parties that never held the old key sign with it.
  test::expect_keys_sign(rt, {keys[1], keys[3], keys[4]}, 3);
}

TEST(EcdsaLatestReshare, ASingleRemainingPartyHandsOver) {
  // A one-party key: its holder expects no other announcement, and the new
  // parties take its announcement as the reference.
  async::Runtime rt(4);
  const auto old = test::fresh_shares(rt, 1, 1);
  const std::vector<Role> roles{{}, {old[0]}, {}};
  const auto keys = test::keys_of_shares(run_reshare(rt, roles, {test::pid(1)}, 2));
  ASSERT_EQ(keys.size(), 3u);
  for (const auto& k : keys) {
    EXPECT_TRUE(k.public_key == test::latest_key(old[0]).public_key);
    EXPECT_EQ(k.chain_code, test::latest_key(old[0]).chain_code);
  }
  EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(keys, 2) == test::latest_key(old[0]).secret_share);
}

TEST(EcdsaLatestReshare, AnnouncementsMustAgree) {
  async::Runtime rt(4);
  const auto old = test::fresh_shares(rt, 2, 3);
  auto other_chain = old[1];
  std::get<3>(other_chain.key_share).chain_code[0] ^= 1;
  const auto other_key = test::fresh_shares(rt, 2, 3);

  struct Case {
    const char* name;
    std::vector<Role> roles;
    std::vector<PartyId> remaining;
    // Parties (new ids) that must fail with PublicKeyAndChaincodeSyncFailed;
    // the others may fail in any way.
    std::vector<std::uint16_t> sync_failed;
  };
  const Case cases[] = {
      {"no party announces a key", {{}, {}}, {}, {1, 2}},
      {"remaining parties with different chain codes", {{old[0]}, {other_chain}, {}}, {test::pid(1), test::pid(2)},
       {1, 2, 3}},
      {"remaining parties with different keys", {{old[0]}, {}, {other_key[1]}}, {test::pid(1), test::pid(2)},
       {1, 2, 3}},
      // Old party 2 comes as a new party: party 1 hears one key too few.
      {"an old party joins as a new one", {{old[0]}, {}, {}}, {test::pid(1), test::pid(2)}, {1}},
  };
  InMemoryNetwork::Options options;
  options.receive_timeout = 2s;  // parties that go on alone give up
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto results = run_reshare(rt, c.roles, c.remaining, 2, options);
    for (const std::uint16_t id : c.sync_failed) {
      const ShareResult& r = results[id - 1];
      ASSERT_FALSE(r.has_value()) << "party " << id;
      EXPECT_TRUE(r.error().inner().is<ExecutorErrorKind::PublicKeyAndChaincodeSyncFailed>()) << r.error().display();
      EXPECT_EQ(r.error().display(), "Public key and chaincode synchronization failed");
    }
  }
}

}  // namespace
}  // namespace velto::executor
