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

}  // namespace velto::fuzz
