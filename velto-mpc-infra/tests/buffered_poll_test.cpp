// Buffered collection on an executor, the collectors, receive-next and the
// per-peer iterators. Messages are fed straight into the executor's inbound
// channel; the coroutines run on a context stepped by hand.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::testing {
namespace {

using Value = crypto::ByteArray<32>;

Value value_of(std::uint8_t b) {
  Value v;
  v.fill(b);
  return v;
}

crypto::Bytes payload_of(std::uint8_t b) { return filled(32, b); }

// Polls a collection of 32-byte values to its end or first error.
struct PollLog {
  std::vector<std::uint16_t> senders;
  std::vector<std::uint8_t> first_bytes;
  std::optional<std::string> error;
};

asio::awaitable<PollLog> poll_all(ProtocolExecutor& e, std::vector<PartyId> ids) {
  PollLog log;
  auto poll = BufferedPoll::start(e, ids);
  for (;;) {
    auto item = co_await poll.next<Value>();
    if (!item) {
      log.error = item.error()->display();
      break;
    }
    if (!*item) break;
    log.senders.push_back((*item)->sender.value());
    log.first_bytes.push_back((*item)->value[0]);
  }
  co_return log;
}

TEST(BufferedPollTest, OwnIdOnlyFinishesAtOnce) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2)});
  auto log = run_here(poll_all(*d.executor, {pid(1)}));
  EXPECT_TRUE(log.senders.empty());
  EXPECT_FALSE(log.error);
}

TEST(BufferedPollTest, AwaitedInArrivalOrderOthersKeptForLater) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2), pid(3), pid(4), pid(5)});
  d.feed(3, payload_of(3));
  d.feed(2, payload_of(2));
  d.feed(2, payload_of(0x22));  // a second message of 2 under the same tag
  d.feed(4, payload_of(4));     // not awaited now
  d.feed(5, payload_of(5));
  auto first = run_here(poll_all(*d.executor, {pid(2), pid(3), pid(5)}));
  EXPECT_EQ(first.senders, (std::vector<std::uint16_t>{3, 2, 5}));
  EXPECT_EQ(first.first_bytes, (std::vector<std::uint8_t>{3, 2, 5}));
  EXPECT_EQ(d.executor->collection().early_messages.size(), 2u);

  // Later collections find the held messages first, in arrival order.
  d.feed(4, payload_of(0x44));
  auto second = run_here(poll_all(*d.executor, {pid(4), pid(2)}));
  EXPECT_EQ(second.senders, (std::vector<std::uint16_t>{2, 4}));
  EXPECT_EQ(second.first_bytes, (std::vector<std::uint8_t>{0x22, 4}));
  auto third = run_here(poll_all(*d.executor, {pid(4)}));
  EXPECT_EQ(third.first_bytes, (std::vector<std::uint8_t>{0x44}));
}

TEST(BufferedPollTest, HoldsCapacityUnexpectedMessagesAndRefusesTheNext) {
  for (const std::size_t extra : {std::size_t{0}, std::size_t{1}}) {
    auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2), pid(3)}, /*capacity=*/256);
    ManualContext ctx;
    std::optional<PollLog> log;
    const std::vector<PartyId> awaited{pid(2)};
    ctx.spawn([&]() -> asio::awaitable<void> { log = co_await poll_all(*d.executor, awaited); });
    // Party 3 is not awaited: 256 of its messages are held (fed in rounds,
    // as the channel holds 256 at a time).
    for (std::size_t i = 0; i < 256 + extra; ++i) {
      d.feed(3, payload_of(3));
      ctx.poll();
    }
    if (extra == 0) {
      ASSERT_FALSE(log.has_value());  // still waiting for party 2
      EXPECT_EQ(d.executor->collection().early_messages.size(), 256u);
      d.feed(2, payload_of(2));
      ctx.poll();
      ASSERT_TRUE(log.has_value());
      EXPECT_EQ(log->senders, (std::vector<std::uint16_t>{2}));
    } else {
      ASSERT_TRUE(log.has_value());
      EXPECT_EQ(log->error, "Too many messages have came from unexpected parties");
      EXPECT_EQ(d.executor->collection().early_messages.size(), 256u);
    }
  }
}

TEST(BufferedPollTest, DecodingTakesTheFirst32BytesAndRefusesShortPayloads) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2), pid(3)});
  crypto::Bytes forty = filled(40, 7);
  forty[32] = 0xee;
  d.feed(2, std::move(forty));
  d.feed(3, filled(31, 9));
  auto log = run_here(poll_all(*d.executor, {pid(2), pid(3)}));
  EXPECT_EQ(log.first_bytes, (std::vector<std::uint8_t>{7}));
  EXPECT_EQ(log.error, "Out of bounds");
  // The short message's sender is no longer awaited.
  EXPECT_TRUE(d.executor->collection().waiting.empty());
}

