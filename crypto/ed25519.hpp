// edwards25519: scalars modulo the prime group order l and points of the
// prime-order subgroup, plus the two Ed25519 signature helpers other code
// needs (public key from a seed, verification).
//
// Points are held in their canonical 32-byte compressed form (RFC 8032), so a
// value of EdPoint is always a canonical encoding of a point in the prime-order
// subgroup; decoding enforces that and every operation preserves it. The
// arithmetic runs on libsodium's constant-time edwards25519 code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"

namespace velto::crypto {

// An integer modulo l = 2^252 + 27742317777372353535851937790883648493, the
// order of the edwards25519 base point (and of the ristretto255 group). Always
// fully reduced; the external form is 32 bytes little-endian. Scalars are
// treated as secrets: the bytes are wiped when the value dies and comparisons
// are constant-time.
class EdScalar {
 public:
  EdScalar() noexcept = default;  // zero

  static EdScalar zero() noexcept { return {}; }
  static EdScalar one() noexcept { return from_u64(1); }
  static EdScalar from_u64(std::uint64_t v) noexcept;

  // The 32 bytes as a little-endian integer if it is below l; nullopt for any
  // other length or a value >= l. Constant-time in the bytes.
  static std::optional<EdScalar> from_canonical(ByteSpan bytes) noexcept;
  // The 32 bytes as a little-endian integer, reduced modulo l.
  static EdScalar from_bytes_mod_order(const ByteArray<32>& bytes) noexcept;
  // The 64 bytes as a little-endian integer, reduced modulo l.
  static EdScalar from_bytes_wide(const ByteArray<64>& bytes) noexcept;

  // A uniform scalar: 64 bytes drawn from the generator, read little-endian
  // and reduced modulo l (the bias of the reduction is below 2^-250).
  template <class G>
  static EdScalar random(G& rng) {
    SecretArray<64> wide;
    rng.fill_bytes(wide.mut_span());
    return from_bytes_wide(wide.array());
  }

  EdScalar operator+(const EdScalar& o) const noexcept;
  EdScalar operator-(const EdScalar& o) const noexcept;
  EdScalar operator*(const EdScalar& o) const noexcept;
  EdScalar operator-() const noexcept;
  EdScalar& operator+=(const EdScalar& o) noexcept { return *this = *this + o; }
  EdScalar& operator-=(const EdScalar& o) noexcept { return *this = *this - o; }
  EdScalar& operator*=(const EdScalar& o) noexcept { return *this = *this * o; }

  // The multiplicative inverse; the inverse of zero is zero.
  EdScalar invert() const noexcept;
  // Constant time.
  bool is_zero() const noexcept;
  // Constant time.
  friend bool operator==(const EdScalar& a, const EdScalar& b) noexcept {
    return a.bytes_ == b.bytes_;
  }

  // 32 bytes little-endian, below l. The copy is the caller's to wipe.
  ByteArray<32> to_bytes() const noexcept { return bytes_.array(); }
  // Borrowed view of the same bytes, for feeding hashes without a copy.
  ByteSpan as_span() const noexcept { return bytes_.span(); }

 private:
  SecretArray<32> bytes_;
};

// A point of the prime-order subgroup of edwards25519 (the identity included).
class EdPoint {
 public:
  EdPoint() noexcept;  // the identity

  static EdPoint identity() noexcept { return {}; }
  // The RFC 8032 base point B.
  static EdPoint base() noexcept;

  // Decodes a 32-byte compressed point. Refused (nullopt): a length other than
  // 32, a non-canonical encoding (y >= p, or x = 0 with the sign bit set), a y
  // with no point on the curve, and any point outside the prime-order
  // subgroup (small-order points and points with a torsion component). The
  // identity is accepted.
  static std::optional<EdPoint> from_bytes(ByteSpan bytes);

  // The canonical compressed encoding.
  const ByteArray<32>& to_bytes() const noexcept { return enc_; }

  EdPoint operator+(const EdPoint& o) const;
  EdPoint operator-(const EdPoint& o) const;
  EdPoint operator-() const noexcept;
  EdPoint& operator+=(const EdPoint& o) { return *this = *this + o; }
  EdPoint& operator-=(const EdPoint& o) { return *this = *this - o; }

  // k * P, constant-time in k, without clamping; zero scalars and the identity
  // give the identity.
  EdPoint operator*(const EdScalar& k) const;
  friend EdPoint operator*(const EdScalar& k, const EdPoint& p) { return p * k; }
  // k * B, constant-time in k, without clamping; zero gives the identity.
  static EdPoint base_mul(const EdScalar& k);
  // The sum of scalars[i] * points[i] (the identity for empty input);
  // constant-time in the scalars. The two spans must have the same length.
  static EdPoint multi_mul(std::span<const EdScalar> scalars, std::span<const EdPoint> points);

  bool is_identity() const noexcept;
  friend bool operator==(const EdPoint& a, const EdPoint& b) noexcept {
    return ct_equal(a.enc_, b.enc_);
  }

 private:
  explicit EdPoint(const ByteArray<32>& enc) noexcept : enc_(enc) {}
  ByteArray<32> enc_;
};

// The RFC 8032 Ed25519 public key of a 32-byte private key seed: the clamped
// lower half of SHA-512(seed) times B.
ByteArray<32> ed25519_public_from_seed(const ByteArray<32>& seed);

// RFC 8032 Ed25519 verification (pure, no context) of a 64-byte signature R||S
// over msg under a 32-byte public key: S must be below l and R must equal the
// canonical encoding of [S]B - [k]A. Beyond the RFC's checks it refuses, as
// libsodium does, small-order public keys and R values and non-canonical
// public keys.
bool ed25519_verify(const ByteArray<32>& pubkey, ByteSpan msg, const ByteArray<64>& sig);

}  // namespace velto::crypto
