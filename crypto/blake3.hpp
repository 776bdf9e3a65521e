// BLAKE3 over the reference C library: plain hashing, keyed hashing, key
// derivation and the extendable output, which the labelled hashes, the
// executors' generator seeds and the OT generators all rest on.
//
// A Blake3 is the C hasher itself (plain data), so copying a hasher that has
// absorbed a common prefix is cheap. finalize() and finalize_xof() leave the
// hasher untouched; more input may follow.
#pragma once

#include "blake3.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "crypto/bytes.hpp"

namespace velto::crypto {

class Blake3;

// Reads the extendable output of a finished hasher from any position. Holds
// only the root node of the hash tree and the output block last computed, so
// reading in small pieces costs one compression per 64 bytes.
class Blake3Reader {
 public:
  Blake3Reader(const Blake3Reader&) noexcept = default;
  Blake3Reader& operator=(const Blake3Reader&) noexcept = default;
  ~Blake3Reader();

  // Writes the next out.size() output bytes and advances the position.
  void fill(MutByteSpan out) noexcept;
  void seek(std::uint64_t position) noexcept { position_ = position; }
  std::uint64_t position() const noexcept { return position_; }

 private:
  friend class Blake3;
  Blake3Reader() noexcept = default;
  void compute_block(std::uint64_t index, std::uint8_t* out) const noexcept;

  static constexpr std::uint64_t kNoBlock = ~std::uint64_t{0};

  // Root node: input chaining value, message block and its length, and the
  // node's flags (ROOT is added per output block).
  std::array<std::uint32_t, 8> cv_{};
  std::array<std::uint8_t, BLAKE3_BLOCK_LEN> block_{};
  std::uint8_t block_len_ = 0;
  std::uint8_t flags_ = 0;

  std::uint64_t position_ = 0;
  std::array<std::uint8_t, BLAKE3_BLOCK_LEN> cached_{};
  std::uint64_t cached_index_ = kNoBlock;
};

class Blake3 {
 public:
  static Blake3 hasher() noexcept;
  static Blake3 keyed(const ByteArray<32>& key) noexcept;
  static Blake3 derive_key(std::string_view context) noexcept;

  Blake3(const Blake3&) noexcept = default;
  Blake3& operator=(const Blake3&) noexcept = default;
  ~Blake3();

  Blake3& update(ByteSpan data) noexcept;
  // Back to the state right after construction (same mode, key or context).
  Blake3& reset() noexcept;

  ByteArray<32> finalize() const noexcept;
  Blake3Reader finalize_xof() const noexcept;

 private:
  Blake3() noexcept = default;
  void wipe_stack() noexcept;

  blake3_hasher h_;
};

ByteArray<32> blake3_derive_key(std::string_view context, ByteSpan input) noexcept;
ByteArray<32> blake3_keyed(const ByteArray<32>& key, ByteSpan input) noexcept;

// Output block `counter` of the keyed hash of a single-block input (at most 64
// bytes; more is a programming error): one root compression with flags
// CHUNK_START | CHUNK_END | ROOT | KEYED_HASH and the given block counter.
// Counter c gives bytes 64c .. 64c + 63 of the keyed extendable output.
ByteArray<64> blake3_keyed_single_block(const ByteArray<32>& key, ByteSpan input,
                                        std::uint64_t counter);

}  // namespace velto::crypto
