// The module's exception types: MPCError (every failure of the library), and
// the two panic types for internal faults: one derived from BaseException for
// synchronous methods, one derived from Exception for awaitables.
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

#include <string>

#include "crypto/error.hpp"
#include "velto-mpc/error.hpp"

namespace karvane {

// Created on first use; null with an error set when that fails.
PyObject* mpc_error_type();
PyObject* sync_panic_type();
PyObject* async_panic_type();

// Raises MPCError with the error's display text; returns null.
PyObject* to_py_err(const velto::mpc::VeltoError& e);
// Raises the synchronous panic exception with the text; returns null.
PyObject* raise_sync_panic(const std::string& text);
// The prefix of the asynchronous panic exception's text.
inline constexpr const char* kAsyncPanicPrefix = "internal fault in operation: ";

// Runs `body` (a synchronous method's work); a velto::Panic escaping it
// becomes the synchronous panic exception.
template <class Body>
PyObject* guard_sync(Body body) {
  try {
    return body();
  } catch (const velto::Panic& p) {
    return raise_sync_panic(p.message());
  }
}

}  // namespace karvane
