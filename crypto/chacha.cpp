#include "crypto/chacha.hpp"

#include <sodium.h>

#include <bit>
#include <string>

#include "crypto/error.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELTO_CHACHA_X86 1
#endif

namespace velto::crypto {
namespace chacha_detail {
namespace {

// Per-block values of words 12 and 13 for blocks counter + 0 .. counter + N-1.
template <std::size_t N>
struct BlockCounters {
  std::array<std::uint32_t, N> w12;
  std::array<std::uint32_t, N> w13;
};

template <std::size_t N>
BlockCounters<N> block_counters(const std::array<std::uint32_t, 16>& in, bool wide) noexcept {
  BlockCounters<N> c{};
  const std::uint64_t base =
      static_cast<std::uint64_t>(in[12]) | (wide ? static_cast<std::uint64_t>(in[13]) << 32 : 0);
  for (std::size_t j = 0; j < N; ++j) {
    const std::uint64_t v = base + j;
    c.w12[j] = static_cast<std::uint32_t>(v);
    c.w13[j] = wide ? static_cast<std::uint32_t>(v >> 32) : in[13];
  }
  return c;
}

// The state moved on by `blocks` blocks, with the counter width of `wide`.
std::array<std::uint32_t, 16> advanced(const std::array<std::uint32_t, 16>& in, bool wide,
                                       std::uint32_t blocks) noexcept {
  std::array<std::uint32_t, 16> s = in;
  const BlockCounters<1> c = block_counters<1>(in, wide);
  const std::uint64_t v =
      (static_cast<std::uint64_t>(c.w13[0]) << 32 | c.w12[0]) + blocks;
  s[12] = static_cast<std::uint32_t>(v);
  if (wide) s[13] = static_cast<std::uint32_t>(v >> 32);
  return s;
}


#if defined(__GNUC__) && !defined(__clang__)

// Four blocks side by side: vector i holds state word i of blocks 0..3.
// Written with GCC vector extensions, so it compiles to SSE2 on x86-64, NEON
// on ARM and scalar code elsewhere.
using V4 = std::uint32_t __attribute__((vector_size(16)));
using M4 = std::int32_t __attribute__((vector_size(16)));

inline V4 rotl(V4 v, int n) noexcept { return (v << n) | (v >> (32 - n)); }

#define VELTO_QR4(a, b, c, d) \
  a += b; d = rotl(d ^ a, 16); \
  c += d; b = rotl(b ^ c, 12); \
  a += b; d = rotl(d ^ a, 8);  \
  c += d; b = rotl(b ^ c, 7)

void portable_impl(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                   std::uint8_t* out) noexcept {
  const BlockCounters<4> ctr = block_counters<4>(in, wide);
  V4 s[16];
  for (int i = 0; i < 16; ++i) s[i] = V4{} + in[static_cast<std::size_t>(i)];
  std::memcpy(&s[12], ctr.w12.data(), 16);
  std::memcpy(&s[13], ctr.w13.data(), 16);

  V4 x0 = s[0], x1 = s[1], x2 = s[2], x3 = s[3], x4 = s[4], x5 = s[5], x6 = s[6], x7 = s[7];
  V4 x8 = s[8], x9 = s[9], x10 = s[10], x11 = s[11], x12 = s[12], x13 = s[13], x14 = s[14],
     x15 = s[15];
  for (int r = 0; r < double_rounds; ++r) {
    VELTO_QR4(x0, x4, x8, x12);
    VELTO_QR4(x1, x5, x9, x13);
    VELTO_QR4(x2, x6, x10, x14);
    VELTO_QR4(x3, x7, x11, x15);
    VELTO_QR4(x0, x5, x10, x15);
    VELTO_QR4(x1, x6, x11, x12);
    VELTO_QR4(x2, x7, x8, x13);
    VELTO_QR4(x3, x4, x9, x14);
  }
  V4 x[16] = {x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12, x13, x14, x15};
  for (int i = 0; i < 16; ++i) x[i] += s[i];

  // Transpose 4x4 groups of words so each block's words become contiguous.
  for (int g = 0; g < 4; ++g) {
    const V4 a = x[4 * g], b = x[4 * g + 1], c = x[4 * g + 2], d = x[4 * g + 3];
    const V4 t0 = __builtin_shuffle(a, b, M4{0, 4, 1, 5});
    const V4 t1 = __builtin_shuffle(a, b, M4{2, 6, 3, 7});
    const V4 t2 = __builtin_shuffle(c, d, M4{0, 4, 1, 5});
    const V4 t3 = __builtin_shuffle(c, d, M4{2, 6, 3, 7});
    V4 o[4] = {__builtin_shuffle(t0, t2, M4{0, 1, 4, 5}), __builtin_shuffle(t0, t2, M4{2, 3, 6, 7}),
               __builtin_shuffle(t1, t3, M4{0, 1, 4, 5}), __builtin_shuffle(t1, t3, M4{2, 3, 6, 7})};
    for (int j = 0; j < 4; ++j) {
      std::uint8_t* dst = out + 64 * j + 16 * g;
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dst, &o[j], 16);
      } else {
        for (int k = 0; k < 4; ++k) store_le32(dst + 4 * k, o[j][k]);
      }
    }
  }
}

#undef VELTO_QR4

#else

void portable_impl(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                   std::uint8_t* out) noexcept {
  const BlockCounters<4> ctr = block_counters<4>(in, wide);
  for (std::size_t j = 0; j < 4; ++j) {
    std::array<std::uint32_t, 16> s = in;
    s[12] = ctr.w12[j];
    s[13] = ctr.w13[j];
    std::array<std::uint32_t, 16> x = s;
    for (int r = 0; r < double_rounds; ++r) {
      quarter_round(x, 0, 4, 8, 12);
      quarter_round(x, 1, 5, 9, 13);
      quarter_round(x, 2, 6, 10, 14);
      quarter_round(x, 3, 7, 11, 15);
      quarter_round(x, 0, 5, 10, 15);
      quarter_round(x, 1, 6, 11, 12);
      quarter_round(x, 2, 7, 8, 13);
      quarter_round(x, 3, 4, 9, 14);
    }
    for (std::size_t i = 0; i < 16; ++i) store_le32(out + 64 * j + 4 * i, x[i] + s[i]);
  }
}

#endif

#if defined(VELTO_CHACHA_X86)

// Two blocks per 256-bit register (one per 128-bit lane), rows a b c d of
// the state in four registers; blocks 0-1 and 2-3 run as two interleaved
// independent groups. Diagonal rounds rotate rows b, c, d within each lane.
__attribute__((target("avx2"))) inline __m256i rot16(__m256i v) {
  const __m256i m = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0,
                                     1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  return _mm256_shuffle_epi8(v, m);
}
__attribute__((target("avx2"))) inline __m256i rot8(__m256i v) {
  const __m256i m = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3, 0, 1,
                                     2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
  return _mm256_shuffle_epi8(v, m);
}
template <int N>
__attribute__((target("avx2"))) inline __m256i rotl_n(__m256i v) {
  return _mm256_or_si256(_mm256_slli_epi32(v, N), _mm256_srli_epi32(v, 32 - N));
}

#define VELTO_HALF_ROUND(a, b, c, d)                           \
  a = _mm256_add_epi32(a, b); d = rot16(_mm256_xor_si256(d, a)); \
  c = _mm256_add_epi32(c, d); b = rotl_n<12>(_mm256_xor_si256(b, c)); \
  a = _mm256_add_epi32(a, b); d = rot8(_mm256_xor_si256(d, a));  \
  c = _mm256_add_epi32(c, d); b = rotl_n<7>(_mm256_xor_si256(b, c))

__attribute__((target("avx2"))) void avx2_impl(const std::array<std::uint32_t, 16>& in,
                                               int double_rounds, bool wide,
                                               std::uint8_t* out) noexcept {
  const BlockCounters<4> ctr = block_counters<4>(in, wide);
  alignas(32) std::uint32_t drows[16];
  for (std::size_t j = 0; j < 4; ++j) {
    drows[4 * j] = ctr.w12[j];
    drows[4 * j + 1] = ctr.w13[j];
    drows[4 * j + 2] = in[14];
    drows[4 * j + 3] = in[15];
  }
  const __m256i a0 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&in[0])));
  const __m256i b0 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&in[4])));
  const __m256i c0 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&in[8])));
  const __m256i d0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(&drows[0]));
  const __m256i d1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(&drows[8]));

  __m256i a = a0, b = b0, c = c0, d = d0;
  __m256i e = a0, f = b0, g = c0, h = d1;
  for (int r = 0; r < double_rounds; ++r) {
    VELTO_HALF_ROUND(a, b, c, d);
    VELTO_HALF_ROUND(e, f, g, h);
    b = _mm256_shuffle_epi32(b, 0x39); c = _mm256_shuffle_epi32(c, 0x4e); d = _mm256_shuffle_epi32(d, 0x93);
    f = _mm256_shuffle_epi32(f, 0x39); g = _mm256_shuffle_epi32(g, 0x4e); h = _mm256_shuffle_epi32(h, 0x93);
    VELTO_HALF_ROUND(a, b, c, d);
    VELTO_HALF_ROUND(e, f, g, h);
    b = _mm256_shuffle_epi32(b, 0x93); c = _mm256_shuffle_epi32(c, 0x4e); d = _mm256_shuffle_epi32(d, 0x39);
    f = _mm256_shuffle_epi32(f, 0x93); g = _mm256_shuffle_epi32(g, 0x4e); h = _mm256_shuffle_epi32(h, 0x39);
  }
  a = _mm256_add_epi32(a, a0); b = _mm256_add_epi32(b, b0);
  c = _mm256_add_epi32(c, c0); d = _mm256_add_epi32(d, d0);
  e = _mm256_add_epi32(e, a0); f = _mm256_add_epi32(f, b0);
  g = _mm256_add_epi32(g, c0); h = _mm256_add_epi32(h, d1);

  // Block 2k takes the low lanes of group k, block 2k + 1 the high lanes.
  auto* o = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(o + 0, _mm256_permute2x128_si256(a, b, 0x20));
  _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(c, d, 0x20));
  _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(a, b, 0x31));
  _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(c, d, 0x31));
  _mm256_storeu_si256(o + 4, _mm256_permute2x128_si256(e, f, 0x20));
  _mm256_storeu_si256(o + 5, _mm256_permute2x128_si256(g, h, 0x20));
  _mm256_storeu_si256(o + 6, _mm256_permute2x128_si256(e, f, 0x31));
  _mm256_storeu_si256(o + 7, _mm256_permute2x128_si256(g, h, 0x31));
}

