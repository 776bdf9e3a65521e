// Refresh and reshare: the key and chain code stay, the shares change, and
// the new shares rebuild the old secret; the refusals of both forms.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/refresh.hpp"
#include "velto-ecdsa/tests/keygen_test_util.hpp"

namespace velto::ecdsa::testing {
namespace {

namespace asio = boost::asio;

using RefreshResult = std::expected<KeyPair, EcdsaRefreshLibError>;

// What one party brings to a reshare: its old share and the old parties
// taking part, or, joining without a share, the key it expects.
struct Role {
  std::optional<KeyPair> old_key;
  std::vector<PartyId> old_ids;
  crypto::ByteArray<32> chain_code{};
  crypto::ByteArray<33> expected_key{};
  std::uint16_t threshold = 0;
};

asio::awaitable<RefreshResult> holder(ProtocolExecutor root, KeyPair old_key, std::vector<PartyId> old_ids,
                                      std::uint16_t threshold) {
  const ProtocolExecutor session = root.child("reshare");
  co_return co_await reshare_keygen_inner(session, old_key, old_ids, threshold);
}

asio::awaitable<RefreshResult> joiner(ProtocolExecutor root, crypto::ByteArray<32> chain_code,
                                      crypto::ByteArray<33> expected_key, std::uint16_t threshold) {
  const ProtocolExecutor session = root.child("reshare");
  co_return co_await refresh_keygen_inner(session, chain_code, expected_key, threshold);
}

// Runs one reshare among the parties of `roles`, in id order.
std::vector<RefreshResult> run_reshare(async::Runtime& rt, const std::map<PartyId, Role>& roles) {
  std::vector<PartyId> ids;
  for (const auto& [id, role] : roles) ids.push_back(id);
  auto outcomes = run_session<RefreshResult>(rt, ids, [roles](PartyId me, ProtocolExecutor root) {
    const Role& r = roles.at(me);
    if (r.old_key) return holder(std::move(root), *r.old_key, r.old_ids, r.threshold);
    return joiner(std::move(root), r.chain_code, r.expected_key, r.threshold);
  });
  std::vector<RefreshResult> out;
  for (auto& o : outcomes) {
    EXPECT_TRUE(o.manager.has_value());
    out.push_back(std::move(o.result));
  }
  return out;
}

std::vector<KeyPair> refreshed_keys(const std::vector<RefreshResult>& results) {
  std::vector<KeyPair> keys;
  for (const auto& r : results) {
    if (!r) {
      ADD_FAILURE() << r.error().debug();
      continue;
    }
    keys.push_back(*r);
  }
  return keys;
}

// A fresh key of `threshold` of `n` parties (ids 1..n).
std::vector<KeyPair> fresh_key(async::Runtime& rt, std::uint16_t threshold, std::uint16_t n) {
  auto keys = keys_of(run_fresh_keygen(rt, ids_1_to(n), threshold));
  EXPECT_EQ(keys.size(), n);
  return keys;
}

// Every old party refreshes with all old parties as the old set.
std::map<PartyId, Role> refresh_roles(const std::vector<KeyPair>& keys) {
  std::map<PartyId, Role> roles;
  std::vector<PartyId> ids;
  for (const auto& k : keys) ids.push_back(k.party_id);
  for (const auto& k : keys) roles[k.party_id] = Role{k, ids, {}, {}, k.threshold};
  return roles;
}

TEST(Refresh, KeepsKeyAndChainCodeAndChangesEveryShare) {
  struct Case {
    std::uint16_t threshold;
    std::uint16_t n;
  };
  async::Runtime rt(2);
  for (const Case c : {Case{2, 2}, Case{2, 3}, Case{3, 5}}) {
    const auto old_keys = fresh_key(rt, c.threshold, c.n);
    ASSERT_EQ(old_keys.size(), c.n);
    const Scalar secret = check_shares_rebuild_key(old_keys, c.threshold);
    const auto keys = refreshed_keys(run_reshare(rt, refresh_roles(old_keys)));
    ASSERT_EQ(keys.size(), c.n);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      EXPECT_TRUE(keys[i].public_key == old_keys[0].public_key);
      EXPECT_EQ(keys[i].chain_code, old_keys[0].chain_code);
      EXPECT_EQ(keys[i].party_id, old_keys[i].party_id);
      EXPECT_EQ(keys[i].threshold, c.threshold);
      EXPECT_EQ(keys[i].num_parties, c.n);
      EXPECT_FALSE(keys[i].secret_share == old_keys[i].secret_share) << "party " << keys[i].party_id.value();
    }
    EXPECT_TRUE(check_shares_rebuild_key(keys, c.threshold) == secret);
  }
}

TEST(Reshare, FromTwoOfThreeToThreeOfFiveKeepsTheSecret) {
  async::Runtime rt(2);
  const auto old_keys = fresh_key(rt, 2, 3);
  ASSERT_EQ(old_keys.size(), 3u);
  const Scalar secret = check_shares_rebuild_key(old_keys, 2);
  const auto expected_key = pubkey_to_compressed(old_keys[0].public_key);

  // Which old parties bring their share; every other party of 1..5 joins
  // without one (an old party left out of the set included).
  const std::vector<std::vector<std::uint16_t>> holder_sets = {{1, 2, 3}, {1, 3}, {2, 3}};
  for (const auto& holders : holder_sets) {
    std::vector<PartyId> old_ids;
    for (const std::uint16_t h : holders) old_ids.push_back(pid(h));
    std::map<PartyId, Role> roles;
    for (const PartyId id : ids_1_to(5)) roles[id] = Role{std::nullopt, {}, old_keys[0].chain_code, expected_key, 3};
    for (const std::uint16_t h : holders) roles[pid(h)] = Role{old_keys[h - 1u], old_ids, {}, {}, 3};

    const auto keys = refreshed_keys(run_reshare(rt, roles));
    ASSERT_EQ(keys.size(), 5u);
    for (const auto& k : keys) {
      EXPECT_TRUE(k.public_key == old_keys[0].public_key);
      EXPECT_EQ(k.chain_code, old_keys[0].chain_code);
      EXPECT_EQ(k.threshold, 3);
      EXPECT_EQ(k.num_parties, 5);
    }
    EXPECT_TRUE(check_shares_rebuild_key(keys, 3) == secret);
    const std::vector<KeyPair> two(keys.begin(), keys.begin() + 2);
    EXPECT_FALSE(interpolate(two) == secret);
  }
}

TEST(Reshare, AWrongOldShareIsNotTheSameSecret) {
  async::Runtime rt(2);
  auto old_keys = fresh_key(rt, 2, 3);
  ASSERT_EQ(old_keys.size(), 3u);
  old_keys[1].secret_share += Scalar::one();
  for (const auto& r : run_reshare(rt, refresh_roles(old_keys))) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(),
              "Refresh is not of same secret, an outcome of a potentially compromised device in the group");
    EXPECT_EQ(r.error().debug(), "RefreshIsNotOfSameSecret");
  }
}

