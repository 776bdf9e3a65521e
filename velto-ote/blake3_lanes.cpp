#include "velto-ote/blake3_lanes.hpp"

extern "C" {
#include "blake3_impl.h"
}

#include <algorithm>
#include <cstring>

#include "crypto/bytes.hpp"

namespace velto::ote::detail {
namespace {

constexpr std::uint8_t kRootFlags = CHUNK_START | CHUNK_END | ROOT;

inline std::uint32_t le32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void put_le32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// One group of L lanes, each 32-bit word of the state a vector of L words.
// Lanes beyond `count` repeat lane 0 and are not written back. The working
// state lives on the stack and is wiped before returning.
#define VELTO_ROTR(x, n) (((x) >> (n)) | ((x) << (32 - (n))))
#define VELTO_G(a, b, c, d, mx, my) \
  a = a + b + (mx);                 \
  d = VELTO_ROTR(d ^ a, 16);        \
  c = c + d;                        \
  b = VELTO_ROTR(b ^ c, 12);        \
  a = a + b + (my);                 \
  d = VELTO_ROTR(d ^ a, 8);         \
  c = c + d;                        \
  b = VELTO_ROTR(b ^ c, 7)

template <class V, int L>
[[gnu::always_inline]] inline void compress_group(const Blake3Key& key, std::uint8_t flags, const CompressLane* lanes,
                                                  std::size_t count) {
  // Lane-major words are written into word-major rows, then loaded as
  // vectors; the output goes the other way.
  alignas(64) std::uint32_t t[16][L];
  V m[16];
  V v[16];
  for (int l = 0; l < L; ++l) {
    const CompressLane& lane = lanes[static_cast<std::size_t>(l) < count ? l : 0];
    for (int w = 0; w < 16; ++w) t[w][l] = le32(lane.block + 4 * w);
  }
  for (int w = 0; w < 16; ++w) std::memcpy(&m[w], t[w], sizeof(V));
  for (int i = 0; i < 8; ++i) {
    v[i] = V{} + key[static_cast<std::size_t>(i)];
    v[i + 8] = V{} + IV[i];
  }
  for (int l = 0; l < L; ++l) {
    const CompressLane& lane = lanes[static_cast<std::size_t>(l) < count ? l : 0];
    t[0][l] = static_cast<std::uint32_t>(lane.counter);
    t[1][l] = static_cast<std::uint32_t>(lane.counter >> 32);
    t[2][l] = lane.block_len;
  }
  std::memcpy(&v[12], t[0], sizeof(V));
  std::memcpy(&v[13], t[1], sizeof(V));
  std::memcpy(&v[14], t[2], sizeof(V));
  v[15] = V{} + static_cast<std::uint32_t>(flags);
  for (int r = 0; r < 7; ++r) {
    const std::uint8_t* s = MSG_SCHEDULE[r];
    VELTO_G(v[0], v[4], v[8], v[12], m[s[0]], m[s[1]]);
    VELTO_G(v[1], v[5], v[9], v[13], m[s[2]], m[s[3]]);
    VELTO_G(v[2], v[6], v[10], v[14], m[s[4]], m[s[5]]);
    VELTO_G(v[3], v[7], v[11], v[15], m[s[6]], m[s[7]]);
    VELTO_G(v[0], v[5], v[10], v[15], m[s[8]], m[s[9]]);
    VELTO_G(v[1], v[6], v[11], v[12], m[s[10]], m[s[11]]);
    VELTO_G(v[2], v[7], v[8], v[13], m[s[12]], m[s[13]]);
    VELTO_G(v[3], v[4], v[9], v[14], m[s[14]], m[s[15]]);
  }
  for (int i = 0; i < 8; ++i) {
    v[i] ^= v[i + 8];
    v[i + 8] ^= V{} + key[static_cast<std::size_t>(i)];
  }
  for (int i = 0; i < 16; ++i) std::memcpy(t[i], &v[i], sizeof(V));
  for (std::size_t l = 0; l < count; ++l) {
    for (int i = 0; i < 16; ++i) put_le32(lanes[l].out + 4 * i, t[i][l]);
  }
  crypto::secure_wipe(t, sizeof t);
  crypto::secure_wipe(m, sizeof m);
  crypto::secure_wipe(v, sizeof v);
}

#undef VELTO_G
#undef VELTO_ROTR

using V4 = std::uint32_t __attribute__((vector_size(16)));
using V8 = std::uint32_t __attribute__((vector_size(32)));
using V16 = std::uint32_t __attribute__((vector_size(64)));

void lanes4(const Blake3Key& key, std::uint8_t flags, std::span<const CompressLane> lanes) {
  for (std::size_t i = 0; i < lanes.size(); i += 4) {
    compress_group<V4, 4>(key, flags, lanes.data() + i, std::min<std::size_t>(4, lanes.size() - i));
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELTO_HAVE_X86_LANES 1

[[gnu::target("avx2")]] void lanes8(const Blake3Key& key, std::uint8_t flags, std::span<const CompressLane> lanes) {
  for (std::size_t i = 0; i < lanes.size(); i += 8) {
    compress_group<V8, 8>(key, flags, lanes.data() + i, std::min<std::size_t>(8, lanes.size() - i));
  }
}

[[gnu::target("avx512f")]] void lanes16(const Blake3Key& key, std::uint8_t flags,
                                        std::span<const CompressLane> lanes) {
  for (std::size_t i = 0; i < lanes.size(); i += 16) {
    compress_group<V16, 16>(key, flags, lanes.data() + i, std::min<std::size_t>(16, lanes.size() - i));
  }
}
#endif

void single(const Blake3Key& key, std::uint8_t flags, std::span<const CompressLane> lanes) {
  for (const CompressLane& lane : lanes) {
    blake3_compress_xof(key.data(), lane.block, lane.block_len, lane.counter, flags, lane.out);
  }
}

LaneImpl best_impl() noexcept {
#ifdef VELTO_HAVE_X86_LANES
  if (__builtin_cpu_supports("avx512f")) return LaneImpl::Lanes16;
  if (__builtin_cpu_supports("avx2")) return LaneImpl::Lanes8;
#endif
  return LaneImpl::Lanes4;
}

}  // namespace

bool lane_impl_available(LaneImpl impl) noexcept {
  switch (impl) {
    case LaneImpl::Single:
    case LaneImpl::Lanes4:
      return true;
#ifdef VELTO_HAVE_X86_LANES
    case LaneImpl::Lanes8:
      return __builtin_cpu_supports("avx2");
    case LaneImpl::Lanes16:
      return __builtin_cpu_supports("avx512f");
#else
    default:
      return false;
#endif
  }
  return false;
}

void compress_root_lanes_with(LaneImpl impl, const Blake3Key& key, std::uint8_t mode_flags,
                              std::span<const CompressLane> lanes) {
  const std::uint8_t flags = static_cast<std::uint8_t>(kRootFlags | mode_flags);
  switch (impl) {
    case LaneImpl::Single:
      single(key, flags, lanes);
      return;
    case LaneImpl::Lanes4:
      lanes4(key, flags, lanes);
      return;
#ifdef VELTO_HAVE_X86_LANES
    case LaneImpl::Lanes8:
      lanes8(key, flags, lanes);
      return;
    case LaneImpl::Lanes16:
      lanes16(key, flags, lanes);
      return;
#else
    default:
      lanes4(key, flags, lanes);
      return;
#endif
  }
}

void compress_root_lanes(const Blake3Key& key, std::uint8_t mode_flags, std::span<const CompressLane> lanes) {
  static const LaneImpl impl = best_impl();
  compress_root_lanes_with(impl, key, mode_flags, lanes);
}

Blake3Key derive_key_words(const char* context, std::size_t len) noexcept {
  blake3_hasher h;
  blake3_hasher_init_derive_key_raw(&h, context, len);
  Blake3Key k;
  std::memcpy(k.data(), h.key, sizeof h.key);
  return k;
}

Blake3Key keyed_words(const std::uint8_t* key32) noexcept {
  Blake3Key k;
  for (std::size_t i = 0; i < 8; ++i) k[i] = le32(key32 + 4 * i);
  return k;
}

std::uint8_t keyed_mode_flag() noexcept { return KEYED_HASH; }
std::uint8_t derive_mode_flag() noexcept { return DERIVE_KEY_MATERIAL; }

}  // namespace velto::ote::detail
