#include "crypto/gf2.hpp"

#include <algorithm>
#include <string>

#include "crypto/error.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define VELTO_GF2_CLMUL 1
#endif

namespace velto::crypto {

Gf128 Gf128::from_le_bytes(const ByteArray<16>& b) noexcept {
  Gf128 v;
  for (int i = 7; i >= 0; --i) {
    v.lo = (v.lo << 8) | b[static_cast<std::size_t>(i)];
    v.hi = (v.hi << 8) | b[static_cast<std::size_t>(i) + 8];
  }
  return v;
}

ByteArray<16> Gf128::to_le_bytes() const noexcept {
  ByteArray<16> b{};
  for (std::size_t i = 0; i < 8; ++i) {
    b[i] = static_cast<std::uint8_t>(lo >> (8 * i));
    b[i + 8] = static_cast<std::uint8_t>(hi >> (8 * i));
  }
  return b;
}

namespace gf2_detail {
namespace {

// Carry-less 32x32 -> 64 product with integer multiplications. Each operand
// is split into four bit classes (bit positions modulo 4), so that every
// partial product has holes of three bits between its payload bits; a column
// sums at most 8 one-bit products and never carries into the next payload
// position. Only the parity of each column is kept.
std::uint64_t bmul32(std::uint32_t x, std::uint32_t y) noexcept {
  const std::uint64_t x0 = x & 0x11111111u, x1 = x & 0x22222222u, x2 = x & 0x44444444u,
                      x3 = x & 0x88888888u;
  const std::uint64_t y0 = y & 0x11111111u, y1 = y & 0x22222222u, y2 = y & 0x44444444u,
                      y3 = y & 0x88888888u;
  std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
  std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
  std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
  std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
  z0 &= 0x1111111111111111u;
  z1 &= 0x2222222222222222u;
  z2 &= 0x4444444444444444u;
  z3 &= 0x8888888888888888u;
  return z0 | z1 | z2 | z3;
}

// 256-bit unreduced product as four words, least significant first.
struct Wide {
  std::uint64_t w[4];
};

Wide mul128_portable(Gf128 a, Gf128 b) noexcept {
  // Karatsuba over the 64-bit halves.
  const Gf128 lo = clmul64_portable(a.lo, b.lo);
  const Gf128 hi = clmul64_portable(a.hi, b.hi);
  const Gf128 mid = clmul64_portable(a.lo ^ a.hi, b.lo ^ b.hi) ^ lo ^ hi;
  return {{lo.lo, lo.hi ^ mid.lo, hi.lo ^ mid.hi, hi.hi}};
}

#if defined(VELTO_GF2_CLMUL)

#define VELTO_CLMUL_TARGET __attribute__((target("pclmul")))

VELTO_CLMUL_TARGET inline Gf128 from_m128(__m128i v) noexcept {
  return {static_cast<std::uint64_t>(_mm_cvtsi128_si64(v)),
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)))};
}

VELTO_CLMUL_TARGET inline __m128i to_m128(Gf128 v) noexcept {
  // Register moves; going through memory stalls store forwarding.
  return _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(v.lo)),
                            _mm_cvtsi64_si128(static_cast<long long>(v.hi)));
}

// The three Karatsuba-free partial products of a 128x128 product: low
// halves, high halves and the sum of the two cross products.
struct Parts {
  __m128i lo, hi, mid;
};

VELTO_CLMUL_TARGET inline Parts mul128_parts(__m128i a, __m128i b) noexcept {
  return {_mm_clmulepi64_si128(a, b, 0x00), _mm_clmulepi64_si128(a, b, 0x11),
          _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x01), _mm_clmulepi64_si128(a, b, 0x10))};
}

VELTO_CLMUL_TARGET inline Wide combine(const Parts& p) noexcept {
  const Gf128 lo = from_m128(p.lo), hi = from_m128(p.hi), mid = from_m128(p.mid);
  return {{lo.lo, lo.hi ^ mid.lo, hi.lo ^ mid.hi, hi.hi}};
}

