// The full-private-key extraction handler: exactly threshold-many parties
// rebuild the key at one receiver; every other outcome is an orderly error.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "executor/tests/ecdsa_latest_util.hpp"

namespace velto::executor {
namespace {

using test::asio::awaitable;
using ExtractResult = std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>;

awaitable<ExtractResult> extract_party(ProtocolExecutor root, EcdsaStorableSecretShare share, PartyId receiver) {
  co_return co_await ecdsa_extract_handler_latest(std::move(root), share, receiver);
}

// shares[i] is used by party ids[i].
std::vector<ExtractResult> run_extract(async::Runtime& rt, const std::vector<PartyId>& ids,
                                       const std::vector<EcdsaStorableSecretShare>& shares, PartyId receiver) {
  return test::run_parties<ExtractResult>(rt, ids, [&](PartyId id, ProtocolExecutor root) {
    for (std::size_t i = 0; i < ids.size(); ++i)
      if (ids[i] == id) return extract_party(std::move(root), shares[i], receiver);
    throw std::logic_error("no share for party");
  });
}

TEST(EcdsaLatestExtract, ReceiverRebuildsTheKey) {
  async::Runtime rt(4);
  const auto two_of_three = test::fresh_shares(rt, 2, 3);
  const auto one_of_one = test::fresh_shares(rt, 1, 1);
  struct Case {
    const char* name;
    std::vector<EcdsaStorableSecretShare> shares;
    std::vector<PartyId> ids;
    PartyId receiver;
  };
  const Case cases[] = {
      {"two of three, the last one receives", {two_of_three[0], two_of_three[2]}, {test::pid(1), test::pid(3)},
       test::pid(3)},
      {"two of three, the first one receives", {two_of_three[1], two_of_three[2]}, {test::pid(2), test::pid(3)},
       test::pid(2)},
      {"a one-party key alone", {one_of_one[0]}, {test::pid(1)}, test::pid(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ecdsa::KeyPair> keys;
    for (const auto& s : c.shares) keys.push_back(test::latest_key(s));
    const crypto::Scalar expected = ecdsa::testing::interpolate(keys);

    const auto results = run_extract(rt, c.ids, c.shares, c.receiver);
    for (std::size_t i = 0; i < c.ids.size(); ++i) {
      ASSERT_TRUE(results[i].has_value()) << results[i].error().display();
      if (c.ids[i] != c.receiver) {
        EXPECT_FALSE(results[i]->has_value()) << "a sender got a key";
        continue;
      }
      ASSERT_TRUE(results[i]->has_value());
      const ecdsa::Xpriv& xpriv = **results[i];
      EXPECT_TRUE(crypto::Point::base_mul(xpriv.private_key) == keys[0].public_key);
      EXPECT_TRUE(xpriv.private_key == expected);
      EXPECT_EQ(xpriv.chain_code, keys[0].chain_code);
      EXPECT_EQ(xpriv.depth, 0);
      EXPECT_EQ(xpriv.child_number, 0u);
      EXPECT_EQ(xpriv.parent_fingerprint, (crypto::ByteArray<4>{}));
    }
  }
}

TEST(EcdsaLatestExtract, Refusals) {
  async::Runtime rt(4);
  const auto shares = test::fresh_shares(rt, 2, 3);
  const auto other = test::fresh_shares(rt, 2, 3);
  const std::string absent_receiver_key = shares[0].partyid_pubkey_map.at(test::pid(2)).display();

  struct Case {
    const char* name;
    std::vector<EcdsaStorableSecretShare> shares;
    std::vector<PartyId> ids;
    PartyId receiver;
    // Expected display per party, "" for success without a key.
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"receiver known to the share but not in the session",
       {shares[0], shares[2]},
       {test::pid(1), test::pid(3)},
       test::pid(2),
       {"The provided public key(`" + absent_receiver_key + "`) doesn't exist in the party list",
        "The provided public key(`" + absent_receiver_key + "`) doesn't exist in the party list"}},
      {"more parties than the threshold",
       shares,
       test::ids_1_to(3),
       test::pid(1),
       {"Executor Failed: `Expected 2 participants, but received 3`",
        "Executor Failed: `Expected 2 participants, but received 3`",
        "Executor Failed: `Expected 2 participants, but received 3`"}},
      {"a sender holds a share of another key",
       {other[0], shares[2]},
       {test::pid(1), test::pid(3)},
       test::pid(3),
       {"", "Executor Failed: `The private key is invalid`"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto results = run_extract(rt, c.ids, c.shares, c.receiver);
    for (std::size_t i = 0; i < c.ids.size(); ++i) {
      SCOPED_TRACE("party " + std::to_string(c.ids[i].value()));
      if (c.expected[i].empty()) {
        ASSERT_TRUE(results[i].has_value()) << results[i].error().display();
        EXPECT_FALSE(results[i]->has_value());
        continue;
      }
      ASSERT_FALSE(results[i].has_value());
      EXPECT_EQ(results[i].error().display(), c.expected[i]);
    }
  }
}

}  // namespace
}  // namespace velto::executor
