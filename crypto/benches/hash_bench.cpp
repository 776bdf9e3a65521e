#include <benchmark/benchmark.h>

#include "crypto/blake3.hpp"
#include "crypto/hash.hpp"
#include "crypto/keccak.hpp"

namespace velto::crypto {
namespace {

Bytes input(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return b;
}

constexpr std::string_view kContext = "VELTO benchmark context V0";

void BM_Blake3DeriveKey64(benchmark::State& state) {
  const Bytes in = input(64);
  for (auto _ : state) {
    benchmark::DoNotOptimize(blake3_derive_key(kContext, in));
  }
}
BENCHMARK(BM_Blake3DeriveKey64);

// The same hash from a hasher that has already absorbed the context.
void BM_Blake3DeriveKey64FromPreparedCopy(benchmark::State& state) {
  const Bytes in = input(64);
  const Blake3 prepared = Blake3::derive_key(kContext);
  for (auto _ : state) {
    Blake3 h = prepared;
    benchmark::DoNotOptimize(h.update(in).finalize());
  }
}
BENCHMARK(BM_Blake3DeriveKey64FromPreparedCopy);

// An OT generator: derive-key over a 64-byte seed, then its output read in
// 1,024-byte pieces.
void BM_Blake3XofRead(benchmark::State& state) {
  const auto total = static_cast<std::size_t>(state.range(0));
  Blake3 h = Blake3::derive_key(kContext);
  h.update(input(64));
  Bytes out(1024);
  for (auto _ : state) {
    Blake3Reader r = h.finalize_xof();
    for (std::size_t done = 0; done < total; done += out.size()) r.fill(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
BENCHMARK(BM_Blake3XofRead)->Arg(1024)->Arg(64 * 1024);

void BM_Blake3KeyedSingleBlock(benchmark::State& state) {
  const ByteArray<32> key{};
  const Bytes row = input(16);
  std::uint64_t counter = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(blake3_keyed_single_block(key, row, counter++ / 1024));
  }
}
BENCHMARK(BM_Blake3KeyedSingleBlock);

void BM_KeccakF1600(benchmark::State& state) {
  KeccakState s{};
  for (auto _ : state) {
    keccak_f1600(s);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_KeccakF1600);

// A ciphersuite hash: copy the state that holds the prefix, absorb 64 bytes,
// finish.
void BM_Sha512Of64FromClonedPrefix(benchmark::State& state) {
  Sha512 prepared;
  prepared.update(input(28));
  const Bytes in = input(64);
  for (auto _ : state) {
    Sha512 h = prepared;
    benchmark::DoNotOptimize(h.update(in).finalize());
  }
}
BENCHMARK(BM_Sha512Of64FromClonedPrefix);

}  // namespace
}  // namespace velto::crypto
