// STROBE-128 (version 1.0.2) over Keccak-f[1600], reduced to the operations
// a Merlin transcript needs: AD and meta-AD absorption and PRF output.
// Security level 128 gives the rate 166 = 200 − 2·128/8 − 2 bytes.
//
// The sponge state is secret once a transcript has absorbed a key or a
// secret-dependent message, so the object wipes it when it dies; copies are
// allowed (a transcript forks by copying).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/bytes.hpp"
#include "crypto/keccak.hpp"

namespace velto::crypto {

class Strobe128 {
 public:
  static constexpr std::size_t kRate = 166;

  // The state after the STROBE initialisation and a meta-AD of the protocol
  // label.
  explicit Strobe128(ByteSpan protocol_label) noexcept;
  Strobe128(const Strobe128&) noexcept = default;
  Strobe128& operator=(const Strobe128&) noexcept = default;
  ~Strobe128();

  // `more` continues the previous operation of the same kind (the bytes are
  // absorbed as if they had been given with it); continuing another kind is
  // a programming error (panic).
  void meta_ad(ByteSpan data, bool more);
  void ad(ByteSpan data, bool more);
  void prf(MutByteSpan out, bool more);

 private:
  void begin_op(std::uint8_t flags, bool more);
  void absorb(ByteSpan data) noexcept;
  void squeeze(MutByteSpan out) noexcept;
  void run_f() noexcept;

  std::array<std::uint8_t, 200> state_{};
  std::size_t pos_ = 0;
  std::uint8_t pos_begin_ = 0;
  std::uint8_t cur_flags_ = 0;
};

}  // namespace velto::crypto
