// Helpers shared by the session-engine tests.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::testing {

namespace asio = boost::asio;

inline PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

inline std::vector<PartyId> ids_1_to(std::uint16_t n) {
  std::vector<PartyId> out;
  for (std::uint16_t i = 1; i <= n; ++i) out.push_back(pid(i));
  return out;
}

// A single-threaded context that the test steps by hand: nothing runs except
// inside poll() or run(), so the order of events is fixed.
class ManualContext {
 public:
  template <class Awaitable>
  void spawn(Awaitable&& a) {
    asio::co_spawn(asio::make_strand(ctx_), std::forward<Awaitable>(a), asio::detached);
  }
  void poll() {
    ctx_.restart();
    ctx_.poll();
  }
  void run() {
    ctx_.restart();
    ctx_.run();
  }
  asio::any_io_executor executor() { return ctx_.get_executor(); }

 private:
  asio::io_context ctx_;
};

// Runs `a` on a manual context until nothing is left to do; returns its value.
template <class T>
T run_here(asio::awaitable<T> a) {
  ManualContext ctx;
  std::optional<T> out;
  ctx.spawn([](asio::awaitable<T> inner, std::optional<T>& o) -> asio::awaitable<void> {
    o.emplace(co_await std::move(inner));
  }(std::move(a), out));
  ctx.run();
  if (!out) ADD_FAILURE() << "coroutine did not finish";
  return std::move(*out);
}

// A link that only knows its own id (for executors without a manager).
class IdOnlyLink final : public Communicator {
 public:
  explicit IdOnlyLink(PartyId me) : me_(me) {}
  PartyId my_party_id() const override { return me_; }
  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    co_return std::unexpected(box_error<TextError>("no link"));
  }
  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes, PartyId) override {
    co_return std::unexpected(box_error<TextError>("no link"));
  }
  asio::awaitable<void> close() override { co_return; }

 private:
  PartyId me_;
};

// An executor without a manager: the test reads its commands from `commands`
// and feeds its inbound channel through the Register it finds there.
struct DetachedExecutor {
  async::Receiver<ManagerMessage> commands;
  std::optional<ProtocolExecutor> executor;
  std::optional<async::Sender<ProtocolReceivedMessage>> inbound;

  static DetachedExecutor open(PartyId me, std::vector<PartyId> parties, std::size_t capacity = kInboundCapacity,
                               const crypto::SecretArray<32>& seed_key = crypto::SecretArray<32>(),
                               const UcTag& tag = root_uc_tag()) {
    DetachedExecutor d;
    auto [tx, rx] = async::unbounded_channel<ManagerMessage>();
    d.commands = std::move(rx);
    d.executor.emplace(ProtocolExecutor::open(tag, me, std::move(tx),
                                              std::make_shared<const std::vector<PartyId>>(std::move(parties)),
                                              capacity, seed_key));
    auto first = d.commands.try_receive();
    if (!first || !std::holds_alternative<manager_message::Register>(*first)) {
      ADD_FAILURE() << "the first command is not the Register";
    } else {
      d.inbound.emplace(std::move(std::get<manager_message::Register>(*first).inbound));
    }
    return d;
  }

  // Puts a message into the executor's inbound channel.
  void feed(std::uint16_t sender, crypto::Bytes payload) {
    ProtocolReceivedMessage m{std::move(payload), pid(sender)};
    if (!inbound->try_send(std::move(m))) ADD_FAILURE() << "inbound channel refused a message";
  }

  std::vector<ManagerMessage> drain() {
    std::vector<ManagerMessage> out;
    while (auto c = commands.try_receive()) out.push_back(std::move(*c));
    return out;
  }
};

inline crypto::Bytes bytes_of(std::initializer_list<std::uint8_t> b) { return crypto::Bytes(b); }
inline crypto::Bytes filled(std::size_t n, std::uint8_t v) { return crypto::Bytes(n, v); }

// What one party ended with: its protocol's result and its manager's.
template <class R>
struct PartyOutcome {
  R result;
  ManagerResult manager;
};

// Drives one party as an operation does: builds the root executor over the
// party's link, starts the manager, runs the protocol with the root moved
// in, then awaits the manager.
template <class R, class Protocol>
asio::awaitable<PartyOutcome<R>> drive_party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids,
                                             ExecutorLimits limits, Protocol protocol) {
  ExecutorBuilder builder(std::move(link), limits);
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  R result = co_await protocol(std::move(*root));
  auto joined = co_await manager.join();
  if (!joined) ADD_FAILURE() << joined.error().display();
  co_return PartyOutcome<R>{std::move(result), joined ? std::move(*joined) : ManagerResult{}};
}

// Runs `protocol(party id, root executor) -> awaitable<R>` for every party of
// `ids` over an in-memory network, each party as its own task.
template <class R, class Protocol>
std::vector<PartyOutcome<R>> run_session(async::Runtime& rt, const std::vector<PartyId>& ids, Protocol protocol,
                                         InMemoryNetwork::Options options = {}, ExecutorLimits limits = {},
                                         std::shared_ptr<InMemoryNetwork>* network_out = nullptr) {
  auto network = InMemoryNetwork::create(ids, options);
  if (network_out) *network_out = network;
  std::vector<async::JoinHandle<PartyOutcome<R>>> handles;
  for (const PartyId id : ids) {
    auto per_party = [protocol, id](ProtocolExecutor root) { return protocol(id, std::move(root)); };
    handles.push_back(async::spawn_task(rt.executor(), drive_party<R>(network->link(id), ids, limits, per_party)));
  }
  return rt.block_on([](std::vector<async::JoinHandle<PartyOutcome<R>>> hs)
                         -> asio::awaitable<std::vector<PartyOutcome<R>>> {
    std::vector<PartyOutcome<R>> out;
    for (auto& h : hs) {
      auto r = co_await h.join();
      if (!r) throw std::runtime_error(r.error().display());
      out.push_back(std::move(*r));
    }
    co_return out;
  }(std::move(handles)));
}

}  // namespace velto::testing
