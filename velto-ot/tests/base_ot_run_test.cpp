#include "velto-ot/base_ot_run.hpp"

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-ot/tests/test_util.hpp"

namespace velto::ot {
namespace {

namespace asio = boost::asio;

PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

crypto::ByteArray<32> key_array(crypto::ByteSpan s) {
  crypto::ByteArray<32> out;
  std::copy_n(s.begin(), 32, out.begin());
  return out;
}

// ---------------------------------------------------------------------------
// Two parties in one process, each with its own manager over an in-memory
// network, running both directions of a pair at once as the presign set-up
// does: on child_pair(a, b) party a is the base-OT sender and b the receiver.

template <class R, class Protocol>
asio::awaitable<R> party_task(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, PartyId me,
                              PartyId peer, Protocol protocol) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  R result = co_await protocol(me, peer, std::move(*root));
  auto joined = co_await manager.join();
  EXPECT_TRUE(joined.has_value() && joined->has_value());
  co_return result;
}

// Runs `protocol(me, peer, root)` for parties 1 and 2; results in id order.
template <class R, class Protocol>
std::vector<R> run_pair(Protocol protocol) {
  async::Runtime rt(2);
  const std::vector<PartyId> ids = {pid(1), pid(2)};
  auto network = InMemoryNetwork::create(ids);
  std::vector<async::JoinHandle<R>> handles;
  handles.push_back(async::spawn_task(rt.executor(), party_task<R>(network->link(ids[0]), ids, ids[0], ids[1], protocol)));
  handles.push_back(async::spawn_task(rt.executor(), party_task<R>(network->link(ids[1]), ids, ids[1], ids[0], protocol)));
  return rt.block_on([](std::vector<async::JoinHandle<R>> hs) -> asio::awaitable<std::vector<R>> {
    std::vector<R> out;
    for (auto& h : hs) {
      auto r = co_await h.join();
      if (!r) throw std::runtime_error(r.error().display());
      out.push_back(std::move(*r));
    }
    co_return out;
  }(std::move(handles)));
}

// What one party ends with in the current protocol.
struct CurrentSides {
  std::expected<BaseOtSenderResult, BaseOtError> as_sender;
  std::expected<BaseOtReceiverResult, BaseOtError> as_receiver;
};

asio::awaitable<CurrentSides> current_both_directions(PartyId me, PartyId peer, ProtocolExecutor root) {
  PeerExecutor sending = base_ot_subsession(PeerExecutor(root.child_pair(me, peer), peer));
  PeerExecutor receiving = base_ot_subsession(PeerExecutor(root.child_pair(peer, me), peer));
  auto [s, r] = co_await async::join_both(base_ot_sender(sending), base_ot_receiver(receiving));
  co_return CurrentSides{std::move(s), std::move(r)};
}

struct OlderSides {
  std::expected<BaseOtSenderOutput, BaseOtError> as_sender;
  std::expected<BaseOtReceiverOutput, BaseOtError> as_receiver;
  crypto::ByteArray<32> sender_digest;
  crypto::ByteArray<32> receiver_digest;
};

asio::awaitable<OlderSides> older_both_directions(PartyId me, PartyId peer, ProtocolExecutor root) {
  PeerExecutor sending = base_ot_subsession(PeerExecutor(root.child_pair(me, peer), peer));
  PeerExecutor receiving = base_ot_subsession(PeerExecutor(root.child_pair(peer, me), peer));
  Transcript sender_transcript;
  Transcript receiver_transcript;
  auto [s, r] = co_await async::join_both(base_ot_sender(sending, sender_transcript),
                                          base_ot_receiver(receiving, receiver_transcript));
  co_return OlderSides{std::move(s), std::move(r), sender_transcript.finalize(), receiver_transcript.finalize()};
}

// Every OT: the receiver's key is the sender's key of its choice and not
// the other one.
void expect_keys_match(const BaseOtSenderOutput& sender, const BaseOtReceiverOutput& receiver) {
  int ones = 0;
  for (std::size_t i = 0; i < kBaseOtBatchSize; ++i) {
    const std::uint8_t c = receiver.choice(i);
    ASSERT_LE(c, 1);
    ones += c;
    EXPECT_EQ(key_array(receiver.key(i)), key_array(sender.key(i, c))) << "OT " << i;
    EXPECT_NE(key_array(receiver.key(i)), key_array(sender.key(i, static_cast<std::uint8_t>(1 - c)))) << "OT " << i;
  }
  EXPECT_GT(ones, 0);
  EXPECT_LT(ones, 128);
}

TEST(BaseOtRun, CurrentVersionBothDirections) {
  auto sides = run_pair<CurrentSides>(current_both_directions);
  ASSERT_EQ(sides.size(), 2u);
  for (int s = 0; s < 2; ++s) {
    ASSERT_TRUE(sides[s].as_sender.has_value()) << sides[s].as_sender.error().display();
    ASSERT_TRUE(sides[s].as_receiver.has_value()) << sides[s].as_receiver.error().display();
  }
  for (int s = 0; s < 2; ++s) {
    const auto& sender = *sides[s].as_sender;
    const auto& receiver = *sides[1 - s].as_receiver;
    expect_keys_match(sender.output, receiver.output);
    EXPECT_EQ(sender.batch_key, receiver.batch_key);
  }
  // The two directions run under different tags: nothing in common.
  EXPECT_NE(sides[0].as_sender->batch_key, sides[1].as_sender->batch_key);
  EXPECT_NE(key_array(sides[0].as_sender->output.key(0, 0)), key_array(sides[1].as_sender->output.key(0, 0)));
}

TEST(BaseOtRun, OlderVersionBothDirectionsAgreeOnTheDigest) {
  auto sides = run_pair<OlderSides>(older_both_directions);
  ASSERT_EQ(sides.size(), 2u);
  for (int s = 0; s < 2; ++s) {
    ASSERT_TRUE(sides[s].as_sender.has_value()) << sides[s].as_sender.error().display();
    ASSERT_TRUE(sides[s].as_receiver.has_value()) << sides[s].as_receiver.error().display();
  }
  for (int s = 0; s < 2; ++s) {
    expect_keys_match(*sides[s].as_sender, *sides[1 - s].as_receiver);
    EXPECT_EQ(sides[s].sender_digest, sides[1 - s].receiver_digest);
  }
  EXPECT_NE(sides[0].sender_digest, sides[1].sender_digest);
}

// ---------------------------------------------------------------------------
// One side against a scripted peer: the executor's commands are read and its
// inbound channel fed by the test, on a context stepped by hand.

const UcTag kTag = derive_child_uc_tag(root_uc_tag(), "BASE OT");

struct Scripted {
  async::Receiver<ManagerMessage> commands;
  async::Sender<ProtocolReceivedMessage> inbound;
  std::optional<PeerExecutor> executor;