#undef VELTO_HALF_ROUND

// Eight blocks side by side, one per 32-bit lane: register i holds state
// word i of blocks 0..7. Rotations by 16 and 8 are byte shuffles.
#define VELTO_QR8(a, b, c, d)                                              \
  a = _mm256_add_epi32(a, b); d = rot16(_mm256_xor_si256(d, a));          \
  c = _mm256_add_epi32(c, d); b = rotl_n<12>(_mm256_xor_si256(b, c));     \
  a = _mm256_add_epi32(a, b); d = rot8(_mm256_xor_si256(d, a));           \
  c = _mm256_add_epi32(c, d); b = rotl_n<7>(_mm256_xor_si256(b, c))

__attribute__((target("avx2"))) void avx2_impl8(const std::array<std::uint32_t, 16>& in,
                                                int double_rounds, bool wide,
                                                std::uint8_t* out) noexcept {
  const BlockCounters<8> ctr = block_counters<8>(in, wide);
  __m256i s[16];
  for (std::size_t i = 0; i < 16; ++i) s[i] = _mm256_set1_epi32(static_cast<int>(in[i]));
  s[12] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ctr.w12.data()));
  s[13] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ctr.w13.data()));

  __m256i x0 = s[0], x1 = s[1], x2 = s[2], x3 = s[3], x4 = s[4], x5 = s[5], x6 = s[6], x7 = s[7];
  __m256i x8 = s[8], x9 = s[9], x10 = s[10], x11 = s[11], x12 = s[12], x13 = s[13],
          x14 = s[14], x15 = s[15];
  for (int r = 0; r < double_rounds; ++r) {
    VELTO_QR8(x0, x4, x8, x12);
    VELTO_QR8(x1, x5, x9, x13);
    VELTO_QR8(x2, x6, x10, x14);
    VELTO_QR8(x3, x7, x11, x15);
    VELTO_QR8(x0, x5, x10, x15);
    VELTO_QR8(x1, x6, x11, x12);
    VELTO_QR8(x2, x7, x8, x13);
    VELTO_QR8(x3, x4, x9, x14);
  }
  __m256i x[16] = {x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12, x13, x14, x15};
  for (std::size_t i = 0; i < 16; ++i) x[i] = _mm256_add_epi32(x[i], s[i]);

  // Transpose each 8x8 group of words (words 0-7, then 8-15) so that every
  // block's words become contiguous.
  for (std::size_t h = 0; h < 2; ++h) {
    const __m256i* v = x + 8 * h;
    const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]), t1 = _mm256_unpackhi_epi32(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]), t3 = _mm256_unpackhi_epi32(v[2], v[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]), t5 = _mm256_unpackhi_epi32(v[4], v[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]), t7 = _mm256_unpackhi_epi32(v[6], v[7]);
    // u_k: words 0-3 (k < 4) or 4-7 of blocks k mod 4 (low lane) and k mod 4 + 4.
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    const __m256i lo[4] = {u0, u1, u2, u3};
    const __m256i hi[4] = {u4, u5, u6, u7};
    for (std::size_t j = 0; j < 4; ++j) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64 * j + 32 * h),
                          _mm256_permute2x128_si256(lo[j], hi[j], 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64 * (j + 4) + 32 * h),
                          _mm256_permute2x128_si256(lo[j], hi[j], 0x31));
    }
  }
}

