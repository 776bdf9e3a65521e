// Shared by the version, dispatch and driver tests: a dummy two-round
// protocol used as a version handler, and small runtime helpers.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "crypto/error.hpp"
#include "executor/error.hpp"
#include "executor/lib/dispatch.hpp"
#include "noise-kk/keys.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor::testing {

namespace asio = boost::asio;

inline noise::NoiseKeyPair keypair(std::uint8_t seed) {
  crypto::ByteArray<32> sk;
  sk.fill(seed);
  return *noise::keypair_from_private(sk);
}

inline PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

// What the dummy protocol gives: the handler that ran, the session's parties
// and the total both rounds agreed on.
struct Ran {
  Version handler;
  std::vector<PartyId> parties;
  std::uint32_t total = 0;
};

// Round 1: every party sends its id to all. Round 2: every party sends the
// sum of all ids it knows to all and checks that every peer arrived at the
// same sum. A peer that saw other parties makes the round fail.
inline asio::awaitable<HandlerOutcome<Ran>> two_rounds(Version handler, ProtocolExecutor root) {
  const std::uint16_t me = root.my_party_id().value();
  std::uint32_t total = me;
  {
    ProtocolExecutor round = root.child("round 1");
    if (auto sent = round.send_to_all(me); !sent) co_return std::unexpected(into_boxed_handler_error(sent.error()));
    auto ids = co_await collect_map<std::uint16_t>(round);
    if (!ids) co_return std::unexpected(into_boxed_handler_error(ids.error()));
    for (const auto& [from, id] : *ids) total += id;
  }
  {
    ProtocolExecutor round = root.child("round 2");
    if (auto sent = round.send_to_all(total); !sent) co_return std::unexpected(into_boxed_handler_error(sent.error()));
    auto totals = co_await collect_map<std::uint32_t>(round);
    if (!totals) co_return std::unexpected(into_boxed_handler_error(totals.error()));
    for (const auto& [from, theirs] : *totals)
      if (theirs != total) co_return std::unexpected(box_handler_error(TextError("round 2 totals differ")));
  }
  Ran out{handler, root.parties(), total};
  co_return out;
}

// A handler for `version` that runs the two rounds and counts its calls.
inline auto two_round_handler(Version version, std::shared_ptr<int> calls = std::make_shared<int>(0)) {
  return [version, calls](ProtocolExecutor root) -> HandlerFuture<Ran> {
    ++*calls;
    // Reads its capture after suspending: the handler keeps its callable
    // alive for the whole run.
    auto out = co_await two_rounds(version, std::move(root));
    if (out) out->handler = version;
    co_return out;
  };
}

// block_on needs a default-constructible result; an optional is one.
template <class T>
asio::awaitable<std::optional<T>> optional_of(asio::awaitable<T> a) {
  co_return std::optional<T>(co_await std::move(a));
}
template <class T>
T block(async::Runtime& rt, asio::awaitable<T> a) {
  return std::move(*rt.block_on(optional_of(std::move(a))));
}

// Joins every handle; a task that panicked fails the test run.
template <class T>
std::vector<T> join_all(async::Runtime& rt, std::vector<async::JoinHandle<T>> handles) {
  std::vector<T> out;
  for (auto& h : handles) {
    auto r = block(rt, h.join());
    if (!r) throw std::runtime_error(r.error().display());
    out.push_back(std::move(*r));
  }
  return out;
}

// "ran v1.5.0 total 6" or the failure's text.
inline std::string summary(const HandlerOutcome<Ran>& r) {
  if (!r) return r.error().display();
  return "ran " + version_display(r->handler) + " total " + std::to_string(r->total);
}

}  // namespace velto::executor::testing
