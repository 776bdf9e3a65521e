// The pairwise set-up that precedes presigning: with every other signer, a
// zeta seed from a committed coin toss (expanded later into zero shares) and
// the random-OT-extension set-ups of both directions of the pair's random
// VOLE. All pairs run at once inside the calling task; the first failure of
// any pair ends the whole step.
//
// Also here: the join used by every concurrent step of signing, which runs a
// list of branches side by side, keeps their results in creation order and
// stops at the first failure.
#pragma once

#include <cstddef>
#include <exception>
#include <expected>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/rvole.hpp"
#include "velto-mpc-infra/async/join_all.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto::ecdsa {

inline constexpr std::string_view kTwoPartyRandomnessContext = "VELTO TWO PARTY RANDOMNESS V0";

// The joins of the signing steps.
using async::join_until_first_failure;
using async::try_join_all;

// ---------------------------------------------------------------------------
// The set-up.

// Both directions of one pair's random VOLE: this party's sender side for
// the direction own -> peer, its receiver side for peer -> own.
struct RvolePairSetup {
  PartyId peer;
  RoteSenderSetup sender;
  RoteReceiverSetup receiver;
};

// What the set-up hands to presigning: one entry per other signer, ascending
// peer id.
struct PresignPairwiseSetup {
  PartyMap<crypto::SecretArray<32>> zeta_seeds;
  std::vector<RvolePairSetup> rvoles;
};

// BLAKE3 derive-key under "VELTO TWO PARTY RANDOMNESS V0" over the 32 bytes
// alone.
crypto::ByteArray<32> two_party_commitment(crypto::ByteSpan value);

// The committed coin toss with the executor's peer: commitment out,
// commitment in, value out, value in (32 bytes each; a longer payload is
// read from its first 32 bytes), then the check of the peer's value against
// its commitment in constant time. Yields v XOR v', the same at both ends.
// Errors: ReceiveFailed (a send, a collection or a payload shorter than 32
// bytes), InvalidZetaCommitment. The executor is released at the end.
boost::asio::awaitable<std::expected<crypto::SecretArray<32>, EcdsaSignerInitError>> two_party_randomness(
    PeerExecutor executor);

// The whole step on the "sample zetas" and "rvoles init" executors (both are
// released at the end): for every peer j, the coin toss on the zeta
// executor's pair (min, max), and the two set-ups on the directional pairs of
// the rVOLE executor, (own, j) for the sender side and (j, own) for the
// receiver side. Everything runs concurrently; the first error of any branch
// ends the step with it (a set-up failure as InitRvoleError). With no peer,
// nothing is sent and both lists are empty.
boost::asio::awaitable<std::expected<PresignPairwiseSetup, EcdsaSignerInitError>> presign_pairwise_setup(
    ProtocolExecutor zeta_executor, ProtocolExecutor rvole_executor);

}  // namespace velto::ecdsa
