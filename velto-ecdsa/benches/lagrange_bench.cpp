// The consistency check that ends every key generation: one multi-scalar sum
// over the n public shares, then the first window's t.
#include <benchmark/benchmark.h>

#include <utility>
#include <vector>

#include "crypto/chacha.hpp"
#include "velto-ecdsa/lagrange.hpp"

namespace velto::ecdsa {
namespace {

void BM_LagrangeSumsAgree(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{1});
  const std::vector<crypto::Scalar> f = keygen_polynomial(crypto::Scalar::random(rng), t, rng);
  std::vector<PartyId> ids;
  std::vector<std::pair<PartyId, crypto::Point>> shares;
  for (std::uint16_t i = 1; i <= n; ++i) {
    ids.push_back(PartyId::unchecked(i));
    shares.emplace_back(ids.back(), crypto::Point::base_mul(polynomial_eval_at(f, ids.back())));
  }
  WeightedPoints scratch;
  for (auto _ : state) {
    auto r = lagrange_sums_agree(ids, t, shares, scratch);
    if (!r) state.SkipWithError("honest shares refused");
    benchmark::DoNotOptimize(r);
  }
  state.counters["windows"] = n - t + 1;
}
BENCHMARK(BM_LagrangeSumsAgree)->Args({2, 3})->Args({3, 5})->Args({10, 20})->Args({16, 31})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto::ecdsa
