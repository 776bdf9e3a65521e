// Binary-field arithmetic for the OT consistency checks.
//
// Elements are polynomials over GF(2) in plain bit order (no reflection):
// bit i of the value is the coefficient of x^i.
//   GF(2^64):  modulo x^64 + x^4 + x^3 + x + 1
//   GF(2^128): modulo x^128 + x^7 + x^2 + x + 1
// Addition is XOR. Products use PCLMULQDQ when the CPU has it and a
// constant-time portable carry-less multiplication otherwise; both give the
// same results, and neither branches on the operands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/bytes.hpp"

namespace velto::crypto {

// A 128-bit value: lo holds bits 0..63, hi bits 64..127.
struct Gf128 {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;

  friend constexpr bool operator==(const Gf128&, const Gf128&) = default;
  friend constexpr Gf128 operator^(Gf128 a, Gf128 b) noexcept { return {a.lo ^ b.lo, a.hi ^ b.hi}; }
  constexpr Gf128& operator^=(Gf128 b) noexcept {
    lo ^= b.lo;
    hi ^= b.hi;
    return *this;
  }

  static constexpr Gf128 one() noexcept { return {1, 0}; }
  // 16 bytes little-endian (byte 0 holds bits 0..7).
  static Gf128 from_le_bytes(const ByteArray<16>& b) noexcept;
  ByteArray<16> to_le_bytes() const noexcept;
};

constexpr Gf128 gf128_add(Gf128 a, Gf128 b) noexcept { return a ^ b; }

// The raw carry-less product of two 64-bit polynomials (128 bits, unreduced).
Gf128 clmul64(std::uint64_t a, std::uint64_t b) noexcept;

std::uint64_t gf64_mul(std::uint64_t a, std::uint64_t b) noexcept;
Gf128 gf128_mul(Gf128 a, Gf128 b) noexcept;

// Sums of products: XOR over i of a[i] * b[i], reduced once at the end.
// Both spans must have the same length (a mismatch panics).
std::uint64_t gf64_inner_product(std::span<const std::uint64_t> a,
                                 std::span<const std::uint64_t> b);
Gf128 gf128_inner_product(std::span<const Gf128> a, std::span<const Gf128> b);

// Accumulates GF(2^128) products unreduced (256 bits) and reduces once in
// finish(); cheaper than reducing every product when many are summed.
class Gf128Accumulator {
 public:
  void add_product(Gf128 a, Gf128 b) noexcept;
  void add(Gf128 v) noexcept {
    w_[0] ^= v.lo;
    w_[1] ^= v.hi;
  }
  Gf128 finish() const noexcept;
  void reset() noexcept { w_[0] = w_[1] = w_[2] = w_[3] = 0; }

 private:
  std::uint64_t w_[4] = {0, 0, 0, 0};
};

namespace gf2_detail {

// Reductions of unreduced products.
std::uint64_t gf64_reduce(Gf128 p) noexcept;
Gf128 gf128_reduce(std::uint64_t p0, std::uint64_t p1, std::uint64_t p2, std::uint64_t p3) noexcept;

// The two implementations behind the functions above, exposed so tests and
// benchmarks can pin one. The clmul forms may only be called when
// cpu_has_clmul() is true.
bool cpu_has_clmul() noexcept;
Gf128 clmul64_portable(std::uint64_t a, std::uint64_t b) noexcept;
Gf128 clmul64_clmul(std::uint64_t a, std::uint64_t b) noexcept;
std::uint64_t gf64_mul_portable(std::uint64_t a, std::uint64_t b) noexcept;
std::uint64_t gf64_mul_clmul(std::uint64_t a, std::uint64_t b) noexcept;
Gf128 gf128_mul_portable(Gf128 a, Gf128 b) noexcept;
Gf128 gf128_mul_clmul(Gf128 a, Gf128 b) noexcept;
Gf128 gf128_inner_product_portable(std::span<const Gf128> a, std::span<const Gf128> b) noexcept;
Gf128 gf128_inner_product_clmul(std::span<const Gf128> a, std::span<const Gf128> b) noexcept;

}  // namespace gf2_detail

}  // namespace velto::crypto
