// The committed discrete-log proof of protocol version 1.1.0.
//
// The same step as the current protocol's (velto-ecdsa/zkpok_comm.hpp, the
// same labels "DLComZK" and "DLComZK to Com") with two differences on the
// wire: the challenge hashes the public share X before the commitment point
// R, and the opening record, which is also what the digest commits to, is
// X (33) ‖ R (33) ‖ z (32 big-endian), 98 bytes.
#pragma once

#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/dlog.hpp"
#include "velto-ecdsa/keygen.hpp"

namespace velto::ecdsa::legacy {

struct DlogOpeningV4 {
  crypto::Point public_share;
  crypto::Point commitment;
  crypto::Scalar response;

  static constexpr ChallengeOrder kChallengeOrder = ChallengeOrder::PublicShareFirst;

  static DlogOpeningV4 from_proof(const DlogProof& proof) {
    return DlogOpeningV4{proof.public_share, proof.commitment, proof.response};
  }
  DlogProof proof() const { return DlogProof{response, commitment, public_share}; }
};
VELTO_SISED_RECORD(DlogOpeningV4, public_share, commitment, response)

// The proof step of the version 1.1.0 key generation (committed_dlog_proof
// with DlogOpeningV4).
DlogProofStep dlog_proof_step_v4();

}  // namespace velto::ecdsa::legacy
