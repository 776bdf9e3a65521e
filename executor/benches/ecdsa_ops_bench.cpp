// Wall-clock time of one whole ECDSA operation through the function interface:
// (2, 3) key generation and 2-of-3 signing, every party a set of calls in this
// process, meeting in a new room of the local relay on loopback (TLS,
// websockets, Noise channels, version agreement and protocol included; the
// room creation of each run too).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"

namespace {

using velto::executor::testing::CallbackRecorder;
using velto::executor::testing::Completion;
using velto::executor::testing::cstr;
using velto::executor::testing::LocalRelay;
using velto::executor::testing::take;
using velto::executor::testing::Identity;
using velto::executor::testing::new_identity;

// One (2, 3) key generation; every party's completion.
std::vector<Completion> keygen_2_of_3(LocalRelay& relay, const std::vector<Identity>& ids) {
  const std::string room = relay.new_room(3);
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::vector<ConstStr> others;
    for (std::size_t j = 0; j < ids.size(); ++j)
      if (j != i) others.push_back(cstr(ids[j].id));
    recs.push_back(std::make_unique<CallbackRecorder>());
    (void)take(velto_ecdsa_keygen(3, 2, cstr(ids[i].secret), cstr(room), cstr(relay.host()),
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

void BM_EcdsaKeygen2of3(benchmark::State& state) {
  LocalRelay relay;
  const std::vector<Identity> ids = {new_identity(), new_identity(), new_identity()};
  for (auto _ : state) {
    const auto done = keygen_2_of_3(relay, ids);
    if (!all_succeeded(done)) {
      state.SkipWithError(done[0].result.message.c_str());
      break;
    }
  }
}
BENCHMARK(BM_EcdsaKeygen2of3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EcdsaSign2of3(benchmark::State& state) {
  LocalRelay relay;
  const std::vector<Identity> ids = {new_identity(), new_identity(), new_identity()};
  const auto key = keygen_2_of_3(relay, ids);
  if (!all_succeeded(key)) {
    state.SkipWithError("key generation failed");
    return;
  }
  const std::string hash(64, 'a');
  for (auto _ : state) {
    const std::string room = relay.new_room(2);
    std::vector<std::unique_ptr<CallbackRecorder>> recs;
    for (std::size_t i = 0; i < 2; ++i) {
      recs.push_back(std::make_unique<CallbackRecorder>());
      (void)take(velto_ecdsa_sign(cstr(*key[i].second), cstr(hash), cstr(room), cstr(relay.host()),
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
}
BENCHMARK(BM_EcdsaSign2of3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
