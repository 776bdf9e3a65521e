// Executor manager: whole sessions over the in-memory network, routing by tag
// and party, held messages and their limits, the link's failures, and the
// outcomes of late and extra messages.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/timeout.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::testing {
namespace {

using namespace std::chrono_literals;
using Value = crypto::ByteArray<32>;
using Kind = ManagerError::Kind;

Value value_of(std::uint16_t a, std::uint16_t b = 0) {
  Value v{};
  v[0] = static_cast<std::uint8_t>(a);
  v[1] = static_cast<std::uint8_t>(a >> 8);
  v[2] = static_cast<std::uint8_t>(b);
  v[3] = static_cast<std::uint8_t>(b >> 8);
  return v;
}

// A relayed plaintext: payload ‖ tag.
crypto::Bytes frame(crypto::Bytes payload, const UcTag& tag) {
  payload.insert(payload.end(), tag.bytes().begin(), tag.bytes().end());
  return payload;
}

UcTag numbered_tag(std::size_t i) { return derive_child_uc_tag(root_uc_tag(), "held " + std::to_string(i)); }

std::string error_text(const ManagerResult& r) { return r ? std::string("ok") : r.error().display(); }

// ---------------------------------------------------------------------------
// Whole sessions

// Every party: a broadcast on the root, a personal message to each peer on a
// child, a two-party exchange on each pair executor, and a joint tag. Returns
// the joint tag; every check failure is recorded by gtest.
asio::awaitable<UcTag> skeleton(PartyId me, ProtocolExecutor root) {
  EXPECT_TRUE(root.send_to_all(value_of(me.value())).has_value());
  auto broadcast = co_await collect_map<Value>(root);
  EXPECT_TRUE(broadcast.has_value());
  if (broadcast) {
    EXPECT_EQ(broadcast->size(), root.parties().size() - 1);
    for (const auto& [from, v] : *broadcast) EXPECT_EQ(v, value_of(from.value()));
  }

  ProtocolExecutor step = root.child("step");
  for (const PartyId p : step.parties()) {
    if (p == me) continue;
    EXPECT_TRUE(step.send_to(p, value_of(me.value(), p.value())).has_value());
  }
  auto personal = co_await collect_map<Value>(step);
  EXPECT_TRUE(personal.has_value());
  if (personal) {
    for (const auto& [from, v] : *personal) EXPECT_EQ(v, value_of(from.value(), me.value()));
  }

  auto pairs = peer_pairs(root.child("pairs"));
  for (auto& pair : pairs) {
    EXPECT_TRUE(pair.first.send(value_of(me.value(), 1)).has_value());
    EXPECT_TRUE(pair.second.send(value_of(me.value(), 2)).has_value());
  }
  for (auto& pair : pairs) {
    // The peer's second direction is this party's first, and vice versa.
    auto on_first = co_await receive_next<Value>(pair.first.executor());
    auto on_second = co_await receive_next<Value>(pair.second.executor());
    EXPECT_TRUE(on_first && on_second);
    if (on_first && on_second) {
      EXPECT_EQ(on_first->value, value_of(pair.peer.value(), 2));
      EXPECT_EQ(on_second->value, value_of(pair.peer.value(), 1));
      EXPECT_EQ(on_first->sender, pair.peer);
    }
  }

  auto joint = co_await generate_uc_tag(root.child("joint"));
  EXPECT_TRUE(joint.has_value());
  co_return joint ? joint->tag() : UcTag();
}

class Skeleton : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(Skeleton, EveryMessageReachesItsTagAndParty) {
  async::Runtime rt(4);
  const auto ids = ids_1_to(GetParam());
  std::shared_ptr<InMemoryNetwork> network;
  auto outcomes = run_session<UcTag>(rt, ids, skeleton, {}, {}, &network);
  ASSERT_EQ(outcomes.size(), ids.size());
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_TRUE(outcomes[i].manager.has_value()) << error_text(outcomes[i].manager);
    EXPECT_EQ(outcomes[i].result, outcomes[0].result);
    EXPECT_TRUE(network->closed(ids[i]));
  }
  EXPECT_NE(outcomes[0].result, UcTag());
}

INSTANTIATE_TEST_SUITE_P(Parties, Skeleton, ::testing::Values(3, 16));

