#include "velto-ote/prg.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/error.hpp"
#include "velto-ote/blake3_lanes.hpp"

namespace velto::ote {
namespace {

using detail::Blake3Key;
using detail::CompressLane;

Blake3Key context_key(std::string_view context) noexcept {
  return detail::derive_key_words(context.data(), context.size());
}

const Blake3Key& doubling_key() {
  static const Blake3Key k = context_key(kDoublingPrgContext);
  return k;
}
const Blake3Key& tripling_key() {
  static const Blake3Key k = context_key(kTriplingPrgContext);
  return k;
}
const Blake3Key& vole_key() {
  static const Blake3Key k = context_key(kVolePrgContext);
  return k;
}
const Blake3Key& prg_v1_key() {
  static const Blake3Key k = context_key(kOtePrgV1Context);
  return k;
}
const Blake3Key& cote_prg_key() {
  static const Blake3Key k = context_key(kCotePrgContext);
  return k;
}
const Blake3Key& zero_key() {
  static const Blake3Key k{};
  return k;
}

// Lanes are worked through in groups of this many, with their input blocks
// and outputs in stack buffers that are wiped afterwards.
constexpr std::size_t kGroup = 64;

// A group's input blocks (zero-padded) and output blocks.
struct GroupBuffers {
  alignas(64) std::uint8_t in[kGroup][64];
  alignas(64) std::uint8_t out[kGroup][64];
  std::array<CompressLane, kGroup> lanes;
  GroupBuffers() { std::memset(in, 0, sizeof in); }
  GroupBuffers(const GroupBuffers&) = delete;
  GroupBuffers& operator=(const GroupBuffers&) = delete;
  ~GroupBuffers() {
    crypto::secure_wipe(in, sizeof in);
    crypto::secure_wipe(out, sizeof out);
  }
};

inline std::uint64_t load_le64(const std::uint8_t* p) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  } else {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
  }
}

void require_32(crypto::ByteSpan s) {
  if (s.size() != 32) panic("assertion failed: a tree node is 32 bytes");
}

// The output blocks 0 .. blocks - 1 of one single-block input, written to
// out (64 * blocks bytes), one compression at a time.
void derive_blocks(const Blake3Key& key, crypto::ByteSpan input, std::size_t blocks, std::uint8_t* out) {
  std::uint8_t in[64] = {};
  std::memcpy(in, input.data(), input.size());
  for (std::size_t c = 0; c < blocks; ++c) {
    const CompressLane lane{in, static_cast<std::uint8_t>(input.size()), c, out + 64 * c};
    detail::compress_root_lanes_with(detail::LaneImpl::Single, key, detail::derive_mode_flag(), std::span(&lane, 1));
  }
  crypto::secure_wipe(in, sizeof in);
}

// The first `take` bytes of output blocks 0 .. blocks - 1 of each of n
// inputs of `len` bytes (input i at inputs + len * i), in lanes: input i's
// bytes go to out + take * i.
void derive_many(const Blake3Key& key, std::uint8_t mode, crypto::ByteSpan inputs, std::size_t len,
                 std::size_t take, std::span<std::uint8_t> out) {
  const std::size_t n = inputs.size() / len;
  const std::size_t blocks = (take + 63) / 64;
  if (inputs.size() != n * len || out.size() != n * take) panic("assertion failed: one output per input");
  GroupBuffers g;
  const std::size_t total = n * blocks;
  for (std::size_t first = 0; first < total; first += kGroup) {
    const std::size_t count = std::min(kGroup, total - first);
    for (std::size_t l = 0; l < count; ++l) {
      const std::size_t i = (first + l) / blocks;
      std::memcpy(g.in[l], inputs.data() + len * i, len);
      g.lanes[l] = CompressLane{g.in[l], static_cast<std::uint8_t>(len), (first + l) % blocks, g.out[l]};
    }
    detail::compress_root_lanes(key, mode, std::span(g.lanes.data(), count));
    for (std::size_t l = 0; l < count; ++l) {
      const std::size_t i = (first + l) / blocks;
      const std::size_t c = (first + l) % blocks;
      const std::size_t n_bytes = std::min<std::size_t>(64, take - 64 * c);
      std::memcpy(out.data() + take * i + 64 * c, g.out[l], n_bytes);
    }
  }
}

}  // namespace

crypto::SecretArray<64> pprf_length_doubling_prg(crypto::ByteSpan seed) {
  require_32(seed);
  crypto::SecretArray<64> out;
  derive_blocks(doubling_key(), seed, 1, out.data());
  return out;
}

crypto::SecretArray<96> pprf_length_tripling_prg(crypto::ByteSpan seed) {
  require_32(seed);
  crypto::SecretArray<128> both;
  derive_blocks(tripling_key(), seed, 2, both.data());
  return crypto::SecretArray<96>(both.span().first(96));
}

void pprf_length_doubling_prg_many(crypto::ByteSpan seeds, std::span<std::uint8_t> out) {
  derive_many(doubling_key(), detail::derive_mode_flag(), seeds, 32, 64, out);
}

void pprf_length_tripling_prg_many(crypto::ByteSpan seeds, std::span<std::uint8_t> out) {
  derive_many(tripling_key(), detail::derive_mode_flag(), seeds, 32, 96, out);
}

