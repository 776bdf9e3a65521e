#include "velto-ecdsa/error.hpp"

#include <cstdio>

namespace velto::ecdsa {

namespace {

using Text = std::string;

// Upper-case hexadecimal without prefix or leading zeros: 488ADE4.
std::string upper_hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return buf;
}

}  // namespace

// --- EcdsaKeygenLibError ---

void EcdsaKeygenLibError::validate() const {
  std::visit(Overloaded{
                 [](const InvalidCommittedZKPoK& v) { require_boxed(v.error); },
                 [](const CommunicationError& v) { require_boxed(v.error); },
                 [](const auto&) {},
             },
             value_);
}

std::string EcdsaKeygenLibError::display() const {
  return std::visit(
      Overloaded{
          [](const InvalidCommittedZKPoK& v) { return backticked("Invalid Committed ZkPoK: ", v.error->display()); },
          [](const CommunicationError& v) { return backticked("Communication Error: ", v.error->display()); },
          [](const InvalidLagrangeSum&) { return Text("One of the lagrange sums is not equal to the rest"); },
          [](const InvalidThreshold&) { return Text("The threshold Is bigger than the number of parties"); },
      },
      value_);
}

std::string EcdsaKeygenLibError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidCommittedZKPoK& v) { return "InvalidCommittedZKPoK(" + v.error->debug() + ")"; },
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const InvalidLagrangeSum&) { return Text("InvalidLagrangeSum"); },
                        [](const InvalidThreshold& v) {
                          return "InvalidThreshold { threshold: " + number_of_parties_debug(v.threshold) +
                                 ", num_parties: " + number_of_parties_debug(v.num_parties) + " }";
                        },
                    },
                    value_);
}

const Error* EcdsaKeygenLibError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const InvalidCommittedZKPoK& v) -> const Error* { return v.error.get(); },
                        [](const CommunicationError& v) -> const Error* { return v.error.get(); },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// --- EcdsaRefreshLibError and Bip340RefreshError ---
//
// The two share their variants and texts; only the key width and the wrapped
// key-generation error differ.

