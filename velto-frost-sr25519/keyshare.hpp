// One party's share of an sr25519 threshold key.
#pragma once

#include <cstdint>

#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"
#include "sised/party_id.hpp"

namespace velto::frost {

// What the distributed key generation leaves with a party: any `threshold`
// shares of one key, each weighted by its Lagrange coefficient over their
// ids, add up to the secret x with x·B = group_key. There is no chain code:
// sr25519 derivation takes its chain codes from the junction texts.
//
// Invariants: 1 <= threshold <= num_parties <= 8192; own_id is one of the
// key-generation session's parties.
struct Sr25519KeyShare {
  crypto::RistrettoPoint group_key;  // Y
  crypto::EdScalar secret_share;     // x_i
  PartyId own_id;                    // i
  std::uint16_t num_parties;         // n
  std::uint16_t threshold;           // t

  friend bool operator==(const Sr25519KeyShare&, const Sr25519KeyShare&) = default;
};

}  // namespace velto::frost
