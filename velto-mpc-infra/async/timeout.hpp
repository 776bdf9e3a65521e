// Running an awaitable under a time limit.
//
// Like every helper in async/, `timeout` expects the calling coroutine to run
// on a strand (every task of the runtime does, see runtime.hpp): the awaited
// operation and the timer run side by side on that strand.
#pragma once

#include <chrono>
#include <exception>
#include <expected>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "velto-mpc-infra/async/duration.hpp"

namespace velto::async {

// The awaited operation did not finish within `waited`.
// Display: "The operation has timed out, waited for 100ms"; debug: TimedOut(100ms).
class TimeoutError final : public Error {
 public:
  explicit TimeoutError(Duration waited) noexcept : waited_(waited) {}
  Duration waited() const noexcept { return waited_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  Duration waited_;
};

namespace detail {

// co_spawn needs a default-constructible result; an optional is one.
template <class T>
boost::asio::awaitable<std::optional<T>> optional_result(boost::asio::awaitable<T> op) {
  co_return std::optional<T>(co_await std::move(op));
}

inline boost::asio::awaitable<std::optional<std::monostate>> optional_result(
    boost::asio::awaitable<void> op) {
  co_await std::move(op);
  co_return std::monostate{};
}

inline bool is_operation_aborted(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const boost::system::system_error& se) {
    return se.code() == boost::asio::error::operation_aborted;
  } catch (...) {
    return false;
  }
}

// The outcome of `op` raced against a deadline: its value when it finished;
// TimeoutError(limit) when the deadline passed and `op` ended by the
// cancellation that caused; any other exception of `op` rethrown.
template <class T, class Value>
std::expected<T, TimeoutError> race_outcome(const std::exception_ptr& failure, Value& value, bool deadline_passed,
                                            Duration limit) {
  if (!failure) {
    if constexpr (std::is_void_v<T>) {
      return {};
    } else {
      return std::move(*value);
    }
  }
  if (deadline_passed && is_operation_aborted(failure)) return std::unexpected(TimeoutError(limit));
  std::rethrow_exception(failure);
}

}  // namespace detail

// Awaits `op`, giving up once `d` has passed since the call: the deadline is
// armed when `timeout` starts, `op` is started at the same moment, and if `op`
// has produced its value by the time the deadline is seen the value wins (so
// an operation that completes at once succeeds even with a zero duration). On
// time-out `op` is cancelled (terminal cancellation) and released. Exceptions
// of `op` other than its cancellation propagate.
template <class T>
boost::asio::awaitable<std::expected<T, TimeoutError>> timeout(Duration d,
                                                               boost::asio::awaitable<T> op) {
  namespace asio = boost::asio;
  auto ex = co_await asio::this_coro::executor;
  asio::steady_timer timer(ex);
  timer.expires_after(d);
  auto group = asio::experimental::make_parallel_group(
      asio::co_spawn(ex, detail::optional_result(std::move(op)), asio::deferred),
      timer.async_wait(asio::deferred));
  auto [order, failure, value, timer_ec] =
      co_await group.async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  (void)order;
  co_return detail::race_outcome<T>(failure, value, !timer_ec, d);
}

namespace detail {

// Sleeps until `deadline()` has passed; the deadline may move later while it
// sleeps (it is read again each time the timer fires).
template <class Deadline>
boost::asio::awaitable<void> sleep_past(Deadline deadline) {
  namespace asio = boost::asio;
  auto ex = co_await asio::this_coro::executor;
  asio::steady_timer timer(ex);
  for (;;) {
    const auto at = deadline();
    if (std::chrono::steady_clock::now() >= at) co_return;
    timer.expires_at(at);
    co_await timer.async_wait(asio::use_awaitable);
  }
}

}  // namespace detail

// As `timeout`, but against a deadline that may move later while `op` runs:
// `deadline()` (a steady_clock time point, read on the calling strand) is
// read again whenever the time it gave has come, and `op` is cancelled only
// once the deadline read then has passed. The TimeoutError carries `limit`.
template <class T, class Deadline>
boost::asio::awaitable<std::expected<T, TimeoutError>> timeout_at(Deadline deadline, Duration limit,
                                                                  boost::asio::awaitable<T> op) {
  namespace asio = boost::asio;
  auto ex = co_await asio::this_coro::executor;
  auto group = asio::experimental::make_parallel_group(
      asio::co_spawn(ex, detail::optional_result(std::move(op)), asio::deferred),
      asio::co_spawn(ex, detail::sleep_past(std::move(deadline)), asio::deferred));
  auto [order, failure, value, slept] =
      co_await group.async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  (void)order;
  co_return detail::race_outcome<T>(failure, value, !slept, limit);
}

}  // namespace velto::async
