// Wall-clock time of one whole ECDSA or Ed25519 operation through the function
// interface: (2, 3) key generation and 2-of-3 signing, every party a set of
// calls in this process, meeting in a new room of the local relay on loopback
// (TLS, websockets, Noise channels, version agreement and protocol included;
// the room creation of each run too). Beside them, for scale, the FROST
// signing protocol alone among 2 parties in process (no relay, no channels),
// per party, and one plain libsodium Ed25519 signature. The ECDSA rows also
// carry "x_secp256k1_sign": their wall time over one libsecp256k1 signature
// timed in the same run.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>
#include <sodium.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "velto-ecdsa/benches/secp256k1_anchor.hpp"
#include "velto-frost-ed25519/tests/frost_test_util.hpp"

namespace {

using velto::executor::testing::CallbackRecorder;
using velto::executor::testing::Completion;
using velto::executor::testing::cstr;
using velto::executor::testing::LocalRelay;
using velto::executor::testing::take;
using velto::executor::testing::Identity;
using velto::executor::testing::new_identity;

// The key generation and signing functions of a scheme (both families take
// the same arguments).
using KeygenFn = ResultFFI (*)(uint16_t, uint16_t, ConstStr, ConstStr, ConstStr, ConstStrArray, DoubleCallback, void*);
using SignFn = ResultFFI (*)(ConstStr, ConstStr, ConstStr, ConstStr, U32Array, SingleCallback, void*);
struct Scheme {
  KeygenFn keygen;
  SignFn sign;
  const char* message;  // the hash (ECDSA) or message (Ed25519) in hex
};
const Scheme kEcdsa{&velto_ecdsa_keygen, &velto_ecdsa_sign,
                    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"};
const Scheme kEd25519{&velto_ed25519_keygen, &velto_ed25519_sign,
                      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"};

// One (2, 3) key generation; every party's completion.
std::vector<Completion> keygen_2_of_3(const Scheme& scheme, LocalRelay& relay, const std::vector<Identity>& ids) {
  const std::string room = relay.new_room(3);
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::vector<ConstStr> others;
    for (std::size_t j = 0; j < ids.size(); ++j)
      if (j != i) others.push_back(cstr(ids[j].id));
    recs.push_back(std::make_unique<CallbackRecorder>());
    (void)take(scheme.keygen(3, 2, cstr(ids[i].secret), cstr(room), cstr(relay.host()),
                                  ConstStrArray{others.data(), others.size()}, &CallbackRecorder::double_cb,
                                  recs.back().get()));
  }
  std::vector<Completion> out;
  for (auto& r : recs) out.push_back(r->wait_for(1).at(0));
  return out;
}

bool all_succeeded(const std::vector<Completion>& done) {
  for (const auto& c : done)
    if (c.result.code != 0) return false;
  return true;
}

void BM_Keygen2of3(benchmark::State& state, const Scheme& scheme) {
  LocalRelay relay;
  const std::vector<Identity> ids = {new_identity(), new_identity(), new_identity()};
  (void)velto::bench::secp256k1_sign_seconds();
  const velto::bench::LoopClock clock;
  for (auto _ : state) {
    const auto done = keygen_2_of_3(scheme, relay, ids);
    if (!all_succeeded(done)) {
      state.SkipWithError(done[0].result.message.c_str());
      break;
    }
  }
  velto::bench::report_against_secp256k1_sign(state, "x_secp256k1_sign", clock.seconds_per_iteration(state));
}
BENCHMARK_CAPTURE(BM_Keygen2of3, ecdsa, kEcdsa)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Keygen2of3, ed25519, kEd25519)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sign2of3(benchmark::State& state, const Scheme& scheme) {
  LocalRelay relay;
  const std::vector<Identity> ids = {new_identity(), new_identity(), new_identity()};
  const auto key = keygen_2_of_3(scheme, relay, ids);
  if (!all_succeeded(key)) {
    state.SkipWithError("key generation failed");
    return;
  }
  const std::string message = scheme.message;
  (void)velto::bench::secp256k1_sign_seconds();
  const velto::bench::LoopClock clock;
  for (auto _ : state) {
    const std::string room = relay.new_room(2);
    std::vector<std::unique_ptr<CallbackRecorder>> recs;
    for (std::size_t i = 0; i < 2; ++i) {
      recs.push_back(std::make_unique<CallbackRecorder>());
      (void)take(scheme.sign(cstr(*key[i].second), cstr(message), cstr(room), cstr(relay.host()),
                                  U32Array{nullptr, 0}, &CallbackRecorder::single_cb, recs.back().get()));
    }
    bool failed = false;
    for (auto& r : recs) {
      const auto c = r->wait_for(1).at(0);
      if (c.result.code != 0 && !failed) {
        state.SkipWithError(c.result.message.c_str());
        failed = true;
      }
    }
    if (failed) break;
  }
  velto::bench::report_against_secp256k1_sign(state, "x_secp256k1_sign", clock.seconds_per_iteration(state));
}
BENCHMARK_CAPTURE(BM_Sign2of3, ecdsa, kEcdsa)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Sign2of3, ed25519, kEd25519)->Unit(benchmark::kMillisecond)->UseRealTime();

// The FROST signing protocol alone: 2 of 3 holders in process over the
// in-memory network; "per_party" is the time of one party's share of a run.
void BM_FrostSignInProcess2of3(benchmark::State& state) {
  namespace ft = velto::frost::testing;
  velto::async::Runtime rt(1);
  const std::vector<velto::frost::FrostKeyShare> shares = ft::keygen_ok(rt, ft::ids_1_to(3), 2);
  if (shares.size() != 3) {
    state.SkipWithError("key generation failed");
    return;
  }
  const std::vector<velto::frost::FrostKeyShare> signers = {shares[0], shares[2]};
  const velto::crypto::Bytes message(32, 0xaa);
  for (auto _ : state) {
    auto results = ft::run_sign(rt, signers, message);
    if (!results.at(0)) {
      state.SkipWithError(results[0].error().display().c_str());
      break;
    }
    benchmark::DoNotOptimize(results);
  }
  state.counters["per_party"] =
      benchmark::Counter(2, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FrostSignInProcess2of3)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One ordinary Ed25519 signature of a 32-byte message (libsodium).
void BM_SodiumEd25519Sign(benchmark::State& state) {
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> pk{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> sk{};
  crypto_sign_keypair(pk.data(), sk.data());
  const std::array<unsigned char, 32> message{};
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  for (auto _ : state) {
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), sk.data());
    benchmark::DoNotOptimize(signature);
  }
}
BENCHMARK(BM_SodiumEd25519Sign)->Unit(benchmark::kMicrosecond);

}  // namespace
