// Threshold signing with t signers of an (t, n) key, all parties in one
// process over the in-memory network, on one worker thread: the wall time of
// an iteration is the computation of all t parties together (plus their
// managers), so `per_party` (time / t) is one party's share.
//
// - Presign: joint session tag and one presignature.
// - SignHandler: the whole handler (tag, presignature, signing step).
// - SignStepLocal: the signing step's computation alone, for every party:
//   its partial signature from a presignature, and the combination of all
//   partial signatures with the final recovery check.
//
// `bytes_per_party` is what one party hands to its link (payloads with their
// 32-byte tags), before the transport's encryption. `vs_secp256k1` is the
// time per party over one local libsecp256k1 signature (secp256k1_ecdsa_sign,
// BM_Secp256k1Sign), measured in the same run.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>
#include <secp256k1.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <vector>

#include "velto-ecdsa/sign.hpp"
#include "velto-ecdsa/tests/signing_session.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::ecdsa {
namespace {

namespace asio = boost::asio;
using signing_test::deal_key;
using signing_test::PartyFn;
using signing_test::pid;
using signing_test::run_session;

using PresignRun = std::expected<std::vector<PreSignature>, BoxedError>;

asio::awaitable<PresignRun> tag_and_presign(ProtocolExecutor root, KeyPair key) {
  auto session = co_await generate_uc_tag(std::move(root));
  if (!session) co_return std::unexpected(std::move(session.error()));
  auto pre = co_await ecdsa_presign(*session, key, 1);
  if (!pre) co_return std::unexpected(box_presign_failure(std::move(pre.error())));
  co_return std::move(*pre);
}

std::vector<PartyId> first_ids(std::uint16_t t) {
  std::vector<PartyId> ids;
  for (std::uint16_t i = 1; i <= t; ++i) ids.push_back(pid(i));
  return ids;
}

signing_test::SessionOptions one_thread() {
  signing_test::SessionOptions o;
  o.threads = 1;
  return o;
}

// One local secp256k1_ecdsa_sign, in seconds: the median of several short
// runs, taken once per process.
double secp256k1_sign_seconds() {
  static const double seconds = [] {
    secp256k1_context* ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    unsigned char key[32] = {0x11};
    unsigned char msg[32] = {0x22};
    secp256k1_ecdsa_signature sig;
    std::vector<double> runs;
    for (int r = 0; r < 9; ++r) {
      constexpr int kCalls = 500;
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < kCalls; ++i) {
        msg[0] = static_cast<unsigned char>(i);
        if (secp256k1_ecdsa_sign(ctx, &sig, msg, key, nullptr, nullptr) != 1) return 0.0;
        benchmark::DoNotOptimize(sig);
      }
      runs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kCalls);
    }
    secp256k1_context_destroy(ctx);
    std::nth_element(runs.begin(), runs.begin() + 4, runs.end());
    return runs[4];
  }();
  return seconds;
}

// The anchor.
void BM_Secp256k1Sign(benchmark::State& state) {
  secp256k1_context* ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
  unsigned char key[32] = {0x11};
  unsigned char msg[32] = {0x22};
  secp256k1_ecdsa_signature sig;
  for (auto _ : state) {
    msg[0] += 1;
    if (secp256k1_ecdsa_sign(ctx, &sig, msg, key, nullptr, nullptr) != 1) state.SkipWithError("signing failed");
    benchmark::DoNotOptimize(sig);
  }
  secp256k1_context_destroy(ctx);
}
BENCHMARK(BM_Secp256k1Sign)->Unit(benchmark::kMicrosecond);

// Times the benchmark loop from its construction on; reports the wall time
// per party over one local signature.
class VsSecp256k1 {
 public:
  explicit VsSecp256k1(std::uint16_t t) : t_(t) {
    secp256k1_sign_seconds();
    start_ = std::chrono::steady_clock::now();
  }

  void report(benchmark::State& state) const {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double per_party = elapsed / static_cast<double>(state.iterations() * t_);
    state.counters["vs_secp256k1"] = per_party / secp256k1_sign_seconds();
  }

