// The versioned dispatch: from a joined room to one finished protocol run.
//
// An operation driver (drivers.hpp) joins the room and hands back a
// VersionedHandlers value with an empty handler map. The operation body
// appends its own bytes and label to the session hasher inside it, registers
// one handler per version it supports, and awaits dispatch_versioned, which
//   1. sets up the end-to-end encrypted executor over the relay,
//   2. starts the executor manager task,
//   3. agrees the protocol version on the "Velto Version" child executor,
//   4. runs the handler registered at the greatest version not above the
//      agreed one, with the root executor moved in,
//   5. waits for the manager task, and
//   6. combines the handler's outcome with the manager's end.
// The routine is the same for every scheme and operation; T is the result of
// the operation's handlers.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "crypto/error.hpp"
#include "executor/async_executor_ws.hpp"
#include "executor/error.hpp"
#include "executor/join_error.hpp"
#include "executor/lib/version.hpp"
#include "noise-kk/keys.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"

namespace velto::executor {

template <class T>
using HandlerOutcome = std::expected<T, ExecutorFailure>;
// A handler's run: owns the root executor from the call on.
template <class T>
using HandlerFuture = boost::asio::awaitable<HandlerOutcome<T>>;

// A type-erased, call-once handler: owns whatever the operation bound into
// it, and turns the started root executor into the handler's run.
template <class T>
class VersionHandler {
 public:
  // `f(ProtocolExecutor)` must give a HandlerFuture<T>. The callable is kept
  // alive for the whole run of the future it makes, so a capturing coroutine
  // lambda is safe.
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, VersionHandler> &&
             std::is_invocable_r_v<HandlerFuture<T>, F&, ProtocolExecutor>)
  explicit VersionHandler(F f) : fn_(std::move(f)) {}

  VersionHandler(VersionHandler&&) noexcept = default;
  VersionHandler& operator=(VersionHandler&&) noexcept = default;

  // Consumes the handler; the returned future owns the callable and the
  // executor.
  HandlerFuture<T> call_once(ProtocolExecutor root) && {
    return run(std::move(fn_), std::move(root));
  }

 private:
  using Fn = std::move_only_function<HandlerFuture<T>(ProtocolExecutor)>;

  static HandlerFuture<T> run(Fn fn, ProtocolExecutor root) { co_return co_await fn(std::move(root)); }

  Fn fn_;
};

// Handlers by version, in version (wire-code) order.
template <class T>
using HandlerMap = std::map<Version, VersionHandler<T>>;

// The session map of a keygen-type join: every session PartyId with its
// transport public key.
using PartyKeys = std::map<PartyId, noise::PublicKey>;

// One operation run from its join to its dispatch. Moved, never copied.
template <class T>
class VersionedHandlers {
 public:
  VersionedHandlers(JoinedRoom joined, std::optional<PartyKeys> keys)
      : session(std::move(joined)), party_keys(std::move(keys)) {}
  VersionedHandlers(VersionedHandlers&&) noexcept = default;
  VersionedHandlers& operator=(VersionedHandlers&&) noexcept = default;

  // The joined relay session; the body appends its own bytes and label to
  // session.setup.session_hasher() before the dispatch.
  JoinedRoom session;
  // Present after a keygen-type join, absent after a sign-type join.
  std::optional<PartyKeys> party_keys;
  // Filled by register_handler, consumed by dispatch_versioned.
  HandlerMap<T> handlers;
};

inline constexpr std::string_view kDuplicateHandlerPanic =
    "assertion failed: self.handlers.insert(version,\n        Box::new(|exec|\n                Box::new(async move "
    "{ handler(exec).await }))).is_none()";
inline constexpr std::string_view kRemoveFoundHandlerPanic = "Can't fail, we just got it from the map";

// Registers `handler` (a callable from ProtocolExecutor to HandlerFuture<T>)
// under `version`. A second registration of one version is a programming
// error: the earlier handler is destroyed and the call panics.
template <class T, class F>
void register_handler(VersionedHandlers<T>& target, Version version, F handler) {
  auto [it, inserted] = target.handlers.insert_or_assign(version, VersionHandler<T>(std::move(handler)));
  (void)it;
  if (!inserted) panic(std::string(kDuplicateHandlerPanic));
}

