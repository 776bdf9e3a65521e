// Shared by the fuzz harnesses: the property check and a reader that splits
// one fuzz input into the arguments of a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

// A property that must hold for every input. A violation aborts, which
// libFuzzer records as a finding and the corpus replay as a failed test.
#define VELTO_FUZZ_CHECK(cond)                                                                  \
  do {                                                                                          \
    if (!(cond)) {                                                                              \
      std::fprintf(stderr, "%s:%d: fuzz property violated: %s\n", __FILE__, __LINE__, #cond);  \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)

namespace velto::fuzz {

// Reads fields off the front of the input; once it runs dry every read
// yields zeros or an empty span.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data, size) {}

  std::size_t remaining() const noexcept { return data_.size() - pos_; }

  std::uint8_t u8() noexcept { return remaining() ? data_[pos_++] : 0; }
  std::uint16_t u16() noexcept { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
  std::uint32_t u32() noexcept { return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16); }

  // Up to n bytes.
  std::span<const std::uint8_t> bytes(std::size_t n) noexcept {
    n = n < remaining() ? n : remaining();
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  // A length byte, then up to that many bytes.
  std::span<const std::uint8_t> short_bytes() noexcept { return bytes(u8()); }
  std::span<const std::uint8_t> rest() noexcept { return bytes(remaining()); }

  static std::string_view text(std::span<const std::uint8_t> b) noexcept {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
  }

  // Up to max_len path indices (a count byte, then 4 bytes each).
  std::vector<std::uint32_t> path(std::size_t max_len) {
    std::size_t n = u8() % (max_len + 1);
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < n && remaining() >= 4; ++i) out.push_back(u32());
    return out;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF (the reference the text decoders are checked against).
inline bool well_formed_utf8(std::string_view s) noexcept {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      n = 1;
      cp = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 2;
      cp = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 3;
      cp = b & 0x07u;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3Fu);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

}  // namespace velto::fuzz
