// The library runtime: one process-wide task runtime on which every
// asynchronous function of the function interface runs its operation task.
//
// The cell starts empty when the library is loaded. The first asynchronous
// call builds the runtime on its own thread while any other thread arriving at
// the same moment waits; from then on the runtime is never replaced, shut down
// or destroyed (tasks still running at process exit are abandoned). A failed
// build panics with "called `Result::unwrap()` on an `Err` value: {error}" and
// leaves the cell empty, so the next call tries again. Synchronous functions
// never touch it.
#pragma once

#include <atomic>
#include <cstddef>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "velto-mpc-infra/async/runtime.hpp"

namespace velto::executor {

// A once-filled cell holding a runtime. The library has one (library_runtime);
// tests make their own to watch the build logic.
class RuntimeCell {
 public:
  // Builds a runtime or says why it could not.
  using Builder = std::function<std::expected<std::unique_ptr<async::Runtime>, std::string>()>;

  explicit RuntimeCell(Builder builder) : builder_(std::move(builder)) {}
  RuntimeCell(const RuntimeCell&) = delete;
  RuntimeCell& operator=(const RuntimeCell&) = delete;
  // Deliberately leaves the runtime alive: a filled cell is final. The
  // library's own cell is never destroyed; a test cell leaks its runtime.
  ~RuntimeCell() = default;

  // The runtime, built first if the cell is empty. The filled cell is read
  // without a lock; building happens under the cell's lock.
  async::Runtime& get_or_build();
  // The runtime if the cell is filled, else null.
  async::Runtime* get() const noexcept { return cell_.load(std::memory_order_acquire); }
  // How many builds succeeded (0 or 1) and how many were tried.
  std::size_t builds() const noexcept { return builds_.load(std::memory_order_relaxed); }
  std::size_t attempts() const noexcept { return attempts_.load(std::memory_order_relaxed); }

 private:
  Builder builder_;
  std::mutex build_mutex_;
  std::atomic<async::Runtime*> cell_{nullptr};
  std::atomic<std::size_t> builds_{0};
  std::atomic<std::size_t> attempts_{0};
};

// The library's runtime: an io_context run by the default number of worker
// threads (one per hardware thread).
std::expected<std::unique_ptr<async::Runtime>, std::string> build_library_runtime();

// The process-wide cell (empty until the first asynchronous call).
RuntimeCell& library_runtime_cell();

// Ensures the library runtime exists and returns it (may panic, see above).
inline async::Runtime& library_runtime() { return library_runtime_cell().get_or_build(); }

}  // namespace velto::executor