// The entry of the greatest version not above `agreed`, or end().
template <class H>
typename std::map<Version, H>::iterator select_handler(std::map<Version, H>& handlers, Version agreed) {
  auto it = handlers.upper_bound(agreed);
  if (it == handlers.begin()) return handlers.end();
  return std::prev(it);
}

// How the manager task ended, as its join handle reports it.
using ManagerJoin = std::expected<ManagerResult, async::TaskJoinError>;

// Step 8 of the run: a manager that panicked or was cancelled turns every
// outcome into JoinFailed; a manager error is attached to a failure
// (replacing any it held) and never turns a success into a failure.
template <class T>
HandlerOutcome<T> combine_outcome(HandlerOutcome<T> provisional, ManagerJoin manager) {
  if (!manager) {
    ExecutorErrorKind::JoinFailed join{box_error<JoinError>(JoinError(std::move(manager.error())))};
    return std::unexpected(ExecutorFailure(ExecutorErrorKind(std::move(join))));
  }
  if (!*manager && !provisional) provisional.error().set_manager_err(std::move(manager->error()));
  return provisional;
}

namespace detail {

// Starts the manager task on the runtime that runs this task.
async::JoinHandle<ManagerResult> start_manager(const boost::asio::any_io_executor& current, ExecutorBuilder builder);

// Steps 2 to 9 on an executor already set up: starts the manager, agrees the
// version announcing `own_code`, runs the chosen handler, joins the manager
// and combines the outcomes. Every path joins the manager; the handlers not
// chosen are destroyed unused.
template <class T>
boost::asio::awaitable<HandlerOutcome<T>> run_versioned(ExecutorBuilder builder, ProtocolExecutor root,
                                                         HandlerMap<T> handlers, std::uint8_t own_code) {
  const auto current = co_await boost::asio::this_coro::executor;
  auto manager = start_manager(current, std::move(builder));

  std::optional<HandlerOutcome<T>> provisional;
  std::optional<ProtocolExecutor> root_slot(std::move(root));
  {
    auto version_executor = root_slot->child_u64_label(kVersionLabel);
    auto agreed = co_await negotiate_version_announcing(std::move(version_executor), own_code);
    if (!agreed) {
      root_slot.reset();
      provisional.emplace(std::unexpected(std::move(agreed.error())));
    } else if (auto chosen = select_handler(handlers, *agreed); chosen == handlers.end()) {
      root_slot.reset();
      ExecutorErrorKind::UnexpectedVersion no_handler{*agreed};
      provisional.emplace(std::unexpected(ExecutorFailure(ExecutorErrorKind(no_handler))));
    } else {
      const Version found = chosen->first;
      std::optional<VersionHandler<T>> handler(std::move(chosen->second));
      if (handlers.erase(found) != 1) panic(std::string(kRemoveFoundHandlerPanic));
      // The future (and with it the root executor and whatever the handler
      // holds) is destroyed at the end of this block, before the manager is
      // awaited.
      auto future = std::move(*handler).call_once(std::move(*root_slot));
      handler.reset();
      root_slot.reset();
      provisional.emplace(co_await std::move(future));
    }
  }

  auto joined = co_await manager.join();
  HandlerOutcome<T> outcome = combine_outcome<T>(std::move(*provisional), std::move(joined));
  handlers.clear();
  co_return outcome;
}

}  // namespace detail

// The whole run of one joined operation (steps above). A set-up failure is
// DecryptionError when a handshake message did not decrypt, otherwise Plugin
// carrying the relay error; no manager is started then. Agreement failures
// and handler failures pass through, with the manager's error attached when
// it ended with one.
template <class T>
boost::asio::awaitable<HandlerOutcome<T>> dispatch_versioned(VersionedHandlers<T> run) {
  const std::uint8_t own_code = detail::announced_code(run.session.static_keys.public_key().bytes());
  std::optional<PartyKeys> party_keys = std::move(run.party_keys);
  HandlerMap<T> handlers = std::move(run.handlers);
  auto built = co_await build_encrypted_executor(std::move(run.session));
  if (!built) {
    HandlerOutcome<T> failed = std::unexpected(room_error_to_failure(std::move(built.error())));
    co_return failed;
  }
  auto outcome = co_await detail::run_versioned<T>(std::move(built->first), std::move(built->second),
                                                   std::move(handlers), own_code);
  party_keys.reset();
  co_return outcome;
}

}  // namespace velto::executor
