// Verifiable secret sharing over secp256k1: the share record, the errors of
// a dealing and of the joint sharing, and the recombination weight.
//
// A dealer with threshold t shares its secret s with the polynomial
// f(x) = a_0 + a_1 x + ... + a_{t-1} x^{t-1}, a_0 = s, and commits to it with
// the points C_j = a_j·G. Party x receives f(x) and checks f(x)·G against
// the commitments evaluated at x. Any t shares rebuild f(0) = s. The
// protocol itself is in secret_sharing_secp256k1.hpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/broadcast.hpp"

namespace velto {

// One party's share of one sharing.
struct VssShare {
  crypto::Scalar value;     // f(id)
  PartyId id;               // the holder, also the evaluation point
  std::uint16_t threshold;  // t, the number of coefficients (1 to 8192)
  std::uint16_t parties;    // n, the number of parties of the session
};

// The error of one dealing or receiving step.
//   InvalidThreshold(t)   "Invalid threshold: {t}"
//   BroadcastError(e)     "Broadcast error: {e}"  the echo broadcast failed;
//                         source: e
//   CommunicationError(e) "Communication error: {e}"  a share could not be
//                         sent or received; source: e
//   ShareNotOnBroadcastPolynomial "VSS Verification Failed -- Cheating Detected!"
// Debug forms: InvalidThreshold(NumberOfParties(5)), BroadcastError(<e>),
// CommunicationError(<e>), ShareNotOnBroadcastPolynomial.
class SecretSharingError final : public Error {
 public:
  struct InvalidThreshold {
    std::uint16_t threshold;
  };
  struct BroadcastError {
    InfraError error;
  };
  struct CommunicationError {
    BoxedError error;  // never null
  };
  struct ShareNotOnBroadcastPolynomial {};
  using Value = std::variant<InvalidThreshold, BroadcastError, CommunicationError, ShareNotOnBroadcastPolynomial>;

  // A CommunicationError with a null error is a programming error (panic).
  SecretSharingError(Value value);

  static SecretSharingError invalid_threshold(std::uint16_t t) { return SecretSharingError(InvalidThreshold{t}); }
  static SecretSharingError broadcast(InfraError error) { return SecretSharingError(BroadcastError{std::move(error)}); }
  static SecretSharingError communication(BoxedError error) {
    return SecretSharingError(CommunicationError{std::move(error)});
  }
  static SecretSharingError share_not_on_polynomial() { return SecretSharingError(ShareNotOnBroadcastPolynomial{}); }

  VELTO_VARIANT_ERROR_ACCESSORS

 private:
  Value value_;
};

// The error of the joint sharing. Mind the capitals: "Broadcast Error: " and
// "Vss Error: " here, "Broadcast error: " in SecretSharingError.
//   BroadcastError(e)  "Broadcast Error: {e}"; source: e (not raised by the
//                      joint sharing itself; kept for its callers)
//   VssError(e)        "Vss Error: {e}"; source: e
//   MissingOrIncorrectMetadata  "Missing or incorrect metadata"
//   ReceivedInconsistentShares  "Received inconsistent shares"
// Debug forms: BroadcastError(<e>), VssError(<e>), MissingOrIncorrectMetadata,
// ReceivedInconsistentShares.
class JointVssError final : public Error {
 public:
  struct BroadcastError {
    InfraError error;
  };
  struct VssError {
    SecretSharingError error;
  };
  struct MissingOrIncorrectMetadata {};
  struct ReceivedInconsistentShares {};
  using Value = std::variant<BroadcastError, VssError, MissingOrIncorrectMetadata, ReceivedInconsistentShares>;

  JointVssError(Value value) : value_(std::move(value)) {}

  static JointVssError broadcast(InfraError error) { return JointVssError(BroadcastError{std::move(error)}); }
  static JointVssError vss(SecretSharingError error) { return JointVssError(VssError{std::move(error)}); }
  static JointVssError missing_or_incorrect_metadata() { return JointVssError(MissingOrIncorrectMetadata{}); }
  static JointVssError received_inconsistent_shares() { return JointVssError(ReceivedInconsistentShares{}); }

  VELTO_VARIANT_ERROR_ACCESSORS

 private:
  Value value_;
};

// The share's value weighted by its Lagrange coefficient at zero over `ids`
// (distinct ids of the shares being recombined; the share's own id may be
// among them):  y_i · Π x_j · (Π (x_j - i))^-1  over the x_j of ids other
// than i. Summing it over t or more shares of one sharing, each with the
// same ids, gives the shared secret f(0).
crypto::Scalar lagrange_weighted_share(const VssShare& share, std::span<const PartyId> ids);

}  // namespace velto
