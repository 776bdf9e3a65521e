// The key material of ECDSA protocol version 1.1.0.
//
// That version keeps the same key share as the current engine (KeyPair,
// velto-ecdsa/keys.hpp: secret share, group key, chain code, party id,
// threshold, number of parties) and the same encodings, BIP32 derivation and
// extended-key texts (velto-ecdsa/bip32.hpp). What it adds is the one-party
// key pair that a private-key import starts from.
#pragma once

#include <optional>

#include "crypto/bytes.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::ecdsa::legacy {

// The one-party key pair of a full private key (32 bytes big-endian): secret
// x, public key x·G, the given chain code, party id 1, threshold 1, one
// party. Nothing when x is zero or not below the group order (tested in
// constant time), and for a length other than 32.
std::optional<KeyPair> keypair_from_private_key(crypto::ByteSpan private_key, const crypto::ByteArray<32>& chain_code);

}  // namespace velto::ecdsa::legacy
