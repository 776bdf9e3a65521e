// Key generation and refresh of protocol version 1.1.0: n parties in one
// process over the in-memory network, t = n/2 + 1. One worker thread, so the
// wall time is the parties' work added up; "per_party" divides it by n. The
// current protocol's key generation is velto-ecdsa's BM_Keygen.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <vector>

#include "velto-ecdsa-legacy/keygen.hpp"
#include "velto-ecdsa-legacy/refresh.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using ecdsa::KeyPair;
using velto::testing::ids_1_to;

// Runs `body(id, root)` at every party and returns each party's key pair.
template <class Body>
std::vector<KeyPair> run(async::Runtime& rt, const std::vector<PartyId>& ids, Body body) {
  auto outcomes = velto::testing::run_session<KeyPair>(rt, ids, std::move(body));
  std::vector<KeyPair> keys;
  for (auto& o : outcomes) {
    if (!o.manager) throw std::runtime_error("manager failed");
    keys.push_back(std::move(o.result));
  }
  return keys;
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

void per_party(benchmark::State& state, std::uint16_t n) {
  state.counters["per_party"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_KeygenV4(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  const auto t = static_cast<std::uint16_t>(n / 2 + 1);
  async::Runtime rt(1);
  const auto ids = ids_1_to(n);
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
  const auto ids = ids_1_to(n);
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
