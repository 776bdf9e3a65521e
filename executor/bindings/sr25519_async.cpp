// The asynchronous sr25519 functions: each checks and copies its arguments in
// its fixed order (the host first, the room second) and starts one detached
// operation task whose outcome arrives through the callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <utility>

#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/sr25519_args.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/sr25519/operations.hpp"

using namespace velto::executor;

extern "C" ResultFFI velto_sr25519_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid,
                                          ConstStr host_url, ConstStrArray keygen_ids, DoubleCallback callback,
                                          void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto args = ffi::keygen_args(n, t, keygen_secret, room_uuid, host_url, keygen_ids);
    if (!args) return ffi::refuse(std::move(args.error()));
    // A threshold above n could never be met: refused before anything
    // connects, after the other arguments.
    if (auto fits = check_threshold_at_most(t, n); !fits) {
      return ffi::refuse(FfiError(FfiErrorKind::InvalidNumberOfParties, std::move(fits.error())));
    }
    return ffi::spawn_operation(callback, context, ffi::operation_task<sr25519_keygen_body>(std::move(*args)));
  });
}

extern "C" ResultFFI velto_sr25519_sign(ConstStr secret_share, ConstStr message, ConstStr room_uuid,
                                        ConstStr host_url, ConstStrArray derivation_path, SingleCallback callback,
                                        void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = ffi::host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = ffi::room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto bytes = ffi::message_arg(message);
    if (!bytes) return ffi::refuse(std::move(bytes.error()));
    auto share = ffi::sr25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    // The junctions are checked by the operation (a hard one fails there).
    auto path = ffi::sr25519_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    Sr25519SignArgs args(std::move(*host), *room, std::move(*bytes), std::move(*share), std::move(*path));
    return ffi::spawn_operation(callback, context, ffi::operation_task<sr25519_sign_body>(std::move(args)));
  });
}

// A sender's success tells nothing of the receiver's: it succeeds once its
// weighted share is handed to the session.
extern "C" ResultFFI velto_sr25519_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                           ConstStr room_uuid, ConstStr host_url,
                                                           SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<sr25519_export_body>(
        ffi::export_args<ffi::sr25519_share_arg>(host_url, room_uuid, secret_share, export_to), callback, context);
  });
}

extern "C" ResultFFI velto_sr25519_refresh(ConstStr secret_share, DoubleCallback callback, void* context,
                                           ConstStr room_uuid, ConstStr host_url) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<sr25519_refresh_body>(
        ffi::share_args<ffi::sr25519_share_arg>(host_url, room_uuid, secret_share), callback, context);
  });
}

extern "C" ResultFFI velto_sr25519_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret,
                                                     ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                     DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<sr25519_reshare_new_party_body>(
        ffi::identity_args(new_threshold, keygen_secret, keygen_ids, room_uuid, host_url), callback, context);
  });
}

extern "C" ResultFFI velto_sr25519_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                           ConstStrArray keygen_ids, ConstStr room_uuid,
                                                           ConstStr host_url, DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<sr25519_reshare_remaining_party_body>(
        ffi::reshare_remaining_args<ffi::sr25519_share_arg>(new_threshold, secret_share, keygen_ids, room_uuid,
                                                            host_url),
        callback, context);
  });
}

extern "C" ResultFFI velto_sr25519_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                                ConstStrArray keygen_ids, ConstStr room_uuid,
                                                                ConstStr host_url, DoubleCallback callback,
                                                                void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<sr25519_import_recipient_body>(
        ffi::identity_args(threshold, keygen_secret, keygen_ids, room_uuid, host_url), callback, context);
  });
}

extern "C" ResultFFI velto_sr25519_import_private_key_importer(uint16_t threshold, ConstStr private_key,
                                                               ConstStr keygen_secret, ConstStr room_uuid,
                                                               ConstStr host_url, ConstStrArray keygen_ids,
                                                               uint8_t is_raw, DoubleCallback callback,
                                                               void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto identity = ffi::identity_args(threshold, keygen_secret, keygen_ids, room_uuid, host_url);
    if (!identity) return ffi::refuse(std::move(identity.error()));
    auto key = ffi::private_key_arg(private_key);
    if (!key) return ffi::refuse(std::move(key.error()));
    const auto form = ffi::sr25519_key_form_arg(is_raw);
    Sr25519ImportImporterArgs args(std::move(*identity), std::move(*key), form);
    return ffi::spawn_operation(callback, context, ffi::operation_task<sr25519_import_importer_body>(std::move(args)));
  });
}
