// The reading half of sised: the decoder state (unread input, heap charged so
// far and its limit) with bounds-checked reads, shortest-form varints and the
// heap budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>

#include "crypto/bytes.hpp"
#include "sised/error.hpp"

namespace velto::sised {

// Heap budget of every inbound protocol message.
inline constexpr std::size_t kMessageHeapLimit = 4 * 1024 * 1024;

class Decoder {
 public:
  explicit Decoder(crypto::ByteSpan input, std::size_t heap_limit = kMessageHeapLimit) noexcept
      : input_(input), heap_limit_(heap_limit) {}

  std::size_t position() const noexcept { return pos_; }
  std::size_t remaining() const noexcept { return input_.size() - pos_; }
  // The unread input.
  crypto::ByteSpan rest() const noexcept { return input_.subspan(pos_); }
  std::size_t heap_charged() const noexcept { return heap_charged_; }
  std::size_t heap_limit() const noexcept { return heap_limit_; }

  // The next n bytes, consumed; OutOfBounds when fewer are left (nothing is
  // consumed then).
  std::expected<crypto::ByteSpan, SisedError> take(std::size_t n) noexcept {
    if (n > remaining()) return std::unexpected(SisedError::out_of_bounds());
    const crypto::ByteSpan out = input_.subspan(pos_, n);
    pos_ += n;
    return out;
  }

  // Copies the next out.size() bytes into out.
  std::expected<void, SisedError> read_into(crypto::MutByteSpan out) noexcept {
    auto bytes = take(out.size());
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = (*bytes)[i];
    return {};
  }

  template <std::size_t N>
  std::expected<crypto::ByteArray<N>, SisedError> read_array() noexcept {
    crypto::ByteArray<N> out;
    if (auto r = read_into(out); !r) return std::unexpected(std::move(r.error()));
    return out;
  }

  std::expected<std::uint8_t, SisedError> read_u8() noexcept {
    if (remaining() < 1) return std::unexpected(SisedError::out_of_bounds());
    return input_[pos_++];
  }

  std::expected<std::uint16_t, SisedError> read_u16() noexcept { return read_le<std::uint16_t>(); }
  std::expected<std::uint32_t, SisedError> read_u32() noexcept { return read_le<std::uint32_t>(); }
  std::expected<std::uint64_t, SisedError> read_u64() noexcept { return read_le<std::uint64_t>(); }

  // A length, count or discriminant: one byte up to 251, else a marker 0xFC to
  // 0xFF followed by 1 to 4 little-endian bytes, in shortest form only.
  std::expected<std::uint32_t, SisedError> read_varint() noexcept;

  // Charges count items of item_size bytes each against the heap budget,
  // saturating; fails with HeapSizeLimitExceeded once the total charge of
  // this decoder exceeds the limit (a charge equal to the limit passes).
  std::expected<void, SisedError> charge(std::uint64_t count, std::size_t item_size) noexcept;

 private:
  template <class U>
  std::expected<U, SisedError> read_le() noexcept {
    if (remaining() < sizeof(U)) return std::unexpected(SisedError::out_of_bounds());
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(static_cast<U>(input_[pos_ + i]) << (8 * i));
    pos_ += sizeof(U);
    return v;
  }

  crypto::ByteSpan input_;
  std::size_t pos_ = 0;
  std::size_t heap_charged_ = 0;
  std::size_t heap_limit_;
};

}  // namespace velto::sised