  // Party `me` facing party `peer`, both of {1, 2}.
  static Scripted open(std::uint16_t me, std::uint16_t peer) {
    Scripted s;
    auto [tx, rx] = async::unbounded_channel<ManagerMessage>();
    s.commands = std::move(rx);
    auto parties = std::make_shared<const std::vector<PartyId>>(std::vector<PartyId>{pid(1), pid(2)});
    auto ex = ProtocolExecutor::open(kTag, pid(me), std::move(tx), parties, kInboundCapacity,
                                     crypto::SecretArray<32>(crypto::ByteArray<32>{static_cast<std::uint8_t>(me)}));
    auto reg = s.commands.try_receive();
    EXPECT_TRUE(reg.has_value() && std::holds_alternative<manager_message::Register>(*reg));
    s.inbound = std::move(std::get<manager_message::Register>(*reg).inbound);
    s.executor.emplace(std::move(ex), pid(peer));
    return s;
  }

  // The payloads of the Send commands queued so far, each checked to go to
  // the peer under the executor's tag.
  std::vector<crypto::Bytes> sent() {
    pump();
    return std::exchange(sent_, {});
  }

  // Whether a Send command is queued and not yet taken by sent().
  bool has_sent() {
    pump();
    return !sent_.empty();
  }

  void feed(crypto::Bytes payload) {
    ProtocolReceivedMessage m{std::move(payload), executor->peer()};
    EXPECT_TRUE(inbound.try_send(std::move(m)).has_value());
  }

 private:
  void pump() {
    if (!commands) return;
    while (auto c = commands.try_receive()) {
      if (auto* send = std::get_if<manager_message::Send>(&*c)) {
        EXPECT_EQ(send->to, executor->peer());
        EXPECT_EQ(send->tag, kTag);
        sent_.push_back(std::move(send->payload));
      }
    }
  }

  std::vector<crypto::Bytes> sent_;
};


// Runs `start` on a manual context until the side has sent its message (its
// ladders run on other threads, whose results come back through the
// context) or ended, then (after `between`) to the end.
template <class T, class Start, class Between>
T run_scripted(Scripted& side, Start start, Between between) {
  asio::io_context ctx;
  std::optional<T> out;
  asio::co_spawn(ctx, [](Start st, std::optional<T>& o) -> asio::awaitable<void> { o.emplace(co_await st()); }(start, out),
                 asio::detached);
  ctx.poll();
  while (!out && !side.has_sent() && ctx.run_one() > 0) {
  }
  between();
  ctx.restart();
  ctx.run();
  EXPECT_TRUE(out.has_value()) << "the side did not finish";
  return std::move(*out);
}

// The honest peer's message for each side, from a fixed generator.
crypto::Bytes honest_receiver_payload() {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{77});
  return *sised::encode(BaseOtReceiver::random(kTag, rng).message());
}
crypto::Bytes honest_sender_payload() {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{78});
  return *sised::encode(BaseOtSender::random(rng).message());
}

