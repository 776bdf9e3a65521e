// Eight Montgomery ladders in the lanes of AVX-512 registers, with the
// 52-bit multiply-accumulate instructions (IFMA).
//
// Built with -mavx512f -mavx512ifma (see CMakeLists.txt): include nothing
// here that defines inline functions used elsewhere (see montgomery_lanes.hpp).
#include <immintrin.h>

#include "velto-ot/montgomery_lanes.hpp"

namespace velto::ot::lanes {
namespace {

using u64 = std::uint64_t;
using V = __m512i;

#define VELTO_LANES_INLINE [[gnu::always_inline]] inline

constexpr u64 kMask51 = (u64{1} << 51) - 1;

// An element of GF(2^255 - 19) per lane, as five 51-bit limbs (one register
// per limb), least significant first. Between operations ("carried") every
// limb is below 2^51 + 2^16: the multipliers read only the low 52 bits of
// their operands, and a sum of two carried values is carried again before it
// is multiplied.
struct Fe {
  V v[5];
};

VELTO_LANES_INLINE V set1(u64 x) noexcept { return _mm512_set1_epi64(static_cast<long long>(x)); }
VELTO_LANES_INLINE V add64(V a, V b) noexcept { return _mm512_add_epi64(a, b); }
VELTO_LANES_INLINE V sub64(V a, V b) noexcept { return _mm512_sub_epi64(a, b); }
VELTO_LANES_INLINE V times19(V x) noexcept {
  return add64(add64(_mm512_slli_epi64(x, 4), _mm512_slli_epi64(x, 1)), x);
}
VELTO_LANES_INLINE V lo52(V acc, V a, V b) noexcept { return _mm512_madd52lo_epu64(acc, a, b); }
VELTO_LANES_INLINE V hi52(V acc, V a, V b) noexcept { return _mm512_madd52hi_epu64(acc, a, b); }

// One parallel round of carries, 2^255 = 19 folding the top carry into the
// bottom limb. Limbs below 2^61 come out carried.
VELTO_LANES_INLINE Fe carry(const V d[5]) noexcept {
  const V mask = set1(kMask51);
  V c[5];
  Fe r;
  for (int i = 0; i < 5; ++i) {
    c[i] = _mm512_srli_epi64(d[i], 51);
    r.v[i] = _mm512_and_si512(d[i], mask);
  }
  r.v[0] = add64(r.v[0], times19(c[4]));
  for (int i = 1; i < 5; ++i) r.v[i] = add64(r.v[i], c[i - 1]);
  return r;
}

VELTO_LANES_INLINE Fe add(const Fe& a, const Fe& b) noexcept {
  V d[5];
  for (int i = 0; i < 5; ++i) d[i] = add64(a.v[i], b.v[i]);
  return carry(d);
}

// a + 2p - b: every limb of 2p is above a carried limb.
VELTO_LANES_INLINE Fe sub(const Fe& a, const Fe& b) noexcept {
  const V two_p0 = set1(2 * ((u64{1} << 51) - 19));
  const V two_pi = set1(2 * ((u64{1} << 51) - 1));
  V d[5];
  d[0] = sub64(add64(a.v[0], two_p0), b.v[0]);
  for (int i = 1; i < 5; ++i) d[i] = sub64(add64(a.v[i], two_pi), b.v[i]);
  return carry(d);
}

// Column k of a product is c1[k] + 2 c2[k] + 4 c4[k] (a high half sits one
// bit above the next limb: 2^52 = 2 * 2^51); columns 5..9 fold into 0..4
// with 2^255 = 19. Every column stays below 2^56, so the folded limbs stay
// below 2^61.
VELTO_LANES_INLINE Fe fold(const V c1[10], const V c2[10], const V c4[10]) noexcept {
  V col[10];
  for (int k = 0; k < 10; ++k) {
    col[k] = add64(c1[k], _mm512_slli_epi64(c2[k], 1));
    col[k] = add64(col[k], _mm512_slli_epi64(c4[k], 2));
  }
  V d[5];
  for (int k = 0; k < 5; ++k) d[k] = add64(col[k], times19(col[k + 5]));
  return carry(d);
}

VELTO_LANES_INLINE Fe mul(const Fe& a, const Fe& b) noexcept {
  const V zero = _mm512_setzero_si512();
  V c1[10];
  V c2[10];
  V c4[10];
  for (int k = 0; k < 10; ++k) c1[k] = c2[k] = c4[k] = zero;
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      c1[i + j] = lo52(c1[i + j], a.v[i], b.v[j]);
      c2[i + j + 1] = hi52(c2[i + j + 1], a.v[i], b.v[j]);
    }
  }
  return fold(c1, c2, c4);
}

