// The ECDSA handlers of protocol version 1.1.0: what every ECDSA operation
// runs when its session agrees on a version from v1.1.0 to v1.4.0. Each takes
// the started root executor (moved in), generates a session tag jointly on
// it, and works under the same child labels as the current handler of its
// operation; the key generation and its proofs are those of
// velto-ecdsa-legacy. Key shares come back in the version's form, tag 2,
// without per-peer set-up states.
//
// A stored share of tag 3 has no form in this version: every handler that
// takes one fails with SecretShareIsTooNewForThisVersion before it sends
// anything. Tags 0 to 2 are converted (ecdsa_share_to_keypair_v4).
//
// Failures are ExecutorFailures without a manager error: Executor around the
// protocol's or the session's error, JoinFailed for a task that ended
// without a result, and the dedicated kinds named below.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/error.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

// The version 1.1.0 key pair of a stored share: an owned copy for tags 0 to
// 2 (the set-up states of a tag-2 share are left behind: they are carried,
// never read), SecretShareIsTooNewForThisVersion for tag 3.
std::expected<ecdsa::KeyPair, ExecutorFailure> ecdsa_keypair_v1_1_0(const EcdsaStorableSecretShare& share);

// The protocol tasks of the renewing handlers (see LatestEngine): the
// version 1.1.0 sub-protocols on the child their handler opened. Every
// failure, those of the import tasks included, comes back as a value.
boost::asio::awaitable<KeyPairResult> ecdsa_refresh_protocol_task_v1_1_0(ProtocolExecutor executor,
                                                                        ecdsa::KeyPair key);
boost::asio::awaitable<KeyPairResult> ecdsa_reshare_new_party_protocol_task_v1_1_0(
    ProtocolExecutor executor, crypto::ByteArray<32> chain_code, crypto::ByteArray<33> expected_key,
    std::uint16_t new_threshold);
boost::asio::awaitable<KeyPairResult> ecdsa_reshare_remaining_party_protocol_task_v1_1_0(
    ProtocolExecutor executor, ecdsa::KeyPair key, std::vector<PartyId> old_ids, std::uint16_t new_threshold);
boost::asio::awaitable<KeyPairResult> ecdsa_import_recipient_protocol_task_v1_1_0(ProtocolExecutor executor,
                                                                                 crypto::ByteArray<32> chain_code,
                                                                                 crypto::ByteArray<33> expected_key,
                                                                                 std::uint16_t threshold);
boost::asio::awaitable<KeyPairResult> ecdsa_import_importer_protocol_task_v1_1_0(ProtocolExecutor executor,
                                                                                ecdsa::KeyPair imported,
                                                                                std::uint16_t threshold);

// The version 1.1.0 engine for the shared handler road (renewal_road.hpp).
struct V1_1_0Engine {
  static constexpr EcdsaShareTag kShareTag = EcdsaShareTag::V1_1_0;
  static std::expected<ecdsa::KeyPair, ExecutorFailure> key_pair(const EcdsaStorableSecretShare& share) {
    return ecdsa_keypair_v1_1_0(share);
  }
  static constexpr auto refresh_task = &ecdsa_refresh_protocol_task_v1_1_0;
  static constexpr auto reshare_new_party_task = &ecdsa_reshare_new_party_protocol_task_v1_1_0;
  static constexpr auto reshare_remaining_party_task = &ecdsa_reshare_remaining_party_protocol_task_v1_1_0;
  static constexpr auto import_recipient_task = &ecdsa_import_recipient_protocol_task_v1_1_0;
  static constexpr auto import_importer_task = &ecdsa_import_importer_protocol_task_v1_1_0;
};

// Key generation: the joint tag, its child "ECDSA Keygen", the version 1.1.0
// key generation with `threshold`. The tag-2 key share.
// Failures: Executor (the joint tag's error, or the key generation's
// EcdsaKeygenLibError: a threshold of 0 or above the party count is
// InvalidThreshold).
boost::asio::awaitable<std::expected<EcdsaKeyShare, ExecutorFailure>> ecdsa_keygen_handler_v1_1_0(
    ProtocolExecutor root, std::uint16_t threshold);

// Refresh, reshare and import: the roads of the current handlers of the same
// names (latest/handlers.hpp) with this version's sub-protocols, writing
// shares of tag 2.
boost::asio::awaitable<ShareResult> ecdsa_refresh_handler_v1_1_0(ProtocolExecutor root,
                                                                 const EcdsaStorableSecretShare& share);
boost::asio::awaitable<ShareResult> ecdsa_reshare_remaining_handler_v1_1_0(ProtocolExecutor root,
                                                                           const EcdsaStorableSecretShare& share,
                                                                           std::vector<PartyId> remaining_party_ids,
                                                                           std::uint16_t new_threshold);
boost::asio::awaitable<ShareResult> ecdsa_reshare_new_handler_v1_1_0(ProtocolExecutor root,
                                                                     std::uint16_t new_threshold);
boost::asio::awaitable<ShareResult> ecdsa_import_importer_handler_v1_1_0(
    ProtocolExecutor root, std::uint16_t threshold, crypto::SecretArray<32> private_key,
    std::optional<crypto::ByteArray<32>> chain_code);
boost::asio::awaitable<ShareResult> ecdsa_import_recipient_handler_v1_1_0(ProtocolExecutor root,
                                                                          std::uint16_t threshold);

// Signing: the share's key pair (SecretShareIsTooNewForThisVersion for tag
// 3, before anything is sent), moved along `path` (a path the derivation
// refuses comes back as its InvalidDerivationPath failure), then the
// version 1.1.0 signing on the root executor; its errors as Executor. Any
// set-up states a tag-2 share carries are not read: the signing sets up every
// pair afresh. The output is r ‖ s ‖ recovery id ‖ DER. Await at once: the
// share and the path are read while the handler runs.
boost::asio::awaitable<std::expected<crypto::Bytes, ExecutorFailure>> ecdsa_sign_handler_v1_1_0(
    ProtocolExecutor root, const EcdsaStorableSecretShare& share, std::span<const std::uint32_t> path,
    crypto::ByteArray<32> message_hash);

// Extraction of the full private key at `receiver` under "ECDSA full
// private-key extraction" (the rounds of velto-ecdsa-legacy/extract.hpp).
// The receiver's key goes through its xprv text into the current form.
// Failures: SecretShareIsTooNewForThisVersion (tag 3); Executor
// (EcdsaExtractLibError of the rounds); PartyNotFound with the receiver's
// transport key at every party when the receiver is not in the session,
// before anything is sent.
boost::asio::awaitable<std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>> ecdsa_extract_handler_v1_1_0(
    ProtocolExecutor root, const EcdsaStorableSecretShare& share, PartyId receiver);

}  // namespace velto::executor
