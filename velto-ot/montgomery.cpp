#include "velto-ot/montgomery.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "crypto/error.hpp"
#include "velto-ot/montgomery_lanes.hpp"

namespace velto::ot {
namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

constexpr u64 kMask51 = (u64{1} << 51) - 1;

// The field arithmetic below is small and called nine times per ladder
// step: always inlined, so that the compiler schedules across calls.
#define VELTO_FE_INLINE [[gnu::always_inline]] inline

// An element of GF(2^255 - 19) as five 51-bit limbs, least significant
// first: v[0] + v[1] 2^51 + ... + v[4] 2^204. Limbs may run a few bits over
// 51 between operations; to_bytes() gives the canonical value.
struct Fe {
  u64 v[5];
};

// Hides a value from the optimiser so that masks built from secret bits stay
// masks and are never turned into branches.
VELTO_FE_INLINE u64 value_barrier(u64 x) noexcept {
  __asm__ volatile("" : "+r"(x));
  return x;
}

VELTO_FE_INLINE u64 load64_le(const std::uint8_t* p) noexcept {
  u64 r = 0;
  for (int i = 7; i >= 0; --i) r = (r << 8) | p[i];
  return r;
}

VELTO_FE_INLINE Fe fe_zero() noexcept { return Fe{{0, 0, 0, 0, 0}}; }
VELTO_FE_INLINE Fe fe_one() noexcept { return Fe{{1, 0, 0, 0, 0}}; }

// Bit 255 is dropped; a value at or above p is kept as it is (the limbs
// stay below 2^51, and the arithmetic reduces it).
VELTO_FE_INLINE Fe fe_from_bytes(const std::uint8_t* s) noexcept {
  const u64 w0 = load64_le(s);
  const u64 w1 = load64_le(s + 8);
  const u64 w2 = load64_le(s + 16);
  const u64 w3 = load64_le(s + 24);
  Fe r;
  r.v[0] = w0 & kMask51;
  r.v[1] = ((w0 >> 51) | (w1 << 13)) & kMask51;
  r.v[2] = ((w1 >> 38) | (w2 << 26)) & kMask51;
  r.v[3] = ((w2 >> 25) | (w3 << 39)) & kMask51;
  r.v[4] = (w3 >> 12) & kMask51;
  return r;
}

// One pass of carries; afterwards every limb is below 2^51 except that v[1]
// may exceed it by a tiny amount.
VELTO_FE_INLINE Fe fe_carry(const Fe& a) noexcept {
  Fe r = a;
  u64 c;
  c = r.v[0] >> 51; r.v[0] &= kMask51; r.v[1] += c;
  c = r.v[1] >> 51; r.v[1] &= kMask51; r.v[2] += c;
  c = r.v[2] >> 51; r.v[2] &= kMask51; r.v[3] += c;
  c = r.v[3] >> 51; r.v[3] &= kMask51; r.v[4] += c;
  c = r.v[4] >> 51; r.v[4] &= kMask51; r.v[0] += 19 * c;
  c = r.v[0] >> 51; r.v[0] &= kMask51; r.v[1] += c;
  return r;
}

// No carry: inputs below 2^52 give limbs below 2^53, which mul and sqr take.
VELTO_FE_INLINE Fe fe_add(const Fe& a, const Fe& b) noexcept {
  return Fe{{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3], a.v[4] + b.v[4]}};
}

// a + 4p - b, not carried. b's limbs must be below 2^53 - 76; with a and b
// below 2^52 the result's limbs stay below 2^54, which mul and sqr take.
VELTO_FE_INLINE Fe fe_sub(const Fe& a, const Fe& b) noexcept {
  constexpr u64 k4p0 = 4 * ((u64{1} << 51) - 19);
  constexpr u64 k4pi = 4 * ((u64{1} << 51) - 1);
  return Fe{{a.v[0] + k4p0 - b.v[0], a.v[1] + k4pi - b.v[1], a.v[2] + k4pi - b.v[2], a.v[3] + k4pi - b.v[3],
             a.v[4] + k4pi - b.v[4]}};
}

// Carries five 128-bit column sums into limbs; 2^255 = 19 folds the top
// carry back into the bottom limb.
VELTO_FE_INLINE Fe fe_reduce_wide(u128 r0, u128 r1, u128 r2, u128 r3, u128 r4) noexcept {
  r1 += static_cast<u64>(r0 >> 51);
  r2 += static_cast<u64>(r1 >> 51);
  r3 += static_cast<u64>(r2 >> 51);
  r4 += static_cast<u64>(r3 >> 51);
  Fe out;
  out.v[1] = static_cast<u64>(r1) & kMask51;
  out.v[2] = static_cast<u64>(r2) & kMask51;
  out.v[3] = static_cast<u64>(r3) & kMask51;
  out.v[4] = static_cast<u64>(r4) & kMask51;
  const u128 low = (static_cast<u64>(r0) & kMask51) + static_cast<u128>(static_cast<u64>(r4 >> 51)) * 19;
  out.v[0] = static_cast<u64>(low) & kMask51;
  out.v[1] += static_cast<u64>(low >> 51);
  return out;
}

