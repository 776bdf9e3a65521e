// Errors of the oblivious transfers: the base OT batch (BaseOtError) and the
// input-and-adjust transfer of the two-party multiplication (OtError).
//
// Neither is handed to the operation layer on its own: each travels inside a
// variant of an ECDSA protocol error, which embeds or forwards its text.
// A communication failure (a failed send, receive or decode) is carried as a
// boxed error, whatever type the layer below reported.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "crypto/error.hpp"

namespace velto::ot {

// The error of one batch of base oblivious transfers, on either side.
class BaseOtError final : public velto::Error {
 public:
  // Display: the boxed error's text, nothing added. Source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  // The receiver's message is not 32 bytes per transfer.
  struct InvalidMessageSizeError {};

  using Value = std::variant<CommunicationError, InvalidMessageSizeError>;

  VELTO_VARIANT_ERROR_MEMBERS(BaseOtError)
};

// The error of the oblivious transfer that carries the input-and-adjust values
// of the two-party multiplication.
class OtError final : public velto::Error {
 public:
  struct InputTooLarge {};
  // Display "Communication error: `{e}`". Source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  struct ReceivedInvalidValueFromOtherParty {};

  using Value = std::variant<InputTooLarge, CommunicationError, ReceivedInvalidValueFromOtherParty>;

  VELTO_VARIANT_ERROR_MEMBERS(OtError)
};

}  // namespace velto::ot
