// The one-time set-up of an OT extension: 128 base OTs become 64 punctured
// pseudo-random functions of 4 leaves each (GGM trees of depth 2; tree t uses
// base OTs t and t + 64), plus the small-field VOLE that the online runs
// expand from the leaves.
//
// The side that was the base-OT sender knows every leaf (FullPprfTrees) and
// becomes the OT-extension receiver; the side that was the base-OT receiver
// knows all leaves but one per tree (PuncturedPprfTrees) and becomes the
// OT-extension sender, with Δ made of its punctured indices. The full side
// sends one PprfSetupMessage from which the punctured side rebuilds its
// leaves and recomputes each tree's consistency hash; the online runs compare
// the received and recomputed hashes.
//
// Both records are fixed byte layouts that a stored share can carry as they
// are (8,224 and 12,384 bytes) and that wipe themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "crypto/bytes.hpp"
#include "crypto/gf2.hpp"
#include "crypto/secret.hpp"
#include "sised/error.hpp"
#include "velto-ote/bitvec.hpp"

namespace velto::ote {

inline constexpr std::size_t kBaseOtCount = 128;
inline constexpr std::size_t kPprfTrees = 64;
inline constexpr std::size_t kLeavesPerTree = 4;
inline constexpr std::size_t kPprfSetupMessageSize = 10240;

struct FullPprfSetup;

// A base-OT batch as the set-ups read it: the sender's records
// K_i0 || K_i1 (64 bytes each) and the receiver's records K_i || c_i (33
// bytes each, c_i one byte 0 or 1), 128 of them in OT order (the layouts of
// ot::BaseOtSenderOutput::bytes() and ot::BaseOtReceiverOutput::bytes()).
inline constexpr std::size_t kBaseOtSenderRecordSize = 64;
inline constexpr std::size_t kBaseOtReceiverRecordSize = 33;

FullPprfSetup build_full_pprf_trees(crypto::ByteSpan base_ot_sender_records, const crypto::ByteArray<32>& key);

// The message of the full-tree side: the 64 tree hashes, the 64 level-two
// corrections (L XOR K_(t+64),0 then R XOR K_(t+64),1) and the 64 pairs of
// sums (XOR over the leaves of their tripling outputs a and b), 10,240 raw
// bytes without prefixes.
class PprfSetupMessage {
 public:
  crypto::ByteSpan bytes() const noexcept { return bytes_; }
  crypto::ByteSpan hash(std::size_t t) const noexcept { return bytes().subspan(32 * t, 32); }
  crypto::ByteSpan correction(std::size_t t) const noexcept { return bytes().subspan(2048 + 64 * t, 64); }
  crypto::ByteSpan sums(std::size_t t) const noexcept { return bytes().subspan(6144 + 64 * t, 64); }

 private:
  friend FullPprfSetup build_full_pprf_trees(crypto::ByteSpan, const crypto::ByteArray<32>&);
  friend std::expected<PprfSetupMessage, sised::SisedError> decode_pprf_setup_message(crypto::ByteSpan);
  PprfSetupMessage() : bytes_(kPprfSetupMessageSize, 0) {}
  crypto::Bytes bytes_;
};

// Reads the three fixed arrays of a PprfSetupMessage; fewer than 10,240 bytes
// is the decoding error OutOfBounds. Later bytes are not read.
std::expected<PprfSetupMessage, sised::SisedError> decode_pprf_setup_message(crypto::ByteSpan payload);

// The extension receiver's set-up state: leaf x of tree t (the final leaves,
// third parts of the tripling generator) at 128t + 32x, then the 32-byte
// batch key of the base OT (current protocol) or set-up digest (older one).
class FullPprfTrees {
 public:
  static constexpr std::size_t kRecordSize = 8224;

  // The record as bytes; exactly kRecordSize bytes, else nothing.
  static std::optional<FullPprfTrees> from_bytes(crypto::ByteSpan record);
  crypto::ByteSpan bytes() const noexcept { return bytes_.span(); }