VELTO_FE_INLINE Fe fe_mul(const Fe& a, const Fe& b) noexcept {
  const u64 b1_19 = 19 * b.v[1];
  const u64 b2_19 = 19 * b.v[2];
  const u64 b3_19 = 19 * b.v[3];
  const u64 b4_19 = 19 * b.v[4];
  const auto m = [](u64 x, u64 y) { return static_cast<u128>(x) * y; };
  const u128 r0 = m(a.v[0], b.v[0]) + m(a.v[1], b4_19) + m(a.v[2], b3_19) + m(a.v[3], b2_19) + m(a.v[4], b1_19);
  const u128 r1 = m(a.v[0], b.v[1]) + m(a.v[1], b.v[0]) + m(a.v[2], b4_19) + m(a.v[3], b3_19) + m(a.v[4], b2_19);
  const u128 r2 = m(a.v[0], b.v[2]) + m(a.v[1], b.v[1]) + m(a.v[2], b.v[0]) + m(a.v[3], b4_19) + m(a.v[4], b3_19);
  const u128 r3 = m(a.v[0], b.v[3]) + m(a.v[1], b.v[2]) + m(a.v[2], b.v[1]) + m(a.v[3], b.v[0]) + m(a.v[4], b4_19);
  const u128 r4 = m(a.v[0], b.v[4]) + m(a.v[1], b.v[3]) + m(a.v[2], b.v[2]) + m(a.v[3], b.v[1]) + m(a.v[4], b.v[0]);
  return fe_reduce_wide(r0, r1, r2, r3, r4);
}

VELTO_FE_INLINE Fe fe_sqr(const Fe& a) noexcept {
  const u64 a0_2 = 2 * a.v[0];
  const u64 a1_2 = 2 * a.v[1];
  const u64 a1_38 = 38 * a.v[1];
  const u64 a2_38 = 38 * a.v[2];
  const u64 a3_38 = 38 * a.v[3];
  const u64 a3_19 = 19 * a.v[3];
  const u64 a4_19 = 19 * a.v[4];
  const auto m = [](u64 x, u64 y) { return static_cast<u128>(x) * y; };
  const u128 r0 = m(a.v[0], a.v[0]) + m(a1_38, a.v[4]) + m(a2_38, a.v[3]);
  const u128 r1 = m(a0_2, a.v[1]) + m(a2_38, a.v[4]) + m(a3_19, a.v[3]);
  const u128 r2 = m(a0_2, a.v[2]) + m(a.v[1], a.v[1]) + m(a3_38, a.v[4]);
  const u128 r3 = m(a0_2, a.v[3]) + m(a1_2, a.v[2]) + m(a4_19, a.v[4]);
  const u128 r4 = m(a0_2, a.v[4]) + m(a1_2, a.v[3]) + m(a.v[2], a.v[2]);
  return fe_reduce_wide(r0, r1, r2, r3, r4);
}

Fe fe_sqr_n(Fe a, int n) noexcept {
  for (int i = 0; i < n; ++i) a = fe_sqr(a);
  return a;
}

VELTO_FE_INLINE Fe fe_mul_small(const Fe& a, u64 k) noexcept {
  return fe_reduce_wide(static_cast<u128>(a.v[0]) * k, static_cast<u128>(a.v[1]) * k, static_cast<u128>(a.v[2]) * k,
                        static_cast<u128>(a.v[3]) * k, static_cast<u128>(a.v[4]) * k);
}

// Swaps a and b when bit is 1, without a branch.
VELTO_FE_INLINE void fe_cswap(Fe& a, Fe& b, u64 bit) noexcept {
  const u64 mask = value_barrier(0 - bit);
  for (int i = 0; i < 5; ++i) {
    const u64 t = mask & (a.v[i] ^ b.v[i]);
    a.v[i] ^= t;
    b.v[i] ^= t;
  }
}