TEST(Reshare, AJoinerExpectingAnotherKeyShowsTheExpectedBytes) {
  async::Runtime rt(2);
  const auto old_keys = fresh_key(rt, 2, 3);
  ASSERT_EQ(old_keys.size(), 3u);
  auto roles = refresh_roles(old_keys);
  roles[pid(4)] = Role{std::nullopt, {}, old_keys[0].chain_code,
                       pubkey_to_compressed(Point::generator()), 2};
  const auto results = run_reshare(rt, roles);
  ASSERT_EQ(results.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(results[i].has_value());
  ASSERT_FALSE(results[3].has_value());
  EXPECT_EQ(results[3].error().display(),
            "Malformed Public Key `[2, 121, 190, 102, 126, 249, 220, 187, 172, 85, 160, 98, 149, 206, 135, 11, 7, 2, "
            "155, 252, 219, 45, 206, 40, 217, 89, 242, 129, 91, 22, 248, 23, 152]`");
}

TEST(Reshare, OnlyJoinersMakeTheIdentityAndAreRefused) {
  // Nobody brings a share: every constant term is 0 and so is the key, which
  // is refused whatever the joiners expected (33 zero bytes included).
  async::Runtime rt(2);
  const crypto::ByteArray<33> zeros{};
  for (const auto& expected : {zeros, pubkey_to_compressed(Point::generator())}) {
    std::map<PartyId, Role> roles;
    for (const PartyId id : ids_1_to(3)) roles[id] = Role{std::nullopt, {}, {}, expected, 2};
    for (const auto& r : run_reshare(rt, roles)) {
      ASSERT_FALSE(r.has_value());
      const auto* malformed = r.error().get_if<EcdsaRefreshLibError::MalformedPublicKey>();
      ASSERT_NE(malformed, nullptr) << r.error().debug();
      EXPECT_EQ(malformed->key, expected);
    }
  }
}

TEST(Reshare, AKeygenFailureShowsOnlyTheKeygenText) {
  async::Runtime rt(2);
  const auto old_keys = fresh_key(rt, 2, 3);
  ASSERT_EQ(old_keys.size(), 3u);
  auto roles = refresh_roles(old_keys);
  for (auto& [id, role] : roles) role.threshold = 0;
  for (const auto& r : run_reshare(rt, roles)) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), "The threshold Is bigger than the number of parties");
    EXPECT_EQ(r.error().debug(),
              "Keygen(InvalidThreshold { threshold: NumberOfParties(0), num_parties: NumberOfParties(3) })");
  }
}

}  // namespace
}  // namespace velto::ecdsa::testing
