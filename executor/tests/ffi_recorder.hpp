// Test support for driving the function interface as a C caller does: result
// records taken apart (and their messages given back), and completion
// callbacks recorded from whatever thread calls them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"

namespace velto::executor::testing {

// A result record as values; its message is given back to the library.
struct Result {
  std::int32_t code = 0;
  std::string message;
  bool message_null = true;  // the record carried {null, 0}
};

inline Result take(ResultFFI r) {
  Result out;
  out.code = r.code;
  out.message_null = r.message.ptr == nullptr && r.message.len == 0;
  if (r.message.ptr != nullptr) out.message.assign(reinterpret_cast<const char*>(r.message.ptr), r.message.len);
  velto_dealloc_heap_string(r.message.ptr, r.message.len);
  return out;
}

// Borrows the text; the string must outlive the call.
inline ConstStr cstr(const std::string& s) { return ConstStr{reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }
ConstStr cstr(std::string&&) = delete;
inline ConstStr cstr(const char* literal) {
  return ConstStr{reinterpret_cast<const uint8_t*>(literal), std::char_traits<char>::length(literal)};
}

// One completion: the outputs (nullopt for {null, 0}) and the result.
struct Completion {
  std::optional<std::string> first;
  std::optional<std::string> second;
  Result result;
};

// Pass as context with single_cb or double_cb.
class CallbackRecorder {
 public:
  static void single_cb(void* ctx, ConstStr out, ResultFFI r) {
    static_cast<CallbackRecorder*>(ctx)->record(Completion{text(out), std::nullopt, take(r)});
  }
  static void double_cb(void* ctx, ConstStr a, ConstStr b, ResultFFI r) {
    static_cast<CallbackRecorder*>(ctx)->record(Completion{text(a), text(b), take(r)});
  }

  // Waits until at least n completions arrived (a generous guard against a
  // hang; no timing is judged) and returns all of them.
  std::vector<Completion> wait_for(std::size_t n) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(120), [&] { return calls_.size() >= n; });
    return calls_;
  }
  std::vector<Completion> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  static std::optional<std::string> text(ConstStr s) {
    if (s.ptr == nullptr) {
      if (s.len != 0) return std::string("<null pointer with non-zero length>");
      return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(s.ptr), s.len);
  }
  void record(Completion c) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(c));
    }
    cv_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Completion> calls_;
};

// The message prefix of a failed operation (code -8).
inline const std::string kExecutorError = "Error Kind: Error in MPC Executor, Context: ";

// A keygen identity from velto_init_keygen: the keygen id (Base58) and the
// keygen secret (64 hex digits); both empty if the call failed.
struct Identity {
  std::string id;
  std::string secret;
};

inline Identity new_identity() {
  HeapString id{nullptr, 0};
  HeapString secret{nullptr, 0};
  Identity out;
  if (take(velto_init_keygen(&id, &secret)).code != 0) return out;
  out.id.assign(reinterpret_cast<const char*>(id.ptr), id.len);
  out.secret.assign(reinterpret_cast<const char*>(secret.ptr), secret.len);
  velto_dealloc_heap_string(id.ptr, id.len);
  velto_dealloc_heap_string(secret.ptr, secret.len);
  return out;
}

}  // namespace velto::executor::testing