namespace {

template <class E>
void refresh_validate(const typename E::Value& value) {
  if (const auto* c = std::get_if<typename E::CommunicationError>(&value)) require_boxed(c->error);
}

template <class E>
std::string refresh_display(const typename E::Value& value) {
  return std::visit(
      Overloaded{
          [](const typename E::CommunicationError& v) { return backticked("Communication Error: ", v.error->display()); },
          [](const typename E::RefreshIsNotOfSameSecret&) {
            return Text(
                "Refresh is not of same secret, an outcome of a potentially compromised device in the group");
          },
          [](const typename E::MalformedPublicKey& v) { return backticked("Malformed Public Key ", byte_list(v.key)); },
          [](const typename E::Keygen& v) { return v.error.display(); },
      },
      value);
}

template <class E>
std::string refresh_debug(const typename E::Value& value) {
  return std::visit(
      Overloaded{
          [](const typename E::CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
          [](const typename E::RefreshIsNotOfSameSecret&) { return Text("RefreshIsNotOfSameSecret"); },
          [](const typename E::MalformedPublicKey& v) { return "MalformedPublicKey(" + byte_list(v.key) + ")"; },
          [](const typename E::Keygen& v) { return "Keygen(" + v.error.debug() + ")"; },
      },
      value);
}

template <class E>
const Error* refresh_source(const typename E::Value& value) noexcept {
  return std::visit(Overloaded{
                        [](const typename E::CommunicationError& v) -> const Error* { return v.error.get(); },
                        [](const typename E::Keygen& v) -> const Error* { return v.error.source(); },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value);
}

}  // namespace

void EcdsaRefreshLibError::validate() const { refresh_validate<EcdsaRefreshLibError>(value_); }
std::string EcdsaRefreshLibError::display() const { return refresh_display<EcdsaRefreshLibError>(value_); }
std::string EcdsaRefreshLibError::debug() const { return refresh_debug<EcdsaRefreshLibError>(value_); }
const Error* EcdsaRefreshLibError::source() const noexcept { return refresh_source<EcdsaRefreshLibError>(value_); }

void Bip340RefreshError::validate() const { refresh_validate<Bip340RefreshError>(value_); }
std::string Bip340RefreshError::display() const { return refresh_display<Bip340RefreshError>(value_); }
std::string Bip340RefreshError::debug() const { return refresh_debug<Bip340RefreshError>(value_); }
const Error* Bip340RefreshError::source() const noexcept { return refresh_source<Bip340RefreshError>(value_); }

// --- EcdsaExtractLibError ---

void EcdsaExtractLibError::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string EcdsaExtractLibError::display() const {
  return std::visit(
      Overloaded{
          [](const CommunicationError& v) { return backticked("Communication Error: ", v.error->display()); },
          [](const InvalidNumberOfParticipants& v) {
            return "Expected " + std::to_string(v.expected) + " participants, but received " + std::to_string(v.found);
          },
          [](const ReceivedInvalidPrivateKey&) { return Text("The private key is invalid"); },
          [](const InvalidVSSPublicPoint&) { return Text("VSS Received invalid public point"); },
          [](const VssError& v) { return v.error.display(); },
          [](const InvalidAmountOfSecretSharesForRecovery& v) {
            return "Invalid amount of secret shares for recovery, must provide at least " +
                   std::to_string(v.threshold) + " secret shares, found: " + std::to_string(v.found);
          },
          [](const IncompatibleSecretShares&) {
            return Text(
                "Incompatible secret shares, provided secret shares are not of the same public key, all provided "
                "secret shares must be from the same keygen operation (be shares of the same public key).");
          },
      },
      value_);
}

std::string EcdsaExtractLibError::debug() const {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const InvalidNumberOfParticipants& v) {
                          return "InvalidNumberOfParticipants { expected: " + number_of_parties_debug(v.expected) +
                                 ", found: " + number_of_parties_debug(v.found) + " }";
                        },
                        [](const ReceivedInvalidPrivateKey&) { return Text("ReceivedInvalidPrivateKey"); },
                        [](const InvalidVSSPublicPoint&) { return Text("InvalidVSSPublicPoint"); },
                        [](const VssError& v) { return "VssError(" + v.error.debug() + ")"; },
                        [](const InvalidAmountOfSecretSharesForRecovery& v) {
                          return "InvalidAmountOfSecretSharesForRecovery { threshold: " + std::to_string(v.threshold) +
                                 ", found: " + std::to_string(v.found) + " }";
                        },
                        [](const IncompatibleSecretShares&) { return Text("IncompatibleSecretShares"); },
                    },
                    value_);
}

const Error* EcdsaExtractLibError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) -> const Error* { return v.error.get(); },
                        [](const VssError& v) -> const Error* { return v.error.source(); },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// --- EcdsaSignerInitError ---

void EcdsaSignerInitError::validate() const {
  if (const auto* r = std::get_if<ReceiveFailed>(&value_)) require_boxed(r->error);
}

std::string EcdsaSignerInitError::display() const {
  return std::visit(Overloaded{
                        [](const InitRvoleError& v) { return v.error.display(); },
                        [](const InvalidZetaCommitment&) {
                          return Text("Failed to generate zeta shares, Received malicious data from the other party");
                        },
                        [](const ReceiveFailed& v) { return "Failed to receive a message: " + v.error->display(); },
                    },
                    value_);
}

std::string EcdsaSignerInitError::debug() const {
  return std::visit(Overloaded{
                        [](const InitRvoleError& v) { return "InitRvoleError(" + v.error.debug() + ")"; },
                        [](const InvalidZetaCommitment&) { return Text("InvalidZetaCommitment"); },
                        [](const ReceiveFailed& v) { return "ReceiveFailed(" + v.error->debug() + ")"; },
                    },
                    value_);
}

const Error* EcdsaSignerInitError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const InitRvoleError& v) -> const Error* { return v.error.source(); },
                        [](const InvalidZetaCommitment&) -> const Error* { return nullptr; },
                        [](const ReceiveFailed& v) -> const Error* { return v.error.get(); },
                    },
                    value_);
}

// --- EcdsaPresignError ---

