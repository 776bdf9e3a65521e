// sr25519 soft derivation along Substrate-style junction paths, and the
// expansion of a 32-byte seed into an sr25519 secret scalar.
//
// Each junction moves a public key P to P + k·B, k drawn from the transcript
// "SchnorrRistrettoHDKD" over the junction's chain code and P; the tweaks
// add up, so the holder of x (or of a threshold share of it) gets the child
// secret by adding the total tweak. Hard junctions (text starting with "/")
// are refused.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"
#include "crypto/secret.hpp"
#include "velto-frost-sr25519/error.hpp"

namespace velto::frost {

// The 32-byte chain code of one soft junction: a decimal u64 (optional
// leading "+") as 8 bytes little-endian; otherwise the text's SCALE
// encoding (compact length ‖ bytes), zero-padded when it fits in 32 bytes,
// else its BLAKE2b-256. Errors: InvalidLength (more than 2^32 − 1 bytes),
// HardJunctionsNotAllowed (first byte "/").
std::expected<crypto::ByteArray<32>, Sr25519DerivePathError> sr25519_junction_chain_code(std::string_view junction);

// The child key and the total tweak of a path walk from `key`.
struct Sr25519Derived {
  crypto::RistrettoPoint key;
  crypto::EdScalar tweak;
};

// Walks `path` junction by junction from `key`; an empty path gives the key
// and a zero tweak. Stops at the first junction that fails.
std::expected<Sr25519Derived, Sr25519DerivePathError> sr25519_derive_path(const crypto::RistrettoPoint& key,
                                                                          std::span<const std::string> path);

// How 32 key bytes are read.
enum class Sr25519KeyForm : std::uint8_t { Scalar, Seed };

// Scalar form: the bytes as a canonical little-endian scalar (nothing when
// not below l). Seed form: SHA-512(seed)[0..32], clamped and divided by the
// cofactor 8 (below l by construction; the upper half is not used).
std::optional<crypto::EdScalar> sr25519_expand_seed(Sr25519KeyForm form, const crypto::SecretArray<32>& bytes);

}  // namespace velto::frost