 private:
  std::uint16_t t_;
  std::chrono::steady_clock::time_point start_;
};

template <class R>
void report(benchmark::State& state, std::uint16_t t, const signing_test::SessionOutcome<R>& last) {
  state.counters["per_party"] = benchmark::Counter(static_cast<double>(state.iterations()) * t,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  const std::size_t total = std::accumulate(last.bytes_sent.begin(), last.bytes_sent.end(), std::size_t{0});
  state.counters["bytes_per_party"] = static_cast<double>(total) / t;
}

void BM_Presign(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  const auto dealt = deal_key(t, n, 1);
  const PartyFn<PresignRun> fn = [&dealt](ProtocolExecutor root, std::size_t i) {
    return tag_and_presign(std::move(root), dealt.shares[i]);
  };
  signing_test::SessionOutcome<PresignRun> last;
  const VsSecp256k1 ratio(t);
  for (auto _ : state) {
    last = run_session(first_ids(t), fn, one_thread());
    for (const auto& p : last.parties) {
      if (!p.result) state.SkipWithError(p.result.error()->display().c_str());
    }
  }
  report(state, t, last);
  ratio.report(state);
}

void BM_SignHandler(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  const auto dealt = deal_key(t, n, 2);
  crypto::ByteArray<32> hash{};
  hash[0] = 0x5a;
  using Out = std::expected<crypto::Bytes, BoxedError>;
  const PartyFn<Out> fn = [&dealt, hash](ProtocolExecutor root, std::size_t i) {
    return ecdsa_sign_handler_latest(std::move(root), dealt.shares[i], hash);
  };
  signing_test::SessionOutcome<Out> last;
  const VsSecp256k1 ratio(t);
  for (auto _ : state) {
    last = run_session(first_ids(t), fn, one_thread());
    for (const auto& p : last.parties) {
      if (!p.result) state.SkipWithError(p.result.error()->display().c_str());
    }
  }
  report(state, t, last);
  ratio.report(state);
}

void BM_SignStepLocal(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  const auto dealt = deal_key(t, n, 3);
  const PartyFn<PresignRun> fn = [&dealt](ProtocolExecutor root, std::size_t i) {
    return tag_and_presign(std::move(root), dealt.shares[i]);
  };
  const auto presigned = run_session(first_ids(t), fn, one_thread());
  std::vector<PreSignature> pre;
  for (const auto& p : presigned.parties) {
    if (!p.result) {
      state.SkipWithError(p.result.error()->display().c_str());
      return;
    }
    pre.push_back(p.result->front());
  }
  crypto::ByteArray<32> hash{};
  hash[0] = 0xa5;
  std::vector<PartialSignature> partials(t);
  const VsSecp256k1 ratio(t);
  for (auto _ : state) {
    for (std::uint16_t i = 0; i < t; ++i) partials[i] = *make_partial_signature(pre[i], dealt.shares[i], hash);
    for (std::uint16_t i = 0; i < t; ++i) {
      // Each party combines with its own partial signature first.
      std::swap(partials[0], partials[i]);
      auto sig = combine_partial_signatures(partials);
      if (!sig) state.SkipWithError("combination failed");
      benchmark::DoNotOptimize(sig);
      std::swap(partials[0], partials[i]);
    }
  }
  state.counters["per_party"] = benchmark::Counter(static_cast<double>(state.iterations()) * t,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["bytes_per_party"] = static_cast<double>((t - 1) * (kPartialSignatureSize + kTagSize));
  ratio.report(state);
}

void shapes(benchmark::internal::Benchmark* b) {
  b->Args({2, 2})->Args({2, 3})->Args({3, 5})->ArgNames({"t", "n"});
}

// Wall time (the base-OT ladders run on a pool of threads beside the one
// worker); the CPU column is the whole process's CPU time per iteration.
BENCHMARK(BM_Presign)->Apply(shapes)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_SignHandler)->Apply(shapes)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_SignStepLocal)->Apply(shapes)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto::ecdsa
