// Runtime conventions: durations, time-outs, channels, tasks and joins.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>


#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/async/duration.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/async/timeout.hpp"

namespace asio = boost::asio;
using namespace std::chrono_literals;
using velto::async::Duration;

namespace velto::async {
namespace {

// Runs a coroutine on a single-threaded context that the test steps by hand:
// nothing runs except inside poll(), so the order of events is fixed.
class ManualContext {
 public:
  template <class F>
  void spawn(F&& f) {
    asio::co_spawn(asio::make_strand(ctx_), std::forward<F>(f), asio::detached);
  }
  void poll() {
    ctx_.restart();
    ctx_.poll();
  }
  void run() {
    ctx_.restart();
    ctx_.run();
  }

 private:
  asio::io_context ctx_;
};

TEST(DurationText, ShortFormPerUnit) {
  struct Case {
    Duration d;
    const char* text;
  };
  const Case cases[] = {
      {100ms, "100ms"},
      {30s, "30s"},
      {900s, "900s"},
      {1500ms, "1.5s"},
      {0ns, "0ns"},
      {1us, "1\xC2\xB5s"},
      {1500ns, "1.5\xC2\xB5s"},
      {2500us, "2.5ms"},
      {1s + 1ns, "1.000000001s"},
      {999ns, "999ns"},
      {1ms + 10ns, "1.00001ms"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_duration(c.d), c.text) << c.text;
}

TEST(TimeoutErrorText, DisplayAndDebug) {
  EXPECT_EQ(TimeoutError(100ms).display(), "The operation has timed out, waited for 100ms");
  EXPECT_EQ(TimeoutError(900s).display(), "The operation has timed out, waited for 900s");
  EXPECT_EQ(TimeoutError(30s).debug(), "TimedOut(30s)");
}

asio::awaitable<int> ready_value() { co_return 7; }

TEST(Timeout, ZeroDurationReadyAndPending) {
  Runtime rt(2);
  auto ready = rt.block_on(timeout(0ns, ready_value()));
  ASSERT_TRUE(ready.has_value());
  EXPECT_EQ(*ready, 7);

  auto [tx, rx] = unbounded_channel<int>();
  auto pending = rt.block_on(timeout(0ns, rx.receive()));
  ASSERT_FALSE(pending.has_value());
  EXPECT_EQ(pending.error().waited(), 0ns);
}

TEST(Timeout, CancelledReceiveTakesNothing) {
  Runtime rt(2);
  auto [tx, rx] = unbounded_channel<int>();
  auto first = rt.block_on(timeout(5ms, rx.receive()));
  EXPECT_FALSE(first.has_value());
  ASSERT_TRUE(tx.send(41));
  // the value sent after the abandoned wait is still there for the next one
  auto second = rt.block_on(timeout(1s, rx.receive()));
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(**second, 41);
}

asio::awaitable<int> throws_runtime_error() {
  throw std::runtime_error("boom");
  co_return 0;
}

TEST(Timeout, OtherExceptionsPropagate) {
  Runtime rt(1);
  EXPECT_THROW(rt.block_on(timeout(1s, throws_runtime_error())), std::runtime_error);
}

TEST(Channel, BoundedKeepsOrderAndRefusesWhenFull) {
  auto [tx, rx] = channel<int>(2);
  int a = 1, b = 2, c = 3;
  ASSERT_TRUE(tx.try_send(std::move(a)));
  ASSERT_TRUE(tx.try_send(std::move(b)));
  auto full = tx.try_send(std::move(c));
  ASSERT_FALSE(full);
  EXPECT_EQ(full.error(), SendFailure::Full);
  EXPECT_EQ(*rx.try_receive(), 1);
  ASSERT_TRUE(tx.try_send(std::move(c)));
  EXPECT_EQ(*rx.try_receive(), 2);
  EXPECT_EQ(*rx.try_receive(), 3);
  EXPECT_EQ(rx.try_receive().error(), RecvFailure::Empty);
}

TEST(Channel, EndAfterLastSenderOnlyOnceDrained) {
  auto [tx, rx] = unbounded_channel<std::string>();
  auto tx2 = tx;
  ASSERT_TRUE(tx.send("a"));
  tx.reset();
  EXPECT_EQ(*rx.try_receive(), "a");
  EXPECT_EQ(rx.try_receive().error(), RecvFailure::Empty);  // tx2 still alive
  ASSERT_TRUE(tx2.send("b"));
  tx2.reset();
  EXPECT_EQ(*rx.try_receive(), "b");
  EXPECT_EQ(rx.try_receive().error(), RecvFailure::Closed);
}

TEST(Channel, ReleasedReceiverRefusesSenders) {
  auto [tx, rx] = channel<int>(1);
  rx.reset();
  int v = 5;
  auto r = tx.try_send(std::move(v));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), SendFailure::Closed);

