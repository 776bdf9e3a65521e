// The asyncio bridge: runs an operation on the module runtime and hands its
// result to an asyncio future of the loop that was running at call time.
//
// - spawn (interpreter lock held): finds the running loop, makes a future with
//   loop.create_future(), adds a done-callback that signals the operation when
//   the future is cancelled, starts the operation under a supervising task on
//   the module runtime and returns the future.
// - The operation runs without the lock. It yields a Maker, which the
//   supervisor calls with the lock held to build the Python value (or set the
//   exception: ValueError, MPCError ...). Unless the future is cancelled, the
//   outcome is posted with loop.call_soon_threadsafe; on the loop's thread the
//   posted call checks once more that the future is still pending.
// - A velto::Panic (internal fault) escaping the operation completes the
//   future with the bridge's panic exception (derived from Exception).
// - Cancelling the future wakes the operation with terminal cancellation; it
//   is dropped with its result channel, and a library callback that comes
//   later only frees its context.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include "karvane_wallet_mpc/py/ref.hpp"

#include <functional>

#include "velto-mpc-infra/async/runtime.hpp"

namespace karvane::bridge {

// Builds the Python outcome, with the interpreter lock held: a new reference,
// or null with the exception set.
using Maker = std::function<PyObject*()>;
// The operation: called once on a runtime worker.
using Operation = std::function<boost::asio::awaitable<Maker>()>;

// Registers the runtime for all operations. Returns false when one was
// registered already (the earlier one stays).
bool set_runtime(velto::async::Runtime* rt) noexcept;
velto::async::Runtime* runtime() noexcept;

// The future, or null with an error set (no running loop ...).
PyObject* spawn(Operation op);

// Helpers for Makers.
Maker value_error(const char* text);

}  // namespace karvane::bridge
