// The sr25519 handlers, registered by every operation under v1.3.0. Each
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
// join_renewal_tasks (executor/common/task_join.hpp), and a share with the
// new key share, the party's new transport key and every party's new
// transport public key, its own included. Child labels under J are wire:
//   keygen    "keygen_2rounds"
//   refresh   "sr25519 transport key refresh" (spawned first),
//             "sr25519 Refresh" / "reshare" / "keygen_2rounds"
//   reshare   the announcement (an optional group key) under J itself, then
//             "sr25519 Reshare" / "keygen_2rounds" (spawned first) and
//             "sr25519 transport key refresh"
//   import    "sr25519 transport key refresh" (spawned first),
//             "sr25519 Import broadcast" (the 32-byte group key),
//             "sr25519 Import Reshare subroutine" / "keygen_2rounds"
//   export    "sr25519 full private-key extraction"
// Signing runs on the root executor itself.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/secret.hpp"
#include "executor/error.hpp"
#include "executor/sr25519_share.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-sr25519/derive.hpp"
#include "velto-frost-sr25519/keyshare.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

inline constexpr std::string_view kSr25519CollectorLabel = "sr25519 transport key refresh";
inline constexpr std::string_view kSr25519RefreshChildLabel = "sr25519 Refresh";
inline constexpr std::string_view kSr25519RefreshReshareLabel = "reshare";
inline constexpr std::string_view kSr25519ReshareChildLabel = "sr25519 Reshare";
inline constexpr std::string_view kSr25519ImportBroadcastLabel = "sr25519 Import broadcast";
inline constexpr std::string_view kSr25519ImportReshareLabel = "sr25519 Import Reshare subroutine";

using Sr25519ShareResult = std::expected<Sr25519StorableSecretShare, ExecutorFailure>;

// Key generation: a fresh key of `threshold` among every party of the
// session. Failures: the threshold check, Executor (joint tag, rounds).
boost::asio::awaitable<std::expected<frost::Sr25519KeyShare, ExecutorFailure>> sr25519_keygen_handler(
    ProtocolExecutor root, std::uint16_t threshold);

// Signing `message` with `key` (the derived key share) among every party of
// the session: the 64-byte sr25519 signature.
boost::asio::awaitable<std::expected<crypto::ByteArray<64>, ExecutorFailure>> sr25519_sign_handler(
    ProtocolExecutor root, const crypto::Bytes& message, const frost::Sr25519KeyShare& key);

// Export of the group secret to `receiver`: the session must hold exactly
// the key's threshold of parties, the receiver among them (else
// PartyNotFound at every party, before anything is sent). The secret at the
// receiver, nothing elsewhere.
boost::asio::awaitable<std::expected<std::optional<crypto::EdScalar>, ExecutorFailure>> sr25519_export_handler(
    ProtocolExecutor root, const frost::Sr25519KeyShare& key, const PartyPubkeyMap& party_map, PartyId receiver);

// Refresh: every party of the key renews its share and transport key; the
// key, party id, threshold and party count stay. Failures:
// InvalidNumberOfParties {n, session's count} when the session does not hold
// every party of the key, the threshold check, Executor, JoinFailed.
boost::asio::awaitable<Sr25519ShareResult> sr25519_refresh_handler(ProtocolExecutor root,
                                                                   const frost::Sr25519KeyShare& key);

// Reshare, remaining party: `old_ids` are the old ids of every remaining
// party, its own among them.
boost::asio::awaitable<Sr25519ShareResult> sr25519_reshare_remaining_party_handler(ProtocolExecutor root,
                                                                                   const frost::Sr25519KeyShare& key,
                                                                                   std::vector<PartyId> old_ids,
                                                                                   std::uint16_t new_threshold);
// Reshare, new party: takes over the announced group key. A session in
// which nobody announces a key fails with PublicKeyAndChaincodeSyncFailed
// before any task starts.
boost::asio::awaitable<Sr25519ShareResult> sr25519_reshare_new_party_handler(ProtocolExecutor root,
                                                                             std::uint16_t new_threshold);

// Import, importer: the 32 bytes in `form` must give a non-zero scalar
// (InvalidImportedPrivateKey otherwise, before anything is sent); it is
// shared among the session with `threshold`.
boost::asio::awaitable<Sr25519ShareResult> sr25519_import_importer_handler(ProtocolExecutor root,
                                                                           std::uint16_t threshold,
                                                                           crypto::SecretArray<32> key,
                                                                           frost::Sr25519KeyForm form);
// Import, recipient: takes the first message under "sr25519 Import
// broadcast" as the expected group key.
boost::asio::awaitable<Sr25519ShareResult> sr25519_import_recipient_handler(ProtocolExecutor root,
                                                                            std::uint16_t threshold);

}  // namespace velto::executor
