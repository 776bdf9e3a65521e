// The Ed25519 handlers, registered by every operation under v1.1.0. Each
// takes the started root executor of its session (moved in) and yields the
// operation's value or an ExecutorFailure without a manager error; the
// operation task turns the failure into code -8.
//
// Shares passed by reference belong to the operation task, which keeps them
// alive until the handler's coroutine has finished.
//
// Every handler that deals with a threshold first checks that it fits the
// session's party count (session_checks.hpp), before it sends anything.
//
// The share-renewing handlers (refresh, both reshare roles, both import
// roles) share one road: a jointly generated tag J, then the transport-key
// collector and a protocol task as tasks of their own, joined by
// join_renewal_tasks (executor/common/task_join.hpp), and a share of tag 2
// with the new key share, the party's new transport key and every party's
// new transport public key, its own included. Child labels under J are part
// of the wire protocol, their case included:
//   refresh   "ED25519 transport key refresh" (spawned first),
//             "Ed25519 Refresh" / "reshare" / "keygen_2rounds"
//   reshare   the announcement under J itself, then
//             "Ed25519 Reshare" / "keygen_2rounds" (spawned first) and
//             "Ed25519 transport key refresh"
//   import    "ED25519 transport key refresh" (spawned first),
//             "ED25519 Import broadcast",
//             "ED25519 Import Reshare subroutine" / "keygen_2rounds"
//   extract   "ED25519 full private-key extraction"
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/error.hpp"
#include "sised/codec.hpp"
#include "sised/ed25519_codec.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-ed25519/extract.hpp"
#include "velto-frost-ed25519/keyshare.hpp"
#include "velto-frost-ed25519/spub.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

inline constexpr std::string_view kEd25519CollectorLabel = "ED25519 transport key refresh";
inline constexpr std::string_view kEd25519ReshareCollectorLabel = "Ed25519 transport key refresh";
inline constexpr std::string_view kEd25519RefreshChildLabel = "Ed25519 Refresh";
inline constexpr std::string_view kEd25519RefreshReshareLabel = "reshare";
inline constexpr std::string_view kEd25519ReshareChildLabel = "Ed25519 Reshare";
inline constexpr std::string_view kEd25519ImportBroadcastLabel = "ED25519 Import broadcast";
inline constexpr std::string_view kEd25519ImportReshareLabel = "ED25519 Import Reshare subroutine";
inline constexpr std::string_view kEd25519ExtractionLabel = "ED25519 full private-key extraction";

// What a holder of an Ed25519 key announces in a reshare, and what the
// importer broadcasts: the compressed group key, then the chain code (64
// bytes, no prefix; the reshare announcement is its optional form).
struct Ed25519KeyAndChainCode {
  crypto::ByteArray<32> public_key{};
  crypto::ByteArray<32> chain_code{};

  friend bool operator==(const Ed25519KeyAndChainCode&, const Ed25519KeyAndChainCode&) = default;
};
VELTO_SISED_RECORD(Ed25519KeyAndChainCode, public_key, chain_code)

// The export message: sender, receiver, λ·s (36 bytes).
struct FrostExportMessage {
  PartyId sender;
  PartyId receiver;
  crypto::EdScalar weighted_share;
};
VELTO_SISED_RECORD(FrostExportMessage, sender, receiver, weighted_share)

using Ed25519ShareResult = std::expected<Ed25519StorableSecretShare, ExecutorFailure>;

// Key generation: a fresh key of `threshold` among every party of the
// session. Failures: the threshold check, Executor (joint tag, rounds).
boost::asio::awaitable<std::expected<frost::FrostKeyShare, ExecutorFailure>> ed25519_keygen_handler(
    ProtocolExecutor root, std::uint16_t threshold);

// Signing `message` with `key` (the derived key share) among every party of
// the session: R ‖ s.
boost::asio::awaitable<std::expected<crypto::ByteArray<64>, ExecutorFailure>> ed25519_sign_handler(
    ProtocolExecutor root, const crypto::Bytes& message, const frost::FrostKeyShare& key);

// Refresh: every party of the key renews its share and transport key; the
// key, chain code, party id, threshold and party count stay. Failures:
// InvalidNumberOfParties {n, session's count} when the session does not hold
// every party of the key, the threshold check, Executor, JoinFailed.
boost::asio::awaitable<Ed25519ShareResult> ed25519_refresh_handler(ProtocolExecutor root,
                                                                   const frost::FrostKeyShare& key);

// Reshare, remaining party: `old_ids` are the old ids of every remaining
// party, its own among them.
boost::asio::awaitable<Ed25519ShareResult> ed25519_reshare_remaining_party_handler(ProtocolExecutor root,
                                                                                   const frost::FrostKeyShare& key,
                                                                                   std::vector<PartyId> old_ids,
                                                                                   std::uint16_t new_threshold);
// Reshare, new party: takes over the announced key and chain code.
boost::asio::awaitable<Ed25519ShareResult> ed25519_reshare_new_party_handler(ProtocolExecutor root,
                                                                             std::uint16_t new_threshold);

// Export of the full private key to `receiver`: the session must hold
// exactly the key's threshold of parties, the receiver among them (else
// PartyNotFound at every party, before anything of the export is computed or
// sent). The receiver's key at the receiver, nothing elsewhere.
boost::asio::awaitable<std::expected<std::optional<frost::ExtractedPrivateKey>, ExecutorFailure>>
ed25519_extract_handler(ProtocolExecutor root, const frost::FrostKeyShare& key, const PartyPubkeyMap& party_map,
                        PartyId receiver);

// Import, importer: the key must give a usable scalar
// (InvalidImportedPrivateKey otherwise, before anything is sent); it is
// shared among the session with `threshold` and a zero chain code.
boost::asio::awaitable<Ed25519ShareResult> ed25519_import_importer_handler(ProtocolExecutor root,
                                                                           std::uint16_t threshold,
                                                                           frost::Ed25519PrivateKey private_key);
// Import, recipient: takes the first message under "ED25519 Import broadcast"
// (at least 64 bytes) as the expected key and chain code.
boost::asio::awaitable<Ed25519ShareResult> ed25519_import_recipient_handler(ProtocolExecutor root,
                                                                            std::uint16_t threshold);

}  // namespace velto::executor
