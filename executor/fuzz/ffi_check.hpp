// The contract of the function interface's synchronous functions, checked on
// every call a harness makes: no panic reaches the caller (-254), success is
// exactly {{NULL, 0}, 0} with an output, a failure has a negative code and a
// message and stores nothing, and a null out-pointer is refused with -253
// (or an earlier argument's code) without storing anything.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cmake/fuzz/fuzz_check.hpp"
#include "executor/bindings/velto.h"

namespace velto::fuzz {

inline constexpr std::int32_t kPanicCode = -254;
inline constexpr std::int32_t kNullPointerCode = -253;

inline void check_failure_result(ResultFFI r, std::string_view secret_input) {
  VELTO_FUZZ_CHECK(r.code < 0 && r.code != kPanicCode);
  VELTO_FUZZ_CHECK(r.message.ptr != nullptr && r.message.len > 0);
  const std::string_view message(reinterpret_cast<const char*>(r.message.ptr), r.message.len);
  // No error text repeats a secret argument that looks like key material
  // (32 or more letters and digits; a text with blanks or punctuation may
  // well be a copy of a fixed error text).
  const bool key_like = secret_input.size() >= 32 && std::all_of(secret_input.begin(), secret_input.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
  });
  if (key_like) VELTO_FUZZ_CHECK(message.find(secret_input) == std::string_view::npos);
  velto_dealloc_heap_string(r.message.ptr, r.message.len);
}

// Calls call(HeapString* out) twice: with an out-pointer, then with null.
// `secret_input` is an argument that no error text may contain. Returns the
// output on success.
template <class Call>
std::optional<std::string> call_local(Call&& call, std::string_view secret_input = {}) {
  static std::uint8_t sentinel = 0;
  HeapString out{&sentinel, 0x5A5A};
  const ResultFFI r = call(&out);
  std::optional<std::string> output;
  if (r.code == 0) {
    VELTO_FUZZ_CHECK(r.message.ptr == nullptr && r.message.len == 0);
    VELTO_FUZZ_CHECK(out.ptr != &sentinel && (out.ptr != nullptr || out.len == 0));
    output.emplace(reinterpret_cast<const char*>(out.ptr), out.len);
    velto_dealloc_heap_string(out.ptr, out.len);
  } else {
    VELTO_FUZZ_CHECK(out.ptr == &sentinel && out.len == 0x5A5A);
    check_failure_result(r, secret_input);
  }

  const ResultFFI null_out = call(nullptr);
  if (output) VELTO_FUZZ_CHECK(null_out.code == kNullPointerCode);
  if (!output) VELTO_FUZZ_CHECK(null_out.code == r.code);
  check_failure_result(null_out, secret_input);
  return output;
}

inline ConstStr const_str(std::string_view s) noexcept {
  return ConstStr{reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace velto::fuzz
