// The method bodies that the client classes share: each converts the Python
// arguments, hands the stored host text (copied) and the converted values to
// an operation on the module runtime, makes the one library call of its
// scheme's function (passed in) and turns the outcome into the Python value
// the scheme's result maker builds. The scheme classes (ecdsa.cpp,
// ed25519.cpp) only name their functions and results.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include "karvane_wallet_mpc/py/ref.hpp"

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "karvane_wallet_mpc/bridge.hpp"
#include "karvane_wallet_mpc/error.hpp"
#include "karvane_wallet_mpc/py/args.hpp"
#include "karvane_wallet_mpc/py/class.hpp"
#include "velto-mpc/error.hpp"
#include "velto-mpc/ffi/mod.hpp"

namespace karvane::methods {

using Bytes = std::vector<std::uint8_t>;
using Path = std::vector<std::uint32_t>;
using Texts = std::vector<std::string>;

std::array<std::uint8_t, 32> as32(const Bytes& b);
bridge::Maker mpc_error(velto::mpc::VeltoError e);
// The text as a str.
bridge::Maker text_result(std::expected<std::string, velto::mpc::VeltoError> r);
// Builds a key-generation-type result from the two outputs.
using KeygenResultMaker = bridge::Maker (*)(std::expected<velto::mpc::DoubleOutput, velto::mpc::VeltoError>);

// The library functions the shared methods call, by their shapes.
using KeygenFn = ResultFFI (*)(uint16_t, uint16_t, ConstStr, ConstStr, ConstStr, ConstStrArray, DoubleCallback, void*);
using IdentityFn = ResultFFI (*)(uint16_t, ConstStr, ConstStrArray, ConstStr, ConstStr, DoubleCallback, void*);
using RefreshFn = ResultFFI (*)(ConstStr, DoubleCallback, void*, ConstStr, ConstStr);
using ExportFn = ResultFFI (*)(ConstStr, ConstStr, ConstStr, ConstStr, SingleCallback, void*);
using ReshareRemainingFn = ResultFFI (*)(uint16_t, ConstStr, ConstStrArray, ConstStr, ConstStr, DoubleCallback,
                                         void*);

// create_room(n, api_key): "n must be > 0", then the room id.
PyObject* create_room(const std::string& host, PyObject* args, PyObject* kwargs, const char* method);
// (room_uuid, n, t, keygen_secret, keygen_ids): "n must be > 0", "t must be
// > 0", "keygen_secret must be 32 bytes".
PyObject* keygen(const std::string& host, PyObject* args, PyObject* kwargs, const char* method, KeygenFn fn,
                 KeygenResultMaker result);
// (room_uuid, <threshold_name>, keygen_secret, keygen_ids): the recipient of
// an import and a new party of a reshare.
PyObject* identity_operation(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                             const char* threshold_name, IdentityFn fn, KeygenResultMaker result);
// (room_uuid, secret_share).
PyObject* refresh(const std::string& host, PyObject* args, PyObject* kwargs, const char* method, RefreshFn fn,
                  KeygenResultMaker result);
// (room_uuid, secret_share, export_to): the key text, or None for a party
// that does not receive it.
PyObject* export_full_private_key(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                                  ExportFn fn);
// (room_uuid, new_threshold, secret_share, keygen_ids).
PyObject* reshare_remaining_party(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                                  ReshareRemainingFn fn, KeygenResultMaker result);
// init_keygen(): a PyInitKeygenResult.
PyObject* init_keygen();

// export_id(secret_share) of a scheme object held by `self`: the text.
template <class Scheme>
PyObject* export_id(PyObject* self, PyObject* args, PyObject* kwargs, const char* method) {
  PyObject* a[1];
  if (!py::match_args(method, {"secret_share"}, args, kwargs, a)) return nullptr;
  std::string share;
  if (!py::to_text(a[0], "secret_share", share)) return nullptr;
  return guard_sync([&]() -> PyObject* {
    auto r = py::value_of<Scheme>(self).export_id(share);
    if (!r) return to_py_err(r.error());
    return py::text(*r).release();
  });
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyCFunction kw(void) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

inline constexpr int kKw = METH_VARARGS | METH_KEYWORDS;

}  // namespace karvane::methods
