#include "crypto/ristretto_msm.hpp"

#include "crypto/error.hpp"

namespace velto::crypto {

RistrettoPoint ristretto_multi_mul_public(std::span<const EdScalar> scalars, std::span<const RistrettoPoint> points) {
  if (scalars.size() != points.size()) panic("assertion failed: scalars.len() == points.len()");
  // Each term is one ladder of libsodium's ristretto255 code, which keeps
  // its internal point form private; a term whose scalar is zero or one, or
  // whose point is the identity, costs no multiplication.
  RistrettoPoint acc;
  const EdScalar one = EdScalar::one();
  for (std::size_t i = 0; i < scalars.size(); ++i) {
    if (points[i].is_identity() || scalars[i].is_zero()) continue;
    acc += scalars[i] == one ? points[i] : points[i] * scalars[i];
  }
  return acc;
}

}  // namespace velto::crypto