void EcdsaPresignError::validate() const {
  std::visit(Overloaded{
                 [](const CommunicationError& v) { require_boxed(v.error); },
                 [](const DecommitError& v) { require_boxed(v.error); },
                 [](const auto&) {},
             },
             value_);
}

std::string EcdsaPresignError::display() const {
  return std::visit(
      Overloaded{
          [](const AliceError& v) { return v.error.display(); },
          [](const BobError& v) { return v.error.display(); },
          [](const CommunicationError& v) { return v.error->display(); },
          [](const DecommitError& v) { return v.error->display(); },
          [](const MaliciousMessage& v) { return "Malicious message from " + v.sender.display(); },
          [](const GlobalCheckFailed&) { return Text("Global check failed"); },
          [](const RequestedPresignaturesExceedsAmount&) {
            return Text("Requested pre-signatures exceeds the supported amount");
          },
      },
      value_);
}

std::string EcdsaPresignError::debug() const {
  return std::visit(
      Overloaded{
          [](const AliceError& v) { return "AliceError(" + v.error.debug() + ")"; },
          [](const BobError& v) { return "BobError(" + v.error.debug() + ")"; },
          [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
          [](const DecommitError& v) { return "DecommitError(" + v.error->debug() + ")"; },
          [](const MaliciousMessage& v) { return "MaliciousMessage { sender: " + v.sender.debug() + " }"; },
          [](const GlobalCheckFailed&) { return Text("GlobalCheckFailed"); },
          [](const RequestedPresignaturesExceedsAmount&) { return Text("RequestedPresignaturesExceedsAmount"); },
      },
      value_);
}

const Error* EcdsaPresignError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const AliceError& v) -> const Error* { return v.error.source(); },
                        [](const BobError& v) -> const Error* { return v.error.source(); },
                        [](const CommunicationError& v) -> const Error* { return v.error->source(); },
                        [](const DecommitError& v) -> const Error* { return v.error->source(); },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// --- PartialSignatureError ---

std::string PartialSignatureError::display() const {
  switch (kind_) {
    case Kind::InsufficientPartialSignatures: return "Insufficient partial signatures provided";
    case Kind::PublicKeyMismatch: return "Public key mismatch";
    case Kind::MessageHashMismatch: return "Message hash mismatch";
    case Kind::PublicNonceMismatch: return "Public nonce mismatch";
    case Kind::PartialSignaturesRequiredMismatch: return "Partial signatures required mismatch";
    case Kind::IncorrectResultingSignature: return "The resulting signature is incorrect - please report this error.";
  }
  velto::panic("PartialSignatureError holds no valid kind. Bug!");
}

std::string PartialSignatureError::debug() const {
  switch (kind_) {
    case Kind::InsufficientPartialSignatures: return "InsufficientPartialSignatures";
    case Kind::PublicKeyMismatch: return "PublicKeyMismatch";
    case Kind::MessageHashMismatch: return "MessageHashMismatch";
    case Kind::PublicNonceMismatch: return "PublicNonceMismatch";
    case Kind::PartialSignaturesRequiredMismatch: return "PartialSignaturesRequiredMismatch";
    case Kind::IncorrectResultingSignature: return "IncorrectResultingSignature";
  }
  velto::panic("PartialSignatureError holds no valid kind. Bug!");
}

// --- EcdsaSignError ---

void EcdsaSignError::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string EcdsaSignError::display() const {
  return std::visit(
      Overloaded{
          [](const CommunicationError& v) { return backticked("Communication error: ", v.error->display()); },
          [](const Unknown&) { return Text("Unknown error in signing"); },
          [](const ZeroMessageHash&) { return Text("The message hash cannot be zero"); },
          [](const ZeroPhiK&) { return Text("Phi time K resulted in zero"); },
          [](const KeyPairDoesNotMatchPreSignature&) {
            return Text("The provided KeyPair does not match the one used to create the pre-signature");
          },
          [](const InvalidDerivationPath&) { return Text("The provided derivation path is invalid"); },
          [](const PartialSignatureError& v) {
            return backticked("Error signing from partial signatures: ", v.error.display());
          },
      },
      value_);
}

