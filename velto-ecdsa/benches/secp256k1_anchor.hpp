// The yardstick of the threshold benchmarks: one plain libsecp256k1 ECDSA
// signature (secp256k1_ecdsa_sign of a 32-byte hash), timed in the same
// process and run as the figure it is set against, so that a row shows its
// ratio without a second run.
#pragma once

#include <benchmark/benchmark.h>
#include <secp256k1.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace velto::bench {

// Seconds per signature: the median of 15 batches of 200 signatures, measured
// once per process on first use.
inline double secp256k1_sign_seconds() {
  static const double seconds = [] {
    secp256k1_context* ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    std::array<unsigned char, 32> key{};
    key[31] = 7;
    std::array<unsigned char, 32> hash{};
    hash.fill(0xaa);
    secp256k1_ecdsa_signature sig;
    std::vector<double> batches;
    for (int b = 0; b < 15; ++b) {
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < 200; ++i) {
        hash[0] = static_cast<unsigned char>(i);
        if (secp256k1_ecdsa_sign(ctx, &sig, hash.data(), key.data(), nullptr, nullptr) != 1) {
          throw std::runtime_error("secp256k1_ecdsa_sign failed");
        }
        benchmark::DoNotOptimize(sig);
      }
      batches.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 200);
    }
    secp256k1_context_destroy(ctx);
    std::sort(batches.begin(), batches.end());
    return batches[batches.size() / 2];
  }();
  return seconds;
}

// Sets the counters "secp256k1_sign_us" (the yardstick) and `name` (the
// figure divided by it) for a figure of `seconds`.
inline void report_against_secp256k1_sign(benchmark::State& state, const char* name, double seconds) {
  const double anchor = secp256k1_sign_seconds();
  state.counters["secp256k1_sign_us"] = benchmark::Counter(anchor * 1e6);
  state.counters[name] = benchmark::Counter(seconds / anchor);
}

// Wall-clock seconds of the benchmark loop so far, for figures that are
// divided before they meet the yardstick.
class LoopClock {
 public:
  LoopClock() : start_(std::chrono::steady_clock::now()) {}
  double seconds_per_iteration(const benchmark::State& state) const {
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    return state.iterations() == 0 ? 0.0 : total / static_cast<double>(state.iterations());
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace velto::bench
