// One batch of 128 base OTs, per side: everything a side computes, from its
// random draws to its keys (the messages are exchanged in memory); and the
// ladder alone, single and in a batch of 256 on every kernel this CPU has,
// beside libsodium's crypto_scalarmult measured in the same run
// (`vs_scalarmult` is the time per ladder over libsodium's time per call).
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "crypto/chacha.hpp"
#include "velto-ot/base_ot.hpp"
#include "velto-ot/montgomery.hpp"

namespace velto::ot {
namespace {

const UcTag kTag(crypto::ByteArray<32>{0xB7});

// The peer's message, prepared once.
struct Peers {
  BaseOtSender sender;
  BaseOtReceiver receiver;
};

Peers make_peers() {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{1});
  BaseOtSender s = BaseOtSender::random(rng);
  BaseOtReceiver r = BaseOtReceiver::random(kTag, rng);
  return Peers{std::move(s), std::move(r)};
}

// Draw a, compute A_c and A_t, then both keys of 128 OTs (2 + 256 ladders).
void BM_BaseOtSenderBatch(benchmark::State& state) {
  const Peers peers = make_peers();
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{2});
  for (auto _ : state) {
    const BaseOtSender sender = BaseOtSender::random(rng);
    auto out = sender.derive_keys(kTag, peers.receiver.values());
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_BaseOtSenderBatch)->Unit(benchmark::kMillisecond);

// Draw 128 secrets and choice bits, build the message, then the 128 keys
// (256 ladders).
void BM_BaseOtReceiverBatch(benchmark::State& state) {
  const Peers peers = make_peers();
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{3});
  for (auto _ : state) {
    const BaseOtReceiver receiver = BaseOtReceiver::random(kTag, rng);
    auto out = receiver.derive_keys(peers.sender.message());
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_BaseOtReceiverBatch)->Unit(benchmark::kMillisecond);

// libsodium's seconds per crypto_scalarmult: the median of several short
// runs, taken once per process.
double scalarmult_seconds() {
  static const double seconds = [] {
    if (sodium_init() < 0) return 0.0;
    unsigned char q[32];
    unsigned char n[32];
    unsigned char p[32] = {9};
    for (unsigned char& b : n) b = 0x5C;
    std::vector<double> runs;
    for (int r = 0; r < 9; ++r) {
      constexpr int kCalls = 200;
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < kCalls; ++i) {
        if (crypto_scalarmult(q, n, p) == 0) std::copy(q, q + 32, p);
        benchmark::DoNotOptimize(p);
      }
      runs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kCalls);
    }
    std::nth_element(runs.begin(), runs.begin() + 4, runs.end());
    return runs[4];
  }();
  return seconds;
}

// Times the benchmark loop from its construction on and reports the time
// per ladder and its ratio to libsodium's.
class PerLadder {
 public:
  explicit PerLadder(std::size_t ladders_per_iteration)
      : per_iteration_(ladders_per_iteration), start_(std::chrono::steady_clock::now()) {}

  void report(benchmark::State& state) const {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double per_ladder = elapsed / static_cast<double>(state.iterations() * per_iteration_);
    state.counters["per_ladder_us"] = per_ladder * 1e6;
    state.counters["vs_scalarmult"] = per_ladder / scalarmult_seconds();
  }

 private:
  std::size_t per_iteration_;
  std::chrono::steady_clock::time_point start_;
};

// The anchor: libsodium's X25519 (one call per ladder).
void BM_CryptoScalarmult(benchmark::State& state) {
  if (sodium_init() < 0) state.SkipWithError("sodium_init failed");
  unsigned char q[32];
  unsigned char n[32];
  unsigned char p[32] = {9};
  for (unsigned char& b : n) b = 0x5C;
  scalarmult_seconds();
  const PerLadder timer(1);
  for (auto _ : state) {
    if (crypto_scalarmult(q, n, p) == 0) std::copy(q, q + 32, p);
    benchmark::DoNotOptimize(p);
  }
  timer.report(state);
}
BENCHMARK(BM_CryptoScalarmult)->Unit(benchmark::kMicrosecond);

// 256 ladders with their own scalars and points in one batch, as a base-OT
// sender's batch; argument 0 the portable kernel, 1 the IFMA kernel.
void BM_MollerLadderBatch256(benchmark::State& state) {
  const auto kernel = state.range(0) == 0 ? LadderKernel::portable : LadderKernel::ifma;
  if (!ladder_kernel_available(kernel)) {
    state.SkipWithError("this CPU lacks the kernel");
    return;
  }
  constexpr std::size_t n = 256;
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{4});
  std::vector<crypto::ByteArray<32>> u(n);
  std::vector<crypto::ByteArray<32>> k(n);
  std::vector<crypto::ByteArray<32>> out(n);
  for (std::size_t j = 0; j < n; ++j) {
    rng.fill_bytes(u[j]);
    rng.fill_bytes(k[j]);
  }
  scalarmult_seconds();
  const PerLadder timer(n);
  for (auto _ : state) {
    moller_ladder_batch(kernel, u, k, out);
    benchmark::DoNotOptimize(out.data());
  }
  timer.report(state);
}
BENCHMARK(BM_MollerLadderBatch256)->Arg(0)->Arg(1)->ArgName("ifma")->Unit(benchmark::kMicrosecond);

void BM_MollerLadder(benchmark::State& state) {
  crypto::ByteArray<32> u = kTwistBasePoint;
  crypto::ByteArray<32> k;
  k.fill(0x5C);
  scalarmult_seconds();
  const PerLadder timer(1);
  for (auto _ : state) {
    u = moller_ladder(u, k);
    benchmark::DoNotOptimize(u);
  }
  timer.report(state);
}
BENCHMARK(BM_MollerLadder)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto::ot
