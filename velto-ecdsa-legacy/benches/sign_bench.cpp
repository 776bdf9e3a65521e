// Version 1.1.0 signing, beside velto-ecdsa's BM_SignHandler (the current
// protocol): the pairwise set-up of one pair, the preprocessing of one pair
// (the computation of both sides, no network), and whole signings of n
// parties in one process over the in-memory network on one worker thread.
// "bytes_per_pair" is everything sent divided by the n(n − 1)/2 pairs (the
// broadcast commitments and shares included; the pairwise messages make up
// almost all of it).
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

#include "sised/sised.hpp"
#include "velto-ecdsa-legacy/sign/mul_setup.hpp"
#include "velto-ecdsa-legacy/sign/sign.hpp"
#include "velto-ecdsa-legacy/sign/two_party_mul.hpp"
#include "velto-ecdsa/tests/signing_session.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ote/cote.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using crypto::Scalar;
using ecdsa::signing_test::PartyFn;
using ecdsa::signing_test::run_session;
using velto::testing::ids_1_to;

ecdsa::signing_test::SessionOptions one_thread() {
  ecdsa::signing_test::SessionOptions o;
  o.threads = 1;
  return o;
}

template <class R>
void report_bytes(benchmark::State& state, std::uint16_t n, const ecdsa::signing_test::SessionOutcome<R>& last) {
  const std::size_t total = std::accumulate(last.bytes_sent.begin(), last.bytes_sent.end(), std::size_t{0});
  const std::size_t pairs = std::max<std::size_t>(1, std::size_t{n} * (n - 1) / 2);
  state.counters["bytes_per_pair"] = static_cast<double>(total) / static_cast<double>(pairs);
}

asio::awaitable<bool> setup_party(ProtocolExecutor root) {
  auto setups = co_await ecdsa::legacy::two_party_mul_setups(root);
  co_return setups.has_value();
}

void BM_SetupPairV4(benchmark::State& state) {
  const PartyFn<bool> fn = [](ProtocolExecutor root, std::size_t) { return setup_party(std::move(root)); };
  ecdsa::signing_test::SessionOutcome<bool> last;
  for (auto _ : state) {
    last = run_session(ids_1_to(2), fn, one_thread());
    for (const auto& p : last.parties) {
      if (!p.result) state.SkipWithError("set-up failed");
    }
  }
  report_bytes(state, 2, last);
}

// Trees from made-up base-OT keys (the preprocessing does not care where
// they came from).
struct Trees {
  ote::FullPprfTrees full;
  ote::PuncturedPprfTrees punctured;
};

Trees make_trees() {
  crypto::Bytes sender(128 * ote::kBaseOtSenderRecordSize);
  crypto::Bytes receiver(128 * ote::kBaseOtReceiverRecordSize);
  for (std::size_t i = 0; i < 128; ++i) {
    const std::uint8_t c = static_cast<std::uint8_t>((i * 7 + 3) % 5 % 2);
    for (std::size_t b = 0; b < 32; ++b) {
      sender[64 * i + b] = static_cast<std::uint8_t>(i * 3 + b);
      sender[64 * i + 32 + b] = static_cast<std::uint8_t>(i * 5 + b + 1);
      receiver[33 * i + b] = sender[64 * i + 32 * c + b];
    }
    receiver[33 * i + 32] = c;
  }
  const crypto::ByteArray<32> digest{7};
  ote::FullPprfSetup full = ote::build_full_pprf_trees(sender, digest);
  ote::PuncturedPprfTrees punctured = ote::build_punctured_pprf_trees(receiver, digest, full.message);
  return Trees{std::move(full.trees), std::move(punctured)};
}

void BM_PreprocessPairV4(benchmark::State& state) {
  const Trees trees = make_trees();
  const crypto::ByteArray<32> tag{1};
  const std::vector<Scalar> pads = {Scalar::from_u64(3), Scalar::from_u64(5), Scalar::from_u64(7), Scalar::from_u64(11)};
  const std::vector<Scalar> checks = {Scalar::from_u64(13), Scalar::from_u64(17), Scalar::from_u64(19),
                                      Scalar::from_u64(23)};
  for (auto _ : state) {
    Transcript ta;
    Transcript tb;
    ote::CoteReceiver receiver(trees.full, tag, ecdsa::legacy::kMulOtCount, tb);
    ote::CoteSender sender(trees.punctured, tag, ecdsa::legacy::kMulOtCount, ta);
    if (!sender.receive_corrections(receiver.correction_message(), ta)) state.SkipWithError("corrections");
    const auto seeds = sender.challenge_seeds(crypto::ByteArray<32>{2}, crypto::ByteArray<32>{3}, ta);
    const auto response = receiver.receive_seeds(seeds, tb);
    auto keys = sender.receive_response(*response, ta);
    if (!keys) state.SkipWithError("response");
    const ote::CoteReceiverOutput bob_keys = receiver.take_output();
    const auto alice = ecdsa::legacy::alice_correlation(keys->digests0, keys->digests1, pads, checks);
    ta.append(alice.message);
    tb.append(alice.message);
    const auto sigma = ta.finalize();
    const auto bob = ecdsa::legacy::bob_correlation(bob_keys.digests, bob_keys.choices, alice.message);
    const auto check = ecdsa::legacy::alice_mul_check(sigma, alice, pads, checks);
    if (!ecdsa::legacy::bob_mul_check(tb.finalize(), check, bob_keys.choices, *bob, ecdsa::legacy::kMulBatch)) {
      state.SkipWithError("check");
    }
    benchmark::DoNotOptimize(ecdsa::legacy::bob_pads(bob_keys.choices, ecdsa::legacy::kMulBatch));
  }
}

void BM_SignV4(benchmark::State& state) {
  const auto n = static_cast<std::uint16_t>(state.range(0));
  const auto dealt = ecdsa::signing_test::deal_key(n == 1 ? 1 : 2, n, 3);
  crypto::ByteArray<32> hash{};
  hash[0] = 0x5a;
  using Out = std::expected<crypto::Bytes, BoxedError>;
  const PartyFn<Out> fn = [&dealt, hash](ProtocolExecutor root, std::size_t i) {
    return ecdsa::legacy::ecdsa_sign_v4(std::move(root), dealt.shares[i], hash);
  };
  ecdsa::signing_test::SessionOutcome<Out> last;
  for (auto _ : state) {
    last = run_session(ids_1_to(n), fn, one_thread());
    for (const auto& p : last.parties) {
      if (!p.result) state.SkipWithError(p.result.error()->display().c_str());
    }
  }
  report_bytes(state, n, last);
}

BENCHMARK(BM_SetupPairV4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PreprocessPairV4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SignV4)->ArgName("n")->Arg(2)->Arg(3)->Arg(5)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
