// Wall-clock time of whole exportable Ed25519 operations through the function
// interface: (2, 3) sampling and receiving, 2-of-3 signing and a two-party
// export, every party a call in this process, meeting in a new room of the
// local relay on loopback (room creation, TLS, websockets, Noise channels,
// version agreement and protocol included); and the offline export of three
// shares, which runs on the calling thread.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
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
using velto::executor::testing::Identity;
using velto::executor::testing::LocalRelay;
using velto::executor::testing::new_identity;
using velto::executor::testing::take;

using Start = std::function<ResultFFI(const std::string& room, CallbackRecorder* rec)>;

// Every party's call in one new room; the first failure's message, or none.
std::vector<Completion> run_room(LocalRelay& relay, const std::vector<Start>& parties) {
  const std::string room = relay.new_room(static_cast<std::uint16_t>(parties.size()));
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (const auto& start : parties) {
    recs.push_back(std::make_unique<CallbackRecorder>());
    (void)take(start(room, recs.back().get()));
  }
  std::vector<Completion> out;
  for (auto& r : recs) out.push_back(r->wait_for(1).at(0));
  return out;
}

const Completion* first_failure(const std::vector<Completion>& done) {
  for (const auto& c : done)
    if (c.result.code != 0) return &c;
  return nullptr;
}

// One (2, 3) key generation, party 0 sampling.
std::vector<Completion> keygen_2_of_3(LocalRelay& relay, const std::vector<Identity>& ids) {
  std::vector<Start> calls;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    calls.push_back([&relay, &ids, i](const std::string& room, CallbackRecorder* rec) {
      std::vector<ConstStr> all;
      for (const auto& id : ids) all.push_back(cstr(id.id));
      auto fn = i == 0 ? &velto_exportable_ed25519_sample_key : &velto_exportable_ed25519_receive_key;
      return fn(3, 2, cstr(ids[i].secret), cstr(room), cstr(relay.host()), ConstStrArray{all.data(), all.size()},
                &CallbackRecorder::double_cb, rec);
    });
  }
  return run_room(relay, calls);
}

// A bench body over a fresh (2, 3) key; `iteration` returns false to stop.
template <class Iteration>
void with_key(benchmark::State& state, Iteration iteration) {
  LocalRelay relay;
  const std::vector<Identity> ids = {new_identity(), new_identity(), new_identity()};
  const auto key = keygen_2_of_3(relay, ids);
  if (const Completion* failed = first_failure(key)) {
    state.SkipWithError(failed->result.message.c_str());
    return;
  }
  std::vector<std::string> shares;
  for (const auto& c : key) shares.push_back(*c.second);
  for (auto _ : state) {
    if (!iteration(relay, ids, shares)) break;
  }
}

bool succeeded(benchmark::State& state, const std::vector<Completion>& done) {
  if (const Completion* failed = first_failure(done)) {
    state.SkipWithError(failed->result.message.c_str());
    return false;
  }
  return true;
}

void BM_ExportableKeygen2of3(benchmark::State& state) {
  LocalRelay relay;
  const std::vector<Identity> ids = {new_identity(), new_identity(), new_identity()};
  for (auto _ : state) {
    if (!succeeded(state, keygen_2_of_3(relay, ids))) break;
  }
}
BENCHMARK(BM_ExportableKeygen2of3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportableSign2of3(benchmark::State& state) {
  const std::string message(64, 'a');
  with_key(state, [&](LocalRelay& relay, const std::vector<Identity>&, const std::vector<std::string>& shares) {
    std::vector<Start> calls;
    for (std::size_t i = 0; i < 2; ++i) {
      calls.push_back([&, i](const std::string& room, CallbackRecorder* rec) {
        return velto_exportable_ed25519_sign(cstr(shares[i]), cstr(message), cstr(room), cstr(relay.host()),
                                             &CallbackRecorder::single_cb, rec);
      });
    }
    return succeeded(state, run_room(relay, calls));
  });
}
BENCHMARK(BM_ExportableSign2of3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportableExportTwoParties(benchmark::State& state) {
  with_key(state, [&](LocalRelay& relay, const std::vector<Identity>& ids, const std::vector<std::string>& shares) {
    std::vector<Start> calls;
    for (std::size_t i = 0; i < 2; ++i) {
      calls.push_back([&, i](const std::string& room, CallbackRecorder* rec) {
        return velto_exportable_ed25519_export_full_private_key(cstr(shares[i]), cstr(ids[1].id), cstr(room),
                                                                cstr(relay.host()), &CallbackRecorder::single_cb,
                                                                rec);
      });
    }
    return succeeded(state, run_room(relay, calls));
  });
}
BENCHMARK(BM_ExportableExportTwoParties)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportableOfflineExport3(benchmark::State& state) {
  with_key(state, [&](LocalRelay&, const std::vector<Identity>&, const std::vector<std::string>& shares) {
    std::vector<ConstStr> texts;
    for (const auto& s : shares) texts.push_back(cstr(s));
    HeapString out{nullptr, 0};
    const auto r = take(velto_exportable_ed25519_offline_export_full_private_key(
        ConstStrArray{texts.data(), texts.size()}, &out));
    velto_dealloc_heap_string(out.ptr, out.len);
    if (r.code != 0) {
      state.SkipWithError(r.message.c_str());
      return false;
    }
    return true;
  });
}
BENCHMARK(BM_ExportableOfflineExport3)->Unit(benchmark::kMicrosecond);

}  // namespace
