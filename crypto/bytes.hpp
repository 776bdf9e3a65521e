// Byte containers shared by every component, and the two helpers that keep
// secrets from leaking: wiping and constant-time comparison.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velto::crypto {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
using MutByteSpan = std::span<std::uint8_t>;
template <std::size_t N>
using ByteArray = std::array<std::uint8_t, N>;

// Overwrites n bytes with zeros in a way the compiler may not elide.
void secure_wipe(void* data, std::size_t n) noexcept;

// Constant-time equality over the whole length; inputs of different lengths
// compare unequal (the lengths themselves are not secret).
bool ct_equal(ByteSpan a, ByteSpan b) noexcept;

inline ByteSpan as_bytes(const std::string_view s) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace velto::crypto
