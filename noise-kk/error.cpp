#include "noise-kk/error.hpp"

namespace velto::noise {

NoiseError::NoiseError(Kind kind) : kind_(kind) {
  if (kind == Kind::Hex) velto::panic("NoiseError::Hex needs its hex decoding error. Bug!");
}

std::string NoiseError::display() const {
  switch (kind_) {
    case Kind::DecryptionError: return "Unsuccesful decryption.";
    case Kind::UnsupportedMessageLengthError: return "Unsupported Message Length.";
    case Kind::ExhaustedNonceError: return "Reached maximum number of messages that can be sent for this session.";
    case Kind::InvalidKeyError: return "Invalid Key.";
    case Kind::InvalidPublicKeyError: return "Invalid Public Key.";
    case Kind::EmptyKeyError: return "Empty Key.";
    case Kind::InvalidInputError: return "Invalid input length.";
    case Kind::DerivePublicKeyFromEmptyKeyError: return "Unable to derive PublicKey.";
    case Kind::Hex: return hex_->display();
    case Kind::MissingnsError:
    case Kind::MissingneError:
    case Kind::MissingHsMacError:
    case Kind::MissingrsError:
    case Kind::MissingreError: return "Invalid message length.";
  }
  return {};
}

std::string NoiseError::debug() const {
  switch (kind_) {
    case Kind::DecryptionError: return "DecryptionError";
    case Kind::UnsupportedMessageLengthError: return "UnsupportedMessageLengthError";
    case Kind::ExhaustedNonceError: return "ExhaustedNonceError";
    case Kind::InvalidKeyError: return "InvalidKeyError";
    case Kind::InvalidPublicKeyError: return "InvalidPublicKeyError";
    case Kind::EmptyKeyError: return "EmptyKeyError";
    case Kind::InvalidInputError: return "InvalidInputError";
    case Kind::DerivePublicKeyFromEmptyKeyError: return "DerivePublicKeyFromEmptyKeyError";
    case Kind::Hex: return "Hex(" + hex_->debug() + ")";
    case Kind::MissingnsError: return "MissingnsError";
    case Kind::MissingneError: return "MissingneError";
    case Kind::MissingHsMacError: return "MissingHsMacError";
    case Kind::MissingrsError: return "MissingrsError";
    case Kind::MissingreError: return "MissingreError";
  }
  return {};
}

}  // namespace velto::noise
