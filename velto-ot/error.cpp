#include "velto-ot/error.hpp"

namespace velto::ot {

// --- BaseOtError ---

void BaseOtError::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string BaseOtError::display() const {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) { return v.error->display(); },
                        [](const InvalidMessageSizeError&) { return std::string("Received message of invalid size"); },
                    },
                    value_);
}

std::string BaseOtError::debug() const {
  return std::visit(Overloaded{
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const InvalidMessageSizeError&) { return std::string("InvalidMessageSizeError"); },
                    },
                    value_);
}

const Error* BaseOtError::source() const noexcept {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) return c->error.get();
  return nullptr;
}

// --- OtError ---

void OtError::validate() const {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) require_boxed(c->error);
}

std::string OtError::display() const {
  return std::visit(
      Overloaded{
          [](const InputTooLarge&) { return std::string("Input is too large"); },
          [](const CommunicationError& v) { return "Communication error: `" + v.error->display() + "`"; },
          [](const ReceivedInvalidValueFromOtherParty&) {
            return std::string("Received invalid value from other party");
          },
      },
      value_);
}

std::string OtError::debug() const {
  return std::visit(Overloaded{
                        [](const InputTooLarge&) { return std::string("InputTooLarge"); },
                        [](const CommunicationError& v) { return "CommunicationError(" + v.error->debug() + ")"; },
                        [](const ReceivedInvalidValueFromOtherParty&) {
                          return std::string("ReceivedInvalidValueFromOtherParty");
                        },
                    },
                    value_);
}

const Error* OtError::source() const noexcept {
  if (const auto* c = std::get_if<CommunicationError>(&value_)) return c->error.get();
  return nullptr;
}

}  // namespace velto::ot
