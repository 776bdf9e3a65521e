// The exportable Ed25519 operation bodies: what each
// velto_exportable_ed25519_* operation task runs on the library runtime once
// its function has checked and copied the arguments. Every body joins its
// room through one of the drivers, binds its own inputs and operation name
// into the session hasher, registers its one handler under v1.2.0 (it serves
// every later version too) and runs the versioned dispatch. Each takes its
// inputs as one Args value, moved in (executor/common/operation_args.hpp).
//
// Relay operation names (also hashed into the session):
//   "exportable_ed25519_sample_key"  both key-generation roles
//   "exportable_ed25519_sign", "exportable_ed25519_refresh",
//   "exportable_ed25519_reshare"     both reshare roles
//   "exportable_ed25519_export"
//   "exportable_ed25519_import"      both import roles
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/common/operation_args.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/ws.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {

inline constexpr std::string_view kExportableKeygenOp = "exportable_ed25519_sample_key";
inline constexpr std::string_view kExportableSignOp = "exportable_ed25519_sign";
inline constexpr std::string_view kExportableRefreshOp = "exportable_ed25519_refresh";
inline constexpr std::string_view kExportableReshareOp = "exportable_ed25519_reshare";
inline constexpr std::string_view kExportableExportOp = "exportable_ed25519_export";
inline constexpr std::string_view kExportableImportOp = "exportable_ed25519_import";

// velto_exportable_ed25519_sign: the decoded share and the message bytes.
class ExportableSignArgs {
 public:
  ExportableSignArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, crypto::Bytes message_,
                     ExportableEd25519StorableSecretShare share_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), message(std::move(message_)), share(std::move(share_)),
        timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  crypto::Bytes message;
  ExportableEd25519StorableSecretShare share;
  RelayTimings timings;
};

// The importer of a key: an identity and the 32-byte seed to import.
class ExportableImporterArgs {
 public:
  ExportableImporterArgs(IdentityArgs identity_, crypto::SecretArray<32> seed_)
      : identity(std::move(identity_)), seed(std::move(seed_)) {}

  IdentityArgs identity;
  crypto::SecretArray<32> seed;
};

// Keygen-type outputs: 64 hex digits of the compressed group key and the
// share text.
ffi::DoubleOutput exportable_keygen_output(const ExportableEd25519StorableSecretShare& share);

// Key generation: the sampling party draws the seed; every other party
// receives. Outputs (group key, share text).
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_sample_key_body(KeygenArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_receive_key_body(KeygenArgs args);
// Signing: 128 hex digits of R ‖ s.
boost::asio::awaitable<ffi::OperationResult<std::string>> exportable_sign_body(ExportableSignArgs args);
// Export: 128 hex digits of seed ‖ public key at the receiver, the empty text
// elsewhere.
boost::asio::awaitable<ffi::OperationResult<std::string>> exportable_export_body(
    ExportArgs<ExportableEd25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_refresh_body(
    ShareArgs<ExportableEd25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_reshare_remaining_party_body(
    ReshareRemainingArgs<ExportableEd25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_reshare_new_party_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_import_recipient_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_import_importer_body(
    ExportableImporterArgs args);

}  // namespace velto::executor