// More peers than the base limits allow for: every party sends two messages
// on the root to all and then waits until it has heard from everyone on
// another tag, so 2(n-1) messages wait in each root's inbound channel, and
// the first collection holds the n-1 second messages as early messages.
TEST(Session, SessionsLargerThanTheBaseLimitsRunThrough) {
  async::Runtime rt(4);
  const auto ids = ids_1_to(300);
  auto outcomes = run_session<int>(rt, ids, [](PartyId me, ProtocolExecutor root) -> asio::awaitable<int> {
    EXPECT_TRUE(root.send_to_all(value_of(me.value(), 1)).has_value());
    EXPECT_TRUE(root.send_to_all(value_of(me.value(), 2)).has_value());
    ProtocolExecutor go = root.child("go");
    EXPECT_TRUE(go.send_to_all(value_of(me.value())).has_value());
    auto heard = co_await collect_map<Value>(go);
    EXPECT_TRUE(heard.has_value()) << (heard ? "" : heard.error()->display());
    int rounds_ok = 0;
    for (std::uint16_t round = 1; round <= 2; ++round) {
      auto got = co_await collect_map<Value>(root);
      EXPECT_TRUE(got.has_value()) << (got ? "" : got.error()->display());
      if (!got) break;
      bool ok = got->size() == 299;
      for (const auto& [from, v] : *got) ok = ok && v == value_of(from.value(), round);
      rounds_ok += ok ? 1 : 0;
    }
    co_return rounds_ok;
  });
  for (const auto& o : outcomes) {
    EXPECT_EQ(o.result, 2);
    EXPECT_TRUE(o.manager.has_value()) << error_text(o.manager);
  }
}

TEST(Session, EarlyMessagesAreHeldAndHandedOverInArrivalOrder) {
  async::Runtime rt(4);
  const auto ids = ids_1_to(2);
  auto outcomes = run_session<std::vector<std::uint16_t>>(
      rt, ids, [](PartyId me, ProtocolExecutor root) -> asio::awaitable<std::vector<std::uint16_t>> {
        std::vector<std::uint16_t> got;
        if (me == pid(1)) {
          // Sent before party 2 opens "late": held by party 2's manager.
          ProtocolExecutor late = root.child("late");
          for (std::uint16_t i = 1; i <= 3; ++i) EXPECT_TRUE(late.send_to(pid(2), value_of(i)).has_value());
          EXPECT_TRUE(root.send_to(pid(2), value_of(0xAA)).has_value());
          co_return got;
        }
        auto go = co_await receive_next<Value>(root);
        EXPECT_TRUE(go.has_value());
        ProtocolExecutor late = root.child("late");
        for (int i = 0; i < 3; ++i) {
          auto m = co_await receive_next<Value>(late);
          EXPECT_TRUE(m.has_value());
          if (m) got.push_back(m->value[0]);
        }
        co_return got;
      });
  EXPECT_EQ(outcomes[1].result, (std::vector<std::uint16_t>{1, 2, 3}));
  for (const auto& o : outcomes) EXPECT_TRUE(o.manager.has_value()) << error_text(o.manager);
}

TEST(Session, ExtraAndLateMessagesEndCleanly) {
  async::Runtime rt(4);
  const auto ids = ids_1_to(3);
  auto outcomes = run_session<int>(rt, ids, [](PartyId me, ProtocolExecutor root) -> asio::awaitable<int> {
    if (me == pid(1)) {
      // Twice on the root, once under a tag nobody opens, once on a child
      // that party 2 releases without reading.
      EXPECT_TRUE(root.send_to_all(value_of(1)).has_value());
      EXPECT_TRUE(root.send_to_all(value_of(2)).has_value());
      EXPECT_TRUE(root.child("never opened").send_to(pid(2), value_of(3)).has_value());
      EXPECT_TRUE(root.child("released").send_to(pid(2), value_of(4)).has_value());
    }
    if (me == pid(1)) co_return 0;
    if (me == pid(2)) {
      ProtocolExecutor released = root.child("released");
    }
    // One of the two messages is read; the other goes with the executor.
    auto first = co_await receive_next<Value>(root);
    EXPECT_TRUE(first.has_value());
    co_return 0;
  }, {}, {});
  for (const auto& o : outcomes) EXPECT_TRUE(o.manager.has_value()) << error_text(o.manager);
}

