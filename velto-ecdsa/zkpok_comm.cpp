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

}  // namespace velto::ecdsa
