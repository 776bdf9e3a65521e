// The protocol tasks of the share-renewing handlers: each runs one share
// renewal of the key-generation core on the executor its handler opened for
// it, owns that executor and its inputs, and yields the party's new key pair
// or the protocol's error. None of them ends abnormally on a protocol
// failure: every error comes back as a value, so that its handler reports
// it as an Executor failure.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "executor/ecdsa_share.hpp"
#include "executor/error.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

inline constexpr std::string_view kRefreshLabel = "ECDSA Refresh";
inline constexpr std::string_view kRefreshReshareLabel = "reshare";
inline constexpr std::string_view kReshareLabel = "ECDSA Reshare";
inline constexpr std::string_view kImportReshareLabel = "ECDSA Import Reshare subroutine";
inline constexpr std::string_view kTransportKeyRefreshLabel = "ECDSA transport key refresh";

using KeyPairResult = std::expected<ecdsa::KeyPair, ecdsa::EcdsaRefreshLibError>;

// Refresh, on the child "ECDSA Refresh": opens its child "reshare" and
// reshares `key` among all parties of the executor (the old party set) with
// the key's own threshold.
boost::asio::awaitable<KeyPairResult> ecdsa_refresh_protocol_task(ProtocolExecutor executor, ecdsa::KeyPair key);

// Reshare, new party, on the child "ECDSA Reshare": deals zero and checks
// that the group key comes out as `expected_key`; the new share takes
// `chain_code`.
boost::asio::awaitable<KeyPairResult> ecdsa_reshare_new_party_protocol_task(ProtocolExecutor executor,
                                                                            crypto::ByteArray<32> chain_code,
                                                                            crypto::ByteArray<33> expected_key,
                                                                            std::uint16_t new_threshold);

// Reshare, remaining party, on the child "ECDSA Reshare": deals its share
// weighted over `old_ids` (the old ids of every remaining party, its own
// among them) with the new threshold.
boost::asio::awaitable<KeyPairResult> ecdsa_reshare_remaining_party_protocol_task(ProtocolExecutor executor,
                                                                                 ecdsa::KeyPair key,
                                                                                 std::vector<PartyId> old_ids,
                                                                                 std::uint16_t new_threshold);

// Import, recipient, on the child "ECDSA Import Reshare subroutine": as the
// new party of a reshare, against the importer's announced key and chain
// code.
boost::asio::awaitable<KeyPairResult> ecdsa_import_recipient_protocol_task(ProtocolExecutor executor,
                                                                           crypto::ByteArray<32> chain_code,
                                                                           crypto::ByteArray<33> expected_key,
                                                                           std::uint16_t threshold);

// Import, importer, on the child "ECDSA Import Reshare subroutine": deals
// the whole secret of its one-party key pair (its Lagrange coefficient over
// {own id} is 1) in a key generation under "keygen_inner" with `threshold`.
// Errors: Keygen(e) when the key generation fails; RefreshIsNotOfSameSecret
// when the group key differs from the imported one.
boost::asio::awaitable<KeyPairResult> ecdsa_import_importer_protocol_task(ProtocolExecutor executor,
                                                                         ecdsa::KeyPair imported,
                                                                         std::uint16_t threshold);

// The current engine for the shared handler road (renewal_road.hpp).
struct LatestEngine {
  static constexpr EcdsaShareTag kShareTag = EcdsaShareTag::Latest;
  // Every tag has a current key pair.
  static std::expected<ecdsa::KeyPair, ExecutorFailure> key_pair(const EcdsaStorableSecretShare& share) {
    return ecdsa_share_to_keypair(share).get();
  }
  static constexpr auto refresh_task = &ecdsa_refresh_protocol_task;
  static constexpr auto reshare_new_party_task = &ecdsa_reshare_new_party_protocol_task;
  static constexpr auto reshare_remaining_party_task = &ecdsa_reshare_remaining_party_protocol_task;
  static constexpr auto import_recipient_task = &ecdsa_import_recipient_protocol_task;
  static constexpr auto import_importer_task = &ecdsa_import_importer_protocol_task;
};

}  // namespace velto::executor