TEST(Session, LastSendIsFlushedBeforeTheLinkCloses) {
  async::Runtime rt(4);
  const auto ids = ids_1_to(2);
  InMemoryNetwork::Options slow;
  slow.send_delay = 5ms;
  std::shared_ptr<InMemoryNetwork> network;
  auto outcomes = run_session<std::optional<Value>>(
      rt, ids,
      [](PartyId me, ProtocolExecutor root) -> asio::awaitable<std::optional<Value>> {
        if (me == pid(1)) {
          // The last step is a send; the executor is released right away.
          EXPECT_TRUE(root.send_to(pid(2), value_of(77)).has_value());
          co_return std::nullopt;
        }
        // A guard against hanging if the frame were lost.
        auto got = co_await async::timeout(10s, receive_next<Value>(root));
        if (!got || !*got) co_return std::nullopt;
        co_return (*got)->value;
      },
      slow, {}, &network);
  ASSERT_TRUE(outcomes[1].result.has_value());
  EXPECT_EQ(*outcomes[1].result, value_of(77));
  EXPECT_EQ(network->frames_delivered(pid(2)), 1u);
  EXPECT_TRUE(network->closed(pid(1)));
  for (const auto& o : outcomes) EXPECT_TRUE(o.manager.has_value()) << error_text(o.manager);
}

// ---------------------------------------------------------------------------
// One real party (2) among simulated ones: the frames of the others are
// injected into its inbox before it starts, so their order is fixed.

struct SoloOutcome {
  std::optional<std::string> protocol_error;
  ManagerResult manager;
};

// Party 2 waits for the next message on its root.
SoloOutcome run_receiver(async::Runtime& rt, const std::shared_ptr<InMemoryNetwork>& network,
                         const std::vector<PartyId>& ids, ExecutorLimits limits = {}) {
  auto protocol = [](ProtocolExecutor root) -> asio::awaitable<std::optional<std::string>> {
    auto got = co_await receive_next<Value>(root);
    if (got) co_return std::nullopt;
    co_return got.error()->display();
  };
  auto outcome = rt.block_on(drive_party<std::optional<std::string>>(network->link(pid(2)), ids, limits, protocol));
  return SoloOutcome{std::move(outcome.result), std::move(outcome.manager)};
}

std::uint64_t relay(const std::shared_ptr<InMemoryNetwork>& n, std::uint16_t party) { return n->relay_id(pid(party)); }

TEST(HeldMessages, PerTagLimitAcceptsTheLastAllowedAndRefusesOneMore) {
  async::Runtime rt(2);
  struct Case {
    std::uint16_t parties;
    std::size_t held;
    bool refused;
  };
  // 512 for small sessions; 2n for 300 parties.
  const Case cases[] = {{2, 512, false}, {2, 513, true}, {300, 600, false}, {300, 601, true}};
  for (const auto& c : cases) {
    const auto ids = ids_1_to(c.parties);
    auto network = InMemoryNetwork::create(ids);
    const UcTag held = numbered_tag(0);
    for (std::size_t i = 0; i < c.held; ++i) network->inject(pid(2), relay(network, 1), frame({1}, held));
    network->inject(pid(2), relay(network, 1), frame(filled(32, 5), root_uc_tag()));
    auto out = run_receiver(rt, network, ids);
    if (c.refused) {
      ASSERT_FALSE(out.manager.has_value()) << c.held;
      EXPECT_EQ(out.manager.error().kind(), Kind::TooManyPendingMessagesPerTag);
      EXPECT_EQ(out.manager.error().display(), "Too many pending messages for a single unregistered UC tag");
      EXPECT_EQ(out.protocol_error, "The manager channel was closed");
    } else {
      // The held messages were for a tag never opened: dropped at the end.
      EXPECT_TRUE(out.manager.has_value()) << c.held << " " << error_text(out.manager);
      EXPECT_FALSE(out.protocol_error) << *out.protocol_error;
    }
  }
}

