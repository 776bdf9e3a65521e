// The Schnorr proof of knowledge of a discrete logarithm that key generation
// commits to and opens: R = k·G, c = challenge(tag, id, R, X), z = k + c·x.
//
// The challenge binds the session tag and the prover's id, so a proof made
// for one party or one session does not verify for another.
#pragma once

#include <cstdint>

#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::ecdsa {

struct DlogProof {
  // z
  crypto::Scalar response;
  // R
  crypto::Point commitment;
  // X, the point whose discrete logarithm is known
  crypto::Point public_share;
};

// BLAKE3 derive-key under "VELTO ZKPOK DLOG PROOF V0" over tag (32) ‖ id (2,
// little-endian) ‖ R ‖ X (33 each, identity as zeros), read big-endian and
// reduced by one conditional subtraction of n.
crypto::Scalar dlog_challenge(const UcTag& tag, PartyId prover, const crypto::Point& commitment,
                              const crypto::Point& public_share);

// Which point the challenge of a proof hashes first: the current protocol
// hashes R before X, protocol version 1.1.0 hashes X before R. The two forms
// are not interchangeable: a proof made in one order fails in the other.
enum class ChallengeOrder : std::uint8_t { CommitmentFirst, PublicShareFirst };

// The proof for X = secret·G with the nonce k (which the caller draws from its
// executor's generator and drops afterwards).
DlogProof dlog_prove(const crypto::Scalar& secret, const crypto::Scalar& nonce, const UcTag& tag, PartyId prover,
                     ChallengeOrder order = ChallengeOrder::CommitmentFirst);

// z·G == R + c·X, compared in constant time.
bool dlog_proof_verify(const DlogProof& proof, const UcTag& tag, PartyId prover,
                       ChallengeOrder order = ChallengeOrder::CommitmentFirst);

}  // namespace velto::ecdsa