  auto [otx, orx] = oneshot<int>();
  orx.reset();
  EXPECT_FALSE(otx.send(1));
}

TEST(Channel, WaitingSenderGetsTheFreedSlot) {
  ManualContext ctx;
  auto [tx, rx] = channel<int>(1);
  int v = 1;
  ASSERT_TRUE(tx.try_send(std::move(v)));
  std::optional<SendOutcome> outcome;
  ctx.spawn([&, tx = tx]() mutable -> asio::awaitable<void> {
    outcome = co_await tx.send_timeout(2, 10s);
  });
  ctx.poll();
  ASSERT_FALSE(outcome.has_value());  // parked: the channel is full
  EXPECT_EQ(rx.waiting_senders(), 1u);
  EXPECT_EQ(*rx.try_receive(), 1);    // frees the slot, the parked value moves in
  ctx.poll();
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(*outcome, SendOutcome::Sent);
  EXPECT_EQ(*rx.try_receive(), 2);
}

TEST(Channel, SendTimeoutWhenTheSlotStaysTaken) {
  ManualContext ctx;
  auto [tx, rx] = channel<int>(1);
  int v = 1;
  ASSERT_TRUE(tx.try_send(std::move(v)));
  std::optional<SendOutcome> outcome;
  ctx.spawn([&, tx = tx]() mutable -> asio::awaitable<void> {
    outcome = co_await tx.send_timeout(2, 20ms);
  });
  ctx.run();
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(*outcome, SendOutcome::TimedOut);
  EXPECT_EQ(rx.waiting_senders(), 0u);
  EXPECT_EQ(*rx.try_receive(), 1);
  EXPECT_EQ(rx.try_receive().error(), RecvFailure::Empty);  // the timed-out value was dropped
}

TEST(Channel, ParkedSenderLearnsOfReleasedReceiver) {
  ManualContext ctx;
  auto [tx, rx] = channel<int>(1);
  int v = 1;
  ASSERT_TRUE(tx.try_send(std::move(v)));
  std::optional<SendOutcome> outcome;
  ctx.spawn([&, tx = tx]() mutable -> asio::awaitable<void> {
    outcome = co_await tx.send_timeout(2, 10s);
  });
  ctx.poll();
  rx.reset();
  ctx.poll();
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(*outcome, SendOutcome::Closed);
}

TEST(Channel, OneshotDeliversOrReportsLostSender) {
  Runtime rt(2);
  auto [tx, rx] = oneshot<int>();
  EXPECT_TRUE(tx.send(9));
  EXPECT_EQ(rt.block_on(rx.receive()), std::optional<int>(9));

  auto [tx2, rx2] = oneshot<int>();
  { auto dropped = std::move(tx2); }
  EXPECT_EQ(rt.block_on(rx2.receive()), std::nullopt);
}

TEST(Notify, PermitIsKeptUntilTheNextWait) {
  ManualContext ctx;
  auto n = Notify::create();
  int wakes = 0;
  n->notify();
  n->notify();  // folds into the one permit
  ctx.spawn([&]() -> asio::awaitable<void> {
    co_await n->wait();
    ++wakes;
    co_await n->wait();
    ++wakes;
  });
  ctx.poll();
  EXPECT_EQ(wakes, 1);
  n->notify();
  ctx.poll();
  EXPECT_EQ(wakes, 2);
}

// Producers on many threads, one consumer that keeps abandoning its waits
// under tiny time-outs: every value arrives exactly once and each producer's
// values stay in order.
TEST(Channel, ConcurrentProducersAndCancelledWaitsLoseNothing) {
  constexpr int kProducers = 6;
  constexpr int kPerProducer = 3000;
  Runtime rt(4);
  auto [tx, rx] = channel<std::pair<int, int>>(16);
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&rt, p, tx = tx]() mutable {
      rt.block_on([](Sender<std::pair<int, int>> s, int id) -> asio::awaitable<void> {
        for (int i = 0; i < kPerProducer; ++i) {
          const bool sent = co_await s.send(std::pair{id, i});
          EXPECT_TRUE(sent);
        }
      }(tx, p));
    });
  }
  tx.reset();
  auto received = rt.block_on([](Receiver<std::pair<int, int>>& r) -> asio::awaitable<std::vector<int>> {
    std::vector<int> next(kProducers, 0);
    std::size_t abandoned = 0;
    for (;;) {
      auto got = co_await timeout(50us, r.receive());
      if (!got) {
        ++abandoned;
        continue;
      }
      if (!*got) break;
      auto [id, i] = **got;
      EXPECT_EQ(i, next[static_cast<std::size_t>(id)]) << "producer " << id;
      next[static_cast<std::size_t>(id)] = i + 1;
    }
    (void)abandoned;
    co_return next;
  }(rx));
  for (auto& t : producers) t.join();
  for (int p = 0; p < kProducers; ++p) EXPECT_EQ(received[static_cast<std::size_t>(p)], kPerProducer);
}