TEST(BufferedPollTest, ClosedInboundChannelReportsTheEndedManager) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2)});
  d.feed(2, payload_of(1));
  d.inbound.reset();
  // What was queued before the close is still handed out.
  auto log = run_here(poll_all(*d.executor, {pid(2)}));
  EXPECT_EQ(log.senders, (std::vector<std::uint16_t>{2}));
  auto again = run_here(poll_all(*d.executor, {pid(2)}));
  EXPECT_EQ(again.error, "The manager channel was closed");
}

TEST(BufferedPollTest, StartingOverAnUnfinishedCollectionIsABug) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2)});
  auto first = BufferedPoll::start(*d.executor, d.executor->parties());
  (void)first;
  try {
    (void)BufferedPoll::start(*d.executor, d.executor->parties());
    ADD_FAILURE() << "no panic";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "Should never be left with a non-empty buffer");
  }
}

TEST(Collectors, MapByPartyAndArrivalOrder) {
  auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2), pid(3), pid(4)});
  d.feed(4, payload_of(4));
  d.feed(1, payload_of(1));
  d.feed(3, payload_of(3));
  auto map = run_here(collect_map<Value>(*d.executor));
  ASSERT_TRUE(map.has_value());
  ASSERT_EQ(map->size(), 3u);
  EXPECT_EQ((*map)[0].first, pid(1));
  EXPECT_EQ(map->at(pid(4)), value_of(4));

  d.feed(3, payload_of(3));
  d.feed(1, payload_of(1));
  d.feed(4, payload_of(4));
  auto list = run_here(collect_in_arrival_order<Value>(*d.executor));
  ASSERT_TRUE(list.has_value());
  std::vector<std::uint16_t> order;
  for (const auto& r : *list) order.push_back(r.sender.value());
  EXPECT_EQ(order, (std::vector<std::uint16_t>{3, 1, 4}));
}

TEST(ReceiveNext, OldestHeldMessageFirstThenInbound) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2), pid(3)});
  d.feed(3, payload_of(3));
  d.feed(2, payload_of(2));
  d.feed(3, payload_of(0x33));
  // Awaiting 2 leaves both messages of 3 held.
  auto log = run_here(poll_all(*d.executor, {pid(2)}));
  EXPECT_EQ(log.senders, (std::vector<std::uint16_t>{2}));
  d.feed(2, payload_of(0x22));
  std::vector<std::uint8_t> got;
  for (int i = 0; i < 3; ++i) {
    auto r = run_here(receive_next<Value>(*d.executor));
    ASSERT_TRUE(r.has_value());
    got.push_back(r->value[0]);
  }
  EXPECT_EQ(got, (std::vector<std::uint8_t>{3, 0x33, 0x22}));
}

TEST(PeerPairsTest, OpensBothDirectionsPerPeerInPartyOrder) {
  auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2), pid(3)});
  const UcTag parent = d.executor->tag();
  {
    auto pairs = peer_pairs(*d.executor);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].peer, pid(1));
    EXPECT_EQ(pairs[0].first.executor().tag(), child_pair_uc_tag(parent, pid(2), pid(1)));
    EXPECT_EQ(pairs[0].second.executor().tag(), child_pair_uc_tag(parent, pid(1), pid(2)));
    EXPECT_EQ(pairs[1].first.peer(), pid(3));
  }
  std::vector<UcTag> registered;
  for (auto& c : d.drain())
    if (auto* r = std::get_if<manager_message::Register>(&c)) registered.push_back(r->tag);
  EXPECT_EQ(registered, (std::vector<UcTag>{child_pair_uc_tag(parent, pid(2), pid(1)),
                                            child_pair_uc_tag(parent, pid(1), pid(2)),
                                            child_pair_uc_tag(parent, pid(2), pid(3)),
                                            child_pair_uc_tag(parent, pid(3), pid(2))}));
}

TEST(PeerPairsTest, WithMapHandsEachPeerItsValue) {
  auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2), pid(3)});
  PartyMap<std::string> map;
  map.insert(pid(3), "three");
  map.insert(pid(1), "one");
  map.insert(pid(2), "own");
  auto pairs = peer_pairs_with(*d.executor, map);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(*pairs[0].second, "one");
  EXPECT_EQ(pairs[1].first.peer, pid(3));
  EXPECT_EQ(*pairs[1].second, "three");
}

}  // namespace
}  // namespace velto::testing
