// secp256k1 value types: scalars modulo the group order n and curve points.
//
// Scalar is our own fixed-width arithmetic; every operation except
// invert_vartime runs in time independent of the values. Point wraps
// libsecp256k1's public-key type and adds the identity, which that library
// cannot represent.
//
// External forms: a scalar is 32 bytes big-endian; a point is 33 bytes SEC1
// compressed, with the identity written as 33 zero bytes.
#pragma once

#include <secp256k1.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/bytes.hpp"

namespace velto::crypto {

// An integer modulo n, always held fully reduced as four 64-bit words, least
// significant first.
//
// Scalars carry secrets (key shares, nonces), so the destructor wipes the
// words. The wipe is four inline stores that the compiler must keep, cheap
// next to any arithmetic, and it makes the type non-trivially-copyable on
// purpose: a scalar never dies without being cleared, temporaries included.
class Scalar {
 public:
  using Words = std::array<std::uint64_t, 4>;

  Scalar() noexcept : w_{0, 0, 0, 0} {}
  Scalar(const Scalar&) noexcept = default;
  Scalar& operator=(const Scalar&) noexcept = default;
  ~Scalar() { wipe(); }

  static Scalar zero() noexcept { return Scalar(); }
  static Scalar one() noexcept { return from_u64(1); }
  static Scalar from_u64(std::uint64_t v) noexcept;

  // 32 bytes big-endian; nothing when the value is not below n (the caller
  // reports "Invalid Scalar"). Any other length also gives nothing.
  static std::optional<Scalar> from_bytes_checked(ByteSpan bytes) noexcept;
  // 32 bytes big-endian reduced by one conditional subtraction of n, which is
  // the full reduction since 2^256 < 2n. Used for hash outputs and x
  // coordinates.
  static Scalar from_bytes_reduced(const ByteArray<32>& bytes) noexcept;
  // A 512-bit big-endian value reduced modulo n (close to uniform when the
  // input is).
  static Scalar from_bytes_wide(const ByteArray<64>& bytes) noexcept;

  // A uniform scalar: 32-byte big-endian draws from g, redrawn while not
  // below n. The probability of a redraw is about 2^-128.
  template <class G>
  static Scalar random(G& g) {
    ByteArray<32> buf;
    for (;;) {
      g.fill_bytes(MutByteSpan(buf));
      std::optional<Scalar> s = from_bytes_checked(buf);
      if (s) {
        secure_wipe(buf.data(), buf.size());
        return *s;
      }
    }
  }

  ByteArray<32> to_bytes() const noexcept;
  const Words& words() const noexcept { return w_; }

  bool is_zero() const noexcept;
  // s > (n-1)/2, the test of low-s normalisation.
  bool is_high() const noexcept;

  Scalar square() const noexcept;
  // Multiplicative inverse by exponentiation to n-2; invert(0) = 0.
  Scalar invert() const noexcept;
  // Same result, faster, with timing that depends on the value: only for
  // public values (Lagrange coefficients of party ids, verification).
  Scalar invert_vartime() const noexcept;

  // a when choose_b is false, b otherwise, without a branch on choose_b.
  static Scalar select(const Scalar& a, const Scalar& b, bool choose_b) noexcept;

  friend Scalar operator+(const Scalar& a, const Scalar& b) noexcept;
  friend Scalar operator-(const Scalar& a, const Scalar& b) noexcept;
  friend Scalar operator*(const Scalar& a, const Scalar& b) noexcept;
  friend Scalar operator-(const Scalar& a) noexcept;
  Scalar& operator+=(const Scalar& o) noexcept { return *this = *this + o; }
  Scalar& operator-=(const Scalar& o) noexcept { return *this = *this - o; }
  Scalar& operator*=(const Scalar& o) noexcept { return *this = *this * o; }
  // Constant time.
  friend bool operator==(const Scalar& a, const Scalar& b) noexcept;

 private:
  explicit Scalar(const Words& w) noexcept : w_(w) {}
  void wipe() noexcept {
    w_ = {0, 0, 0, 0};
    // The asm reads the words, so the stores above cannot be dropped.
    asm volatile("" : : "m"(w_));
  }

  Words w_;
};

// The libsecp256k1 context every operation here uses: created on first use,
// randomised once with OS entropy (side-channel blinding), then only read, so
// it is safe to share between threads.
const secp256k1_context* secp256k1_ctx();

// A point of the curve, the identity included.
class Point {
 public:
  // The identity.
  Point() noexcept;

  static Point identity() noexcept { return Point(); }
  static Point generator() noexcept;

  // k·G; constant time in k.
  static Point base_mul(const Scalar& k);

  friend Point operator+(const Point& a, const Point& b);
  friend Point operator-(const Point& a, const Point& b);
  friend Point operator-(const Point& a);
  // k·P; constant time in k.
  friend Point operator*(const Point& p, const Scalar& k);
  friend Point operator*(const Scalar& k, const Point& p) { return p * k; }
  Point& operator+=(const Point& o) { return *this = *this + o; }
  Point& operator-=(const Point& o) { return *this = *this - o; }

  // Sum of all the points.
  static Point sum(std::span<const Point> points);
  // Σ scalars[i]·points[i]; the two spans must have the same length. Each
  // product is constant time in its scalar, but the time shows which scalars
  // are zero (those terms are left out).
  static Point multi_mul(std::span<const Scalar> scalars, std::span<const Point> points);

  bool is_identity() const noexcept { return identity_; }
  // Compares the compressed forms in constant time.
  friend bool operator==(const Point& a, const Point& b);

  // SEC1 compressed; the identity is 33 zero bytes.
  ByteArray<33> to_compressed() const;
  // SEC1 uncompressed (04, x, y). The identity has no such form: asking for
  // it is a bug of the caller and panics.
  ByteArray<65> to_uncompressed() const;

  // 33 bytes: 02 or 03 and x; 05 and x, read as the point with that x and
  // even y (the same point as 02); or 33 zero bytes for the identity.
  // Everything else, and an x with no point, gives nothing.
  static std::optional<Point> from_compressed(ByteSpan bytes);
  // Strict SEC1 public key: 33 bytes with 02/03 or 65 bytes with 04 (x and y
  // on the curve). No identity, no 05, no hybrid 06/07.
  static std::optional<Point> from_sec1_strict(ByteSpan bytes);

  // x coordinate, 32 bytes big-endian (all zero for the identity).
  ByteArray<32> x_bytes() const;
  // Whether y is even (true for the identity, taken as (0, 0)).
  bool has_even_y() const;
  // The point with the same x and even y (this point or its negation): the
  // full point behind a BIP340 x-only key. The identity stays the identity.
  Point x_only() const;
  // The point with this x (32 bytes big-endian) and even y: BIP340's lift_x.
  static std::optional<Point> from_x_only(ByteSpan x);
  // x reduced by one conditional subtraction of n (ECDSA's r from a nonce
  // point); 0 for the identity.
  Scalar x_scalar() const;

  // Access to the libsecp256k1 form for signature code. raw() must not be
  // called on the identity (panics); from_raw() takes a key that libsecp256k1
  // produced (parse, create, recover), which is never the identity.
  const secp256k1_pubkey& raw() const;
  static Point from_raw(const secp256k1_pubkey& pk) noexcept;

 private:
  secp256k1_pubkey pk_;
  bool identity_;
};

}  // namespace velto::crypto