crypto::ByteArray<32> pprf_hash(std::span<const std::uint8_t, 256> ab) {
  static const crypto::Blake3 prototype = crypto::Blake3::derive_key(kPprfHashContext);
  crypto::Blake3 h = prototype;
  h.update(ab);
  return h.finalize();
}

void ote_vole_prg(crypto::ByteSpan tag, crypto::ByteSpan leaf, std::span<std::uint64_t> out) {
  require_32(leaf);
  ote_vole_prg_many(tag, leaf, out.size(), out);
}

void ote_vole_prg_many(crypto::ByteSpan tag, crypto::ByteSpan leaves, std::size_t words,
                       std::span<std::uint64_t> out) {
  if (tag.size() != 32) panic("assertion failed: a UC tag is 32 bytes");
  const std::size_t n = leaves.size() / 32;
  if (leaves.size() != 32 * n || out.size() != n * words) panic("assertion failed: one output run per leaf");
  const std::size_t blocks = (words + 7) / 8;
  GroupBuffers g;
  // Lane (leaf i, output block c), numbered i * blocks + c.
  const std::size_t total = n * blocks;
  for (std::size_t first = 0; first < total; first += kGroup) {
    const std::size_t count = std::min(kGroup, total - first);
    for (std::size_t l = 0; l < count; ++l) {
      const std::size_t i = (first + l) / blocks;
      const std::size_t c = (first + l) % blocks;
      std::memcpy(g.in[l], tag.data(), 32);
      std::memcpy(g.in[l] + 32, leaves.data() + 32 * i, 32);
      g.lanes[l] = CompressLane{g.in[l], 64, c, g.out[l]};
    }
    detail::compress_root_lanes(vole_key(), detail::derive_mode_flag(), std::span(g.lanes.data(), count));
    for (std::size_t l = 0; l < count; ++l) {
      const std::size_t i = (first + l) / blocks;
      const std::size_t c = (first + l) % blocks;
      const std::size_t take = std::min<std::size_t>(8, words - 8 * c);
      std::uint64_t* dst = out.data() + i * words + 8 * c;
      for (std::size_t k = 0; k < take; ++k) dst[k] = load_le64(g.out[l] + 8 * k);
    }
  }
}

OtePrgV1::OtePrgV1(const crypto::ByteArray<16>& seed) noexcept {
  std::memset(block_, 0, sizeof block_);
  std::memcpy(block_, seed.data(), seed.size());
}

OtePrgV1::~OtePrgV1() { crypto::secure_wipe(block_, sizeof block_); }

void OtePrgV1::next_block(std::span<std::uint8_t, 64> out) noexcept {
  const CompressLane lane{block_, 16, counter_++, out.data()};
  detail::compress_root_lanes_with(detail::LaneImpl::Single, prg_v1_key(), detail::derive_mode_flag(),
                                   std::span(&lane, 1));
}

void ote_prg_v1_blocks(crypto::ByteSpan seeds, std::size_t blocks, std::span<std::uint8_t> out) {
  const std::size_t n = seeds.size() / 16;
  if (seeds.size() != 16 * n || out.size() != 64 * blocks * n) panic("assertion failed: one output run per seed");
  GroupBuffers g;
  const std::size_t total = n * blocks;
  for (std::size_t first = 0; first < total; first += kGroup) {
    const std::size_t count = std::min(kGroup, total - first);
    for (std::size_t l = 0; l < count; ++l) {
      const std::size_t i = (first + l) / blocks;
      std::memcpy(g.in[l], seeds.data() + 16 * i, 16);
      g.lanes[l] = CompressLane{g.in[l], 16, (first + l) % blocks, out.data() + 64 * (first + l)};
    }
    detail::compress_root_lanes(prg_v1_key(), detail::derive_mode_flag(), std::span(g.lanes.data(), count));
  }
}

crypto::SecretArray<64> cote_prg(const crypto::ByteArray<16>& key) {
  crypto::SecretArray<64> out;
  derive_blocks(cote_prg_key(), key, 1, out.data());
  return out;
}

crypto::ByteArray<16> ote_row_hash(const crypto::ByteArray<16>& row_value, std::uint64_t row) {
  static const crypto::ByteArray<32> kZeroKey{};
  crypto::ByteArray<64> block = crypto::blake3_keyed_single_block(kZeroKey, row_value, row / kRowHashBatch);
  crypto::ByteArray<16> out;
  std::memcpy(out.data(), block.data(), out.size());
  crypto::secure_wipe(block.data(), block.size());
  return out;
}

void ote_row_hash_many(crypto::ByteSpan row_values, std::uint64_t first_row, std::span<std::uint8_t> out) {
  const std::size_t n = row_values.size() / 16;
  if (row_values.size() != 16 * n || out.size() != 16 * n) panic("assertion failed: one digest per row");
  GroupBuffers g;
  for (std::size_t first = 0; first < n; first += kGroup) {
    const std::size_t count = std::min(kGroup, n - first);
    for (std::size_t l = 0; l < count; ++l) {
      std::memcpy(g.in[l], row_values.data() + 16 * (first + l), 16);
      g.lanes[l] = CompressLane{g.in[l], 16, (first_row + first + l) / kRowHashBatch, g.out[l]};
    }
    detail::compress_root_lanes(zero_key(), detail::keyed_mode_flag(), std::span(g.lanes.data(), count));
    for (std::size_t l = 0; l < count; ++l) std::memcpy(out.data() + 16 * (first + l), g.out[l], 16);
  }
}

}  // namespace velto::ote
