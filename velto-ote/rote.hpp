// The random OT extension of the current protocol: SoftSpokenOT over GF(4)
// (64 blocks of 2 bits, 128-bit rows) in random-OT mode with a
// non-interactive consistency check.
//
// The receiver (full trees) derives the check challenges itself by
// Fiat-Shamir over its corrections and sends two messages; the sender
// (punctured trees, Δ) verifies and sends nothing. For ℓ OTs the run extends
// to m = ℓ rounded up to a multiple of 128, plus 128 rows; the last 128 rows
// serve only the check.
//
// Block 63 carries the choice vector: the receiver's choice bits are x = u_63
// and it sends the corrections c_t = u_t ^ u_63 for t = 0..62; the sender
// adds p_t * c_t to its vector of every tree t < 63, after which
// q_t = v_t ^ p_t * x for all 64 trees and row j satisfies
// Q_j = V_j ^ x_j * Δ.
//
// Outputs: for every OT j the receiver's digest equals the sender's digest
// number x_j; each digest seeds the OT's message stream (`OtePrgV1`).
//
// This file is the computation over explicit inputs and received bytes; the
// runs over an executor are in rote_protocol.hpp.
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
#include "velto-ote/bitvec.hpp"
#include "velto-ote/error.hpp"
#include "velto-ote/outputs.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ote {

inline constexpr std::string_view kRoteFiatShamirContext = "VELTO ROTe Fiat-Shamir Challenge V0";
inline constexpr std::string_view kSoftSpokenChallengeContext = "VELTO OTe SoftSpokenOT UniversalHash V1";
inline constexpr std::string_view kCheckDigestContext = "COTe V_Universal_Hash SoftSpokenOT V0";

inline constexpr std::size_t kCorrectionVectors = 63;
inline constexpr std::size_t kRoteCheckMessageSize = 48;

// m for ℓ OTs: ℓ rounded up to a multiple of 128, plus 128.
constexpr std::size_t rote_extended_rows(std::size_t ot_count) noexcept {
  return (ot_count + 127) / 128 * 128 + 128;
}

// The first 48 bytes of derive-key under "VELTO ROTe Fiat-Shamir Challenge V0"
// over tag (32) || key (32) || the 63 corrections in their wire form.
crypto::ByteArray<48> rote_fiat_shamir_challenge(crypto::ByteSpan tag, const crypto::ByteArray<32>& key,
                                                 crypto::ByteSpan corrections);

// ceil(n / 128) challenges: derive-key under
// "VELTO OTe SoftSpokenOT UniversalHash V1" over the seed, its extendable
// output read 16 bytes (little-endian) at a time.
std::vector<crypto::Gf128> softspoken_challenges(const crypto::ByteArray<32>& seed, std::size_t n);

// The universal hash of a GF(4) vector of a multiple of 128 elements: per
// chunk k of 128 elements, plane 0 (bit 0 of every element) and plane 1
// (bit 1) as 128-bit values; S_b = XOR over k of χ_k * plane_b,k in
// GF(2^128); the result is the 128-element GF(4) vector with element e =
// bit e of S_0 + 2 * bit e of S_1, as four words little-endian.
crypto::ByteArray<32> gf4_universal_hash(std::span<const crypto::Gf128> challenges, const Gf4Vec& v);

// derive-key under "COTe V_Universal_Hash SoftSpokenOT V0" over the 64 check
// values of the trees (2,048 bytes).
crypto::ByteArray<32> check_digest(std::span<const crypto::ByteArray<32>, kPprfTrees> values);

struct RoteReceiverOutput {
  ChoiceBits choices;  // x_j for j < ℓ
  OtDigests digests;   // the row hash of V_j ^ (j + 1) * s
};

struct RoteReceiverRun {
  crypto::Bytes correction_message;  // 63 vectors of m / 64 words (5,103 bytes for ℓ = 512)
  crypto::ByteArray<kRoteCheckMessageSize> check_message;  // x̃ (16 bytes LE), then the digest h
  RoteReceiverOutput output;
};

// The receiver's whole run under the executor tag `tag` (32 bytes): both
// messages and its outputs. The trees are only read.
RoteReceiverRun rote_receiver_run(const FullPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count);

struct RoteSenderOutput {
  crypto::Gf128 delta;
  OtDigests digests0;  // the digest of choice bit 0 for every OT
  OtDigests digests1;  // of choice bit 1
};

// The sender's run, fed the two received messages in order.
class RoteSender {
 public:
  // Expands the VOLE of every tree under `tag` (32 bytes); this needs
  // nothing from the receiver. Keeps what it needs of the trees.
  RoteSender(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count);
  RoteSender(const RoteSender&) = delete;
  RoteSender& operator=(const RoteSender&) = delete;
  ~RoteSender();

  // The correction message: 63 sised word vectors under the 4 MiB budget
  // (bytes after the 63rd are not read). A message that does not decode is
  // CommunicationError; a vector of another length than m / 64 words is
  // InvalidPprfHash, checked for all 63 before any is used.
  std::expected<void, OteError> receive_corrections(crypto::ByteSpan payload);

  // The check message (at least 48 bytes; later bytes are ignored; fewer is
  // CommunicationError). Then, in this order: the received and recomputed
  // PPRF hashes must match (else InvalidPprfHash) and the recomputed check
  // digest must equal the received one (else InvalidChallengeResponse).
  // Only then are the outputs computed and released.
  std::expected<RoteSenderOutput, OteError> receive_check(crypto::ByteSpan payload);

 private:
  std::array<std::uint8_t, kPprfTrees> punctured_;
  crypto::Gf128 delta_;
  bool hashes_match_;
  crypto::ByteArray<32> tag_;
  crypto::ByteArray<32> key_;
  std::size_t ot_count_;
  std::size_t rows_;
  std::vector<Gf4Vec> w_;
  std::vector<crypto::Gf128> challenges_;
  crypto::Gf128 tweak_;
  // Per tree, the two planes of its check value before the x̃ term.
  std::vector<std::array<crypto::Gf128, 2>> check_planes_;
  bool corrected_ = false;
};

}  // namespace velto::ote
