// sr25519 key generation and signing, all parties in one process over the
// in-memory network on one worker thread (the wall time is the parties'
// work added up; "per_party" divides it by the parties that took part), set
// beside the FROST Ed25519 figures of velto-frost-ed25519's benchmark at the
// same sizes; and the signing challenge alone.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <vector>

#include "velto-frost-sr25519/dkg.hpp"
#include "velto-frost-sr25519/hashes.hpp"
#include "velto-frost-sr25519/sign.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace {

using namespace velto;
using velto::testing::ids_1_to;
using velto::testing::run_session;

std::vector<frost::Sr25519KeyShare> keygen(async::Runtime& rt, std::uint16_t n, std::uint16_t t) {
  using Result = std::expected<frost::Sr25519KeyShare, frost::Sr25519KeygenRunError>;
  auto outcomes = run_session<Result>(rt, ids_1_to(n), [t](PartyId, ProtocolExecutor root) {
    return frost::sr25519_keygen_fresh(std::move(root), t);
  });
  std::vector<frost::Sr25519KeyShare> out;
  for (auto& o : outcomes) {
    if (!o.result) throw std::runtime_error(o.result.error().display());
    out.push_back(std::move(*o.result));
  }
  return out;
}

void BM_Sr25519Keygen(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  async::Runtime rt(1);
  for (auto _ : state) benchmark::DoNotOptimize(keygen(rt, n, t));
  state.counters["per_party"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Sr25519Sign(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  async::Runtime rt(1);
  const std::vector<frost::Sr25519KeyShare> shares = keygen(rt, n, t);
  const crypto::Bytes message(32, 0x42);
  using Result = std::expected<crypto::ByteArray<64>, frost::Sr25519SignRunError>;
  for (auto _ : state) {
    auto outcomes = run_session<Result>(rt, ids_1_to(t), [&shares, &message](PartyId me, ProtocolExecutor root) {
      return frost::sr25519_threshold_sign(std::move(root), shares[me.value() - 1u], message);
    });
    for (auto& o : outcomes)
      if (!o.result) throw std::runtime_error(o.result.error().display());
    benchmark::DoNotOptimize(outcomes);
  }
  state.counters["per_party"] =
      benchmark::Counter(t, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Sr25519SigningChallenge(benchmark::State& state) {
  const crypto::Bytes message(static_cast<std::size_t>(state.range(0)), 0x42);
  const crypto::RistrettoPoint y = crypto::RistrettoPoint::base_mul(crypto::EdScalar::from_u64(7));
  const crypto::RistrettoPoint r = crypto::RistrettoPoint::base_mul(crypto::EdScalar::from_u64(9));
  for (auto _ : state) benchmark::DoNotOptimize(frost::sr25519_signing_challenge(y, r, message));
}

BENCHMARK(BM_Sr25519Keygen)->ArgNames({"t", "n"})->Args({2, 3})->Args({3, 5})->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Sr25519Sign)->ArgNames({"t", "n"})->Args({2, 3})->Args({3, 5})->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Sr25519SigningChallenge)->ArgNames({"bytes"})->Arg(32)->Arg(1024);

}  // namespace
