// Result handling and the asynchronous call pattern of the binding.
//
// - result_from_ffi turns a ResultFFI into success or a VeltoError and always
//   releases the library's message.
// - ok_and finishes a synchronous call with one HeapString output.
// - async_ffi_single / async_ffi_double make one asynchronous library call
//   whose callback context is the sending end of a one-shot channel, and wait
//   on the receiving end without blocking a thread. A refused call frees the
//   context at once; an accepted one leaves it to the callback
//   (velto_single_cb / velto_double_cb), which copies the outputs, sends them
//   and frees the context. If the waiting operation is gone, the callback's
//   send finds the channel closed and the value is simply dropped.
//
// Internal faults (library output that breaks the interface contract) are
// velto::Panic on the operation's thread. Inside a callback nothing may be
// thrown back into the library: the fault is sent through the channel and
// raised as a panic by the waiting operation.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <expected>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "crypto/error.hpp"
#include "executor/bindings/velto.h"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc/error.hpp"

extern "C" {
void velto_single_cb(void* context, ConstStr output, ResultFFI result);
void velto_double_cb(void* context, ConstStr first, ConstStr second, ResultFFI result);
}

namespace velto::mpc {

// Success, or the error of a non-zero code (the message is released on every
// path). A message that is not UTF-8 is an internal fault (panic), raised only
// after the message has been released.
std::expected<void, VeltoError> result_from_ffi(ResultFFI result);

// A copy of an output text; null is the empty text. Not UTF-8: panic with
// `fault_text`.
std::string copy_output(const std::uint8_t* ptr, std::uint64_t len, const char* fault_text);

// Owns an output HeapString of a synchronous call and releases it.
class HeapOutput {
 public:
  HeapOutput() noexcept = default;
  ~HeapOutput();
  HeapOutput(const HeapOutput&) = delete;
  HeapOutput& operator=(const HeapOutput&) = delete;
  HeapString* out() noexcept { return &s_; }
  // The output as an owned text (null is empty); panics when not UTF-8.
  std::string text() const;

 private:
  HeapString s_{nullptr, 0};
};

// Converts the result of a synchronous call with one output: on success
// `convert(text)` gives the value. The output is released by `out` whatever
// happens.
template <class Convert>
auto ok_and(ResultFFI result, const HeapOutput& out, Convert convert)
    -> std::expected<decltype(convert(std::string())), VeltoError> {
  auto r = result_from_ffi(result);
  if (!r) return std::unexpected(std::move(r.error()));
  return convert(out.text());
}

// What a callback hands to the waiting operation.
struct CallbackFault {
  std::string text;
};
template <class Out>
using CallbackValue = std::variant<Out, VeltoError, CallbackFault>;

using DoubleOutput = std::pair<std::string, std::string>;

struct SingleContext {
  async::OneshotSender<CallbackValue<std::string>> tx;
};
struct DoubleContext {
  async::OneshotSender<CallbackValue<DoubleOutput>> tx;
};

inline constexpr const char* kLostResult = "Failed to receive FFI result: oneshot canceled";

namespace detail {

template <class Out>
std::expected<Out, VeltoError> settle(std::optional<CallbackValue<Out>> received) {
  if (!received) return std::unexpected(VeltoError::internal(kLostResult));
  if (auto* fault = std::get_if<CallbackFault>(&*received)) panic(fault->text);
  if (auto* err = std::get_if<VeltoError>(&*received)) return std::unexpected(std::move(*err));
  return std::move(std::get<Out>(*received));
}

}  // namespace detail

// `call(callback, context)` makes exactly one library call and returns its
// ResultFFI.
template <class Call>
boost::asio::awaitable<std::expected<std::string, VeltoError>> async_ffi_single(Call call) {
  auto [tx, rx] = async::oneshot<CallbackValue<std::string>>();
  auto cell = std::make_unique<SingleContext>();
  cell->tx = std::move(tx);
  const ResultFFI r = call(&velto_single_cb, static_cast<void*>(cell.get()));
  if (r.code == 0) {
    (void)cell.release();  // the library's until the callback returns
    (void)result_from_ffi(r);
  } else {
    auto refused = result_from_ffi(r);
    co_return std::unexpected(std::move(refused.error()));
  }
  auto received = co_await rx.receive();
  co_return detail::settle<std::string>(std::move(received));
}

template <class Call>
boost::asio::awaitable<std::expected<DoubleOutput, VeltoError>> async_ffi_double(Call call) {
  auto [tx, rx] = async::oneshot<CallbackValue<DoubleOutput>>();
  auto cell = std::make_unique<DoubleContext>();
  cell->tx = std::move(tx);
  const ResultFFI r = call(&velto_double_cb, static_cast<void*>(cell.get()));
  if (r.code == 0) {
    (void)cell.release();
    (void)result_from_ffi(r);
  } else {
    auto refused = result_from_ffi(r);
    co_return std::unexpected(std::move(refused.error()));
  }
  auto received = co_await rx.receive();
  co_return detail::settle<DoubleOutput>(std::move(received));
}

}  // namespace velto::mpc
