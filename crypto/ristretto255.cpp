#include "crypto/ristretto255.hpp"

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

// The identity encodes as 32 zero bytes.
constexpr ByteArray<32> kIdentity = {};

// libsodium's multiplications return -1 when the result is the identity (and
// then still write it); any other failure means a stored encoding was not
// valid, which the type rules out.
void check_mul(int rc, const ByteArray<32>& out) {
  if (rc != 0 && out != kIdentity) {
    panic("ristretto255 scalar multiplication failed. Bug!");
  }
}

}  // namespace

RistrettoPoint::RistrettoPoint() noexcept : enc_(kIdentity) {}

RistrettoPoint RistrettoPoint::base() noexcept {
  return RistrettoPoint(ByteArray<32>{0xe2, 0xf2, 0xae, 0x0a, 0x6a, 0xbc, 0x4e, 0x71,  //
                                      0xa8, 0x84, 0xa9, 0x61, 0xc5, 0x00, 0x51, 0x5f,  //
                                      0x58, 0xe3, 0x0b, 0x6a, 0xa5, 0x82, 0xdd, 0x8d,  //
                                      0xb6, 0xa6, 0x59, 0x45, 0xe0, 0x8d, 0x2d, 0x76});
}

std::optional<RistrettoPoint> RistrettoPoint::from_bytes(ByteSpan bytes) {
  if (bytes.size() != 32) {
    return std::nullopt;
  }
  ensure_sodium();
  ByteArray<32> enc;
  std::copy_n(bytes.begin(), 32, enc.begin());
  if (crypto_core_ristretto255_is_valid_point(enc.data()) != 1) {
    return std::nullopt;
  }
  return RistrettoPoint(enc);
}

RistrettoPoint RistrettoPoint::from_uniform_bytes(const ByteArray<64>& bytes) {
  ensure_sodium();
  RistrettoPoint r;
  if (crypto_core_ristretto255_from_hash(r.enc_.data(), bytes.data()) != 0) {
    panic("ristretto255 hash-to-group failed. Bug!");
  }
  return r;
}

RistrettoPoint RistrettoPoint::operator+(const RistrettoPoint& o) const {
  RistrettoPoint r;
  if (crypto_core_ristretto255_add(r.enc_.data(), enc_.data(), o.enc_.data()) != 0) {
    panic("ristretto255 addition refused a valid encoding. Bug!");
  }
  return r;
}

RistrettoPoint RistrettoPoint::operator-(const RistrettoPoint& o) const {
  RistrettoPoint r;
  if (crypto_core_ristretto255_sub(r.enc_.data(), enc_.data(), o.enc_.data()) != 0) {
    panic("ristretto255 subtraction refused a valid encoding. Bug!");
  }
  return r;
}

RistrettoPoint RistrettoPoint::operator-() const {
  return RistrettoPoint() - *this;
}

RistrettoPoint RistrettoPoint::operator*(const EdScalar& k) const {
  ensure_sodium();
  // The identity and zero scalars both come back as the identity with -1.
  RistrettoPoint r;
  const int rc = crypto_scalarmult_ristretto255(r.enc_.data(), k.as_span().data(), enc_.data());
  check_mul(rc, r.enc_);
  return r;
}

RistrettoPoint RistrettoPoint::base_mul(const EdScalar& k) {
  ensure_sodium();
  RistrettoPoint r;
  const int rc = crypto_scalarmult_ristretto255_base(r.enc_.data(), k.as_span().data());
  check_mul(rc, r.enc_);
  return r;
}

bool RistrettoPoint::is_identity() const noexcept {
  return enc_ == kIdentity;
}

}  // namespace velto::crypto