// z^(2^250 - 1), and z^11 on the side: the common prefix of the inversion
// and the quadratic-character chains.
Fe fe_pow_2_250_1(const Fe& z, Fe& z11) noexcept {
  const Fe z2 = fe_sqr(z);
  const Fe z9 = fe_mul(fe_sqr_n(z2, 2), z);
  z11 = fe_mul(z9, z2);
  const Fe z_5_0 = fe_mul(fe_sqr(z11), z9);           // 2^5 - 1
  const Fe z_10_0 = fe_mul(fe_sqr_n(z_5_0, 5), z_5_0);  // 2^10 - 1
  const Fe z_20_0 = fe_mul(fe_sqr_n(z_10_0, 10), z_10_0);
  const Fe z_40_0 = fe_mul(fe_sqr_n(z_20_0, 20), z_20_0);
  const Fe z_50_0 = fe_mul(fe_sqr_n(z_40_0, 10), z_10_0);
  const Fe z_100_0 = fe_mul(fe_sqr_n(z_50_0, 50), z_50_0);
  const Fe z_200_0 = fe_mul(fe_sqr_n(z_100_0, 100), z_100_0);
  return fe_mul(fe_sqr_n(z_200_0, 50), z_50_0);  // 2^250 - 1
}

// z^(p - 2) = z^(2^255 - 21): the inverse, and 0 for 0.
Fe fe_invert(const Fe& z) noexcept {
  Fe z11;
  const Fe t = fe_pow_2_250_1(z, z11);
  return fe_mul(fe_sqr_n(t, 5), z11);
}

// z^((p - 1) / 2) = z^(2^254 - 10): 1 for a non-zero square, -1 for a
// non-square, 0 for 0.
Fe fe_quadratic_character(const Fe& z) noexcept {
  Fe z11;
  const Fe t = fe_pow_2_250_1(z, z11);
  const Fe z2 = fe_sqr(z);
  const Fe z6 = fe_mul(fe_sqr(z2), z2);
  return fe_mul(fe_sqr_n(t, 4), z6);
}

// The canonical encoding: fully reduced below p, little-endian.
void fe_to_bytes(std::uint8_t* s, const Fe& a) noexcept {
  Fe t = fe_carry(fe_carry(a));
  // Now t < 2^255 + small. q = 1 exactly when t >= p: t + 19 carries past
  // 2^255.
  u64 q = (t.v[0] + 19) >> 51;
  q = (t.v[1] + q) >> 51;
  q = (t.v[2] + q) >> 51;
  q = (t.v[3] + q) >> 51;
  q = (t.v[4] + q) >> 51;
  // t - q p = t + 19 q - q 2^255.
  t.v[0] += 19 * q;
  u64 c;
  c = t.v[0] >> 51; t.v[0] &= kMask51; t.v[1] += c;
  c = t.v[1] >> 51; t.v[1] &= kMask51; t.v[2] += c;
  c = t.v[2] >> 51; t.v[2] &= kMask51; t.v[3] += c;
  c = t.v[3] >> 51; t.v[3] &= kMask51; t.v[4] += c;
  t.v[4] &= kMask51;
  const u64 w[4] = {
      t.v[0] | (t.v[1] << 51),
      (t.v[1] >> 13) | (t.v[2] << 38),
      (t.v[2] >> 26) | (t.v[3] << 25),
      (t.v[3] >> 39) | (t.v[4] << 12),
  };
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 8; ++j) s[8 * i + j] = static_cast<std::uint8_t>(w[i] >> (8 * j));
  }
}

crypto::ByteArray<32> fe_bytes(const Fe& a) noexcept {
  crypto::ByteArray<32> out;
  fe_to_bytes(out.data(), a);
  return out;
}

bool fe_is_zero(const Fe& a) noexcept {
  const crypto::ByteArray<32> b = fe_bytes(a);
  std::uint8_t acc = 0;
  for (const std::uint8_t x : b) acc |= x;
  return acc == 0;
}

bool fe_equal(const Fe& a, const Fe& b) noexcept { return fe_bytes(a) == fe_bytes(b); }

template <class T>
void wipe(T& v) noexcept {
  crypto::secure_wipe(&v, sizeof v);
}

// (A - 2) / 4 for Curve25519's A = 486662.
constexpr u64 kA24 = 121665;

// Edwards25519's d = -121665 / 121666, little-endian.
constexpr crypto::ByteArray<32> kEdwardsD = {
    0xa3, 0x78, 0x59, 0x13, 0xca, 0x4d, 0xeb, 0x75, 0xab, 0xd8, 0x41, 0x41, 0x4d, 0x0a, 0x70, 0x00,
    0x98, 0xe8, 0x79, 0x77, 0x79, 0x40, 0xc7, 0x8c, 0x73, 0xfe, 0x6f, 0x2b, 0xee, 0x6c, 0x03, 0x52,
};

