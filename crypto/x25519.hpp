// Raw X25519 (RFC 7748) on libsodium. Callers that need to refuse particular
// public keys do so themselves; these functions only compute.
#pragma once

#include <optional>

#include "crypto/bytes.hpp"

namespace velto::crypto {

// X25519(priv, 9): the public key of a private key. The private key is used
// as given and clamped inside the computation, as RFC 7748 prescribes.
ByteArray<32> x25519_base(const ByteArray<32>& priv);

// X25519(priv, pub): the shared secret, or nullopt when it is all zero (the
// public key is a small-order point, on the curve or its twist). The top bit
// of pub is ignored; non-canonical u values are taken modulo p. The result is
// secret: the caller wipes it when done.
std::optional<ByteArray<32>> x25519(const ByteArray<32>& priv, const ByteArray<32>& pub);

}  // namespace velto::crypto
