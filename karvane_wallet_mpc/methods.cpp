#include "karvane_wallet_mpc/methods.hpp"

#include <utility>

#include "karvane_wallet_mpc/error.hpp"
#include "karvane_wallet_mpc/py/args.hpp"
#include "karvane_wallet_mpc/types.hpp"
#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/schemes/common.hpp"

namespace karvane::methods {

namespace mpc = velto::mpc;
using boost::asio::awaitable;
using bridge::Maker;

std::array<std::uint8_t, 32> as32(const Bytes& b) {
  std::array<std::uint8_t, 32> out{};
  for (std::size_t i = 0; i < 32; ++i) out[i] = b[i];
  return out;
}

Maker mpc_error(mpc::VeltoError e) {
  return [e = std::move(e)]() -> PyObject* { return to_py_err(e); };
}

Maker text_value(std::string t) {
  return [t = std::move(t)]() -> PyObject* { return py::text(t).release(); };
}

Maker optional_text(std::string t) {
  return [t = std::move(t)]() -> PyObject* {
    if (t.empty()) Py_RETURN_NONE;
    return py::text(t).release();
  };
}

bool convert(const char* method, PyObject* args, PyObject* kwargs, KeygenArgs& out) {
  PyObject* a[5];
  return py::match_args(method, {"room_uuid", "n", "t", "keygen_secret", "keygen_ids"}, args, kwargs, a) &&
         py::to_text(a[0], "room_uuid", out.room) && py::to_u16(a[1], "n", out.n) && py::to_u16(a[2], "t", out.t) &&
         py::to_byte_list(a[3], "keygen_secret", out.secret) && py::to_text_list(a[4], "keygen_ids", out.ids);
}

bool convert(const char* method, const char* threshold_name, PyObject* args, PyObject* kwargs, IdentityArgs& out) {
  PyObject* a[4];
  return py::match_args(method, {"room_uuid", threshold_name, "keygen_secret", "keygen_ids"}, args, kwargs, a) &&
         py::to_text(a[0], "room_uuid", out.room) && py::to_u16(a[1], threshold_name, out.threshold) &&
         py::to_byte_list(a[2], "keygen_secret", out.secret) && py::to_text_list(a[3], "keygen_ids", out.ids);
}

bool convert(const char* method, const char* path_name, PyObject* args, PyObject* kwargs, MessageSignArgs& out) {
  PyObject* a[4];
  return py::match_args(method, {"room_uuid", "secret_share", "message", path_name}, args, kwargs, a) &&
         py::to_text(a[0], "room_uuid", out.room) && py::to_text(a[1], "secret_share", out.share) &&
         py::to_byte_list(a[2], "message", out.message) && py::to_u32_list(a[3], path_name, out.path);
}

bool convert(const char* method, const char* flag_name, PyObject* args, PyObject* kwargs, Ed25519ImportArgs& out) {
  PyObject* a[6];
  return py::match_args(method, {"room_uuid", "threshold", "private_key", flag_name, "keygen_secret", "keygen_ids"},
                        args, kwargs, a) &&
         py::to_text(a[0], "room_uuid", out.room) && py::to_u16(a[1], "threshold", out.threshold) &&
         py::to_byte_list(a[2], "private_key", out.key) && py::to_bool(a[3], flag_name, out.is_raw) &&
         py::to_byte_list(a[4], "keygen_secret", out.secret) && py::to_text_list(a[5], "keygen_ids", out.ids);
}

const char* refusal(const KeygenArgs& k) {
  if (k.n == 0) return "n must be > 0";
  if (k.t == 0) return "t must be > 0";
  if (k.secret.size() != 32) return "keygen_secret must be 32 bytes";
  return nullptr;
}

PyObject* create_room(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                      FailureMaker failure) {
  PyObject* a[2];
  if (!py::match_args(method, {"n", "api_key"}, args, kwargs, a)) return nullptr;
  std::uint16_t n = 0;
  std::string api_key;
  if (!py::to_u16(a[0], "n", n) || !py::to_text(a[1], "api_key", api_key)) return nullptr;
  return bridge::spawn([host, n, api_key, failure]() -> awaitable<Maker> {
    if (n == 0) co_return bridge::value_error("n must be > 0");
    auto r = co_await mpc::create_room(host, n, api_key);
    if (!r) co_return failure(std::move(r.error()));
    co_return text_value(std::move(*r));
  });
}

PyObject* keygen(const std::string& host, PyObject* args, PyObject* kwargs, const char* method, KeygenFn fn,
                 KeygenResultMaker result) {
  KeygenArgs k;
  if (!convert(method, args, kwargs, k)) return nullptr;
  return bridge::spawn([host, k = std::move(k), fn, result]() -> awaitable<Maker> {
    if (const char* text = refusal(k)) co_return bridge::value_error(text);
    const auto secret_hex = mpc::to_ffi(as32(k.secret));
    const mpc::ConstStrList id_list(k.ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return fn(k.n, k.t, mpc::const_str(secret_hex.view()), mpc::const_str(k.room), mpc::const_str(host),
                id_list.array(), cb, ctx);
    };
    auto r = co_await mpc::async_ffi_double(call);
    co_return result(std::move(r));
  });
}

PyObject* identity_operation(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                             const char* threshold_name, IdentityFn fn, KeygenResultMaker result) {
  IdentityArgs i;
  if (!convert(method, threshold_name, args, kwargs, i)) return nullptr;
  return bridge::spawn([host, i = std::move(i), fn, result]() -> awaitable<Maker> {
    if (i.threshold == 0) co_return bridge::value_error("threshold must be > 0");
    if (i.secret.size() != 32) co_return bridge::value_error("keygen_secret must be 32 bytes");
    const auto secret_hex = mpc::to_ffi(as32(i.secret));
    const mpc::ConstStrList id_list(i.ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return fn(i.threshold, mpc::const_str(secret_hex.view()), id_list.array(), mpc::const_str(i.room),
                mpc::const_str(host), cb, ctx);
    };
    auto r = co_await mpc::async_ffi_double(call);
    co_return result(std::move(r));
  });
}

PyObject* refresh(const std::string& host, PyObject* args, PyObject* kwargs, const char* method, RefreshFn fn,
                  KeygenResultMaker result) {
  PyObject* a[2];
  if (!py::match_args(method, {"room_uuid", "secret_share"}, args, kwargs, a)) return nullptr;
  std::string room, share;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_text(a[1], "secret_share", share)) return nullptr;
  return bridge::spawn([host, room, share, fn, result]() -> awaitable<Maker> {
    auto call = [&](DoubleCallback cb, void* ctx) {
      return fn(mpc::const_str(share), cb, ctx, mpc::const_str(room), mpc::const_str(host));
    };
    auto r = co_await mpc::async_ffi_double(call);
    co_return result(std::move(r));
  });
}

