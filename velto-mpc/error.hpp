// The binding's error: one variant per error code of the function interface,
// each with the library's message and a fixed display prefix.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/error.hpp"

namespace velto::mpc {

class VeltoError final : public Error {
 public:
  enum class Kind : std::uint8_t {
    InvalidUuid,
    InvalidHostUrl,
    InvalidSecretShare,
    InvalidMessage,
    InvalidNumberOfParties,
    ExecutorError,
    InvalidKeygenKeypair,
    InvalidKeygenId,
    InvalidDerivationElement,
    InvalidExtendedPrivateKey,
    InvalidSecretPrivateKey,
    InvalidApiKey,
    InvalidPrivateKey,
    InvalidTweak,
    InvalidExtendedPublicKey,
    InvalidSecretPublicKey,
    InvalidPublicKey,
    NullPointerError,
    PanicError,
    PlatformError,
    InternalError,
    UnknownExecutorError,
  };

  // The variant for a non-zero result code (codes the interface does not name
  // give UnknownExecutorError with the code kept).
  static VeltoError from_code(std::int32_t code, std::string message);
  // Made by the binding itself (a lost callback result).
  static VeltoError internal(std::string message) { return VeltoError(Kind::InternalError, 0, std::move(message)); }

  Kind kind() const noexcept { return kind_; }
  std::int32_t code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }

  std::string display() const override;
  std::string debug() const override;

 private:
  VeltoError(Kind kind, std::int32_t code, std::string message)
      : kind_(kind), code_(code), message_(std::move(message)) {}

  Kind kind_;
  std::int32_t code_;
  std::string message_;
};

}  // namespace velto::mpc
