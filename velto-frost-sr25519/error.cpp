#include "velto-frost-sr25519/error.hpp"

#include <string>

namespace velto::frost {

namespace {

// The texts of the variants shared with other errors come from those errors.
template <class Outer, class V>
std::string display_as(const V& v) {
  return Outer(v).display();
}
template <class Outer, class V>
std::string debug_as(const V& v) {
  return Outer(v).debug();
}

}  // namespace

// --- Sr25519KeygenError ---

void Sr25519KeygenError::validate() const {}

std::string Sr25519KeygenError::display() const {
  return std::visit(Overloaded{
                        [](const ThresholdGreaterThanParties& v) { return display_as<ReshareError>(v); },
                        [](const auto& v) { return display_as<FrostKeygenError>(v); },
                    },
                    value_);
}

std::string Sr25519KeygenError::debug() const {
  return std::visit(Overloaded{
                        [](const ThresholdGreaterThanParties& v) { return debug_as<ReshareError>(v); },
                        [](const auto& v) { return debug_as<FrostKeygenError>(v); },
                    },
                    value_);
}

const Error* Sr25519KeygenError::source() const noexcept { return nullptr; }

// --- Sr25519ExtractError ---

void Sr25519ExtractError::validate() const {}

std::string Sr25519ExtractError::display() const {
  return std::visit([](const auto& v) { return display_as<FrostExtractError>(v); }, value_);
}

std::string Sr25519ExtractError::debug() const {
  return std::visit([](const auto& v) { return debug_as<FrostExtractError>(v); }, value_);
}

const Error* Sr25519ExtractError::source() const noexcept { return nullptr; }

// --- Sr25519DerivePathError ---

void Sr25519DerivePathError::validate() const {}

std::string Sr25519DerivePathError::display() const {
  return std::visit(Overloaded{
                        [](const InvalidLength& v) {
                          return join_text({"Invalid derivation path length, ", std::to_string(v.len), " > 4294967295"});
                        },
                        [](const HardJunctionsNotAllowed&) {
                          return std::string(
                              "Invalid derivation path, hard(starting with '//') derivation junctions are not "
                              "allowed");
                        },
                    },
                    value_);
}

std::string Sr25519DerivePathError::debug() const {
  return std::visit(Overloaded{
                        [](const InvalidLength& v) { return join_text({"InvalidLength(", std::to_string(v.len), ")"}); },
                        [](const HardJunctionsNotAllowed&) { return std::string("HardJunctionsNotAllowed"); },
                    },
                    value_);
}

const Error* Sr25519DerivePathError::source() const noexcept { return nullptr; }

}  // namespace velto::frost
