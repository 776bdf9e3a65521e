// Distributed key generation: n parties in one process over the in-memory
// network, each running the fresh key generation (joint tag, shares,
// committed proofs, consistency check). One worker thread, so the wall time
// is the parties' work added up; "per_party" divides it by n, and
// "per_party_x_secp256k1_sign" sets that against one libsecp256k1 signature
// timed in the same run.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "velto-ecdsa/benches/secp256k1_anchor.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;

asio::awaitable<void> party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, std::uint16_t threshold) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  auto key = co_await ecdsa::ecdsa_keygen_handler_latest(std::move(*root), threshold);
  if (!key) throw std::runtime_error(key.error()->display());
  benchmark::DoNotOptimize(key->public_key);
  auto done = co_await manager.join();
  if (!done || !*done) throw std::runtime_error("manager failed");
}

void BM_Keygen(benchmark::State& state) {
  const auto threshold = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  async::Runtime rt(1);
  std::vector<PartyId> ids;
  for (std::uint16_t i = 1; i <= n; ++i) ids.push_back(PartyId::unchecked(i));
  (void)bench::secp256k1_sign_seconds();
  const bench::LoopClock clock;
  for (auto _ : state) {
    auto network = InMemoryNetwork::create(ids);
    std::vector<async::JoinHandle<void>> handles;
    for (const PartyId id : ids) {
      handles.push_back(async::spawn_task(rt.executor(), party(network->link(id), ids, threshold)));
    }
    rt.block_on([](std::vector<async::JoinHandle<void>> hs) -> asio::awaitable<void> {
      for (auto& h : hs) {
        auto r = co_await h.join();
        if (!r) throw std::runtime_error(r.error().display());
      }
    }(std::move(handles)));
  }
  state.counters["per_party"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  bench::report_against_secp256k1_sign(state, "per_party_x_secp256k1_sign", clock.seconds_per_iteration(state) / n);
}

BENCHMARK(BM_Keygen)->ArgNames({"t", "n"})->Args({2, 3})->Args({3, 5})->Args({16, 31})->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
