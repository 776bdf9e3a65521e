#include "velto-ote/bitvec.hpp"

#include <algorithm>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"

namespace velto::ote {

namespace detail {

WipedWords& WipedWords::operator=(const WipedWords& o) {
  if (this != &o) {
    wipe();
    w_ = o.w_;
  }
  return *this;
}

WipedWords& WipedWords::operator=(WipedWords&& o) noexcept {
  if (this != &o) {
    wipe();
    w_ = std::move(o.w_);
    o.w_.clear();
  }
  return *this;
}

void WipedWords::truncate(std::size_t n) noexcept {
  if (n >= w_.size()) return;
  crypto::secure_wipe(w_.data() + n, (w_.size() - n) * sizeof(std::uint64_t));
  w_.resize(n);
}

void WipedWords::wipe() noexcept {
  if (!w_.empty()) crypto::secure_wipe(w_.data(), w_.size() * sizeof(std::uint64_t));
}

}  // namespace detail

BitVec bitvec_zeroed(std::size_t bits) {
  if (bits % 64 != 0) panic("assertion failed: bit vector length is a multiple of 64");
  return BitVec(bits / 64);
}

Gf4Vec bitvec_zeroed_2bit(std::size_t elements) {
  if (elements % 32 != 0) panic("assertion failed: 2-bit vector length is a multiple of 32");
  return Gf4Vec(elements / 32);
}

void BitVec::truncate(std::size_t n) {
  if (n % 64 != 0 || n > bits()) panic("assertion failed: bit vector truncated to a whole number of words");
  words_.truncate(n / 64);
}

void Gf4Vec::truncate(std::size_t n) {
  if (n % 32 != 0 || n > elements()) panic("assertion failed: 2-bit vector truncated to a whole number of words");
  words_.truncate(n / 32);
}

// Swap the two off-diagonal 32 x 32 blocks of whole words, then, five times,
// the off-diagonal halves of every smaller block: rows q and r = q + d
// exchange q's high and r's low halves of each word.
void gf4_transpose_64(std::span<std::uint64_t, 128> block) noexcept {
  for (std::size_t r = 0; r < 32; ++r) std::swap(block[2 * r + 1], block[2 * (r + 32)]);

  constexpr std::uint64_t kMasks[5] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull,
                                       0x00FF00FF00FF00FFull, 0x0F0F0F0F0F0F0F0Full,
                                       0x3333333333333333ull};
  std::size_t distance = 16;
  unsigned shift = 32;
  for (const std::uint64_t mask : kMasks) {
    for (std::size_t q = 0; q < 64; ++q) {
      if ((q & distance) != 0) continue;
      const std::size_t r = q + distance;
      for (std::size_t w = 0; w < 2; ++w) {
        const std::uint64_t a = block[2 * q + w];
        const std::uint64_t b = block[2 * r + w];
        block[2 * q + w] = (a & mask) | ((b & mask) << shift);
        block[2 * r + w] = (b & ~mask) | ((a & ~mask) >> shift);
      }
    }
    distance >>= 1;
    shift >>= 1;
  }
}

Gf4RowIter::Gf4RowIter(std::span<const Gf4Vec> columns) : columns_(columns) {
  if (columns_.size() != 64) panic("assertion failed: the row iterator takes 64 columns");
  const std::size_t words = columns_[0].word_count();
  if (words % 2 != 0) panic("assertion failed: column vectors hold an even number of words");
  for (const Gf4Vec& c : columns_) {
    if (c.word_count() != words) panic("assertion failed: column vectors have equal lengths");
  }
}

Gf4RowIter::~Gf4RowIter() { crypto::secure_wipe(block_.data(), sizeof block_); }

void Gf4RowIter::refill() noexcept {
  for (std::size_t c = 0; c < 64; ++c) {
    const auto w = columns_[c].words();
    block_[2 * c] = w[next_word_];
    block_[2 * c + 1] = w[next_word_ + 1];
  }
  next_word_ += 2;
  gf4_transpose_64(block_);
  row_in_block_ = 0;
}

std::optional<crypto::Gf128> Gf4RowIter::next() noexcept {
  if (row_in_block_ == 64) {
    if (next_word_ >= columns_[0].word_count()) return std::nullopt;
    refill();
  }
  const std::size_t r = row_in_block_++;
  return crypto::Gf128{block_[2 * r], block_[2 * r + 1]};
}

}  // namespace velto::ote