TEST(BaseOtRun, WireSizes) {
  Scripted sender_side = Scripted::open(1, 2);
  std::vector<crypto::Bytes> sender_sent;
  auto s = run_scripted<std::expected<BaseOtSenderResult, BaseOtError>>(
      sender_side, [&] { return base_ot_sender(*sender_side.executor); },
      [&] {
        sender_sent = sender_side.sent();
        sender_side.feed(honest_receiver_payload());
      });
  EXPECT_TRUE(s.has_value());
  ASSERT_EQ(sender_sent.size(), 1u);
  EXPECT_EQ(sender_sent[0].size(), 64u);

  Scripted receiver_side = Scripted::open(2, 1);
  std::vector<crypto::Bytes> receiver_sent;
  auto r = run_scripted<std::expected<BaseOtReceiverResult, BaseOtError>>(
      receiver_side, [&] { return base_ot_receiver(*receiver_side.executor); },
      [&] {
        receiver_sent = receiver_side.sent();
        receiver_side.feed(honest_sender_payload());
      });
  EXPECT_TRUE(r.has_value());
  ASSERT_EQ(receiver_sent.size(), 1u);
  EXPECT_EQ(receiver_sent[0].size(), 4099u);
}

// The runs take their draws from the executor's generator in the order of
// the pure sides, wherever their ladders run: the same message on the wire
// and the same keys as BaseOtSender / BaseOtReceiver on a copy of it.
TEST(BaseOtRun, SidesEqualThePureComputation) {
  Scripted sender_side = Scripted::open(1, 2);
  crypto::ChaCha8Rng sender_rng = sender_side.executor->executor().rng();
  const crypto::Bytes receiver_payload = honest_receiver_payload();
  std::vector<crypto::Bytes> sender_sent;
  auto s = run_scripted<std::expected<BaseOtSenderResult, BaseOtError>>(
      sender_side, [&] { return base_ot_sender(*sender_side.executor); },
      [&] {
        sender_sent = sender_side.sent();
        sender_side.feed(receiver_payload);
      });
  ASSERT_TRUE(s.has_value());
  const BaseOtSender sender = BaseOtSender::random(sender_rng);
  ASSERT_EQ(sender_sent.size(), 1u);
  EXPECT_EQ(sender_sent[0], *sised::encode(sender.message()));
  const auto values = decode_receiver_message(receiver_payload);
  ASSERT_TRUE(values.has_value());
  const auto keys = sender.derive_keys(kTag, values->values);
  ASSERT_TRUE(keys.has_value());
  EXPECT_TRUE(std::ranges::equal(s->output.bytes(), keys->bytes()));

  Scripted receiver_side = Scripted::open(2, 1);
  crypto::ChaCha8Rng receiver_rng = receiver_side.executor->executor().rng();
  const crypto::Bytes sender_payload = honest_sender_payload();
  std::vector<crypto::Bytes> receiver_sent;
  auto r = run_scripted<std::expected<BaseOtReceiverResult, BaseOtError>>(
      receiver_side, [&] { return base_ot_receiver(*receiver_side.executor); },
      [&] {
        receiver_sent = receiver_side.sent();
        receiver_side.feed(sender_payload);
      });
  ASSERT_TRUE(r.has_value());
  const BaseOtReceiver receiver = BaseOtReceiver::random(kTag, receiver_rng);
  ASSERT_EQ(receiver_sent.size(), 1u);
  EXPECT_EQ(receiver_sent[0], *sised::encode(receiver.message()));
  const auto sender_message = decode_sender_message(sender_payload);
  ASSERT_TRUE(sender_message.has_value());
  EXPECT_TRUE(std::ranges::equal(r->output.bytes(), receiver.derive_keys(*sender_message).bytes()));
}

// The sender's failures for what the peer sends, and for a lost manager.
// A context that goes away while a side's ladders are still running on the
// pool (a runtime shut down under a waiting task) first lets them finish and
// then destroys the waiting task with its other pending work: the task's
// frame is gone once the context is, and nothing is handed to the context
// after it.
TEST(BaseOtRun, AContextThatGoesAwayWaitsForTheLaddersInFlight) {
  // Counts the end of the frame that holds it.
  struct Guard {
    std::shared_ptr<int> released;
    ~Guard() { ++*released; }
  };
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    Scripted side = Scripted::open(2, 1);
    auto released = std::make_shared<int>(0);
    {
      asio::io_context ctx;
      auto run = [](PeerExecutor& executor, std::shared_ptr<int> count) -> asio::awaitable<void> {
        const Guard guard{std::move(count)};
        (void)co_await base_ot_receiver(executor);
      };
      asio::co_spawn(ctx, run(*side.executor, released), asio::detached);
      // Runs the start only: the draws are taken and the ladders handed to
      // the pool; their completion, once back, is never run.
      ctx.poll_one();
      EXPECT_EQ(*released, 0);
    }
    EXPECT_EQ(*released, 1);
  }
}

