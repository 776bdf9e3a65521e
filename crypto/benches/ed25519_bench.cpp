#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"
#include "crypto/x25519.hpp"

namespace velto::crypto {
namespace {

struct BenchRng {
  std::mt19937_64 eng{42};
  void fill_bytes(MutByteSpan out) {
    for (auto& b : out) b = static_cast<std::uint8_t>(eng());
  }
};

void BM_EdPointMul(benchmark::State& state) {
  BenchRng rng;
  const EdPoint p = EdPoint::base_mul(EdScalar::random(rng));
  const EdScalar k = EdScalar::random(rng);
  for (auto _ : state) {
    benchmark::DoNotOptimize(p * k);
  }
}
BENCHMARK(BM_EdPointMul);

void BM_EdPointBaseMul(benchmark::State& state) {
  BenchRng rng;
  const EdScalar k = EdScalar::random(rng);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EdPoint::base_mul(k));
  }
}
BENCHMARK(BM_EdPointBaseMul);

void BM_EdPointAdd(benchmark::State& state) {
  BenchRng rng;
  const EdPoint p = EdPoint::base_mul(EdScalar::random(rng));
  const EdPoint q = EdPoint::base_mul(EdScalar::random(rng));
  for (auto _ : state) {
    benchmark::DoNotOptimize(p + q);
  }
}
BENCHMARK(BM_EdPointAdd);

// Decoding includes the subgroup check, a full scalar multiplication.
void BM_EdPointDecode(benchmark::State& state) {
  BenchRng rng;
  const ByteArray<32> enc = EdPoint::base_mul(EdScalar::random(rng)).to_bytes();
  for (auto _ : state) {
    benchmark::DoNotOptimize(EdPoint::from_bytes(enc));
  }
}
BENCHMARK(BM_EdPointDecode);

void BM_EdPointMultiMul(benchmark::State& state) {
  BenchRng rng;
  std::vector<EdScalar> ks;
  std::vector<EdPoint> ps;
  for (int i = 0; i < state.range(0); ++i) {
    ks.push_back(EdScalar::random(rng));
    ps.push_back(EdPoint::base_mul(EdScalar::random(rng)));
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(EdPoint::multi_mul(ks, ps));
  }
}
BENCHMARK(BM_EdPointMultiMul)->Arg(4)->Arg(16);

void BM_EdScalarMul(benchmark::State& state) {
  BenchRng rng;
  const EdScalar a = EdScalar::random(rng);
  const EdScalar b = EdScalar::random(rng);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a * b);
  }
}
BENCHMARK(BM_EdScalarMul);

void BM_EdScalarInvert(benchmark::State& state) {
  BenchRng rng;
  const EdScalar a = EdScalar::random(rng);
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.invert());
  }
}
BENCHMARK(BM_EdScalarInvert);

void BM_RistrettoMul(benchmark::State& state) {
  BenchRng rng;
  const RistrettoPoint p = RistrettoPoint::base_mul(EdScalar::random(rng));
  const EdScalar k = EdScalar::random(rng);
  for (auto _ : state) {
    benchmark::DoNotOptimize(p * k);
  }
}
BENCHMARK(BM_RistrettoMul);

void BM_RistrettoBaseMul(benchmark::State& state) {
  BenchRng rng;
  const EdScalar k = EdScalar::random(rng);
  for (auto _ : state) {
    benchmark::DoNotOptimize(RistrettoPoint::base_mul(k));
  }
}
BENCHMARK(BM_RistrettoBaseMul);

void BM_X25519(benchmark::State& state) {
  const ByteArray<32> priv{1, 2, 3};
  const ByteArray<32> pub = x25519_base(ByteArray<32>{4, 5, 6});
  for (auto _ : state) {
    benchmark::DoNotOptimize(x25519(priv, pub));
  }
}
BENCHMARK(BM_X25519);

}  // namespace
}  // namespace velto::crypto