std::string EcdsaSignError::debug() const {
  return std::visit(
      Overloaded{
          [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
          [](const Unknown&) { return Text("Unknown"); },
          [](const ZeroMessageHash&) { return Text("ZeroMessageHash"); },
          [](const ZeroPhiK&) { return Text("ZeroPhiK"); },
          [](const KeyPairDoesNotMatchPreSignature&) { return Text("KeyPairDoesNotMatchPreSignature"); },
          [](const InvalidDerivationPath&) { return Text("InvalidDerivationPath"); },
          [](const PartialSignatureError& v) { return "PartialSignatureError(" + v.error.debug() + ")"; },
      },
      value_);
}

const Error* EcdsaSignError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) -> const Error* { return v.error.get(); },
                        [](const PartialSignatureError& v) -> const Error* { return &v.error; },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// --- MulError ---

void MulError::validate() const {
  std::visit(Overloaded{
                 [](const DecommitError& v) { require_boxed(v.error); },
                 [](const CommunicationError& v) { require_boxed(v.error); },
                 [](const auto&) {},
             },
             value_);
}

std::string MulError::display() const {
  return std::visit(
      Overloaded{
          [](const OTError& v) { return backticked("OT Error: ", v.error.display()); },
          [](const DecommitError& v) { return backticked("Decommit failed: ", v.error->display()); },
          [](const AlicePreprocessError& v) { return backticked("Alice preprocess error: ", v.error.display()); },
          [](const BobPreprocessError& v) { return backticked("Bob preprocess error: ", v.error.display()); },
          [](const InvalidPad&) { return Text("Received an invalid pad"); },
          [](const InputAndAdjust& v) { return backticked("Input and adjust error: ", v.error.display()); },
          [](const CommunicationError& v) { return backticked("Communication Error: ", v.error->display()); },
      },
      value_);
}

std::string MulError::debug() const {
  return std::visit(Overloaded{
                        [](const OTError& v) { return "OTError(" + v.error.debug() + ")"; },
                        [](const DecommitError& v) { return "DecommitError(" + v.error->debug() + ")"; },
                        [](const AlicePreprocessError& v) { return "AlicePreprocessError(" + v.error.debug() + ")"; },
                        [](const BobPreprocessError& v) { return "BobPreprocessError(" + v.error.debug() + ")"; },
                        [](const InvalidPad&) { return Text("InvalidPad"); },
                        [](const InputAndAdjust& v) { return "InputAndAdjust(" + v.error.debug() + ")"; },
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                    },
                    value_);
}

const Error* MulError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const OTError& v) -> const Error* { return &v.error; },
                        [](const DecommitError& v) -> const Error* { return v.error.get(); },
                        [](const AlicePreprocessError& v) -> const Error* { return &v.error; },
                        [](const BobPreprocessError& v) -> const Error* { return &v.error; },
                        [](const InvalidPad&) -> const Error* { return nullptr; },
                        [](const InputAndAdjust& v) -> const Error* { return &v.error; },
                        [](const CommunicationError& v) -> const Error* { return v.error.get(); },
                    },
                    value_);
}

// --- EcdsaPresignInitError ---

void EcdsaPresignInitError::validate() const {
  std::visit(Overloaded{
                 [](const CommunicationError& v) { require_boxed(v.error); },
                 [](const DecommitError& v) { require_boxed(v.error); },
                 [](const auto&) {},
             },
             value_);
}

std::string EcdsaPresignInitError::display() const {
  return std::visit(
      Overloaded{
          [](const IncorrectNumberOfSigners&) { return Text("Incorrect number of signers"); },
          [](const CommunicationError& v) { return backticked("Communication error: ", v.error->display()); },
          [](const SampleError& v) { return backticked("Sample error: ", v.error.display()); },
          [](const DecommitError& v) { return v.error->display(); },
          [](const InputAndAdjust& v) { return backticked("Input and adjust error: ", v.error.display()); },
          [](const Unknown&) { return Text("Unknown error in presigning"); },
      },
      value_);
}

