// The argument decoders shared by the asynchronous functions of every scheme,
// each refusing under its own code (see velto.h), and the task object that
// carries the decoded arguments into an operation body.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/bindings/velto.h"
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

}  // namespace velto::executor::ffi
