// Errors of the OT extensions.
//
// OteError: the side that holds the punctured PPRF trees (the base-OT
// receiver, Alice in the multiplications) and checks what the other side sends.
// CoteError: the other side in the current protocol (the base-OT sender,
// holding the full trees; Bob in presigning).
// RoteError: Bob's side of the older multiplication's extension.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "crypto/error.hpp"
#include "velto-ot/error.hpp"

namespace velto::ote {

class OteError final : public velto::Error {
 public:
  // The PPRF hashes that came with the sender's PPRF message differ from the
  // ones recomputed from the punctured trees.
  struct InvalidPprfHash {};
  // The other side's consistency-check response differs from the local one.
  struct InvalidChallengeResponse {};
  // Display: the boxed error's text, nothing added. Source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };

  using Value = std::variant<InvalidPprfHash, InvalidChallengeResponse, CommunicationError>;

  VELTO_VARIANT_ERROR_MEMBERS(OteError)
};

class CoteError final : public velto::Error {
 public:
  // Display "Base OT sender error: `{e}`". Source: the BaseOtError.
  struct BaseOTSenderError {
    ot::BaseOtError error;
  };
  // Display "Communication error: `{e}`". Source: the boxed error.
  struct CommError {
    BoxedError error;
  };
  struct CheckFailed {};
  struct InvalidMessage {};

  using Value = std::variant<BaseOTSenderError, CommError, CheckFailed, InvalidMessage>;

  VELTO_VARIANT_ERROR_MEMBERS(CoteError)
};

class RoteError final : public velto::Error {
 public:
  // Display "Failed extending: {e}" (no back-ticks). Source: the BaseOtError.
  struct FailedExtending {
    ot::BaseOtError error;
  };
  // Display "Communication Error: `{e}`". Source: the boxed error.
  struct CommunicationError {
    BoxedError error;
  };
  // A value received from Alice is invalid.
  struct InvalidValue {};

  using Value = std::variant<FailedExtending, CommunicationError, InvalidValue>;

  VELTO_VARIANT_ERROR_MEMBERS(RoteError)
};

}  // namespace velto::ote
