// Refresh, reshare and import sub-protocols and the extraction rounds of
// protocol version 1.1.0, in one process. Keys come from the version's own
// key generation on the fixed root tag.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "velto-ecdsa-legacy/extract.hpp"
#include "velto-ecdsa-legacy/keygen.hpp"
#include "velto-ecdsa-legacy/lib.hpp"
#include "velto-ecdsa-legacy/refresh.hpp"
#include "velto-ecdsa-legacy/tests/legacy_session.hpp"

namespace velto::ecdsa::legacy::testing {
namespace {

using RefreshResult = std::expected<KeyPair, EcdsaRefreshLibError>;
using ExtractOutcome = std::expected<std::optional<Xpriv>, VssError>;

constexpr const char* kNotSameSecret =
    "Refresh is not of same secret, an outcome of a potentially compromised device in the group";

asio::awaitable<std::expected<KeyPair, EcdsaKeygenLibError>> keygen_party(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa_keygen_v4(root.child(kKeygenLabel), t);
}

// A (t, n) key of this version among parties 1..n.
std::vector<KeyPair> keygen(async::Runtime& rt, std::uint16_t n, std::uint16_t t) {
  auto results = run_plain<std::expected<KeyPair, EcdsaKeygenLibError>>(
      rt, ids_1_to(n), [t](PartyId, ProtocolExecutor root) { return keygen_party(std::move(root), t); });
  auto keys = all_keys(results);
  EXPECT_EQ(keys.size(), n);
  return keys;
}

// One party of a reshare: party ids up to `holders.size()` hold
// `holder_keys[id - 1]`, the others receive with `expected`. Inputs by value:
// the coroutine outlives the call that starts it.
struct ReshareRole {
  std::vector<KeyPair> holder_keys;
  std::vector<PartyId> holders;
  crypto::ByteArray<32> chain_code{};
  crypto::ByteArray<33> expected{};
  std::uint16_t t = 0;
  bool holders_as_set = false;
};

asio::awaitable<RefreshResult> reshare_party(PartyId me, ProtocolExecutor root, ReshareRole role) {
  if (me.value() <= role.holder_keys.size()) {
    const KeyPair& key = role.holder_keys[me.value() - 1];
    if (role.holders_as_set) {
      const std::set<PartyId> set(role.holders.begin(), role.holders.end());
      co_return co_await reshare_keygen_inner_v4(root, key, set, role.t);
    }
    co_return co_await reshare_keygen_inner_list_v4(root, key, role.holders, role.t);
  }
  co_return co_await reshare_receive_v4(root, role.chain_code, role.expected, role.t);
}

std::vector<RefreshResult> run_reshare(async::Runtime& rt, std::uint16_t n, const ReshareRole& role) {
  return run_plain<RefreshResult>(
      rt, ids_1_to(n), [role](PartyId me, ProtocolExecutor root) { return reshare_party(me, std::move(root), role); });
}

asio::awaitable<ExtractOutcome> extract_party(PartyId me, ProtocolExecutor root, std::vector<KeyPair> keys,
                                              PartyId receiver) {
  co_return co_await ecdsa_v110_extract_rounds(root, keys[me.value() - 1], receiver);
}

asio::awaitable<RefreshResult> refresh_party(PartyId me, ProtocolExecutor root, std::vector<KeyPair> keys) {
  co_return co_await reshare_subprotocol(root, keys[me.value() - 1]);
}

std::string malformed_text(const crypto::ByteArray<33>& key) {
  std::string list;
  for (const auto b : key) list += (list.empty() ? "" : ", ") + std::to_string(b);
  return "Malformed Public Key `[" + list + "]`";
}

TEST(RefreshV4, EveryShareChangesAndTheKeyStays) {
  async::Runtime rt(2);
  const auto old = keygen(rt, 3, 2);
  ASSERT_EQ(old.size(), 3u);
  auto results = run_plain<RefreshResult>(
      rt, ids_1_to(3), [old](PartyId me, ProtocolExecutor root) { return refresh_party(me, std::move(root), old); });
  const auto keys = all_keys(results);
  ASSERT_EQ(keys.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(keys[i].public_key == old[i].public_key);
    EXPECT_EQ(keys[i].chain_code, old[i].chain_code);
    EXPECT_EQ(keys[i].threshold, 2);
    EXPECT_EQ(keys[i].num_parties, 3);
    EXPECT_FALSE(keys[i].secret_share == old[i].secret_share);
  }
  EXPECT_TRUE(check_shares_rebuild_key(keys, 2) == check_shares_rebuild_key(old, 2));
}

// A reshare from 2-of-3 to 3-of-4: old parties 1 and 3 stay (new ids 1 and
// 2), two new parties (3 and 4) receive.
TEST(ReshareV4, HoldersAndReceiversShareTheOldKey) {
  async::Runtime rt(2);
  const auto old = keygen(rt, 3, 2);
  ASSERT_EQ(old.size(), 3u);
  // The holders' old ids are 1 and 3; they are parties 1 and 2 of the new set.
  ReshareRole role{{old[0], old[2]}, {pid(1), pid(3)}, old[0].chain_code, pubkey_to_compressed(old[0].public_key), 3};
  auto results = run_reshare(rt, 4, role);
  const auto keys = all_keys(results);
  ASSERT_EQ(keys.size(), 4u);
  for (const auto& k : keys) {
    EXPECT_TRUE(k.public_key == old[0].public_key);
    EXPECT_EQ(k.chain_code, old[0].chain_code);
    EXPECT_EQ(k.threshold, 3);
    EXPECT_EQ(k.num_parties, 4);
  }
  EXPECT_TRUE(check_shares_rebuild_key(keys, 3) == check_shares_rebuild_key(old, 2));
}

// An import: the one-party key of a private key is the only holder (as a set).
TEST(ImportV4, OneHolderDealsItsWholeKey) {
  async::Runtime rt(2);
  crypto::ByteArray<32> private_key{};
  private_key[31] = 42;
  crypto::ByteArray<32> chain_code{};
  chain_code[0] = 9;
  const auto imported = keypair_from_private_key(private_key, chain_code);
  ASSERT_TRUE(imported.has_value());
  // The importer is party 1 of the session; its key pair's id is 1 as well.
  ReshareRole role{{*imported}, {imported->party_id}, chain_code, pubkey_to_compressed(imported->public_key), 2, true};
  auto results = run_reshare(rt, 3, role);
  const auto keys = all_keys(results);
  ASSERT_EQ(keys.size(), 3u);
  for (const auto& k : keys) EXPECT_EQ(k.chain_code, chain_code);
  EXPECT_TRUE(check_shares_rebuild_key(keys, 2) == Scalar::from_u64(42));
}

TEST(ImportV4, KeyPairFromPrivateKeyRefusesZeroAndOrder) {
  const crypto::ByteArray<32> cc{};
  crypto::ByteArray<32> k{};
  EXPECT_FALSE(keypair_from_private_key(k, cc).has_value());
  const auto order = crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
  ASSERT_TRUE(order.has_value());
  EXPECT_FALSE(keypair_from_private_key(*order, cc).has_value());
  k[31] = 1;
  const auto one = keypair_from_private_key(k, cc);
  ASSERT_TRUE(one.has_value());
  EXPECT_TRUE(one->public_key == Point::base_mul(Scalar::one()));
  EXPECT_EQ(one->party_id, pid(1));
  EXPECT_EQ(one->threshold, 1);
  EXPECT_EQ(one->num_parties, 1);
}

// The refusals of the sub-protocols, each with the texts at the parties that
// see it. Party 1 holds, party 2 receives.
TEST(ReshareV4, Refusals) {
  async::Runtime rt(2);
  const auto one_party = keygen(rt, 1, 1);
  ASSERT_EQ(one_party.size(), 1u);
  const KeyPair& key = one_party[0];
  const crypto::ByteArray<33> right = pubkey_to_compressed(key.public_key);
  const std::vector<PartyId> holders = {pid(1)};

  KeyPair wrong_id = key;
  wrong_id.party_id = pid(2);
  // A sole holder that deals zero: the receivers would get the identity.
  KeyPair zero = key;
  zero.secret_share = Scalar::zero();
  crypto::ByteArray<33> other = right;
  other[0] ^= 1;

  struct Case {
    const char* name;
    KeyPair holder;
    crypto::ByteArray<33> expected;
    std::uint16_t t;
    std::string holder_text;
    std::string receiver_text;
  };
  const std::vector<Case> cases = {
      {"holder with a wrong id", wrong_id, right, 2, kNotSameSecret, malformed_text(right)},
      {"holder dealing zero", zero, right, 2, kNotSameSecret, malformed_text(right)},
      {"receiver told another key", key, other, 2, "", malformed_text(other)},
      {"threshold above the new set", key, right, 3, "The threshold Is bigger than the number of parties",
       "The threshold Is bigger than the number of parties"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto results = run_reshare(rt, 2, ReshareRole{{c.holder}, holders, c.holder.chain_code, c.expected, c.t});
    if (c.holder_text.empty()) {
      EXPECT_TRUE(results[0].has_value());
    } else {
      ASSERT_FALSE(results[0].has_value());
      EXPECT_EQ(results[0].error().display(), c.holder_text);
    }
    ASSERT_FALSE(results[1].has_value());
    EXPECT_EQ(results[1].error().display(), c.receiver_text);
  }
}

// Without the key check a receiver still refuses the identity.
TEST(ReshareV4, ReceiverWithoutCheckRefusesTheIdentity) {
  async::Runtime rt(2);
  auto results = run_plain<RefreshResult>(rt, ids_1_to(2), [](PartyId, ProtocolExecutor root) -> asio::awaitable<RefreshResult> {
    co_return co_await receiver_keygen_inner_v4(root, crypto::ByteArray<32>{}, 1);
  });
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), "One of the lagrange sums is not equal to the rest");
  }
}