std::string EcdsaPresignInitError::debug() const {
  return std::visit(Overloaded{
                        [](const IncorrectNumberOfSigners&) { return Text("IncorrectNumberOfSigners"); },
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const SampleError& v) { return "SampleError(" + v.error.debug() + ")"; },
                        [](const DecommitError& v) { return "DecommitError(" + v.error->debug() + ")"; },
                        [](const InputAndAdjust& v) { return "InputAndAdjust(" + v.error.debug() + ")"; },
                        [](const Unknown&) { return Text("Unknown"); },
                    },
                    value_);
}

const Error* EcdsaPresignInitError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) -> const Error* { return v.error.get(); },
                        [](const SampleError& v) -> const Error* { return &v.error; },
                        [](const DecommitError& v) -> const Error* { return v.error.get(); },
                        [](const InputAndAdjust& v) -> const Error* { return &v.error; },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// --- EcdsaSignErrorV4 ---

void EcdsaSignErrorV4::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string EcdsaSignErrorV4::display() const {
  return std::visit(
      Overloaded{
          [](const CommunicationError& v) { return backticked("Communication error: ", v.error->display()); },
          [](const Unknown&) { return Text("Unknown error in signing"); },
          [](const ZeroMessageHash&) { return Text("The message hash cannot be zero"); },
      },
      value_);
}

std::string EcdsaSignErrorV4::debug() const {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const Unknown&) { return Text("Unknown"); },
                        [](const ZeroMessageHash&) { return Text("ZeroMessageHash"); },
                    },
                    value_);
}

const Error* EcdsaSignErrorV4::source() const noexcept {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) return c->error.get();
  return nullptr;
}

// --- XprivError ---

std::string XprivError::display() const {
  const bool spriv = text_ == KeyText::Spriv;
  return std::visit(
      Overloaded{
          [](const InvalidLength& v) {
            return "Invalid decoded xpriv length, expected 78 bytes, got " + std::to_string(v.len);
          },
          [](const InvalidBase58& v) { return "Invalid base58 encoding: " + v.error.display(); },
          [spriv](const UnknownVersion& v) {
            if (spriv) return "Invalid version: " + std::to_string(v.found) + ", expected: " + std::to_string(kSprivVersion);
            return "Invalid version: " + upper_hex(v.found) + ", expected: " + upper_hex(kXprvVersion);
          },
          [](const InvalidPrivateKey&) { return Text("The encoded private key is invalid"); },
      },
      value_);
}

std::string XprivError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidLength& v) { return "InvalidLength { len: " + std::to_string(v.len) + " }"; },
                        [](const InvalidBase58& v) { return "InvalidBase58(" + v.error.debug() + ")"; },
                        [](const UnknownVersion& v) { return "UnknownVersion(" + std::to_string(v.found) + ")"; },
                        [](const InvalidPrivateKey&) { return Text("InvalidPrivateKey"); },
                    },
                    value_);
}

const Error* XprivError::source() const noexcept {
  if (const auto* b = std::get_if<InvalidBase58>(&value_)) return &b->error;
  return nullptr;
}

// --- XpubError ---

void XpubError::validate() const {}

std::string XpubError::display() const {
  return std::visit(
      Overloaded{
          [](const InvalidBase58& v) { return "Invalid Xpub base58 encoding: " + v.error.display(); },
          [](const InvalidVersion& v) {
            return "Invalid Xpub version, expected: " + upper_hex(kXpubVersion) + ", found: " + upper_hex(v.found);
          },
          [](const InvalidLength& v) { return "Invalid Xpub length, expected: 78, found: " + std::to_string(v.length); },
          [](const InvalidPublicKey& v) { return "Invalid public key: " + byte_list(v.key); },
      },
      value_);
}

std::string XpubError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidBase58& v) { return "InvalidBase58(" + v.error.debug() + ")"; },
                        [](const InvalidVersion& v) { return "InvalidVersion(" + std::to_string(v.found) + ")"; },
                        [](const InvalidLength& v) { return "InvalidLength(" + std::to_string(v.length) + ")"; },
                        [](const InvalidPublicKey& v) { return "InvalidPublicKey(" + byte_list(v.key) + ")"; },
                    },
                    value_);
}

const Error* XpubError::source() const noexcept {
  if (const auto* b = std::get_if<InvalidBase58>(&value_)) return &b->error;
  return nullptr;
}

}  // namespace velto::ecdsa
