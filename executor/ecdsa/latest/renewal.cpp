#include "executor/ecdsa/latest/renewal.hpp"

#include <optional>

namespace velto::executor {

EcdsaStorableSecretShare renewed_share(ecdsa::KeyPair key_pair, TransportKeyRotation rotation, EcdsaShareTag tag) {
  if (tag != EcdsaShareTag::V1_1_0 && tag != EcdsaShareTag::Latest) panic("Renewed shares are of tag 2 or 3. Bug!");
  EcdsaKeyShare key_share = tag == EcdsaShareTag::V1_1_0
                                ? EcdsaKeyShare(std::in_place_index<2>, KeyPairV1_1_0{std::move(key_pair), std::nullopt})
                                : EcdsaKeyShare(std::in_place_index<3>, std::move(key_pair));
  return EcdsaStorableSecretShare{std::move(key_share), std::move(rotation.keypair), std::move(rotation.party_map)};
}

}  // namespace velto::executor