PyObject* export_full_private_key(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                                  ExportFn fn) {
  PyObject* a[3];
  if (!py::match_args(method, {"room_uuid", "secret_share", "export_to"}, args, kwargs, a)) return nullptr;
  std::string room, share, export_to;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_text(a[1], "secret_share", share) ||
      !py::to_text(a[2], "export_to", export_to))
    return nullptr;
  return bridge::spawn([host, room, share, export_to, fn]() -> awaitable<Maker> {
    auto call = [&](SingleCallback cb, void* ctx) {
      return fn(mpc::const_str(share), mpc::const_str(export_to), mpc::const_str(room), mpc::const_str(host), cb,
                ctx);
    };
    auto r = co_await mpc::async_ffi_single(call);
    if (!r) co_return mpc_error(std::move(r.error()));
    co_return optional_text(std::move(*r));
  });
}

PyObject* reshare_remaining_party(const std::string& host, PyObject* args, PyObject* kwargs, const char* method,
                                  ReshareRemainingFn fn, KeygenResultMaker result) {
  PyObject* a[4];
  if (!py::match_args(method, {"room_uuid", "new_threshold", "secret_share", "keygen_ids"}, args, kwargs, a))
    return nullptr;
  std::string room, share;
  std::uint16_t threshold = 0;
  Texts ids;
  if (!py::to_text(a[0], "room_uuid", room) || !py::to_u16(a[1], "new_threshold", threshold) ||
      !py::to_text(a[2], "secret_share", share) || !py::to_text_list(a[3], "keygen_ids", ids))
    return nullptr;
  return bridge::spawn([host, room, threshold, share, ids, fn, result]() -> awaitable<Maker> {
    if (threshold == 0) co_return bridge::value_error("threshold must be > 0");
    const mpc::ConstStrList id_list(ids);
    auto call = [&](DoubleCallback cb, void* ctx) {
      return fn(threshold, mpc::const_str(share), id_list.array(), mpc::const_str(room), mpc::const_str(host), cb,
                ctx);
    };
    auto r = co_await mpc::async_ffi_double(call);
    co_return result(std::move(r));
  });
}

PyObject* init_keygen(FailureRaiser failure) {
  return guard_sync([&]() -> PyObject* {
    auto r = mpc::init_keygen();
    if (!r) return failure(r.error());
    return new_init_keygen_result(
        InitKeygenResult{std::move(r->keygen_id), Bytes(r->keygen_secret.begin(), r->keygen_secret.end())});
  });
}

}  // namespace karvane::methods
