// The ECDSA functions that renew or create shares among a party set given by
// the caller: refresh, reshare (remaining and new parties) and import
// (importer and recipients). Each checks its arguments in its fixed order
// (the host first, the room second), copies them and starts one operation
// task; the group key and the new share text arrive through the
// double-output callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <utility>

#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/ecdsa/operations.hpp"

using namespace velto::executor;


extern "C" ResultFFI velto_ecdsa_refresh(ConstStr secret_share, DoubleCallback callback, void* context,
                                        ConstStr room_uuid, ConstStr host_url) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ecdsa_refresh_body>(
        ffi::share_args<ffi::ecdsa_share_arg>(host_url, room_uuid, secret_share), callback, context);
  });
}

extern "C" ResultFFI velto_ecdsa_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret,
                                                  ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                  DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ecdsa_reshare_new_party_body>(
        ffi::identity_args(new_threshold, keygen_secret, keygen_ids, room_uuid, host_url), callback, context);
  });
}

extern "C" ResultFFI velto_ecdsa_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                        ConstStrArray keygen_ids, ConstStr room_uuid,
                                                        ConstStr host_url, DoubleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ecdsa_reshare_remaining_party_body>(
        ffi::reshare_remaining_args<ffi::ecdsa_share_arg>(new_threshold, secret_share, keygen_ids, room_uuid, host_url),
        callback, context);
  });
}

extern "C" ResultFFI velto_ecdsa_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                             ConstStrArray keygen_ids, ConstStr room_uuid,
                                                             ConstStr host_url, DoubleCallback callback,
                                                             void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    return ffi::start_operation<ecdsa_import_recipient_body>(
        ffi::identity_args(threshold, keygen_secret, keygen_ids, room_uuid, host_url), callback, context);
  });
}

extern "C" ResultFFI velto_ecdsa_import_private_key_importer(uint16_t threshold, ConstStr private_key,
                                                            ConstStr keygen_secret, ConstStr room_uuid,
                                                            ConstStr host_url, ConstStrArray keygen_ids,
                                                            ConstStr chain_code, DoubleCallback callback,
                                                            void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto identity = ffi::identity_args(threshold, keygen_secret, keygen_ids, room_uuid, host_url);
    if (!identity) return ffi::refuse(std::move(identity.error()));
    auto key = ffi::private_key_arg(private_key);
    if (!key) return ffi::refuse(std::move(key.error()));
    auto chain = ffi::chain_code_arg(chain_code);
    if (!chain) return ffi::refuse(std::move(chain.error()));
    EcdsaImportImporterArgs args(std::move(*identity), std::move(*key), *chain);
    return ffi::spawn_operation(callback, context, ffi::operation_task<ecdsa_import_importer_body>(std::move(args)));
  });
}
