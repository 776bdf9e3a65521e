// The ECDSA operation bodies: what each velto_ecdsa_* operation task runs on
// the library runtime once its function has checked and copied the
// arguments. Every body joins its room through one of the drivers, binds its
// own data and label into the session hasher, registers its version handlers
// and runs the versioned dispatch; the task (ffi::spawn_operation) turns the
// outcome into the one callback.
//
// Each body takes its inputs as one Args value, moved in: the shared ones of
// executor/common/operation_args.hpp, and those of signing and import below.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/common/operation_args.hpp"
#include "executor/ws.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {

// Relay operation names and the labels the bodies append to the session
// hasher.
inline constexpr std::string_view kEcdsaKeygenOp = "ecdsa_keygen";
inline constexpr std::string_view kEcdsaSignOp = "ecdsa_sign";
inline constexpr std::string_view kEcdsaExtractOp = "ecdsa_extract";
inline constexpr std::string_view kEcdsaKeygenLabel = "ECDSA KEYGEN";
inline constexpr std::string_view kEcdsaSigningLabel = "ECDSA SIGNING";
inline constexpr std::string_view kEcdsaExtractLabel = "ECDSA Full private-key extraction";

// velto_ecdsa_sign: the decoded share, the 32-byte message hash and the
// derivation path as given (its indices are checked by the body).
class EcdsaSignArgs {
 public:
  EcdsaSignArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, crypto::ByteArray<32> msg_hash_,
                EcdsaStorableSecretShare share_, std::vector<std::uint32_t> path_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), msg_hash(msg_hash_), share(std::move(share_)),
        path(std::move(path_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  crypto::ByteArray<32> msg_hash;
  EcdsaStorableSecretShare share;
  std::vector<std::uint32_t> path;
  RelayTimings timings;
};

// velto_ecdsa_import_private_key_importer: an identity, the key to import
// (32 bytes big-endian) and the optional chain code.
class EcdsaImportImporterArgs {
 public:
  EcdsaImportImporterArgs(IdentityArgs identity_, crypto::SecretArray<32> private_key_,
                          std::optional<crypto::ByteArray<32>> chain_code_)
      : identity(std::move(identity_)), private_key(std::move(private_key_)), chain_code(chain_code_) {}

  IdentityArgs identity;
  crypto::SecretArray<32> private_key;
  std::optional<crypto::ByteArray<32>> chain_code;
};

// The share's group key in SEC1 uncompressed form (04 ‖ X ‖ Y), for any
// record tag.
crypto::ByteArray<65> ecdsa_share_public_key_uncompressed(const EcdsaStorableSecretShare& share);
// The share's threshold and number of parties, for any record tag.
std::uint16_t ecdsa_share_threshold(const EcdsaStorableSecretShare& share);
std::uint16_t ecdsa_share_num_parties(const EcdsaStorableSecretShare& share);

// Keygen-type outputs: 130-hex uncompressed group key and the share text.
ffi::DoubleOutput ecdsa_keygen_output(const EcdsaStorableSecretShare& share);

// Key generation: the new share as (group key, share text).
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_keygen_body(KeygenArgs args);
// Signing: r ‖ s ‖ v (27 + recovery id) ‖ DER, in lowercase hex.
boost::asio::awaitable<ffi::OperationResult<std::string>> ecdsa_sign_body(EcdsaSignArgs args);
// Full-key export: the xprv text at the receiver, the empty text elsewhere.
boost::asio::awaitable<ffi::OperationResult<std::string>> ecdsa_export_body(ExportArgs<EcdsaStorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_refresh_body(
    ShareArgs<EcdsaStorableSecretShare> args);
// Reshare, new party: `threshold` is the new threshold.
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_reshare_new_party_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_reshare_remaining_party_body(
    ReshareRemainingArgs<EcdsaStorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_import_recipient_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_import_importer_body(
    EcdsaImportImporterArgs args);

}  // namespace velto::executor
