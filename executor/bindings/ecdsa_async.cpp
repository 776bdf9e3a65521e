// velto_ecdsa_keygen, velto_ecdsa_sign and velto_ecdsa_export_full_private_key:
// each checks and copies its arguments in its fixed order (host first, room
// second) and starts one detached operation task whose outcome arrives
// through the callback.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <utility>

#include "executor/api_type.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/ecdsa/operations.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {
namespace {

// Owns the decoded arguments until the task runs its body with them.
template <class Args, auto Body>
class OperationTask {
 public:
  explicit OperationTask(Args args) : args_(std::move(args)) {}
  auto operator()() { return Body(std::move(args_)); }

 private:
  Args args_;
};

using KeygenTask = OperationTask<EcdsaKeygenArgs, &ecdsa_keygen_body>;
using SignTask = OperationTask<EcdsaSignArgs, &ecdsa_sign_body>;
using ExportTask = OperationTask<EcdsaExportArgs, &ecdsa_export_body>;

std::expected<server_tools::HostAuthority, FfiError> host_arg(ConstStr host_url) {
  auto authority = ffi::decode_arg(host_url, FfiErrorKind::InvalidHostUrl, parse_host_authority);
  if (!authority) return std::unexpected(std::move(authority.error()));
  return server_tools::HostAuthority::with_tls(std::move(*authority));
}

std::expected<server_tools::RoomUuid, FfiError> room_arg(ConstStr room_uuid) {
  return ffi::decode_arg(room_uuid, FfiErrorKind::InvalidUUID, server_tools::parse_room_uuid);
}

std::expected<std::uint16_t, FfiError> count_arg(std::uint16_t value) {
  if (value == 0 || value > kMaxNumberOfParties) {
    return std::unexpected(FfiError(FfiErrorKind::InvalidNumberOfParties, InvalidNumberOfParties(value)));
  }
  return value;
}

std::expected<crypto::ByteArray<32>, FfiError> hash_arg(ConstStr msg_hash) {
  auto bytes = parse_hex32_arg(reinterpret_cast<const char*>(msg_hash.ptr), msg_hash.len);
  if (!bytes) return std::unexpected(FfiError(FfiErrorKind::InvalidMessage, std::move(bytes.error())));
  crypto::ByteArray<32> out{};
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = (*bytes)[i];
  return out;
}

std::expected<EcdsaStorableSecretShare, FfiError> share_arg(ConstStr secret_share) {
  return ffi::decode_arg(secret_share, FfiErrorKind::InvalidSecretShare, ecdsa_share_decode);
}

}  // namespace
}  // namespace velto::executor

using namespace velto::executor;

extern "C" ResultFFI velto_ecdsa_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid,
                                        ConstStr host_url, ConstStrArray keygen_ids, DoubleCallback callback,
                                        void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto parties = count_arg(n);
    if (!parties) return ffi::refuse(std::move(parties.error()));
    auto threshold = count_arg(t);
    if (!threshold) return ffi::refuse(std::move(threshold.error()));
    auto own = ffi::decode_arg(keygen_secret, FfiErrorKind::InvalidKeygenInitKeypair, parse_keygen_secret);
    if (!own) return ffi::refuse(std::move(own.error()));
    auto ids = parse_keygen_ids(keygen_ids.ptr, keygen_ids.count);
    if (!ids) return ffi::refuse(std::move(ids.error()));
    EcdsaKeygenArgs args(std::move(*host), *room, *parties, *threshold, std::move(*own), std::move(*ids));
    return ffi::spawn_operation(callback, context, KeygenTask(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_sign(ConstStr secret_share, ConstStr msg_hash, ConstStr room_uuid,
                                      ConstStr host_url, U32Array derivation_path, SingleCallback callback,
                                      void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto hash = hash_arg(msg_hash);
    if (!hash) return ffi::refuse(std::move(hash.error()));
    auto share = share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    // The indices are checked by the operation (a hardened one fails there).
    auto path = ffi::u32_array_arg(derivation_path.ptr, derivation_path.count, FfiErrorKind::InvalidDerivationElement);
    if (!path) return ffi::refuse(std::move(path.error()));
    EcdsaSignArgs args(std::move(*host), *room, *hash, std::move(*share), std::move(*path));
    return ffi::spawn_operation(callback, context, SignTask(std::move(args)));
  });
}

extern "C" ResultFFI velto_ecdsa_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                         ConstStr room_uuid, ConstStr host_url,
                                                         SingleCallback callback, void* context) {
  return ffi::guarded([&]() -> ResultFFI {
    auto host = host_arg(host_url);
    if (!host) return ffi::refuse(std::move(host.error()));
    auto room = room_arg(room_uuid);
    if (!room) return ffi::refuse(std::move(room.error()));
    auto share = share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto receiver = ffi::decode_arg(export_to, FfiErrorKind::InvalidKeygenId, parse_keygen_id);
    if (!receiver) return ffi::refuse(std::move(receiver.error()));
    EcdsaExportArgs args(std::move(*host), *room, std::move(*share), *receiver);
    return ffi::spawn_operation(callback, context, ExportTask(std::move(args)));
  });
}
