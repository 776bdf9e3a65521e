// Commitments: the digest, the two rounds, and the opening error.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::testing {
namespace {

using crypto::Point;
using crypto::Scalar;
using PointList = std::vector<Point>;

Point mul_g(std::uint64_t k) { return Point::base_mul(Scalar::from_u64(k)); }

crypto::Bytes encoded(const auto& value) { return *sised::encode(value); }

UcTag counting_tag() {
  crypto::ByteArray<32> b;
  for (std::size_t i = 0; i < 32; ++i) b[i] = static_cast<std::uint8_t>(i);
  return UcTag(b);
}

// ---------------------------------------------------------------------------
// The digest

TEST(CommitHash, MatchesAnIndependentComputation) {
  // BLAKE3 derive-key "VELTO ECDSA COMMIT V0" over tag 00..1f, committer 2,
  // parties 1 2 3 and the list [G, 2G], computed once with other tools.
  const auto ids = ids_1_to(3);
  EXPECT_EQ(crypto::hex_encode(commit_hash(counting_tag(), pid(2), ids, PointList{mul_g(1), mul_g(2)})),
            "55cc23e86565fe919337c28d45a6c5a9d5e54afbb01484a09f2d85a14aad4a83");
}

TEST(CommitHash, BindsTagCommitterPartyListAndValue) {
  const auto ids = ids_1_to(3);
  const PointList value{mul_g(5)};
  const Commitment base = commit_hash(counting_tag(), pid(2), ids, value);
  const std::vector<PartyId> other_list{pid(1), pid(2), pid(4)};
  const std::vector<PartyId> fewer{pid(1), pid(2)};
  struct Case {
    std::string name;
    Commitment digest;
  };
  const Case cases[] = {
      {"tag", commit_hash(root_uc_tag(), pid(2), ids, value)},
      {"committer", commit_hash(counting_tag(), pid(1), ids, value)},
      {"party list", commit_hash(counting_tag(), pid(2), other_list, value)},
      {"shorter party list", commit_hash(counting_tag(), pid(2), fewer, value)},
      {"value", commit_hash(counting_tag(), pid(2), ids, PointList{mul_g(6)})},
      {"count", commit_hash(counting_tag(), pid(2), ids, PointList{mul_g(5), mul_g(5)})},
      {"same bytes, other form", commit_hash(counting_tag(), pid(2), ids, mul_g(5))},
  };
  for (const auto& c : cases) EXPECT_NE(c.digest, base) << c.name;
  EXPECT_EQ(commit_hash(counting_tag(), pid(2), ids, value), base);
}

// ---------------------------------------------------------------------------
// DecommitError

TEST(DecommitErrorTest, TextsDebugFormsAndSources) {
  const DecommitError invalid = DecommitError::invalid_commitment();
  EXPECT_EQ(invalid.display(), "Received an invalid commitment");
  EXPECT_EQ(invalid.debug(), "InvalidCommitment");
  EXPECT_EQ(invalid.source(), nullptr);

  const BoxedError closed = ExecutorChannelError::manager_channel_closed();
  const DecommitError failed = DecommitError::receive_failed(closed);
  EXPECT_EQ(failed.display(), "Failed to receive a message: The manager channel was closed");
  EXPECT_EQ(failed.debug(), "ReceiveFailed(ManagerChannelClosed)");
  EXPECT_EQ(failed.source(), closed.get());
  EXPECT_THROW(DecommitError::receive_failed(nullptr), Panic);
}

// ---------------------------------------------------------------------------
// The rounds, one party driven by hand

// Party 1 of 1, 2, 3 on the root tag; the peers commit to `v2` and `v3`.
struct HandDriven {
  DetachedExecutor d = DetachedExecutor::open(pid(1), ids_1_to(3));
  crypto::Bytes digest_of(std::uint16_t committer, const auto& value) {
    const Commitment c = commit_hash(d.executor->tag(), pid(committer), d.executor->parties(), value);
    return crypto::Bytes(c.begin(), c.end());
  }
};

using PointResult = std::expected<PartyMap<Point>, CommitThenDecommitError>;

std::string describe(const CommitThenDecommitError& e) {
  return std::visit([](const auto& v) -> std::string {
    if constexpr (std::is_same_v<std::decay_t<decltype(v)>, BoxedError>) {
      return "commit round: " + v->display();
    } else {
      return "opening: " + v.display();
    }
  }, e);
}

TEST(CommitThenDecommit, OpensEveryPeersValueAndSendsDigestThenValue) {
  HandDriven h;
  const Point own = mul_g(1), v2 = mul_g(2), v3 = mul_g(3);
  // Party 2 opens before party 3 has committed: its opening waits its turn.
  h.d.feed(2, h.digest_of(2, v2));
  h.d.feed(2, encoded(v2));
  h.d.feed(3, h.digest_of(3, v3));
  h.d.feed(3, encoded(v3));
  auto result = run_here(commit_then_decommit(*h.d.executor, own));
  ASSERT_TRUE(result.has_value()) << describe(result.error());
  ASSERT_EQ(result->size(), 2u);
  EXPECT_EQ(result->at(pid(2)), v2);
  EXPECT_EQ(result->at(pid(3)), v3);

  auto commands = h.d.drain();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(std::get<manager_message::SendToAll>(commands[0]).payload, h.digest_of(1, own));
  EXPECT_EQ(std::get<manager_message::SendToAll>(commands[1]).payload, encoded(own));
}

TEST(CommitThenDecommit, OpeningsThatDoNotMatchOrDoNotDecode) {
  const PointList committed{mul_g(1), mul_g(2), mul_g(3)};
  crypto::Bytes not_a_point = encoded(PointList{mul_g(1), mul_g(2), mul_g(3)});
  not_a_point[1] = 0x07;
  crypto::Bytes truncated = encoded(committed);
  truncated.pop_back();
  struct Case {
    std::string name;
    crypto::Bytes digest_of_3;  // what party 3 committed to
    crypto::Bytes opening_of_3;
    std::string display;
  };
  const UcTag tag = root_uc_tag();  // the hand-driven executor's
  const auto digest = [&](const UcTag& t, std::uint16_t committer, const std::vector<PartyId>& parties) {
    const Commitment c = commit_hash(t, pid(committer), parties, committed);
    return crypto::Bytes(c.begin(), c.end());
  };
  const std::vector<PartyId> other_parties{pid(1), pid(2), pid(3), pid(4)};
  const std::vector<Case> cases{
      {"another valid list", digest(tag, 3, ids_1_to(3)), encoded(PointList{mul_g(1), mul_g(2), mul_g(4)}),
       "Received an invalid commitment"},
      {"one point fewer", digest(tag, 3, ids_1_to(3)), encoded(PointList{mul_g(1), mul_g(2)}),
       "Received an invalid commitment"},
      {"one point more", digest(tag, 3, ids_1_to(3)), encoded(PointList{mul_g(1), mul_g(2), mul_g(3), mul_g(4)}),
       "Received an invalid commitment"},
      {"digest under another tag", digest(counting_tag(), 3, ids_1_to(3)), encoded(committed),
       "Received an invalid commitment"},
      {"digest as another committer", digest(tag, 2, ids_1_to(3)), encoded(committed),
       "Received an invalid commitment"},
      {"digest over another party list", digest(tag, 3, other_parties), encoded(committed),
       "Received an invalid commitment"},
      {"not a point", digest(tag, 3, ids_1_to(3)), not_a_point,
       "Failed to receive a message: Invalid Compressed AffinePoint"},
      {"truncated", digest(tag, 3, ids_1_to(3)), truncated, "Failed to receive a message: Out of bounds"},
  };
  for (const auto& c : cases) {
    HandDriven h;
    h.d.feed(2, h.digest_of(2, committed));
    h.d.feed(3, c.digest_of_3);
    h.d.feed(3, c.opening_of_3);
    h.d.feed(2, encoded(committed));
    auto result = run_here(commit_then_decommit(*h.d.executor, committed));
    ASSERT_FALSE(result.has_value()) << c.name;
    ASSERT_EQ(result.error().index(), 1u) << c.name << ": " << describe(result.error());
    EXPECT_EQ(std::get<1>(result.error()).display(), c.display) << c.name;
  }
}

TEST(CommitThenDecommit, InvalidOpeningEndsTheRoundWithoutWaitingForTheRest) {
  HandDriven h;
  const Point v2 = mul_g(2), v3 = mul_g(3);
  h.d.feed(2, h.digest_of(2, v2));
  h.d.feed(3, h.digest_of(3, v3));
  h.d.feed(3, encoded(mul_g(4)));  // party 2 never opens
  auto result = run_here(commit_then_decommit(*h.d.executor, mul_g(1)));
  ASSERT_FALSE(result.has_value());
  ASSERT_EQ(result.error().index(), 1u);
  EXPECT_TRUE(std::get<1>(result.error()).is<DecommitError::InvalidCommitment>());
}

TEST(CommitThenDecommit, CommitRoundFailuresAreTheCollectionsOwn) {
  {
    HandDriven h;
    h.d.feed(2, filled(31, 0));
    auto result = run_here(commit_then_decommit(*h.d.executor, mul_g(1)));
    ASSERT_FALSE(result.has_value());
    ASSERT_EQ(result.error().index(), 0u);
    EXPECT_EQ(std::get<0>(result.error())->debug(), "OutOfBounds");
  }
  {
    HandDriven h;
    h.d.commands.reset();
    auto result = run_here(commit_then_decommit(*h.d.executor, mul_g(1)));
    ASSERT_FALSE(result.has_value());
    ASSERT_EQ(result.error().index(), 0u);
    EXPECT_EQ(std::get<0>(result.error())->display(), "The manager channel was closed");
  }
  {
    // A digest longer than 32 bytes counts by its first 32.
    HandDriven h;
    crypto::Bytes longer = h.digest_of(2, mul_g(2));
    longer.push_back(0xee);
    h.d.feed(2, longer);
    h.d.feed(3, h.digest_of(3, mul_g(3)));
    auto commitments = run_here(commit_round(*h.d.executor, mul_g(1)));
    ASSERT_TRUE(commitments.has_value());
    EXPECT_EQ(crypto::Bytes(commitments->at(pid(2)).begin(), commitments->at(pid(2)).end()), h.digest_of(2, mul_g(2)));
  }
}

TEST(CommitThenDecommit, SinglePartyOpensNothing) {
  auto d = DetachedExecutor::open(pid(4), {pid(4)});
  auto result = run_here(commit_then_decommit(*d.executor, mul_g(9)));
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->empty());
}

