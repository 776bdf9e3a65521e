#include "executor/ecdsa/latest/renewal.hpp"

namespace velto::executor {

EcdsaStorableSecretShare renewed_share(ecdsa::KeyPair key_pair, TransportKeyRotation rotation) {
  return EcdsaStorableSecretShare{EcdsaKeyShare(std::in_place_index<3>, std::move(key_pair)),
                                  std::move(rotation.keypair), std::move(rotation.party_map)};
}

}  // namespace velto::executor
