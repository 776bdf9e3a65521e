// Multi-scalar multiplication on ristretto255 for public inputs: the
// commitment sums of signing and the share checks of key generation. The
// inputs are public, so the sum may skip terms that contribute nothing
// (zero scalars, identity points); its running time may depend on them.
#pragma once

#include <span>

#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"

namespace velto::crypto {

// Σ scalars[i]·points[i]; the identity for empty input. The spans must have
// the same length (a programming error otherwise: panic). Not for secret
// scalars.
RistrettoPoint ristretto_multi_mul_public(std::span<const EdScalar> scalars, std::span<const RistrettoPoint> points);

}  // namespace velto::crypto