TEST(HeldMessages, TagLimitAcceptsTheLastAllowedTagAndMoreForHeldOnes) {
  async::Runtime rt(2);
  struct Case {
    std::uint16_t parties;
    std::size_t tags;
    bool refused;
  };
  // 256 for small sessions; 4n for 300 parties.
  const Case cases[] = {{2, 256, false}, {2, 257, true}, {300, 1200, false}, {300, 1201, true}};
  for (const auto& c : cases) {
    const auto ids = ids_1_to(c.parties);
    auto network = InMemoryNetwork::create(ids);
    for (std::size_t i = 0; i < c.tags; ++i) network->inject(pid(2), relay(network, 1), frame({1}, numbered_tag(i)));
    // One more message for a tag already held is still accepted.
    network->inject(pid(2), relay(network, 1), frame({2}, numbered_tag(0)));
    network->inject(pid(2), relay(network, 1), frame(filled(32, 5), root_uc_tag()));
    auto out = run_receiver(rt, network, ids);
    if (c.refused) {
      ASSERT_FALSE(out.manager.has_value());
      EXPECT_EQ(out.manager.error().kind(), Kind::TooManyPendingUCTags);
      EXPECT_EQ(out.manager.error().display(), "Too many pending messages with unregistered UC tag");
    } else {
      EXPECT_TRUE(out.manager.has_value()) << c.tags << " " << error_text(out.manager);
    }
  }
}

// The bytes held for unregistered tags are bounded beside the counts: with
// 1 MiB messages the 64 MiB floor is reached long before 512 messages or 256
// tags; the message that goes over it ends the run with the count limit's
// error of where it would have gone.
TEST(HeldMessages, ByteBudgetBoundsWhatFewBigMessagesHold) {
  async::Runtime rt(2);
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  static_assert(kMaxHeldBytes == 64 * kMiB);
  struct Case {
    const char* name;
    std::size_t messages;
    bool one_tag;
    std::optional<Kind> refused;
  };
  const Case cases[] = {
      // With the last message for the waiting step, 63 MiB stay below 64 MiB.
      {"63 MiB on one tag", 63, true, std::nullopt},
      {"65 MiB on one tag", 65, true, Kind::TooManyPendingMessagesPerTag},
      {"63 MiB on as many tags", 63, false, std::nullopt},
      {"65 MiB on as many tags", 65, false, Kind::TooManyPendingUCTags},
      // 64 MiB held: the message the step waits for goes over the budget on
      // its way to the executor.
      {"64 MiB, then the awaited message", 64, true, Kind::FailedToSendToExecutor},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto ids = ids_1_to(2);
    auto network = InMemoryNetwork::create(ids);
    for (std::size_t i = 0; i < c.messages; ++i)
      network->inject(pid(2), relay(network, 1), frame(filled(kMiB, 3), numbered_tag(c.one_tag ? 0 : i)));
    network->inject(pid(2), relay(network, 1), frame(filled(32, 5), root_uc_tag()));
    auto out = run_receiver(rt, network, ids);
    if (c.refused) {
      ASSERT_FALSE(out.manager.has_value());
      EXPECT_EQ(out.manager.error().kind(), *c.refused);
    } else {
      EXPECT_TRUE(out.manager.has_value()) << error_text(out.manager);
    }
  }
}

TEST(HeldMessages, ByteBudgetGrowsWithTheSession) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const ExecutorLimits base;
  EXPECT_EQ(base.max_held_bytes, 64 * kMiB);
  struct Case {
    std::size_t parties;
    std::size_t bytes;
  };
  const Case cases[] = {
      {2, 64 * kMiB},
      {7, 64 * kMiB},
      {8, 8 * (8 * kMiB + 256 * 8)},
      {16, 16 * (8 * kMiB + 256 * 16)},
      {8192, 8192 * (8 * kMiB + 256 * std::size_t{8192})},
  };
  for (const auto& c : cases) EXPECT_EQ(base.for_parties(c.parties).max_held_bytes, c.bytes) << c.parties;
}

