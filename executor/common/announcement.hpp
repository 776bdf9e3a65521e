// The announcement round of a reshare, shared by every scheme: under the
// joint tag each party sends once what it holds of the key (the group key and
// chain code for a holder of an old share, nothing for a new party) and
// collects one announcement from every other party. On the wire an optional
// of the scheme's value: 0x00, or 0x01 followed by the value.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "executor/error.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

namespace announcement_detail {

inline ExecutorFailure sync_failed() {
  return ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PublicKeyAndChaincodeSyncFailed{}});
}

// Sends `own` to every other party of the joint executor and folds every
// other party's announcement into `fold` as it arrives; `fold` returns false
// to stop with PublicKeyAndChaincodeSyncFailed. A failed send, collection or
// decoding is Executor(the error).
template <class Value, class Fold>
boost::asio::awaitable<std::expected<void, ExecutorFailure>> exchange(ProtocolExecutor& joint,
                                                                      const std::optional<Value>& own, Fold& fold) {
  if (auto sent = joint.send_to_all(own); !sent) {
    co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
  }
  auto poll = BufferedPoll::start(joint, joint.parties());
  for (;;) {
    auto item = co_await poll.template next<std::optional<Value>>();
    if (!item) co_return std::unexpected(into_boxed_handler_error(std::move(item.error())));
    if (!*item) co_return std::expected<void, ExecutorFailure>{};
    if (!fold((*item)->value)) co_return std::unexpected(sync_failed());
  }
}

}  // namespace announcement_detail

// A holder of an old share: announces `own` and requires every other
// announcement of a value to equal it, and exactly `other_holders` of them
// (every other remaining holder, and no other party).
template <class Value>
boost::asio::awaitable<std::expected<void, ExecutorFailure>> confirm_announcements(ProtocolExecutor& joint,
                                                                                   const Value& own,
                                                                                   std::size_t other_holders) {
  std::size_t equal = 0;
  auto fold = [&own, &equal](const std::optional<Value>& received) {
    if (!received) return true;
    if (!(*received == own)) return false;
    ++equal;
    return true;
  };
  const std::optional<Value> announced(own);
  auto exchanged = co_await announcement_detail::exchange(joint, announced, fold);
  if (!exchanged) co_return std::unexpected(std::move(exchanged.error()));
  if (equal != other_holders) co_return std::unexpected(announcement_detail::sync_failed());
  co_return std::expected<void, ExecutorFailure>{};
}

// A new party: announces nothing and takes the first announced value; every
// later one must equal it. A session in which nobody announced a value has
// no key to take over: PublicKeyAndChaincodeSyncFailed.
template <class Value>
boost::asio::awaitable<std::expected<Value, ExecutorFailure>> take_announced(ProtocolExecutor& joint) {
  std::optional<Value> reference;
  auto fold = [&reference](const std::optional<Value>& received) {
    if (!received) return true;
    if (!reference) {
      reference = received;
      return true;
    }
    return *received == *reference;
  };
  const std::optional<Value> none;
  auto exchanged = co_await announcement_detail::exchange(joint, none, fold);
  if (!exchanged) co_return std::unexpected(std::move(exchanged.error()));
  if (!reference) co_return std::unexpected(announcement_detail::sync_failed());
  co_return std::move(*reference);
}

}  // namespace velto::executor
