// Key generation and refresh of protocol version 1.1.0: n parties in one
// process over the in-memory network, t = n/2 + 1. One worker thread, so the
// wall time is the parties' work added up; "per_party" divides it by n. The
// current protocol's key generation is velto-ecdsa's BM_Keygen.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "velto-ecdsa-legacy/keygen.hpp"
#include "velto-ecdsa-legacy/refresh.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using ecdsa::KeyPair;

// Runs `body(root)` at every party and returns each party's key pair.
template <class Body>
std::vector<KeyPair> run(async::Runtime& rt, const std::vector<PartyId>& ids, Body body) {
  auto network = InMemoryNetwork::create(ids);
  std::vector<async::JoinHandle<KeyPair>> handles;
  for (const PartyId id : ids) {
    handles.push_back(async::spawn_task(
        rt.executor(),
        [](std::shared_ptr<Communicator> link, std::vector<PartyId> all, PartyId me, Body b) -> asio::awaitable<KeyPair> {
          ExecutorBuilder builder(std::move(link));
          auto root = build_executor(builder, root_uc_tag(), all);
          auto manager = spawn_executor_manager(std::move(builder));
          KeyPair key = co_await b(me, std::move(*root));
          auto done = co_await manager.join();
          if (!done || !*done) throw std::runtime_error("manager failed");
          co_return key;
        }(network->link(id), ids, id, body)));
  }
  return rt.block_on([](std::vector<async::JoinHandle<KeyPair>> hs) -> asio::awaitable<std::vector<KeyPair>> {
    std::vector<KeyPair> out;
    for (auto& h : hs) {
      auto r = co_await h.join();
      if (!r) throw std::runtime_error(r.error().display());
      out.push_back(std::move(*r));
    }
    co_return out;
  }(std::move(handles)));
}

asio::awaitable<KeyPair> keygen_party(ProtocolExecutor root, std::uint16_t t) {
  auto key = co_await ecdsa::legacy::ecdsa_keygen_v4(root.child(ecdsa::kKeygenLabel), t);
  if (!key) throw std::runtime_error(key.error().display());
  co_return std::move(*key);
}

asio::awaitable<KeyPair> refresh_party(ProtocolExecutor root, KeyPair old) {
  auto key = co_await ecdsa::legacy::reshare_subprotocol(root, old);
  if (!key) throw std::runtime_error(key.error().display());
  co_return std::move(*key);
}

std::vector<PartyId> ids_of(std::uint16_t n) {
  std::vector<PartyId> ids;
  for (std::uint16_t i = 1; i <= n; ++i) ids.push_back(PartyId::unchecked(i));
  return ids;
}

void per_party(benchmark::State& state, std::uint16_t n) {
  state.counters["per_party"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_KeygenV4(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  const auto t = static_cast<std::uint16_t>(n / 2 + 1);
  async::Runtime rt(1);
  const auto ids = ids_of(n);
  for (auto _ : state) {
    auto keys = run(rt, ids, [t](PartyId, ProtocolExecutor root) { return keygen_party(std::move(root), t); });
    benchmark::DoNotOptimize(keys.front().public_key);
  }
  per_party(state, n);
}

void BM_RefreshV4(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  const auto t = static_cast<std::uint16_t>(n / 2 + 1);
  async::Runtime rt(1);
  const auto ids = ids_of(n);
  const auto old = run(rt, ids, [t](PartyId, ProtocolExecutor root) { return keygen_party(std::move(root), t); });
  for (auto _ : state) {
    auto keys = run(rt, ids, [&old](PartyId me, ProtocolExecutor root) {
      return refresh_party(std::move(root), old[me.value() - 1]);
    });
    benchmark::DoNotOptimize(keys.front().secret_share);
  }
  per_party(state, n);
}

BENCHMARK(BM_KeygenV4)->ArgName("n")->Arg(3)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RefreshV4)->ArgName("n")->Arg(3)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
