// Arithmetic modulo the secp256k1 group order
//   n = 2^256 - c,  c = 0x1_4551231950B75FC4_402DA1732FC9BEBF (129 bits).
// Products are reduced with 2^256 ≡ c (mod n): a 512-bit value hi·2^256 + lo
// folds to lo + hi·c, three folds bring it below 2^257, and a final fix-up and
// one conditional subtraction make it canonical. Everything that touches a
// value is straight-line code; selections use masks.
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "crypto/secp256k1.hpp"

namespace velto::crypto {
namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
using Words = Scalar::Words;

constexpr Words kN = {0xBFD25E8CD0364141ULL, 0xBAAEDCE6AF48A03BULL, 0xFFFFFFFFFFFFFFFEULL,
                      0xFFFFFFFFFFFFFFFFULL};
// c = 2^256 - n; its top word is 1, so only the two low words need products.
constexpr u64 kC0 = 0x402DA1732FC9BEBFULL;
constexpr u64 kC1 = 0x4551231950B75FC4ULL;
constexpr Words kC = {kC0, kC1, 1, 0};
// (n - 1) / 2.
constexpr Words kHalfN = {(kN[0] >> 1) | (kN[1] << 63), (kN[1] >> 1) | (kN[2] << 63),
                          (kN[2] >> 1) | (kN[3] << 63), kN[3] >> 1};

// Hides a value from the optimiser so that mask arithmetic is not turned back
// into branches.
inline u64 opaque(u64 x) noexcept {
  asm("" : "+r"(x));
  return x;
}

// Clears temporaries that held secret values; the asm makes the stores
// observable so they are not removed as dead.
template <std::size_t K>
inline void wipe_words(u64 (&w)[K]) noexcept {
#pragma GCC unroll 8
  for (std::size_t i = 0; i < K; ++i) w[i] = 0;
  asm volatile("" : : "m"(w));
}

// All ones when bit is 1, zero when it is 0.
inline u64 mask_from_bit(u64 bit) noexcept { return 0 - opaque(bit); }

// a + b + carry_in; carry_out gets the carry (0 or 1).
inline u64 adc(u64 a, u64 b, u64 carry_in, u64& carry_out) noexcept {
#if defined(__x86_64__)
  unsigned long long r;
  carry_out = _addcarry_u64(static_cast<unsigned char>(carry_in), a, b, &r);
  return r;
#else
  const u128 t = static_cast<u128>(a) + b + carry_in;
  carry_out = static_cast<u64>(t >> 64);
  return static_cast<u64>(t);
#endif
}

// a - b - borrow_in; borrow_out gets the borrow (0 or 1).
inline u64 sbb(u64 a, u64 b, u64 borrow_in, u64& borrow_out) noexcept {
#if defined(__x86_64__)
  unsigned long long r;
  borrow_out = _subborrow_u64(static_cast<unsigned char>(borrow_in), a, b, &r);
  return r;
#else
  const u128 t = static_cast<u128>(a) - b - borrow_in;
  borrow_out = static_cast<u64>(t >> 64) & 1;
  return static_cast<u64>(t);
#endif
}

// r = a + b; returns the carry out.
inline u64 add4(Words& r, const Words& a, const Words& b) noexcept {
  u64 c = 0;
  r[0] = adc(a[0], b[0], 0, c);
  r[1] = adc(a[1], b[1], c, c);
  r[2] = adc(a[2], b[2], c, c);
  r[3] = adc(a[3], b[3], c, c);
  return c;
}

// r = a - b; returns the borrow out (1 when a < b).
inline u64 sub4(Words& r, const Words& a, const Words& b) noexcept {
  u64 c = 0;
  r[0] = sbb(a[0], b[0], 0, c);
  r[1] = sbb(a[1], b[1], c, c);
  r[2] = sbb(a[2], b[2], c, c);
  r[3] = sbb(a[3], b[3], c, c);
  return c;
}

// r = mask ? b : a, word by word.
inline void select4(Words& r, const Words& a, const Words& b, u64 mask) noexcept {
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 4; ++i) r[i] = a[i] ^ (mask & (a[i] ^ b[i]));
}