// The ladder itself, ending in projective form: k * u = X / Z, with Z = 0
// for the point at infinity.
void ladder_projective(const crypto::ByteArray<32>& u, const crypto::ByteArray<32>& k, Fe& x_out,
                       Fe& z_out) noexcept {
  const Fe x1 = fe_carry(fe_from_bytes(u.data()));
  Fe x2 = fe_one();
  Fe z2 = fe_zero();
  Fe x3 = x1;
  Fe z3 = fe_one();
  u64 swap = 0;

  // 255 bits, most significant first: bits 6..0 of k[0], then all of k[1..31].
  for (int t = 254; t >= 0; --t) {
    const int byte = 31 - t / 8;
    const u64 bit = (static_cast<u64>(k[static_cast<std::size_t>(byte)]) >> (t % 8)) & 1;
    swap ^= bit;
    fe_cswap(x2, x3, swap);
    fe_cswap(z2, z3, swap);
    swap = bit;

    // Differential addition and doubling (RFC 7748, section 5).
    const Fe a = fe_add(x2, z2);
    const Fe aa = fe_sqr(a);
    const Fe b = fe_sub(x2, z2);
    const Fe bb = fe_sqr(b);
    const Fe e = fe_sub(aa, bb);
    const Fe c = fe_add(x3, z3);
    const Fe d = fe_sub(x3, z3);
    const Fe da = fe_mul(d, a);
    const Fe cb = fe_mul(c, b);
    x3 = fe_sqr(fe_add(da, cb));
    z3 = fe_mul(x1, fe_sqr(fe_sub(da, cb)));
    x2 = fe_mul(aa, bb);
    z2 = fe_mul(e, fe_add(aa, fe_mul_small(e, kA24)));
  }
  fe_cswap(x2, x3, swap);
  fe_cswap(z2, z3, swap);
  x_out = x2;
  z_out = z2;
  wipe(x2);
  wipe(z2);
  wipe(x3);
  wipe(z3);
  wipe(swap);
}

// (X : Z) becomes (0 : 1) when Z = 0, without a branch, so that a batch
// inversion never meets a zero and the point at infinity still gives 0.
void fix_infinity(Fe& x, Fe& z) noexcept {
  crypto::ByteArray<32> zb = fe_bytes(z);
  u64 acc = 0;
  for (const std::uint8_t v : zb) acc |= v;
  const u64 is_zero = value_barrier((acc - 1) >> 63);  // acc <= 255
  Fe zero = fe_zero();
  Fe one = fe_one();
  fe_cswap(x, zero, is_zero);
  fe_cswap(z, one, is_zero);
  wipe(zb);
  wipe(zero);
  wipe(one);
}

// The ladders of a batch on the IFMA kernel, kIfmaLanes at a time; the
// lanes past the end of the batch run on u = 0, k = 0 and are dropped.
void projective_ifma(std::span<const crypto::ByteArray<32>> u, std::span<const crypto::ByteArray<32>> k,
                     std::span<Fe> xs, std::span<Fe> zs) noexcept {
  constexpr std::size_t L = lanes::kIfmaLanes;
  struct Chunk {
    u64 x1[5][L];
    u64 k[4][L];
    u64 x[5][L];
    u64 z[5][L];
  };
  Chunk c;
  const std::size_t n = u.size();
  for (std::size_t start = 0; start < n; start += L) {
    c = Chunk{};
    const std::size_t lanes_used = std::min(L, n - start);
    for (std::size_t l = 0; l < lanes_used; ++l) {
      const std::size_t j = start + l;
      const Fe x1 = fe_carry(fe_from_bytes(u[j].data()));
      for (int i = 0; i < 5; ++i) c.x1[i][l] = x1.v[i];
      // The big-endian scalar as little-endian 64-bit words.
      const crypto::ByteArray<32>& kj = k.size() == 1 ? k[0] : k[j];
      for (std::size_t w = 0; w < 4; ++w) {
        u64 word = 0;
        for (std::size_t b = 0; b < 8; ++b) word |= static_cast<u64>(kj[31 - (8 * w + b)]) << (8 * b);
        c.k[w][l] = word;
      }
    }
    lanes::ladder_ifma(c.x1, c.k, c.x, c.z);
    for (std::size_t l = 0; l < lanes_used; ++l) {
      for (int i = 0; i < 5; ++i) {
        xs[start + l].v[i] = c.x[i][l];
        zs[start + l].v[i] = c.z[i][l];
      }
    }
  }
  wipe(c);
}

}  // namespace

