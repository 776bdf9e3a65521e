#include "crypto/ed25519.hpp"

#include <sodium.h>

#include <algorithm>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

void ensure_sodium() {
  static const int rc = sodium_init();
  if (rc < 0) {
    panic("libsodium failed to initialise. Bug!");
  }
}

// Compressed encoding of the identity (x = 0, y = 1).
constexpr ByteArray<32> kIdentity = {1};

// Writes the reduction modulo l of the 32 bytes zero-extended to 64.
void reduce32(std::uint8_t out[32], const std::uint8_t in[32]) noexcept {
  SecretArray<64> wide;
  std::copy_n(in, 32, wide.data());
  crypto_core_ed25519_scalar_reduce(out, wide.data());
}

// libsodium's multiplications return -1 when the result is the identity (and
// then still write it), and refuse the identity as input. Inputs here are
// always subgroup points other than the identity, so any other failure breaks
// an invariant.
void check_mul(int rc, const ByteArray<32>& out) {
  if (rc != 0 && out != kIdentity) {
    panic("edwards25519 scalar multiplication failed. Bug!");
  }
}

}  // namespace

// ---- EdScalar ---------------------------------------------------------------

EdScalar EdScalar::from_u64(std::uint64_t v) noexcept {
  EdScalar s;
  for (std::size_t i = 0; i < 8; ++i) {
    s.bytes_[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  return s;
}

std::optional<EdScalar> EdScalar::from_canonical(ByteSpan bytes) noexcept {
  if (bytes.size() != 32) {
    return std::nullopt;
  }
  // A value is canonical exactly when reducing it changes nothing.
  EdScalar s;
  reduce32(s.bytes_.data(), bytes.data());
  if (!ct_equal(s.bytes_.span(), bytes)) {
    return std::nullopt;
  }
  return s;
}

EdScalar EdScalar::from_bytes_mod_order(const ByteArray<32>& bytes) noexcept {
  EdScalar s;
  reduce32(s.bytes_.data(), bytes.data());
  return s;
}

EdScalar EdScalar::from_bytes_wide(const ByteArray<64>& bytes) noexcept {
  EdScalar s;
  crypto_core_ed25519_scalar_reduce(s.bytes_.data(), bytes.data());
  return s;
}

EdScalar EdScalar::operator+(const EdScalar& o) const noexcept {
  EdScalar r;
  crypto_core_ed25519_scalar_add(r.bytes_.data(), bytes_.data(), o.bytes_.data());
  return r;
}

EdScalar EdScalar::operator-(const EdScalar& o) const noexcept {
  EdScalar r;
  crypto_core_ed25519_scalar_sub(r.bytes_.data(), bytes_.data(), o.bytes_.data());
  return r;
}

EdScalar EdScalar::operator*(const EdScalar& o) const noexcept {
  EdScalar r;
  crypto_core_ed25519_scalar_mul(r.bytes_.data(), bytes_.data(), o.bytes_.data());
  return r;
}

EdScalar EdScalar::operator-() const noexcept {
  EdScalar r;
  crypto_core_ed25519_scalar_negate(r.bytes_.data(), bytes_.data());
  return r;
}

EdScalar EdScalar::invert() const noexcept {
  // A fixed exponentiation by l - 2, so zero maps to zero; libsodium reports
  // that case with -1, which is the documented result here, not an error.
  EdScalar r;
  (void)crypto_core_ed25519_scalar_invert(r.bytes_.data(), bytes_.data());
  return r;
}

bool EdScalar::is_zero() const noexcept {
  return sodium_is_zero(bytes_.data(), 32) == 1;
}

// ---- EdPoint ----------------------------------------------------------------

EdPoint::EdPoint() noexcept : enc_(kIdentity) {}

EdPoint EdPoint::base() noexcept {
  // y = 4/5, x even.
  ByteArray<32> b;
  b.fill(0x66);
  b[0] = 0x58;
  return EdPoint(b);
}

std::optional<EdPoint> EdPoint::from_bytes(ByteSpan bytes) {
  if (bytes.size() != 32) {
    return std::nullopt;
  }
  ByteArray<32> enc;
  std::copy_n(bytes.begin(), 32, enc.begin());
  // libsodium's validity check refuses every small-order point, the identity
  // among them; its own canonical encoding is the only form of it we accept.
  if (enc == kIdentity) {
    return EdPoint(enc);
  }
  ensure_sodium();
  // Checks y < p, not small order, on the curve and l * P = identity. The
  // only points with x = 0 (where a set sign bit would be a second, negative
  // zero encoding) are the identity and the point of order 2, so the
  // small-order check covers the negative-zero forms.
  if (crypto_core_ed25519_is_valid_point(enc.data()) != 1) {
    return std::nullopt;
  }
  return EdPoint(enc);
}

EdPoint EdPoint::operator+(const EdPoint& o) const {
  EdPoint r;
  if (crypto_core_ed25519_add(r.enc_.data(), enc_.data(), o.enc_.data()) != 0) {
    panic("edwards25519 addition refused a subgroup point. Bug!");
  }
  return r;
}

EdPoint EdPoint::operator-(const EdPoint& o) const {
  EdPoint r;
  if (crypto_core_ed25519_sub(r.enc_.data(), enc_.data(), o.enc_.data()) != 0) {
    panic("edwards25519 subtraction refused a subgroup point. Bug!");
  }
  return r;
}

EdPoint EdPoint::operator-() const noexcept {
  // -(x, y) = (-x, y): flip the sign bit of x. The identity is the only
  // subgroup point with x = 0, and it is its own negation.
  if (is_identity()) {
    return *this;
  }
  EdPoint r(*this);
  r.enc_[31] ^= 0x80;
  return r;
}

EdPoint EdPoint::operator*(const EdScalar& k) const {
  // libsodium refuses the identity as input; the product is the identity.
  if (is_identity()) {
    return {};
  }
  ensure_sodium();
  // For k = 0 libsodium writes the identity and returns -1; no branch on the
  // scalar is needed here.
  EdPoint r;
  const int rc = crypto_scalarmult_ed25519_noclamp(r.enc_.data(), k.as_span().data(), enc_.data());
  check_mul(rc, r.enc_);
  return r;
}

EdPoint EdPoint::base_mul(const EdScalar& k) {
  ensure_sodium();
  EdPoint r;
  const int rc = crypto_scalarmult_ed25519_base_noclamp(r.enc_.data(), k.as_span().data());
  check_mul(rc, r.enc_);
  return r;
}

EdPoint EdPoint::multi_mul(std::span<const EdScalar> scalars, std::span<const EdPoint> points) {
  if (scalars.size() != points.size()) {
    panic("assertion failed: scalars.size() == points.size()");
  }
  EdPoint acc;
  for (std::size_t i = 0; i < scalars.size(); ++i) {
    acc += points[i] * scalars[i];
  }
  return acc;
}

bool EdPoint::is_identity() const noexcept {
  return enc_ == kIdentity;
}

// ---- Ed25519 signatures -------------------------------------------------------

ByteArray<32> ed25519_public_from_seed(const ByteArray<32>& seed) {
  SecretArray<64> h;
  crypto_hash_sha512(h.data(), seed.data(), seed.size());
  h[0] &= 248;
  h[31] &= 127;
  h[31] |= 64;
  // Only the lower half is the secret scalar. It is below 2^255 and B has
  // order l, so reducing it first gives the same point.
  std::fill_n(h.data() + 32, 32, std::uint8_t{0});
  const EdScalar a = EdScalar::from_bytes_wide(h.array());
  return EdPoint::base_mul(a).to_bytes();
}

bool ed25519_verify(const ByteArray<32>& pubkey, ByteSpan msg, const ByteArray<64>& sig) {
  ensure_sodium();
  return crypto_sign_ed25519_verify_detached(sig.data(), msg.data(), msg.size(),
                                             pubkey.data()) == 0;
}

}  // namespace velto::crypto
