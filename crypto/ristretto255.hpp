// ristretto255: the prime-order group built on edwards25519 (RFC 9496).
// Scalars are EdScalar (the group order is the same l). Points are held in
// their canonical 32-byte encoding, which is unique per group element, so
// equality is a comparison of encodings.
#pragma once

#include <optional>

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"

namespace velto::crypto {

class RistrettoPoint {
 public:
  RistrettoPoint() noexcept;  // the identity

  static RistrettoPoint identity() noexcept { return {}; }
  // The ristretto255 generator (the image of the edwards25519 base point).
  static RistrettoPoint base() noexcept;

  // Decodes a 32-byte ristretto255 encoding; nullopt for any other length or
  // an invalid encoding. The identity (32 zero bytes) is accepted.
  static std::optional<RistrettoPoint> from_bytes(ByteSpan bytes);
  // The hash-to-group map of RFC 9496: each half goes through the Elligator
  // map (top bit ignored) and the two points are added.
  static RistrettoPoint from_uniform_bytes(const ByteArray<64>& bytes);

  const ByteArray<32>& to_bytes() const noexcept { return enc_; }

  RistrettoPoint operator+(const RistrettoPoint& o) const;
  RistrettoPoint operator-(const RistrettoPoint& o) const;
  RistrettoPoint operator-() const;
  RistrettoPoint& operator+=(const RistrettoPoint& o) { return *this = *this + o; }
  RistrettoPoint& operator-=(const RistrettoPoint& o) { return *this = *this - o; }

  // k * P, constant-time in k; zero scalars and the identity give the identity.
  RistrettoPoint operator*(const EdScalar& k) const;
  friend RistrettoPoint operator*(const EdScalar& k, const RistrettoPoint& p) { return p * k; }
  // k * base(), constant-time in k; zero gives the identity.
  static RistrettoPoint base_mul(const EdScalar& k);

  bool is_identity() const noexcept;
  friend bool operator==(const RistrettoPoint& a, const RistrettoPoint& b) noexcept {
    return ct_equal(a.enc_, b.enc_);
  }

 private:
  explicit RistrettoPoint(const ByteArray<32>& enc) noexcept : enc_(enc) {}
  ByteArray<32> enc_;
};

}  // namespace velto::crypto
