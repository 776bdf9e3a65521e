// The Ed25519 operation bodies: what each velto_ed25519_* operation task runs
// on the library runtime once its function has checked and copied the
// arguments. Every body joins its room through one of the drivers, binds its
// own data and label into the session hasher, registers its handler under
// v1.1.0 (which serves every agreed version from v1.1.0 on) and runs the
// versioned dispatch; the task (ffi::spawn_operation) turns the outcome into
// the one callback.
//
// Each body takes its inputs as one Args value, moved in. The Args types are
// classes with constructors (not aggregates) so that they can be built
// inside statements that await.
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

// velto_ed25519_keygen: the own transport key pair (from the keygen secret)
// and the other parties' keygen ids (the own id may be among them).
class Ed25519KeygenArgs {
 public:
  Ed25519KeygenArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, std::uint16_t n_,
                    std::uint16_t t_, noise::NoiseKeyPair own_, KeygenIdSet keygen_ids_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), n(n_), t(t_), own(std::move(own_)),
        keygen_ids(std::move(keygen_ids_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t n;
  std::uint16_t t;
  noise::NoiseKeyPair own;
  KeygenIdSet keygen_ids;
  RelayTimings timings;
};

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

// velto_ed25519_refresh.
class Ed25519RefreshArgs {
 public:
  Ed25519RefreshArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, Ed25519StorableSecretShare share_,
                     RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), share(std::move(share_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  Ed25519StorableSecretShare share;
  RelayTimings timings;
};

// velto_ed25519_export_full_private_key: the decoded share and the
// receiver's transport public key.
class Ed25519ExportArgs {
 public:
  Ed25519ExportArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, Ed25519StorableSecretShare share_,
                    noise::PublicKey export_to_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), share(std::move(share_)), export_to(export_to_), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  Ed25519StorableSecretShare share;
  noise::PublicKey export_to;
  RelayTimings timings;
};

// velto_ed25519_reshare_new_party and velto_ed25519_import_private_key_recipient:
// a party that takes part with its keygen identity alone.
class Ed25519IdentityArgs {
 public:
  Ed25519IdentityArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, std::uint16_t threshold_,
                      noise::NoiseKeyPair own_, KeygenIdSet keygen_ids_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), threshold(threshold_), own(std::move(own_)),
        keygen_ids(std::move(keygen_ids_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t threshold;
  noise::NoiseKeyPair own;
  KeygenIdSet keygen_ids;
  RelayTimings timings;
};

// velto_ed25519_reshare_remaining_party.
class Ed25519ReshareRemainingArgs {
 public:
  Ed25519ReshareRemainingArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_,
                              std::uint16_t new_threshold_, Ed25519StorableSecretShare share_,
                              KeygenIdSet keygen_ids_, RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), new_threshold(new_threshold_), share(std::move(share_)),
        keygen_ids(std::move(keygen_ids_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t new_threshold;
  Ed25519StorableSecretShare share;
  KeygenIdSet keygen_ids;
  RelayTimings timings;
};

// velto_ed25519_import_private_key_importer: the key to import, with the
// form its 32 bytes are read in (seed or raw scalar).
class Ed25519ImportImporterArgs {
 public:
  Ed25519ImportImporterArgs(server_tools::HostAuthority host_, server_tools::RoomUuid room_, std::uint16_t threshold_,
                            noise::NoiseKeyPair own_, KeygenIdSet keygen_ids_, frost::Ed25519PrivateKey private_key_,
                            RelayTimings timings_ = {})
      : host(std::move(host_)), room(room_), threshold(threshold_), own(std::move(own_)),
        keygen_ids(std::move(keygen_ids_)), private_key(std::move(private_key_)), timings(timings_) {}

  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::uint16_t threshold;
  noise::NoiseKeyPair own;
  KeygenIdSet keygen_ids;
  frost::Ed25519PrivateKey private_key;
  RelayTimings timings;
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

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_keygen_body(Ed25519KeygenArgs args);
// Signing: R ‖ s in 128 lowercase hex digits.
boost::asio::awaitable<ffi::OperationResult<std::string>> ed25519_sign_body(Ed25519SignArgs args);
// Full-key export: the spriv text at the receiver, the empty text elsewhere.
boost::asio::awaitable<ffi::OperationResult<std::string>> ed25519_export_body(Ed25519ExportArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_refresh_body(Ed25519RefreshArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_reshare_new_party_body(
    Ed25519IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_reshare_remaining_party_body(
    Ed25519ReshareRemainingArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_import_recipient_body(
    Ed25519IdentityArgs args);
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_import_importer_body(
    Ed25519ImportImporterArgs args);

}  // namespace velto::executor