  crypto::ByteSpan leaf(std::size_t t, std::size_t x) const noexcept {
    return bytes_.span().subspan(128 * t + 32 * x, 32);
  }
  crypto::ByteArray<32> key() const noexcept;

 private:
  friend FullPprfSetup build_full_pprf_trees(crypto::ByteSpan, const crypto::ByteArray<32>&);
  FullPprfTrees() : bytes_(kRecordSize) {}
  crypto::SecretBytes bytes_;
};

// The extension sender's set-up state: the 64 received hashes, the 64
// recomputed ones, then per tree its four leaves with 32 zero bytes at the
// punctured index p_t followed by the byte p_t (129 bytes), then the 32-byte
// batch key or set-up digest.
class PuncturedPprfTrees {
 public:
  static constexpr std::size_t kRecordSize = 12384;

  // The record as bytes; exactly kRecordSize bytes with every punctured index
  // below 4, else nothing.
  static std::optional<PuncturedPprfTrees> from_bytes(crypto::ByteSpan record);
  crypto::ByteSpan bytes() const noexcept { return bytes_.span(); }

  crypto::ByteSpan received_hash(std::size_t t) const noexcept { return bytes_.span().subspan(32 * t, 32); }
  crypto::ByteSpan computed_hash(std::size_t t) const noexcept {
    return bytes_.span().subspan(2048 + 32 * t, 32);
  }
  crypto::ByteSpan leaf(std::size_t t, std::size_t x) const noexcept {
    return bytes_.span().subspan(kTreesOffset + 129 * t + 32 * x, 32);
  }
  std::uint8_t punctured_index(std::size_t t) const noexcept {
    return bytes_.span()[kTreesOffset + 129 * t + 128];
  }
  crypto::ByteArray<32> key() const noexcept;

  // Δ: p_t in block t (bits 2t, 2t + 1).
  crypto::Gf128 delta() const noexcept;
  // Whether every received hash equals its recomputed one; constant time
  // over all 2,048 bytes.
  bool hashes_match() const noexcept;

 private:
  friend PuncturedPprfTrees build_punctured_pprf_trees(crypto::ByteSpan, const crypto::ByteArray<32>&,
                                                       const PprfSetupMessage&);
  static constexpr std::size_t kTreesOffset = 4096;
  static constexpr std::size_t kKeyOffset = 12352;
  PuncturedPprfTrees() : bytes_(kRecordSize) {}
  crypto::SecretBytes bytes_;
};

struct FullPprfSetup {
  FullPprfTrees trees;
  PprfSetupMessage message;
};

// Full-tree side: the trees and the message to send, from the 128 records of
// a base-OT sender (fewer is a programming error) and the batch key or
// set-up digest to keep with them.
FullPprfSetup build_full_pprf_trees(crypto::ByteSpan base_ot_sender_records, const crypto::ByteArray<32>& key);

// Punctured side: the trees from the 128 records of a base-OT receiver, the
// batch key or set-up digest, and the received message. Tree t's known
// level-one node is K_t, its punctured leaf 2(1 - c_t) + (1 - c_(t+64)).
// Runs in time independent of the choice bits.
PuncturedPprfTrees build_punctured_pprf_trees(crypto::ByteSpan base_ot_receiver_records,
                                              const crypto::ByteArray<32>& key, const PprfSetupMessage& message);

// Small-field VOLE of all 64 trees for a run under `tag`: with r_x the
// `ote_vole_prg` expansion of leaf x of a tree to as many bits as the run
// has rows, the full side gets u = r_0 ^ r_1 ^ r_2 ^ r_3 and v = XOR over x of
// x * r_x (a GF(4) vector), the punctured side w = XOR over x != p of
// (x ^ p) * r_x, which is v ^ p * u. Sizes are taken from the vectors passed
// in: 64 of each, all of the same length in rows (a multiple of 64).
void full_trees_vole(const FullPprfTrees& trees, crypto::ByteSpan tag, std::span<BitVec> u, std::span<Gf4Vec> v);
void punctured_trees_vole(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::span<Gf4Vec> w);

}  // namespace velto::ote