TEST(UnexpectedMessages, ShortPlaintextOwnSenderAndUnknownRelayId) {
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  struct Case {
    std::string name;
    std::uint64_t from;  // 0: party 1, 2: party 2 itself
    std::size_t size;
    std::string manager_text;
    std::string manager_debug;
  };
  const std::vector<Case> cases{
      {"31 bytes", 1, 31, "Received an unexpected message from the communicator", "ReceivedAnUnexpectedMessage"},
      {"from ourselves", 2, 64, "Received an unexpected message from the communicator",
       "ReceivedAnUnexpectedMessage"},
      {"unknown relay id", 999, 64, "The client 999 is unknown", "CommunicationError(UnknownClient(999))"},
  };
  for (const auto& c : cases) {
    auto network = InMemoryNetwork::create(ids);
    const std::uint64_t from = c.from == 999 ? 999 : relay(network, static_cast<std::uint16_t>(c.from));
    crypto::Bytes plaintext = filled(c.size, 1);
    if (c.size >= 32) plaintext = frame(filled(c.size - 32, 1), root_uc_tag());
    network->inject(pid(2), from, std::move(plaintext));
    auto out = run_receiver(rt, network, ids);
    ASSERT_FALSE(out.manager.has_value()) << c.name;
    EXPECT_EQ(out.manager.error().display(), c.manager_text) << c.name;
    EXPECT_EQ(out.manager.error().debug(), c.manager_debug) << c.name;
    EXPECT_EQ(out.protocol_error, "The manager channel was closed") << c.name;
  }
}

TEST(UnexpectedMessages, ExactlyATagIsAnEmptyPayload) {
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  auto network = InMemoryNetwork::create(ids);
  network->inject(pid(2), relay(network, 1), frame({}, root_uc_tag()));
  auto protocol = [](ProtocolExecutor root) -> asio::awaitable<std::optional<ProtocolReceivedMessage>> {
    co_return co_await root.inbound().receive();
  };
  auto out = rt.block_on(drive_party<std::optional<ProtocolReceivedMessage>>(network->link(pid(2)), ids, {}, protocol));
  ASSERT_TRUE(out.result.has_value());
  EXPECT_TRUE(out.result->payload.empty());
  EXPECT_EQ(out.result->sender, pid(1));
  EXPECT_TRUE(out.manager.has_value());
}

TEST(LinkFailures, ReceiveErrorSilentRelayAndUnreachableRecipient) {
  async::Runtime rt(2);
  {
    const auto ids = ids_1_to(2);
    auto network = InMemoryNetwork::create(ids);
    network->inject_error(pid(2), box_error<TextError>("relay gone"));
    auto out = run_receiver(rt, network, ids);
    ASSERT_FALSE(out.manager.has_value());
    EXPECT_EQ(out.manager.error().kind(), Kind::CommunicationError);
    EXPECT_EQ(out.manager.error().display(), "relay gone");
    EXPECT_EQ(out.manager.error().debug(), "CommunicationError(\"relay gone\")");
    ASSERT_NE(out.manager.error().source(), nullptr);
    EXPECT_EQ(out.manager.error().source()->display(), "relay gone");
  }
  {
    const auto ids = ids_1_to(2);
    InMemoryNetwork::Options silent;
    silent.receive_timeout = 30ms;
    auto network = InMemoryNetwork::create(ids, silent);
    auto out = run_receiver(rt, network, ids);
    ASSERT_FALSE(out.manager.has_value());
    EXPECT_EQ(out.manager.error().display(), "The operation has timed out, waited for 30ms");
    EXPECT_EQ(out.protocol_error, "The manager channel was closed");
  }
  {
    // Party 3 belongs to the session but not to the network.
    const std::vector<PartyId> network_ids{pid(1), pid(2)};
    auto network = InMemoryNetwork::create(network_ids);
    auto protocol = [](ProtocolExecutor root) -> asio::awaitable<bool> {
      co_return root.send_to(pid(3), value_of(1)).has_value();
    };
    auto out = rt.block_on(drive_party<bool>(network->link(pid(2)), ids_1_to(3), {}, protocol));
    EXPECT_TRUE(out.result);  // queued; the failure is the manager's
    ASSERT_FALSE(out.manager.has_value());
    EXPECT_EQ(out.manager.error().display(), "The party 3 is not on the network");
  }
}

