// One batch of 128 base OTs, per side: everything a side computes, from its
// random draws to its keys (the messages are exchanged in memory).
#include <benchmark/benchmark.h>

#include "crypto/chacha.hpp"
#include "velto-ot/base_ot.hpp"
#include "velto-ot/montgomery.hpp"

namespace velto::ot {
namespace {

const UcTag kTag(crypto::ByteArray<32>{0xB7});

// The peer's message, prepared once.
struct Peers {
  BaseOtSender sender;
  BaseOtReceiver receiver;
};

Peers make_peers() {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{1});
  BaseOtSender s = BaseOtSender::random(rng);
  BaseOtReceiver r = BaseOtReceiver::random(kTag, rng);
  return Peers{std::move(s), std::move(r)};
}

// Draw a, compute A_c and A_t, then both keys of 128 OTs (2 + 256 ladders).
void BM_BaseOtSenderBatch(benchmark::State& state) {
  const Peers peers = make_peers();
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{2});
  for (auto _ : state) {
    const BaseOtSender sender = BaseOtSender::random(rng);
    auto out = sender.derive_keys(kTag, peers.receiver.values());
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_BaseOtSenderBatch)->Unit(benchmark::kMillisecond);

// Draw 128 secrets and choice bits, build the message, then the 128 keys
// (256 ladders).
void BM_BaseOtReceiverBatch(benchmark::State& state) {
  const Peers peers = make_peers();
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{3});
  for (auto _ : state) {
    const BaseOtReceiver receiver = BaseOtReceiver::random(kTag, rng);
    auto out = receiver.derive_keys(peers.sender.message());
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_BaseOtReceiverBatch)->Unit(benchmark::kMillisecond);

void BM_MollerLadder(benchmark::State& state) {
  crypto::ByteArray<32> u = kTwistBasePoint;
  crypto::ByteArray<32> k;
  k.fill(0x5C);
  for (auto _ : state) {
    u = moller_ladder(u, k);
    benchmark::DoNotOptimize(u);
  }
}
BENCHMARK(BM_MollerLadder)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velto::ot
