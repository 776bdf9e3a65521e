// Many BLAKE3 compressions of single-block inputs at once.
//
// The OT generators hash inputs of at most 64 bytes and read their output
// one 64-byte block at a time: every output block is one root compression of
// the input block under a fixed key (the zero key or a context key) with the
// block's index as counter. The extensions need thousands of these per run,
// all independent, so they are computed side by side in SIMD lanes (16 with
// AVX-512, 8 with AVX2, 4 otherwise), each lane with its own input block,
// length and counter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velto::ote::detail {

using Blake3Key = std::array<std::uint32_t, 8>;

// One compression: the zero-padded 64-byte input block, its length, the
// counter, and where the 64 output bytes go.
struct CompressLane {
  const std::uint8_t* block;
  std::uint8_t block_len;
  std::uint64_t counter;
  std::uint8_t* out;
};

// Output of every lane: compress_xof(key, block, block_len, counter,
// CHUNK_START | CHUNK_END | ROOT | mode_flags).
void compress_root_lanes(const Blake3Key& key, std::uint8_t mode_flags, std::span<const CompressLane> lanes);

// The implementations behind it, for tests and benchmarks.
enum class LaneImpl { Single, Lanes4, Lanes8, Lanes16 };
bool lane_impl_available(LaneImpl impl) noexcept;
void compress_root_lanes_with(LaneImpl impl, const Blake3Key& key, std::uint8_t mode_flags,
                              std::span<const CompressLane> lanes);

// The key words of derive-key mode under `context` and of keyed mode under
// a 32-byte key.
Blake3Key derive_key_words(const char* context, std::size_t len) noexcept;
Blake3Key keyed_words(const std::uint8_t* key32) noexcept;

// The mode flags of keyed hashing and of derive-key material.
std::uint8_t keyed_mode_flag() noexcept;
std::uint8_t derive_mode_flag() noexcept;

}  // namespace velto::ote::detail