// The manager closes its link at the end of every run that did not panic:
// after a failure as after success, so that the relay sees the connection
// end cleanly.
TEST(LinkFailures, TheLinkIsClosedAfterAFailedRunToo) {
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  InMemoryNetwork::Options silent;
  silent.receive_timeout = 30ms;
  struct Case {
    const char* name;
    InMemoryNetwork::Options options;
    std::size_t held;  // messages for a tag nobody opens, before the awaited one
    bool relay_gone;
    bool fails;
  };
  const Case cases[] = {
      {"the awaited message arrives", {}, 0, false, false},
      {"the relay fails", {}, 0, true, true},
      {"the relay stays silent", silent, 0, false, true},
      {"one message too many for an unopened tag", {}, kMaxPendingMessagesPerTag + 1, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto network = InMemoryNetwork::create(ids, c.options);
    if (c.relay_gone) network->inject_error(pid(2), box_error<TextError>("relay gone"));
    for (std::size_t i = 0; i < c.held; ++i) network->inject(pid(2), relay(network, 1), frame({1}, numbered_tag(0)));
    if (!c.options.receive_timeout && !c.relay_gone)
      network->inject(pid(2), relay(network, 1), frame(filled(32, 5), root_uc_tag()));
    auto out = run_receiver(rt, network, ids);
    EXPECT_EQ(out.manager.has_value(), !c.fails) << error_text(out.manager);
    EXPECT_TRUE(network->closed(pid(2)));
  }
}

TEST(LinkFailures, ExecutorsOpenedAfterTheManagerEndedReportIt) {
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  auto network = InMemoryNetwork::create(ids);
  network->inject_error(pid(2), box_error<TextError>("relay gone"));
  auto protocol = [](ProtocolExecutor root) -> asio::awaitable<std::vector<std::string>> {
    std::vector<std::string> texts;
    auto first = co_await receive_next<Value>(root);  // the manager fails meanwhile
    texts.push_back(first ? "ok" : first.error()->display());
    ProtocolExecutor late = root.child("next step");
    auto sent = late.send_to_all(value_of(1));
    texts.push_back(sent ? "ok" : sent.error()->display());
    auto got = co_await collect_map<Value>(late);
    texts.push_back(got ? "ok" : got.error()->display());
    auto joint = co_await generate_uc_tag(root.child("joint"));
    texts.push_back(joint ? "ok" : joint.error()->display());
    co_return texts;
  };
  auto out = rt.block_on(drive_party<std::vector<std::string>>(network->link(pid(2)), ids, {}, protocol));
  const std::string closed = "The manager channel was closed";
  EXPECT_EQ(out.result, (std::vector<std::string>{closed, closed, closed, closed}));
  ASSERT_FALSE(out.manager.has_value());
  EXPECT_EQ(out.manager.error().display(), "relay gone");
}

// ---------------------------------------------------------------------------
// Step by step on one thread: the order of hand-offs, releases and arrivals
// is fixed by the test.

class RecordingLink final : public Communicator {
 public:
  RecordingLink(std::shared_ptr<Communicator> inner, std::vector<std::pair<PartyId, crypto::Bytes>>& log)
      : inner_(std::move(inner)), log_(&log) {}
  PartyId my_party_id() const override { return inner_->my_party_id(); }
  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    auto r = co_await inner_->receive_next();
    co_return r;
  }
  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes plaintext, PartyId to) override {
    log_->emplace_back(to, plaintext);
    auto r = co_await inner_->send(std::move(plaintext), to);
    co_return r;
  }
  asio::awaitable<void> close() override { co_await inner_->close(); }

 private:
  std::shared_ptr<Communicator> inner_;
  std::vector<std::pair<PartyId, crypto::Bytes>>* log_;
};

class SteppedParty {
 public:
  // Party `me` of `ids`; inbound channels hold 4 messages (base 1, raised
  // to 2n for two parties).
  explicit SteppedParty(std::vector<PartyId> ids, PartyId me = pid(2), bool record = false)
      : network_(InMemoryNetwork::create(ids)) {
    std::shared_ptr<Communicator> link = network_->link(me);
    if (record) link = std::make_shared<RecordingLink>(link, sent);
    ExecutorLimits base;
    base.inbound_capacity = 1;
    ExecutorBuilder builder(link, base);
    root.emplace(*build_executor(builder, root_uc_tag(), ids));
    auto handle = spawn_executor_manager(ctx.executor(), std::move(builder));
    ctx.spawn([](async::JoinHandle<ManagerResult> h, std::optional<ManagerResult>& out) -> asio::awaitable<void> {
      auto r = co_await h.join();
      if (r) out.emplace(std::move(*r));
    }(std::move(handle), manager));
    ctx.poll();
  }

