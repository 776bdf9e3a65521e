// Curve points on top of libsecp256k1.
//
// The library has no identity point: it refuses zero scalars and fails when
// a sum comes out at infinity. Point keeps an explicit identity flag and
// routes around those cases; the payload of an identity is never read.
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "crypto/secret.hpp"

namespace velto::crypto {
namespace {

constexpr ByteArray<33> kGeneratorCompressed = {
    0x02, 0x79, 0xBE, 0x66, 0x7E, 0xF9, 0xDC, 0xBB, 0xAC, 0x55, 0xA0, 0x62, 0x95, 0xCE, 0x87, 0x0B, 0x07,
    0x02, 0x9B, 0xFC, 0xDB, 0x2D, 0xCE, 0x28, 0xD9, 0x59, 0xF2, 0x81, 0x5B, 0x16, 0xF8, 0x17, 0x98};

void os_random(MutByteSpan out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = getrandom(out.data() + done, out.size() - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      panic("getrandom failed while seeding the secp256k1 context");
    }
    done += static_cast<std::size_t>(got);
  }
}

// The scalar's bytes with 0 replaced by 1 (constant time), for the library
// calls that refuse 0; the caller marks the result as the identity instead.
SecretArray<32> nonzero_bytes(const Scalar& k) {
  const Scalar kk = Scalar::select(k, Scalar::one(), k.is_zero());
  ByteArray<32> b = kk.to_bytes();
  SecretArray<32> out(b);
  secure_wipe(b.data(), b.size());
  return out;
}

}  // namespace

const secp256k1_context* secp256k1_ctx() {
  // Never destroyed: it must outlive every static that might still use it.
  static const secp256k1_context* const ctx = [] {
    secp256k1_context* c = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    if (c == nullptr) panic("secp256k1_context_create failed");
    SecretArray<32> seed;
    os_random(seed.mut_span());
    if (secp256k1_context_randomize(c, seed.data()) != 1) panic("secp256k1_context_randomize failed");
    return c;
  }();
  return ctx;
}

Point::Point() noexcept : pk_{}, identity_(true) {}

Point Point::from_raw(const secp256k1_pubkey& pk) noexcept {
  Point p;
  p.pk_ = pk;
  p.identity_ = false;
  return p;
}

const secp256k1_pubkey& Point::raw() const {
  if (identity_) panic("the identity point has no libsecp256k1 form");
  return pk_;
}

Point Point::generator() noexcept {
  static const Point g = [] {
    secp256k1_pubkey pk;
    if (secp256k1_ec_pubkey_parse(secp256k1_ctx(), &pk, kGeneratorCompressed.data(),
                                  kGeneratorCompressed.size()) != 1) {
      panic("cannot parse the secp256k1 generator");
    }
    return from_raw(pk);
  }();
  return g;
}

Point Point::base_mul(const Scalar& k) {
  const SecretArray<32> kb = nonzero_bytes(k);
  Point r;
  if (secp256k1_ec_pubkey_create(secp256k1_ctx(), &r.pk_, kb.data()) != 1) {
    panic("secp256k1_ec_pubkey_create refused a valid scalar");
  }
  r.identity_ = k.is_zero();
  return r;
}

Point operator*(const Point& p, const Scalar& k) {
  if (p.identity_) return Point();
  const SecretArray<32> kb = nonzero_bytes(k);
  Point r = p;
  if (secp256k1_ec_pubkey_tweak_mul(secp256k1_ctx(), &r.pk_, kb.data()) != 1) {
    panic("secp256k1_ec_pubkey_tweak_mul refused a valid scalar");
  }
  r.identity_ = k.is_zero();
  return r;
}

Point operator-(const Point& a) {
  Point r = a;
  if (!r.identity_ && secp256k1_ec_pubkey_negate(secp256k1_ctx(), &r.pk_) != 1) {
    panic("secp256k1_ec_pubkey_negate refused a valid key");
  }
  return r;
}

Point operator+(const Point& a, const Point& b) {
  if (a.identity_) return b;
  if (b.identity_) return a;
  const secp256k1_pubkey* ins[2] = {&a.pk_, &b.pk_};
  Point r;
  // The only failure of combine is a sum at infinity.
  r.identity_ = secp256k1_ec_pubkey_combine(secp256k1_ctx(), &r.pk_, ins, 2) != 1;
  return r;
}

Point operator-(const Point& a, const Point& b) { return a + (-b); }

Point Point::sum(std::span<const Point> points) {
  std::vector<const secp256k1_pubkey*> ins;
  ins.reserve(points.size());
  for (const Point& p : points) {
    if (!p.identity_) ins.push_back(&p.pk_);
  }
  Point r;
  if (ins.empty()) return r;
  r.identity_ = secp256k1_ec_pubkey_combine(secp256k1_ctx(), &r.pk_, ins.data(), ins.size()) != 1;
  return r;
}