// The cross products once, doubled through the column weights.
VELTO_LANES_INLINE Fe sqr(const Fe& a) noexcept {
  const V zero = _mm512_setzero_si512();
  V c1[10];
  V c2[10];
  V c4[10];
  for (int k = 0; k < 10; ++k) c1[k] = c2[k] = c4[k] = zero;
  for (int i = 0; i < 5; ++i) {
    c1[2 * i] = lo52(c1[2 * i], a.v[i], a.v[i]);
    c2[2 * i + 1] = hi52(c2[2 * i + 1], a.v[i], a.v[i]);
    for (int j = i + 1; j < 5; ++j) {
      c2[i + j] = lo52(c2[i + j], a.v[i], a.v[j]);
      c4[i + j + 1] = hi52(c4[i + j + 1], a.v[i], a.v[j]);
    }
  }
  return fold(c1, c2, c4);
}

// a * 121665, (A - 2) / 4 for Curve25519's A = 486662.
VELTO_LANES_INLINE Fe mul_a24(const Fe& a) noexcept {
  const V zero = _mm512_setzero_si512();
  const V k = set1(121665);
  V lo[5];
  V hi[5];
  for (int i = 0; i < 5; ++i) {
    lo[i] = lo52(zero, a.v[i], k);
    hi[i] = hi52(zero, a.v[i], k);  // weight 2^(51 i + 52)
  }
  V d[5];
  d[0] = add64(lo[0], times19(_mm512_slli_epi64(hi[4], 1)));
  for (int i = 1; i < 5; ++i) d[i] = add64(lo[i], _mm512_slli_epi64(hi[i - 1], 1));
  return carry(d);
}

// Swaps a and b in the lanes where mask is all ones.
VELTO_LANES_INLINE void cswap(Fe& a, Fe& b, V mask) noexcept {
  for (int i = 0; i < 5; ++i) {
    const V t = _mm512_and_si512(mask, _mm512_xor_si512(a.v[i], b.v[i]));
    a.v[i] = _mm512_xor_si512(a.v[i], t);
    b.v[i] = _mm512_xor_si512(b.v[i], t);
  }
}

// Overwrites registers and stack copies that held secrets.
template <class T>
void wipe(T& v) noexcept {
  volatile unsigned char* p = reinterpret_cast<volatile unsigned char*>(&v);
  for (std::size_t i = 0; i < sizeof v; ++i) p[i] = 0;
}

}  // namespace

void ladder_ifma(const std::uint64_t x1_in[5][kIfmaLanes], const std::uint64_t k_in[4][kIfmaLanes],
                 std::uint64_t x_out[5][kIfmaLanes], std::uint64_t z_out[5][kIfmaLanes]) noexcept {
  const V zero = _mm512_setzero_si512();
  const V one = set1(1);
  Fe x1;
  for (int i = 0; i < 5; ++i) x1.v[i] = _mm512_loadu_si512(x1_in[i]);
  V k[4];
  for (int w = 0; w < 4; ++w) k[w] = _mm512_loadu_si512(k_in[w]);

  Fe x2{{one, zero, zero, zero, zero}};
  Fe z2{{zero, zero, zero, zero, zero}};
  Fe x3 = x1;
  Fe z3{{one, zero, zero, zero, zero}};
  V swap = zero;

  // Bits 254..0, most significant first; the position is public, the bit
  // only ever becomes a mask.
  for (int t = 254; t >= 0; --t) {
    const V bit = _mm512_and_si512(_mm512_srl_epi64(k[t / 64], _mm_cvtsi32_si128(t % 64)), one);
    swap = _mm512_xor_si512(swap, bit);
    const V mask = sub64(zero, swap);
    cswap(x2, x3, mask);
    cswap(z2, z3, mask);
    swap = bit;

    // Differential addition and doubling (RFC 7748, section 5).
    const Fe a = add(x2, z2);
    const Fe aa = sqr(a);
    const Fe b = sub(x2, z2);
    const Fe bb = sqr(b);
    const Fe e = sub(aa, bb);
    const Fe c = add(x3, z3);
    const Fe d = sub(x3, z3);
    const Fe da = mul(d, a);
    const Fe cb = mul(c, b);
    x3 = sqr(add(da, cb));
    z3 = mul(x1, sqr(sub(da, cb)));
    x2 = mul(aa, bb);
    z2 = mul(e, add(aa, mul_a24(e)));
  }
  const V mask = sub64(zero, swap);
  cswap(x2, x3, mask);
  cswap(z2, z3, mask);
  for (int i = 0; i < 5; ++i) {
    _mm512_storeu_si512(x_out[i], x2.v[i]);
    _mm512_storeu_si512(z_out[i], z2.v[i]);
  }
  wipe(x1);
  wipe(x2);
  wipe(z2);
  wipe(x3);
  wipe(z3);
  wipe(k);
  wipe(swap);
}

}  // namespace velto::ot::lanes
