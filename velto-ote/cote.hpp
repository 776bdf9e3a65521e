// The correlated OT extension with an interactive check, used by the older
// (1.1.0) signing engine's two-party multiplication.
//
// The same SoftSpokenOT over GF(4) as the random OT extension (rote.hpp),
// block 63 carrying the choice vector likewise, with these differences: the
// check runs over GF(2^64); its challenges come from a seed that the sender
// draws after seeing the corrections (three messages: corrections, seeds,
// response); the run extends ℓ OTs to ℓ rounded up to a multiple of 64 plus
// 64 rows; every message is absorbed into a transcript that the caller
// creates and keeps using afterwards; the outputs are the 16-byte row
// digests themselves (the caller expands them with `cote_prg`).
//
// Roles: CoteReceiver holds the full trees and learns one digest per OT with
// its choice bit; CoteSender holds the punctured trees and Δ and learns both.
//
// Transcript order on both sides: the 32-byte set-up digest kept with the
// trees, the correction message (63 sised word vectors), τ2 then τ1 (the
// seeds message's two halves), x̃ (8 bytes little-endian) then h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/gf2.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ote/bitvec.hpp"
#include "velto-ote/error.hpp"
#include "velto-ote/outputs.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ote {

inline constexpr std::string_view kCoteChallengeLabel = "VELTO OTe SoftSpokenOT UniversalHash V0";
inline constexpr std::string_view kCoteConsistencyCheck = "ConsistencyCheck";
inline constexpr std::size_t kCoteSeedsMessageSize = 64;
inline constexpr std::size_t kCoteResponseSize = 40;
// Challenges drawn from one power sequence before a new base is drawn.
inline constexpr std::size_t kCoteChallengeBatch = std::size_t{1} << 20;

// m for ℓ OTs: ℓ rounded up to a multiple of 64, plus 64.
constexpr std::size_t cote_extended_rows(std::size_t ot_count) noexcept {
  return (ot_count + 63) / 64 * 64 + 64;
}

// ceil(n / 64) challenges in GF(2^64): keyed BLAKE3 under `key` over
// "VELTO OTe SoftSpokenOT UniversalHash V0" || "ConsistencyCheck" seeds a
// ChaCha20 generator; per batch of up to 2^20 challenges one u64 v is drawn
// and the batch's challenges are v, v^2, v^3, ...
std::vector<std::uint64_t> cote_challenges(const crypto::ByteArray<32>& key, std::size_t n);

// Per chunk of 64 elements (two words) planes 0 and 1 as 64-bit values;
// S_b = XOR over k of χ_k * plane_b,k in GF(2^64); the 64-element GF(4)
// vector with element e = bit e of S_0 + 2 * bit e of S_1 (two words, 16
// bytes little-endian).
crypto::ByteArray<16> gf4_universal_hash_v0(std::span<const std::uint64_t> challenges, const Gf4Vec& v);

// derive-key under "COTe V_Universal_Hash SoftSpokenOT V0" over the 64 check
// values (1,024 bytes).
crypto::ByteArray<32> cote_universal_hash_transcript(std::span<const crypto::ByteArray<16>, kPprfTrees> values);

// The first 16 bytes of the ChaCha20 keystream under τ (nonce 0, counter 0).
crypto::ByteArray<16> ote_uniform_hash(const crypto::ByteArray<32>& tau);

struct CoteReceiverOutput {
  ChoiceBits choices;
  OtDigests digests;  // the row hash of V_j ^ ((j + 1) mod 2^16) * s
};

class CoteReceiver {
 public:
  // Absorbs the trees' set-up digest, expands the VOLE of every tree under
  // `tag` (32 bytes), builds the correction message and absorbs it.
  CoteReceiver(const FullPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count, Transcript& transcript);
  CoteReceiver(const CoteReceiver&) = delete;
  CoteReceiver& operator=(const CoteReceiver&) = delete;

  const crypto::Bytes& correction_message() const noexcept { return correction_message_; }

  // The sender's seeds (τ2 || τ1; at least 64 bytes, later bytes ignored;
  // fewer is CommunicationError): absorbs them, computes the check response
  // (absorbed too) and the outputs.
  std::expected<crypto::ByteArray<kCoteResponseSize>, RoteError> receive_seeds(crypto::ByteSpan payload,
                                                                               Transcript& transcript);

  // After receive_seeds.
  CoteReceiverOutput take_output();

 private:
  std::size_t ot_count_;
  std::size_t rows_;
  std::vector<BitVec> u_;  // only u_63 is kept after the corrections
  std::vector<Gf4Vec> v_;
  crypto::Bytes correction_message_;
  CoteReceiverOutput output_;
  bool done_ = false;
};

struct CoteSenderOutput {
  crypto::Gf128 delta;
  OtDigests digests0;
  OtDigests digests1;
};

class CoteSender {
 public:
  // Absorbs the trees' set-up digest and expands the VOLE of every tree.
  // Keeps what it needs of the trees.
  CoteSender(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count, Transcript& transcript);
  CoteSender(const CoteSender&) = delete;
  CoteSender& operator=(const CoteSender&) = delete;
  ~CoteSender();

  // The correction message (63 sised word vectors, 4 MiB budget). A message
  // that does not decode is CommunicationError; a vector of another length
  // than m / 64 words is InvalidPprfHash (the invalid-message case, before
  // any check value). Absorbs the message and applies the corrections.
  std::expected<void, OteError> receive_corrections(crypto::ByteSpan payload, Transcript& transcript);

  // The seeds message τ2 || τ1 for the two 32-byte values the sender drew
  // (τ1 first); absorbs τ2 then τ1 and computes the check values and the
  // outputs, which are released only by receive_response.
  crypto::ByteArray<kCoteSeedsMessageSize> challenge_seeds(const crypto::ByteArray<32>& tau1,
                                                           const crypto::ByteArray<32>& tau2,
                                                           Transcript& transcript);
  // Draws τ1 then τ2 from the generator and calls challenge_seeds.
  template <class G>
  crypto::ByteArray<kCoteSeedsMessageSize> draw_challenge_seeds(G& generator, Transcript& transcript) {
    crypto::ByteArray<32> tau1;
    crypto::ByteArray<32> tau2;
    generator.fill_bytes(tau1);
    generator.fill_bytes(tau2);
    auto out = challenge_seeds(tau1, tau2, transcript);
    crypto::secure_wipe(tau1.data(), tau1.size());
    crypto::secure_wipe(tau2.data(), tau2.size());
    return out;
  }

  // The response x̃ (8 bytes LE) || h (at least 40 bytes; later ignored;
  // fewer is CommunicationError). Absorbs x̃ then h, then checks in this
  // order: PPRF hashes (InvalidPprfHash), check digest
  // (InvalidChallengeResponse).
  std::expected<CoteSenderOutput, OteError> receive_response(crypto::ByteSpan payload, Transcript& transcript);

 private:
  std::array<std::uint8_t, kPprfTrees> punctured_;
  crypto::Gf128 delta_;
  bool hashes_match_;
  std::size_t ot_count_;
  std::size_t rows_;
  std::vector<Gf4Vec> w_;
  std::array<std::array<std::uint64_t, 2>, kPprfTrees> check_planes_{};
  CoteSenderOutput output_;
  int stage_ = 0;  // 0: expanded, 1: corrected, 2: seeds sent, 3: done
};

}  // namespace velto::ote
