// The Noise KK channel: a whole handshake (both ends, fresh ephemerals) and a
// transport message sealed and opened in place.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "noise-kk/keys.hpp"
#include "noise-kk/state.hpp"

namespace velto::noise {
namespace {

const crypto::ByteArray<32> kPrologue = {0x42};

std::pair<HandshakeState, HandshakeState> fresh_pair(const NoiseKeyPair& a, const NoiseKeyPair& b) {
  return {initialize_handshake(true, a, b.public_key(), kPrologue),
          initialize_handshake(false, b, a.public_key(), kPrologue)};
}

void must(const std::expected<void, NoiseError>& r) {
  if (!r) std::abort();
}

void BM_KkHandshakeBothSides(benchmark::State& state) {
  const NoiseKeyPair a = generate_ephemeral();
  const NoiseKeyPair b = generate_ephemeral();
  crypto::ByteArray<kHandshakeMessageLen> m{};
  for (auto _ : state) {
    auto [init, resp] = fresh_pair(a, b);
    must(init.write_message(m));
    must(resp.read_message(m));
    m.fill(0);
    must(resp.write_message(m));
    must(init.read_message(m));
    benchmark::DoNotOptimize(init.is_transport());
  }
}
BENCHMARK(BM_KkHandshakeBothSides);

// Seal on one end and open on the other, in place, with the engine's 4-byte
// associated data. The argument is the payload length (the tag comes on top).
void BM_TransportSealOpen(benchmark::State& state) {
  const NoiseKeyPair a = generate_ephemeral();
  const NoiseKeyPair b = generate_ephemeral();
  auto [init, resp] = fresh_pair(a, b);
  crypto::ByteArray<kHandshakeMessageLen> m{};
  must(init.write_message(m));
  must(resp.read_message(m));
  must(resp.write_message(m));
  must(init.read_message(m));

  const std::uint8_t ad[4] = {1, 0, 2, 0};
  crypto::Bytes buf(static_cast<std::size_t>(state.range(0)) + kTagLen, 0x5a);
  for (auto _ : state) {
    must(init.write_message(buf, ad));
    must(resp.read_message(buf, ad));
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_TransportSealOpen)->Arg(64)->Arg(64 * 1024);

}  // namespace
}  // namespace velto::noise
