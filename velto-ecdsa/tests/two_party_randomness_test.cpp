#include "velto-mpc-infra/async/asio.hpp"

#include "velto-ecdsa/two_party_randomness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "velto-ecdsa/sign.hpp"
#include "velto-ecdsa/tests/signing_session.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::ecdsa {
namespace {

namespace asio = boost::asio;
using signing_test::PartyFn;
using signing_test::pid;
using signing_test::run_session;

// ---------------------------------------------------------------- joins

using Branch = asio::awaitable<std::expected<int, std::string>>;

asio::awaitable<void> sleep_for(std::chrono::milliseconds d) {
  asio::steady_timer timer(co_await asio::this_coro::executor, d);
  co_await timer.async_wait(asio::use_awaitable);
}

Branch value_after(int value, int ms) {
  co_await sleep_for(std::chrono::milliseconds(ms));
  co_return value;
}

Branch failure_after(std::string text, int ms) {
  co_await sleep_for(std::chrono::milliseconds(ms));
  co_return std::unexpected(std::move(text));
}

// Counts its destruction: a branch that was stopped released its state.
struct Guard {
  std::shared_ptr<int> released;
  ~Guard() { ++*released; }
};

Branch never_finishes(std::shared_ptr<int> released) {
  Guard guard{std::move(released)};
  co_await sleep_for(std::chrono::hours(1));
  co_return 0;
}

TEST(TryJoinAllTest, ResultsInCreationOrderWhateverTheyFinishIn) {
  async::Runtime rt(1);
  std::vector<Branch> branches;
  branches.push_back(value_after(10, 30));
  branches.push_back(value_after(11, 1));
  branches.push_back(value_after(12, 15));
  const auto r = rt.block_on(try_join_all<int, std::string>(std::move(branches)));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, (std::vector<int>{10, 11, 12}));
  EXPECT_TRUE(rt.block_on(try_join_all<int, std::string>({}))->empty());
}

TEST(TryJoinAllTest, FirstFailureEndsTheOthers) {
  async::Runtime rt(1);
  auto released = std::make_shared<int>(0);
  std::vector<Branch> branches;
  branches.push_back(never_finishes(released));
  branches.push_back(failure_after("second", 20));
  branches.push_back(failure_after("first", 1));
  branches.push_back(never_finishes(released));
  const auto r = rt.block_on(try_join_all<int, std::string>(std::move(branches)));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), "first");
  EXPECT_EQ(*released, 2);
}

// ---------------------------------------------------------------- coin toss

using Toss = std::expected<crypto::SecretArray<32>, EcdsaSignerInitError>;

struct TossOutcome {
  std::optional<Toss> honest;
  // What the scripted peer received: the honest side's commitment and value.
  std::vector<crypto::ByteArray<32>> received;
};

PeerExecutor zeta_pair(const ProtocolExecutor& root, PartyId peer) {
  const PartyId own = root.my_party_id();
  return PeerExecutor(root.child("sample zetas").child_pair(std::min(own, peer), std::max(own, peer)), peer);
}

asio::awaitable<TossOutcome> honest_toss(ProtocolExecutor root, PartyId peer) {
  TossOutcome out;
  out.honest.emplace(co_await two_party_randomness(zeta_pair(root, peer)));
  co_return out;
}

// A scripted peer: sends its two payloads at once, then collects `expect`
// messages of 32 bytes.
asio::awaitable<TossOutcome> scripted_toss(ProtocolExecutor root, PartyId peer, crypto::Bytes first,
                                           crypto::Bytes second, std::size_t expect) {
  TossOutcome out;
  PeerExecutor pair = zeta_pair(root, peer);
  (void)pair.executor().send_payload_to(peer, std::move(first));
  (void)pair.executor().send_payload_to(peer, std::move(second));
  for (std::size_t i = 0; i < expect; ++i) {
    const PartyId from[1] = {peer};
    auto poll = BufferedPoll::start(pair.executor(), from);
    auto item = co_await poll.next<crypto::ByteArray<32>>();
    if (!item || !*item) break;
    out.received.push_back((*item)->value);
  }
  co_return out;
}

crypto::Bytes bytes_of(crypto::ByteSpan s) { return crypto::Bytes(s.begin(), s.end()); }

