// The refresh handler: every party keeps the key, chain code, id, threshold
// and party count, and gets a new secret share and a new transport key.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "executor/tests/ecdsa_latest_util.hpp"

namespace velto::executor {
namespace {

using test::asio::awaitable;

awaitable<ShareResult> refresh_party(ProtocolExecutor root, EcdsaStorableSecretShare share) {
  co_return co_await ecdsa_refresh_handler_latest(std::move(root), share);
}

std::vector<ShareResult> run_refresh(async::Runtime& rt, const std::vector<EcdsaStorableSecretShare>& shares,
                                     const std::vector<PartyId>& ids, InMemoryNetwork::Options options = {}) {
  return test::run_parties<ShareResult>(
      rt, ids,
      [&shares](PartyId id, ProtocolExecutor root) { return refresh_party(std::move(root), shares[id.value() - 1]); },
      options);
}

// The same shares stored in the protocol-1.1.0 form (tag 2).
std::vector<EcdsaStorableSecretShare> as_v1_1_0(const std::vector<EcdsaStorableSecretShare>& shares) {
  std::vector<EcdsaStorableSecretShare> out;
  for (const auto& s : shares) {
    KeyPairV1_1_0 old{test::latest_key(s), std::nullopt};
    out.push_back(EcdsaStorableSecretShare{EcdsaKeyShare(std::in_place_index<2>, old), s.transport_keypair,
                                           s.partyid_pubkey_map});
  }
  return out;
}

TEST(EcdsaLatestRefresh, RenewsSharesAndTransportKeys) {
  async::Runtime rt(4);
  const auto latest = test::fresh_shares(rt, 2, 3);
  std::vector<ecdsa::KeyPair> old_keys;
  for (const auto& s : latest) old_keys.push_back(test::latest_key(s));
  const crypto::Scalar secret = ecdsa::testing::interpolate({old_keys[0], old_keys[1]});

  for (const bool stored_as_v1_1_0 : {false, true}) {
    SCOPED_TRACE(stored_as_v1_1_0 ? "tag 2 shares" : "tag 3 shares");
    const auto shares = stored_as_v1_1_0 ? as_v1_1_0(latest) : latest;
    const auto results = run_refresh(rt, shares, test::ids_1_to(3));
    const auto new_keys = test::keys_of_shares(results);
    ASSERT_EQ(new_keys.size(), 3u);

    std::set<crypto::ByteArray<32>> new_transport;
    for (std::size_t i = 0; i < 3; ++i) {
      const ecdsa::KeyPair& before = old_keys[i];
      const ecdsa::KeyPair& after = new_keys[i];
      EXPECT_TRUE(after.public_key == before.public_key);
      EXPECT_EQ(after.chain_code, before.chain_code);
      EXPECT_EQ(after.party_id, before.party_id);
      EXPECT_EQ(after.threshold, 2);
      EXPECT_EQ(after.num_parties, 3);
      EXPECT_FALSE(after.secret_share == before.secret_share);

      const EcdsaStorableSecretShare& share = *results[i];
      EXPECT_EQ(share.tag(), EcdsaShareTag::Latest);
      EXPECT_FALSE(share.transport_keypair.public_key() == shares[i].transport_keypair.public_key());
      EXPECT_EQ(share.partyid_pubkey_map, results[0]->partyid_pubkey_map);
      ASSERT_EQ(share.partyid_pubkey_map.size(), 3u);
      EXPECT_EQ(share.partyid_pubkey_map.at(after.party_id), share.transport_keypair.public_key());
      for (const auto& [id, key] : share.partyid_pubkey_map) {
        EXPECT_FALSE(key == shares[0].partyid_pubkey_map.at(id)) << "party " << id.value();
      }
      new_transport.insert(share.transport_keypair.public_key().bytes());
      // The text form reads back to the same share.
      auto round = ecdsa_share_decode(ecdsa_share_encode(share));
      ASSERT_TRUE(round.has_value());
      EXPECT_TRUE(*round == share);
    }
    EXPECT_EQ(new_transport.size(), 3u);
    EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(new_keys, 2) == secret);
    test::expect_keys_sign(rt, {new_keys[0], new_keys[2]}, stored_as_v1_1_0 ? 1 : 2);
  }
}

TEST(EcdsaLatestRefresh, RefusesASessionWithoutEveryParty) {
  async::Runtime rt(4);
  const auto shares = test::fresh_shares(rt, 2, 3);
  const auto results = run_refresh(rt, shares, test::ids_1_to(2));
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().inner().is<ExecutorErrorKind::InvalidNumberOfParties>());
    EXPECT_EQ(r.error().display(), "Invalid number of parties: expected 3, got 2");
  }
}

}  // namespace
}  // namespace velto::executor