#undef VELTO_QR8

bool detect_avx2() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

#else

bool detect_avx2() noexcept { return false; }

#endif

using Kernel = void (*)(const std::array<std::uint32_t, 16>&, int, bool, std::uint8_t*) noexcept;

void portable_impl8(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                    std::uint8_t* out) noexcept {
  portable_impl(in, double_rounds, wide, out);
  portable_impl(advanced(in, wide, 4), double_rounds, wide, out + 256);
}

struct Kernels {
  Kernel four;
  Kernel eight;
};

Kernels pick_kernels() noexcept {
#if defined(VELTO_CHACHA_X86)
  if (detect_avx2()) return {&avx2_impl, &avx2_impl8};
#endif
  return {&portable_impl, &portable_impl8};
}

const Kernels& kernels() noexcept {
  static const Kernels k = pick_kernels();
  return k;
}

}  // namespace

bool cpu_has_avx2() noexcept {
  static const bool has = detect_avx2();
  return has;
}

void blocks4_portable(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                      std::uint8_t* out) noexcept {
  portable_impl(in, double_rounds, wide, out);
}

void blocks8_portable(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                      std::uint8_t* out) noexcept {
  portable_impl8(in, double_rounds, wide, out);
}

void blocks4_avx2(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                  std::uint8_t* out) noexcept {
#if defined(VELTO_CHACHA_X86)
  avx2_impl(in, double_rounds, wide, out);
#else
  portable_impl(in, double_rounds, wide, out);
#endif
}

