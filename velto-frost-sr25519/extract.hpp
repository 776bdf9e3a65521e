// Full private-key extraction of an sr25519 threshold key: online (exactly
// t parties hand their Lagrange-weighted shares to one receiver) and offline
// (the secret rebuilt from stored shares).
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/ed25519.hpp"
#include "sised/codec.hpp"
#include "sised/ed25519_codec.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-sr25519/error.hpp"
#include "velto-frost-sr25519/keyshare.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::frost {

// The child label of the extraction, opened on the jointly tagged executor.
inline constexpr std::string_view kSr25519ExtractionLabel = "sr25519 full private-key extraction";

// The one message, sender to receiver: λ_j·x_j (36 bytes).
struct Sr25519ExportMessage {
  PartyId from;
  PartyId to;
  crypto::EdScalar share;
};
VELTO_SISED_RECORD(Sr25519ExportMessage, from, to, share)

// One party's side of an extraction on `executor` (the child above; consumed).
// The session must hold exactly t parties, else
// Inner(InvalidAmountOfSecretSharesForRecovery{t, parties}). A sender sends
// its weighted share to `export_to` and returns nothing; the receiver adds
// the t − 1 received shares to its own and returns x after checking
// x·B = Y (else Inner(ReceivedInvalidPrivateKey)). Other errors:
// CommunicationError (send, receive, decoding), ReceivedMaliciousdData (a
// from field that is not the sender). `export_to` must be one of the
// executor's parties (checked by the caller; a breach panics in the send).
boost::asio::awaitable<std::expected<std::optional<crypto::EdScalar>, Sr25519ExtractRunError>> sr25519_extract(
    ProtocolExecutor executor, const Sr25519KeyShare& share, PartyId export_to);

// The secret of `shares` (distinct shares; the caller removes duplicates):
// Σ λ_i·s_i over their ids. The first share is the reference: fewer shares
// than its threshold is InvalidAmountOfSecretSharesForRecovery (threshold 1,
// found 0 for none), another group key IncompatibleSecretShares, and a sum
// x with x·B ≠ Y ReceivedInvalidPrivateKey.
std::expected<crypto::EdScalar, Sr25519ExtractError> sr25519_reconstruct_secret(
    std::span<const Sr25519KeyShare> shares);

}  // namespace velto::frost
