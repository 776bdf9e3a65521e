// NoiseError: the error of the transport keys and of the Noise KK channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "crypto/codec.hpp"
#include "crypto/error.hpp"

namespace velto::noise {

class NoiseError final : public velto::Error {
 public:
  // In declaration order; the debug form is the variant name.
  enum class Kind : std::uint8_t {
    DecryptionError,
    UnsupportedMessageLengthError,
    ExhaustedNonceError,
    InvalidKeyError,
    InvalidPublicKeyError,
    EmptyKeyError,
    InvalidInputError,
    DerivePublicKeyFromEmptyKeyError,
    Hex,
    MissingnsError,
    MissingneError,
    MissingHsMacError,
    MissingrsError,
    MissingreError,
  };

  // Any kind but Hex (which needs its inner error: use hex()).
  explicit NoiseError(Kind kind);
  static NoiseError hex(crypto::HexError inner) { return NoiseError(std::move(inner)); }

  Kind kind() const noexcept { return kind_; }
  // The hex decoding error of a Hex error, else null.
  const crypto::HexError* hex_error() const noexcept { return hex_ ? &*hex_ : nullptr; }

  std::string display() const override;
  std::string debug() const override;
  // The hex decoding error for Hex; nothing for the other kinds.
  const Error* source() const noexcept override { return hex_error(); }

  friend bool operator==(const NoiseError& a, const NoiseError& b) {
    return a.kind_ == b.kind_ && a.debug() == b.debug();
  }

 private:
  explicit NoiseError(crypto::HexError inner) : kind_(Kind::Hex), hex_(std::move(inner)) {}

  Kind kind_;
  std::optional<crypto::HexError> hex_;
};

}  // namespace velto::noise
