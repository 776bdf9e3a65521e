// The argument decoders shared by the asynchronous functions of every scheme,
// each refusing under its own code (see velto.h), the argument lists those
// functions share, and the task object that carries the decoded arguments
// into an operation body.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/velto.h"
#include "executor/common/operation_args.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor::ffi {

// -2: the relay's authority (TLS always).
std::expected<server_tools::HostAuthority, FfiError> host_arg(ConstStr host_url);
// -1: 32 hex digits.
std::expected<server_tools::RoomUuid, FfiError> room_arg(ConstStr room_uuid);
// -6: a party count or threshold from 1 to 8192.
std::expected<std::uint16_t, FfiError> party_count_arg(std::uint16_t value);
// -9: the caller's keygen secret.
std::expected<noise::NoiseKeyPair, FfiError> keygen_secret_arg(ConstStr keygen_secret);
// -10: one keygen id.
std::expected<noise::PublicKey, FfiError> keygen_id_arg(ConstStr keygen_id);
// -10: keygen ids where a null array reads as none, whatever its count.
std::expected<KeygenIdSet, FfiError> optional_keygen_ids_arg(ConstStrArray keygen_ids);
// -3: a stored ECDSA share.
std::expected<EcdsaStorableSecretShare, FfiError> ecdsa_share_arg(ConstStr secret_share);
// -3: a stored Ed25519 share.
std::expected<Ed25519StorableSecretShare, FfiError> ed25519_share_arg(ConstStr secret_share);
// -3: a stored exportable Ed25519 share.
std::expected<ExportableEd25519StorableSecretShare, FfiError> exportable_ed25519_share_arg(ConstStr secret_share);
// -4: message bytes in hex digits of either case, any even length (the empty
// text is the empty message).
std::expected<crypto::Bytes, FfiError> message_arg(ConstStr message);
// -4: a 32-byte message hash in 64 hex digits.
std::expected<crypto::ByteArray<32>, FfiError> msg_hash_arg(ConstStr msg_hash);
// -15: a 32-byte private key in 64 hex digits.
std::expected<crypto::SecretArray<32>, FfiError> private_key_arg(ConstStr private_key);
// -20: no chain code (the empty text) or 32 bytes in 64 hex digits.
std::expected<std::optional<crypto::ByteArray<32>>, FfiError> chain_code_arg(ConstStr chain_code);
// The deepest derivation path a call accepts: a derived key's depth is one
// byte, so no key is ever deeper than 255.
inline constexpr std::size_t kMaxDerivationPathLength = 255;
// -11: the indices, copied (at most kMaxDerivationPathLength); their values
// are the operation's to check.
std::expected<std::vector<std::uint32_t>, FfiError> derivation_path_arg(U32Array path);

// Holds an operation's decoded arguments for the life of its task and runs
// the body on them once (a body for spawn_operation, c_api.hpp).
template <class Args, auto Body>
class OperationTask {
 public:
  explicit OperationTask(Args args) : args_(std::move(args)) {}
  auto operator()() { return Body(std::move(args_)); }

 private:
  Args args_;
};

template <auto Body, class Args>
OperationTask<Args, Body> operation_task(Args args) {
  return OperationTask<Args, Body>(std::move(args));
}

// Starts the task of `Body` on decoded arguments, or refuses the call with
// the refusal of the first argument that failed.
template <auto Body, class Args, class Callback>
ResultFFI start_operation(std::expected<Args, FfiError> args, Callback callback, void* context) {
  if (!args) return refuse(std::move(args.error()));
  return spawn_operation(callback, context, operation_task<Body>(std::move(*args)));
}

// The argument lists that the functions of every scheme share, decoded in
// their fixed order (host first, room second); the first refusal wins. A
// share is decoded by `DecodeShare` (ecdsa_share_arg, ed25519_share_arg or
// exportable_ed25519_share_arg).

// Key generation: host (-2), room (-1), n (-6), t (-6), keygen secret (-9),
// keygen ids (-10, a null array being none).
std::expected<KeygenArgs, FfiError> keygen_args(std::uint16_t n, std::uint16_t t, ConstStr keygen_secret,
                                                ConstStr room_uuid, ConstStr host_url, ConstStrArray keygen_ids);

// A party that takes part in a reshare or an import with its keygen identity
// alone (and the importer, whose key follows): host (-2), room (-1),
// threshold (-6), keygen secret (-9), keygen ids (-10, a null array being
// none).
std::expected<IdentityArgs, FfiError> identity_args(std::uint16_t threshold, ConstStr keygen_secret,
                                                    ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url);

template <auto DecodeShare>
using DecodedShare = typename std::invoke_result_t<decltype(DecodeShare), ConstStr>::value_type;

// Refresh: host (-2), room (-1), share (-3).
template <auto DecodeShare>
std::expected<ShareArgs<DecodedShare<DecodeShare>>, FfiError> share_args(ConstStr host_url, ConstStr room_uuid,
                                                                         ConstStr secret_share) {
  auto host = host_arg(host_url);
  if (!host) return std::unexpected(std::move(host.error()));
  auto room = room_arg(room_uuid);
  if (!room) return std::unexpected(std::move(room.error()));
  auto share = DecodeShare(secret_share);
  if (!share) return std::unexpected(std::move(share.error()));
  return ShareArgs<DecodedShare<DecodeShare>>(std::move(*host), *room, std::move(*share));
}

// Export: host (-2), room (-1), share (-3), the receiver's keygen id (-10).
template <auto DecodeShare>
std::expected<ExportArgs<DecodedShare<DecodeShare>>, FfiError> export_args(ConstStr host_url, ConstStr room_uuid,
                                                                           ConstStr secret_share, ConstStr export_to) {
  auto args = share_args<DecodeShare>(host_url, room_uuid, secret_share);
  if (!args) return std::unexpected(std::move(args.error()));
  auto receiver = keygen_id_arg(export_to);
  if (!receiver) return std::unexpected(std::move(receiver.error()));
  return ExportArgs<DecodedShare<DecodeShare>>(std::move(args->host), args->room, std::move(args->share), *receiver);
}

// Reshare, remaining party: host (-2), room (-1), new threshold (-6), share
// (-3), keygen ids (-10, a null array being none).
template <auto DecodeShare>
std::expected<ReshareRemainingArgs<DecodedShare<DecodeShare>>, FfiError> reshare_remaining_args(
    std::uint16_t new_threshold, ConstStr secret_share, ConstStrArray keygen_ids, ConstStr room_uuid,
    ConstStr host_url) {
  auto host = host_arg(host_url);
  if (!host) return std::unexpected(std::move(host.error()));
  auto room = room_arg(room_uuid);
  if (!room) return std::unexpected(std::move(room.error()));
  auto t = party_count_arg(new_threshold);
  if (!t) return std::unexpected(std::move(t.error()));
  auto share = DecodeShare(secret_share);
  if (!share) return std::unexpected(std::move(share.error()));
  auto ids = optional_keygen_ids_arg(keygen_ids);
  if (!ids) return std::unexpected(std::move(ids.error()));
  return ReshareRemainingArgs<DecodedShare<DecodeShare>>(std::move(*host), *room, *t, std::move(*share),
                                                         std::move(*ids));
}

}  // namespace velto::executor::ffi
