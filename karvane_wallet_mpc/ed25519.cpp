#include "karvane_wallet_mpc/ed25519.hpp"

#include "velto-mpc-infra/async/asio.hpp"

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
#include "velto-mpc/ffi/mod.hpp"
#include "velto-mpc/schemes/ed25519.hpp"

namespace karvane {

namespace {

namespace mpc = velto::mpc;
using boost::asio::awaitable;
using bridge::Maker;

using namespace methods;

mpc::Ed25519& ed25519_of(PyObject* self) { return py::value_of<mpc::Ed25519>(self); }

// Key-generation-type outputs: the group key (32 bytes) and the share text.
Maker keygen_result(std::expected<mpc::DoubleOutput, mpc::VeltoError> r) {
  if (!r) return mpc_error(std::move(r.error()));
  Ed25519KeygenResult v{mpc::Ed25519PublicKey::parse_ffi(r->first).bytes, std::move(r->second)};
  return [v = std::move(v)]() -> PyObject* { return new_ed25519_keygen_result(v); };
}

// --- awaitable methods -----------------------------------------------------

PyObject* create_room(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::create_room(ed25519_of(self).host_url(), args, kwargs, "PyEd25519.create_room");
}

PyObject* keygen(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::keygen(ed25519_of(self).host_url(), args, kwargs, "PyEd25519.keygen", &velto_ed25519_keygen,
                         &keygen_result);
}

PyObject* sign(PyObject* self, PyObject* args, PyObject* kwargs) {
  MessageSignArgs s;
  if (!convert("PyEd25519.sign", "derivation_path", args, kwargs, s)) return nullptr;
  return bridge::spawn([host = ed25519_of(self).host_url(), s = std::move(s)]() -> awaitable<Maker> {
    const std::string message_hex = mpc::to_ffi(s.message);
    auto call = [&](SingleCallback cb, void* ctx) {
      return velto_ed25519_sign(mpc::const_str(s.share), mpc::const_str(message_hex), mpc::const_str(s.room),
                                mpc::const_str(host), mpc::u32_array(s.path), cb, ctx);
    };
    auto r = co_await mpc::async_ffi_single(call);
    if (!r) co_return mpc_error(std::move(r.error()));
    Maker m = [signature = mpc::parse_fixed<64>(*r)]() -> PyObject* { return py::byte_list(signature).release(); };
    co_return m;
  });
}

PyObject* refresh(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::refresh(ed25519_of(self).host_url(), args, kwargs, "PyEd25519.refresh", &velto_ed25519_refresh,
                          &keygen_result);
}

PyObject* export_full_private_key(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::export_full_private_key(ed25519_of(self).host_url(), args, kwargs,
                                          "PyEd25519.export_full_private_key", &velto_ed25519_export_full_private_key);
}

PyObject* import_private_key_importer(PyObject* self, PyObject* args, PyObject* kwargs) {
  Ed25519ImportArgs i;
  if (!convert("PyEd25519.import_private_key_importer", "is_raw", args, kwargs, i)) return nullptr;
  return bridge::spawn([host = ed25519_of(self).host_url(), i = std::move(i)]() -> awaitable<Maker> {
    if (i.threshold == 0) co_return bridge::value_error("threshold must be > 0");
    if (i.key.size() != 32) co_return bridge::value_error("private_key must be 32 bytes");
    if (i.secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    const auto key_hex = mpc::to_ffi(as32(i.key));
    const auto secret_hex = mpc::to_ffi(as32(i.secret));
    const mpc::ConstStrList id_list(i.ids);
    const std::uint8_t raw_flag = i.is_raw ? 1 : 0;
    auto call = [&](DoubleCallback cb, void* ctx) {
      return velto_ed25519_import_private_key_importer(i.threshold, mpc::const_str(key_hex.view()),
                                                       mpc::const_str(secret_hex.view()), mpc::const_str(i.room),
                                                       mpc::const_str(host), id_list.array(), raw_flag, cb, ctx);
    };
    auto r = co_await mpc::async_ffi_double(call);
    co_return keygen_result(std::move(r));
  });
}

PyObject* import_private_key_recipient(PyObject* self, PyObject* args, PyObject* kwargs) {
  return identity_operation(ed25519_of(self).host_url(), args, kwargs, "PyEd25519.import_private_key_recipient",
                            "threshold", &velto_ed25519_import_private_key_recipient, &keygen_result);
}

PyObject* reshare_new_party(PyObject* self, PyObject* args, PyObject* kwargs) {
  return identity_operation(ed25519_of(self).host_url(), args, kwargs, "PyEd25519.reshare_new_party",
                            "new_threshold", &velto_ed25519_reshare_new_party, &keygen_result);
}

PyObject* reshare_remaining_party(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::reshare_remaining_party(ed25519_of(self).host_url(), args, kwargs,
                                          "PyEd25519.reshare_remaining_party", &velto_ed25519_reshare_remaining_party,
                                          &keygen_result);
}

// --- synchronous methods ---------------------------------------------------

PyObject* init_keygen(PyObject*, PyObject*) { return methods::init_keygen(); }

PyObject* derive_pubkey(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyEd25519.derive_pubkey", {"secret_share", "derivation_path"}, args, kwargs, a))
    return nullptr;
  std::string share;
  Path path;
  if (!py::to_text(a[0], "secret_share", share) || !py::to_u32_list(a[1], "derivation_path", path)) return nullptr;
  return guard_sync([&]() -> PyObject* {
    auto r = ed25519_of(self).derive_pubkey(share, path);
    if (!r) return to_py_err(r.error());
    return py::byte_list(r->bytes).release();
  });
}

PyObject* export_id(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::export_id<mpc::Ed25519>(self, args, kwargs, "PyEd25519.export_id");
}

PyMethodDef g_methods[] = {
    {"init_keygen", &init_keygen, METH_NOARGS, "init_keygen($self)\n--\n\n"},
    {"create_room", kw<&create_room>(), kKw, "create_room($self, n, api_key)\n--\n\n"},
    {"keygen", kw<&keygen>(), kKw, "keygen($self, room_uuid, n, t, keygen_secret, keygen_ids)\n--\n\n"},
    {"sign", kw<&sign>(), kKw, "sign($self, room_uuid, secret_share, message, derivation_path)\n--\n\n"},
    {"derive_pubkey", kw<&derive_pubkey>(), kKw, "derive_pubkey($self, secret_share, derivation_path)\n--\n\n"},
    {"refresh", kw<&refresh>(), kKw, "refresh($self, room_uuid, secret_share)\n--\n\n"},
    {"export_id", kw<&export_id>(), kKw, "export_id($self, secret_share)\n--\n\n"},
    {"export_full_private_key", kw<&export_full_private_key>(), kKw,
     "export_full_private_key($self, room_uuid, secret_share, export_to)\n--\n\n"},
    {"import_private_key_importer", kw<&import_private_key_importer>(), kKw,
     "import_private_key_importer($self, room_uuid, threshold, private_key, is_raw, keygen_secret, keygen_ids)\n--\n\n"},
    {"import_private_key_recipient", kw<&import_private_key_recipient>(), kKw,
     "import_private_key_recipient($self, room_uuid, threshold, keygen_secret, keygen_ids)\n--\n\n"},
    {"reshare_new_party", kw<&reshare_new_party>(), kKw,
     "reshare_new_party($self, room_uuid, new_threshold, keygen_secret, keygen_ids)\n--\n\n"},
    {"reshare_remaining_party", kw<&reshare_remaining_party>(), kKw,
     "reshare_remaining_party($self, room_uuid, new_threshold, secret_share, keygen_ids)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr}};

PyTypeObject* g_type = nullptr;
constexpr char kNew[] = "PyEd25519.__new__";

}  // namespace

PyTypeObject* ed25519_type() {
  static const std::string doc = py::signature_doc("PyEd25519", "(host_url)");
  return client_type<mpc::Ed25519, kNew>(g_type, "PyEd25519", doc, g_methods);
}

}  // namespace karvane
