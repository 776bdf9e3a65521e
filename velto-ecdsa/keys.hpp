// ECDSA key shares and the byte forms of keys and signatures.
//
// A KeyPair is one party's share of a jointly generated key. Everything here
// is a pure function: encodings of public keys for callers, the key-share hash
// that binds presignatures to the share that made them, scalars from
// big-endian bytes, and the two signature forms (DER and r ‖ s).
#pragma once

#include <cstdint>
#include <optional>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"

namespace velto::ecdsa {

// Largest number of parties of one key.
inline constexpr std::uint16_t kMaxParties = 8192;

// One party's share of a jointly generated ECDSA key. The secret share wipes
// itself; nothing here prints it.
struct KeyPair {
  // x_i, this party's share of the group secret.
  crypto::Scalar secret_share;
  // The group key's BIP32 chain code, the same at every party.
  crypto::ByteArray<32> chain_code{};
  // The group public key Y, the same at every party.
  crypto::Point public_key;
  PartyId party_id;
  // Number of parties needed to sign.
  std::uint16_t threshold = 0;
  // 1 to kMaxParties.
  std::uint16_t num_parties = 0;

  friend bool operator==(const KeyPair&, const KeyPair&) = default;
};

// SEC1 compressed form of a public key. The identity is no public key: asking
// for its form is a bug of the caller and panics.
crypto::ByteArray<33> pubkey_to_compressed(const crypto::Point& key);
// SEC1 uncompressed form (04 ‖ x ‖ y); panics on the identity as well.
crypto::ByteArray<65> pubkey_to_uncompressed(const crypto::Point& key);

// BLAKE3 derive-key under "VELTO ECDSA KEYSHARE HASH" over secret share (32
// bytes big-endian) ‖ public key (33, identity as zeros) ‖ chain code (32) ‖
// party id ‖ threshold ‖ number of parties (2 bytes little-endian each).
crypto::ByteArray<32> keyshare_hash(const KeyPair& key);

// A 32-byte big-endian value as a scalar; nothing for 0 and for values not
// below n. The range and zero tests run in constant time. Any other length is
// a bug of the caller and panics.
std::optional<crypto::Scalar> scalar_from_be_bytes(crypto::ByteSpan bytes);

// ASN.1 DER SEQUENCE { INTEGER r, INTEGER s }, minimal two's-complement
// integers, at most 73 bytes. r and s must be non-zero (they are below n by
// construction); a zero is a bug of the caller and panics.
crypto::Bytes signature_to_der(const crypto::Scalar& r, const crypto::Scalar& s);

// r ‖ s, 32 bytes big-endian each.
crypto::ByteArray<64> signature_to_bytes(const crypto::Scalar& r, const crypto::Scalar& s);

}  // namespace velto::ecdsa
