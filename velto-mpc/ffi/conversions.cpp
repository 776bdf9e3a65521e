#include "velto-mpc/ffi/conversions.hpp"

#include "crypto/error.hpp"

namespace velto::mpc {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

int nibble(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ConstStrList::ConstStrList(const std::vector<std::string>& texts) {
  views_.reserve(texts.size());
  for (const auto& t : texts) views_.push_back(const_str(t));
}

Hex64 to_ffi(const std::array<std::uint8_t, 32>& value) noexcept {
  Hex64 out{};
  for (std::size_t i = 0; i < value.size(); ++i) {
    out.digits[2 * i] = kDigits[value[i] >> 4];
    out.digits[2 * i + 1] = kDigits[value[i] & 0x0f];
  }
  return out;
}

std::string to_ffi(std::span<const std::uint8_t> bytes) {
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0f];
  }
  return out;
}

bool is_utf8(std::string_view s) noexcept {
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  while (i < s.size()) {
    const unsigned char c = at(i);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xc2 && c <= 0xdf) {
      extra = 1;
      cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      extra = 2;
      cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char cc = at(i + k);
      if ((cc & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3f);
    }
    // Overlong forms, surrogates and code points above U+10FFFF.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10ffff)) ||
        (cp >= 0xd800 && cp <= 0xdfff))
      return false;
    i += extra + 1;
  }
  return true;
}

std::vector<std::uint8_t> parse_hex(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.size() % 2 != 0) panic("internal FFI error: odd number of hex digits (" + std::to_string(text.size()) + ")");
  std::vector<std::uint8_t> out(text.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = nibble(text[2 * i]);
    const int lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      const std::size_t pos = hi < 0 ? 2 * i : 2 * i + 1;
      panic("internal FFI error: invalid hex character " + debug_string(text.substr(pos, 1)) + " at position " +
            std::to_string(pos));
    }
    out[i] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> parse_fixed(std::string_view text) {
  const auto bytes = parse_hex(text);
  if (bytes.size() != N)
    panic("internal FFI error: expected " + std::to_string(N) + " bytes, found " + std::to_string(bytes.size()));
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = bytes[i];
  return out;
}

template std::array<std::uint8_t, 32> parse_fixed<32>(std::string_view);
template std::array<std::uint8_t, 64> parse_fixed<64>(std::string_view);
template std::array<std::uint8_t, 65> parse_fixed<65>(std::string_view);

std::array<std::uint8_t, 33> EcdsaPublicKey::compressed() const noexcept {
  std::array<std::uint8_t, 33> out{};
  out[0] = (bytes[64] & 1) != 0 ? 0x03 : 0x02;
  for (std::size_t i = 1; i <= 32; ++i) out[i] = bytes[i];
  return out;
}

EcdsaSignature EcdsaSignature::parse_ffi(std::string_view text) {
  EcdsaSignature sig{parse_hex(text)};
  if (sig.bytes.size() < kMinLen || sig.bytes.size() > kMaxLen)
    panic("Invalid signature length, expected between " + std::to_string(kMinLen) + ".." + std::to_string(kMaxLen) +
          " bytes, found: " + std::to_string(sig.bytes.size()));
  return sig;
}

}  // namespace velto::mpc
