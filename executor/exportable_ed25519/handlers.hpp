// The v1.2.0 handlers of the exportable Ed25519 operations. Each takes the
// started root executor of its session (moved in) and yields the operation's
// value or an ExecutorFailure without a manager error. Shares passed by
// reference belong to the operation task, which keeps them alive until the
// handler's coroutine has finished.
//
// Child labels (part of the wire protocol):
//   key generation  "broadcast_pk_chaincode", "preimage share", "keypair"
//                   under the joint tag
//   refresh         "ED25519 transport key refresh", "Ed25519 Refresh"
//   reshare         "Ed25519 transport key refresh", "Ed25519 Reshare"
//   import          "ED25519 transport key refresh",
//                   "ED25519 Import Reshare subroutine"
// Signing runs on the root executor with the Ed25519 signing handler
// (executor/ed25519/handlers.hpp); the export's contributions travel under
// the root tag.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/lib/dispatch.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-ed25519/exportable.hpp"
#include "velto-frost-ed25519/keyshare.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

inline constexpr std::string_view kExportableRefreshLabel = "Ed25519 Refresh";
inline constexpr std::string_view kExportableReshareLabel = "Ed25519 Reshare";
inline constexpr std::string_view kExportableImportLabel = "ED25519 Import Reshare subroutine";
// Refresh and import spell the collector label in capitals, reshare not.
inline constexpr std::string_view kExportableTransportKeyLabel = "ED25519 transport key refresh";
inline constexpr std::string_view kExportableReshareTransportKeyLabel = "Ed25519 transport key refresh";

using ExportableShareOutcome = HandlerOutcome<ExportableEd25519StorableSecretShare>;

// The session under its jointly generated tag, or the failure of the tag's
// generation (Executor).
boost::asio::awaitable<std::expected<ProtocolExecutor, ExecutorFailure>> exportable_joint_executor(
    ProtocolExecutor root);

// Key generation, sampling party: draws the seed from the session
// executor's generator, announces its key and deals both sharings with
// threshold t. Failures (Executor): ThresholdGreaterThanParties before
// anything is sent, BroadcastError(CheatingDetected) when another party
// announces a key too, and those of the rounds.
HandlerFuture<frost::ExportableEd25519KeyShare> exportable_sample_key_handler(ProtocolExecutor root,
                                                                            std::uint16_t t);
// Key generation, receiving party: refuses t above the party count before
// anything is sent (ThresholdGreaterThanParties), then adopts the one
// announced key (InsufficientShares when nobody announced one,
// BroadcastError(CheatingDetected) for differing announcements).
HandlerFuture<frost::ExportableEd25519KeyShare> exportable_receive_key_handler(ProtocolExecutor root,
                                                                             std::uint16_t t);

// Export of the seed to `receiver`: every other party sends its key share
// (173 bytes) to the receiver and ends with nothing; the receiver rebuilds
// the seed from the contributions in arrival order followed by its own
// share. The rebuilt key must be the receiver's own key (its group key and
// its commitment), else ReconstructionFailed. A receiver that is not in the
// session fails every party with PartyNotFound before anything is sent.
HandlerFuture<std::optional<frost::Ed25519SeedKeyPair>> exportable_export_handler(
    ProtocolExecutor root, const ExportableEd25519StorableSecretShare& share, PartyId receiver);

// Refresh among all parties of the key: InvalidNumberOfParties {n, session}
// before anything is sent when the session lacks a party.
boost::asio::awaitable<ExportableShareOutcome> exportable_refresh_handler(
    ProtocolExecutor root, const ExportableEd25519StorableSecretShare& share);
// Reshare, remaining party: deals its share weighted over `dealers` (the old
// ids of every remaining party) with the new threshold.
boost::asio::awaitable<ExportableShareOutcome> exportable_reshare_remaining_party_handler(
    ProtocolExecutor root, const ExportableEd25519StorableSecretShare& share, std::vector<PartyId> dealers,
    std::uint16_t new_threshold);
// Reshare, new party.
boost::asio::awaitable<ExportableShareOutcome> exportable_reshare_new_party_handler(ProtocolExecutor root,
                                                                                   std::uint16_t new_threshold);
// Import, recipient.
boost::asio::awaitable<ExportableShareOutcome> exportable_import_recipient_handler(ProtocolExecutor root,
                                                                                  std::uint16_t t);
// Import, importer of `seed`: InvalidImportedPrivateKey before anything is
// sent when the masked seed is no secp256k1 scalar.
boost::asio::awaitable<ExportableShareOutcome> exportable_import_importer_handler(ProtocolExecutor root,
                                                                                 std::uint16_t t,
                                                                                 crypto::SecretArray<32> seed);

// The seed rebuilt from `records` (first record the reference) for the
// holder of `own`: the reconstruction's checks, and the rebuilt key must be
// `own`'s group key with `own`'s commitment (ReconstructionFailed).
std::expected<frost::Ed25519SeedKeyPair, frost::SeedReconstructionError> exportable_rebuild_for(
    const frost::ExportableEd25519KeyShare& own, std::span<const frost::ExportableEd25519KeyShare> records);

// 128 hex digits: seed ‖ compressed public key (the seed's copies wiped).
std::string exportable_key_text(const frost::Ed25519SeedKeyPair& key);

}  // namespace velto::executor
