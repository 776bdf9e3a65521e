// Text forms at the function interface: values lent to the library
// (lowercase hex) and values received from it (hex of either case, an
// optional "0x" prefix). A received text that breaks the interface contract
// is an internal fault: the decoders panic with "internal FFI error ...".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "executor/bindings/velto.h"

namespace velto::mpc {

// ---------------------------------------------------------------------------
// Lending values to the library.

// A view over `s` for the duration of a call; the empty text is {null, 0}.
inline ConstStr const_str(std::string_view s) noexcept {
  return ConstStr{s.empty() ? nullptr : reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A derivation path; the empty path is {null, 0}.
inline U32Array u32_array(std::span<const std::uint32_t> path) noexcept {
  return U32Array{path.empty() ? nullptr : path.data(), path.size()};
}

// Views over a list of texts, in list order; the empty list is {null, 0}.
class ConstStrList {
 public:
  explicit ConstStrList(const std::vector<std::string>& texts);
  ConstStrArray array() const noexcept {
    return ConstStrArray{views_.empty() ? nullptr : views_.data(), views_.size()};
  }

 private:
  std::vector<ConstStr> views_;
};

// 64 lowercase hex digits of a 32-byte value, in a fixed buffer.
struct Hex64 {
  std::array<char, 64> digits;
  std::string_view view() const noexcept { return {digits.data(), digits.size()}; }
};
Hex64 to_ffi(const std::array<std::uint8_t, 32>& value) noexcept;
// 2n lowercase hex digits of n bytes.
std::string to_ffi(std::span<const std::uint8_t> bytes);

// ---------------------------------------------------------------------------
// Values received from the library.

// True when `bytes` is well-formed UTF-8.
bool is_utf8(std::string_view bytes) noexcept;

// Decodes hex digits of either case (an optional "0x" prefix is skipped);
// panics with "internal FFI error: ..." on a bad digit or an odd length.
std::vector<std::uint8_t> parse_hex(std::string_view text);
// Exactly N bytes, else the same internal fault.
template <std::size_t N>
std::array<std::uint8_t, N> parse_fixed(std::string_view text);

// The 65-byte uncompressed SEC1 group key of an ECDSA key.
struct EcdsaPublicKey {
  std::array<std::uint8_t, 65> bytes;
  static EcdsaPublicKey parse_ffi(std::string_view text) { return {parse_fixed<65>(text)}; }
  // 0x02 or 0x03 by the parity of the last byte, then the X coordinate. The
  // leading 0x04 is not checked.
  std::array<std::uint8_t, 33> compressed() const noexcept;
};

// r (32) || s (32) || v (1) || DER (8 to 72): 73 to 137 bytes in all.
struct EcdsaSignature {
  static constexpr std::size_t kMinLen = 73;
  static constexpr std::size_t kMaxLen = 137;
  std::vector<std::uint8_t> bytes;

  static EcdsaSignature parse_ffi(std::string_view text);
  std::span<const std::uint8_t> r() const noexcept { return std::span(bytes).subspan(0, 32); }
  std::span<const std::uint8_t> s() const noexcept { return std::span(bytes).subspan(32, 32); }
  std::uint8_t v() const noexcept { return bytes[64]; }
  std::span<const std::uint8_t> der() const noexcept { return std::span(bytes).subspan(65); }
};

extern template std::array<std::uint8_t, 32> parse_fixed<32>(std::string_view);
extern template std::array<std::uint8_t, 64> parse_fixed<64>(std::string_view);
extern template std::array<std::uint8_t, 65> parse_fixed<65>(std::string_view);

}  // namespace velto::mpc