  void arrive(std::uint16_t from, crypto::Bytes payload, const UcTag& tag) {
    network_->inject(root->my_party_id(), network_->relay_id(pid(from)), frame(std::move(payload), tag));
  }

  // Releases the root (the last executor) and lets the manager finish.
  ManagerResult finish() {
    root.reset();
    ctx.run();
    if (!manager) {
      ADD_FAILURE() << "the manager did not end";
      return ManagerResult{};
    }
    return std::move(*manager);
  }

  ManualContext ctx;
  std::optional<ProtocolExecutor> root;
  std::optional<ManagerResult> manager;
  std::vector<std::pair<PartyId, crypto::Bytes>> sent;

 private:
  std::shared_ptr<InMemoryNetwork> network_;
};

TEST(HandOff, ChannelThatFreesASlotInTimeCostsNothing) {
  SteppedParty party(ids_1_to(2));
  for (std::uint8_t i = 0; i < 5; ++i) party.arrive(1, filled(32, i), root_uc_tag());
  party.ctx.poll();
  auto& inbound = party.root->inbound();
  ASSERT_EQ(inbound.queued(), 4u);
  ASSERT_EQ(inbound.waiting_senders(), 1u);  // the manager waits with the fifth
  EXPECT_EQ(inbound.try_receive()->payload[0], 0);
  party.ctx.poll();
  EXPECT_EQ(inbound.queued(), 4u);
  EXPECT_EQ(inbound.waiting_senders(), 0u);
  EXPECT_FALSE(party.manager.has_value());
  EXPECT_TRUE(party.finish().has_value());
}

TEST(HandOff, ChannelFullForTheWholeLimitEndsTheRun) {
  SteppedParty party(ids_1_to(2));
  for (std::uint8_t i = 0; i < 5; ++i) party.arrive(1, filled(32, i), root_uc_tag());
  party.ctx.run();  // 100 ms later the hand-off gives up
  ASSERT_TRUE(party.manager.has_value());
  ASSERT_FALSE(party.manager->has_value());
  EXPECT_EQ(party.manager->error().kind(), Kind::FailedToSendToExecutor);
  EXPECT_EQ(party.manager->error().display(),
            "Failed to send ProtocolReceivedMessage to executor, channel full, timeout: 100ms");
  // The executor still gets what was handed over, then learns of the end.
  for (std::uint8_t i = 0; i < 4; ++i) EXPECT_EQ(party.root->inbound().try_receive()->payload[0], i);
  EXPECT_EQ(party.root->inbound().try_receive().error(), async::RecvFailure::Closed);
  EXPECT_EQ(party.root->send_to_all(value_of(1)).error()->display(), "The manager channel was closed");
  party.root.reset();
}

TEST(HandOff, HeldMessageForAnExecutorReleasedAtRegistrationIsDropped) {
  SteppedParty party(ids_1_to(2));
  const UcTag x = derive_child_uc_tag(root_uc_tag(), "x");
  party.arrive(1, filled(32, 1), x);
  party.ctx.poll();  // held: "x" is not registered
  { ProtocolExecutor released = party.root->child("x"); }
  party.ctx.poll();  // Register hands the held message to a closed channel
  EXPECT_FALSE(party.manager.has_value());
  EXPECT_TRUE(party.finish().has_value());
}

TEST(HandOff, WaitingHandOffToAnExecutorReleasedMeanwhileIsDropped) {
  SteppedParty party(ids_1_to(2));
  std::optional<ProtocolExecutor> x = party.root->child("x");
  party.ctx.poll();
  for (std::uint8_t i = 0; i < 5; ++i) party.arrive(1, filled(32, i), x->tag());
  party.ctx.poll();
  ASSERT_EQ(x->inbound().waiting_senders(), 1u);
  x.reset();  // released while the manager waits to hand over the fifth
  party.ctx.poll();
  // A late message for the released tag is held, then dropped at the end.
  party.arrive(1, filled(32, 9), derive_child_uc_tag(root_uc_tag(), "x"));
  party.ctx.poll();
  EXPECT_FALSE(party.manager.has_value());
  EXPECT_TRUE(party.finish().has_value());
}

