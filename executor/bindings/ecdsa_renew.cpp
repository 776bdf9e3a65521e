// The ECDSA functions that renew or create shares among a party set given by
// the caller: refresh, reshare (remaining and new parties) and import
// (importer and recipients). Each checks its arguments in its fixed order
// (the host first, the room second), copies them and starts one operation
// task; the group key and the new share text arrive through the
// double-output callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <algorithm>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/bindings/velto.h"
#include "executor/ecdsa/operations.hpp"
#include "executor/error.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {
namespace {

std::expected<server_tools::HostAuthority, FfiError> host_arg(ConstStr host_url) {
  auto authority = ffi::decode_arg(host_url, FfiErrorKind::InvalidHostUrl, parse_host_authority);
  if (!authority) return std::unexpected(std::move(authority.error()));
  return server_tools::HostAuthority::with_tls(std::move(*authority));
}

std::expected<server_tools::RoomUuid, FfiError> room_arg(ConstStr room_uuid) {
  return ffi::decode_arg(room_uuid, FfiErrorKind::InvalidUUID, server_tools::parse_room_uuid);
}

std::expected<std::uint16_t, FfiError> threshold_arg(std::uint16_t t) {
  if (t == 0 || t > kMaxNumberOfParties) {
    return std::unexpected(FfiError(FfiErrorKind::InvalidNumberOfParties, InvalidNumberOfParties(t)));
  }
  return t;
}

std::expected<noise::NoiseKeyPair, FfiError> keygen_secret_arg(ConstStr keygen_secret) {
  return ffi::decode_arg(keygen_secret, FfiErrorKind::InvalidKeygenInitKeypair, parse_keygen_secret);
}

// A null array is read as no keygen ids at all, whatever its count.
std::expected<KeygenIdSet, FfiError> keygen_ids_arg(ConstStrArray keygen_ids) {
  return parse_optional_keygen_ids(keygen_ids.ptr, keygen_ids.count);
}

std::expected<EcdsaStorableSecretShare, FfiError> share_arg(ConstStr secret_share) {
  return ffi::decode_arg(secret_share, FfiErrorKind::InvalidSecretShare, ecdsa_share_decode);
}

const char* chars(ConstStr s) { return reinterpret_cast<const char*>(s.ptr); }

// Holds the copied arguments for the life of the task and runs the body on
// them once.
template <class Args, auto Body>
class RenewTask {
 public:
  explicit RenewTask(Args args) : args_(std::move(args)) {}

  boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> operator()() {
    return Body(std::move(*args_));
  }

 private:
  std::optional<Args> args_;
};

template <auto Body, class Args>
RenewTask<Args, Body> renew_task(Args args) {
  return RenewTask<Args, Body>(std::move(args));
}

}  // namespace
}  // namespace velto::executor

extern "C" ResultFFI velto_ecdsa_refresh(ConstStr secret_share, DoubleCallback callback, void* context,
                                        ConstStr room_uuid, ConstStr host_url) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto share = share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    EcdsaRefreshArgs args(std::move(*host), *room, std::move(*share));
    return ffi::spawn_operation(callback, context, renew_task<ecdsa_refresh_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret,
                                                  ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                  DoubleCallback callback, void* context) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto t = threshold_arg(new_threshold);
    if (!t) return ffi::refuse(std::move(t.error()));
    auto own = keygen_secret_arg(keygen_secret);
    if (!own) return ffi::refuse(std::move(own.error()));
    auto ids = keygen_ids_arg(keygen_ids);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    EcdsaReshareNewArgs args(std::move(*host), *room, *t, std::move(*own), std::move(*ids));
    return ffi::spawn_operation(callback, context, renew_task<ecdsa_reshare_new_party_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                        ConstStrArray keygen_ids, ConstStr room_uuid,
                                                        ConstStr host_url, DoubleCallback callback, void* context) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto t = threshold_arg(new_threshold);
    if (!t) return ffi::refuse(std::move(t.error()));
    auto share = share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto ids = keygen_ids_arg(keygen_ids);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    EcdsaReshareRemainingArgs args(std::move(*host), *room, *t, std::move(*share), std::move(*ids));
    return ffi::spawn_operation(callback, context,
                                renew_task<ecdsa_reshare_remaining_party_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                             ConstStrArray keygen_ids, ConstStr room_uuid,
                                                             ConstStr host_url, DoubleCallback callback,
                                                             void* context) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto t = threshold_arg(threshold);
    if (!t) return ffi::refuse(std::move(t.error()));
    auto own = keygen_secret_arg(keygen_secret);
    if (!own) return ffi::refuse(std::move(own.error()));
    auto ids = keygen_ids_arg(keygen_ids);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    EcdsaImportRecipientArgs args(std::move(*host), *room, *t, std::move(*own), std::move(*ids));
    return ffi::spawn_operation(callback, context, renew_task<ecdsa_import_recipient_body>(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_import_private_key_importer(uint16_t threshold, ConstStr private_key,
                                                            ConstStr keygen_secret, ConstStr room_uuid,
                                                            ConstStr host_url, ConstStrArray keygen_ids,
                                                            ConstStr chain_code, DoubleCallback callback,
                                                            void* context) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto t = threshold_arg(threshold);
    if (!t) return ffi::refuse(std::move(t.error()));
    auto own = keygen_secret_arg(keygen_secret);
    if (!own) return ffi::refuse(std::move(own.error()));
    auto ids = keygen_ids_arg(keygen_ids);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    auto key = parse_hex32_arg(chars(private_key), private_key.len);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidPrivateKey, std::move(key.error())));
    auto code = parse_optional_hex32_arg(chars(chain_code), chain_code.len);
    if (!code) return ffi::refuse(FfiError(FfiErrorKind::InvalidChaincode, std::move(code.error())));
    std::optional<velto::crypto::ByteArray<32>> chain;
    if (*code) {
      chain.emplace();
      const auto bytes = (*code)->span();
      std::copy(bytes.begin(), bytes.end(), chain->begin());
    }
    EcdsaImportImporterArgs args(std::move(*host), *room, *t, std::move(*own), std::move(*ids), std::move(*key),
                                 chain);
    return ffi::spawn_operation(callback, context, renew_task<ecdsa_import_importer_body>(std::move(args)));
  });
}
