// The join of the transport-key collector and a protocol task: which outcome
// a handler reports, and that it never stops waiting for a task that is
// still running unless the other one ended without a result.
#include "velto-mpc-infra/async/asio.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/async/timeout.hpp"

namespace velto::executor {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

enum class Outcome { Value, Error, Panic };
enum class Side { Transport, Protocol };
using Gate = async::OneshotReceiver<int>;
using JoinOut = std::expected<std::pair<TransportKeyRotation, ecdsa::KeyPair>, ExecutorFailure>;

asio::awaitable<TransportKeyResult> transport_task(Gate gate, Outcome outcome) {
  (void)co_await gate.receive();
  if (outcome == Outcome::Panic) panic("collector broke");
  if (outcome == Outcome::Error) co_return std::unexpected(box_error<TextError>("collector failed"));
  PartyPubkeyMap map;
  noise::NoiseKeyPair keypair = noise::generate_ephemeral();
  map.insert_or_assign(PartyId::unchecked(7), keypair.public_key());
  TransportKeyRotation rotation(std::move(keypair), std::move(map));
  co_return std::move(rotation);
}

asio::awaitable<KeyPairResult> protocol_task(Gate gate, Outcome outcome) {
  (void)co_await gate.receive();
  if (outcome == Outcome::Panic) panic("protocol broke");
  if (outcome == Outcome::Error) {
    ecdsa::EcdsaRefreshLibError error{ecdsa::EcdsaRefreshLibError::RefreshIsNotOfSameSecret{}};
    co_return std::unexpected(std::move(error));
  }
  ecdsa::KeyPair key{crypto::Scalar::one(), {}, crypto::Point::generator(), PartyId::unchecked(7), 2, 3};
  co_return std::move(key);
}

asio::awaitable<JoinOut> observed_join(async::JoinHandle<TransportKeyResult> transport,
                                       async::JoinHandle<KeyPairResult> protocol,
                                       std::shared_ptr<std::atomic<bool>> done) {
  auto out = co_await join_renewal_tasks<ecdsa::KeyPair, ecdsa::EcdsaRefreshLibError>(std::move(transport),
                                                                                        std::move(protocol));
  done->store(true);
  co_return std::move(out);
}

asio::awaitable<void> pause(async::Duration d) {
  asio::steady_timer timer(co_await asio::this_coro::executor, d);
  co_await timer.async_wait(asio::use_awaitable);
}

enum class Expect { Success, TransportError, ProtocolError, JoinFailed };

struct JoinCase {
  const char* name;
  Outcome transport;
  Outcome protocol;
  // Gates opened in this order; a side left out stays closed until the join
  // has returned.
  std::vector<Side> released;
  Expect expect;
  // The JoinFailed text names this panic.
  const char* panic_text = "";
};

const JoinCase kCases[] = {
    {"both deliver", Outcome::Value, Outcome::Value, {Side::Transport, Side::Protocol}, Expect::Success},
    {"both deliver, protocol first", Outcome::Value, Outcome::Value, {Side::Protocol, Side::Transport},
     Expect::Success},
    {"collector error beats a later protocol error", Outcome::Error, Outcome::Error,
     {Side::Transport, Side::Protocol}, Expect::TransportError},
    {"collector error beats an earlier protocol error", Outcome::Error, Outcome::Error,
     {Side::Protocol, Side::Transport}, Expect::TransportError},
    {"collector error with a good protocol", Outcome::Error, Outcome::Value, {Side::Protocol, Side::Transport},
     Expect::TransportError},
    {"protocol error waits for the collector", Outcome::Value, Outcome::Error, {Side::Protocol, Side::Transport},
     Expect::ProtocolError},
    {"collector panics while the protocol runs", Outcome::Panic, Outcome::Value, {Side::Transport},
     Expect::JoinFailed, "collector broke"},
    {"protocol panics while the collector runs", Outcome::Value, Outcome::Panic, {Side::Protocol},
     Expect::JoinFailed, "protocol broke"},
    {"a panic beats an error value", Outcome::Error, Outcome::Panic, {Side::Transport, Side::Protocol},
     Expect::JoinFailed, "protocol broke"},
};

TEST(EcdsaLatestJoin, OutcomeAndPrecedence) {
  async::Runtime rt(2);
  for (const JoinCase& c : kCases) {
    SCOPED_TRACE(c.name);
    struct Run {
      std::optional<JoinOut> out;
      bool waited_for_second = true;
    };
    Run run = rt.block_on([](const JoinCase& jc) -> asio::awaitable<Run> {
      auto [transport_open, transport_gate] = async::oneshot<int>();
      auto [protocol_open, protocol_gate] = async::oneshot<int>();
      auto transport = async::spawn_task(transport_task(std::move(transport_gate), jc.transport));
      auto protocol = async::spawn_task(protocol_task(std::move(protocol_gate), jc.protocol));
      auto done = std::make_shared<std::atomic<bool>>(false);
      auto join = async::spawn_task(observed_join(std::move(transport), std::move(protocol), done));

      Run r;
      for (std::size_t i = 0; i < jc.released.size(); ++i) {
        if (jc.released[i] == Side::Transport) transport_open.send(1);
        else protocol_open.send(1);
        // With both tasks delivering, the join must still wait for the second.
        if (i + 1 < jc.released.size() && jc.expect != Expect::JoinFailed) {
          co_await pause(100ms);
          if (done->load()) r.waited_for_second = false;
        }
      }
      auto joined = co_await async::timeout(10s, join.join());
      if (joined && *joined) r.out.emplace(std::move(**joined));
      // Let a held task end.
      if (transport_open) transport_open.send(1);
      if (protocol_open) protocol_open.send(1);
      co_return std::move(r);
    }(c));

    EXPECT_TRUE(run.waited_for_second);
    ASSERT_TRUE(run.out.has_value()) << "the join did not return";
    const JoinOut& out = *run.out;
    switch (c.expect) {
      case Expect::Success:
        ASSERT_TRUE(out.has_value()) << out.error().display();
        EXPECT_EQ(out->second.party_id, PartyId::unchecked(7));
        EXPECT_EQ(out->first.party_map.size(), 1u);
        break;
      case Expect::TransportError:
        ASSERT_FALSE(out.has_value());
        EXPECT_EQ(out.error().display(), "Executor Failed: `collector failed`");
        break;
      case Expect::ProtocolError:
        ASSERT_FALSE(out.has_value());
        EXPECT_EQ(out.error().display(),
                  "Executor Failed: `Refresh is not of same secret, an outcome of a potentially compromised device "
                  "in the group`");
        break;
      case Expect::JoinFailed:
        ASSERT_FALSE(out.has_value());
        EXPECT_TRUE(out.error().inner().is<ExecutorErrorKind::JoinFailed>());
        EXPECT_THAT(out.error().display(), HasSubstr("Failed joining a task: `task "));
        EXPECT_THAT(out.error().display(), HasSubstr(c.panic_text));
        break;
    }
  }
}

}  // namespace
}  // namespace velto::executor