void blocks8_avx2(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
                  std::uint8_t* out) noexcept {
#if defined(VELTO_CHACHA_X86)
  avx2_impl8(in, double_rounds, wide, out);
#else
  portable_impl8(in, double_rounds, wide, out);
#endif
}

void blocks4(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
             std::uint8_t* out) noexcept {
  kernels().four(in, double_rounds, wide, out);
}

void blocks8(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide,
             std::uint8_t* out) noexcept {
  kernels().eight(in, double_rounds, wide, out);
}

}  // namespace chacha_detail

void chacha20_xor(const ByteArray<32>& key, const ByteArray<12>& nonce, std::uint32_t counter,
                  MutByteSpan data) {
  if (data.empty()) return;
  const std::uint64_t blocks = (static_cast<std::uint64_t>(data.size()) + 63) / 64;
  if (static_cast<std::uint64_t>(counter) + blocks - 1 > 0xffffffffu) {
    panic("ChaCha20 block counter overflow");
  }
  std::array<std::uint32_t, 16> state{};
  std::copy(chacha_detail::kSigma.begin(), chacha_detail::kSigma.end(), state.begin());
  for (std::size_t i = 0; i < 8; ++i) state[4 + i] = chacha_detail::load_le32(&key[4 * i]);
  state[12] = counter;
  for (std::size_t i = 0; i < 3; ++i) state[13 + i] = chacha_detail::load_le32(&nonce[4 * i]);

  // Long inputs go eight blocks at a time, the tail four or one at a time.
  alignas(32) std::uint8_t ks[512];
  std::size_t ks_used = 0;  // how much of ks holds key stream to wipe
  std::size_t done = 0;
  while (done < data.size()) {
    const std::size_t remaining = data.size() - done;
    std::size_t n = 0;
    if (remaining > 256) {
      chacha_detail::blocks8(state, 10, false, ks);
      state[12] += 8;  // wraps only past the last block used
      n = std::min<std::size_t>(512, remaining);
      ks_used = 512;
    } else if (remaining > 64) {
      chacha_detail::blocks4(state, 10, false, ks);
      state[12] += 4;
      n = remaining;
      ks_used = std::max<std::size_t>(ks_used, 256);
    } else {
      auto block = chacha_block<20>(state);
      for (std::size_t i = 0; i < 16; ++i) chacha_detail::store_le32(ks + 4 * i, block[i]);
      secure_wipe(block.data(), sizeof block);
      state[12] += 1;
      n = remaining;
      ks_used = std::max<std::size_t>(ks_used, 64);
    }
    std::uint8_t* p = data.data() + done;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::uint64_t a, b;
      std::memcpy(&a, p + i, 8);
      std::memcpy(&b, ks + i, 8);
      a ^= b;
      std::memcpy(p + i, &a, 8);
    }
    for (; i < n; ++i) p[i] ^= ks[i];
    done += n;
  }
  secure_wipe(ks, ks_used);
  secure_wipe(state.data(), sizeof state);
}

