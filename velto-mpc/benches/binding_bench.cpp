// Cost of the binding's own work around a library call: the asynchronous call
// pattern with a callback that answers at once, and decoding a signature.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <string>

#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/ffi/mod.hpp"

namespace {

using namespace velto;

boost::asio::awaitable<std::size_t> calls(std::size_t n, const std::string& out) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    auto call = [&](SingleCallback cb, void* ctx) {
      cb(ctx, mpc::const_str(out), ResultFFI{{nullptr, 0}, 0});
      return ResultFFI{{nullptr, 0}, 0};
    };
    auto r = co_await mpc::async_ffi_single(call);
    total += r->size();
  }
  co_return total;
}

void BM_AsyncCallPattern(benchmark::State& state) {
  async::Runtime rt(1);
  const std::string out(274, 'a');
  constexpr std::size_t kBatch = 1000;
  for (auto _ : state) benchmark::DoNotOptimize(rt.block_on(calls(kBatch, out)));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
}
BENCHMARK(BM_AsyncCallPattern);

void BM_ParseSignature(benchmark::State& state) {
  const std::string text(274, 'b');
  for (auto _ : state) benchmark::DoNotOptimize(mpc::EcdsaSignature::parse_ffi(text));
}
BENCHMARK(BM_ParseSignature);

}  // namespace
