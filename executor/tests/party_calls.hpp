// Test support for tests that drive networked operations as C callers:
// every party is a call in this process with its own callback recorder, and
// the parties of a room meet on the local relay side by side; the text that
// a local function writes through its out-pointer; and the hex of messages.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/refusals.hpp"

namespace velto::executor::testing {

// One party's call, given the room and the relay's host; returns the
// function's result record. The callback is the recorder passed as context.
using PartyCall = std::function<ResultFFI(const std::string& room, const std::string& host, CallbackRecorder*)>;

// Several rooms at once: every party's call of every room is started (each
// room new, its parties side by side) before any completion is awaited. Every
// call must be accepted; each room's completions are returned in party order.
inline std::vector<std::vector<Completion>> run_rooms(LocalRelay& relay, const std::vector<std::vector<PartyCall>>& rooms) {
  std::vector<std::vector<std::unique_ptr<CallbackRecorder>>> recs(rooms.size());
  for (std::size_t i = 0; i < rooms.size(); ++i) {
    const std::string room = relay.new_room(static_cast<std::uint16_t>(rooms[i].size()));
    for (const auto& call : rooms[i]) {
      recs[i].push_back(std::make_unique<CallbackRecorder>());
      const auto r = take(call(room, relay.host(), recs[i].back().get()));
      EXPECT_EQ(r.code, 0) << r.message;
    }
  }
  std::vector<std::vector<Completion>> out(rooms.size());
  for (std::size_t i = 0; i < rooms.size(); ++i) {
    for (auto& rec : recs[i]) out[i].push_back(wait_one(*rec));
  }
  return out;
}

// Every party's call in one new room, side by side.
inline std::vector<Completion> run_room(LocalRelay& relay, const std::vector<PartyCall>& parties) {
  return run_rooms(relay, {parties}).front();
}

// The bytes of a hex text; a text that is not hex fails the test and gives
// no bytes.
inline crypto::Bytes unhex(const std::string& text) {
  auto b = crypto::hex_decode(text);
  EXPECT_TRUE(b.has_value()) << text;
  return b.value_or(crypto::Bytes{});
}

// A message of `size` bytes that differs with `salt`, in hex.
inline std::string message_hex(std::size_t size, std::uint8_t salt) {
  crypto::Bytes m(size);
  for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<std::uint8_t>(i * 31 + salt);
  return crypto::hex_encode(m);
}

// The keygen ids of the parties, in their order.
inline std::vector<std::string> ids_of(const std::vector<Identity>& parties) {
  std::vector<std::string> out;
  out.reserve(parties.size());
  for (const auto& p : parties) out.push_back(p.id);
  return out;
}

// Keeps the texts a call borrows alive until the call has returned.
struct Texts {
  std::vector<std::string> ids;
  std::vector<ConstStr> views;
  ConstStrArray array() {
    views = cstrs(ids);
    return ConstStrArray{views.data(), views.size()};
  }
};

// The text a local function writes through its out-pointer, or the refusal.
struct LocalOut {
  Result result;
  std::string text;
};

template <class F>
LocalOut local(F call) {
  HeapString out{nullptr, 0};
  LocalOut r{take(call(&out)), {}};
  if (out.ptr != nullptr) r.text.assign(reinterpret_cast<const char*>(out.ptr), out.len);
  velto_dealloc_heap_string(out.ptr, out.len);
  return r;
}

inline void expect_all_succeeded(const std::vector<Completion>& done) {
  for (const auto& c : done) {
    ASSERT_EQ(c.result.code, 0) << c.result.message;
    ASSERT_TRUE(c.first.has_value());
  }
}

// Every party failed with -8, no output, and the context (when given).
inline void expect_all_failed(const std::vector<Completion>& done, const std::optional<std::string>& context = std::nullopt) {
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, -8) << c.result.message;
    EXPECT_THAT(c.result.message, ::testing::StartsWith(kExecutorError));
    if (context) {
      EXPECT_EQ(c.result.message, kExecutorError + *context);
    }
    EXPECT_FALSE(c.first.has_value());
    EXPECT_FALSE(c.second.has_value());
  }
}

}  // namespace velto::executor::testing
