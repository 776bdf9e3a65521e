#include "karvane_wallet_mpc/exportable_ed25519.hpp"

#include "velto-mpc-infra/async/asio.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "karvane_wallet_mpc/bridge.hpp"
#include "karvane_wallet_mpc/error.hpp"
#include "karvane_wallet_mpc/py/args.hpp"
#include "karvane_wallet_mpc/py/class.hpp"
#include "karvane_wallet_mpc/types.hpp"
#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/schemes/ecdsa.hpp"
#include "velto-mpc/schemes/exportable_ed25519.hpp"

namespace karvane {

namespace {

namespace mpc = velto::mpc;
namespace xp = velto::mpc::exportable;
using boost::asio::awaitable;
using bridge::Maker;

using Bytes = std::vector<std::uint8_t>;
using Path = std::vector<std::uint32_t>;
using Texts = std::vector<std::string>;

// The object: the relay host, passed to every call that takes one.
struct ExportableEd25519 {
  std::string host_url;
};

const std::string& host_of(PyObject* self) { return py::value_of<ExportableEd25519>(self).host_url; }

PyObject* raise_runtime_error(const std::string& text) {
  py::Ref msg = py::text(text);
  if (msg) PyErr_SetObject(PyExc_RuntimeError, msg.get());
  return nullptr;
}

Maker runtime_error(std::string text) {
  return [text = std::move(text)]() -> PyObject* { return raise_runtime_error(text); };
}

std::string hex_of(const Bytes& bytes) { return mpc::to_ffi(std::span<const std::uint8_t>(bytes)); }

// (public key hex, share text) as a PyEd25519KeygenResult.
Maker keygen_result(xp::Outcome<mpc::DoubleOutput> r) {
  if (!r) return runtime_error(std::move(r.error()));
  auto key = xp::decode_hex("pubkey", r->first);
  if (!key) return runtime_error(std::move(key.error()));
  if (key->size() != 32) {
    return runtime_error("pubkey hex decode: expected 32 bytes, got " + std::to_string(key->size()));
  }
  Ed25519KeygenResult v{};
  std::copy(key->begin(), key->end(), v.pubkey.begin());
  v.secret_share = std::move(r->second);
  return [v = std::move(v)]() -> PyObject* { return new_ed25519_keygen_result(v); };
}

// --- constructor -----------------------------------------------------------

PyObject* exportable_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* a[1];
  if (!py::match_args("PyExportableEd25519.__new__", {"host_url"}, args, kwargs, a)) return nullptr;
  std::string host;
  if (!py::to_text(a[0], "host_url", host)) return nullptr;
  return py::make_instance<ExportableEd25519>(type, ExportableEd25519{std::move(host)});
}

// --- awaitable methods -----------------------------------------------------

PyObject* create_room(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyExportableEd25519.create_room", {"n", "api_key"}, args, kwargs, a)) return nullptr;
  std::uint16_t n = 0;
  std::string api_key;
  if (!py::to_u16(a[0], "n", n) || !py::to_text(a[1], "api_key", api_key)) return nullptr;
  return bridge::spawn([host = host_of(self), n, api_key]() -> awaitable<Maker> {
    if (n == 0) co_return bridge::value_error("n must be > 0");
    auto r = co_await mpc::create_room(host, n, api_key);
    if (!r) co_return runtime_error("create_room failed: " + r.error().display());
    Maker m = [t = std::move(*r)]() -> PyObject* { return py::text(t).release(); };
    co_return m;
  });
}

PyObject* receive_key(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[5];
  if (!py::match_args("PyExportableEd25519.receive_key", {"room_uuid", "n", "t", "keygen_secret", "keygen_ids"}, args,
                      kwargs, a))
    return nullptr;
  std::string room;
  std::uint16_t n = 0, t = 0;
  Bytes secret;
  Texts ids;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_u16(a[1], "n", n) || !py::to_u16(a[2], "t", t) ||
      !py::to_byte_list(a[3], "keygen_secret", secret) || !py::to_text_list(a[4], "keygen_ids", ids))
    return nullptr;
  return bridge::spawn([host = host_of(self), room, n, t, secret, ids]() -> awaitable<Maker> {
    if (n == 0) co_return bridge::value_error("n must be > 0");
    if (t == 0) co_return bridge::value_error("t must be > 0");
    if (secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    const std::string secret_hex = hex_of(secret);
    const mpc::ConstStrList id_list(ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_receive_key(n, t, mpc::const_str(secret_hex), mpc::const_str(room),
                                                  mpc::const_str(host), id_list.array(), cb, ctx);
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_receive_key", call);
    co_return keygen_result(std::move(r));
  });
}

PyObject* sign(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[4];
  if (!py::match_args("PyExportableEd25519.sign", {"room_uuid", "secret_share", "message", "_derivation_path"}, args,
                      kwargs, a))
    return nullptr;
  std::string room, share;
  Bytes message;
  Path path;  // converted, never used: the scheme has no derivation
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_text(a[1], "secret_share", share) ||
      !py::to_byte_list(a[2], "message", message) || !py::to_u32_list(a[3], "_derivation_path", path))
    return nullptr;
  return bridge::spawn([host = host_of(self), room, share, message]() -> awaitable<Maker> {
    const std::string message_hex = hex_of(message);
    auto call = [&](SingleCallback cb, void* ctx) {
      return velto_exportable_ed25519_sign(mpc::const_str(share), mpc::const_str(message_hex), mpc::const_str(room),
                                           mpc::const_str(host), cb, ctx);
    };
    auto r = co_await xp::call_single("velto_exportable_ed25519_sign", call);
    if (!r) co_return runtime_error(std::move(r.error()));
    auto signature = xp::decode_hex("signature", *r);
    if (!signature) co_return runtime_error(std::move(signature.error()));
    Maker m = [s = std::move(*signature)]() -> PyObject* { return py::byte_list(s).release(); };
    co_return m;
  });
}

PyObject* refresh(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyExportableEd25519.refresh", {"room_uuid", "secret_share"}, args, kwargs, a)) return nullptr;
  std::string room, share;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_text(a[1], "secret_share", share)) return nullptr;
  return bridge::spawn([host = host_of(self), room, share]() -> awaitable<Maker> {
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_refresh(mpc::const_str(share), cb, ctx, mpc::const_str(room),
                                              mpc::const_str(host));
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_refresh", call);
    co_return keygen_result(std::move(r));
  });
}

