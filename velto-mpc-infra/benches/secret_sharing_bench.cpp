// Joint verifiable secret sharing among n parties in one process over the
// in-memory network, and its two costly pieces on their own: evaluating a
// commitment list at a party id (each receiver does it once per dealer) and
// the commitment digest.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "crypto/chacha.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/secret_sharing_secp256k1.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using crypto::Point;
using crypto::Scalar;

crypto::ChaCha8Rng bench_rng() { return crypto::ChaCha8Rng(crypto::ByteArray<32>{}); }

asio::awaitable<void> party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, Scalar secret,
                            std::uint16_t threshold, std::optional<Point> expected) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  auto shared = co_await joint_vss_secp256k1(std::move(*root), secret, threshold, expected);
  if (!shared) throw std::runtime_error(shared.error().display());
  auto done = co_await manager.join();
  if (!done || !*done) throw std::runtime_error("manager failed");
}

void BM_JointVss(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  const auto t = static_cast<std::uint16_t>(state.range(1));
  async::Runtime rt;
  std::vector<PartyId> ids;
  std::vector<Scalar> secrets;
  auto rng = bench_rng();
  Scalar sum;
  for (std::uint16_t i = 1; i <= n; ++i) {
    ids.push_back(PartyId::unchecked(i));
    secrets.push_back(Scalar::random(rng));
    sum += secrets.back();
  }
  const Point expected = Point::base_mul(sum);
  for (auto _ : state) {
    auto network = InMemoryNetwork::create(ids);
    std::vector<async::JoinHandle<void>> handles;
    for (std::size_t i = 0; i < ids.size(); ++i)
      handles.push_back(
          async::spawn_task(rt.executor(), party(network->link(ids[i]), ids, secrets[i], t, expected)));
    rt.block_on([](std::vector<async::JoinHandle<void>> hs) -> asio::awaitable<void> {
      for (auto& h : hs) {
        auto r = co_await h.join();
        if (!r) throw std::runtime_error(r.error().display());
      }
    }(std::move(handles)));
  }
}

BENCHMARK(BM_JointVss)
    ->ArgNames({"parties", "threshold"})
    ->Args({3, 2})
    ->Args({5, 3})
    ->Args({16, 11})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_EvaluateCommitments(benchmark::State& state) {
  auto rng = bench_rng();
  std::vector<Point> commitments;
  for (std::int64_t j = 0; j < state.range(0); ++j) commitments.push_back(Point::base_mul(Scalar::random(rng)));
  const Scalar x = Scalar::from_u64(7);
  for (auto _ : state) benchmark::DoNotOptimize(evaluate_commitments(commitments, x));
}
BENCHMARK(BM_EvaluateCommitments)->ArgName("points")->Arg(2)->Arg(11)->Unit(benchmark::kMicrosecond);

void BM_CommitHash(benchmark::State& state) {
  std::vector<PartyId> ids;
  for (std::int64_t i = 1; i <= state.range(0); ++i) ids.push_back(PartyId::unchecked(static_cast<std::uint16_t>(i)));
  const std::vector<Point> value{Point::generator()};
  for (auto _ : state) benchmark::DoNotOptimize(commit_hash(root_uc_tag(), ids[0], ids, value));
}
BENCHMARK(BM_CommitHash)->ArgName("parties")->Arg(3)->Arg(64);

}  // namespace