TEST(Registry, ReRegisteredTagGetsWhatArrivedInBetween) {
  SteppedParty party(ids_1_to(2));
  { ProtocolExecutor first = party.root->child("again"); }
  party.ctx.poll();
  const UcTag again = derive_child_uc_tag(root_uc_tag(), "again");
  party.arrive(1, filled(32, 42), again);
  party.ctx.poll();
  ProtocolExecutor second = party.root->child("again");
  party.ctx.poll();
  auto got = second.inbound().try_receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->payload, filled(32, 42));
  EXPECT_EQ(got->sender, pid(1));
  { auto dropped = std::move(second); }
  EXPECT_TRUE(party.finish().has_value());
}

TEST(Sending, SendToAllGoesToEveryOtherPartyInOrderWithTheTag) {
  SteppedParty party(ids_1_to(3), pid(2), /*record=*/true);
  ASSERT_TRUE(party.root->send_to_all(value_of(5)).has_value());
  ASSERT_TRUE(party.root->send_to(pid(3), std::uint8_t{7}).has_value());
  EXPECT_TRUE(party.finish().has_value());
  const Value v = value_of(5);
  const crypto::Bytes expected = frame(crypto::Bytes(v.begin(), v.end()), root_uc_tag());
  ASSERT_EQ(party.sent.size(), 3u);
  EXPECT_EQ(party.sent[0].first, pid(1));
  EXPECT_EQ(party.sent[0].second, expected);
  EXPECT_EQ(party.sent[1].first, pid(3));
  EXPECT_EQ(party.sent[1].second, expected);
  EXPECT_EQ(party.sent[2].second, frame({7}, root_uc_tag()));
}

TEST(Registry, TwoLiveExecutorsOnOneTagStopTheManagerCleanly) {
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  auto network = InMemoryNetwork::create(ids);
  auto out = rt.block_on([](std::shared_ptr<Communicator> link,
                            std::vector<PartyId> all) -> asio::awaitable<std::pair<std::string, std::string>> {
    ExecutorBuilder builder(std::move(link));
    auto root = build_executor(builder, root_uc_tag(), all);
    auto manager = spawn_executor_manager(std::move(builder));
    ProtocolExecutor a = root->child("dup");
    ProtocolExecutor b = root->child("dup");  // a protocol bug: the same tag twice
    auto joined = co_await manager.join();
    auto got = co_await collect_map<Value>(a);
    co_return std::pair{joined ? std::string("no panic") : joined.error().display(),
                        got ? std::string("collected") : got.error()->display()};
  }(network->link(pid(2)), ids));
  EXPECT_NE(out.first.find("Already registered! Bug!"), std::string::npos) << out.first;
  EXPECT_EQ(out.second, "The manager channel was closed");
}

TEST(ManagerErrorText, DisplayAndDebugPerVariant) {
  struct Case {
    ManagerError error;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {ManagerError(Kind::ReceivedAnUnexpectedMessage), "Received an unexpected message from the communicator",
       "ReceivedAnUnexpectedMessage"},
      {ManagerError(Kind::FailedToSendToExecutor),
       "Failed to send ProtocolReceivedMessage to executor, channel full, timeout: 100ms", "FailedToSendToExecutor"},
      {ManagerError(Kind::TooManyPendingUCTags), "Too many pending messages with unregistered UC tag",
       "TooManyPendingUCTags"},
      {ManagerError(Kind::TooManyPendingMessagesPerTag), "Too many pending messages for a single unregistered UC tag",
       "TooManyPendingMessagesPerTag"},
      {ManagerError::communication(box_error<async::TimeoutError>(30s)),
       "The operation has timed out, waited for 30s", "CommunicationError(TimedOut(30s))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
}

TEST(Launch, UnbuiltBuilderIsABug) {
  ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(1)));
  try {
    (void)ExecutorManager::launch(builder);
    ADD_FAILURE() << "no panic";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "build_executor must be called before launch! Bug!");
  }
}

}  // namespace
}  // namespace velto::testing
