#include "velto-mpc-infra/secret_sharing.hpp"

namespace velto {

// ---------------------------------------------------------------------------
// SecretSharingError

SecretSharingError::SecretSharingError(Value value) : value_(std::move(value)) {
  if (const auto* c = std::get_if<CommunicationError>(&value_); c != nullptr && !c->error)
    panic("SecretSharingError::CommunicationError without an error");
}

std::string SecretSharingError::display() const {
  return std::visit(
      Overloaded{
          [](const InvalidThreshold& v) { return "Invalid threshold: " + std::to_string(v.threshold); },
          [](const BroadcastError& v) { return "Broadcast error: " + v.error.display(); },
          [](const CommunicationError& v) { return "Communication error: " + v.error->display(); },
          [](const ShareNotOnBroadcastPolynomial&) {
            return std::string("VSS Verification Failed -- Cheating Detected!");
          },
      },
      value_);
}

std::string SecretSharingError::debug() const {
  return std::visit(
      Overloaded{
          [](const InvalidThreshold& v) {
            return "InvalidThreshold(NumberOfParties(" + std::to_string(v.threshold) + "))";
          },
          [](const BroadcastError& v) { return "BroadcastError(" + v.error.debug() + ")"; },
          [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
          [](const ShareNotOnBroadcastPolynomial&) { return std::string("ShareNotOnBroadcastPolynomial"); },
      },
      value_);
}

const Error* SecretSharingError::source() const noexcept {
  if (const auto* b = std::get_if<BroadcastError>(&value_)) return &b->error;
  if (const auto* c = std::get_if<CommunicationError>(&value_)) return c->error.get();
  return nullptr;
}

// ---------------------------------------------------------------------------
// JointVssError

std::string JointVssError::display() const {
  return std::visit(Overloaded{
                        [](const BroadcastError& v) { return "Broadcast Error: " + v.error.display(); },
                        [](const VssError& v) { return "Vss Error: " + v.error.display(); },
                        [](const MissingOrIncorrectMetadata&) { return std::string("Missing or incorrect metadata"); },
                        [](const ReceivedInconsistentShares&) { return std::string("Received inconsistent shares"); },
                    },
                    value_);
}

std::string JointVssError::debug() const {
  return std::visit(Overloaded{
                        [](const BroadcastError& v) { return "BroadcastError(" + v.error.debug() + ")"; },
                        [](const VssError& v) { return "VssError(" + v.error.debug() + ")"; },
                        [](const MissingOrIncorrectMetadata&) { return std::string("MissingOrIncorrectMetadata"); },
                        [](const ReceivedInconsistentShares&) { return std::string("ReceivedInconsistentShares"); },
                    },
                    value_);
}

const Error* JointVssError::source() const noexcept {
  if (const auto* b = std::get_if<BroadcastError>(&value_)) return &b->error;
  if (const auto* v = std::get_if<VssError>(&value_)) return &v->error;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Recombination

crypto::Scalar lagrange_weighted_share(const VssShare& share, std::span<const PartyId> ids) {
  const crypto::Scalar i = crypto::Scalar::from_u64(share.id.value());
  crypto::Scalar num = share.value;
  crypto::Scalar den = crypto::Scalar::one();
  for (const PartyId id : ids) {
    if (id == share.id) continue;
    const crypto::Scalar x = crypto::Scalar::from_u64(id.value());
    num *= x;
    den *= x - i;
  }
  // Ids are public, so the denominator may be inverted in variable time.
  if (den.is_zero()) panic("Violation of the invertibility invariant");
  return num * den.invert_vartime();
}

}  // namespace velto
