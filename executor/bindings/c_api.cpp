#include "executor/bindings/c_api.hpp"

#include <cxxabi.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>

#include "crypto/bytes.hpp"
#include "server-tools/uri_chars.hpp"

namespace velto::executor::ffi {

HeapString alloc_heap_string(std::size_t n) {
  if (n == 0) return HeapString{nullptr, 0};
  auto* p = static_cast<std::uint8_t*>(std::malloc(n));
  if (p == nullptr) std::abort();
  return HeapString{p, n};
}

HeapString make_heap_string(std::string_view text) {
  HeapString s = alloc_heap_string(text.size());
  if (s.ptr != nullptr) std::memcpy(s.ptr, text.data(), text.size());
  return s;
}

void release_heap_string(HeapString s) noexcept {
  if (s.ptr == nullptr || s.len == 0) return;
  crypto::secure_wipe(s.ptr, s.len);
  std::free(s.ptr);
}

ResultFFI to_result_ffi(const FfiResult& r) {
  if (r.code == 0) return success();
  return ResultFFI{make_heap_string(r.message), r.code};
}

ResultFFI refuse(FfiError error) { return to_result_ffi(error_to_result_ffi(std::move(error))); }

ResultFFI panic_result(std::string text) {
  return to_result_ffi(FfiResult{std::move(text), code(FfiErrorKind::PanicError)});
}

namespace {

// The demangled name of the exception being handled.
std::string current_exception_type_name() {
  const std::type_info* t = abi::__cxa_current_exception_type();
  if (t == nullptr) return "unknown";
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(t->name(), nullptr, nullptr, &status),
                                                        &std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(t->name());
}

}  // namespace

std::string panic_payload_to_string(const std::exception_ptr& payload) {
  try {
    std::rethrow_exception(payload);
  } catch (const velto::Panic& p) {
    return p.message();
  } catch (const velto::Error& e) {
    return e.display();
  } catch (const BoxedError& e) {
    if (e) return e->display();
    return current_exception_type_name() + ", error: Any { .. }";
  } catch (const char* s) {
    return s != nullptr ? std::string(s) : std::string();
  } catch (const std::string& s) {
    return s;
  } catch (...) {
    return current_exception_type_name() + ", error: Any { .. }";
  }
}

std::expected<std::string_view, FfiArgError> borrow_text(ConstStr s) {
  return executor::text_arg(reinterpret_cast<const char*>(s.ptr), static_cast<std::size_t>(s.len));
}

std::expected<std::string, FfiError> text_arg(ConstStr s, FfiErrorKind kind) {
  auto text = borrow_text(s);
  if (!text) return std::unexpected(FfiError(kind, std::move(text.error())));
  return std::string(*text);
}

std::expected<std::vector<std::uint32_t>, FfiError> u32_array_arg(const std::uint32_t* ptr, std::uint64_t count,
                                                                 FfiErrorKind kind, std::size_t max) {
  if (count == 0) return std::vector<std::uint32_t>{};
  if (ptr == nullptr) {
    return std::unexpected(FfiError(kind, NullPointerNonNullLength(static_cast<std::size_t>(count))));
  }
  if (count > max) return std::unexpected(FfiError(kind, ArrayTooLong(count, max)));
  return std::vector<std::uint32_t>(ptr, ptr + count);
}

std::expected<std::span<const ConstStr>, FfiError> text_array_arg(const ConstStr* ptr, std::uint64_t count,
                                                                 FfiErrorKind kind, std::size_t max) {
  if (count == 0) return std::span<const ConstStr>{};
  if (ptr == nullptr) {
    return std::unexpected(FfiError(kind, NullPointerNonNullLength(static_cast<std::size_t>(count))));
  }
  if (count > max) return std::unexpected(FfiError(kind, ArrayTooLong(count, max)));
  return std::span<const ConstStr>(ptr, static_cast<std::size_t>(count));
}

std::expected<std::span<const ConstStr>, FfiError> optional_text_array_arg(const ConstStr* ptr, std::uint64_t count,
                                                                          FfiErrorKind kind, std::size_t max) {
  if (ptr == nullptr) return std::span<const ConstStr>{};
  return text_array_arg(ptr, count, kind, max);
}

ResultFFI store_outputs(std::span<HeapString* const> outs, std::span<OwnedHeapString> values) {
  if (outs.size() != values.size()) panic("store_outputs: one output per out-pointer. Bug!");
  for (HeapString* out : outs) {
    // The values are released by their owners when this returns.
    if (out == nullptr) return refuse(FfiError(FfiErrorKind::NullPointer));
  }
  for (std::size_t i = 0; i < outs.size(); ++i) *outs[i] = values[i].release();
  return success();
}

ResultFFI store_output(HeapString* out, OwnedHeapString value) {
  std::array<OwnedHeapString, 1> values{std::move(value)};
  const std::array<HeapString*, 1> outs{out};
  return store_outputs(outs, values);
}

ResultFFI store_output(HeapString* out, std::string_view text) {
  return store_output(out, OwnedHeapString(make_heap_string(text)));
}

OwnedHeapString secret_text(std::string&& text) {
  OwnedHeapString out(make_heap_string(text));
  crypto::secure_wipe(text.data(), text.size());
  text.clear();
  return out;
}

OwnedHeapString secret_hex(const crypto::SecretArray<32>& bytes) {
  OwnedHeapString out(alloc_heap_string(64));
  const auto digit = [](unsigned v) {
    // v < 10 ? '0' + v : 'a' + v - 10, without a branch.
    const unsigned letter = static_cast<unsigned>(9 - static_cast<int>(v)) >> 31;  // 1 when v > 9
    return static_cast<std::uint8_t>('0' + v + (letter * ('a' - '0' - 10)));
  };
  for (std::size_t i = 0; i < 32; ++i) {
    out.data()[2 * i] = digit(bytes.data()[i] >> 4);
    out.data()[2 * i + 1] = digit(bytes.data()[i] & 0x0f);
  }
  return out;
}

namespace detail {

ResultFFI null_callback() { return refuse(FfiError(FfiErrorKind::NullPointer)); }

}  // namespace detail

}  // namespace velto::executor::ffi