crypto::ByteArray<32> moller_ladder(const crypto::ByteArray<32>& u, const crypto::ByteArray<32>& k) noexcept {
  Fe x;
  Fe z;
  ladder_projective(u, k, x, z);
  // Z = 0 inverts to 0, so the point at infinity comes out as 0.
  Fe r = fe_mul(x, fe_invert(z));
  crypto::ByteArray<32> out = fe_bytes(r);
  wipe(x);
  wipe(z);
  wipe(r);
  return out;
}

void moller_ladder_batch(std::span<const crypto::ByteArray<32>> u, std::span<const crypto::ByteArray<32>> k,
                         std::span<crypto::ByteArray<32>> out) {
  moller_ladder_batch(ladder_kernel(), u, k, out);
}

bool ladder_kernel_available(LadderKernel kernel) noexcept {
  switch (kernel) {
    case LadderKernel::portable:
      return true;
    case LadderKernel::ifma: {
      static const bool supported = lanes::ifma_supported();
      return supported;
    }
  }
  return false;
}

LadderKernel ladder_kernel() noexcept {
  static const LadderKernel chosen =
      ladder_kernel_available(LadderKernel::ifma) ? LadderKernel::ifma : LadderKernel::portable;
  return chosen;
}

void moller_ladder_batch(LadderKernel kernel, std::span<const crypto::ByteArray<32>> u,
                         std::span<const crypto::ByteArray<32>> k, std::span<crypto::ByteArray<32>> out) {
  const std::size_t n = u.size();
  if (out.size() != n || (k.size() != n && k.size() != 1)) velto::panic("moller_ladder_batch: mismatched lengths");
  if (!ladder_kernel_available(kernel)) velto::panic("moller_ladder_batch: kernel not available on this machine");
  if (n == 0) return;

  std::vector<Fe> xs(n);
  std::vector<Fe> zs(n);
  if (kernel == LadderKernel::ifma) {
    projective_ifma(u, k, xs, zs);
  } else {
    for (std::size_t j = 0; j < n; ++j) ladder_projective(u[j], k.size() == 1 ? k[0] : k[j], xs[j], zs[j]);
  }

  std::vector<Fe> prefix(n);  // prefix[j] = zs[0] * ... * zs[j]
  for (std::size_t j = 0; j < n; ++j) {
    fix_infinity(xs[j], zs[j]);
    prefix[j] = j == 0 ? zs[0] : fe_mul(prefix[j - 1], zs[j]);
  }
  // Montgomery's trick: one inversion for the whole batch.
  Fe inv = fe_invert(prefix[n - 1]);
  for (std::size_t j = n - 1; j > 0; --j) {
    const Fe inv_j = fe_mul(inv, prefix[j - 1]);
    inv = fe_mul(inv, zs[j]);
    fe_to_bytes(out[j].data(), fe_mul(xs[j], inv_j));
  }
  fe_to_bytes(out[0].data(), fe_mul(xs[0], inv));

  crypto::secure_wipe(xs.data(), n * sizeof(Fe));
  crypto::secure_wipe(zs.data(), n * sizeof(Fe));
  crypto::secure_wipe(prefix.data(), n * sizeof(Fe));
  wipe(inv);
}

bool has_edwards_image(const crypto::ByteArray<32>& u_bytes) noexcept {
  const Fe one = fe_one();
  const Fe u = fe_carry(fe_from_bytes(u_bytes.data()));
  const Fe u_plus_1 = fe_add(u, one);
  if (fe_is_zero(u_plus_1)) return false;  // u = -1 has no Edwards image

  // y = (u - 1) / (u + 1), taken through its canonical encoding as an
  // Edwards decoder would read it.
  const crypto::ByteArray<32> y_bytes = fe_bytes(fe_mul(fe_sub(u, one), fe_invert(u_plus_1)));
  const Fe y = fe_from_bytes(y_bytes.data());

  // x^2 = (y^2 - 1) / (d y^2 + 1). The denominator never vanishes (-1/d is
  // not a square), so x exists exactly when num * den is a square or zero.
  // With sign bit 0 even x = 0 decodes.
  const Fe y2 = fe_sqr(y);
  const Fe num = fe_sub(y2, one);
  const Fe den = fe_add(fe_mul(fe_from_bytes(kEdwardsD.data()), y2), one);
  const Fe chi = fe_quadratic_character(fe_mul(num, den));
  return fe_is_zero(chi) || fe_equal(chi, one);
}

}  // namespace velto::ot

namespace velto::ot::lanes {

// Here rather than beside the kernel: that file is built for AVX-512, and
// this must run on any CPU.
bool ifma_supported() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
}

}  // namespace velto::ot::lanes
