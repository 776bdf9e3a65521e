// Pieces shared by the two OT extensions (random and correlated): the
// receiver's VOLE and corrections, the sender's decoding and application of
// them, and little-endian word access.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "crypto/bytes.hpp"
#include "sised/error.hpp"
#include "crypto/gf2.hpp"
#include "velto-ote/bitvec.hpp"
#include "velto-ote/outputs.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ote::detail {

inline constexpr std::size_t kCorrections = 63;

inline void store_le64(std::uint8_t* p, std::uint64_t v) noexcept {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint64_t load_le64(const std::uint8_t* p) noexcept {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// All ones when the low bit of `bit` is set, else zero.
inline std::uint64_t word_mask(std::uint64_t bit) noexcept { return 0 - (bit & 1u); }

// The receiver's VOLE of all 64 trees over `rows` rows.
struct ReceiverVole {
  std::vector<BitVec> u;
  std::vector<Gf4Vec> v;
};
ReceiverVole receiver_vole(const FullPprfTrees& trees, crypto::ByteSpan tag, std::size_t rows);

// The sender's VOLE of all 64 trees over `rows` rows (before corrections).
std::vector<Gf4Vec> sender_vole(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::size_t rows);

// The correction message: c_t = u_t ^ u_63 for t = 0..62, each as a sised
// word vector.
crypto::Bytes correction_message(const std::vector<BitVec>& u);

// A decoded correction message: the 63 vectors' word bytes and the length of
// the message part they came from (what the hashes and transcripts take).
struct DecodedCorrections {
  std::array<crypto::ByteSpan, kCorrections> vectors;
  std::size_t consumed = 0;
  // Whether every vector holds exactly the expected number of words.
  bool lengths_ok = false;
};
std::expected<DecodedCorrections, sised::SisedError> decode_corrections(crypto::ByteSpan payload,
                                                                        std::size_t words);

// w_t ^= p_t * c_t for t = 0..62 (element j gets p_t where bit j of c_t is
// set), without branching on p_t.
void apply_corrections(std::vector<Gf4Vec>& w, std::span<const std::uint8_t, kPprfTrees> punctured,
                       const DecodedCorrections& c);

// The digests of the first ot_count rows of the 64 columns: row j's value
// R_j ^ t_j, where t_j = (j + 1) * s in GF(2^128) (with j + 1 taken modulo
// 2^16 when `tweak_mod_2_16`), hashed with the row hash of row j into d0;
// with `delta`, also R_j ^ t_j ^ Δ into d1. Rows are hashed 64 at a time.
void hash_rows(const std::vector<Gf4Vec>& columns, const crypto::Gf128& s, bool tweak_mod_2_16,
               std::size_t ot_count, OtDigests& d0, const crypto::Gf128* delta, OtDigests* d1);

}  // namespace velto::ote::detail
