// Test support for the argument checks of the function interface: many
// calls as one table, each expected to be refused with its code and message
// and never to call back; the fixed arguments and message prefixes those
// tables share; and the small helpers of tests that drive operations.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"

namespace velto::executor::testing {

inline std::vector<ConstStr> cstrs(const std::vector<std::string>& texts) {
  std::vector<ConstStr> out;
  for (const auto& t : texts) out.push_back(cstr(t));
  return out;
}

// The text a local function of one text argument writes through its
// out-pointer; the call must succeed.
inline std::string local_text(ResultFFI (*fn)(ConstStr, HeapString*), const std::string& arg) {
  HeapString out{nullptr, 0};
  const auto r = take(fn(cstr(arg), &out));
  EXPECT_EQ(r.code, 0) << r.message;
  std::string text(reinterpret_cast<const char*>(out.ptr), out.len);
  velto_dealloc_heap_string(out.ptr, out.len);
  return text;
}

// One accepted call's completion (the call itself must return success).
inline Completion wait_one(CallbackRecorder& rec) {
  const auto calls = rec.wait_for(1);
  if (calls.empty()) {
    ADD_FAILURE() << "no callback";
    return {};
  }
  EXPECT_EQ(calls.size(), 1u) << "more than one callback";
  return calls[0];
}

// A refused call returns its code and message and never calls back.
struct Refusal {
  const char* name;
  std::function<ResultFFI(void* ctx)> call;
  std::int32_t code;
  std::string message;
};

inline void expect_refusals(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    CallbackRecorder rec;
    const auto r = take(c.call(&rec));
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.message, c.message);
    EXPECT_TRUE(rec.calls().empty());
  }
}

namespace refusal_texts {
inline const std::string kHost = "127.0.0.1:1";
inline const std::string kRoom = "0123456789abcdef0123456789ABCDEF";
inline const std::string kHostErr = "Error Kind: Invalid host URL, Context: Invalid host address: ";
inline const std::string kRoomErr = "Error Kind: Invalid UUID, Context: ";
inline const std::string kCountErr = "Error Kind: Invalid number of parties, Context: invalid number of parties: ";
inline const std::string kKeypairErr = "Error Kind: Invalid keypair from initKeygen, Context: ";
inline const std::string kKeygenIdErr = "Error Kind: Invalid keygenId, Context: ";
inline const std::string kMessageErr = "Error Kind: Invalid message, Context: ";
inline const std::string kShareErr = "Error Kind: Invalid secret Share, Context: ";
inline const std::string kPathErr =
    "Error Kind: Invalid derivation path: elements must be between 0 and ((2^31) - 1), Context: ";
inline const std::string kNullCallback = "Error Kind: Null pointer";
}  // namespace refusal_texts

}  // namespace velto::executor::testing
