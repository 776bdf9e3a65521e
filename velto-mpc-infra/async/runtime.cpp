#include "velto-mpc-infra/async/runtime.hpp"

#include <cstdio>
#include <typeinfo>

namespace velto::async {

namespace {
thread_local Runtime* tls_current = nullptr;
std::atomic<std::uint64_t> task_counter{1};
}  // namespace

Runtime::Runtime(std::size_t threads)
    : ctx_(static_cast<int>(threads == 0 ? std::max(1u, std::thread::hardware_concurrency())
                                         : threads)),
      guard_(ctx_.get_executor()) {
  const std::size_t n = threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : threads;
  workers_.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    workers_.emplace_back([this] {
      tls_current = this;
      for (;;) {
        try {
          ctx_.run();
          break;
        } catch (const Panic& p) {
          // Only a detached coroutine of our own can get here; tasks catch
          // their exceptions. Keep the worker alive.
          std::fprintf(stderr, "velto runtime: unhandled panic: %s\n", p.message().c_str());
        } catch (...) {
          std::fprintf(stderr, "velto runtime: unhandled exception in a handler\n");
        }
      }
      tls_current = nullptr;
    });
  }
}

Runtime::~Runtime() {
  guard_.reset();
  ctx_.stop();
  for (auto& t : workers_) t.join();
}

Runtime* Runtime::current() noexcept { return tls_current; }

std::string TaskJoinError::display() const {
  const std::string task = "task " + std::to_string(id_);
  if (kind_ == Kind::Cancelled) return task + " was cancelled";
  return task + " panicked with message " + debug_string(message_);
}

std::string TaskJoinError::debug() const {
  const std::string id = "Id(" + std::to_string(id_) + ")";
  if (kind_ == Kind::Cancelled) return "JoinError::Cancelled(" + id + ")";
  return "JoinError::Panic(" + id + ", " + debug_string(message_) + ", ..)";
}

namespace detail {

std::uint64_t next_task_id() noexcept { return task_counter.fetch_add(1, std::memory_order_relaxed); }

std::string exception_text(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Panic& p) {
    return p.message();
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace detail

}  // namespace velto::async