TEST(TwoPartyRandomnessTest, ScriptedPeers) {
  crypto::ByteArray<32> v{};
  for (std::size_t i = 0; i < 32; ++i) v[i] = static_cast<std::uint8_t>(3 * i + 1);
  const crypto::ByteArray<32> c = two_party_commitment(v);
  crypto::ByteArray<32> other = v;
  other[0] ^= 0x80;

  struct Case {
    const char* name;
    crypto::Bytes commitment;
    crypto::Bytes value;
    std::optional<std::string> error;  // of the honest side
  };
  crypto::Bytes long_commitment = bytes_of(c);
  long_commitment.resize(40, 0xAB);
  const Case cases[] = {
      {"as specified", bytes_of(c), bytes_of(v), std::nullopt},
      {"40-byte commitment", long_commitment, bytes_of(v), std::nullopt},
      {"another value revealed", bytes_of(c), bytes_of(other),
       "Failed to generate zeta shares, Received malicious data from the other party"},
      {"31-byte commitment", crypto::Bytes(c.begin(), c.begin() + 31), bytes_of(v),
       "Failed to receive a message: Out of bounds"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::size_t expect = k.error ? 1 : 2;
    const PartyFn<TossOutcome> fn = [&k, expect](ProtocolExecutor root, std::size_t i) {
      return i == 0 ? honest_toss(std::move(root), pid(9))
                    : scripted_toss(std::move(root), pid(4), k.commitment, k.value, expect);
    };
    const auto outcome = run_session({pid(4), pid(9)}, fn);
    const auto& honest = outcome.parties[0].result.honest;
    const auto& seen = outcome.parties[1].result.received;
    ASSERT_TRUE(honest.has_value());
    ASSERT_GE(seen.size(), 1u);
    if (k.error) {
      ASSERT_FALSE(honest->has_value());
      EXPECT_EQ(honest->error().display(), *k.error);
      continue;
    }
    ASSERT_TRUE(honest->has_value()) << honest->error().display();
    ASSERT_EQ(seen.size(), 2u);
    // The honest side committed to the value it revealed, and the seed is
    // the XOR of both values.
    EXPECT_EQ(two_party_commitment(seen[1]), seen[0]);
    crypto::ByteArray<32> expected{};
    for (std::size_t i = 0; i < 32; ++i) expected[i] = static_cast<std::uint8_t>(seen[1][i] ^ v[i]);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), (*honest)->span().begin()));
  }
}

// ---------------------------------------------------------------- whole step

using SetupRun = std::expected<PresignPairwiseSetup, EcdsaSignerInitError>;

asio::awaitable<SetupRun> run_setup(ProtocolExecutor root) {
  const ProtocolExecutor init = root.child(kSignerInitLabel);
  co_return co_await presign_pairwise_setup(init.child(kSampleZetasLabel), init.child(kRvolesInitLabel));
}

// Both ends of every pair hold the same seed; the seeds of different pairs
// differ; entries come in ascending peer order.
TEST(PresignPairwiseSetupTest, ThreeSignersAgreePairwise) {
  const std::vector<PartyId> ids = {pid(2), pid(5), pid(8)};
  const PartyFn<SetupRun> fn = [](ProtocolExecutor root, std::size_t) { return run_setup(std::move(root)); };
  const auto outcome = run_session(ids, fn);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto& r = outcome.parties[i].result;
    ASSERT_TRUE(r.has_value()) << r.error().display();
    ASSERT_EQ(r->zeta_seeds.size(), 2u);
    ASSERT_EQ(r->rvoles.size(), 2u);
    std::size_t slot = 0;
    for (const PartyId p : ids) {
      if (p == ids[i]) continue;
      EXPECT_EQ(r->zeta_seeds[slot].first, p);
      EXPECT_EQ(r->rvoles[slot].peer, p);
      ++slot;
    }
  }
  const auto seed = [&](std::size_t a, PartyId b) { return outcome.parties[a].result->zeta_seeds.at(b); };
  EXPECT_TRUE(seed(0, pid(5)) == seed(1, pid(2)));
  EXPECT_TRUE(seed(0, pid(8)) == seed(2, pid(2)));
  EXPECT_TRUE(seed(1, pid(8)) == seed(2, pid(5)));
  EXPECT_FALSE(seed(0, pid(5)) == seed(0, pid(8)));
  // Every party sent the same amount: per peer, two coin-toss messages and
  // both directions' set-up messages (the tag travels with each).
  for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(outcome.bytes_sent[i], outcome.bytes_sent[0]);
}

TEST(PresignPairwiseSetupTest, AloneNothingIsSent) {
  const PartyFn<SetupRun> fn = [](ProtocolExecutor root, std::size_t) { return run_setup(std::move(root)); };
  const auto outcome = run_session({pid(3)}, fn);
  const auto& r = outcome.parties[0].result;
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->zeta_seeds.empty());
  EXPECT_TRUE(r->rvoles.empty());
  EXPECT_EQ(outcome.bytes_sent[0], 0u);
}

// A peer whose set-up message is short: the step fails with the set-up's
// error, wrapped (the coin toss had nothing to do with it).
TEST(PresignPairwiseSetupTest, SetupFailureEndsTheStep) {
  const std::vector<PartyId> ids = {pid(1), pid(2)};
  signing_test::SessionOptions options;
  options.receive_timeout = std::chrono::seconds(3);
  // The 10,240-byte set-up message of party 2, cut short.
  options.rewrite = [](PartyId from, PartyId, crypto::Bytes& plaintext) {
    if (from == pid(2) && plaintext.size() == 10240 + kTagSize) plaintext.erase(plaintext.begin());
  };
  const PartyFn<SetupRun> fn = [](ProtocolExecutor root, std::size_t) { return run_setup(std::move(root)); };
  const auto outcome = run_session(ids, fn, options);
  const auto& r = outcome.parties[0].result;
  ASSERT_FALSE(r.has_value());
  EXPECT_TRUE(r.error().template is<EcdsaSignerInitError::InitRvoleError>());
  EXPECT_EQ(r.error().display(), "Out of bounds");
}

}  // namespace
}  // namespace velto::ecdsa
