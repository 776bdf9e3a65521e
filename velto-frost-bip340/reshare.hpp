// The reshare of a BIP340 key: the announcement message and the two sides of
// the key generation that moves the key to a new party set.
//
// Every party of a reshare session announces once to all: a remaining party
// (one that holds a share) the x-only group key and chain code of its share,
// a new party nothing. The key generation then runs under the child
// "BIP340 - ECDSA subprotocol Reshare" of the executor it is given, with the
// ECDSA version 1.1.0 key generation (velto-ecdsa-legacy) under its child
// "keygen_inner": a remaining party deals λ·s (λ its Lagrange coefficient at
// 0 over the remaining parties' old ids) and checks that the group key is its
// old key as a point; a new party deals 0, takes the announced chain code and
// checks that the x coordinate of the group key is the announced one.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <variant>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-frost-bip340/keyshare.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::bip340 {

inline constexpr std::string_view kBip340ReshareSubprotocolLabel = "BIP340 - ECDSA subprotocol Reshare";

// What a remaining party announces: the x-only key and the chain code of its
// share. Two announcements are equal when both fields are, byte for byte.
struct Bip340Announcement {
  crypto::ByteArray<32> x_only_key;
  crypto::ByteArray<32> chain_code;

  friend bool operator==(const Bip340Announcement&, const Bip340Announcement&) = default;
};
VELTO_SISED_RECORD(Bip340Announcement, x_only_key, chain_code)

// The reshare message: tag 0 (a new party, one byte 00) or tag 1 and the
// announcement (65 bytes). The tag is a varint in shortest form; another tag
// is "Invalid discriminant"; neither half of an announcement is checked to
// be a coordinate; bytes after the value are ignored.
using Bip340ReshareMessage = std::variant<std::monostate, Bip340Announcement>;

// The new party's side on `executor` (consumed): a key share of the key whose
// x-only form is `expected_key`, with `chain_code`, the executor's own id and
// party count and `threshold`.
// Errors (the BIP340 form of the ECDSA refresh error):
//   Keygen(e)                         the key generation failed
//   MalformedPublicKey(expected_key)  the new key has another x coordinate
boost::asio::awaitable<std::expected<Bip340KeyShare, ecdsa::Bip340RefreshError>> bip340_reshare_subprotocol(
    ProtocolExecutor executor, const crypto::ByteArray<32>& expected_key, const crypto::ByteArray<32>& chain_code,
    std::uint16_t threshold);

// A remaining party's side on `executor` (consumed): deals its share weighted
// by its Lagrange coefficient over `remaining_old_ids` (old ids, its own
// included or not) and returns its share of the same key for the executor's
// party set under `new_threshold`, with the old chain code. `old_share` and
// `remaining_old_ids` are copied before the first suspension.
// Errors: Keygen(e); RefreshIsNotOfSameSecret when the key generation's group
// key is not the old key as a point.
boost::asio::awaitable<std::expected<Bip340KeyShare, ecdsa::Bip340RefreshError>> bip340_reshare_remaining_subprotocol(
    ProtocolExecutor executor, Bip340KeyShare old_share, std::vector<PartyId> remaining_old_ids,
    std::uint16_t new_threshold);

}  // namespace velto::bip340
