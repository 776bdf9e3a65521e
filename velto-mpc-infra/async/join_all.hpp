// Joins of many branches that stop at the first failure.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstddef>
#include <exception>
#include <expected>
#include <optional>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/timeout.hpp"

namespace velto::async {

namespace detail {

// Cancels the remaining branches once one has failed or thrown.
struct StopAtFirstFailure {
  template <class R>
  boost::asio::cancellation_type_t operator()(const std::exception_ptr& thrown, const R& result) const noexcept {
    return thrown || !result ? boost::asio::cancellation_type::terminal : boost::asio::cancellation_type::none;
  }
};

// Runs `branch` and keeps its value in `slot`.
template <class T, class E>
boost::asio::awaitable<std::expected<void, E>> fill_slot(boost::asio::awaitable<std::expected<T, E>> branch,
                                                         std::optional<T>& slot) {
  auto r = co_await std::move(branch);
  if (!r) co_return std::unexpected(std::move(r.error()));
  slot.emplace(std::move(*r));
  co_return std::expected<void, E>();
}

}  // namespace detail

// Runs every branch side by side on the calling coroutine's strand until all
// have succeeded or one has failed. The first failure (in completion order)
// cancels the others, which end at their current wait and release what they
// hold (executors deregister their tags); that failure is returned. A thrown
// exception other than a branch's cancellation (a panic) is rethrown once all
// have ended.
template <class E>
boost::asio::awaitable<std::expected<void, E>> join_until_first_failure(
    std::vector<boost::asio::awaitable<std::expected<void, E>>> branches) {
  namespace asio = boost::asio;
  if (branches.empty()) co_return std::expected<void, E>();
  auto ex = co_await asio::this_coro::executor;
  using Op = decltype(asio::co_spawn(ex, std::declval<asio::awaitable<std::expected<void, E>>>(), asio::deferred));
  std::vector<Op> ops;
  ops.reserve(branches.size());
  for (auto& b : branches) ops.push_back(asio::co_spawn(ex, std::move(b), asio::deferred));
  auto [order, thrown, results] = co_await asio::experimental::make_parallel_group(std::move(ops))
                                      .async_wait(detail::StopAtFirstFailure{}, asio::use_awaitable);
  std::exception_ptr aborted;
  for (const std::size_t i : order) {
    if (thrown[i]) {
      if (!detail::is_operation_aborted(thrown[i])) std::rethrow_exception(thrown[i]);
      if (!aborted) aborted = thrown[i];
      continue;
    }
    if (!results[i]) co_return std::unexpected(std::move(results[i].error()));
  }
  // Every branch was cancelled from outside: pass the cancellation on.
  if (aborted) std::rethrow_exception(aborted);
  co_return std::expected<void, E>();
}

// The same over branches with results: on success the results in the order
// of `branches`, whatever order they finished in.
template <class T, class E>
boost::asio::awaitable<std::expected<std::vector<T>, E>> try_join_all(
    std::vector<boost::asio::awaitable<std::expected<T, E>>> branches) {
  std::vector<std::optional<T>> slots(branches.size());
  std::vector<boost::asio::awaitable<std::expected<void, E>>> wrapped;
  wrapped.reserve(branches.size());
  for (std::size_t i = 0; i < branches.size(); ++i) {
    wrapped.push_back(detail::fill_slot<T, E>(std::move(branches[i]), slots[i]));
  }
  auto joined = co_await join_until_first_failure<E>(std::move(wrapped));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  std::vector<T> out;
  out.reserve(slots.size());
  for (auto& s : slots) out.push_back(std::move(*s));
  co_return out;
}

}  // namespace velto::async