VELTO_CLMUL_TARGET Wide mul128_clmul(Gf128 a, Gf128 b) noexcept {
  return combine(mul128_parts(to_m128(a), to_m128(b)));
}

bool detect_clmul() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul");
}

#else

bool detect_clmul() noexcept { return false; }

#endif

Wide mul128(Gf128 a, Gf128 b) noexcept {
#if defined(VELTO_GF2_CLMUL)
  if (cpu_has_clmul()) return mul128_clmul(a, b);
#endif
  return mul128_portable(a, b);
}

void check_lengths(std::size_t a, std::size_t b) {
  if (a != b) {
    panic("inner product of spans of different lengths: " + std::to_string(a) + " and " +
          std::to_string(b));
  }
}

}  // namespace

bool cpu_has_clmul() noexcept {
  static const bool has = detect_clmul();
  return has;
}

// x^64 = x^4 + x^3 + x + 1: fold the high word in twice (the first fold
// spills at most four bits past bit 63).
std::uint64_t gf64_reduce(Gf128 p) noexcept {
  const std::uint64_t h = p.hi;
  const std::uint64_t spill = (h >> 63) ^ (h >> 61) ^ (h >> 60);
  std::uint64_t r = p.lo ^ h ^ (h << 1) ^ (h << 3) ^ (h << 4);
  r ^= spill ^ (spill << 1) ^ (spill << 3) ^ (spill << 4);
  return r;
}

// x^128 = x^7 + x^2 + x + 1: fold word 3 into words 1-2, then word 2 into
// words 0-1.
Gf128 gf128_reduce(std::uint64_t p0, std::uint64_t p1, std::uint64_t p2,
                   std::uint64_t p3) noexcept {
  p2 ^= (p3 >> 63) ^ (p3 >> 62) ^ (p3 >> 57);
  p1 ^= p3 ^ (p3 << 1) ^ (p3 << 2) ^ (p3 << 7);
  p1 ^= (p2 >> 63) ^ (p2 >> 62) ^ (p2 >> 57);
  p0 ^= p2 ^ (p2 << 1) ^ (p2 << 2) ^ (p2 << 7);
  return {p0, p1};
}

Gf128 clmul64_portable(std::uint64_t a, std::uint64_t b) noexcept {
  const auto a0 = static_cast<std::uint32_t>(a), a1 = static_cast<std::uint32_t>(a >> 32);
  const auto b0 = static_cast<std::uint32_t>(b), b1 = static_cast<std::uint32_t>(b >> 32);
  const std::uint64_t lo = bmul32(a0, b0);
  const std::uint64_t hi = bmul32(a1, b1);
  const std::uint64_t mid = bmul32(a0 ^ a1, b0 ^ b1) ^ lo ^ hi;
  return {lo ^ (mid << 32), hi ^ (mid >> 32)};
}

std::uint64_t gf64_mul_portable(std::uint64_t a, std::uint64_t b) noexcept {
  return gf64_reduce(clmul64_portable(a, b));
}

Gf128 gf128_mul_portable(Gf128 a, Gf128 b) noexcept {
  const Wide p = mul128_portable(a, b);
  return gf128_reduce(p.w[0], p.w[1], p.w[2], p.w[3]);
}

Gf128 gf128_inner_product_portable(std::span<const Gf128> a, std::span<const Gf128> b) noexcept {
  std::uint64_t w[4] = {0, 0, 0, 0};
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const Wide p = mul128_portable(a[i], b[i]);
    for (int k = 0; k < 4; ++k) w[k] ^= p.w[k];
  }
  return gf128_reduce(w[0], w[1], w[2], w[3]);
}

#if defined(VELTO_GF2_CLMUL)

VELTO_CLMUL_TARGET Gf128 clmul64_clmul(std::uint64_t a, std::uint64_t b) noexcept {
  const __m128i x = _mm_cvtsi64_si128(static_cast<long long>(a));
  const __m128i y = _mm_cvtsi64_si128(static_cast<long long>(b));
  return from_m128(_mm_clmulepi64_si128(x, y, 0x00));
}