// ---------------------------------------------------------------------------
// Sessions

// The committed proof record of key generation: two points and a scalar.
using ProofRecord = std::tuple<Point, Point, Scalar>;

TEST(CommitThenDecommitSession, EveryPartyOpensEveryOtherPartysValue) {
  async::Runtime rt(4);
  for (const std::uint16_t n : {3, 7, 16}) {
    const auto ids = ids_1_to(n);
    const auto value_of = [](PartyId id) {
      return ProofRecord{mul_g(id.value()), mul_g(100 + id.value()), Scalar::from_u64(7 * id.value())};
    };
    using Result = std::expected<PartyMap<ProofRecord>, CommitThenDecommitError>;
    auto outcomes = run_session<Result>(rt, ids, [value_of](PartyId me, ProtocolExecutor root) -> asio::awaitable<Result> {
      ProtocolExecutor executor = root.child("DLComZK");
      co_return co_await commit_then_decommit(executor, value_of(me));
    });
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const auto& o = outcomes[i];
      EXPECT_TRUE(o.manager.has_value());
      ASSERT_TRUE(o.result.has_value()) << describe(o.result.error());
      ASSERT_EQ(o.result->size(), n - 1u);
      for (const PartyId id : ids) {
        if (id == ids[i]) continue;
        EXPECT_TRUE(o.result->at(id) == value_of(id)) << n << ": " << id.value() << " at " << ids[i].value();
      }
    }
  }
}

}  // namespace
}  // namespace velto::testing
