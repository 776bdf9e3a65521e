#include "velto-ecdsa/dlog.hpp"

#include <string_view>

#include "crypto/blake3.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"

namespace velto::ecdsa {

namespace {

constexpr std::string_view kDlogChallengeContext = "VELTO ZKPOK DLOG PROOF V0";

// The challenge of `proof`'s two points in the given order.
crypto::Scalar proof_challenge(const DlogProof& proof, const UcTag& tag, PartyId prover, ChallengeOrder order) {
  if (order == ChallengeOrder::PublicShareFirst) return dlog_challenge(tag, prover, proof.public_share, proof.commitment);
  return dlog_challenge(tag, prover, proof.commitment, proof.public_share);
}

}  // namespace

crypto::Scalar dlog_challenge(const UcTag& tag, PartyId prover, const crypto::Point& commitment,
                              const crypto::Point& public_share) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kDlogChallengeContext);
  sised::hash_into(h, tag);
  sised::hash_into(h, prover);
  sised::hash_into(h, commitment);
  sised::hash_into(h, public_share);
  return crypto::Scalar::from_bytes_reduced(h.finalize());
}

DlogProof dlog_prove(const crypto::Scalar& secret, const crypto::Scalar& nonce, const UcTag& tag, PartyId prover,
                     ChallengeOrder order) {
  DlogProof proof{crypto::Scalar(), crypto::Point::base_mul(nonce), crypto::Point::base_mul(secret)};
  const crypto::Scalar c = proof_challenge(proof, tag, prover, order);
  proof.response = nonce + c * secret;
  return proof;
}

bool dlog_proof_verify(const DlogProof& proof, const UcTag& tag, PartyId prover, ChallengeOrder order) {
  const crypto::Scalar c = proof_challenge(proof, tag, prover, order);
  return crypto::Point::base_mul(proof.response) == proof.commitment + proof.public_share * c;
}

}  // namespace velto::ecdsa
