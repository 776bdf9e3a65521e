#include "crypto/keccak.hpp"

#include <bit>

namespace velto::crypto {
namespace {

constexpr std::array<std::uint64_t, 24> kRoundConstants = {
    0x0000000000000001, 0x0000000000008082, 0x800000000000808A, 0x8000000080008000,
    0x000000000000808B, 0x0000000080000001, 0x8000000080008081, 0x8000000000008009,
    0x000000000000008A, 0x0000000000000088, 0x0000000080008009, 0x000000008000000A,
    0x000000008000808B, 0x800000000000008B, 0x8000000000008089, 0x8000000000008003,
    0x8000000000008002, 0x8000000000000080, 0x000000000000800A, 0x800000008000000A,
    0x8000000080008081, 0x8000000000008080, 0x0000000080000001, 0x8000000080008008,
};

// Rotation offset of lane x + 5y (rho).
constexpr std::array<int, 25> kRho = {0,  1,  62, 28, 27, 36, 44, 6,  55, 20, 3,  10, 43,
                                      25, 39, 41, 45, 15, 21, 8,  18, 2,  61, 56, 14};

// Where lane x + 5y lands under pi: (x, y) -> (y, 2x + 3y).
constexpr std::array<int, 25> kPi = [] {
  std::array<int, 25> to{};
  for (int x = 0; x < 5; ++x) {
    for (int y = 0; y < 5; ++y) to[x + 5 * y] = y + 5 * ((2 * x + 3 * y) % 5);
  }
  return to;
}();

inline std::uint64_t load64_le(const std::uint8_t* p) noexcept {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

void keccak_f1600(KeccakState& state) noexcept {
  // The loops below are unrolled completely, so every index is a constant
  // and the lanes can stay in registers.
  std::uint64_t a[25];
  for (std::size_t i = 0; i < 25; ++i) a[i] = state[i];

  for (const std::uint64_t rc : kRoundConstants) {
    // theta: column parities; d[x] is applied while lanes move below
    std::uint64_t c[5], d[5];
#pragma GCC unroll 5
    for (int x = 0; x < 5; ++x) c[x] = a[x] ^ a[x + 5] ^ a[x + 10] ^ a[x + 15] ^ a[x + 20];
#pragma GCC unroll 5
    for (int x = 0; x < 5; ++x) d[x] = c[(x + 4) % 5] ^ std::rotl(c[(x + 1) % 5], 1);
    // rho and pi
    std::uint64_t b[25];
#pragma GCC unroll 25
    for (int i = 0; i < 25; ++i) b[kPi[i]] = std::rotl(a[i] ^ d[i % 5], kRho[i]);
    // chi, row by row
#pragma GCC unroll 25
    for (int i = 0; i < 25; ++i) {
      const int row = i - i % 5;
      a[i] = b[i] ^ (~b[row + (i + 1) % 5] & b[row + (i + 2) % 5]);
    }
    // iota
    a[0] ^= rc;
  }

  for (std::size_t i = 0; i < 25; ++i) state[i] = a[i];
}

Keccak256::~Keccak256() { secure_wipe(state_.data(), sizeof state_); }

Keccak256& Keccak256::update(ByteSpan data) noexcept {
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
  // Finish a partly filled block byte by byte.
  while (n > 0 && pos_ != 0) {
    absorb_byte(pos_, *p++);
    --n;
    if (++pos_ == kRate) {
      keccak_f1600(state_);
      pos_ = 0;
    }
  }
  // Whole blocks lane by lane.
  while (n >= kRate) {
    for (std::size_t i = 0; i < kRate / 8; ++i) state_[i] ^= load64_le(p + 8 * i);
    keccak_f1600(state_);
    p += kRate;
    n -= kRate;
  }
  for (std::size_t i = 0; i < n; ++i) absorb_byte(pos_++, p[i]);
  return *this;
}

ByteArray<32> Keccak256::finalize() const noexcept {
  Keccak256 k = *this;
  k.absorb_byte(k.pos_, 0x01);
  k.absorb_byte(kRate - 1, 0x80);
  keccak_f1600(k.state_);
  ByteArray<32> out;
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(k.state_[i / 8] >> (8 * (i % 8)));
  }
  return out;
}

ByteArray<32> keccak256(ByteSpan data) noexcept { return Keccak256().update(data).finalize(); }

}  // namespace velto::crypto
