// The labelled BLAKE3 generators of the PPRF trees and the OT extensions.
//
// Every generator except the row hash is BLAKE3 in derive-key mode under its
// own context; the row hash is keyed BLAKE3 under the all-zero key. Their
// inputs are at most 64 bytes, so each output block of 64 bytes is a single
// compression of the one input block under the context key (derive-key mode)
// or the zero key (keyed mode), with the output block's index as counter.
// The context keys are computed once per process. The `_many` forms compute
// many such blocks side by side (blake3_lanes.hpp); the runs use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"

namespace velto::ote {

inline constexpr std::string_view kDoublingPrgContext = "VELTO ote-length doubling prg-v0";
inline constexpr std::string_view kTriplingPrgContext = "VELTO ote-length tripling prg-v0";
inline constexpr std::string_view kPprfHashContext = "VELTO PPRF ote-hash V0";
inline constexpr std::string_view kVolePrgContext = "VELTO ote-vole prg-v0";
inline constexpr std::string_view kOtePrgV1Context = "VELTO ote prg-v1";
inline constexpr std::string_view kCotePrgContext = "VELTO cote prg-v0";

// Rows hashed with one keyed hasher before it is rebuilt with the next chunk
// counter.
inline constexpr std::uint64_t kRowHashBatch = 1024;

// A 32-byte node of a tree: the left child (first 32 bytes of the output)
// then the right child.
crypto::SecretArray<64> pprf_length_doubling_prg(crypto::ByteSpan seed);

// A leaf: a (bytes 0..32), b (32..64) and the final leaf v (64..96).
crypto::SecretArray<96> pprf_length_tripling_prg(crypto::ByteSpan seed);

// The same for n nodes or leaves at once (n * 32 bytes in; n * 64 or
// n * 96 bytes out, in input order).
void pprf_length_doubling_prg_many(crypto::ByteSpan seeds, std::span<std::uint8_t> out);
void pprf_length_tripling_prg_many(crypto::ByteSpan seeds, std::span<std::uint8_t> out);

// The consistency hash of one tree over a_0, b_0, .., a_3, b_3 (256 bytes).
crypto::ByteArray<32> pprf_hash(std::span<const std::uint8_t, 256> ab);

// Fills out with the extendable output of derive-key under
// "VELTO ote-vole prg-v0" over tag || leaf, 8 bytes little-endian per word.
void ote_vole_prg(crypto::ByteSpan tag, crypto::ByteSpan leaf, std::span<std::uint64_t> out);
// The same for n leaves of 32 bytes at once: leaf i fills out[i * words ..
// (i + 1) * words).
void ote_vole_prg_many(crypto::ByteSpan tag, crypto::ByteSpan leaves, std::size_t words,
                       std::span<std::uint64_t> out);

// The random-OT message stream of one OT: the extendable output of
// derive-key under "VELTO ote prg-v1" over 16 bytes, read 64 bytes at a time
// from position 0.
class OtePrgV1 {
 public:
  explicit OtePrgV1(const crypto::ByteArray<16>& seed) noexcept;
  OtePrgV1(const OtePrgV1&) = delete;
  OtePrgV1& operator=(const OtePrgV1&) = delete;
  ~OtePrgV1();

  // The next 64 bytes of the stream.
  void next_block(std::span<std::uint8_t, 64> out) noexcept;

 private:
  std::uint8_t block_[64];
  std::uint64_t counter_ = 0;
};

// The first `blocks` output blocks of the streams of n 16-byte seeds at
// once: seed i's block c at out[64 * (i * blocks + c)].
void ote_prg_v1_blocks(crypto::ByteSpan seeds, std::size_t blocks, std::span<std::uint8_t> out);

// The first 64 output bytes of derive-key under "VELTO cote prg-v0" over a
// 128-bit key (its two words, low first, 8 bytes little-endian each: the
// 16-byte digest as it is).
crypto::SecretArray<64> cote_prg(const crypto::ByteArray<16>& key);

// The keyed row hash of row `row` of a batch: the first 16 bytes of keyed
// BLAKE3 under the all-zero key over the 16-byte row value, with the hasher's
// chunk counter at row / 1024. A single-chunk root with chunk counter c
// starts its output at block c, so this is bytes 64c .. 64c + 15 of the
// keyed extendable output of the row value; below row 1024 it is the plain
// keyed hash.
crypto::ByteArray<16> ote_row_hash(const crypto::ByteArray<16>& row_value, std::uint64_t row);
// The row hashes of n consecutive rows (16-byte values, the first one row
// `first_row` of its batch) at once, into n 16-byte digests.
void ote_row_hash_many(crypto::ByteSpan row_values, std::uint64_t first_row, std::span<std::uint8_t> out);

}  // namespace velto::ote
