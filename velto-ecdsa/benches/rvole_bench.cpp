// The two parts of signing that dominate its time, per direction of a pair
// and per side, without the network: every iteration recomputes one side's
// work from the same inputs (the other side's messages computed once
// beforehand).
//
// - Set-up of one direction: Bob (base-OT sender, full trees, set-up
//   message) and Alice (base-OT receiver, punctured trees).
// - Online step of one direction with one presignature (l = 2): Bob's
//   random-OT receiver run, stream expansion and VOLE check; Alice's
//   random-OT sender run, stream expansion and VOLE message.
// - The whole pairwise set-up and online step of two parties, both
//   directions, over the in-memory network with their managers.
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <vector>

#include "crypto/chacha.hpp"
#include "velto-ecdsa/rvole.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-ot/base_ot.hpp"
#include "velto-ote/rote.hpp"

namespace velto::ecdsa {
namespace {

namespace asio = boost::asio;
using crypto::Scalar;

const UcTag kBaseOtTag(crypto::ByteArray<32>{1});
const crypto::ByteArray<32> kOtTag{2};
const crypto::ByteArray<32> kInstanceTag{3};

// One direction's set-up, both sides, computed once.
struct Setup {
  std::optional<ot::BaseOtReceiver> receiver;  // Alice
  std::optional<ot::BaseOtSender> sender;      // Bob
  std::optional<ote::FullPprfSetup> full;
  std::optional<ote::PuncturedPprfTrees> punctured;
};

Setup make_setup() {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{9});
  Setup s;
  s.receiver.emplace(ot::BaseOtReceiver::random(kBaseOtTag, rng));
  s.sender.emplace(ot::BaseOtSender::random(rng));
  const auto keys = s.sender->derive_keys(kBaseOtTag, s.receiver->values());
  const auto key = ot::batch_ot_key(s.sender->message().bytes(), s.receiver->values());
  s.full.emplace(ote::build_full_pprf_trees(keys->bytes(), key));
  const ot::BaseOtReceiverOutput mine = s.receiver->derive_keys(s.sender->message());
  s.punctured.emplace(ote::build_punctured_pprf_trees(mine.bytes(), key, s.full->message));
  return s;
}

void BM_SetupBob(benchmark::State& state) {
  const Setup s = make_setup();
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{10});
  for (auto _ : state) {
    const ot::BaseOtSender sender = ot::BaseOtSender::random(rng);
    auto keys = sender.derive_keys(kBaseOtTag, s.receiver->values());
    const auto key = ot::batch_ot_key(sender.message().bytes(), s.receiver->values());
    benchmark::DoNotOptimize(ote::build_full_pprf_trees(keys->bytes(), key));
  }
}
BENCHMARK(BM_SetupBob)->Unit(benchmark::kMicrosecond);

void BM_SetupAlice(benchmark::State& state) {
  const Setup s = make_setup();
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{11});
  for (auto _ : state) {
    const ot::BaseOtReceiver receiver = ot::BaseOtReceiver::random(kBaseOtTag, rng);
    const ot::BaseOtReceiverOutput mine = receiver.derive_keys(s.sender->message());
    const auto key = ot::batch_ot_key(s.sender->message().bytes(), receiver.values());
    benchmark::DoNotOptimize(ote::build_punctured_pprf_trees(mine.bytes(), key, s.full->message));
  }
}
BENCHMARK(BM_SetupAlice)->Unit(benchmark::kMicrosecond);

// One online step's messages, computed once.
struct Online {
  Setup setup = make_setup();
  ote::RoteReceiverRun bob_ot;
  crypto::Bytes alice_message;
  std::vector<Scalar> x{Scalar::from_u64(5)};
  std::vector<Scalar> y{Scalar::from_u64(6)};
};

std::unique_ptr<Online> make_online() {
  auto o = std::make_unique<Online>();
  o->bob_ot = ote::rote_receiver_run(o->setup.full->trees, kOtTag, kRvoleOtCount);
  ote::RoteSender sender(*o->setup.punctured, kOtTag, kRvoleOtCount);
  (void)sender.receive_corrections(o->bob_ot.correction_message);
  auto out = sender.receive_check(o->bob_ot.check_message);
  const ScalarMatrix v0 = expand_ot_digests(out->digests0, 4);
  const ScalarMatrix v1 = expand_ot_digests(out->digests1, 4);
  o->alice_message = *encode_rvole_correction(
      rvole_sender_compute(kInstanceTag, v0, v1, o->x, o->y, Scalar::from_u64(7), Scalar::from_u64(8)).message);
  return o;
}

