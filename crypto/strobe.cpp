#include "crypto/strobe.hpp"

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

// Operation flags of STROBE.
constexpr std::uint8_t kFlagI = 1;
constexpr std::uint8_t kFlagA = 1 << 1;
constexpr std::uint8_t kFlagC = 1 << 2;
constexpr std::uint8_t kFlagT = 1 << 3;
constexpr std::uint8_t kFlagM = 1 << 4;

void permute(std::array<std::uint8_t, 200>& bytes) noexcept {
  KeccakState lanes;
  for (std::size_t i = 0; i < 25; ++i) {
    std::uint64_t v = 0;
    for (int b = 7; b >= 0; --b) v = (v << 8) | bytes[8 * i + static_cast<std::size_t>(b)];
    lanes[i] = v;
  }
  keccak_f1600(lanes);
  for (std::size_t i = 0; i < 25; ++i) {
    for (std::size_t b = 0; b < 8; ++b) bytes[8 * i + b] = static_cast<std::uint8_t>(lanes[i] >> (8 * b));
  }
  secure_wipe(lanes.data(), sizeof lanes);
}

}  // namespace

Strobe128::Strobe128(ByteSpan protocol_label) noexcept {
  // The STROBE header: a cSHAKE-style block with the rate + 2 and the
  // version text "STROBEv1.0.2".
  constexpr std::array<std::uint8_t, 18> kHeader = {1, kRate + 2, 1, 0, 1, 96, 'S', 'T', 'R', 'O', 'B', 'E',
                                                    'v', '1', '.', '0', '.', '2'};
  for (std::size_t i = 0; i < kHeader.size(); ++i) state_[i] = kHeader[i];
  permute(state_);
  meta_ad(protocol_label, false);
}

Strobe128::~Strobe128() {
  secure_wipe(state_.data(), state_.size());
  pos_ = 0;
  pos_begin_ = 0;
  cur_flags_ = 0;
}

void Strobe128::run_f() noexcept {
  state_[pos_] ^= pos_begin_;
  state_[pos_ + 1] ^= 0x04;
  state_[kRate + 1] ^= 0x80;
  permute(state_);
  pos_ = 0;
  pos_begin_ = 0;
}

void Strobe128::absorb(ByteSpan data) noexcept {
  for (const std::uint8_t b : data) {
    state_[pos_] ^= b;
    if (++pos_ == kRate) run_f();
  }
}

void Strobe128::squeeze(MutByteSpan out) noexcept {
  for (std::uint8_t& b : out) {
    b = state_[pos_];
    state_[pos_] = 0;
    if (++pos_ == kRate) run_f();
  }
}

void Strobe128::begin_op(std::uint8_t flags, bool more) {
  if (more) {
    if (flags != cur_flags_) panic("A STROBE operation was continued with other flags. Bug!");
    return;
  }
  if ((flags & kFlagT) != 0) panic("Transport operations are not supported by this STROBE. Bug!");
  const std::uint8_t old_begin = pos_begin_;
  // pos_ < kRate, so pos_ + 1 fits the byte the protocol reserves for it.
  pos_begin_ = static_cast<std::uint8_t>(pos_ + 1);
  cur_flags_ = flags;
  const std::array<std::uint8_t, 2> header = {old_begin, flags};
  absorb(header);
  // Operations that use the cipher start on a fresh block.
  if ((flags & kFlagC) != 0 && pos_ != 0) run_f();
}

void Strobe128::meta_ad(ByteSpan data, bool more) {
  begin_op(kFlagM | kFlagA, more);
  absorb(data);
}

void Strobe128::ad(ByteSpan data, bool more) {
  begin_op(kFlagA, more);
  absorb(data);
}

void Strobe128::prf(MutByteSpan out, bool more) {
  begin_op(kFlagI | kFlagA | kFlagC, more);
  squeeze(out);
}

}  // namespace velto::crypto