// ---------------------------------------------------------------------------
// Extraction rounds.

TEST(ExtractV4, ThresholdPartiesRebuildTheKeyAtTheReceiver) {
  async::Runtime rt(2);
  const auto keys = keygen(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  const Scalar secret = check_shares_rebuild_key(keys, 2);
  // Parties 1 and 3 of the key; party 3 receives.
  const std::vector<PartyId> session = {pid(1), pid(3)};
  auto results = run_plain<ExtractOutcome>(
      rt, session, [keys](PartyId me, ProtocolExecutor root) { return extract_party(me, std::move(root), keys, pid(3)); });
  ASSERT_TRUE(results[0].has_value());
  EXPECT_FALSE(results[0]->has_value());
  ASSERT_TRUE(results[1].has_value() && results[1]->has_value());
  const Xpriv& x = **results[1];
  EXPECT_TRUE(x.private_key == secret);
  EXPECT_EQ(x.chain_code, keys[0].chain_code);
  EXPECT_EQ(x.depth, 0);
  EXPECT_EQ(x.child_number, 0u);
}

TEST(ExtractV4, Refusals) {
  async::Runtime rt(2);
  const auto keys = keygen(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  {
    SCOPED_TRACE("three parties for a threshold of two");
    auto results = run_plain<ExtractOutcome>(rt, ids_1_to(3), [keys](PartyId me, ProtocolExecutor root) {
      return extract_party(me, std::move(root), keys, pid(1));
    });
    for (const auto& r : results) {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().display(), "Expected 2 participants, but received 3");
    }
  }
  {
    SCOPED_TRACE("a tampered contribution");
    auto results = run_tapped<ExtractOutcome>(
        rt, ids_1_to(2),
        [keys](PartyId me, ProtocolExecutor root) { return extract_party(me, std::move(root), keys, pid(1)); },
        pid(2), [](crypto::Bytes& p, PartyId) { p[31] ^= 1; });
    ASSERT_FALSE(results[0].has_value());
    EXPECT_EQ(results[0].error().display(), "The private key is invalid");
    EXPECT_TRUE(results[1].has_value());
  }
}

}  // namespace
}  // namespace velto::ecdsa::legacy::testing
