// The per-pair set-up of the version 1.1.0 two-party multiplication: 128
// base OTs with a transcript, turned into 64 PPRF trees of 4 leaves.
//
// In every pair the smaller party id is alice, the greater bob. From the
// pair executor E both derive E1 = child "MUL TO COTE TAG v0.1", E2 = child
// "COTE TO ROTE" of E1 and E3 = child "BASE OT" of E2, each narrowed to the
// peer. The base OT runs on E3 (bob the sender, alice the receiver; every
// draw from E3's generator) and feeds the set-up transcript; bob then builds
// the full trees and sends the 10,240-byte tree message on E2, from which
// alice builds the punctured trees and recomputes the tree hashes (compared
// by the preprocessing, two_party_mul.hpp).
//
// The records are the stored layouts: BobSetup (8,224 bytes: the trees, then
// the transcript hash) and AliceSetup (12,384 bytes: received and computed
// hashes, the punctured trees, the transcript hash).
#pragma once

#include <expected>
#include <map>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "velto-mpc-infra/executor.hpp"
#include "velto-ot/error.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ecdsa::legacy {

using BobSetup = ote::FullPprfTrees;
using AliceSetup = ote::PuncturedPprfTrees;

// The pair executors' label: the set-ups put the smaller id first, the
// modular inverse the larger one.
inline constexpr std::string_view kPairMulLabel = "MODULAR INVERSE TO MULT v0.1";

// The set-up records of one signing, by peer: alice's towards every greater
// id, bob's towards every smaller one.
struct SignerSetups {
  std::map<PartyId, AliceSetup> alice;
  std::map<PartyId, BobSetup> bob;
};

// Bob's set-up on the pair executor (consumed). Errors: the base OT's
// (CommunicationError, InvalidMessageSizeError); a failed send of the tree
// message is CommunicationError.
boost::asio::awaitable<std::expected<BobSetup, ot::BaseOtError>> two_party_mul_setup_bob(PeerExecutor pair);

// Alice's set-up on the pair executor (consumed). Errors: the base OT's; a
// tree message that cannot be received or is shorter than 10,240 bytes is
// CommunicationError (later bytes are ignored).
boost::asio::awaitable<std::expected<AliceSetup, ot::BaseOtError>> two_party_mul_setup_alice(PeerExecutor pair);

// The set-up with every other party of `parent`'s list, all at once, each on
// the child of `parent` under kPairMulLabel with the smaller id first,
// narrowed to the peer; alice towards greater ids, bob towards smaller ones.
// The first failure ends them all.
boost::asio::awaitable<std::expected<SignerSetups, ot::BaseOtError>> two_party_mul_setups(
    const ProtocolExecutor& parent);

}  // namespace velto::ecdsa::legacy
