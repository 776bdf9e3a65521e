// The Ed25519 operation bodies: what each velto_ed25519_* operation task runs
// on the library runtime once its function has checked and copied the
// arguments. Every body joins its room through one of the drivers, binds its
// own data and label into the session hasher, registers its handler under
// v1.1.0 (which serves every agreed version from v1.1.0 on) and runs the
// versioned dispatch; the task (ffi::spawn_operation) turns the outcome into
// the one callback.
//
// Each body takes its inputs as one Args value, moved in: the shared ones of
// executor/common/operation_args.hpp, and those of signing and import below.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/common/operation_args.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/ws.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"
#include "velto-frost-ed25519/extract.hpp"

namespace velto::executor {

// Relay operation names and the labels the bodies append to the session
// hasher. Labels are wire: their case differs on purpose.
inline constexpr std::string_view kEd25519KeygenOp = "ed25519_keygen";
inline constexpr std::string_view kEd25519SignOp = "ed25519_sign";
inline constexpr std::string_view kEd25519RefreshOp = "ed25519_refresh";
inline constexpr std::string_view kEd25519ReshareOp = "ed25519_reshare";
inline constexpr std::string_view kEd25519ExtractOp = "ed25519_extract";
inline constexpr std::string_view kEd25519ImportOp = "ed25519_import";
inline constexpr std::string_view kEd25519KeygenLabel = "ED25519 KEYGEN";
inline constexpr std::string_view kEd25519SigningLabel = "ED25519 SIGNING";
inline constexpr std::string_view kEd25519RefreshLabel = "ED25519 REFRESH";
inline constexpr std::string_view kEd25519ReshareLabel = "ED25519 RESHARE";
inline constexpr std::string_view kEd25519ExtractLabel = "ED25519 Full private-key extraction";
inline constexpr std::string_view kEd25519ImportLabel = "ED25519 Full Private Key Import";

// velto_ed25519_sign: the decoded share, the message bytes and the
// derivation path as given (its indices are checked by the body).
class Ed25519SignArgs {
 public:
  Ed25519SignArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, crypto::Bytes message_,
                  Ed25519StorableSecretShare share_, std::vector<std::uint32_t> path_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), message(std::move(message_)), share(std::move(share_)),
        path(std::move(path_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  crypto::Bytes message;
  Ed25519StorableSecretShare share;
  std::vector<std::uint32_t> path;
  RelayTimings timings;
};

// velto_ed25519_import_private_key_importer: an identity and the key to
// import, with the form its 32 bytes are read in (seed or raw scalar).
class Ed25519ImportImporterArgs {
 public:
  Ed25519ImportImporterArgs(IdentityArgs identity_, frost::Ed25519PrivateKey private_key_)
      : identity(std::move(identity_)), private_key(std::move(private_key_)) {}

  IdentityArgs identity;
  frost::Ed25519PrivateKey private_key;
};

// Keygen-type outputs: 64-hex compressed group key and the share text.
ffi::DoubleOutput ed25519_keygen_output(const Ed25519StorableSecretShare& share);

// The key share of a stored share that an operation is about to use, checked
// for what the record alone cannot promise: its own party id stands in its
// party map under its own transport key, and 1 <= threshold <= number of
// parties. Anything else is InvalidKeyShare. Shares this library writes
// always pass.
std::expected<MaybeBorrowed<frost::FrostKeyShare>, ExecutorFailure> ed25519_usable_key_share(
    const Ed25519StorableSecretShare& share);

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_keygen_body(KeygenArgs args);
// Signing: R ‖ s in 128 lowercase hex digits.
boost::asio::awaitable<ffi::OperationResult<std::string>> ed25519_sign_body(Ed25519SignArgs args);
// Full-key export: the spriv text at the receiver, the empty text elsewhere.
boost::asio::awaitable<ffi::OperationResult<std::string>> ed25519_export_body(
    ExportArgs<Ed25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_refresh_body(
    ShareArgs<Ed25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_reshare_new_party_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_reshare_remaining_party_body(
    ReshareRemainingArgs<Ed25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_import_recipient_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_import_importer_body(
    Ed25519ImportImporterArgs args);

}  // namespace velto::executor
