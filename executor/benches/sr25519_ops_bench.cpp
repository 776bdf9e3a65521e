// Wall-clock time of whole sr25519 key generations and signings through the
// function interface, set beside the same Ed25519 operations: every party a
// call in this process, meeting in a new room of the local relay on loopback
// (room creation, TLS, websockets, Noise channels, version agreement and
// protocol included). The "per_party" counter divides the time by the
// parties that took part. The protocol rounds alone, and the Merlin signing
// challenge, are measured by velto-frost-sr25519's benchmark.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/party_calls.hpp"

namespace {

using velto::executor::testing::CallbackRecorder;
using velto::executor::testing::Completion;
using velto::executor::testing::cstr;
using velto::executor::testing::Identity;
using velto::executor::testing::LocalRelay;
using velto::executor::testing::new_identity;
using velto::executor::testing::PartyCall;
using velto::executor::testing::run_room;
using velto::executor::testing::Texts;

using KeygenFn = ResultFFI (*)(uint16_t, uint16_t, ConstStr, ConstStr, ConstStr, ConstStrArray, DoubleCallback, void*);

bool succeeded(benchmark::State& state, const std::vector<Completion>& done) {
  for (const auto& c : done) {
    if (c.result.code != 0) {
      state.SkipWithError(c.result.message.c_str());
      return false;
    }
  }
  return true;
}

std::vector<PartyCall> keygen_calls(KeygenFn fn, const std::vector<Identity>& ids, std::uint16_t t) {
  std::vector<std::string> all;
  for (const auto& id : ids) all.push_back(id.id);
  std::vector<PartyCall> calls;
  for (const auto& self : ids) {
    calls.push_back([fn, &self, all, n = static_cast<std::uint16_t>(ids.size()), t](
                        const std::string& room, const std::string& host, CallbackRecorder* rec) {
      Texts texts{all, {}};
      return fn(n, t, cstr(self.secret), cstr(room), cstr(host), texts.array(), &CallbackRecorder::double_cb, rec);
    });
  }
  return calls;
}

void per_party(benchmark::State& state, std::int64_t parties) {
  state.counters["per_party"] =
      benchmark::Counter(static_cast<double>(parties),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <KeygenFn Fn>
void BM_Keygen(benchmark::State& state) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  LocalRelay relay;
  std::vector<Identity> ids;
  for (int i = 0; i < n; ++i) ids.push_back(new_identity());
  const auto calls = keygen_calls(Fn, ids, t);
  for (auto _ : state) {
    if (!succeeded(state, run_room(relay, calls))) break;
  }
  per_party(state, n);
}

// t signers of a (t, n) key sign a 32-byte message (no derivation).
template <KeygenFn Keygen, class Sign>
void sign_bench(benchmark::State& state, Sign sign) {
  const auto t = static_cast<std::uint16_t>(state.range(0));
  const auto n = static_cast<std::uint16_t>(state.range(1));
  LocalRelay relay;
  std::vector<Identity> ids;
  for (int i = 0; i < n; ++i) ids.push_back(new_identity());
  const auto key = run_room(relay, keygen_calls(Keygen, ids, t));
  if (!succeeded(state, key)) return;
  const std::string message(64, 'a');
  std::vector<PartyCall> calls;
  for (std::size_t i = 0; i < t; ++i) {
    const std::string share = *key[i].second;
    calls.push_back([share, &message, sign](const std::string& room, const std::string& host, CallbackRecorder* rec) {
      return sign(share, message, room, host, rec);
    });
  }
  for (auto _ : state) {
    if (!succeeded(state, run_room(relay, calls))) break;
  }
  per_party(state, t);
}

void BM_Sr25519Sign(benchmark::State& state) {
  sign_bench<&velto_sr25519_keygen>(state, [](const std::string& share, const std::string& message,
                                              const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_sr25519_sign(cstr(share), cstr(message), cstr(room), cstr(host), ConstStrArray{nullptr, 0},
                              &CallbackRecorder::single_cb, rec);
  });
}

void BM_Ed25519Sign(benchmark::State& state) {
  sign_bench<&velto_ed25519_keygen>(state, [](const std::string& share, const std::string& message,
                                              const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_ed25519_sign(cstr(share), cstr(message), cstr(room), cstr(host), U32Array{nullptr, 0},
                              &CallbackRecorder::single_cb, rec);
  });
}

BENCHMARK(BM_Keygen<&velto_sr25519_keygen>)->Name("BM_Sr25519Keygen")->Args({2, 3})->Args({3, 5})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Keygen<&velto_ed25519_keygen>)->Name("BM_Ed25519Keygen")->Args({2, 3})->Args({3, 5})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sr25519Sign)->Args({2, 3})->Args({3, 5})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ed25519Sign)->Args({2, 3})->Args({3, 5})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