PyObject* export_full_private_key(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[3];
  if (!py::match_args("PyExportableEd25519.export_full_private_key", {"room_uuid", "secret_share", "export_to"},
                      args, kwargs, a))
    return nullptr;
  std::string room, share, export_to;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_text(a[1], "secret_share", share) ||
      !py::to_text(a[2], "export_to", export_to))
    return nullptr;
  return bridge::spawn([host = host_of(self), room, share, export_to]() -> awaitable<Maker> {
    auto call = [&](SingleCallback cb, void* ctx) {
      return velto_exportable_ed25519_export_full_private_key(mpc::const_str(share), mpc::const_str(export_to),
                                                              mpc::const_str(room), mpc::const_str(host), cb, ctx);
    };
    auto r = co_await xp::call_single("velto_exportable_ed25519_export_full_private_key", call);
    if (!r) co_return runtime_error(std::move(r.error()));
    Maker m = [t = std::move(*r)]() -> PyObject* {
      if (t.empty()) Py_RETURN_NONE;
      return py::text(t).release();
    };
    co_return m;
  });
}

PyObject* import_private_key_recipient(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[4];
  if (!py::match_args("PyExportableEd25519.import_private_key_recipient",
                      {"room_uuid", "threshold", "keygen_secret", "keygen_ids"}, args, kwargs, a))
    return nullptr;
  std::string room;
  std::uint16_t threshold = 0;
  Bytes secret;
  Texts ids;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_u16(a[1], "threshold", threshold) ||
      !py::to_byte_list(a[2], "keygen_secret", secret) || !py::to_text_list(a[3], "keygen_ids", ids))
    return nullptr;
  return bridge::spawn([host = host_of(self), room, threshold, secret, ids]() -> awaitable<Maker> {
    if (secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    const std::string secret_hex = hex_of(secret);
    const mpc::ConstStrList id_list(ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_import_private_key_recipient(threshold, mpc::const_str(secret_hex),
                                                                   id_list.array(), mpc::const_str(room),
                                                                   mpc::const_str(host), cb, ctx);
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_import_private_key_recipient", call);
    co_return keygen_result(std::move(r));
  });
}

PyObject* import_private_key_importer(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[6];
  if (!py::match_args("PyExportableEd25519.import_private_key_importer",
                      {"room_uuid", "threshold", "private_key", "_is_raw", "keygen_secret", "keygen_ids"}, args,
                      kwargs, a))
    return nullptr;
  std::string room;
  std::uint16_t threshold = 0;
  Bytes key, secret;
  bool is_raw = false;  // converted, never used: the key is always a seed
  Texts ids;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_u16(a[1], "threshold", threshold) ||
      !py::to_byte_list(a[2], "private_key", key) || !py::to_bool(a[3], "_is_raw", is_raw) ||
      !py::to_byte_list(a[4], "keygen_secret", secret) || !py::to_text_list(a[5], "keygen_ids", ids))
    return nullptr;
  return bridge::spawn([host = host_of(self), room, threshold, key, secret, ids]() -> awaitable<Maker> {
    if (secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    if (key.size() != 32) co_return bridge::value_error("private_key must be 32 bytes");
    const std::string key_hex = hex_of(key);
    const std::string secret_hex = hex_of(secret);
    const mpc::ConstStrList id_list(ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_import_private_key_importer(
          threshold, mpc::const_str(key_hex), mpc::const_str(secret_hex), mpc::const_str(room), mpc::const_str(host),
          id_list.array(), cb, ctx);
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_import_private_key_importer", call);
    co_return keygen_result(std::move(r));
  });
}

// --- synchronous methods ---------------------------------------------------

PyObject* init_keygen(PyObject*, PyObject*) {
  return guard_sync([&]() -> PyObject* {
    auto r = mpc::init_keygen();
    if (!r) return raise_runtime_error("init_keygen failed: " + r.error().display());
    return new_init_keygen_result(
        InitKeygenResult{std::move(r->keygen_id), Bytes(r->keygen_secret.begin(), r->keygen_secret.end())});
  });
}

PyObject* derive_pubkey(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyExportableEd25519.derive_pubkey", {"secret_share", "_derivation_path"}, args, kwargs, a))
    return nullptr;
  std::string share;
  Path path;  // converted, never used
  if (!py::to_text(a[0], "secret_share", share) || !py::to_u32_list(a[1], "_derivation_path", path)) return nullptr;
  return guard_sync([&]() -> PyObject* {
    auto text = xp::get_pubkey(share);
    if (!text) return raise_runtime_error(text.error());
    auto key = xp::decode_hex("pubkey", *text);
    if (!key) return raise_runtime_error(key.error());
    return py::byte_list(*key).release();
  });
}

PyObject* export_id(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* a[1];
  if (!py::match_args("PyExportableEd25519.export_id", {"secret_share"}, args, kwargs, a)) return nullptr;
  std::string share;
  if (!py::to_text(a[0], "secret_share", share)) return nullptr;
  return guard_sync([&]() -> PyObject* {
    auto id = xp::get_export_id(share);
    if (!id) return raise_runtime_error(id.error());
    return py::text(*id).release();
  });
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyCFunction kw(void) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

constexpr int kKw = METH_VARARGS | METH_KEYWORDS;

PyMethodDef g_methods[] = {
    {"init_keygen", &init_keygen, METH_NOARGS,
     "init_keygen($self)\n--\n\nShared with regular Ed25519 \u2014 uses the MPC init_keygen primitive."},
    {"create_room", kw<&create_room>(), kKw,
     "create_room($self, n, api_key)\n--\n\nShared with regular Ed25519 \u2014 uses `velto_create_room`."},
    {"receive_key", kw<&receive_key>(), kKw,
     "receive_key($self, room_uuid, n, t, keygen_secret, keygen_ids)\n--\n\nClient-side key generation for "
     "ExportableEd25519.\nThe server calls sampleKey; this client calls receiveKey.\n\nkeygen_secret: 32 raw bytes "
     "from init_keygen\nkeygen_ids: base58 IDs from all other parties"},
    {"sign", kw<&sign>(), kKw,
     "sign($self, room_uuid, secret_share, message, _derivation_path)\n--\n\nSign a message using "
     "ExportableEd25519.\n\nmessage: raw bytes of the message to sign (will be hex-encoded for C SDK)\n"
     "_derivation_path: accepted for API compatibility, ignored (no derivation support)"},
    {"derive_pubkey", kw<&derive_pubkey>(), kKw,
     "derive_pubkey($self, secret_share, _derivation_path)\n--\n\nGet the public key for a secret share "
     "(synchronous).\n_derivation_path: accepted for API compatibility, ignored."},
    {"export_id", kw<&export_id>(), kKw,
     "export_id($self, secret_share)\n--\n\nGet the export ID for a key share (synchronous)."},
    {"refresh", kw<&refresh>(), kKw,
     "refresh($self, room_uuid, secret_share)\n--\n\nRefresh key shares without changing the public key."},
    {"export_full_private_key", kw<&export_full_private_key>(), kKw,
     "export_full_private_key($self, room_uuid, secret_share, export_to)\n--\n\nExport the full private key. "
     "Exporter receives a hex string; others get None."},
    {"import_private_key_recipient", kw<&import_private_key_recipient>(), kKw,
     "import_private_key_recipient($self, room_uuid, threshold, keygen_secret, keygen_ids)\n--\n\nImport a private "
     "key \u2014 recipient side (no private key, receives a share)."},
    {"import_private_key_importer", kw<&import_private_key_importer>(), kKw,
     "import_private_key_importer($self, room_uuid, threshold, private_key, _is_raw, keygen_secret, keygen_ids)\n"
     "--\n\nImport a private key \u2014 importer side (holds the private key).\n\nprivate_key: 32 raw bytes of the "
     "Ed25519 private key\n_is_raw: accepted for API compatibility (ExportableEd25519 always uses raw/hex encoding)"},
    {nullptr, nullptr, 0, nullptr}};

PyTypeObject* g_type = nullptr;

}  // namespace

PyTypeObject* exportable_ed25519_type() {
  if (g_type == nullptr) {
    static const std::string doc = py::signature_doc(
        "PyExportableEd25519", "(host_url)",
        "Python wrapper for the ExportableEd25519 MPC protocol.\n\nUsed for Solana (SVM) wallets. The server calls "
        "`sampleKey` and the\nclient calls `receiveKey` (this class).");
    g_type = py::make_type("PyExportableEd25519", static_cast<int>(sizeof(py::Instance<ExportableEd25519>)),
                           {{Py_tp_doc, const_cast<char*>(doc.c_str())},
                            {Py_tp_new, reinterpret_cast<void*>(&exportable_new)},
                            {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc_instance<ExportableEd25519>)},
                            {Py_tp_methods, g_methods},
                            {0, nullptr}},
                           "karvane_wallet_mpc");
  }
  return g_type;
}

}  // namespace karvane
