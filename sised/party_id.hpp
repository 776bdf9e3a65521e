// A party's identifier in a session: a non-zero 16-bit value, written as
// 2 bytes little-endian.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

namespace velto {

class PartyId {
 public:
  // Refuses zero.
  static constexpr std::optional<PartyId> from(std::uint16_t value) noexcept {
    if (value == 0) return std::nullopt;
    return PartyId(value);
  }
  // For constants and values already known to be non-zero. Zero is a bug of
  // the caller: it fails compilation in a constant expression.
  static constexpr PartyId unchecked(std::uint16_t value) noexcept {
    if (std::is_constant_evaluated() && value == 0) zero_party_id_in_constant();
    return PartyId(value);
  }

  constexpr std::uint16_t value() const noexcept { return value_; }

  friend constexpr bool operator==(PartyId, PartyId) noexcept = default;
  friend constexpr auto operator<=>(PartyId, PartyId) noexcept = default;

  // "3"
  std::string display() const { return std::to_string(value_); }
  // "PartyId(3)"
  std::string debug() const { return "PartyId(" + std::to_string(value_) + ")"; }

 private:
  // Not constexpr: reaching it in constant evaluation is a compile error.
  static void zero_party_id_in_constant() noexcept {}
  constexpr explicit PartyId(std::uint16_t value) noexcept : value_(value) {}

  std::uint16_t value_;
};

}  // namespace velto

template <>
struct std::hash<velto::PartyId> {
  std::size_t operator()(velto::PartyId id) const noexcept { return std::hash<std::uint16_t>{}(id.value()); }
};
