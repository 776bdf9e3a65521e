// The transport-key collector: every party ends with the same map of new
// keys, its own entry included, and refuses short or small-order keys.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <set>
#include <string>
#include <vector>

#include "executor/common/transport_key.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/tests/ecdsa_latest_util.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::executor {
namespace {

using test::asio::awaitable;
using velto::testing::DetachedExecutor;
using velto::testing::run_here;

awaitable<TransportKeyResult> collect(ProtocolExecutor root) {
  PartyList parties = root.shared_parties();
  co_return co_await transport_key_collector_task(root.child(kTransportKeyRefreshLabel), std::move(parties));
}

TEST(EcdsaLatestTransportKey, EveryPartyGetsTheSameFullMap) {
  async::Runtime rt(2);
  for (std::uint16_t n : {1, 2, 4}) {
    SCOPED_TRACE(n);
    auto results = test::run_parties<TransportKeyResult>(
        rt, test::ids_1_to(n), [](PartyId, ProtocolExecutor root) { return collect(std::move(root)); });
    ASSERT_EQ(results.size(), n);
    std::set<crypto::ByteArray<32>> distinct;
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(results[i].has_value()) << results[i].error()->display();
      const TransportKeyRotation& r = *results[i];
      EXPECT_EQ(r.party_map, results[0]->party_map);
      ASSERT_EQ(r.party_map.size(), n);
      EXPECT_EQ(r.party_map.at(test::pid(static_cast<std::uint16_t>(i + 1))), r.keypair.public_key());
      // libsodium: the public key is X25519 of the private key.
      crypto::ByteArray<32> expected;
      ASSERT_EQ(crypto_scalarmult_base(expected.data(), r.keypair.private_key().span().data()), 0);
      EXPECT_EQ(r.keypair.public_key().bytes(), expected);
      distinct.insert(r.keypair.public_key().bytes());
    }
    EXPECT_EQ(distinct.size(), n);
  }
}

// Party 1 of {1, 2, 3}, fed by hand.
struct FeedCase {
  const char* name;
  // (sender, payload) in arrival order.
  std::vector<std::pair<std::uint16_t, crypto::Bytes>> feed;
  // Empty: success, and party 2's key is the first 32 bytes of its first
  // message.
  std::string error;
};

crypto::Bytes key_bytes(std::size_t extra = 0) {
  const auto k = noise::generate_ephemeral().public_key().bytes();
  crypto::Bytes b(k.begin(), k.end());
  b.resize(b.size() + extra, 0xee);
  return b;
}

TEST(EcdsaLatestTransportKey, ReceivedKeys) {
  crypto::Bytes order8(32, 0);  // a point of order 8
  const std::uint8_t order8_bytes[32] = {0xe0, 0xeb, 0x7a, 0x7c, 0x3b, 0x41, 0xb8, 0xae, 0x16, 0x56, 0xe3,
                                         0xfa, 0xf1, 0x9f, 0xc4, 0x6a, 0xda, 0x09, 0x8d, 0xeb, 0x9c, 0x32,
                                         0xb1, 0xfd, 0x86, 0x62, 0x05, 0x16, 0x5f, 0x49, 0xb8, 0x00};
  order8.assign(order8_bytes, order8_bytes + 32);
  const FeedCase cases[] = {
      {"exact keys", {{2, key_bytes()}, {3, key_bytes()}}, ""},
      {"longer payload is read for its first 32 bytes", {{3, key_bytes()}, {2, key_bytes(1)}}, ""},
      {"second key of a party stays unused", {{2, key_bytes()}, {2, key_bytes()}, {3, key_bytes()}}, ""},
      {"short payload", {{2, crypto::Bytes(31, 9)}}, "Out of bounds"},
      {"all-zero key", {{3, crypto::Bytes(32, 0)}}, "Invalid public key"},
      {"small-order key", {{2, order8}}, "Invalid public key"},
  };
  for (const FeedCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = DetachedExecutor::open(test::pid(1), {test::pid(1), test::pid(2), test::pid(3)});
    for (const auto& [sender, payload] : c.feed) d.feed(sender, payload);
    PartyList parties = d.executor->shared_parties();
    auto result = run_here(transport_key_collector_task(std::move(*d.executor), parties));
    d.executor.reset();

    // The own key went to everybody first, as 32 raw bytes.
    auto commands = d.drain();
    ASSERT_FALSE(commands.empty());
    const auto* sent = std::get_if<manager_message::SendToAll>(&commands.front());
    ASSERT_NE(sent, nullptr);
    ASSERT_EQ(sent->payload.size(), 32u);

    if (!c.error.empty()) {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error()->display(), c.error);
      continue;
    }
    ASSERT_TRUE(result.has_value()) << result.error()->display();
    EXPECT_TRUE(std::equal(sent->payload.begin(), sent->payload.end(), result->keypair.public_key().bytes().begin()));
    ASSERT_EQ(result->party_map.size(), 3u);
    EXPECT_EQ(result->party_map.at(test::pid(1)), result->keypair.public_key());
    for (const std::uint16_t peer : {2, 3}) {
      const auto first = std::find_if(c.feed.begin(), c.feed.end(), [&](const auto& f) { return f.first == peer; });
      const auto& key = result->party_map.at(test::pid(peer)).bytes();
      EXPECT_TRUE(std::equal(key.begin(), key.end(), first->second.begin())) << "party " << peer;
    }
  }
}

}  // namespace
}  // namespace velto::executor
