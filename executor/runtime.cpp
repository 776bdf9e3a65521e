#include "executor/runtime.hpp"

#include <exception>
#include <new>

#include "crypto/error.hpp"

namespace velto::executor {

async::Runtime& RuntimeCell::get_or_build() {
  if (async::Runtime* rt = cell_.load(std::memory_order_acquire)) return *rt;
  const std::lock_guard lock(build_mutex_);
  if (async::Runtime* rt = cell_.load(std::memory_order_acquire)) return *rt;
  attempts_.fetch_add(1, std::memory_order_relaxed);
  auto built = builder_();
  if (!built) panic("called `Result::unwrap()` on an `Err` value: " + built.error());
  if (!*built) panic("called `Result::unwrap()` on an `Err` value: no runtime was built");
  async::Runtime* rt = built->release();
  cell_.store(rt, std::memory_order_release);
  builds_.fetch_add(1, std::memory_order_relaxed);
  return *rt;
}

std::expected<std::unique_ptr<async::Runtime>, std::string> build_library_runtime() {
  try {
    return std::make_unique<async::Runtime>();
  } catch (const std::exception& e) {
    return std::unexpected(std::string(e.what()));
  }
}

RuntimeCell& library_runtime_cell() {
  // Never destroyed: worker threads may still run tasks while the process
  // exits.
  static RuntimeCell* const cell = new RuntimeCell(&build_library_runtime);
  return *cell;
}

}  // namespace velto::executor