// For a < 2^256: a - n when a >= n, else a.
inline Words reduce_once(const Words& a, u64 carry_in = 0) noexcept {
  Words d;
  const u64 borrow = sub4(d, a, kN);
  // Keep a only when it is below n and nothing overflowed into bit 256.
  const u64 keep = borrow & (carry_in ^ 1);
  Words r;
  select4(r, d, a, mask_from_bit(keep));
  return r;
}

// Three-word column accumulator for schoolbook products.
struct Acc {
  u64 c0 = 0, c1 = 0, c2 = 0;
  void add(u64 a) noexcept {
    u64 c;
    c0 = adc(c0, a, 0, c);
    c1 = adc(c1, 0, c, c);
    c2 += c;
  }
  void muladd(u64 a, u64 b) noexcept {
    const u128 p = static_cast<u128>(a) * b;
    u64 c;
    c0 = adc(c0, static_cast<u64>(p), 0, c);
    c1 = adc(c1, static_cast<u64>(p >> 64), c, c);
    c2 += c;
  }
  // Adds 2·a·b (the cross terms of a square).
  void muladd2(u64 a, u64 b) noexcept {
    const u128 p = static_cast<u128>(a) * b;
    const u64 lo = static_cast<u64>(p);
    const u64 hi = static_cast<u64>(p >> 64);
    u64 c;
    c0 = adc(c0, lo << 1, 0, c);
    c1 = adc(c1, (hi << 1) | (lo >> 63), c, c);
    c2 += c + (hi >> 63);
  }
  u64 extract() noexcept {
    const u64 r = c0;
    c0 = c1;
    c1 = c2;
    c2 = 0;
    return r;
  }
};

// A 512-bit value (eight words, least significant first) modulo n. Each
// fold computes lo + hi·c column by column (c = c0 + c1·2^64 + 2^128).
Words reduce512(const u64 (&l)[8]) noexcept {
  Acc acc;
  // m = l[0..3] + l[4..7]·c  < 2^256 + 2^385 (seven words)
  u64 m[7];
  acc.add(l[0]);
  acc.muladd(l[4], kC0);
  m[0] = acc.extract();
  acc.add(l[1]);
  acc.muladd(l[4], kC1);
  acc.muladd(l[5], kC0);
  m[1] = acc.extract();
  acc.add(l[2]);
  acc.add(l[4]);
  acc.muladd(l[5], kC1);
  acc.muladd(l[6], kC0);
  m[2] = acc.extract();
  acc.add(l[3]);
  acc.add(l[5]);
  acc.muladd(l[6], kC1);
  acc.muladd(l[7], kC0);
  m[3] = acc.extract();
  acc.add(l[6]);
  acc.muladd(l[7], kC1);
  m[4] = acc.extract();
  acc.add(l[7]);
  m[5] = acc.extract();
  m[6] = acc.extract();

  // p = m[0..3] + m[4..6]·c  < 2^256 + 2^259 (five words)
  u64 p[5];
  acc.add(m[0]);
  acc.muladd(m[4], kC0);
  p[0] = acc.extract();
  acc.add(m[1]);
  acc.muladd(m[4], kC1);
  acc.muladd(m[5], kC0);
  p[1] = acc.extract();
  acc.add(m[2]);
  acc.add(m[4]);
  acc.muladd(m[5], kC1);
  acc.muladd(m[6], kC0);
  p[2] = acc.extract();
  acc.add(m[3]);
  acc.add(m[5]);
  acc.muladd(m[6], kC1);
  p[3] = acc.extract();
  acc.add(m[6]);
  p[4] = acc.extract();

  // q = p[0..3] + p[4]·c  < 2^256 + 2^133: either q4 = 0, or q4 = 1 and
  // q[0..3] < 2^133.
  Words t;
  acc.add(p[0]);
  acc.muladd(p[4], kC0);
  t[0] = acc.extract();
  acc.add(p[1]);
  acc.muladd(p[4], kC1);
  t[1] = acc.extract();
  acc.add(p[2]);
  acc.add(p[4]);
  t[2] = acc.extract();
  acc.add(p[3]);
  t[3] = acc.extract();
  const u64 q4 = acc.extract();

  // Fold the last bit: t + q4·c < 2^256 in both cases.
  Words cm;
  const u64 mask = mask_from_bit(q4);
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 4; ++i) cm[i] = kC[i] & mask;
  add4(t, t, cm);
  const Words r = reduce_once(t);
  wipe_words(m);
  wipe_words(p);
  return r;
}

