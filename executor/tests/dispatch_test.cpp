// The versioned dispatch on executors over the in-memory network: handler
// registration and choice, the run of the chosen handler, the joins of the
// manager task and how its end combines with the handler's outcome.
#include "velto-mpc-infra/async/asio.hpp"

#include "executor/lib/dispatch.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "executor/tests/dispatch_fixtures.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::executor {
namespace {

using namespace velto::executor::testing;

TEST(SelectHandlerTest, GreatestRegisteredVersionNotAboveTheAgreedOne) {
  using V = Version;
  // Agreed versions v1.1.0 to v1.5.0, as the agreement lets them through.
  const std::vector<V> agreed = {V::V1_1_0, V::V1_2_0, V::V1_3_0, V::V1_4_0, V::V1_5_0};
  struct Row {
    std::vector<V> registered;
    std::vector<std::optional<V>> chosen;  // per agreed version; nothing = no handler
  };
  const std::vector<Row> rows = {
      {{V::V1_5_0, V::V1_1_0}, {V::V1_1_0, V::V1_1_0, V::V1_1_0, V::V1_1_0, V::V1_5_0}},
      {{V::V1_1_0}, {V::V1_1_0, V::V1_1_0, V::V1_1_0, V::V1_1_0, V::V1_1_0}},
      {{V::V1_2_0}, {std::nullopt, V::V1_2_0, V::V1_2_0, V::V1_2_0, V::V1_2_0}},
      {{V::V1_3_0}, {std::nullopt, std::nullopt, V::V1_3_0, V::V1_3_0, V::V1_3_0}},
      {{}, {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
  };
  for (const auto& row : rows) {
    std::map<V, int> handlers;
    for (const V v : row.registered) handlers.emplace(v, 0);
    for (std::size_t i = 0; i < agreed.size(); ++i) {
      SCOPED_TRACE(version_display(agreed[i]) + " among " + std::to_string(row.registered.size()));
      const auto it = select_handler(handlers, agreed[i]);
      if (row.chosen[i]) {
        ASSERT_NE(it, handlers.end());
        EXPECT_EQ(it->first, *row.chosen[i]);
      } else {
        EXPECT_EQ(it, handlers.end());
      }
    }
  }
}

JoinedRoom detached_room() {
  const std::vector<noise::PublicKey> keys = {keypair(1).public_key()};
  return JoinedRoom{nullptr, 1, {}, keypair(1), encrypted_channels_setup(keys)};
}

TEST(RegisterHandlerTest, SecondRegistrationOfOneVersionPanics) {
  VersionedHandlers<Ran> run(detached_room(), std::nullopt);
  register_handler(run, Version::V1_5_0, two_round_handler(Version::V1_5_0));
  register_handler(run, Version::V1_1_0, two_round_handler(Version::V1_1_0));
  auto token = std::make_shared<int>(0);
  try {
    register_handler(run, Version::V1_5_0, two_round_handler(Version::V1_5_0, token));
    ADD_FAILURE() << "no panic";
  } catch (const velto::Panic& p) {
    EXPECT_EQ(p.message(), kDuplicateHandlerPanic);
  }
  EXPECT_EQ(run.handlers.size(), 2u);
}

// ---------------------------------------------------------------------------
// Step 8: the manager's end and the provisional outcome.

TEST(CombineOutcomeTest, ManagerEndAndProvisionalOutcome) {
  const async::TaskJoinError panicked(async::TaskJoinError::Kind::Panic, 3, "boom");
  const std::string join_failed = "Failed joining a task: `" + panicked.display() + "`";
  const auto failure = [] {
    return HandlerOutcome<int>(std::unexpected(ExecutorFailure(ExecutorErrorKind(ExecutorErrorKind::ManagerFailed{}))));
  };
  const auto failure_with_old_manager_error = [] {
    ExecutorFailure f(ExecutorErrorKind(ExecutorErrorKind::ManagerFailed{}),
                      ManagerError(ManagerError::Kind::FailedToSendToExecutor));
    return HandlerOutcome<int>(std::unexpected(std::move(f)));
  };
  const auto manager_ok = [] { return ManagerJoin(ManagerResult{}); };
  const auto manager_error = [] {
    return ManagerJoin(ManagerResult(std::unexpected(ManagerError(ManagerError::Kind::TooManyPendingUCTags))));
  };
  const auto manager_panic = [&] { return ManagerJoin(std::unexpected(panicked)); };

  struct Case {
    std::string name;
    std::function<HandlerOutcome<int>()> provisional;
    std::function<ManagerJoin()> manager;
    std::string expected;  // "7" for the handler's value
  };
  const std::string manager_text = ManagerError(ManagerError::Kind::TooManyPendingUCTags).display();
  const std::vector<Case> cases = {
      {"ok, manager ok", [] { return HandlerOutcome<int>(7); }, manager_ok, "7"},
      {"failure, manager ok", failure, manager_ok, "The executor manager failed"},
      {"ok, manager error", [] { return HandlerOutcome<int>(7); }, manager_error, "7"},
      {"failure, manager error", failure, manager_error,
       "The executor manager failed, manager error: Too many pending messages with unregistered UC tag"},
      {"failure with an older manager error, manager error", failure_with_old_manager_error, manager_error,
       "The executor manager failed, manager error: " + manager_text},
      {"ok, manager panicked", [] { return HandlerOutcome<int>(7); }, manager_panic, join_failed},
      {"failure, manager panicked", failure, manager_panic, join_failed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = combine_outcome<int>(c.provisional(), c.manager());
    EXPECT_EQ(r ? std::to_string(*r) : r.error().display(), c.expected);
    if (!r && c.expected == join_failed) {
      EXPECT_NE(r.error().inner().get_if<ExecutorErrorKind::JoinFailed>(), nullptr);
      EXPECT_EQ(r.error().manager_err(), nullptr);
    }
  }
}

// ---------------------------------------------------------------------------
// Runs over the in-memory network.

asio::awaitable<HandlerOutcome<Ran>> run_party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids,
                                               HandlerMap<Ran> handlers, std::uint8_t code) {
  ExecutorBuilder builder(std::move(link), kRelayExecutorLimits);
  auto root = build_executor(builder, root_uc_tag(), ids);
  co_return co_await detail::run_versioned<Ran>(std::move(builder), std::move(*root), std::move(handlers), code);
}

class InMemoryDispatchTest : public ::testing::Test {
 protected:
  // Runs parties 1..codes.size(), party i announcing codes[i - 1], each
  // with the handlers `make` gives it.
  std::vector<HandlerOutcome<Ran>> run(const std::vector<std::uint8_t>& codes,
                                       const std::function<HandlerMap<Ran>()>& make) {
    std::vector<PartyId> ids;
    for (std::uint16_t i = 1; i <= codes.size(); ++i) ids.push_back(pid(i));
    network_ = InMemoryNetwork::create(ids);
    std::vector<async::JoinHandle<HandlerOutcome<Ran>>> handles;
    for (std::size_t i = 0; i < codes.size(); ++i)
      handles.push_back(async::spawn_task(rt_.executor(), run_party(network_->link(ids[i]), ids, make(), codes[i])));
    auto out = join_all(rt_, std::move(handles));
    // Every run joined its manager, which closes its link when it ends well.
    for (const PartyId id : ids) EXPECT_TRUE(network_->closed(id)) << id.value();
    return out;
  }

  async::Runtime rt_{4};
  std::shared_ptr<InMemoryNetwork> network_;
};

HandlerMap<Ran> handlers_for(const std::vector<Version>& versions, const std::shared_ptr<int>& calls) {
  HandlerMap<Ran> map;
  for (const Version v : versions) map.emplace(v, VersionHandler<Ran>(two_round_handler(v, calls)));
  return map;
}

TEST_F(InMemoryDispatchTest, RunsTheHandlerOfTheAgreedVersion) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> codes;
    std::vector<Version> registered;
    std::string expected;  // at every party
  };
  const std::vector<Case> cases = {
      {"all current", {8, 8, 8}, {Version::V1_5_0, Version::V1_1_0}, "ran v1.5.0 total 6"},
      {"one at 1.1.0", {8, 4, 8}, {Version::V1_5_0, Version::V1_1_0}, "ran v1.1.0 total 6"},
      {"one at 1.4.0", {7, 8, 8}, {Version::V1_5_0, Version::V1_1_0}, "ran v1.1.0 total 6"},
      {"only 1.2.0 registered", {8, 8, 4}, {Version::V1_2_0}, "Received an unexpected version: v1.1.0"},
      {"nothing registered", {8, 8, 8}, {}, "Received an unexpected version: v1.5.0"},
      {"deprecated", {8, 3, 8}, {Version::V1_5_0, Version::V1_1_0}, "Another party uses a deprecated version: v1.0.3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto calls = std::make_shared<int>(0);
    const auto outcomes = run(c.codes, [&] { return handlers_for(c.registered, calls); });
    for (const auto& o : outcomes) {
      EXPECT_EQ(summary(o), c.expected);
      if (!o) {
        EXPECT_EQ(o.error().manager_err(), nullptr);
      }
    }
    // One call per party when a handler ran, none otherwise; every handler,
    // chosen or not, has been destroyed.
    EXPECT_EQ(*calls, c.expected.starts_with("ran") ? 3 : 0);
    EXPECT_EQ(calls.use_count(), 1);
  }
}

TEST_F(InMemoryDispatchTest, HandlerFailurePassesThrough) {
  const auto outcomes = run({8, 8}, [] {
    HandlerMap<Ran> map;
    map.emplace(Version::V1_5_0, VersionHandler<Ran>([](ProtocolExecutor root) -> HandlerFuture<Ran> {
                  if (root.my_party_id() == pid(2)) co_return std::unexpected(box_handler_error(TextError("no key")));
                  Ran ran{Version::V1_5_0, root.parties(), 0};
                  co_return ran;
                }));
    return map;
  });
  EXPECT_EQ(summary(outcomes[0]), "ran v1.5.0 total 0");
  EXPECT_EQ(summary(outcomes[1]), "Executor Failed: `no key`");
}

// ---------------------------------------------------------------------------
// A party alone, over a link whose end the test controls: the manager fails
// when the test says so (its reader gets `failure`), and closing the link
// after a good run may panic.

class ScriptedLink final : public Communicator {
 public:
  explicit ScriptedLink(bool panic_on_close) : panic_on_close_(panic_on_close) {
    auto [tx, rx] = async::unbounded_channel<BoxedError>();
    fail_ = std::move(tx);
    failures_ = std::move(rx);
  }
  void fail(BoxedError e) { fail_.send(std::move(e)); }

  PartyId my_party_id() const override { return pid(1); }
  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    auto e = co_await failures_.receive();
    if (!e) co_return std::unexpected(box_error<TextError>("script ended"));
    co_return std::unexpected(std::move(*e));
  }
  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes, PartyId) override {
    co_return std::unexpected(box_error<TextError>("nobody to send to"));
  }
  asio::awaitable<void> close() override {
    if (panic_on_close_) panic("link closed with a bug");
    co_return;
  }

