// The task runtime of the library and its task helpers.
//
// Conventions of every asynchronous part of the library:
// - Asynchronous code is written as Boost.Asio C++20 coroutines
//   (`boost::asio::awaitable<T>`).
// - The runtime is one `io_context` run by N worker threads (default: the
//   number of hardware threads). An io_context rather than a thread_pool
//   because the library also drives sockets and timers on it and wants to
//   pick the thread count and keep it alive with a work guard.
// - Every task runs on its own strand of that context (`spawn_task` makes
//   one). Inside a task, concurrent branches (`join_both`, `timeout`) share
//   the task's strand, so they interleave but never run in parallel, and
//   cancellation is emitted on the same strand as the operations it cancels.
//   Different tasks run in parallel on the worker threads.
// - Tasks talk through the channels of channel.hpp, which work from any
//   thread.
// - A task that throws `velto::Panic` (a broken invariant) ends; awaiting its
//   join handle yields `TaskJoinError` with the panic text.
// - Compiler caveat (GCC 12): a lambda closure or an aggregate created as a
//   temporary inside a full-expression that contains `co_await` is destroyed
//   twice. Name such values first and pass them with std::move:
//       auto msg = Message{payload, sender};   // not inside the co_await
//       co_await tx.send(std::move(msg));
//   Temporaries of classes with constructors (std::pair, awaitables, ...)
//   are not affected.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <expected>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "velto-mpc-infra/async/channel.hpp"

namespace velto::async {

class Runtime {
 public:
  // `threads` worker threads; 0 means one per hardware thread.
  explicit Runtime(std::size_t threads = 0);
  // Stops the workers and joins them. Tasks still suspended are abandoned.
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  boost::asio::io_context& context() noexcept { return ctx_; }
  boost::asio::any_io_executor executor() noexcept { return ctx_.get_executor(); }
  std::size_t threads() const noexcept { return workers_.size(); }

  // The runtime whose worker runs the calling thread, or null.
  static Runtime* current() noexcept;

  // Runs `task` on a new strand and blocks the calling thread until it ends;
  // its exception, if any, is rethrown here. Never call it from a worker of
  // this runtime (it would wait on itself).
  template <class T>
  T block_on(boost::asio::awaitable<T> task) {
    if (current() == this) panic("block_on called from a worker of the same runtime");
    auto fut = boost::asio::co_spawn(boost::asio::make_strand(ctx_), std::move(task),
                                     boost::asio::use_future);
    return fut.get();
  }

 private:
  boost::asio::io_context ctx_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  std::vector<std::thread> workers_;
};

// Why awaiting a task gave no result: the task threw (a panic, or another
// exception) or it was abandoned before it finished (its runtime stopped).
// Display: "task 3 panicked with message \"...\"" or "task 3 was cancelled";
// debug: JoinError::Panic(Id(3), "...", ..) or JoinError::Cancelled(Id(3)).
class TaskJoinError final : public Error {
 public:
  enum class Kind : std::uint8_t { Panic, Cancelled };
  TaskJoinError(Kind kind, std::uint64_t id, std::string message)
      : kind_(kind), id_(id), message_(std::move(message)) {}
  Kind kind() const noexcept { return kind_; }
  std::uint64_t id() const noexcept { return id_; }
  const std::string& message() const noexcept { return message_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  Kind kind_;
  std::uint64_t id_;
  std::string message_;
};

namespace detail {

std::uint64_t next_task_id() noexcept;
std::string exception_text(const std::exception_ptr& e);

template <class T>
using TaskResult = std::expected<std::conditional_t<std::is_void_v<T>, std::monostate, T>, TaskJoinError>;

template <class T>
boost::asio::awaitable<void> run_task(boost::asio::awaitable<T> task, std::uint64_t id,
                                      OneshotSender<TaskResult<T>> done) {
  std::optional<TaskResult<T>> result;
  try {
    if constexpr (std::is_void_v<T>) {
      co_await std::move(task);
      result.emplace(std::monostate{});
    } else {
      result.emplace(co_await std::move(task));
    }
  } catch (...) {
    result.emplace(std::unexpected(
        TaskJoinError(TaskJoinError::Kind::Panic, id, exception_text(std::current_exception()))));
  }
  done.send(std::move(*result));
}

}  // namespace detail

// The handle of a spawned task. Dropping it leaves the task running.
template <class T>
class JoinHandle {
 public:
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

  JoinHandle(std::uint64_t id, OneshotReceiver<detail::TaskResult<T>> rx)
      : id_(id), rx_(std::move(rx)) {}

  std::uint64_t id() const noexcept { return id_; }

  // The task's result, or why there is none. Await it once.
  boost::asio::awaitable<std::expected<Value, TaskJoinError>> join() {
    auto r = co_await rx_.receive();
    if (!r) co_return std::unexpected(TaskJoinError(TaskJoinError::Kind::Cancelled, id_, ""));
    co_return std::move(*r);
  }

 private:
  std::uint64_t id_;
  OneshotReceiver<detail::TaskResult<T>> rx_;
};

// Starts `task` as a task of its own on a new strand of `ex`'s context.
template <class T>
JoinHandle<T> spawn_task(const boost::asio::any_io_executor& ex, boost::asio::awaitable<T> task) {
  auto [tx, rx] = oneshot<detail::TaskResult<T>>();
  const std::uint64_t id = detail::next_task_id();
  boost::asio::co_spawn(boost::asio::make_strand(ex),
                        detail::run_task<T>(std::move(task), id, std::move(tx)),
                        boost::asio::detached);
  return JoinHandle<T>(id, std::move(rx));
}

// Starts `task` on the runtime whose worker runs the calling thread. Calling
// it from any other thread is a programming error.
template <class T>
JoinHandle<T> spawn_task(boost::asio::awaitable<T> task) {
  Runtime* rt = Runtime::current();
  if (rt == nullptr) panic("spawn_task called outside a runtime worker thread");
  return spawn_task(rt->executor(), std::move(task));
}

namespace detail {

template <class T>
using Slot = std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>>;

template <class T>
boost::asio::awaitable<Slot<T>> into_slot(boost::asio::awaitable<T> op) {
  if constexpr (std::is_void_v<T>) {
    co_await std::move(op);
    co_return std::monostate{};
  } else {
    co_return Slot<T>(co_await std::move(op));
  }
}

}  // namespace detail

// Runs `a` and `b` side by side on the current strand and waits for both to
// finish: neither is cancelled when the other fails. Results come back as a
// pair (std::monostate for void); if either threw, the first exception (of
// `a`, else of `b`) is rethrown after both have ended.
template <class A, class B>
boost::asio::awaitable<std::pair<typename detail::Slot<A>::value_type,
                                 typename detail::Slot<B>::value_type>>
join_both(boost::asio::awaitable<A> a, boost::asio::awaitable<B> b) {
  namespace asio = boost::asio;
  auto ex = co_await asio::this_coro::executor;
  auto group = asio::experimental::make_parallel_group(
      asio::co_spawn(ex, detail::into_slot(std::move(a)), asio::deferred),
      asio::co_spawn(ex, detail::into_slot(std::move(b)), asio::deferred));
  auto [order, ea, ra, eb, rb] =
      co_await group.async_wait(asio::experimental::wait_for_all(), asio::use_awaitable);
  (void)order;
  if (ea) std::rethrow_exception(ea);
  if (eb) std::rethrow_exception(eb);
  co_return std::pair{std::move(*ra), std::move(*rb)};
}

}  // namespace velto::async