namespace velto::executor {

namespace {

using Kind = InvalidUri::Kind;

using server_tools::uri::is_hex_digit;
using server_tools::uri::is_sub_delim;
using server_tools::uri::is_unreserved;

// A character that may appear somewhere in an authority.
bool is_authority_char(unsigned char c) noexcept {
  return is_unreserved(c) || is_sub_delim(c) || c == ':' || c == '@' || c == '[' || c == ']' || c == '%';
}

// Every "%" starts a complete %XX escape.
bool escapes_complete(std::string_view s) noexcept {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    if (i + 2 >= s.size() || !is_hex_digit(static_cast<unsigned char>(s[i + 1])) ||
        !is_hex_digit(static_cast<unsigned char>(s[i + 2])))
      return false;
    i += 2;
  }
  return true;
}

std::expected<void, Kind> check_authority(std::string_view a) noexcept {
  if (a.empty()) return std::unexpected(Kind::Empty);
  for (const char ch : a) {
    if (!is_authority_char(static_cast<unsigned char>(ch))) return std::unexpected(Kind::InvalidUriChar);
  }
  const auto at = a.find('@');
  if (at != std::string_view::npos) {
    if (a.find('@', at + 1) != std::string_view::npos) return std::unexpected(Kind::InvalidAuthority);
    const std::string_view user = a.substr(0, at);
    if (user.find_first_of("[]") != std::string_view::npos || !escapes_complete(user))
      return std::unexpected(Kind::InvalidAuthority);
    a = a.substr(at + 1);
  }
  if (a.empty()) return std::unexpected(Kind::InvalidAuthority);
  std::string_view port;
  if (a.front() == '[') {
    const auto close = a.find(']');
    if (close == std::string_view::npos || close == 1) return std::unexpected(Kind::InvalidAuthority);
    for (const char ch : a.substr(1, close - 1)) {
      const auto c = static_cast<unsigned char>(ch);
      if (!is_hex_digit(c) && c != ':' && c != '.') return std::unexpected(Kind::InvalidAuthority);
    }
    const std::string_view rest = a.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::unexpected(Kind::InvalidAuthority);
      port = rest.substr(1);
    }
  } else {
    const auto colon = a.find(':');
    const std::string_view host = a.substr(0, colon);
    if (colon != std::string_view::npos) port = a.substr(colon + 1);
    if (host.empty() || host.find_first_of("[]") != std::string_view::npos || !escapes_complete(host))
      return std::unexpected(Kind::InvalidAuthority);
  }
  // The port is not tested beyond its shape: no second ":" and no bracket.
  if (port.find_first_of(":[]@%") != std::string_view::npos) return std::unexpected(Kind::InvalidAuthority);
  return {};
}

}  // namespace

std::expected<std::string, InvalidHostAddressError> parse_host_authority(std::string_view text) {
  if (auto ok = check_authority(text); !ok) return std::unexpected(InvalidHostAddressError(InvalidUri(ok.error())));
  return std::string(text);
}

}  // namespace velto::executor

extern "C" void velto_dealloc_heap_string(uint8_t* ptr, uint64_t len) {
  velto::executor::ffi::release_heap_string(HeapString{ptr, len});
}
