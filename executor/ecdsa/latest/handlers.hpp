// The current-version (v1.5.0) ECDSA handlers that renew, move, rebuild and
// import key shares. Each takes the started root executor of its session
// (moved in) and yields the operation's value or an ExecutorFailure without a
// manager error; the operation task turns the failure into code -8.
//
// Shares passed by reference belong to the operation task, which keeps them
// alive until the handler's coroutine has finished.
//
// The share-renewing handlers (refresh, both reshare roles, both import
// roles) share one road: a jointly generated tag, then the transport-key
// collector and a protocol task as tasks of their own, joined by
// join_renewal_tasks (renewal.hpp), and a share of version tag 3 with the new
// key pair, the party's new transport key and every party's new transport
// public key, its own included. Child labels under the joint tag are part of
// the wire protocol:
//   refresh   "ECDSA transport key refresh", "ECDSA Refresh" / "reshare" /
//             "keygen_inner"
//   reshare   the announcement under the joint tag itself, then
//             "ECDSA Reshare" / "keygen_inner" and
//             "ECDSA transport key refresh"
//   import    "ECDSA transport key refresh", "ECDSA Import broadcast",
//             "ECDSA Import Reshare subroutine" / "keygen_inner"
//   extract   "ECDSA full private-key extraction"
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/error.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

inline constexpr std::string_view kImportBroadcastLabel = "ECDSA Import broadcast";
inline constexpr std::string_view kExtractionLabel = "ECDSA full private-key extraction";
// The import announcement: compressed public key (33) then chain code (32).
inline constexpr std::size_t kImportAnnouncementSize = 65;

// What a remaining party of a reshare announces: the group key (SEC1
// compressed) and the chain code. A new party announces none. On the wire an
// optional of it: 0x00, or 0x01 ‖ key ‖ chain code (66 bytes).
struct PublicKeyAndChaincode {
  crypto::ByteArray<33> public_key{};
  crypto::ByteArray<32> chain_code{};

  friend bool operator==(const PublicKeyAndChaincode&, const PublicKeyAndChaincode&) = default;
};
VELTO_SISED_RECORD(PublicKeyAndChaincode, public_key, chain_code)

using ShareResult = std::expected<EcdsaStorableSecretShare, ExecutorFailure>;

// Refresh: every party of the share renews its share and transport key; the
// key, chain code, party id, threshold and party count stay.
// Failures: Executor (joint tag, a task's error), InvalidNumberOfParties
// {share's party count, session's} when the session does not hold every
// party of the key, JoinFailed.
boost::asio::awaitable<ShareResult> ecdsa_refresh_handler_latest(ProtocolExecutor root,
                                                                 const EcdsaStorableSecretShare& share);

// Reshare, remaining party: `remaining_party_ids` are the old ids of every
// remaining party, its own among them. It announces its key and chain code
// and counts the equal announcements of the others: any differing one, or a
// count other than the number of other remaining parties, is
// PublicKeyAndChaincodeSyncFailed.
boost::asio::awaitable<ShareResult> ecdsa_reshare_remaining_handler_latest(ProtocolExecutor root,
                                                                           const EcdsaStorableSecretShare& share,
                                                                           std::vector<PartyId> remaining_party_ids,
                                                                           std::uint16_t new_threshold);

// Reshare, new party: announces nothing and takes the first announced key
// and chain code as the reference; a later differing announcement, or a
// session without any announcement, is PublicKeyAndChaincodeSyncFailed.
boost::asio::awaitable<ShareResult> ecdsa_reshare_new_handler_latest(ProtocolExecutor root,
                                                                     std::uint16_t new_threshold);

// Extraction of the full private key at `receiver`: the session must hold
// exactly the key's threshold of parties, the receiver among them. Every
// other party sends its Lagrange-weighted share to the receiver, which adds
// them up and checks the sum against the group key. Result: the receiver's
// xprv (depth 0, no parent, child number 0, the share's chain code); nothing
// at the other parties.
// Failures: Executor(EcdsaExtractLibError) for a wrong party count
// (InvalidNumberOfParticipants), a failed send or collection
// (CommunicationError) and a sum that is not the key
// (ReceivedInvalidPrivateKey); PartyNotFound with the receiver's transport
// key at every party when the receiver is not in the session (Executor with
// a text when the share does not know the receiver either).
boost::asio::awaitable<std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>> ecdsa_extract_handler_latest(
    ProtocolExecutor root, const EcdsaStorableSecretShare& share, PartyId receiver);

// Import, importer: `private_key` (32 bytes big-endian) must be a non-zero
// scalar below the group order (InvalidImportedPrivateKey otherwise, before
// anything is sent); an absent chain code is 32 zero bytes. Announces the
// key's compressed public key and chain code and shares the key among the
// session with `threshold`.
boost::asio::awaitable<ShareResult> ecdsa_import_importer_handler_latest(
    ProtocolExecutor root, std::uint16_t threshold, crypto::SecretArray<32> private_key,
    std::optional<crypto::ByteArray<32>> chain_code);

// Import, recipient: takes the first message under "ECDSA Import broadcast"
// (at least 65 bytes, else Executor("Out of bounds")) as the expected key
// and chain code and takes part in the sharing with `threshold`.
boost::asio::awaitable<ShareResult> ecdsa_import_recipient_handler_latest(ProtocolExecutor root,
                                                                          std::uint16_t threshold);

}  // namespace velto::executor
