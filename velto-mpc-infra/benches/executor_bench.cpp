// Messages per second through executors and managers: n parties in one
// process over the in-memory network, each round every party sends a
// 32-byte value to all others and collects one from each.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;

asio::awaitable<void> party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, int rounds) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  {
    ProtocolExecutor exec = std::move(*root);
    crypto::ByteArray<32> value{};
    for (int r = 0; r < rounds; ++r) {
      value[0] = static_cast<std::uint8_t>(r);
      if (!exec.send_to_all(value)) throw std::runtime_error("send failed");
      auto got = co_await collect_map<crypto::ByteArray<32>>(exec);
      if (!got) throw std::runtime_error(got.error()->display());
    }
  }
  auto done = co_await manager.join();
  if (!done || !*done) throw std::runtime_error("manager failed");
}

void BM_BroadcastRounds(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  const int rounds = static_cast<int>(state.range(1));
  async::Runtime rt(static_cast<std::size_t>(state.range(2)));
  std::vector<PartyId> ids;
  for (std::uint16_t i = 1; i <= n; ++i) ids.push_back(PartyId::unchecked(i));
  for (auto _ : state) {
    auto network = InMemoryNetwork::create(ids);
    std::vector<async::JoinHandle<void>> handles;
    for (const PartyId id : ids) handles.push_back(async::spawn_task(rt.executor(), party(network->link(id), ids, rounds)));
    rt.block_on([](std::vector<async::JoinHandle<void>> hs) -> asio::awaitable<void> {
      for (auto& h : hs) {
        auto r = co_await h.join();
        if (!r) throw std::runtime_error(r.error().display());
      }
    }(std::move(handles)));
  }
  const double messages = static_cast<double>(n) * (n - 1) * rounds;
  state.counters["messages/s"] =
      benchmark::Counter(messages * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// threads 0: one worker per hardware thread (the library's runtime); 1: a
// single worker, which shows the cost without cross-thread wake-ups (small
// sessions are latency-bound: each round is a chain of hand-offs).
BENCHMARK(BM_BroadcastRounds)
    ->ArgNames({"parties", "rounds", "threads"})
    ->Args({3, 2000, 0})->Args({3, 2000, 1})->Args({64, 20, 0})->Args({64, 20, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