namespace {

void sodium_ready() {
  static const int rc = sodium_init();
  if (rc < 0) panic("libsodium failed to initialise");
}

}  // namespace

void chacha20poly1305_encrypt_into(const ByteArray<32>& key, const ByteArray<12>& nonce,
                                   ByteSpan ad, ByteSpan plaintext, MutByteSpan out) {
  if (out.size() != plaintext.size() + kAeadTagSize) {
    panic("chacha20poly1305 output must be the plaintext length plus 16, got " +
          std::to_string(out.size()) + " for " + std::to_string(plaintext.size()));
  }
  sodium_ready();
  unsigned long long clen = 0;
  crypto_aead_chacha20poly1305_ietf_encrypt(out.data(), &clen, plaintext.data(), plaintext.size(),
                                            ad.data(), ad.size(), nullptr, nonce.data(),
                                            key.data());
}

bool chacha20poly1305_decrypt_into(const ByteArray<32>& key, const ByteArray<12>& nonce,
                                   ByteSpan ad, ByteSpan sealed, MutByteSpan out) {
  if (sealed.size() < kAeadTagSize) {
    secure_wipe(out.data(), out.size());
    return false;
  }
  if (out.size() != sealed.size() - kAeadTagSize) {
    panic("chacha20poly1305 output must be the sealed length minus 16, got " +
          std::to_string(out.size()) + " for " + std::to_string(sealed.size()));
  }
  sodium_ready();
  unsigned long long mlen = 0;
  const int rc = crypto_aead_chacha20poly1305_ietf_decrypt(out.data(), &mlen, nullptr,
                                                           sealed.data(), sealed.size(), ad.data(),
                                                           ad.size(), nonce.data(), key.data());
  if (rc != 0) {
    secure_wipe(out.data(), out.size());
    return false;
  }
  return true;
}

Bytes chacha20poly1305_encrypt(const ByteArray<32>& key, const ByteArray<12>& nonce, ByteSpan ad,
                               ByteSpan plaintext) {
  Bytes out(plaintext.size() + kAeadTagSize);
  chacha20poly1305_encrypt_into(key, nonce, ad, plaintext, out);
  return out;
}

std::optional<Bytes> chacha20poly1305_decrypt(const ByteArray<32>& key,
                                              const ByteArray<12>& nonce, ByteSpan ad,
                                              ByteSpan sealed) {
  if (sealed.size() < kAeadTagSize) return std::nullopt;
  Bytes out(sealed.size() - kAeadTagSize);
  if (!chacha20poly1305_decrypt_into(key, nonce, ad, sealed, out)) return std::nullopt;
  return out;
}

}  // namespace velto::crypto