Words mul_words(const Words& a, const Words& b) noexcept {
  u64 l[8];
  Acc acc;
  acc.muladd(a[0], b[0]);
  l[0] = acc.extract();
  acc.muladd(a[0], b[1]);
  acc.muladd(a[1], b[0]);
  l[1] = acc.extract();
  acc.muladd(a[0], b[2]);
  acc.muladd(a[1], b[1]);
  acc.muladd(a[2], b[0]);
  l[2] = acc.extract();
  acc.muladd(a[0], b[3]);
  acc.muladd(a[1], b[2]);
  acc.muladd(a[2], b[1]);
  acc.muladd(a[3], b[0]);
  l[3] = acc.extract();
  acc.muladd(a[1], b[3]);
  acc.muladd(a[2], b[2]);
  acc.muladd(a[3], b[1]);
  l[4] = acc.extract();
  acc.muladd(a[2], b[3]);
  acc.muladd(a[3], b[2]);
  l[5] = acc.extract();
  acc.muladd(a[3], b[3]);
  l[6] = acc.extract();
  l[7] = acc.extract();
  const Words r = reduce512(l);
  // The product is as secret as its factors.
  wipe_words(l);
  return r;
}

Words sqr_words(const Words& a) noexcept {
  u64 l[8];
  Acc acc;
  acc.muladd(a[0], a[0]);
  l[0] = acc.extract();
  acc.muladd2(a[0], a[1]);
  l[1] = acc.extract();
  acc.muladd2(a[0], a[2]);
  acc.muladd(a[1], a[1]);
  l[2] = acc.extract();
  acc.muladd2(a[0], a[3]);
  acc.muladd2(a[1], a[2]);
  l[3] = acc.extract();
  acc.muladd2(a[1], a[3]);
  acc.muladd(a[2], a[2]);
  l[4] = acc.extract();
  acc.muladd2(a[2], a[3]);
  l[5] = acc.extract();
  acc.muladd(a[3], a[3]);
  l[6] = acc.extract();
  l[7] = acc.extract();
  const Words r = reduce512(l);
  wipe_words(l);
  return r;
}

Words load_be32(const std::uint8_t* b) noexcept {
  Words w;
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 4; ++i) {
    u64 v = 0;
#pragma GCC unroll 8
    for (std::size_t j = 0; j < 8; ++j) v = (v << 8) | b[8 * i + j];
    w[3 - i] = v;
  }
  return w;
}

// Exponent n - 2 for inversion by Fermat's little theorem.
constexpr Words kNMinus2 = {kN[0] - 2, kN[1], kN[2], kN[3]};

constexpr bool exp_bit(std::size_t i) { return ((kNMinus2[i / 64] >> (i % 64)) & 1) != 0; }

}  // namespace

Scalar Scalar::from_u64(std::uint64_t v) noexcept { return Scalar(Words{v, 0, 0, 0}); }

std::optional<Scalar> Scalar::from_bytes_checked(ByteSpan bytes) noexcept {
  if (bytes.size() != 32) return std::nullopt;
  Scalar s(load_be32(bytes.data()));
  Words d;
  if (sub4(d, s.w_, kN) == 0) return std::nullopt;  // s >= n
  return s;
}

Scalar Scalar::from_bytes_reduced(const ByteArray<32>& bytes) noexcept {
  Words w = load_be32(bytes.data());
  Scalar s(reduce_once(w));
  w = {0, 0, 0, 0};
  asm volatile("" : : "m"(w));
  return s;
}

Scalar Scalar::from_bytes_wide(const ByteArray<64>& bytes) noexcept {
  const Words hi = load_be32(bytes.data());
  const Words lo = load_be32(bytes.data() + 32);
  u64 l[8] = {lo[0], lo[1], lo[2], lo[3], hi[0], hi[1], hi[2], hi[3]};
  Scalar s(reduce512(l));
  wipe_words(l);
  return s;
}

ByteArray<32> Scalar::to_bytes() const noexcept {
  ByteArray<32> out;
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 4; ++i) {
    const u64 v = w_[3 - i];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < 8; ++j) out[8 * i + j] = static_cast<std::uint8_t>(v >> (56 - 8 * j));
  }
  return out;
}

