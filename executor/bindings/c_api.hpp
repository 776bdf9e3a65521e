// The C++ side of the function interface (executor/bindings/velto.h): how a
// `velto_*` function converts its arguments, reports a refusal, hands out
// texts, guards against panics and starts its operation task.
//
// The shape of every function:
//
//   extern "C" ResultFFI velto_xxx(ConstStr a, ..., SingleCallback cb, void* ctx) {
//     return ffi::guarded([&]() -> ResultFFI {
//       auto x = ffi::decode_arg(a, FfiErrorKind::InvalidHostUrl, parse_host_authority);
//       if (!x) return ffi::refuse(std::move(x.error()));
//       ...                                  // every argument, in the fixed order
//       auto body = [x = std::move(*x)]() -> boost::asio::awaitable<ffi::OperationResult<std::string>> {
//         ...                                // the operation, on the library runtime
//       };
//       return ffi::spawn_operation(cb, ctx, std::move(body));
//     });
//   }
//
// Operation bodies: any callable taking no argument and returning
// boost::asio::awaitable<std::expected<Output, ExecutorFailure>>, where Output
// is std::string (single-output callback) or std::pair<std::string,
// std::string> (double-output callback). The body object is moved into the
// task and lives until the task ends, so a coroutine lambda may keep its
// inputs in its captures. spawn_operation refuses a null callback with -253,
// makes sure the library runtime exists, starts the task detached on a strand
// of its own and returns success. The task then calls the callback exactly
// once:
//   - success: the output text(s) (lent for the call only, wiped after it)
//     and {null, 0, 0};
//   - failure: {null, 0} for every output and code -8 whose context is the
//     ExecutorFailure (through error_to_result_ffi, which logs one line);
//   - panic (velto::Panic or any other exception escaping the body): {null, 0}
//     for every output and {panic text, -254}, nothing logged.
// The callback may run, and even finish, before the starting function returns.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <expected>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/bindings/velto.h"
#include "executor/error.hpp"
#include "executor/runtime.hpp"
#include "velto-mpc-infra/async/runtime.hpp"

namespace velto::executor::ffi {

// ---------------------------------------------------------------------------
// Texts handed to the receiver.

// A library-allocated text of exactly text.size() bytes ({null, 0} for the
// empty text). Running out of memory aborts.
HeapString make_heap_string(std::string_view text);
// Allocates n bytes for the caller to fill (a secret written in place).
HeapString alloc_heap_string(std::size_t n);
// Wipes and frees; {null, 0} and length 0 do nothing.
void release_heap_string(HeapString s) noexcept;

// Owns a HeapString until it is handed over with release().
class OwnedHeapString {
 public:
  OwnedHeapString() noexcept = default;
  explicit OwnedHeapString(HeapString s) noexcept : s_(s) {}
  OwnedHeapString(OwnedHeapString&& o) noexcept : s_(std::exchange(o.s_, HeapString{nullptr, 0})) {}
  OwnedHeapString& operator=(OwnedHeapString&& o) noexcept {
    if (this != &o) {
      release_heap_string(s_);
      s_ = std::exchange(o.s_, HeapString{nullptr, 0});
    }
    return *this;
  }
  ~OwnedHeapString() { release_heap_string(s_); }

  const HeapString& get() const noexcept { return s_; }
  std::uint8_t* data() noexcept { return s_.ptr; }
  HeapString release() noexcept { return std::exchange(s_, HeapString{nullptr, 0}); }

 private:
  HeapString s_{nullptr, 0};
};

// ---------------------------------------------------------------------------
// Result records.

inline ResultFFI success() noexcept { return ResultFFI{HeapString{nullptr, 0}, 0}; }
// The C record of a result value (the message copied into a HeapString).
ResultFFI to_result_ffi(const FfiResult& r);
// A refused call: error_to_result_ffi (one log line) into the C record.
ResultFFI refuse(FfiError error);
// The -254 record of a caught panic; nothing is logged.
ResultFFI panic_result(std::string text);

// ---------------------------------------------------------------------------
// Panics.

// The text of a caught panic: a velto::Panic's message; a thrown error
// value's display text (velto::Error or a BoxedError); a thrown C string or
// std::string as it is; anything else as the exception's type name followed
// by ", error: Any { .. }".
std::string panic_payload_to_string(const std::exception_ptr& payload);

// Runs a function body; anything escaping it becomes {panic text, -254}.
template <class F>
  requires std::is_invocable_r_v<ResultFFI, F>
ResultFFI guarded(F&& body) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    try {
      return panic_result(panic_payload_to_string(std::current_exception()));
    } catch (...) {
      std::terminate();  // out of memory while reporting
    }
  }
}