void BM_OnlineBob(benchmark::State& state) {
  const auto o = make_online();
  for (auto _ : state) {
    ote::RoteReceiverRun run = ote::rote_receiver_run(o->setup.full->trees, kOtTag, kRvoleOtCount);
    const ScalarMatrix y = expand_ot_digests(run.output.digests, 4);
    const Scalar b = rvole_receiver_input(run.output.choices.span());
    benchmark::DoNotOptimize(b);
    auto message = decode_scalar_vec(o->alice_message);
    auto d = rvole_receiver_compute(kInstanceTag, run.output.choices.span(), y, 2, *message);
    if (!d) state.SkipWithError("check failed");
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_OnlineBob)->Unit(benchmark::kMicrosecond);

void BM_OnlineAlice(benchmark::State& state) {
  const auto o = make_online();
  for (auto _ : state) {
    ote::RoteSender sender(*o->setup.punctured, kOtTag, kRvoleOtCount);
    (void)sender.receive_corrections(o->bob_ot.correction_message);
    auto out = sender.receive_check(o->bob_ot.check_message);
    if (!out) state.SkipWithError("check refused");
    const ScalarMatrix v0 = expand_ot_digests(out->digests0, 4);
    const ScalarMatrix v1 = expand_ot_digests(out->digests1, 4);
    auto step = rvole_sender_compute(kInstanceTag, v0, v1, o->x, o->y, Scalar::from_u64(7), Scalar::from_u64(8));
    benchmark::DoNotOptimize(encode_rvole_correction(step.message));
  }
}
BENCHMARK(BM_OnlineAlice)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- a session

using Shares = std::vector<Scalar>;

asio::awaitable<bool> alice(ProtocolExecutor& init, ProtocolExecutor& presign, PartyId me, PartyId peer) {
  auto setup = co_await rvole_setup_sender(PeerExecutor(init.child_pair(me, peer), peer));
  if (!setup) co_return false;
  auto record = co_await rvole_sender_online(PeerExecutor(presign.child_pair(me, peer), peer), *setup, 2);
  if (!record) co_return false;
  const std::vector<Scalar> x{Scalar::from_u64(1)};
  const std::vector<Scalar> y{Scalar::from_u64(2)};
  co_return rvole_step(std::move(*record), x, y).has_value();
}

asio::awaitable<bool> bob(ProtocolExecutor& init, ProtocolExecutor& presign, PartyId me, PartyId peer) {
  auto setup = co_await rote_receiver_setup(PeerExecutor(init.child_pair(peer, me), peer));
  if (!setup) co_return false;
  PeerExecutor instance(presign.child_pair(peer, me), peer);
  auto ot = rvole_receiver_online(instance, *setup, 2);
  if (!ot) co_return false;
  co_return (co_await rvole_driver(instance, *ot, 2)).has_value();
}

asio::awaitable<bool> party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, PartyId me, PartyId peer) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  bool ok = false;
  {
    ProtocolExecutor init = root->child("rvoles init");
    ProtocolExecutor presign = root->child("presign");
    auto [a, b] = co_await async::join_both(alice(init, presign, me, peer), bob(init, presign, me, peer));
    ok = a && b;
  }
  root.reset();
  (void)co_await manager.join();
  co_return ok;
}

asio::awaitable<bool> both(async::JoinHandle<bool> a, async::JoinHandle<bool> b) {
  auto ra = co_await a.join();
  auto rb = co_await b.join();
  co_return ra && rb && *ra && *rb;
}

void BM_PairSetupAndOnlineStepOverMemoryNetwork(benchmark::State& state) {
  async::Runtime rt(2);
  const PartyId p1 = PartyId::unchecked(1);
  const PartyId p2 = PartyId::unchecked(2);
  const std::vector<PartyId> ids{p1, p2};
  for (auto _ : state) {
    auto network = InMemoryNetwork::create(ids);
    auto h1 = async::spawn_task(rt.executor(), party(network->link(p1), ids, p1, p2));
    auto h2 = async::spawn_task(rt.executor(), party(network->link(p2), ids, p2, p1));
    if (!rt.block_on(both(std::move(h1), std::move(h2)))) state.SkipWithError("session failed");
  }
}
BENCHMARK(BM_PairSetupAndOnlineStepOverMemoryNetwork)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velto::ecdsa
