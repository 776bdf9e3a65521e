// The library-level functions of the function interface: the two digests,
// key-pair creation, keygen-id decoding, and the round trip of an operation
// task (spawn to callback) on the library runtime.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/bindings/velto.h"

namespace {

using velto::executor::ffi::OperationResult;

void BM_Sha256(benchmark::State& state) {
  const std::vector<std::uint8_t> input(static_cast<std::size_t>(state.range(0)), 0x61);
  std::array<std::uint8_t, 32> out{};
  for (auto _ : state) {
    velto_sha256(input.data(), input.size(), out.data());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha256)->Arg(32)->Arg(1024);

void BM_Keccak256(benchmark::State& state) {
  const std::vector<std::uint8_t> input(static_cast<std::size_t>(state.range(0)), 0x61);
  std::array<std::uint8_t, 32> out{};
  for (auto _ : state) {
    velto_keccak256(input.data(), input.size(), out.data());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Keccak256)->Arg(32)->Arg(1024);

void BM_InitKeygen(benchmark::State& state) {
  for (auto _ : state) {
    HeapString id{nullptr, 0}, secret{nullptr, 0};
    const ResultFFI r = velto_init_keygen(&id, &secret);
    benchmark::DoNotOptimize(r.code);
    velto_dealloc_heap_string(id.ptr, id.len);
    velto_dealloc_heap_string(secret.ptr, secret.len);
  }
}
BENCHMARK(BM_InitKeygen);

void BM_ParseKeygenId(benchmark::State& state) {
  std::array<std::uint8_t, 32> key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 13 + 7);
  const std::string text = velto::crypto::base58_encode(key);
  for (auto _ : state) benchmark::DoNotOptimize(velto::executor::parse_keygen_id(text));
}
BENCHMARK(BM_ParseKeygenId);

// Spawn an operation whose body finishes at once and wait for its callback.
void BM_OperationRoundTrip(benchmark::State& state) {
  std::atomic<int> done{0};
  const SingleCallback cb = [](void* ctx, ConstStr, ResultFFI) {
    static_cast<std::atomic<int>*>(ctx)->fetch_add(1, std::memory_order_release);
  };
  for (auto _ : state) {
    const int before = done.load(std::memory_order_acquire);
    auto body = []() -> boost::asio::awaitable<OperationResult<std::string>> { co_return std::string("ok"); };
    const ResultFFI r = velto::executor::ffi::spawn_operation(cb, &done, std::move(body));
    benchmark::DoNotOptimize(r.code);
    while (done.load(std::memory_order_acquire) == before) {
    }
  }
}
BENCHMARK(BM_OperationRoundTrip)->UseRealTime();

}  // namespace
