// velto_ecdsa_keygen, velto_ecdsa_sign and velto_ecdsa_export_full_private_key:
// each checks and copies its arguments in its fixed order (host first, room
// second) and starts one detached operation task whose outcome arrives
// through the callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <utility>

#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/ecdsa/operations.hpp"

using namespace velto::executor;

extern "C" ResultFFI velto_ecdsa_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid,
                                        ConstStr host_url, ConstStrArray keygen_ids, DoubleCallback callback,
                                        void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = ffi::host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = ffi::room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto parties = ffi::party_count_arg(n);
    if (!parties) return ffi::refuse(std::move(parties.error()));
    auto threshold = ffi::party_count_arg(t);
    if (!threshold) return ffi::refuse(std::move(threshold.error()));
    auto own = ffi::keygen_secret_arg(keygen_secret);
    if (!own) return ffi::refuse(std::move(own.error()));
    // Unlike the other functions, keygen refuses a null array with a count.
    auto ids = parse_keygen_ids(keygen_ids.ptr, keygen_ids.count);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    KeygenArgs args(std::move(*host), *room, *parties, *threshold, std::move(*own), std::move(*ids));
    return ffi::spawn_operation(callback, context, ffi::operation_task<ecdsa_keygen_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_sign(ConstStr secret_share, ConstStr msg_hash, ConstStr room_uuid,
                                      ConstStr host_url, U32Array derivation_path, SingleCallback callback,
                                      void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = ffi::host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = ffi::room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto hash = ffi::msg_hash_arg(msg_hash);
    if (!hash) return ffi::refuse(std::move(hash.error()));
    auto share = ffi::ecdsa_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    // The indices are checked by the operation (a hardened one fails there).
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    EcdsaSignArgs args(std::move(*host), *room, *hash, std::move(*share), std::move(*path));
    return ffi::spawn_operation(callback, context, ffi::operation_task<ecdsa_sign_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                         ConstStr room_uuid, ConstStr host_url,
                                                         SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ecdsa_export_body>(
        ffi::export_args<ffi::ecdsa_share_arg>(host_url, room_uuid, secret_share, export_to), callback, context);
  });
}