bool Scalar::is_zero() const noexcept { return opaque(w_[0] | w_[1] | w_[2] | w_[3]) == 0; }

bool Scalar::is_high() const noexcept {
  Words d;
  return sub4(d, kHalfN, w_) == 1;
}

Scalar Scalar::select(const Scalar& a, const Scalar& b, bool choose_b) noexcept {
  Scalar r;
  select4(r.w_, a.w_, b.w_, mask_from_bit(static_cast<u64>(choose_b)));
  return r;
}

Scalar operator+(const Scalar& a, const Scalar& b) noexcept {
  Words t;
  const u64 carry = add4(t, a.w_, b.w_);
  return Scalar(reduce_once(t, carry));
}

Scalar operator-(const Scalar& a, const Scalar& b) noexcept {
  Words t;
  const u64 borrow = sub4(t, a.w_, b.w_);
  Words nm;
  const u64 mask = mask_from_bit(borrow);
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 4; ++i) nm[i] = kN[i] & mask;
  Scalar r;
  add4(r.w_, t, nm);
  return r;
}

Scalar operator-(const Scalar& a) noexcept { return Scalar() - a; }

Scalar operator*(const Scalar& a, const Scalar& b) noexcept { return Scalar(mul_words(a.w_, b.w_)); }

bool operator==(const Scalar& a, const Scalar& b) noexcept {
  u64 acc = 0;
#pragma GCC unroll 8
  for (std::size_t i = 0; i < 4; ++i) acc |= a.w_[i] ^ b.w_[i];
  return opaque(acc) == 0;
}

Scalar Scalar::square() const noexcept { return Scalar(sqr_words(w_)); }

Scalar Scalar::invert() const noexcept {
  // Left-to-right sliding window of width 5 over the fixed exponent n - 2.
  // Which squarings and which table entries are used depends only on the
  // exponent, never on the value.
  constexpr std::size_t kWindow = 5;
  Scalar odd[16];  // odd[i] = this^(2i+1)
  odd[0] = *this;
  const Scalar sq = square();
  for (std::size_t i = 1; i < 16; ++i) odd[i] = odd[i - 1] * sq;

  Scalar r = one();
  bool started = false;
  std::size_t i = 256;
  while (i > 0) {
    if (!exp_bit(i - 1)) {
      if (started) r = r.square();
      --i;
      continue;
    }
    // Window [i-1 .. j], ending on a set bit, at most kWindow bits wide.
    std::size_t j = i > kWindow ? i - kWindow : 0;
    while (!exp_bit(j)) ++j;
    std::size_t value = 0;
    for (std::size_t b = i; b > j; --b) value = (value << 1) | (exp_bit(b - 1) ? 1 : 0);
    if (started) {
      for (std::size_t s = j; s < i; ++s) r = r.square();
      r *= odd[value >> 1];
    } else {
      r = odd[value >> 1];
      started = true;
    }
    i = j;
  }
  return r;
}

Scalar Scalar::invert_vartime() const noexcept {
  if (is_zero()) return Scalar();
  // Binary extended Euclid with the invariants x1·a ≡ u and x2·a ≡ v (mod n).
  Words u = w_;
  Words v = kN;
  Scalar x1 = one();
  Scalar x2;
  const Words one_w{1, 0, 0, 0};
  auto is_even = [](const Words& w) { return (w[0] & 1) == 0; };
  auto shr1 = [](Words& w) {
#pragma GCC unroll 8
    for (std::size_t k = 0; k < 3; ++k) w[k] = (w[k] >> 1) | (w[k + 1] << 63);
    w[3] >>= 1;
  };
  // x / 2 mod n: add n first when x is odd, keeping the 257th bit.
  auto half = [&](Scalar& x) {
    u64 top = 0;
    if (!is_even(x.w_)) top = add4(x.w_, x.w_, kN);
    shr1(x.w_);
    x.w_[3] |= top << 63;
  };
  for (;;) {
    while (is_even(u)) {
      shr1(u);
      half(x1);
    }
    while (is_even(v)) {
      shr1(v);
      half(x2);
    }
    if (u == one_w) return x1;
    if (v == one_w) return x2;
    Words d;
    if (sub4(d, u, v) == 0) {
      u = d;
      x1 -= x2;
    } else {
      sub4(v, v, u);
      x2 -= x1;
    }
  }
}

}  // namespace velto::crypto
