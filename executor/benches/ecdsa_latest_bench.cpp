// Wall-clock cost of one share-renewing or extracting session of the current
// ECDSA handlers, all parties in one process over the in-memory network
// (no relay, no encryption): what the handler layer adds on top of the
// key-generation core (joint tag, announcements, transport-key exchange).
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "executor/ecdsa/latest/handlers.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using namespace velto::executor;

std::vector<PartyId> ids_1_to(std::uint16_t n) {
  std::vector<PartyId> out;
  for (std::uint16_t i = 1; i <= n; ++i) out.push_back(PartyId::unchecked(i));
  return out;
}

template <class R, class Protocol>
asio::awaitable<R> party(std::shared_ptr<Communicator> link, std::vector<PartyId> ids, Protocol protocol) {
  ExecutorBuilder builder(std::move(link));
  auto root = build_executor(builder, root_uc_tag(), ids);
  auto manager = spawn_executor_manager(std::move(builder));
  R result = co_await protocol(std::move(*root));
  (void)co_await manager.join();
  co_return std::move(result);
}

// protocol(id) -> callable(root) -> awaitable<R>; every party's result.
template <class R, class Make>
std::vector<R> run_session(async::Runtime& rt, const std::vector<PartyId>& ids, Make make) {
  auto network = InMemoryNetwork::create(ids);
  std::vector<async::JoinHandle<R>> handles;
  for (const PartyId id : ids) {
    handles.push_back(async::spawn_task(rt.executor(), party<R>(network->link(id), ids, make(id))));
  }
  return rt.block_on([](std::vector<async::JoinHandle<R>> hs) -> asio::awaitable<std::vector<R>> {
    std::vector<R> out;
    for (auto& h : hs) {
      auto r = co_await h.join();
      if (!r) throw std::runtime_error(r.error().display());
      out.push_back(std::move(*r));
    }
    co_return out;
  }(std::move(handles)));
}

asio::awaitable<std::expected<ecdsa::KeyPair, BoxedError>> keygen(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa::ecdsa_keygen_handler_latest(std::move(root), t);
}

std::vector<EcdsaStorableSecretShare> two_of_three(async::Runtime& rt) {
  auto keys = run_session<std::expected<ecdsa::KeyPair, BoxedError>>(rt, ids_1_to(3), [](PartyId) {
    return [](ProtocolExecutor root) { return keygen(std::move(root), 2); };
  });
  std::vector<noise::NoiseKeyPair> transport;
  PartyPubkeyMap map;
  for (const auto& k : keys) {
    if (!k) throw std::runtime_error(k.error()->display());
    transport.push_back(noise::generate_ephemeral());
    map.insert_or_assign(k->party_id, transport.back().public_key());
  }
  std::vector<EcdsaStorableSecretShare> out;
  for (std::size_t i = 0; i < keys.size(); ++i)
    out.push_back(EcdsaStorableSecretShare{EcdsaKeyShare(std::in_place_index<3>, *keys[i]), transport[i], map});
  return out;
}

asio::awaitable<ShareResult> refresh(ProtocolExecutor root, EcdsaStorableSecretShare share) {
  co_return co_await ecdsa_refresh_handler_latest(std::move(root), share);
}

void BM_RefreshTwoOfThree(benchmark::State& state) {
  async::Runtime rt(4);
  const auto shares = two_of_three(rt);
  for (auto _ : state) {
    auto out = run_session<ShareResult>(rt, ids_1_to(3), [&shares](PartyId id) {
      return [&shares, id](ProtocolExecutor root) { return refresh(std::move(root), shares[id.value() - 1]); };
    });
    if (!out[0]) state.SkipWithError("refresh failed");
  }
}
BENCHMARK(BM_RefreshTwoOfThree)->Unit(benchmark::kMillisecond)->UseRealTime();

asio::awaitable<ShareResult> importer(ProtocolExecutor root) {
  crypto::ByteArray<32> key{};
  key[31] = 7;
  co_return co_await ecdsa_import_importer_handler_latest(std::move(root), 2, crypto::SecretArray<32>(key),
                                                          std::nullopt);
}

asio::awaitable<ShareResult> recipient(ProtocolExecutor root) {
  co_return co_await ecdsa_import_recipient_handler_latest(std::move(root), 2);
}

void BM_ImportTwoOfThree(benchmark::State& state) {
  async::Runtime rt(4);
  for (auto _ : state) {
    auto out = run_session<ShareResult>(rt, ids_1_to(3), [](PartyId id) {
      return [id](ProtocolExecutor root) {
        return id.value() == 1 ? importer(std::move(root)) : recipient(std::move(root));
      };
    });
    if (!out[0]) state.SkipWithError("import failed");
  }
}
BENCHMARK(BM_ImportTwoOfThree)->Unit(benchmark::kMillisecond)->UseRealTime();

using ExtractResult = std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>;

asio::awaitable<ExtractResult> extract(ProtocolExecutor root, EcdsaStorableSecretShare share) {
  co_return co_await ecdsa_extract_handler_latest(std::move(root), share, PartyId::unchecked(1));
}

void BM_ExtractTwoOfThree(benchmark::State& state) {
  async::Runtime rt(4);
  const auto shares = two_of_three(rt);
  for (auto _ : state) {
    auto out = run_session<ExtractResult>(rt, ids_1_to(2), [&shares](PartyId id) {
      return [&shares, id](ProtocolExecutor root) { return extract(std::move(root), shares[id.value() - 1]); };
    });
    if (!out[0] || !*out[0]) state.SkipWithError("extraction failed");
  }
}
BENCHMARK(BM_ExtractTwoOfThree)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
