#include "velto-mpc-infra/broadcast.hpp"

namespace velto {

InfraError::InfraError(Value value) : value_(std::move(value)) {
  if (const auto* c = std::get_if<Communication>(&value_); c != nullptr && !c->error)
    panic("InfraError::Communication without an error");
}

std::string InfraError::display() const {
  return std::visit(Overloaded{
                        [](const Communication& v) { return "Communication Error: " + v.error->display(); },
                        [](const CheatingDetected&) { return std::string("Cheating detected"); },
                        [](const SerializationError& v) { return "Serialization Error: " + v.error.display(); },
                        [](const NoSuchParty& v) { return "No such party: " + v.party.display(); },
                    },
                    value_);
}

std::string InfraError::debug() const {
  return std::visit(Overloaded{
                        [](const Communication& v) { return "Communication(" + v.error->debug() + ")"; },
                        [](const CheatingDetected&) { return std::string("CheatingDetected"); },
                        [](const SerializationError& v) { return "SerializationError(" + v.error.debug() + ")"; },
                        [](const NoSuchParty& v) { return "NoSuchParty(" + v.party.debug() + ")"; },
                    },
                    value_);
}

const Error* InfraError::source() const noexcept {
  if (const auto* c = std::get_if<Communication>(&value_)) return c->error.get();
  if (const auto* s = std::get_if<SerializationError>(&value_)) return &s->error;
  return nullptr;
}

}  // namespace velto