 private:
  bool panic_on_close_;
  async::UnboundedSender<BoxedError> fail_;
  async::Receiver<BoxedError> failures_;
};

TEST(AlonePartyDispatchTest, ManagerEndCombinesWithTheHandlerOutcome) {
  struct Case {
    std::string name;
    bool handler_fails;
    bool manager_fails;
    bool panic_on_close;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"handler ok, manager error", false, true, false, "ran v1.5.0 total 0"},
      {"handler failure, manager error", true, true, false,
       "Executor Failed: `handler failed`, manager error: link broke"},
      {"handler failure, manager ok", true, false, false, "Executor Failed: `handler failed`"},
      {"handler ok, manager panics", false, false, true,
       "Failed joining a task: `task ID panicked with message \"link closed with a bug\"`"},
  };
  async::Runtime rt(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto link = std::make_shared<ScriptedLink>(c.panic_on_close);
    HandlerMap<Ran> handlers;
    handlers.emplace(Version::V1_5_0, VersionHandler<Ran>([&c, link](ProtocolExecutor root) -> HandlerFuture<Ran> {
                       if (c.manager_fails) {
                         link->fail(box_error<TextError>("link broke"));
                         // The manager is gone once it releases our inbound
                         // channel.
                         while (co_await root.inbound().receive()) {
                         }
                       }
                       if (c.handler_fails) co_return std::unexpected(box_handler_error(TextError("handler failed")));
                       Ran ran{Version::V1_5_0, root.parties(), 0};
                       co_return ran;
                     }));
    ExecutorBuilder builder(link, kRelayExecutorLimits);
    auto root = build_executor(builder, root_uc_tag(), std::vector{pid(1)});
    auto outcome = block(rt, detail::run_versioned<Ran>(std::move(builder), std::move(*root), std::move(handlers),
                                                        wire_code(kAnnouncedVersion)));
    std::string text = summary(outcome);
    // The task id varies from run to run.
    if (const auto at = text.find("task "); at != std::string::npos) {
      const auto end = text.find(' ', at + 5);
      text.replace(at + 5, end - (at + 5), "ID");
    }
    EXPECT_EQ(text, c.expected);
    if (c.panic_on_close) {
      ASSERT_FALSE(outcome.has_value());
      EXPECT_NE(outcome.error().inner().get_if<ExecutorErrorKind::JoinFailed>(), nullptr);
    }
  }
}

}  // namespace
}  // namespace velto::executor
