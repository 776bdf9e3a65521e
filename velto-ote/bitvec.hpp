// Bit vectors and GF(4) vectors of the OT extensions, and the transposition
// that turns 64 per-tree column vectors into 128-bit rows.
//
// Layouts (the extensions' maths depends on them):
// - Bit vector of n bits (n a multiple of 64): n/64 words; bit j is bit
//   (j mod 64) of word j/64, least significant first.
// - GF(4) vector of n elements (n a multiple of 32): 2 bits per element,
//   n/32 words; element j sits at bits 2(j mod 32) (its bit 0) and
//   2(j mod 32) + 1 (its bit 1) of word j/32. Addition is XOR.
// - Row: 128 bits as a crypto::Gf128 (lo = bits 0..63); block t's element at
//   bits 2t and 2t + 1. The OT-extension sender's Δ uses the same layout.
//
// Both vector types hold values derived from secrets and wipe their words
// when they die.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "crypto/gf2.hpp"

namespace velto::ote {

namespace detail {

// A zeroed run of words that is wiped when it dies.
class WipedWords {
 public:
  WipedWords() = default;
  explicit WipedWords(std::size_t n) : w_(n, 0) {}
  WipedWords(const WipedWords&) = default;
  WipedWords& operator=(const WipedWords& o);
  WipedWords(WipedWords&& o) noexcept : w_(std::move(o.w_)) { o.w_.clear(); }
  WipedWords& operator=(WipedWords&& o) noexcept;
  ~WipedWords() { wipe(); }

  std::span<std::uint64_t> span() noexcept { return w_; }
  std::span<const std::uint64_t> span() const noexcept { return w_; }
  std::size_t size() const noexcept { return w_.size(); }
  // Keeps the first n words (n at most size()); the dropped ones are wiped.
  void truncate(std::size_t n) noexcept;

 private:
  void wipe() noexcept;
  std::vector<std::uint64_t> w_;
};

}  // namespace detail

class BitVec {
 public:
  BitVec() = default;

  std::size_t bits() const noexcept { return words_.size() * 64; }
  std::size_t word_count() const noexcept { return words_.size(); }
  std::span<std::uint64_t> words() noexcept { return words_.span(); }
  std::span<const std::uint64_t> words() const noexcept { return words_.span(); }
  bool bit(std::size_t j) const noexcept { return (words_.span()[j / 64] >> (j % 64)) & 1u; }
  // Keeps the first n bits; n must be a multiple of 64 not above bits().
  void truncate(std::size_t n);

 private:
  friend BitVec bitvec_zeroed(std::size_t bits);
  explicit BitVec(std::size_t words) : words_(words) {}
  detail::WipedWords words_;
};

class Gf4Vec {
 public:
  Gf4Vec() = default;

  std::size_t elements() const noexcept { return words_.size() * 32; }
  std::size_t word_count() const noexcept { return words_.size(); }
  std::span<std::uint64_t> words() noexcept { return words_.span(); }
  std::span<const std::uint64_t> words() const noexcept { return words_.span(); }
  unsigned element(std::size_t j) const noexcept {
    return static_cast<unsigned>((words_.span()[j / 32] >> (2 * (j % 32))) & 3u);
  }
  // Keeps the first n elements; n must be a multiple of 32 not above
  // elements().
  void truncate(std::size_t n);

 private:
  friend Gf4Vec bitvec_zeroed_2bit(std::size_t elements);
  explicit Gf4Vec(std::size_t words) : words_(words) {}
  detail::WipedWords words_;
};

// A zeroed bit vector of `bits` bits; a length that is not a multiple of 64
// is a programming error (panic). Zero bits allocate nothing.
BitVec bitvec_zeroed(std::size_t bits);
// A zeroed GF(4) vector of `elements` elements (a multiple of 32, else panic).
Gf4Vec bitvec_zeroed_2bit(std::size_t elements);

// Bit i of x moves to bit 2i; the odd bits are zero.
constexpr std::uint64_t spread_bits(std::uint32_t x) noexcept {
  std::uint64_t v = x;
  v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
  v = (v | (v << 8)) & 0x00FF00FF00FF00FFull;
  v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0Full;
  v = (v | (v << 2)) & 0x3333333333333333ull;
  v = (v | (v << 1)) & 0x5555555555555555ull;
  return v;
}

// The even bits of x (bit 2i to bit i); the odd bits are ignored.
constexpr std::uint32_t compact_bits(std::uint64_t x) noexcept {
  std::uint64_t v = x & 0x5555555555555555ull;
  v = (v | (v >> 1)) & 0x3333333333333333ull;
  v = (v | (v >> 2)) & 0x0F0F0F0F0F0F0F0Full;
  v = (v | (v >> 4)) & 0x00FF00FF00FF00FFull;
  v = (v | (v >> 8)) & 0x0000FFFF0000FFFFull;
  v = (v | (v >> 16)) & 0x00000000FFFFFFFFull;
  return static_cast<std::uint32_t>(v);
}

// The GF(4) elements whose bit 0 are the 64 bits of `plane0` and whose bit 1
// are those of `plane1`, as two words (elements 0..31, then 32..63).
constexpr std::array<std::uint64_t, 2> interleave_planes(std::uint64_t plane0,
                                                         std::uint64_t plane1) noexcept {
  return {spread_bits(static_cast<std::uint32_t>(plane0)) |
              (spread_bits(static_cast<std::uint32_t>(plane1)) << 1),
          spread_bits(static_cast<std::uint32_t>(plane0 >> 32)) |
              (spread_bits(static_cast<std::uint32_t>(plane1 >> 32)) << 1)};
}

// Transposes, in place, a 64 x 64 matrix of GF(4) elements held as 64 rows of
// two words (row r at block[2r], block[2r + 1]): afterwards element c of row
// r is what element r of row c was. Applying it twice restores the block.
void gf4_transpose_64(std::span<std::uint64_t, 128> block) noexcept;

// Yields the rows of 64 GF(4) column vectors of equal length: row j holds
// element j of column t at bits 2t, 2t + 1. Works 64 rows at a time: takes
// the next two words of every column and transposes them.
class Gf4RowIter {
 public:
  // Exactly 64 columns of the same, even word count (else panic). The
  // columns must outlive the iterator.
  explicit Gf4RowIter(std::span<const Gf4Vec> columns);
  Gf4RowIter(const Gf4RowIter&) = delete;
  Gf4RowIter& operator=(const Gf4RowIter&) = delete;
  ~Gf4RowIter();

  // The next row, or nothing when the columns are exhausted.
  std::optional<crypto::Gf128> next() noexcept;

 private:
  void refill() noexcept;

  std::span<const Gf4Vec> columns_;
  std::size_t next_word_ = 0;  // word offset of the next slice in every column
  std::size_t row_in_block_ = 64;
  alignas(64) std::array<std::uint64_t, 128> block_{};
};

}  // namespace velto::ote
