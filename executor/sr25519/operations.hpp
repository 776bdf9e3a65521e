// The sr25519 operation bodies: what each velto_sr25519_* operation task runs
// on the library runtime once its function has checked and copied the
// arguments. Every body joins its room through one of the drivers, binds its
// own data and label into the session hasher, registers its handler under
// v1.3.0 (the only version this scheme is served under: peers that agree on
// v1.1.0 or v1.2.0 find no handler) and runs the versioned dispatch; the task
// (ffi::spawn_operation) turns the outcome into the one callback.
//
// Each body takes its inputs as one Args value, moved in: the shared ones of
// executor/common/operation_args.hpp, and those of signing and import below.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/common/operation_args.hpp"
#include "executor/sr25519_share.hpp"
#include "executor/ws.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"
#include "velto-frost-sr25519/derive.hpp"

namespace velto::executor {

// Relay operation names and the labels the bodies append to the session
// hasher. Both are wire.
inline constexpr std::string_view kSr25519KeygenOp = "sr25519_keygen";
inline constexpr std::string_view kSr25519SignOp = "sr25519_sign";
inline constexpr std::string_view kSr25519RefreshOp = "sr25519_refresh";
inline constexpr std::string_view kSr25519ReshareOp = "sr25519_reshare";
inline constexpr std::string_view kSr25519ExportOp = "sr25519_export";
inline constexpr std::string_view kSr25519ImportOp = "sr25519_import";
inline constexpr std::string_view kSr25519KeygenLabel = "sr25519 KEYGEN";
inline constexpr std::string_view kSr25519SigningLabel = "sr25519 SIGNING";
inline constexpr std::string_view kSr25519RefreshLabel = "sr25519 REFRESH";
inline constexpr std::string_view kSr25519ReshareLabel = "sr25519 RESHARE";
inline constexpr std::string_view kSr25519ExportLabel = "sr25519 Full private-key extraction";
inline constexpr std::string_view kSr25519ImportLabel = "sr25519 Full Private Key Import";

// velto_sr25519_sign: the decoded share, the message bytes and the junction
// texts of the derivation path (checked by the body).
class Sr25519SignArgs {
 public:
  Sr25519SignArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, crypto::Bytes message_,
                  Sr25519StorableSecretShare share_, std::vector<std::string> path_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), message(std::move(message_)), share(std::move(share_)),
        path(std::move(path_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  crypto::Bytes message;
  Sr25519StorableSecretShare share;
  std::vector<std::string> path;
  RelayTimings timings;
};

// velto_sr25519_import_private_key_importer: an identity, the 32 key bytes
// and the form they are read in (raw scalar or seed).
class Sr25519ImportImporterArgs {
 public:
  Sr25519ImportImporterArgs(IdentityArgs identity_, crypto::SecretArray<32> key_, frost::Sr25519KeyForm form_)
      : identity(std::move(identity_)), key(std::move(key_)), form(form_) {}

  IdentityArgs identity;
  crypto::SecretArray<32> key;
  frost::Sr25519KeyForm form;
};

// Keygen-type outputs: 64-hex compressed group key and the share text.
ffi::DoubleOutput sr25519_keygen_output(const Sr25519StorableSecretShare& share);

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_keygen_body(KeygenArgs args);
// Signing: R ‖ s (with the sr25519 marker) in 128 lowercase hex digits.
boost::asio::awaitable<ffi::OperationResult<std::string>> sr25519_sign_body(Sr25519SignArgs args);
// Full-key export: the 64-hex secret scalar at the receiver, the empty text
// elsewhere.
boost::asio::awaitable<ffi::OperationResult<std::string>> sr25519_export_body(
    ExportArgs<Sr25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_refresh_body(
    ShareArgs<Sr25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_reshare_new_party_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_reshare_remaining_party_body(
    ReshareRemainingArgs<Sr25519StorableSecretShare> args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_import_recipient_body(IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_import_importer_body(
    Sr25519ImportImporterArgs args);

}  // namespace velto::executor
