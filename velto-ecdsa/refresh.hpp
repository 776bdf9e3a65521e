// Refresh and reshare: moving an existing key to new shares with the keygen
// core, without ever assembling the key.
//
// A party that holds an old share deals λ·x_old (its Lagrange coefficient
// over the old party set times its share) as the constant term of its
// polynomial; a party that joins without a share deals 0. The constant terms
// then sum to the old secret, so the new shares interpolate to it and the
// group key stays the same. A refresh is the same run with the same party
// set and threshold: every share changes, the key does not.
//
// Both forms run the keygen core under the child "keygen_inner" of the
// executor they are given; the chain code is carried over, not derived.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa {

inline constexpr std::string_view kKeygenInnerLabel = "keygen_inner";

// For a party holding `old_key`: runs the keygen core on the "keygen_inner"
// child of `executor` with a0 = λ·x_old, λ its Lagrange coefficient at 0
// over `old_ids` (the old parties taking part; its own id among them), and
// the new threshold. Returns the new share with the old chain code, the
// executor's own id, the new threshold and the executor's party count.
// Errors:
//   Keygen(e)                 the keygen core failed with e
//   RefreshIsNotOfSameSecret  the new group key differs from the old one
//                             (a wrong old share somewhere, or a group key
//                             at the identity)
// Await at once: the arguments are read while the run is under way.
// `proof_step` is the protocol version's proof step (keygen.hpp).
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_keygen_inner(
    const ProtocolExecutor& executor, const KeyPair& old_key, std::span<const PartyId> old_ids,
    std::uint16_t new_threshold, DlogProofStep proof_step = current_dlog_proof_step());

// For a party joining without a share: runs the keygen core on the
// "keygen_inner" child of `executor` with a0 = 0 and `threshold`, and checks
// that the group key comes out as `expected_key` (SEC1 compressed). Returns
// the new share with `chain_code`.
// Errors:
//   Keygen(e)           the keygen core failed with e
//   MalformedPublicKey  the new group key's compressed form differs from
//                       `expected_key`, or the key is the identity (which
//                       has no compressed form); carries `expected_key`
// Await at once.
boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> refresh_keygen_inner(
    const ProtocolExecutor& executor, const crypto::ByteArray<32>& chain_code,
    const crypto::ByteArray<33>& expected_key, std::uint16_t threshold,
    DlogProofStep proof_step = current_dlog_proof_step());

}  // namespace velto::ecdsa
