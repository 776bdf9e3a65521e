#include "karvane_wallet_mpc/exportable_ed25519.hpp"

#include "velto-mpc-infra/async/asio.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "karvane_wallet_mpc/bridge.hpp"
#include "karvane_wallet_mpc/error.hpp"
#include "karvane_wallet_mpc/methods.hpp"
#include "karvane_wallet_mpc/py/args.hpp"
#include "karvane_wallet_mpc/py/class.hpp"
#include "karvane_wallet_mpc/types.hpp"
#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/schemes/ed25519.hpp"
#include "velto-mpc/schemes/exportable_ed25519.hpp"

namespace karvane {

namespace {

namespace mpc = velto::mpc;
namespace xp = velto::mpc::exportable;
using boost::asio::awaitable;
using bridge::Maker;

using namespace methods;

// The object: the binding's Ed25519 scheme object, whose host text is passed
// to every call that takes one.
const std::string& host_of(PyObject* self) { return py::value_of<mpc::Ed25519>(self).host_url(); }

PyObject* raise_runtime_error(const std::string& text) {
  py::Ref msg = py::text(text);
  if (msg) PyErr_SetObject(PyExc_RuntimeError, msg.get());
  return nullptr;
}

Maker runtime_error(std::string text) {
  return [text = std::move(text)]() -> PyObject* { return raise_runtime_error(text); };
}

// Failures of the binding's room creation and keygen identity.
Maker create_room_failed(mpc::VeltoError e) { return runtime_error("create_room failed: " + e.display()); }
PyObject* raise_init_keygen_failed(const mpc::VeltoError& e) {
  return raise_runtime_error("init_keygen failed: " + e.display());
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

// --- awaitable methods -----------------------------------------------------

PyObject* create_room(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::create_room(host_of(self), args, kwargs, "PyExportableEd25519.create_room", &create_room_failed);
}

PyObject* receive_key(PyObject* self, PyObject* args, PyObject* kwargs) {
  KeygenArgs k;
  if (!convert("PyExportableEd25519.receive_key", args, kwargs, k)) return nullptr;
  return bridge::spawn([host = host_of(self), k = std::move(k)]() -> awaitable<Maker> {
    if (const char* text = refusal(k)) co_return bridge::value_error(text);
    const std::string secret_hex = hex_of(k.secret);
    const mpc::ConstStrList id_list(k.ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_receive_key(k.n, k.t, mpc::const_str(secret_hex), mpc::const_str(k.room),
                                                  mpc::const_str(host), id_list.array(), cb, ctx);
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_receive_key", call);
    co_return keygen_result(std::move(r));
  });
}

PyObject* sign(PyObject* self, PyObject* args, PyObject* kwargs) {
  MessageSignArgs s;  // the path is converted, never used: the scheme has no derivation
  if (!convert("PyExportableEd25519.sign", "_derivation_path", args, kwargs, s)) return nullptr;
  return bridge::spawn([host = host_of(self), s = std::move(s)]() -> awaitable<Maker> {
    const std::string message_hex = hex_of(s.message);
    auto call = [&](SingleCallback cb, void* ctx) {
      return velto_exportable_ed25519_sign(mpc::const_str(s.share), mpc::const_str(message_hex),
                                           mpc::const_str(s.room), mpc::const_str(host), cb, ctx);
    };
    auto r = co_await xp::call_single("velto_exportable_ed25519_sign", call);
    if (!r) co_return runtime_error(std::move(r.error()));
    auto signature = xp::decode_hex("signature", *r);
    if (!signature) co_return runtime_error(std::move(signature.error()));
    Maker m = [sig = std::move(*signature)]() -> PyObject* { return py::byte_list(sig).release(); };
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
    co_return optional_text(std::move(*r));
  });
}

PyObject* import_private_key_recipient(PyObject* self, PyObject* args, PyObject* kwargs) {
  IdentityArgs i;
  if (!convert("PyExportableEd25519.import_private_key_recipient", "threshold", args, kwargs, i)) return nullptr;
  return bridge::spawn([host = host_of(self), i = std::move(i)]() -> awaitable<Maker> {
    // The threshold is the library's to check (0 is refused there).
    if (i.secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    const std::string secret_hex = hex_of(i.secret);
    const mpc::ConstStrList id_list(i.ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_import_private_key_recipient(i.threshold, mpc::const_str(secret_hex),
                                                                   id_list.array(), mpc::const_str(i.room),
                                                                   mpc::const_str(host), cb, ctx);
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_import_private_key_recipient", call);
    co_return keygen_result(std::move(r));
  });
}

PyObject* import_private_key_importer(PyObject* self, PyObject* args, PyObject* kwargs) {
  Ed25519ImportArgs i;  // the flag is converted, never used: the key is always a seed
  if (!convert("PyExportableEd25519.import_private_key_importer", "_is_raw", args, kwargs, i)) return nullptr;
  return bridge::spawn([host = host_of(self), i = std::move(i)]() -> awaitable<Maker> {
    // Other checks and order than PyEd25519's: no threshold, the secret first.
    if (i.secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    if (i.key.size() != 32) co_return bridge::value_error("private_key must be 32 bytes");
    const std::string key_hex = hex_of(i.key);
    const std::string secret_hex = hex_of(i.secret);
    const mpc::ConstStrList id_list(i.ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_exportable_ed25519_import_private_key_importer(
          i.threshold, mpc::const_str(key_hex), mpc::const_str(secret_hex), mpc::const_str(i.room),
          mpc::const_str(host), id_list.array(), cb, ctx);
    };
    auto r = co_await xp::call_double("velto_exportable_ed25519_import_private_key_importer", call);
    co_return keygen_result(std::move(r));
  });
}

// --- synchronous methods ---------------------------------------------------

PyObject* init_keygen(PyObject*, PyObject*) { return methods::init_keygen(&raise_init_keygen_failed); }

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
constexpr char kNew[] = "PyExportableEd25519.__new__";

}  // namespace

PyTypeObject* exportable_ed25519_type() {
  static const std::string doc = py::signature_doc(
      "PyExportableEd25519", "(host_url)",
      "Python wrapper for the ExportableEd25519 MPC protocol.\n\nUsed for Solana (SVM) wallets. The server calls "
      "`sampleKey` and the\nclient calls `receiveKey` (this class).");
  return client_type<mpc::Ed25519, kNew>(g_type, "PyExportableEd25519", doc, g_methods);
}

}  // namespace karvane
