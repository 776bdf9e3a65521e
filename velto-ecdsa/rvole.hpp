// Random vector OLE between an ordered pair of signers, Alice (the sender)
// and Bob (the receiver): Alice brings scalars a_0..a_(l-1), Bob brings
// nothing and receives a random b that nobody chose; they end with c and d
// such that c_h + d_h = a_h * b (mod n) for every h, and Bob detects a
// message from Alice that disagrees with her OT outputs.
//
// Three phases per direction of a pair:
// 1. Set-up, once per signing: 128 base OTs and 64 PPRF trees. Bob's side
//    (`rote_receiver_setup`) is the base-OT sender and keeps the full trees;
//    Alice's side (`rvole_setup_sender`) is the base-OT receiver and keeps
//    the punctured trees.
// 2. OT phase (`rvole_receiver_online`, `rvole_sender_online`): the random-OT
//    extension gives 512 random OTs, each carrying W = l + 2 scalars; Alice
//    holds both matrices V0, V1, Bob his choice bits β, the rows Y of his
//    choices and b = sum of β_j * g_j.
// 3. VOLE phase: Alice sends one correction message (`rvole_step`, for all
//    peers `collect_rvole_steps`); Bob checks it and computes his shares
//    (`rvole_driver`).
//
// The pure computations of phase 3 are exposed (`rvole_sender_compute`,
// `rvole_receiver_compute`) with explicit inputs; the rest runs over
// executors. All arithmetic is modulo the secp256k1 group order n.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/error.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/rvole_gadget.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"
#include "velto-ot/error.hpp"
#include "velto-ote/error.hpp"
#include "velto-ote/outputs.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ecdsa {

inline constexpr std::size_t kRvoleOtCount = 512;
inline constexpr std::string_view kRvoleThetaContext = "Velto ECDSA RVOLE RO Theta Function V0";
inline constexpr std::string_view kRvoleBinaryContext = "Velto ECDSA RVOLE RO Binary Function V0";
// The child of an instance's executor on which the OT phase runs.
inline constexpr std::string_view kRvoleOtLabel = "rvole init";

// The set-up states: Bob's full trees and Alice's punctured trees, each with
// the base OT's batch key.
using RoteReceiverSetup = ote::FullPprfTrees;
using RoteSenderSetup = ote::PuncturedPprfTrees;

// A rows x width matrix of scalars, row by row.
class ScalarMatrix {
 public:
  ScalarMatrix() = default;
  ScalarMatrix(std::size_t rows, std::size_t width) : rows_(rows), width_(width), v_(rows * width) {}

  std::size_t rows() const noexcept { return rows_; }
  std::size_t width() const noexcept { return width_; }
  const crypto::Scalar& at(std::size_t row, std::size_t column) const noexcept { return v_[row * width_ + column]; }
  crypto::Scalar& at(std::size_t row, std::size_t column) noexcept { return v_[row * width_ + column]; }
  std::span<const crypto::Scalar> row(std::size_t r) const noexcept {
    return std::span<const crypto::Scalar>(v_).subspan(r * width_, width_);
  }
  std::span<crypto::Scalar> row(std::size_t r) noexcept { return std::span<crypto::Scalar>(v_).subspan(r * width_, width_); }
  std::span<const crypto::Scalar> values() const noexcept { return v_; }

 private:
  std::size_t rows_ = 0;
  std::size_t width_ = 0;
  std::vector<crypto::Scalar> v_;
};

// Row j: the first `width` values of OT j's message stream (ote_prg_v1 of
// its digest), taken as the 32-byte halves of consecutive 64-byte blocks,
// first half first, each read big-endian and reduced once modulo n.
ScalarMatrix expand_ot_digests(const ote::OtDigests& digests, std::size_t width);

// The sum over i = 0 .. min(hi - lo, 512) - 1 of g_i * m[lo + i][column]; 0
// for an empty range. A row or column outside the matrix panics.
crypto::Scalar rvole_gadget_product(const ScalarMatrix& m, std::size_t column, std::size_t lo, std::size_t hi);

// BLAKE3 derive-key under "Velto ECDSA RVOLE RO Theta Function V0" over the
// tag and every value (32 bytes big-endian); w - 2 pairs read from the
// extendable output, 64 bytes per pair, each half reduced once modulo n.
std::vector<std::array<crypto::Scalar, 2>> rvole_theta_ro(const crypto::ByteArray<32>& tag,
                                                          std::span<const crypto::Scalar> values,
                                                          std::size_t width);

// BLAKE3 derive-key under "Velto ECDSA RVOLE RO Binary Function V0" over the
// tag and the 512 check rows, each as its two scalars (32 bytes big-endian).
crypto::ByteArray<32> rvole_binary_ro(const crypto::ByteArray<32>& tag,
                                      std::span<const std::array<crypto::Scalar, 2>> rows);

// Alice's correction message. On the wire: w as 4 bytes little-endian, tau
// as a sised vector of scalars (varint count, then 32 bytes big-endian
// each, row by row), eta_0, eta_1 (32 bytes big-endian each) and mu (32 raw
// bytes). 65,639 bytes for w = 4.
struct RvoleCorrection {
  std::uint32_t width = 0;
  std::vector<crypto::Scalar> tau;
  crypto::Scalar eta0;
  crypto::Scalar eta1;
  crypto::ByteArray<32> mu{};
};

// The message's bytes, with room behind them for the tag the session engine
// appends. Fails only for a count above 2^32 - 1 ("usize is limited to u32").
std::expected<crypto::Bytes, sised::EncodeError> encode_rvole_correction(const RvoleCorrection& message);