TEST(BaseOtRun, SenderFailures) {
  const crypto::Bytes good = honest_receiver_payload();
  crypto::Bytes truncated = good;
  truncated.resize(4000);
  struct Case {
    std::string name;
    std::optional<crypto::Bytes> payload;  // nothing: the inbound channel closes instead
    bool close_manager;
    std::string display;
    std::string debug;
  };
  const std::vector<Case> cases = {
      {"4095 bytes", *sised::encode(crypto::Bytes(4095, 1)), false, "Received message of invalid size",
       "InvalidMessageSizeError"},
      {"4128 bytes", *sised::encode(crypto::Bytes(4128, 1)), false, "Received message of invalid size",
       "InvalidMessageSizeError"},
      {"empty byte string", *sised::encode(crypto::Bytes{}), false, "Received message of invalid size",
       "InvalidMessageSizeError"},
      {"truncated", truncated, false, "Out of bounds", "CommunicationError(OutOfBounds)"},
      {"inbound closed", std::nullopt, false, "The manager channel was closed",
       "CommunicationError(ManagerChannelClosed)"},
      {"manager gone before the send", good, true, "The manager channel was closed",
       "CommunicationError(ManagerChannelClosed)"},
  };
  for (const Case& c : cases) {
    Scripted side = Scripted::open(1, 2);
    if (c.close_manager) side.commands.reset();
    auto out = run_scripted<std::expected<BaseOtSenderResult, BaseOtError>>(
        side, [&] { return base_ot_sender(*side.executor); },
        [&] {
          if (c.payload) {
            side.feed(*c.payload);
          } else {
            side.inbound.reset();
          }
        });
    ASSERT_FALSE(out.has_value()) << c.name;
    EXPECT_EQ(out.error().display(), c.display) << c.name;
    EXPECT_EQ(out.error().debug(), c.debug) << c.name;
  }
}

// The receiver's failures for what the peer sends, and one payload it must
// accept.
TEST(BaseOtRun, ReceiverReadsTheSenderMessage) {
  const crypto::Bytes good = honest_sender_payload();
  crypto::Bytes swapped(good.begin() + 32, good.end());
  swapped.insert(swapped.end(), good.begin(), good.begin() + 32);
  crypto::Bytes long_payload = good;
  long_payload.resize(96, 0x42);
  struct Case {
    std::string name;
    crypto::Bytes payload;
    std::string display;  // empty: succeeds
  };
  const std::vector<Case> cases = {
      {"96 bytes", long_payload, ""},
      {"swapped halves", swapped, "Point is on the wrong curve"},
      {"63 bytes", crypto::Bytes(good.begin(), good.end() - 1), "Out of bounds"},
  };
  for (const Case& c : cases) {
    Scripted side = Scripted::open(2, 1);
    auto out = run_scripted<std::expected<BaseOtReceiverResult, BaseOtError>>(
        side, [&] { return base_ot_receiver(*side.executor); }, [&] { side.feed(c.payload); });
    if (c.display.empty()) {
      EXPECT_TRUE(out.has_value()) << c.name;
      continue;
    }
    ASSERT_FALSE(out.has_value()) << c.name;
    EXPECT_TRUE(out.error().is<BaseOtError::CommunicationError>()) << c.name;
    EXPECT_EQ(out.error().display(), c.display) << c.name;
  }
}

// The older version absorbs exactly A_c, A_t and the receiver's message in
// its sised form.
TEST(BaseOtRun, OlderVersionTranscriptInput) {
  const crypto::Bytes receiver_payload = honest_receiver_payload();
  Scripted side = Scripted::open(1, 2);
  Transcript transcript;
  std::vector<crypto::Bytes> sent;
  auto out = run_scripted<std::expected<BaseOtSenderOutput, BaseOtError>>(
      side, [&] { return base_ot_sender(*side.executor, transcript); },
      [&] {
        sent = side.sent();
        side.feed(receiver_payload);
      });
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(sent.size(), 1u);
  crypto::Blake3 expected = crypto::Blake3::derive_key("VELTO Transcript V0");
  expected.update(sent[0]);
  expected.update(receiver_payload);
  EXPECT_EQ(transcript.finalize(), expected.finalize());
}

}  // namespace
}  // namespace velto::ot