// ---------------------------------------------------------------------------
// Arguments.

// Steps 1 to 3 of a text argument: length 0 is the empty text whatever the
// pointer; a null pointer with a length above 0 is NullPointerNonNullLength;
// bytes that are not UTF-8 are UTF8. The text is borrowed for the call.
std::expected<std::string_view, FfiArgError> borrow_text(ConstStr s);

// Steps 1 to 3 refused under `kind`; the text copied.
std::expected<std::string, FfiError> text_arg(ConstStr s, FfiErrorKind kind);

// Steps 1 to 4: the text run through `decoder`, a callable taking a
// std::string_view and returning std::expected<T, E> with E a velto::Error.
// A decoder failure is refused as Decode(E) under `kind`.
template <class Decoder>
auto decode_arg(ConstStr s, FfiErrorKind kind, Decoder&& decoder)
    -> std::expected<typename std::invoke_result_t<Decoder, std::string_view>::value_type, FfiError> {
  auto text = borrow_text(s);
  if (!text) return std::unexpected(FfiError(kind, std::move(text.error())));
  auto decoded = std::forward<Decoder>(decoder)(*text);
  if (!decoded) return std::unexpected(FfiError(kind, FfiArgError::decode(std::move(decoded.error()))));
  return std::move(*decoded);
}

// An array of unsigned 32-bit integers, copied. Count 0 is the empty array
// whatever the pointer; a null pointer with a count above 0 is refused under
// `kind` with the context NullPointerNonNullLength(count); a count above
// `max` with ArrayTooLong(count, max), before the array is touched.
std::expected<std::vector<std::uint32_t>, FfiError> u32_array_arg(const std::uint32_t* ptr, std::uint64_t count,
                                                                 FfiErrorKind kind, std::size_t max);

// An array of texts as given: count 0 is empty; a null pointer with a count
// above 0 is refused under `kind` with NullPointerNonNullLength(count), a
// count above `max` with ArrayTooLong(count, max).
std::expected<std::span<const ConstStr>, FfiError> text_array_arg(const ConstStr* ptr, std::uint64_t count,
                                                                 FfiErrorKind kind, std::size_t max);
// An optional array of texts: a null pointer is the empty array, whatever
// the count; otherwise a count above `max` is refused as above.
std::expected<std::span<const ConstStr>, FfiError> optional_text_array_arg(const ConstStr* ptr, std::uint64_t count,
                                                                          FfiErrorKind kind, std::size_t max);

// ---------------------------------------------------------------------------
// Out-pointers.

// Hands the outputs over: every out-pointer is checked first; if any is null
// nothing is stored, every output is released and the call is refused with
// -253 (through error_to_result_ffi). Otherwise each output is stored through
// its pointer and the result is success. `outs` and `values` pair up by index.
ResultFFI store_outputs(std::span<HeapString* const> outs, std::span<OwnedHeapString> values);
// store_outputs of one text: a receiver-owned one, or a copy of `text`.
ResultFFI store_output(HeapString* out, OwnedHeapString value);
ResultFFI store_output(HeapString* out, std::string_view text);
// A text holding a secret moved into a new receiver-owned text; the source
// is wiped.
OwnedHeapString secret_text(std::string&& text);
// 64 lower-case hex digits of 32 secret bytes, written without branching on
// their digits into a new receiver-owned text.
OwnedHeapString secret_hex(const crypto::SecretArray<32>& bytes);

// ---------------------------------------------------------------------------
// Operation tasks.

template <class Output>
using OperationResult = std::expected<Output, ExecutorFailure>;

using DoubleOutput = std::pair<std::string, std::string>;

