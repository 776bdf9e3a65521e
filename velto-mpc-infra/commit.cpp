#include "velto-mpc-infra/commit.hpp"

namespace velto {

DecommitError::DecommitError(Value value) : value_(std::move(value)) {
  if (const auto* r = std::get_if<ReceiveFailed>(&value_); r != nullptr && !r->error)
    panic("DecommitError::ReceiveFailed without an error");
}

std::string DecommitError::display() const {
  if (const auto* r = std::get_if<ReceiveFailed>(&value_)) return "Failed to receive a message: " + r->error->display();
  return "Received an invalid commitment";
}

std::string DecommitError::debug() const {
  if (const auto* r = std::get_if<ReceiveFailed>(&value_)) return "ReceiveFailed(" + r->error->debug() + ")";
  return "InvalidCommitment";
}

const Error* DecommitError::source() const noexcept {
  if (const auto* r = std::get_if<ReceiveFailed>(&value_)) return r->error.get();
  return nullptr;
}

}  // namespace velto
