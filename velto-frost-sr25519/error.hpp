// Errors of the sr25519 threshold protocols and of sr25519 derivation.
//
// The protocol runs end in ProtocolRunError (velto-frost-ed25519/error.hpp)
// over the errors below; signing reuses FrostSignError ("Created an invalid
// signature") and the refresh-type runs Sr25519RefreshError. Texts, variant
// names and field names are fixed letter for letter, as for the Ed25519
// errors whose texts these share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "crypto/error.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-ed25519/error.hpp"

namespace velto::frost {

// The key-generation rounds' error. The first three variants are those of
// FrostKeygenError, with its texts; ThresholdGreaterThanParties refuses a
// threshold above the number of parties (or a zero threshold) before any
// message is sent: "Threshold {t} is greater than the number of parties {n}".
class Sr25519KeygenError final : public velto::Error {
 public:
  using ReceivedMaliciousdData = FrostKeygenError::ReceivedMaliciousdData;
  using IncorrectNumberOfMessages = FrostKeygenError::IncorrectNumberOfMessages;
  using IncorrectNumberOfCommitments = FrostKeygenError::IncorrectNumberOfCommitments;
  using ThresholdGreaterThanParties = ReshareError::ThresholdGreaterThanParties;
  using Value = std::variant<ReceivedMaliciousdData, IncorrectNumberOfMessages, IncorrectNumberOfCommitments,
                             ThresholdGreaterThanParties>;

  VELTO_VARIANT_ERROR_MEMBERS(Sr25519KeygenError)
};

// The error of full private-key extraction and of the offline export, with
// the texts of the Ed25519 extraction error's variants of the same names.
class Sr25519ExtractError final : public velto::Error {
 public:
  using InvalidAmountOfSecretSharesForRecovery = FrostExtractError::InvalidAmountOfSecretSharesForRecovery;
  using ReceivedInvalidPrivateKey = FrostExtractError::ReceivedInvalidPrivateKey;
  using IncompatibleSecretShares = FrostExtractError::IncompatibleSecretShares;
  using Value = std::variant<InvalidAmountOfSecretSharesForRecovery, ReceivedInvalidPrivateKey,
                             IncompatibleSecretShares>;

  VELTO_VARIANT_ERROR_MEMBERS(Sr25519ExtractError)
};

// A derivation path that cannot be walked.
//   InvalidLength{len}        "Invalid derivation path length, {len} > 4294967295"
//   HardJunctionsNotAllowed   "Invalid derivation path, hard(starting with '//')
//                             derivation junctions are not allowed"
class Sr25519DerivePathError final : public velto::Error {
 public:
  struct InvalidLength {
    std::size_t len;
  };
  struct HardJunctionsNotAllowed {};
  using Value = std::variant<InvalidLength, HardJunctionsNotAllowed>;

  VELTO_VARIANT_ERROR_MEMBERS(Sr25519DerivePathError)
};

// 32 bytes that are no ristretto255 point: "Invalid sr25519 Public Key".
class Sr25519PublicKeyError final : public velto::Error {
 public:
  std::string display() const override { return "Invalid sr25519 Public Key"; }
  std::string debug() const override { return "InvalidPublicKey"; }
};

using Sr25519KeygenRunError = ProtocolRunError<Sr25519KeygenError>;
using Sr25519ExtractRunError = ProtocolRunError<Sr25519ExtractError>;
using Sr25519SignRunError = FrostSignRunError;
using Sr25519RefreshRunError = ProtocolRunError<Sr25519RefreshError>;

}  // namespace velto::frost
