// The encrypted executor: the full handshake run among n parties in one
// process over the in-memory network, and encrypted throughput of one pair,
// both on the channels alone (seal for the peer, open at the peer) and
// through the encrypted links (send, then receive-next at the peer).
#include "velto-mpc-infra/async/asio.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "crypto/blake3.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor/encrypted.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"

namespace {

namespace asio = boost::asio;
using namespace velto;
using LinkResult = std::expected<std::shared_ptr<EncryptedLink>, HandshakeSetupError>;

std::vector<noise::NoiseKeyPair> keypairs(std::size_t n) {
  std::vector<noise::NoiseKeyPair> out;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::array<std::uint8_t, 4> seed{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0, 0};
    auto pair = noise::keypair_from_private(crypto::blake3_derive_key("encrypted bench key", seed));
    if (!pair) throw std::runtime_error("key");
    out.push_back(std::move(*pair));
  }
  return out;
}

// Set-up, build and the handshake run of every party, each party as its own
// task; the links in PartyId order.
std::vector<std::shared_ptr<EncryptedLink>> connect_all(async::Runtime& rt,
                                                        const std::vector<noise::NoiseKeyPair>& pairs) {
  std::vector<noise::PublicKey> keys;
  for (const auto& p : pairs) keys.push_back(p.public_key());
  const auto ids = encrypted_channels_setup(keys).party_ids();
  auto network = InMemoryNetwork::create(ids);
  std::vector<std::optional<async::JoinHandle<LinkResult>>> handles(pairs.size());
  for (const auto& pair : pairs) {
    auto channels = encrypted_channels_build(encrypted_channels_setup(keys), pair);
    if (!channels) throw std::runtime_error("build");
    const std::size_t slot = channels->my_id().value() - 1u;
    handles[slot].emplace(
        async::spawn_task(rt.executor(), open_encrypted_link(network->link(channels->my_id()), std::move(*channels))));
  }
  return rt.block_on(
      [](std::vector<std::optional<async::JoinHandle<LinkResult>>> hs)
          -> asio::awaitable<std::vector<std::shared_ptr<EncryptedLink>>> {
        std::vector<std::shared_ptr<EncryptedLink>> out;
        for (auto& h : hs) {
          auto r = co_await h->join();
          if (!r || !*r) throw std::runtime_error("handshake failed");
          out.push_back(**r);
        }
        co_return out;
      }(std::move(handles)));
}

void BM_FullHandshake(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  async::Runtime rt;
  const auto pairs = keypairs(n);
  for (auto _ : state) benchmark::DoNotOptimize(connect_all(rt, pairs));
  state.counters["pair handshakes/s"] = benchmark::Counter(
      static_cast<double>(n * (n - 1) / 2) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FullHandshake)->ArgName("parties")->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// Seal for party 2 and open at party 2, m-byte plaintexts (the protocol
// message and its tag), in a buffer with room for the AEAD tag.
void BM_PairSealOpen(benchmark::State& state) {
  const auto m = static_cast<std::size_t>(state.range(0));
  async::Runtime rt(2);
  auto links = connect_all(rt, keypairs(2));
  EncryptedChannels& one = links[0]->channels();
  EncryptedChannels& two = links[1]->channels();
  const crypto::Bytes plaintext(m, 0x5A);
  crypto::Bytes buffer;
  buffer.reserve(m + noise::kTagLen);
  for (auto _ : state) {
    buffer.assign(plaintext.begin(), plaintext.end());
    if (!encrypt_outgoing_message(one, buffer, PartyId::unchecked(2))) state.SkipWithError("seal");
    if (!decrypt_incoming_message(two, buffer, PartyId::unchecked(1))) state.SkipWithError("open");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(m) * state.iterations());
}
BENCHMARK(BM_PairSealOpen)->ArgName("bytes")->Arg(64)->Arg(1024)->Arg(16 * 1024)->Arg(1024 * 1024);

// A batch of sends from party 1, then the batch received and opened at
// party 2, through the encrypted links over the in-memory network.
void BM_PairLinkThroughput(benchmark::State& state) {
  const auto m = static_cast<std::size_t>(state.range(0));
  constexpr int kBatch = 64;
  async::Runtime rt(1);
  auto links = connect_all(rt, keypairs(2));
  const crypto::Bytes plaintext(m, 0x5A);
  for (auto _ : state) {
    rt.block_on([](EncryptedLink& from, EncryptedLink& to, const crypto::Bytes& p) -> asio::awaitable<void> {
      for (int i = 0; i < kBatch; ++i) {
        crypto::Bytes copy = p;
        if (!co_await from.send(std::move(copy), PartyId::unchecked(2))) throw std::runtime_error("send");
      }
      for (int i = 0; i < kBatch; ++i) {
        auto r = co_await to.receive_next();
        if (!r || r->plaintext.size() != p.size()) throw std::runtime_error("receive");
      }
    }(*links[0], *links[1], plaintext));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(m) * kBatch * state.iterations());
  state.counters["messages/s"] =
      benchmark::Counter(static_cast<double>(kBatch) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PairLinkThroughput)->ArgName("bytes")->Arg(64)->Arg(1024)->Arg(64 * 1024)->UseRealTime();

}  // namespace