asio::awaitable<int> panicking_task() {
  velto::panic("Already registered! Bug!");
  co_return 0;
}

TEST(SpawnTask, ResultPanicAndOutsideRuntime) {
  Runtime rt(2);
  auto out = rt.block_on([]() -> asio::awaitable<std::pair<int, std::string>> {
    auto ok = spawn_task(ready_value());
    auto bad = spawn_task(panicking_task());
    auto a = co_await ok.join();
    auto b = co_await bad.join();
    EXPECT_TRUE(a.has_value());
    EXPECT_FALSE(b.has_value());
    co_return std::pair{a.value_or(-1), b ? std::string() : b.error().display()};
  }());
  EXPECT_EQ(out.first, 7);
  EXPECT_NE(out.second.find("panicked with message \"Already registered! Bug!\""), std::string::npos);
  EXPECT_THROW(spawn_task(ready_value()), velto::Panic);
}

TEST(SpawnTask, DroppedHandleLeavesTaskRunning) {
  Runtime rt(2);
  auto [tx, rx] = oneshot<int>();
  rt.block_on([](OneshotSender<int> s) -> asio::awaitable<void> {
    (void)spawn_task([](OneshotSender<int> s2) -> asio::awaitable<void> {
      s2.send(3);
      co_return;
    }(std::move(s)));
    co_return;
  }(std::move(tx)));
  EXPECT_EQ(rt.block_on(rx.receive()), std::optional<int>(3));
}

asio::awaitable<int> fails_when_released(Receiver<int>& gate) {
  (void)co_await gate.receive();
  throw std::runtime_error("first branch failed");
  co_return 0;
}

asio::awaitable<int> finishes_when_released(Receiver<int>& go, bool& done) {
  (void)co_await go.receive();
  done = true;
  co_return 5;
}

TEST(JoinBoth, CombinesResults) {
  Runtime rt(2);
  auto out = rt.block_on(join_both(ready_value(), []() -> asio::awaitable<void> { co_return; }()));
  EXPECT_EQ(out.first, 7);
}

TEST(JoinBoth, FailureDoesNotCancelTheOtherBranch) {
  ManualContext ctx;
  auto [gate_tx, gate_rx] = unbounded_channel<int>();
  auto [go_tx, go_rx] = unbounded_channel<int>();
  bool done = false;
  bool failed = false;
  ctx.spawn([&]() -> asio::awaitable<void> {
    try {
      (void)co_await join_both(fails_when_released(gate_rx), finishes_when_released(go_rx, done));
    } catch (const std::runtime_error&) {
      failed = true;
    }
  });
  ctx.poll();
  ASSERT_TRUE(gate_tx.send(1));
  ctx.poll();
  // the first branch has thrown; the join still waits for the second one
  EXPECT_FALSE(failed);
  EXPECT_FALSE(done);
  ASSERT_TRUE(go_tx.send(1));
  ctx.poll();
  EXPECT_TRUE(done);
  EXPECT_TRUE(failed);
}

}  // namespace
}  // namespace velto::async
