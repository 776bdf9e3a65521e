#include "velto-ecdsa/zkpok_comm.hpp"

#include <cstddef>

namespace velto::ecdsa {

std::string ZkpokCommError::display() const {
  return std::visit(Overloaded{
                        [](const InvalidCommitment& v) { return "Invalid commitment: `" + v.error.display() + "`"; },
                        [](const InvalidProof&) { return std::string("Received an invalid proof"); },
                    },
                    value_);
}

std::string ZkpokCommError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidCommitment& v) { return "InvalidCommitment(" + v.error.debug() + ")"; },
                        [](const InvalidProof&) { return std::string("InvalidProof"); },
                    },
                    value_);
}

const Error* ZkpokCommError::source() const noexcept {
  if (const auto* c = std::get_if<InvalidCommitment>(&value_)) return &c->error;
  return nullptr;
}

EcdsaKeygenLibError invalid_committed_zkpok(ZkpokCommError error) {
  return EcdsaKeygenLibError::InvalidCommittedZKPoK{box_error<ZkpokCommError>(std::move(error))};
}

boost::asio::awaitable<std::expected<PartyMap<crypto::Point>, EcdsaKeygenLibError>> exchange_dlog_openings(
    ProtocolExecutor& commit_executor, const UcTag& proof_tag, const DlogOpening& own) {
  auto digests = co_await commit_round(commit_executor, own);
  if (!digests) co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{std::move(digests.error())});

  auto openings = co_await decommit_round(commit_executor, own, *digests);
  if (!openings) {
    co_return std::unexpected(invalid_committed_zkpok(ZkpokCommError::InvalidCommitment{std::move(openings.error())}));
  }
  if (openings->size() + 1 != commit_executor.parties().size()) {
    panic("Expected an opening from every other party. Bug!");
  }

  PartyMap<crypto::Point> shares(commit_executor.parties().size());
  for (const auto& [id, opening] : *openings) {  // ascending ids
    if (!dlog_proof_verify(opening.proof(), proof_tag, id)) {
      co_return std::unexpected(invalid_committed_zkpok(ZkpokCommError::InvalidProof{}));
    }
    shares.insert(id, opening.public_share);
  }
  co_return std::move(shares);
}

boost::asio::awaitable<std::expected<PartyMap<crypto::Point>, EcdsaKeygenLibError>> committed_dlog_proof(
    const ProtocolExecutor& keygen_executor, const crypto::Scalar& secret_share) {
  ProtocolExecutor proof_executor = keygen_executor.child(kDlogProofLabel);
  const crypto::Scalar nonce = crypto::Scalar::random(proof_executor.rng());
  const DlogOpening own =
      DlogOpening::from_proof(dlog_prove(secret_share, nonce, proof_executor.tag(), proof_executor.my_party_id()));
  ProtocolExecutor commit_executor = proof_executor.child(kDlogCommitLabel);
  const UcTag proof_tag = proof_executor.tag();
  co_return co_await exchange_dlog_openings(commit_executor, proof_tag, own);
}

}  // namespace velto::ecdsa
