// What an OT extension hands its caller: per OT a 16-byte digest that seeds
// the OT's message stream (or is the message itself), and the receiver's
// choice bits. All of it is secret and wiped when it dies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"

namespace velto::ote {

// n digests of 16 bytes, digest j at bytes 16j .. 16j + 15.
class OtDigests {
 public:
  OtDigests() = default;
  explicit OtDigests(std::size_t n) : bytes_(16 * n) {}

  std::size_t size() const noexcept { return bytes_.size() / 16; }
  crypto::ByteArray<16> get(std::size_t j) const noexcept {
    crypto::ByteArray<16> d;
    std::memcpy(d.data(), bytes_.data() + 16 * j, 16);
    return d;
  }
  std::span<std::uint8_t, 16> slot(std::size_t j) noexcept {
    return std::span<std::uint8_t, 16>(bytes_.data() + 16 * j, 16);
  }
  crypto::ByteSpan bytes() const noexcept { return bytes_.span(); }
  std::span<std::uint8_t> mut_bytes() noexcept { return bytes_.mut_span(); }

 private:
  crypto::SecretBytes bytes_;
};

// One byte per OT, 0 or 1.
using ChoiceBits = crypto::SecretBytes;

}  // namespace velto::ote
