// BIP340 threshold signing: all signers in one process over the in-memory
// network, on one worker thread, so the wall time is the signers' work added
// up; "per_party" divides it by the number of signers (t). Comparable with
// the Ed25519 and sr25519 BM_Sign figures.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <vector>

#include "crypto/random.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-frost-bip340/sign.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace {

using namespace velto;

void BM_Sign(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  async::Runtime rt(1);
  crypto::OsRng rng;
  const crypto::Scalar secret = crypto::Scalar::random(rng);
  const std::vector<crypto::Scalar> poly = ecdsa::keygen_polynomial(secret, t, rng);
  std::vector<bip340::Bip340KeyShare> shares;
  for (std::uint16_t j = 1; j <= n; ++j) {
    shares.push_back(bip340::Bip340KeyShare{ecdsa::polynomial_eval_at(poly, PartyId::unchecked(j)), {},
                                            crypto::Point::base_mul(secret), PartyId::unchecked(j), t, n});
  }
  const std::vector<PartyId> signers = velto::testing::ids_1_to(t);
  const crypto::Bytes message(32, 0x42);
  using Result = std::expected<crypto::ByteArray<64>, bip340::Bip340SignError>;
  for (auto _ : state) {
    auto outcomes = velto::testing::run_session<Result>(rt, signers, [&shares, &message](PartyId me, ProtocolExecutor root) {
      return bip340::frost_bip340_sign(std::move(root), shares[me.value() - 1], message);
    });
    for (auto& o : outcomes)
      if (!o.result) throw std::runtime_error(o.result.error().display());
    benchmark::DoNotOptimize(outcomes);
  }
  state.counters["per_party"] =
      benchmark::Counter(t, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Sign)->ArgNames({"t", "n"})->Args({2, 3})->Args({3, 5})->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
