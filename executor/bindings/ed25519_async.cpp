// The asynchronous Ed25519 functions: each checks and copies its arguments in
// its fixed order (the host first, the room second) and starts one detached
// operation task whose outcome arrives through the callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <utility>

#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/ed25519/operations.hpp"

using namespace velto::executor;

extern "C" ResultFFI velto_ed25519_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid,
                                          ConstStr host_url, ConstStrArray keygen_ids, DoubleCallback callback,
                                          void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ed25519_keygen_body>(
        ffi::keygen_args(n, t, keygen_secret, room_uuid, host_url, keygen_ids), callback, context);
  });
}

extern "C" ResultFFI velto_ed25519_sign(ConstStr secret_share, ConstStr message, ConstStr room_uuid, ConstStr host_url,
                                        U32Array derivation_path, SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = ffi::host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = ffi::room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto bytes = ffi::message_arg(message);
    if (!bytes) return ffi::refuse(std::move(bytes.error()));
    auto share = ffi::ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    // The indices are checked by the operation (a hardened one fails there).
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    Ed25519SignArgs args(std::move(*host), *room, std::move(*bytes), std::move(*share), std::move(*path));
    return ffi::spawn_operation(callback, context, ffi::operation_task<ed25519_sign_body>(std::move(args)));
  });
}

// The receiver's success tells nothing of the others' and a sender's success
// nothing of the receiver's: a sender succeeds once its weighted share is
// handed to the session, even if the receiver then fails.
extern "C" ResultFFI velto_ed25519_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                           ConstStr room_uuid, ConstStr host_url,
                                                           SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ed25519_export_body>(
        ffi::export_args<ffi::ed25519_share_arg>(host_url, room_uuid, secret_share, export_to), callback, context);
  });
}
