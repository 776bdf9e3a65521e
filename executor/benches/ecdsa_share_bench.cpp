// Stored ECDSA shares are decoded, and converted to a key pair, at the start
// of every ECDSA operation; keygen-type operations encode one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "executor/ecdsa_share.hpp"

namespace {

using namespace velto;
using namespace velto::executor;

noise::NoiseKeyPair transport_key(std::uint8_t seed) {
  crypto::ByteArray<32> k{};
  k.fill(seed);
  return *noise::keypair_from_private(k);
}

// A share of a key with `peers` + 1 parties, in the variant of `tag`.
EcdsaStorableSecretShare make_share(EcdsaShareTag tag, int peers) {
  const crypto::Scalar secret = crypto::Scalar::from_u64(0x1234'5678'9ABC'DEF0);
  const crypto::Point key = crypto::Point::base_mul(crypto::Scalar::from_u64(42));
  crypto::ByteArray<32> chain_code{};
  chain_code.fill(7);
  const PartyId own = PartyId::unchecked(static_cast<std::uint16_t>(peers + 1));
  const auto n = static_cast<std::uint16_t>(peers + 1);
  const ecdsa::KeyPair kp{secret, chain_code, key, own, n, n};

  PartyPubkeyMap map;
  for (int i = 1; i <= peers; ++i) {
    map.insert_or_assign(PartyId::unchecked(static_cast<std::uint16_t>(i)),
                         transport_key(static_cast<std::uint8_t>(i)).public_key());
  }
  EcdsaKeyShare key_share = kp;
  switch (tag) {
    case EcdsaShareTag::V1:
      key_share = EcdsaSecretShareV1{secret, key, own, n, n};
      break;
    case EcdsaShareTag::V2:
      key_share = EcdsaSecretShareV2{secret, key, chain_code, own, n, n};
      break;
    case EcdsaShareTag::V1_1_0:
      key_share = KeyPairV1_1_0{kp, std::nullopt};
      break;
    case EcdsaShareTag::Latest:
      break;
  }
  return EcdsaStorableSecretShare{std::move(key_share), transport_key(0xEE), std::move(map)};
}

void BM_EcdsaShareDecode(benchmark::State& state) {
  const std::string text = ecdsa_share_encode(make_share(static_cast<EcdsaShareTag>(state.range(0)),
                                                         static_cast<int>(state.range(1))));
  for (auto _ : state) {
    auto share = ecdsa_share_decode(text);
    benchmark::DoNotOptimize(share->partyid_pubkey_map.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EcdsaShareDecode)->ArgsProduct({{0, 1, 2, 3}, {2, 99}})->ArgNames({"tag", "peers"});

void BM_EcdsaShareEncode(benchmark::State& state) {
  const EcdsaStorableSecretShare share =
      make_share(static_cast<EcdsaShareTag>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    std::string text = ecdsa_share_encode(share);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_EcdsaShareEncode)->ArgsProduct({{0, 3}, {2, 99}})->ArgNames({"tag", "peers"});

void BM_EcdsaShareToKeyPair(benchmark::State& state) {
  const EcdsaStorableSecretShare share = make_share(static_cast<EcdsaShareTag>(state.range(0)), 2);
  for (auto _ : state) {
    auto kp = ecdsa_share_to_keypair(share);
    benchmark::DoNotOptimize(&kp.get());
  }
}
BENCHMARK(BM_EcdsaShareToKeyPair)->DenseRange(0, 3)->ArgName("tag");

void BM_EcdsaShareDeriveChild(benchmark::State& state) {
  const EcdsaStorableSecretShare share = make_share(EcdsaShareTag::Latest, 2);
  const std::vector<std::uint32_t> path(static_cast<std::size_t>(state.range(0)), 1);
  for (auto _ : state) {
    auto child = ecdsa_share_derive_child(share, path);
    benchmark::DoNotOptimize(child->depth);
  }
}
BENCHMARK(BM_EcdsaShareDeriveChild)->Arg(1)->Arg(3)->ArgName("depth");

}  // namespace
