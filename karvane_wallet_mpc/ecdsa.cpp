#include "karvane_wallet_mpc/ecdsa.hpp"

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
#include "velto-mpc/schemes/ecdsa.hpp"

namespace karvane {

namespace {

namespace mpc = velto::mpc;
using boost::asio::awaitable;
using bridge::Maker;

using namespace methods;

mpc::Ecdsa& ecdsa_of(PyObject* self) { return py::value_of<mpc::Ecdsa>(self); }

// Key-generation-type outputs: the group key (65 bytes) and the share text.
Maker keygen_result(std::expected<mpc::DoubleOutput, mpc::VeltoError> r) {
  if (!r) return mpc_error(std::move(r.error()));
  const auto key = mpc::EcdsaPublicKey::parse_ffi(r->first);
  EcdsaKeygenResult v{key.bytes, key.compressed(), std::move(r->second)};
  return [v = std::move(v)]() -> PyObject* { return new_ecdsa_keygen_result(v); };
}

// --- awaitable methods -----------------------------------------------------

PyObject* create_room(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::create_room(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.create_room");
}

PyObject* keygen(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::keygen(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.keygen", &velto_ecdsa_keygen,
                         &keygen_result);
}

PyObject* sign(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[4];
  if (!py::match_args("PyEcdsa.sign", {"room_uuid", "secret_share", "msg_hash", "derivation_path"}, args, kwargs,
                      a))
    return nullptr;
  std::string room, share;
  Path path;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_text(a[1], "secret_share", share) ||
      !py::check_instance(a[2], "msg_hash", message_hash_type(), "PyMessageHash"))
    return nullptr;
  const auto hash = message_hash_of(a[2]).bytes;
  if (!py::to_u32_list(a[3], "derivation_path", path)) return nullptr;
  return bridge::spawn([host = ecdsa_of(self).host_url(), room, share, hash, path]() -> awaitable<Maker> {
    const auto hash_hex = mpc::to_ffi(hash);
    auto call = [&](SingleCallback cb, void* ctx) {
      return velto_ecdsa_sign(mpc::const_str(share), mpc::const_str(hash_hex.view()), mpc::const_str(room),
                              mpc::const_str(host), mpc::u32_array(path), cb, ctx);
    };
    auto r = co_await mpc::async_ffi_single(call);
    if (!r) co_return mpc_error(std::move(r.error()));
    const auto sig = mpc::EcdsaSignature::parse_ffi(*r);
    EcdsaSignatureValue v{};
    std::copy(sig.r().begin(), sig.r().end(), v.r.begin());
    std::copy(sig.s().begin(), sig.s().end(), v.s.begin());
    v.v = sig.v();
    v.der.assign(sig.der().begin(), sig.der().end());
    Maker m = [v = std::move(v)]() -> PyObject* { return new_ecdsa_signature(v); };
    co_return m;
  });
}

PyObject* refresh(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::refresh(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.refresh", &velto_ecdsa_refresh,
                          &keygen_result);
}

PyObject* export_full_private_key(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::export_full_private_key(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.export_full_private_key",
                                          &velto_ecdsa_export_full_private_key);
}

PyObject* import_private_key_importer(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[5];
  if (!py::match_args("PyEcdsa.import_private_key_importer",
                      {"room_uuid", "threshold", "private_key", "keygen_secret", "keygen_ids"}, args, kwargs, a))
    return nullptr;
  std::string room;
  std::uint16_t threshold = 0;
  Bytes key, secret;
  Texts ids;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_u16(a[1], "threshold", threshold) ||
      !py::to_byte_list(a[2], "private_key", key) || !py::to_byte_list(a[3], "keygen_secret", secret) ||
      !py::to_text_list(a[4], "keygen_ids", ids))
    return nullptr;
  return bridge::spawn(
      [host = ecdsa_of(self).host_url(), room, threshold, key, secret, ids]() -> awaitable<Maker> {
        if (threshold == 0) co_return bridge::value_error("threshold must be > 0");
        if (key.size() != 32) co_return bridge::value_error("private_key must be 32 bytes");
        if (secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
        const auto key_hex = mpc::to_ffi(as32(key));
        const auto secret_hex = mpc::to_ffi(as32(secret));
        const mpc::ConstStrList id_list(ids);
        auto call = [&](DoubleCallback cb, void* ctx) {
          return velto_ecdsa_import_private_key_importer(threshold, mpc::const_str(key_hex.view()),
                                                         mpc::const_str(secret_hex.view()), mpc::const_str(room),
                                                         mpc::const_str(host), id_list.array(), mpc::const_str(""),
                                                         cb, ctx);
        };
        auto r = co_await mpc::async_ffi_double(call);
        co_return keygen_result(std::move(r));
      });
}

PyObject* import_private_key_recipient(PyObject* self, PyObject* args, PyObject* kwargs) {
  return identity_operation(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.import_private_key_recipient",
                            "threshold", &velto_ecdsa_import_private_key_recipient, &keygen_result);
}

PyObject* reshare_new_party(PyObject* self, PyObject* args, PyObject* kwargs) {
  return identity_operation(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.reshare_new_party", "new_threshold",
                            &velto_ecdsa_reshare_new_party, &keygen_result);
}

PyObject* reshare_remaining_party(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::reshare_remaining_party(ecdsa_of(self).host_url(), args, kwargs, "PyEcdsa.reshare_remaining_party",
                                          &velto_ecdsa_reshare_remaining_party, &keygen_result);
}

// --- synchronous methods ---------------------------------------------------

PyObject* init_keygen(PyObject*, PyObject*) { return methods::init_keygen(); }

PyObject* derive_pubkey(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyEcdsa.derive_pubkey", {"secret_share", "derivation_path"}, args, kwargs, a)) return nullptr;
  std::string share;
  Path path;
  if (!py::to_text(a[0], "secret_share", share) || !py::to_u32_list(a[1], "derivation_path", path)) return nullptr;
  return guard_sync([&]() -> PyObject* {
    auto r = ecdsa_of(self).derive_pubkey(share, path);
    if (!r) return to_py_err(r.error());
    py::Ref full = py::byte_list(r->bytes);
    py::Ref compressed = py::byte_list(r->compressed());
    if (!full || !compressed) return nullptr;
    return PyTuple_Pack(2, full.get(), compressed.get());
  });
}

PyObject* export_id(PyObject* self, PyObject* args, PyObject* kwargs) {
  return methods::export_id<mpc::Ecdsa>(self, args, kwargs, "PyEcdsa.export_id");
}

PyObject* derive_private_key_from_xpriv(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyEcdsa.derive_private_key_from_xpriv", {"xpriv", "derivation_path"}, args, kwargs, a))
    return nullptr;
  std::string xpriv;
  Path path;
  if (!py::to_text(a[0], "xpriv", xpriv) || !py::to_u32_list(a[1], "derivation_path", path)) return nullptr;
  return guard_sync([&]() -> PyObject* {
    auto r = ecdsa_of(self).derive_private_key_from_xpriv(xpriv, path);
    if (!r) return to_py_err(r.error());
    return py::byte_list(*r).release();
  });
}

PyMethodDef g_methods[] = {
    {"init_keygen", &init_keygen, METH_NOARGS, "init_keygen($self)\n--\n\n"},
    {"create_room", kw<&create_room>(), kKw, "create_room($self, n, api_key)\n--\n\n"},
    {"keygen", kw<&keygen>(), kKw, "keygen($self, room_uuid, n, t, keygen_secret, keygen_ids)\n--\n\n"},
    {"sign", kw<&sign>(), kKw, "sign($self, room_uuid, secret_share, msg_hash, derivation_path)\n--\n\n"},
    {"derive_pubkey", kw<&derive_pubkey>(), kKw, "derive_pubkey($self, secret_share, derivation_path)\n--\n\n"},
    {"refresh", kw<&refresh>(), kKw, "refresh($self, room_uuid, secret_share)\n--\n\n"},
    {"export_id", kw<&export_id>(), kKw, "export_id($self, secret_share)\n--\n\n"},
    {"export_full_private_key", kw<&export_full_private_key>(), kKw,
     "export_full_private_key($self, room_uuid, secret_share, export_to)\n--\n\n"},
    {"derive_private_key_from_xpriv", kw<&derive_private_key_from_xpriv>(), kKw,
     "derive_private_key_from_xpriv($self, xpriv, derivation_path)\n--\n\n"},
    {"import_private_key_importer", kw<&import_private_key_importer>(), kKw,
     "import_private_key_importer($self, room_uuid, threshold, private_key, keygen_secret, keygen_ids)\n--\n\n"},
    {"import_private_key_recipient", kw<&import_private_key_recipient>(), kKw,
     "import_private_key_recipient($self, room_uuid, threshold, keygen_secret, keygen_ids)\n--\n\n"},
    {"reshare_new_party", kw<&reshare_new_party>(), kKw,
     "reshare_new_party($self, room_uuid, new_threshold, keygen_secret, keygen_ids)\n--\n\n"},
    {"reshare_remaining_party", kw<&reshare_remaining_party>(), kKw,
     "reshare_remaining_party($self, room_uuid, new_threshold, secret_share, keygen_ids)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr}};

PyTypeObject* g_type = nullptr;
constexpr char kNew[] = "PyEcdsa.__new__";

}  // namespace

PyTypeObject* ecdsa_type() {
  static const std::string doc = py::signature_doc("PyEcdsa", "(host_url)");
  return client_type<mpc::Ecdsa, kNew>(g_type, "PyEcdsa", doc, g_methods);
}

}  // namespace karvane
