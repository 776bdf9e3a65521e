#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "crypto/secp256k1.hpp"

namespace velto::crypto {
namespace {

struct BenchRng {
  std::mt19937_64 rng{42};
  void fill_bytes(MutByteSpan out) {
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  }
};

Scalar random_scalar() {
  static BenchRng g;
  return Scalar::random(g);
}

void BM_ScalarAdd(benchmark::State& state) {
  Scalar a = random_scalar();
  const Scalar b = random_scalar();
  for (auto _ : state) {
    a = a + b;
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_ScalarAdd);

void BM_ScalarMul(benchmark::State& state) {
  Scalar a = random_scalar();
  const Scalar b = random_scalar();
  for (auto _ : state) {
    a = a * b;
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_ScalarMul);

void BM_ScalarInvert(benchmark::State& state) {
  Scalar a = random_scalar();
  for (auto _ : state) {
    a = a.invert();
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_ScalarInvert);

void BM_ScalarInvertVartime(benchmark::State& state) {
  Scalar a = random_scalar();
  for (auto _ : state) {
    a = a.invert_vartime();
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_ScalarInvertVartime);

void BM_ScalarFromBytesWide(benchmark::State& state) {
  ByteArray<64> w;
  BenchRng g;
  g.fill_bytes(w);
  for (auto _ : state) {
    benchmark::DoNotOptimize(w);
    Scalar s = Scalar::from_bytes_wide(w);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_ScalarFromBytesWide);

void BM_PointBaseMul(benchmark::State& state) {
  const Scalar k = random_scalar();
  for (auto _ : state) {
    Point p = Point::base_mul(k);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_PointBaseMul);

void BM_PointMul(benchmark::State& state) {
  const Point p = Point::base_mul(random_scalar());
  const Scalar k = random_scalar();
  for (auto _ : state) {
    Point r = p * k;
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_PointMul);

void BM_PointAdd(benchmark::State& state) {
  const Point p = Point::base_mul(random_scalar());
  const Point q = Point::base_mul(random_scalar());
  for (auto _ : state) {
    Point r = p + q;
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_PointAdd);

void BM_PointMultiMul(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<Scalar> ks;
  std::vector<Point> ps;
  for (std::size_t i = 0; i < n; ++i) {
    ks.push_back(random_scalar());
    ps.push_back(Point::base_mul(random_scalar()));
  }
  for (auto _ : state) {
    Point r = Point::multi_mul(ks, ps);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_PointMultiMul)->Arg(8)->Arg(64);

void BM_PointFromCompressed(benchmark::State& state) {
  const ByteArray<33> c = Point::base_mul(random_scalar()).to_compressed();
  for (auto _ : state) {
    auto p = Point::from_compressed(c);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_PointFromCompressed);

void BM_PointToCompressed(benchmark::State& state) {
  const Point p = Point::base_mul(random_scalar());
  for (auto _ : state) {
    auto c = p.to_compressed();
    benchmark::DoNotOptimize(c);
  }
}
BENCHMARK(BM_PointToCompressed);

}  // namespace
}  // namespace velto::crypto
