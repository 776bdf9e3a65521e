// The method bodies that the client classes share: each converts the Python
// arguments, hands the stored host text (copied) and the converted values to
// an operation on the module runtime, makes the one library call of its
// scheme's function (passed in) and turns the outcome into the Python value
// the scheme's result maker builds. The scheme classes (ecdsa.cpp,
// ed25519.cpp) only name their functions and results; the exportable class
// (exportable_ed25519.cpp), which has a call path and error texts of its own,
// shares the argument conversions, the constructor and room creation.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include "karvane_wallet_mpc/py/ref.hpp"

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <utility>
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
// How a failure of the binding reaches Python (MPCError for the scheme
// classes).
using FailureMaker = bridge::Maker (*)(velto::mpc::VeltoError);
using FailureRaiser = PyObject* (*)(const velto::mpc::VeltoError&);
// The text as a str.
bridge::Maker text_value(std::string t);
// The output of an export: None for the empty text (a party that does not
// receive the key), else the text as a str.
bridge::Maker optional_text(std::string t);

// The arguments of a key generation (room_uuid, n, t, keygen_secret,
// keygen_ids), converted in that order.
struct KeygenArgs {
  std::string room;
  std::uint16_t n = 0, t = 0;
  Bytes secret;
  Texts ids;
};
bool convert(const char* method, PyObject* args, PyObject* kwargs, KeygenArgs& out);
// The module's checks of a key generation, in order: "n must be > 0",
// "t must be > 0", "keygen_secret must be 32 bytes"; null when all pass.
const char* refusal(const KeygenArgs& k);

// The arguments of a party that joins by its keygen identity (room_uuid,
// <threshold_name>, keygen_secret, keygen_ids).
struct IdentityArgs {
  std::string room;
  std::uint16_t threshold = 0;
  Bytes secret;
  Texts ids;
};
bool convert(const char* method, const char* threshold_name, PyObject* args, PyObject* kwargs, IdentityArgs& out);

// The arguments of an Ed25519 signature over a message (room_uuid,
// secret_share, message, <path_name>).
struct MessageSignArgs {
  std::string room, share;
  Bytes message;
  Path path;
};
bool convert(const char* method, const char* path_name, PyObject* args, PyObject* kwargs, MessageSignArgs& out);

// The arguments of the importer of an Ed25519 private key (room_uuid,
// threshold, private_key, <flag_name>, keygen_secret, keygen_ids).
struct Ed25519ImportArgs {
  std::string room;
  std::uint16_t threshold = 0;
  Bytes key;
  bool is_raw = false;
  Bytes secret;
  Texts ids;
};
bool convert(const char* method, const char* flag_name, PyObject* args, PyObject* kwargs, Ed25519ImportArgs& out);

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
PyObject* create_room(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                      FailureMaker failure = &mpc_error);
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
PyObject* init_keygen(FailureRaiser failure = &to_py_err);

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

// tp_new of a client class: (host_url), the object holding a Scheme built
// from the text. `method` names the callable in argument errors.
template <class Scheme, const char* Method>
PyObject* new_client(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* a[1];
  if (!py::match_args(Method, {"host_url"}, args, kwargs, a)) return nullptr;
  std::string host;
  if (!py::to_text(a[0], "host_url", host)) return nullptr;
  return py::make_instance<Scheme>(type, std::move(host));
}

// The type of a client class holding a Scheme, made once into `cell`.
template <class Scheme, const char* Method>
PyTypeObject* client_type(PyTypeObject*& cell, const char* name, const std::string& doc, PyMethodDef* methods) {
  if (cell == nullptr) {
    cell = py::make_type(name, static_cast<int>(sizeof(py::Instance<Scheme>)),
                         {{Py_tp_doc, const_cast<char*>(doc.c_str())},
                          {Py_tp_new, reinterpret_cast<void*>(&new_client<Scheme, Method>)},
                          {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc_instance<Scheme>)},
                          {Py_tp_methods, methods},
                          {0, nullptr}},
                         "karvane_wallet_mpc");
  }
  return cell;
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyCFunction kw(void) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

inline constexpr int kKw = METH_VARARGS | METH_KEYWORDS;

}  // namespace karvane::methods
