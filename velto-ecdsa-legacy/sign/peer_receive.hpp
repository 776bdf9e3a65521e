// The one message of the peer on a pair executor, for the signing's
// pairwise steps.
#pragma once

#include <expected>
#include <span>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa::legacy {

// Collects the peer's message on this executor and decodes it as T under the
// 4 MiB budget (later bytes are ignored). Errors: the executor channel's or
// the decoding's, boxed.
template <class T>
boost::asio::awaitable<std::expected<T, BoxedError>> receive_from_peer(PeerExecutor& executor) {
  const PartyId peer = executor.peer();
  auto poll = BufferedPoll::start(executor.executor(), std::span<const PartyId>(&peer, 1));
  auto item = co_await poll.template next<T>();
  if (!item) co_return std::unexpected(std::move(item.error()));
  if (!*item) velto::panic("The pair executor's peer is the party itself. Bug!");
  co_return std::move((*item)->value);
}

}  // namespace velto::ecdsa::legacy
