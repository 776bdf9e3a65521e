// Stored Ed25519 shares are decoded, turned into a FROST key share and often
// moved along a derivation path at the start of every Ed25519 operation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "executor/ed25519_share.hpp"

namespace {

using namespace velto;
using namespace velto::executor;

noise::NoiseKeyPair transport_key(std::uint8_t seed) {
  crypto::ByteArray<32> k{};
  k.fill(seed);
  return *noise::keypair_from_private(k);
}

// A share of a key with `peers` + 1 parties, in the variant of `tag`.
Ed25519StorableSecretShare make_share(Ed25519ShareTag tag, int peers) {
  const crypto::EdScalar secret = crypto::EdScalar::from_u64(0x1234'5678'9ABC'DEF0);
  const crypto::EdPoint key = crypto::EdPoint::base_mul(crypto::EdScalar::from_u64(42));
  crypto::ByteArray<32> chain_code{};
  chain_code.fill(7);
  const PartyId own = PartyId::unchecked(static_cast<std::uint16_t>(peers + 1));
  const auto n = static_cast<std::uint16_t>(peers + 1);

  PartyPubkeyMap map;
  for (int i = 1; i <= peers; ++i) {
    map.insert_or_assign(PartyId::unchecked(static_cast<std::uint16_t>(i)),
                         transport_key(static_cast<std::uint8_t>(i)).public_key());
  }
  Ed25519KeyShare key_share = frost::FrostKeyShare{key, chain_code, secret, own, n, n};
  if (tag == Ed25519ShareTag::V1) key_share = Ed25519SecretShareV1{key, secret, own, n, n};
  if (tag == Ed25519ShareTag::V2) key_share = Ed25519SecretShareV2{key, chain_code, secret, own, n, n};
  return Ed25519StorableSecretShare{std::move(key_share), transport_key(0xEE), std::move(map)};
}

void BM_Ed25519ShareDecode(benchmark::State& state) {
  const std::string text = ed25519_share_encode(make_share(static_cast<Ed25519ShareTag>(state.range(0)),
                                                           static_cast<int>(state.range(1))));
  for (auto _ : state) {
    auto share = ed25519_share_decode(text);
    benchmark::DoNotOptimize(share->partyid_pubkey_map.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Ed25519ShareDecode)->ArgsProduct({{0, 1, 2}, {2, 31}});

void BM_Ed25519ShareEncode(benchmark::State& state) {
  const Ed25519StorableSecretShare share = make_share(Ed25519ShareTag::Latest, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ed25519_share_encode(share));
}
BENCHMARK(BM_Ed25519ShareEncode)->Arg(2)->Arg(31);

// Tag 0 pays the upgrade and the 128-byte round trip; tag 2 borrows.
void BM_Ed25519ShareDeriveChild(benchmark::State& state) {
  const Ed25519StorableSecretShare share = make_share(static_cast<Ed25519ShareTag>(state.range(0)), 2);
  const std::vector<std::uint32_t> path(static_cast<std::size_t>(state.range(1)), 7);
  for (auto _ : state) {
    auto child = ed25519_share_derive_child(share, path);
    benchmark::DoNotOptimize(child->depth);
  }
}
BENCHMARK(BM_Ed25519ShareDeriveChild)->ArgsProduct({{0, 2}, {0, 3}});

}  // namespace