Point Point::multi_mul(std::span<const Scalar> scalars, std::span<const Point> points) {
  if (scalars.size() != points.size()) panic("multi_mul: scalar and point counts differ");
  // The public interface offers no multi-scalar routine: one constant-time
  // multiplication per term, then a single combine (one final inversion).
  std::vector<secp256k1_pubkey> terms;
  terms.reserve(points.size());
  const secp256k1_context* ctx = secp256k1_ctx();
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (points[i].identity_ || scalars[i].is_zero()) continue;
    const SecretArray<32> kb = nonzero_bytes(scalars[i]);
    terms.push_back(points[i].pk_);
    if (secp256k1_ec_pubkey_tweak_mul(ctx, &terms.back(), kb.data()) != 1) {
      panic("secp256k1_ec_pubkey_tweak_mul refused a valid scalar");
    }
  }
  Point r;
  if (terms.empty()) return r;
  std::vector<const secp256k1_pubkey*> ins;
  ins.reserve(terms.size());
  for (const secp256k1_pubkey& t : terms) ins.push_back(&t);
  r.identity_ = secp256k1_ec_pubkey_combine(ctx, &r.pk_, ins.data(), ins.size()) != 1;
  return r;
}

bool operator==(const Point& a, const Point& b) {
  return ct_equal(a.to_compressed(), b.to_compressed());
}

ByteArray<33> Point::to_compressed() const {
  ByteArray<33> out{};
  if (identity_) return out;
  std::size_t len = out.size();
  if (secp256k1_ec_pubkey_serialize(secp256k1_ctx(), out.data(), &len, &pk_, SECP256K1_EC_COMPRESSED) != 1 ||
      len != out.size()) {
    panic("Compressed public key should always be 33 bytes");
  }
  return out;
}

ByteArray<65> Point::to_uncompressed() const {
  ByteArray<65> out{};
  std::size_t len = out.size();
  if (identity_ ||
      secp256k1_ec_pubkey_serialize(secp256k1_ctx(), out.data(), &len, &pk_, SECP256K1_EC_UNCOMPRESSED) != 1 ||
      len != out.size()) {
    panic("Uncompressed public key should always be 65 bytes");
  }
  return out;
}

std::optional<Point> Point::from_compressed(ByteSpan bytes) {
  if (bytes.size() != 33) return std::nullopt;
  ByteArray<33> buf;
  std::memcpy(buf.data(), bytes.data(), buf.size());
  switch (buf[0]) {
    case 0x00: {
      std::uint8_t any = 0;
      for (std::uint8_t b : buf) any |= b;
      if (any != 0) return std::nullopt;
      return Point();
    }
    case 0x02:
    case 0x03:
      break;
    case 0x05:
      buf[0] = 0x02;
      break;
    default:
      return std::nullopt;
  }
  Point r;
  if (secp256k1_ec_pubkey_parse(secp256k1_ctx(), &r.pk_, buf.data(), buf.size()) != 1) return std::nullopt;
  r.identity_ = false;
  return r;
}

std::optional<Point> Point::from_sec1_strict(ByteSpan bytes) {
  const bool compressed = bytes.size() == 33 && (bytes[0] == 0x02 || bytes[0] == 0x03);
  const bool uncompressed = bytes.size() == 65 && bytes[0] == 0x04;
  if (!compressed && !uncompressed) return std::nullopt;
  Point r;
  if (secp256k1_ec_pubkey_parse(secp256k1_ctx(), &r.pk_, bytes.data(), bytes.size()) != 1) return std::nullopt;
  r.identity_ = false;
  return r;
}

ByteArray<32> Point::x_bytes() const {
  const ByteArray<33> c = to_compressed();
  ByteArray<32> x;
  std::memcpy(x.data(), c.data() + 1, x.size());
  return x;
}

bool Point::has_even_y() const { return identity_ || to_compressed()[0] == 0x02; }

Point Point::x_only() const { return has_even_y() ? *this : -*this; }

std::optional<Point> Point::from_x_only(ByteSpan x) {
  if (x.size() != 32) return std::nullopt;
  ByteArray<33> buf;
  buf[0] = 0x02;
  std::memcpy(buf.data() + 1, x.data(), 32);
  Point r;
  if (secp256k1_ec_pubkey_parse(secp256k1_ctx(), &r.pk_, buf.data(), buf.size()) != 1) return std::nullopt;
  r.identity_ = false;
  return r;
}

Scalar Point::x_scalar() const { return Scalar::from_bytes_reduced(x_bytes()); }

}  // namespace velto::crypto