namespace detail {

template <class A>
struct AwaitableValue;
template <class T>
struct AwaitableValue<boost::asio::awaitable<T>> {
  using type = T;
};

template <class Body>
using BodyResult = typename AwaitableValue<std::invoke_result_t<Body&>>::type;

inline ConstStr lend(const std::string& s) noexcept {
  if (s.empty()) return ConstStr{nullptr, 0};
  return ConstStr{reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Runs the body and reduces its outcome to the output or a result record.
template <class Output, class Body>
boost::asio::awaitable<std::expected<Output, FfiResult>> run_body(Body& body) {
  std::optional<std::expected<Output, FfiResult>> out;
  try {
    OperationResult<Output> r = co_await body();
    if (r) {
      out.emplace(std::move(*r));
    } else {
      FfiError error(FfiErrorKind::ExecutorError, box_error<ExecutorFailure>(std::move(r.error())));
      out.emplace(std::unexpected(error_to_result_ffi(std::move(error))));
    }
  } catch (...) {
    out.emplace(std::unexpected(
        FfiResult{panic_payload_to_string(std::current_exception()), code(FfiErrorKind::PanicError)}));
  }
  co_return std::move(*out);
}

// Output texts may hold secrets (share texts, private keys): wiped once the
// callback has returned.
inline void wipe_output(std::string& text) noexcept {
  if (!text.empty()) crypto::secure_wipe(text.data(), text.size());
}

template <class Body>
boost::asio::awaitable<void> single_task(Body body, SingleCallback cb, void* ctx) {
  auto outcome = co_await run_body<std::string>(body);
  if (outcome) {
    cb(ctx, lend(*outcome), success());
    wipe_output(*outcome);
  } else {
    cb(ctx, ConstStr{nullptr, 0}, to_result_ffi(outcome.error()));
  }
}

template <class Body>
boost::asio::awaitable<void> double_task(Body body, DoubleCallback cb, void* ctx) {
  auto outcome = co_await run_body<DoubleOutput>(body);
  if (outcome) {
    cb(ctx, lend(outcome->first), lend(outcome->second), success());
    wipe_output(outcome->first);
    wipe_output(outcome->second);
  } else {
    cb(ctx, ConstStr{nullptr, 0}, ConstStr{nullptr, 0}, to_result_ffi(outcome.error()));
  }
}

// -253 for a null callback, checked before anything is started.
ResultFFI null_callback();

}  // namespace detail

template <class Body>
concept SingleOutputBody = std::same_as<detail::BodyResult<Body>, OperationResult<std::string>>;
template <class Body>
concept DoubleOutputBody = std::same_as<detail::BodyResult<Body>, OperationResult<DoubleOutput>>;

// Starts `body` as a detached operation task reporting through `cb`.
template <SingleOutputBody Body>
ResultFFI spawn_operation(SingleCallback cb, void* ctx, Body body) {
  if (cb == nullptr) return detail::null_callback();
  async::Runtime& rt = library_runtime();
  (void)async::spawn_task(rt.executor(), detail::single_task<Body>(std::move(body), cb, ctx));
  return success();
}

template <DoubleOutputBody Body>
ResultFFI spawn_operation(DoubleCallback cb, void* ctx, Body body) {
  if (cb == nullptr) return detail::null_callback();
  async::Runtime& rt = library_runtime();
  (void)async::spawn_task(rt.executor(), detail::double_task<Body>(std::move(body), cb, ctx));
  return success();
}

}  // namespace velto::executor::ffi

namespace velto::executor {

// The host check of the relay's authority text (host and optional port, no
// scheme): optional user information ending in "@", then a host name, an
// IPv4 address or a bracketed IPv6 address, then optionally ":" and a port
// (its digits and range are not tested here). Empty: Empty; a character an
// authority cannot hold (including "/", "?", "#"): InvalidUriChar; any other
// wrong shape (a second ":" outside brackets, an unbalanced bracket, an empty
// host, a second "@", a broken %XX escape): InvalidAuthority. The accepted
// text is returned unchanged.
std::expected<std::string, InvalidHostAddressError> parse_host_authority(std::string_view text);

}  // namespace velto::executor
