// The asynchronous exportable Ed25519 functions: each checks and copies its
// arguments in its fixed order (the host first, the room second), and starts
// one detached operation task whose outcome arrives through the callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <utility>

#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/exportable_ed25519/operations.hpp"

using namespace velto::executor;

extern "C" ResultFFI velto_exportable_ed25519_sample_key(uint16_t n, uint16_t t, ConstStr keygen_secret,
                                                         ConstStr room_uuid, ConstStr host_url,
                                                         ConstStrArray keygen_ids, DoubleCallback callback,
                                                         void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_sample_key_body>(
        ffi::keygen_args(n, t, keygen_secret, room_uuid, host_url, keygen_ids), callback, context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_receive_key(uint16_t n, uint16_t t, ConstStr keygen_secret,
                                                          ConstStr room_uuid, ConstStr host_url,
                                                          ConstStrArray keygen_ids, DoubleCallback callback,
                                                          void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_receive_key_body>(
        ffi::keygen_args(n, t, keygen_secret, room_uuid, host_url, keygen_ids), callback, context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_sign(ConstStr secret_share, ConstStr message, ConstStr room_uuid,
                                                   ConstStr host_url, SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = ffi::host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = ffi::room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto bytes = ffi::message_arg(message);
    if (!bytes) return ffi::refuse(std::move(bytes.error()));
    auto share = ffi::exportable_ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    ExportableSignArgs args(std::move(*host), *room, std::move(*bytes), std::move(*share));
    return ffi::spawn_operation(callback, context, ffi::operation_task<exportable_sign_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_exportable_ed25519_refresh(ConstStr secret_share, DoubleCallback callback, void* context,
                                                      ConstStr room_uuid, ConstStr host_url) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_refresh_body>(
        ffi::share_args<ffi::exportable_ed25519_share_arg>(host_url, room_uuid, secret_share), callback, context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret,
                                                                ConstStrArray keygen_ids, ConstStr room_uuid,
                                                                ConstStr host_url, DoubleCallback callback,
                                                                void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_reshare_new_party_body>(
        ffi::identity_args(new_threshold, keygen_secret, keygen_ids, room_uuid, host_url), callback, context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                                      ConstStrArray keygen_ids, ConstStr room_uuid,
                                                                      ConstStr host_url, DoubleCallback callback,
                                                                      void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_reshare_remaining_party_body>(
        ffi::reshare_remaining_args<ffi::exportable_ed25519_share_arg>(new_threshold, secret_share, keygen_ids,
                                                                       room_uuid, host_url),
        callback, context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                                     ConstStr room_uuid, ConstStr host_url,
                                                                     SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_export_body>(
        ffi::export_args<ffi::exportable_ed25519_share_arg>(host_url, room_uuid, secret_share, export_to), callback,
        context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                                           ConstStrArray keygen_ids,
                                                                           ConstStr room_uuid, ConstStr host_url,
                                                                           DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<exportable_import_recipient_body>(
        ffi::identity_args(threshold, keygen_secret, keygen_ids, room_uuid, host_url), callback, context);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_import_private_key_importer(uint16_t threshold, ConstStr private_key,
                                                                          ConstStr keygen_secret, ConstStr room_uuid,
                                                                          ConstStr host_url, ConstStrArray keygen_ids,
                                                                          DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto identity = ffi::identity_args(threshold, keygen_secret, keygen_ids, room_uuid, host_url);
    if (!identity) return ffi::refuse(std::move(identity.error()));
    auto seed = ffi::private_key_arg(private_key);
    if (!seed) return ffi::refuse(std::move(seed.error()));
    ExportableImporterArgs args(std::move(*identity), std::move(*seed));
    return ffi::spawn_operation(callback, context,
                                ffi::operation_task<exportable_import_importer_body>(std::move(args)));
  });
}