// Reads the message under the 4 MiB budget: OutOfBounds when short,
// InvalidVarIntEncoding, HeapSizeLimitExceeded (32 bytes per announced
// entry, charged before anything is read), "Invalid Scalar" for a value not
// below n. Bytes after mu are not examined.
std::expected<RvoleCorrection, sised::SisedError> decode_scalar_vec(crypto::ByteSpan payload);

struct RvoleSenderStep {
  RvoleCorrection message;
  std::vector<crypto::Scalar> shares;  // s_0 .. s_(2k-1)
};

// Alice's VOLE phase over explicit inputs: k = min(|x|, |y|); her extended
// input is a = (x_0, y_0, .., x_(k-1), y_(k-1), r0, r1). V0 and V1 must both
// have width 2k + 2 (else panic). `tag` keys both random oracles.
RvoleSenderStep rvole_sender_compute(const crypto::ByteArray<32>& tag, const ScalarMatrix& v0,
                                     const ScalarMatrix& v1, std::span<const crypto::Scalar> x,
                                     std::span<const crypto::Scalar> y, const crypto::Scalar& r0,
                                     const crypto::Scalar& r1);

// Bob's VOLE phase over explicit inputs: his choice bits (one byte 0 or 1
// per OT), the rows Y of his choices, his l, and the decoded message.
// InvalidMessage unless the width is not 0, the row count (entries divided
// by the width, rounded down) is 512 and the width is l + 2; CheckFailed
// when the recomputed mu differs. Yields d_0 .. d_(l-1).
std::expected<std::vector<crypto::Scalar>, ote::CoteError> rvole_receiver_compute(
    const crypto::ByteArray<32>& tag, std::span<const std::uint8_t> choices, const ScalarMatrix& y,
    std::size_t l, const RvoleCorrection& message);

// b = sum of g_j over the OTs whose choice bit is 1.
crypto::Scalar rvole_receiver_input(std::span<const std::uint8_t> choices);

// ---------------------------------------------------------------------------
// Set-up (one direction).

// Bob's side, on the direction's pair executor (tag from (Alice, Bob)),
// consumed: the base-OT sender on its "BASE OT" child, the full trees, and
// the 10,240-byte set-up message sent on the pair executor itself. Waits
// only for the base OT.
boost::asio::awaitable<std::expected<RoteReceiverSetup, ot::BaseOtError>> rote_receiver_setup(
    PeerExecutor executor);

// Alice's side, on the same tag: the base-OT receiver on the "BASE OT"
// child, then the set-up message from the pair executor (fewer than 10,240
// bytes is CommunicationError with the decoding error), and the punctured
// trees with their recomputed hashes (compared in the first online run).
boost::asio::awaitable<std::expected<RoteSenderSetup, ot::BaseOtError>> rvole_setup_sender(PeerExecutor executor);

// ---------------------------------------------------------------------------
// Online (one instance of one direction).

// What Alice's VOLE phase consumes: the peer, her two OT matrices and the
// instance's executor.
struct RvolePeerRecord {
  PartyId peer;
  ScalarMatrix v0;
  ScalarMatrix v1;
  PeerExecutor executor;
};

// Bob's OT outputs.
struct RvoleReceiverOt {
  ote::ChoiceBits choices;  // β_j
  ScalarMatrix y;           // rows of V_(β_j), width l + 2
  crypto::Scalar b;
};

// Alice's OT phase: the random-OT sender on the instance's "rvole init"
// child with 512 OTs, expanded to rows of l + 2 scalars. Returns the peer
// record (the instance executor moves into it). The caller reports a
// failure as its AliceError.
boost::asio::awaitable<std::expected<RvolePeerRecord, ote::OteError>> rvole_sender_online(
    PeerExecutor instance, const RoteSenderSetup& setup, std::size_t l);

// Bob's OT phase: the random-OT receiver on the instance's "rvole init"
// child; it only sends. The caller reports a failure as its BobError.
std::expected<RvoleReceiverOt, ote::CoteError> rvole_receiver_online(PeerExecutor& instance,
                                                                    const RoteReceiverSetup& setup,
                                                                    std::size_t l);

// Alice's VOLE phase for one peer: draws r0 then r1 from the instance
// executor's generator, sends the correction message to the peer on that
// executor (its tag keys the random oracles), releases the executor and
// yields (peer, shares). A failed send is the boxed ManagerChannelClosed.
std::expected<std::pair<PartyId, std::vector<crypto::Scalar>>, BoxedError> rvole_step(
    RvolePeerRecord record, std::span<const crypto::Scalar> x, std::span<const crypto::Scalar> y);

// rvole_step for every record in the order given; the first error stops it
// (records not reached are dropped unsent). Results sorted by peer.
std::expected<PartyMap<std::vector<crypto::Scalar>>, BoxedError> collect_rvole_steps(
    std::vector<RvolePeerRecord> records, std::span<const crypto::Scalar> x, std::span<const crypto::Scalar> y);

// Bob's VOLE phase: one message from the peer on the instance executor,
// decoded (a receive or decoding failure is CommError), checked and turned
// into his shares.
boost::asio::awaitable<std::expected<std::pair<PartyId, std::vector<crypto::Scalar>>, ote::CoteError>>
rvole_driver(PeerExecutor& instance, const RvoleReceiverOt& ot, std::size_t l);

}  // namespace velto::ecdsa