VELTO_CLMUL_TARGET std::uint64_t gf64_mul_clmul(std::uint64_t a, std::uint64_t b) noexcept {
  return gf64_reduce(clmul64_clmul(a, b));
}

VELTO_CLMUL_TARGET Gf128 gf128_mul_clmul(Gf128 a, Gf128 b) noexcept {
  const Wide p = mul128_clmul(a, b);
  return gf128_reduce(p.w[0], p.w[1], p.w[2], p.w[3]);
}

VELTO_CLMUL_TARGET Gf128 gf128_inner_product_clmul(std::span<const Gf128> a,
                                                   std::span<const Gf128> b) noexcept {
  Parts acc{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const Parts p = mul128_parts(to_m128(a[i]), to_m128(b[i]));
    acc.lo = _mm_xor_si128(acc.lo, p.lo);
    acc.hi = _mm_xor_si128(acc.hi, p.hi);
    acc.mid = _mm_xor_si128(acc.mid, p.mid);
  }
  const Wide w = combine(acc);
  return gf128_reduce(w.w[0], w.w[1], w.w[2], w.w[3]);
}

#undef VELTO_CLMUL_TARGET

#else

Gf128 clmul64_clmul(std::uint64_t a, std::uint64_t b) noexcept { return clmul64_portable(a, b); }
std::uint64_t gf64_mul_clmul(std::uint64_t a, std::uint64_t b) noexcept {
  return gf64_mul_portable(a, b);
}
Gf128 gf128_mul_clmul(Gf128 a, Gf128 b) noexcept { return gf128_mul_portable(a, b); }
Gf128 gf128_inner_product_clmul(std::span<const Gf128> a, std::span<const Gf128> b) noexcept {
  return gf128_inner_product_portable(a, b);
}

#endif

}  // namespace gf2_detail

Gf128 clmul64(std::uint64_t a, std::uint64_t b) noexcept {
  return gf2_detail::cpu_has_clmul() ? gf2_detail::clmul64_clmul(a, b)
                                     : gf2_detail::clmul64_portable(a, b);
}

std::uint64_t gf64_mul(std::uint64_t a, std::uint64_t b) noexcept {
  return gf2_detail::gf64_reduce(clmul64(a, b));
}

Gf128 gf128_mul(Gf128 a, Gf128 b) noexcept {
  return gf2_detail::cpu_has_clmul() ? gf2_detail::gf128_mul_clmul(a, b)
                                     : gf2_detail::gf128_mul_portable(a, b);
}

std::uint64_t gf64_inner_product(std::span<const std::uint64_t> a,
                                 std::span<const std::uint64_t> b) {
  gf2_detail::check_lengths(a.size(), b.size());
  Gf128 acc;
  if (gf2_detail::cpu_has_clmul()) {
    for (std::size_t i = 0; i < a.size(); ++i) acc ^= gf2_detail::clmul64_clmul(a[i], b[i]);
  } else {
    for (std::size_t i = 0; i < a.size(); ++i) acc ^= gf2_detail::clmul64_portable(a[i], b[i]);
  }
  return gf2_detail::gf64_reduce(acc);
}

Gf128 gf128_inner_product(std::span<const Gf128> a, std::span<const Gf128> b) {
  gf2_detail::check_lengths(a.size(), b.size());
  return gf2_detail::cpu_has_clmul() ? gf2_detail::gf128_inner_product_clmul(a, b)
                                     : gf2_detail::gf128_inner_product_portable(a, b);
}

void Gf128Accumulator::add_product(Gf128 a, Gf128 b) noexcept {
  const gf2_detail::Wide p = gf2_detail::mul128(a, b);
  for (int k = 0; k < 4; ++k) w_[k] ^= p.w[k];
}

Gf128 Gf128Accumulator::finish() const noexcept {
  return gf2_detail::gf128_reduce(w_[0], w_[1], w_[2], w_[3]);
}

}  // namespace velto::crypto
