// The asynchronous exportable Ed25519 functions: each checks and copies its
// arguments in its fixed order (the host first, the room second), and starts
// one detached operation task whose outcome arrives through the callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <optional>
#include <utility>

#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/exportable_ed25519/operations.hpp"

using namespace velto::executor;

namespace {

// The arguments of a party named by its keygen identity, in the order
// host, room, counts, keygen secret, keygen ids. No `n` for the operations
// that count the keygen ids instead.
std::expected<ExportableIdentityArgs, FfiError> identity_args(ConstStr host_url, ConstStr room_uuid,
                                                             std::optional<std::uint16_t> n, std::uint16_t t,
                                                             ConstStr keygen_secret, ConstStrArray keygen_ids) {
  auto host = ffi::host_arg(host_url);
  if (!host) return std::unexpected(std::move(host.error()));
  auto room = ffi::room_arg(room_uuid);
  if (!room) return std::unexpected(std::move(room.error()));
  if (n) {
    auto parties = ffi::party_count_arg(*n);
    if (!parties) return std::unexpected(std::move(parties.error()));
  }
  auto threshold = ffi::party_count_arg(t);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  auto own = ffi::keygen_secret_arg(keygen_secret);
  if (!own) return std::unexpected(std::move(own.error()));
  auto ids = ffi::optional_keygen_ids_arg(keygen_ids);
  if (!ids) return std::unexpected(std::move(ids.error()));
  return ExportableIdentityArgs(std::move(*host), *room, n.value_or(0), t, std::move(*own), std::move(*ids));
}

// Host, room, then the share: the common start of the share-type functions.
std::expected<ExportableShareArgs, FfiError> share_args(ConstStr host_url, ConstStr room_uuid,
                                                        ConstStr secret_share) {
  auto host = ffi::host_arg(host_url);
  if (!host) return std::unexpected(std::move(host.error()));
  auto room = ffi::room_arg(room_uuid);
  if (!room) return std::unexpected(std::move(room.error()));
  auto share = ffi::exportable_ed25519_share_arg(secret_share);
  if (!share) return std::unexpected(std::move(share.error()));
  return ExportableShareArgs(std::move(*host), *room, std::move(*share));
}

template <auto Body>
ResultFFI start_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid, ConstStr host_url,
                       ConstStrArray keygen_ids, DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto args = identity_args(host_url, room_uuid, n, t, keygen_secret, keygen_ids);
    if (!args) return ffi::refuse(std::move(args.error()));
    return ffi::spawn_operation(callback, context, ffi::operation_task<Body>(std::move(*args)));
  });
}

template <auto Body>
ResultFFI start_identity(uint16_t threshold, ConstStr keygen_secret, ConstStrArray keygen_ids, ConstStr room_uuid,
                         ConstStr host_url, DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto args = identity_args(host_url, room_uuid, std::nullopt, threshold, keygen_secret, keygen_ids);
    if (!args) return ffi::refuse(std::move(args.error()));
    return ffi::spawn_operation(callback, context, ffi::operation_task<Body>(std::move(*args)));
  });
}

}  // namespace

extern "C" ResultFFI velto_exportable_ed25519_sample_key(uint16_t n, uint16_t t, ConstStr keygen_secret,
                                                         ConstStr room_uuid, ConstStr host_url,
                                                         ConstStrArray keygen_ids, DoubleCallback callback,
                                                         void* context) {
  return start_keygen<exportable_sample_key_body>(n, t, keygen_secret, room_uuid, host_url, keygen_ids, callback,
                                                  context);
}

extern "C" ResultFFI velto_exportable_ed25519_receive_key(uint16_t n, uint16_t t, ConstStr keygen_secret,
                                                          ConstStr room_uuid, ConstStr host_url,
                                                          ConstStrArray keygen_ids, DoubleCallback callback,
                                                          void* context) {
  return start_keygen<exportable_receive_key_body>(n, t, keygen_secret, room_uuid, host_url, keygen_ids, callback,
                                                   context);
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
    ExportableShareArgs args(std::move(*host), *room, std::move(*share));
    args.message = std::move(*bytes);
    return ffi::spawn_operation(callback, context, ffi::operation_task<exportable_sign_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_exportable_ed25519_refresh(ConstStr secret_share, DoubleCallback callback, void* context,
                                                      ConstStr room_uuid, ConstStr host_url) {
  return ffi::guarded([&]() -> ResultFFI {
    auto args = share_args(host_url, room_uuid, secret_share);
    if (!args) return ffi::refuse(std::move(args.error()));
    return ffi::spawn_operation(callback, context, ffi::operation_task<exportable_refresh_body>(std::move(*args)));
  });
}

extern "C" ResultFFI velto_exportable_ed25519_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret,
                                                                ConstStrArray keygen_ids, ConstStr room_uuid,
                                                                ConstStr host_url, DoubleCallback callback,
                                                                void* context) {
  return start_identity<exportable_reshare_new_party_body>(new_threshold, keygen_secret, keygen_ids, room_uuid,
                                                           host_url, callback, context);
}

extern "C" ResultFFI velto_exportable_ed25519_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                                      ConstStrArray keygen_ids, ConstStr room_uuid,
                                                                      ConstStr host_url, DoubleCallback callback,
                                                                      void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = ffi::host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = ffi::room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto t = ffi::party_count_arg(new_threshold);
    if (!t) return ffi::refuse(std::move(t.error()));
    auto share = ffi::exportable_ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto ids = ffi::optional_keygen_ids_arg(keygen_ids);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    ExportableShareArgs args(std::move(*host), *room, std::move(*share));
    args.new_threshold = *t;
    args.keygen_ids = std::move(*ids);
    return ffi::spawn_operation(callback, context,
                                ffi::operation_task<exportable_reshare_remaining_party_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_exportable_ed25519_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                                     ConstStr room_uuid, ConstStr host_url,
                                                                     SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto args = share_args(host_url, room_uuid, secret_share);
    if (!args) return ffi::refuse(std::move(args.error()));
    auto receiver = ffi::keygen_id_arg(export_to);
    if (!receiver) return ffi::refuse(std::move(receiver.error()));
    args->export_to = *receiver;
    return ffi::spawn_operation(callback, context, ffi::operation_task<exportable_export_body>(std::move(*args)));
  });
}

extern "C" ResultFFI velto_exportable_ed25519_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                                           ConstStrArray keygen_ids,
                                                                           ConstStr room_uuid, ConstStr host_url,
                                                                           DoubleCallback callback, void* context) {
  return start_identity<exportable_import_recipient_body>(threshold, keygen_secret, keygen_ids, room_uuid, host_url,
                                                          callback, context);
}

extern "C" ResultFFI velto_exportable_ed25519_import_private_key_importer(uint16_t threshold, ConstStr private_key,
                                                                          ConstStr keygen_secret, ConstStr room_uuid,
                                                                          ConstStr host_url, ConstStrArray keygen_ids,
                                                                          DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto identity = identity_args(host_url, room_uuid, std::nullopt, threshold, keygen_secret, keygen_ids);
    if (!identity) return ffi::refuse(std::move(identity.error()));
    auto seed = ffi::private_key_arg(private_key);
    if (!seed) return ffi::refuse(std::move(seed.error()));
    ExportableImporterArgs args(std::move(*identity), std::move(*seed));
    return ffi::spawn_operation(callback, context,
                                ffi::operation_task<exportable_import_importer_body>(std::move(args)));
  });
}
