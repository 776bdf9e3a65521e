#include "velto-ote/error.hpp"

namespace velto::ote {

// --- OteError ---

void OteError::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string OteError::display() const {
  return std::visit(
      Overloaded{
          [](const InvalidPprfHash&) {
            return std::string("The received PPRF hashes are not consistent with the computed ones");
          },
          [](const InvalidChallengeResponse&) {
            return std::string("The received consistency check response is not consistent with the computed one");
          },
          [](const CommunicationError& v) { return v.error->display(); },
      },
      value_);
}

std::string OteError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidPprfHash&) { return std::string("InvalidPprfHash"); },
                        [](const InvalidChallengeResponse&) { return std::string("InvalidChallengeResponse"); },
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                    },
                    value_);
}

const Error* OteError::source() const noexcept {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) return c->error.get();
  return nullptr;
}

// --- CoteError ---

void CoteError::validate() const {
  if (const auto* c = std::get_if<CommError>(&value_)) require_boxed(c->error);
}

std::string CoteError::display() const {
  return std::visit(Overloaded{
                        [](const BaseOTSenderError& v) { return "Base OT sender error: `" + v.error.display() + "`"; },
                        [](const CommError& v) { return "Communication error: `" + v.error->display() + "`"; },
                        [](const CheckFailed&) { return std::string("Check failed"); },
                        [](const InvalidMessage&) { return std::string("Invalid message received"); },
                    },
                    value_);
}

std::string CoteError::debug() const {
  return std::visit(Overloaded{
                        [](const BaseOTSenderError& v) { return "BaseOTSenderError(" + v.error.debug() + ")"; },
                        [](const CommError& v) { return "CommError(" + v.error->debug() + ")"; },
                        [](const CheckFailed&) { return std::string("CheckFailed"); },
                        [](const InvalidMessage&) { return std::string("InvalidMessage"); },
                    },
                    value_);
}

const Error* CoteError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const BaseOTSenderError& v) -> const Error* { return &v.error; },
                        [](const CommError& v) -> const Error* { return v.error.get(); },
                        [](const auto&) -> const Error* { return nullptr; },
                    },
                    value_);
}

// --- RoteError ---

void RoteError::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string RoteError::display() const {
  return std::visit(
      Overloaded{
          [](const FailedExtending& v) { return "Failed extending: " + v.error.display(); },
          [](const CommunicationError& v) { return "Communication Error: `" + v.error->display() + "`"; },
          [](const InvalidValue&) { return std::string("Received invalid value from alice"); },
      },
      value_);
}

std::string RoteError::debug() const {
  return std::visit(Overloaded{
                        [](const FailedExtending& v) { return "FailedExtending(" + v.error.debug() + ")"; },
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const InvalidValue&) { return std::string("InvalidValue"); },
                    },
                    value_);
}

const Error* RoteError::source() const noexcept {
  return std::visit(Overloaded{
                        [](const FailedExtending& v) -> const Error* { return &v.error; },
                        [](const CommunicationError& v) -> const Error* { return v.error.get(); },
                        [](const InvalidValue&) -> const Error* { return nullptr; },
                    },
                    value_);
}

}  // namespace velto::ote
