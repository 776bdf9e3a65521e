// The join of a share-renewing handler's two tasks, shared by every scheme:
// the transport-key collector and the protocol task run side by side, and
// the handler joins them.
//
// The join never cancels a task. It ends early only when a task ended
// without a result (it threw, or was abandoned): JoinFailed with that task's
// join error, the other task left running detached. Otherwise it waits for
// both results and reports the collector's error before the protocol's, so
// a protocol failure at this party still waits for the key exchange to end.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <expected>
#include <optional>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "executor/api_type.hpp"
#include "executor/common/transport_key.hpp"
#include "executor/error.hpp"
#include "executor/join_error.hpp"
#include "velto-mpc-infra/async/runtime.hpp"

namespace velto::executor {

namespace renewal_detail {

template <class T>
boost::asio::awaitable<std::optional<std::expected<T, async::TaskJoinError>>> join_into_slot(
    async::JoinHandle<T>& handle) {
  auto r = co_await handle.join();
  co_return std::optional<std::expected<T, async::TaskJoinError>>(std::move(r));
}

// Stops the group at the first completion that carries no task result.
struct StopOnJoinError {
  template <class Slot>
  boost::asio::cancellation_type_t operator()(const std::exception_ptr& e, const Slot& slot) const {
    const bool failed = e || !slot || !slot->has_value();
    return failed ? boost::asio::cancellation_type::terminal : boost::asio::cancellation_type::none;
  }
};

inline ExecutorFailure join_failed(async::TaskJoinError error) {
  return ExecutorFailure(
      ExecutorErrorKind{ExecutorErrorKind::JoinFailed{box_error<JoinError>(JoinError(std::move(error)))}});
}

// Why a slot holds no result: its join error, or the exception that ended
// the wait (a runtime stopped under it), reported as a cancelled task.
template <class T>
async::TaskJoinError slot_failure(const std::exception_ptr& e,
                                  std::optional<std::expected<T, async::TaskJoinError>>& slot, std::uint64_t id) {
  if (!e && slot && !slot->has_value()) return std::move(slot->error());
  return async::TaskJoinError(async::TaskJoinError::Kind::Cancelled, id, "");
}

}  // namespace renewal_detail

// Waits for the collector and the protocol task as described above. The
// protocol task yields std::expected<V, E>, E a library error that is
// reported as Executor(E). Result: the key rotation and the protocol's value.
template <class V, std::derived_from<Error> E>
boost::asio::awaitable<std::expected<std::pair<TransportKeyRotation, V>, ExecutorFailure>> join_renewal_tasks(
    async::JoinHandle<TransportKeyResult> transport, async::JoinHandle<std::expected<V, E>> protocol) {
  namespace asio = boost::asio;
  using ProtocolResult = std::expected<V, E>;
  auto ex = co_await asio::this_coro::executor;
  auto group = asio::experimental::make_parallel_group(
      asio::co_spawn(ex, renewal_detail::join_into_slot(transport), asio::deferred),
      asio::co_spawn(ex, renewal_detail::join_into_slot(protocol), asio::deferred));
  // Named first: an aggregate temporary inside a co_await statement is
  // destroyed twice by GCC 12.
  renewal_detail::StopOnJoinError stop_on_join_error;
  auto [order, e_transport, transport_slot, e_protocol, protocol_slot] =
      co_await group.async_wait(stop_on_join_error, asio::use_awaitable);

  const bool transport_ok = !e_transport && transport_slot && transport_slot->has_value();
  const bool protocol_ok = !e_protocol && protocol_slot && protocol_slot->has_value();
  if (!transport_ok || !protocol_ok) {
    // The task found first to have failed is the one reported.
    const bool transport_first = order[0] == 0;
    if (!transport_ok && (transport_first || protocol_ok)) {
      co_return std::unexpected(renewal_detail::join_failed(
          renewal_detail::slot_failure<TransportKeyResult>(e_transport, transport_slot, transport.id())));
    }
    co_return std::unexpected(renewal_detail::join_failed(
        renewal_detail::slot_failure<ProtocolResult>(e_protocol, protocol_slot, protocol.id())));
  }

  TransportKeyResult& keys = **transport_slot;
  ProtocolResult& value = **protocol_slot;
  if (!keys) co_return std::unexpected(into_boxed_handler_error(std::move(keys.error())));
  if (!value) co_return std::unexpected(box_handler_error(std::move(value.error())));
  std::pair<TransportKeyRotation, V> out(std::move(*keys), std::move(*value));
  co_return std::move(out);
}

}  // namespace velto::executor
