// The PPRF set-up and the two OT extensions, one side at a time, without
// the network: every iteration recomputes that side's work from the same
// inputs (the other side's messages computed once beforehand).
#include <benchmark/benchmark.h>

#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/secret.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ote/cote.hpp"
#include "velto-ote/pprf.hpp"
#include "velto-ote/rote.hpp"

namespace velto::ote {
namespace {

struct Batch {
  crypto::SecretBytes sender{64 * kBaseOtCount};
  crypto::SecretBytes receiver{33 * kBaseOtCount};
  crypto::ByteArray<32> key{};
};

Batch make_batch() {
  crypto::ChaCha20Rng rng(crypto::ByteArray<32>{42});
  Batch b;
  rng.fill_bytes(b.sender.mut_span());
  for (std::size_t i = 0; i < kBaseOtCount; ++i) {
    const std::uint8_t c = static_cast<std::uint8_t>(rng.next_u32() >> 31);
    std::copy_n(b.sender.data() + 64 * i + 32 * c, 32, b.receiver.data() + 33 * i);
    b.receiver.data()[33 * i + 32] = c;
  }
  rng.fill_bytes(b.key);
  return b;
}

struct Pair {
  FullPprfTrees full;
  PprfSetupMessage message;
  PuncturedPprfTrees punctured;
};

Pair make_pair(const Batch& b) {
  FullPprfSetup s = build_full_pprf_trees(b.sender.span(), b.key);
  PuncturedPprfTrees p = build_punctured_pprf_trees(b.receiver.span(), b.key, s.message);
  return Pair{std::move(s.trees), std::move(s.message), std::move(p)};
}

void BM_PprfFullTrees(benchmark::State& state) {
  const Batch b = make_batch();
  for (auto _ : state) benchmark::DoNotOptimize(build_full_pprf_trees(b.sender.span(), b.key));
}
BENCHMARK(BM_PprfFullTrees)->Unit(benchmark::kMicrosecond);

void BM_PprfPuncturedTrees(benchmark::State& state) {
  const Batch b = make_batch();
  const Pair p = make_pair(b);
  for (auto _ : state) benchmark::DoNotOptimize(build_punctured_pprf_trees(b.receiver.span(), b.key, p.message));
}
BENCHMARK(BM_PprfPuncturedTrees)->Unit(benchmark::kMicrosecond);

const crypto::ByteArray<32> kTag{7};

// Random OT extension of `range(0)` OTs: the receiver's whole run.
void BM_RoteReceiver(benchmark::State& state) {
  const Pair p = make_pair(make_batch());
  const auto n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(rote_receiver_run(p.full, kTag, n));
}
BENCHMARK(BM_RoteReceiver)->Arg(512)->Unit(benchmark::kMicrosecond);

// The sender's whole run from the receiver's two messages.
void BM_RoteSender(benchmark::State& state) {
  const Pair p = make_pair(make_batch());
  const auto n = static_cast<std::size_t>(state.range(0));
  const RoteReceiverRun run = rote_receiver_run(p.full, kTag, n);
  for (auto _ : state) {
    RoteSender sender(p.punctured, kTag, n);
    if (!sender.receive_corrections(run.correction_message)) state.SkipWithError("corrections refused");
    auto out = sender.receive_check(run.check_message);
    if (!out) state.SkipWithError("check refused");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_RoteSender)->Arg(512)->Unit(benchmark::kMicrosecond);

// Correlated OT extension of `range(0)` OTs (1,664 in the older engine's
// signing), the receiver's whole run.
void BM_CoteReceiver(benchmark::State& state) {
  const Pair p = make_pair(make_batch());
  const auto n = static_cast<std::size_t>(state.range(0));
  const crypto::ByteArray<32> tau1{1};
  const crypto::ByteArray<32> tau2{2};
  Transcript st;
  CoteSender sender(p.punctured, kTag, n, st);
  Transcript rt0;
  CoteReceiver first(p.full, kTag, n, rt0);
  (void)sender.receive_corrections(first.correction_message(), st);
  const auto seeds = sender.challenge_seeds(tau1, tau2, st);
  for (auto _ : state) {
    Transcript rt;
    CoteReceiver receiver(p.full, kTag, n, rt);
    auto response = receiver.receive_seeds(seeds, rt);
    benchmark::DoNotOptimize(response);
    benchmark::DoNotOptimize(receiver.take_output());
  }
}
BENCHMARK(BM_CoteReceiver)->Arg(1664)->Unit(benchmark::kMicrosecond);

void BM_CoteSender(benchmark::State& state) {
  const Pair p = make_pair(make_batch());
  const auto n = static_cast<std::size_t>(state.range(0));
  const crypto::ByteArray<32> tau1{1};
  const crypto::ByteArray<32> tau2{2};
  Transcript rt;
  CoteReceiver receiver(p.full, kTag, n, rt);
  const crypto::ByteArray<64> seeds = [&] {
    crypto::ByteArray<64> s;
    std::copy(tau2.begin(), tau2.end(), s.begin());
    std::copy(tau1.begin(), tau1.end(), s.begin() + 32);
    return s;
  }();
  const auto response = *receiver.receive_seeds(seeds, rt);
  for (auto _ : state) {
    Transcript st;
    CoteSender sender(p.punctured, kTag, n, st);
    (void)sender.receive_corrections(receiver.correction_message(), st);
    (void)sender.challenge_seeds(tau1, tau2, st);
    auto out = sender.receive_response(response, st);
    if (!out) state.SkipWithError("response refused");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_CoteSender)->Arg(1664)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto::ote
