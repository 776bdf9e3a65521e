// The bodies of key generation, signing, export and refresh.
#include "executor/sr25519/operations.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "executor/sr25519/handlers.hpp"

namespace velto::executor {

namespace {

// Joins the room of the share's parties with the share's transport key, n
// and t (of `key`, the checked key share of `share`).
template <class T>
boost::asio::awaitable<std::expected<VersionedHandlers<T>, ExecutorFailure>> join_share_parties(
    server_tools::HostAuthority host, server_tools::RoomUuid room, const Sr25519StorableSecretShare& share,
    const frost::Sr25519KeyShare& key, std::string_view operation, RelayTimings timings) {
  co_return co_await drive_sign_type<T>(std::move(host), room, share.transport_keypair, share.partyid_pubkey_map,
                                        key.num_parties, key.threshold, operation, timings);
}

}  // namespace

ffi::DoubleOutput sr25519_keygen_output(const Sr25519StorableSecretShare& share) {
  return ffi::DoubleOutput(crypto::hex_encode(share.key_share.group_key.to_bytes()), sr25519_share_encode(share));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_keygen_body(KeygenArgs args) {
  std::vector<noise::PublicKey> keygen_ids(args.keygen_ids.begin(), args.keygen_ids.end());
  auto driven = co_await drive_keygen_type<frost::Sr25519KeyShare>(std::move(args.host), args.room, args.own,
                                                                   std::move(keygen_ids), args.n, args.t,
                                                                   kSr25519KeygenOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  if (!driven->party_keys) panic(std::string(kNoPartyMapPanic));
  PartyPubkeyMap party_map = std::move(*driven->party_keys);
  driven->party_keys.reset();

  driven->session.setup.session_hasher().update(crypto::as_bytes(kSr25519KeygenLabel));

  const std::uint16_t threshold = args.t;
  auto handler = [threshold](ProtocolExecutor root) { return sr25519_keygen_handler(std::move(root), threshold); };
  register_handler(*driven, Version::V1_3_0, std::move(handler));

  auto key_share = co_await dispatch_versioned(std::move(*driven));
  if (!key_share) co_return std::unexpected(std::move(key_share.error()));
  Sr25519StorableSecretShare share{std::move(*key_share), std::move(args.own), std::move(party_map)};
  co_return sr25519_keygen_output(share);
}

boost::asio::awaitable<ffi::OperationResult<std::string>> sr25519_sign_body(Sr25519SignArgs args) {
  // The path is walked before the room is joined: a refused junction costs
  // no traffic.
  auto derived = frost::sr25519_derive_path(args.share.key_share.group_key, args.path);
  if (!derived) co_return std::unexpected(ExecutorFailure(invalid_derivation_path_error_text(args.path)));
  auto key = sr25519_share_checked_key_share(args.share);
  if (!key) co_return std::unexpected(std::move(key.error()));

  auto driven = co_await join_share_parties<crypto::ByteArray<64>>(std::move(args.host), args.room, args.share,
                                                                   **key, kSr25519SignOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(derived->key.to_bytes());
  hasher.update(args.message);
  hasher.update(crypto::as_bytes(kSr25519SigningLabel));

  frost::Sr25519KeyShare child{derived->key, (*key)->secret_share + derived->tweak, (*key)->own_id,
                               (*key)->num_parties, (*key)->threshold};
  // The message stays in this frame until the dispatch has ended.
  const crypto::Bytes* message = &args.message;
  auto handler = [message, child = std::move(child)](ProtocolExecutor root) {
    return sr25519_sign_handler(std::move(root), *message, child);
  };
  register_handler(*driven, Version::V1_3_0, std::move(handler));

  auto signature = co_await dispatch_versioned(std::move(*driven));
  if (!signature) co_return std::unexpected(std::move(signature.error()));
  co_return crypto::hex_encode(*signature);
}

boost::asio::awaitable<ffi::OperationResult<std::string>> sr25519_export_body(
    ExportArgs<Sr25519StorableSecretShare> args) {
  // A receiver outside the key's parties could never be sent to: refused
  // before the room is joined.
  const std::optional<PartyId> receiver = party_of_key(args.share.partyid_pubkey_map, args.export_to);
  if (!receiver) {
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PartyNotFound{args.export_to}}));
  }
  auto key = sr25519_share_checked_key_share(args.share);
  if (!key) co_return std::unexpected(std::move(key.error()));

  using ExportOutcome = std::optional<crypto::EdScalar>;
  auto driven = co_await join_share_parties<ExportOutcome>(std::move(args.host), args.room, args.share, **key,
                                                           kSr25519ExportOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update((*key)->group_key.to_bytes());
  hasher.update(args.export_to.bytes());
  hasher.update(crypto::as_bytes(kSr25519ExportLabel));

  // The share stays in this frame until the dispatch has ended.
  const frost::Sr25519KeyShare* key_share = *key;
  const PartyPubkeyMap* party_map = &args.share.partyid_pubkey_map;
  const PartyId to = *receiver;
  auto handler = [key_share, party_map, to](ProtocolExecutor root) {
    return sr25519_export_handler(std::move(root), *key_share, *party_map, to);
  };
  register_handler(*driven, Version::V1_3_0, std::move(handler));

  auto exported = co_await dispatch_versioned(std::move(*driven));
  if (!exported) co_return std::unexpected(std::move(exported.error()));
  if (!*exported) co_return std::string();
  co_return crypto::hex_encode((*exported)->as_span());
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_refresh_body(
    ShareArgs<Sr25519StorableSecretShare> args) {
  auto key = sr25519_share_checked_key_share(args.share);
  if (!key) co_return std::unexpected(std::move(key.error()));
  auto driven = co_await join_share_parties<Sr25519StorableSecretShare>(std::move(args.host), args.room, args.share,
                                                                        **key, kSr25519RefreshOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  // Holders of different keys cannot open channels with each other.
  driven->session.setup.session_hasher().update((*key)->group_key.to_bytes());
  driven->session.setup.session_hasher().update(crypto::as_bytes(kSr25519RefreshLabel));

  const frost::Sr25519KeyShare* key_share = *key;
  auto handler = [key_share](ProtocolExecutor root) { return sr25519_refresh_handler(std::move(root), *key_share); };
  register_handler(*driven, Version::V1_3_0, std::move(handler));

  auto run = std::move(*driven);
  auto renewed = co_await dispatch_versioned(std::move(run));
  if (!renewed) co_return std::unexpected(std::move(renewed.error()));
  co_return sr25519_keygen_output(*renewed);
}

}  // namespace velto::executor
