// Joint verifiable secret sharing on secp256k1: every party of a session
// deals a Feldman sharing of its own secret (zero for a party that brings
// none), and each party ends with the sum of the shares it received, the
// public point of the summed secret, and the check that this point is the
// one the parties announced.
//
// Messages, each on its own executor:
// - child "broadcast metadata" of the session executor: the all-party echo
//   broadcast of every party's optional expected point;
// - child "vss" + dealer id: the dealer's share for each other party (one
//   32-byte scalar each), and under its child "broadcast" the dealer's
//   commitment list (varint count, then 33 bytes per point, C_0 first),
//   which every receiver echoes to the other receivers.
// A dealer or receiver that cheats makes the parties that detect it fail;
// nobody is named and there is no complaint round.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/secret_sharing.hpp"

namespace velto {

// Labels of the sub-protocols (part of the wire protocol).
inline constexpr std::string_view kVssLabel = "vss";
inline constexpr std::string_view kVssBroadcastLabel = "broadcast";
inline constexpr std::string_view kVssMetadataLabel = "broadcast metadata";

// f(x) for the coefficients a_0 .. a_{k-1}, by Horner's rule (0 for none).
crypto::Scalar evaluate_polynomial(std::span<const crypto::Scalar> coefficients, const crypto::Scalar& x);

// Σ C_j·x^j for the commitment list C_0 .. C_{k-1}, by Horner's rule in the
// group (the identity for an empty list).
crypto::Point evaluate_commitments(std::span<const crypto::Point> commitments, const crypto::Scalar& x);

// What one dealing or receiving step yields: the dealer's public value C_0
// and this party's share of the dealer's secret.
struct DealtShare {
  crypto::Point public_value;
  VssShare share;
};

// The dealing step on `dealing` (the executor "vss" + own id; released at the
// end): draws a_1 .. a_{t-1} from the executor's generator (64 bytes each,
// reduced modulo n), queues the commitment list for every other party on
// the child "broadcast", then sends every other party its share, in party
// order. Returns C_0 and the own share.
// Errors: InvalidThreshold when t is 0 or above the party count (nothing
// sent), BroadcastError(Communication) when the list cannot be queued,
// CommunicationError when a share cannot be sent.
std::expected<DealtShare, SecretSharingError> vss_deal(ProtocolExecutor dealing, const crypto::Scalar& secret,
                                                       std::uint16_t threshold);

// The receiving step for `dealer` (another party) on `receiving` (the
// executor "vss" + dealer id; released at the end): awaits the dealer's share
// and, side by side, takes part in the echo broadcast of its commitment list
// on the child "broadcast"; then checks that the list has exactly t points
// and that share·G is the list evaluated at this party's id.
// Errors: InvalidThreshold (before anything is received), CommunicationError
// (the share did not arrive or is not a canonical scalar), BroadcastError
// (the list's echo broadcast failed), ShareNotOnBroadcastPolynomial (a list
// whose length is not t, or a share not on it). The first failure of the two
// waits ends the step and abandons the other.
boost::asio::awaitable<std::expected<DealtShare, SecretSharingError>> vss_receive(ProtocolExecutor receiving,
                                                                                  PartyId dealer,
                                                                                  std::uint16_t threshold);

// The joint sharing on `executor` (taken over and released at the end):
// deals `secret` with threshold t, receives every other dealer's share and
// announces `expected_public_point` with the all-party echo broadcast. At
// least one party must announce a point, and all that do must announce the
// same one, Y*. Returns (Y, share): Y the sum of every dealer's C_0, which
// must equal Y*, and share {sum of the received shares and the own one, own
// id, t, n}. Every party is to pass the same t.
// Errors: VssError(...) from the first step that fails (the others are then
// abandoned; a failed metadata broadcast arrives as VssError(BroadcastError)),
// MissingOrIncorrectMetadata, ReceivedInconsistentShares.
boost::asio::awaitable<std::expected<std::pair<crypto::Point, VssShare>, JointVssError>> joint_vss_secp256k1(
    ProtocolExecutor executor, crypto::Scalar secret, std::uint16_t threshold,
    std::optional<crypto::Point> expected_public_point);

}  // namespace velto
