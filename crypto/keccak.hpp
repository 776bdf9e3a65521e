// Keccak-f[1600] and Keccak-256 as first published: domain padding byte 0x01
// (not the 0x06 of SHA3-256), rate 136 bytes, 32-byte digest. The
// permutation is public because the STROBE transcript runs on it as well.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/bytes.hpp"

namespace velto::crypto {

// 25 lanes; lane x + 5y holds bytes 8(x + 5y) .. 8(x + 5y) + 7 of the state,
// little-endian.
using KeccakState = std::array<std::uint64_t, 25>;

// The 24-round permutation, in place.
void keccak_f1600(KeccakState& state) noexcept;

class Keccak256 {
 public:
  static constexpr std::size_t kDigestSize = 32;
  static constexpr std::size_t kRate = 136;

  Keccak256() noexcept = default;
  Keccak256(const Keccak256&) noexcept = default;
  Keccak256& operator=(const Keccak256&) noexcept = default;
  ~Keccak256();

  Keccak256& update(ByteSpan data) noexcept;
  ByteArray<kDigestSize> finalize() const noexcept;

 private:
  void absorb_byte(std::size_t at, std::uint8_t b) noexcept {
    state_[at / 8] ^= static_cast<std::uint64_t>(b) << (8 * (at % 8));
  }

  KeccakState state_{};
  std::size_t pos_ = 0;  // bytes absorbed into the current block
};

ByteArray<32> keccak256(ByteSpan data) noexcept;

}  // namespace velto::crypto
