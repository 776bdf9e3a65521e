// Refresh and reshare sub-protocols of ECDSA protocol version 1.1.0.
//
// Each is one run of the version 1.1.0 key generation core under the child
// "keygen_inner" of the executor it is given, with a chosen constant term:
//   holder    a party with a share of the old key deals λ·x_old, λ its
//             Lagrange coefficient at 0 over the holders taking part, and
//             checks that the group key is the old one;
//   receiver  a party without a share deals 0 and takes the chain code it is
//             given; with the key check, the group key must encode to the
//             33 bytes it was told.
// The constant terms sum to the old secret, so the new shares share the old
// key under the new threshold and party set. The chain code is carried over.
// No sub-protocol sends a message of its own.
#pragma once

#include <cstdint>
#include <expected>
#include <set>
#include <span>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa::legacy {

inline constexpr std::string_view kRefreshReshareLabel = "reshare";

// Holder side with the holders as a list (the remaining parties of a
// reshare). The new key pair has the old chain code, the executor's own id,
// the new threshold and the executor's party count.
// Errors:
//   Keygen(e)                 the key generation failed with e
//   RefreshIsNotOfSameSecret  the group key is not the old one (a holder
//                             with a wrong share, id or list; or a group key
//                             at the identity)
// Await at once: the arguments are read while the run is under way.
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_keygen_inner_list_v4(
    const ProtocolExecutor& executor, const KeyPair& old_key, std::span<const PartyId> holder_ids,
    std::uint16_t new_threshold);

// The same holder side with the holders as an ordered set (an importer's
// one-party key, whose coefficient over {1} is 1).
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_keygen_inner_v4(
    const ProtocolExecutor& executor, const KeyPair& old_key, const std::set<PartyId>& holder_ids,
    std::uint16_t new_threshold);

// Refresh: on the child "reshare" of `executor`, every party of the executor
// is a holder and the threshold stays the old key's.
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_subprotocol(
    const ProtocolExecutor& executor, const KeyPair& old_key);

// Receiver side without the key check (deals 0, takes `chain_code`): for
// callers that learn the key elsewhere or check it themselves.
// Errors: Keygen(e); a group key at the identity is Keygen(InvalidLagrangeSum).
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> receiver_keygen_inner_v4(
    const ProtocolExecutor& executor, const crypto::ByteArray<32>& chain_code, std::uint16_t threshold);

// Receiver side with the key check: the group key's SEC1 compressed form must
// be `expected_key`.
// Errors: Keygen(e); MalformedPublicKey(expected_key) for any other key, the
// identity included.
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_receive_v4(
    const ProtocolExecutor& executor, const crypto::ByteArray<32>& chain_code,
    const crypto::ByteArray<33>& expected_key, std::uint16_t threshold);

}  // namespace velto::ecdsa::legacy
