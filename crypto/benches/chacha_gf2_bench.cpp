#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "crypto/gf2.hpp"

namespace velto::crypto {
namespace {

ByteArray<32> bench_key() {
  ByteArray<32> k{};
  for (std::size_t i = 0; i < k.size(); ++i) k[i] = static_cast<std::uint8_t>(i * 29 + 7);
  return k;
}

// ------------------------------------------------------------ ChaCha

void BM_ChaCha8RngFillBytes(benchmark::State& state) {
  ChaCha8Rng rng(bench_key());
  Bytes out(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    rng.fill_bytes(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ChaCha8RngFillBytes)->Arg(32)->Arg(64 * 1024);

void BM_ChaCha8RngNextU64(benchmark::State& state) {
  ChaCha8Rng rng(bench_key());
  for (auto _ : state) benchmark::DoNotOptimize(rng.next_u64());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8);
}
BENCHMARK(BM_ChaCha8RngNextU64);

// One call of a multi-block kernel; argument = double rounds.
using BlocksFn = void (*)(const std::array<std::uint32_t, 16>&, int, bool, std::uint8_t*) noexcept;

template <BlocksFn Kernel, int Blocks, bool NeedsAvx2>
void BM_ChaChaBlocks(benchmark::State& state) {
  if (NeedsAvx2 && !chacha_detail::cpu_has_avx2()) {
    state.SkipWithError("CPU without AVX2");
    return;
  }
  std::array<std::uint32_t, 16> in{};
  for (std::size_t i = 0; i < 16; ++i) in[i] = static_cast<std::uint32_t>(i * 0x9e3779b9u);
  alignas(32) std::uint8_t out[64 * Blocks];
  const int double_rounds = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Kernel(in, double_rounds, true, out);
    in[12] += Blocks;
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 64 * Blocks);
}
BENCHMARK_TEMPLATE(BM_ChaChaBlocks, &chacha_detail::blocks4_portable, 4, false)
    ->Name("BM_ChaChaBlocks/portable_x4")->Arg(4)->Arg(10);
BENCHMARK_TEMPLATE(BM_ChaChaBlocks, &chacha_detail::blocks4_avx2, 4, true)
    ->Name("BM_ChaChaBlocks/avx2_x4")->Arg(4)->Arg(10);
BENCHMARK_TEMPLATE(BM_ChaChaBlocks, &chacha_detail::blocks8_avx2, 8, true)
    ->Name("BM_ChaChaBlocks/avx2_x8")->Arg(4)->Arg(10);

void BM_ChaCha20Xor(benchmark::State& state) {
  const ByteArray<32> key = bench_key();
  const ByteArray<12> nonce{};
  Bytes data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    chacha20_xor(key, nonce, 0, data);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ChaCha20Xor)->Arg(32)->Arg(64 * 1024);

// ------------------------------------------------------------ GF(2^k)

std::vector<Gf128> gf_values(std::size_t n, std::uint64_t seed) {
  std::vector<Gf128> v(n);
  for (auto& x : v) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    x.lo = seed;
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    x.hi = seed;
  }
  return v;
}

template <Gf128 (*Mul)(Gf128, Gf128) noexcept>
void BM_Gf128Mul(benchmark::State& state) {
  if (Mul == &gf2_detail::gf128_mul_clmul && !gf2_detail::cpu_has_clmul()) {
    state.SkipWithError("CPU without PCLMULQDQ");
    return;
  }
  Gf128 acc = gf_values(1, 1)[0];
  const Gf128 b = gf_values(1, 2)[0];
  for (auto _ : state) {
    acc = Mul(acc, b);  // dependent chain: latency of one product
    benchmark::DoNotOptimize(acc);
  }
}
BENCHMARK_TEMPLATE(BM_Gf128Mul, &gf2_detail::gf128_mul_portable)->Name("BM_Gf128Mul/portable");
BENCHMARK_TEMPLATE(BM_Gf128Mul, &gf2_detail::gf128_mul_clmul)->Name("BM_Gf128Mul/pclmulqdq");
BENCHMARK_TEMPLATE(BM_Gf128Mul, &gf128_mul)->Name("BM_Gf128Mul/dispatch");

template <bool Clmul>
void BM_Gf128InnerProduct1024(benchmark::State& state) {
  if (Clmul && !gf2_detail::cpu_has_clmul()) {
    state.SkipWithError("CPU without PCLMULQDQ");
    return;
  }
  const auto a = gf_values(1024, 3);
  const auto b = gf_values(1024, 4);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Clmul ? gf2_detail::gf128_inner_product_clmul(a, b)
                                   : gf2_detail::gf128_inner_product_portable(a, b));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK_TEMPLATE(BM_Gf128InnerProduct1024, false)->Name("BM_Gf128InnerProduct1024/portable");
BENCHMARK_TEMPLATE(BM_Gf128InnerProduct1024, true)->Name("BM_Gf128InnerProduct1024/pclmulqdq");

void BM_Gf64Mul(benchmark::State& state) {
  std::uint64_t acc = 0x0123456789abcdefull;
  for (auto _ : state) {
    acc = gf64_mul(acc, 0xfedcba9876543210ull);
    benchmark::DoNotOptimize(acc);
  }
}
BENCHMARK(BM_Gf64Mul);

// ------------------------------------------------------------ Base58

void BM_Base58Encode32(benchmark::State& state) {
  const ByteArray<32> key = bench_key();
  for (auto _ : state) benchmark::DoNotOptimize(base58_encode(key));
}
BENCHMARK(BM_Base58Encode32);

void BM_Base58Decode32(benchmark::State& state) {
  const std::string text = base58_encode(bench_key());
  ByteArray<32> out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(base58_decode_into(text, out));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Base58Decode32);

}  // namespace
}  // namespace velto::crypto
