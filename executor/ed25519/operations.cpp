// The bodies of key generation, signing, export and refresh, and the record
// helpers that every body of this folder uses.
#include "executor/ed25519/operations.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/ed25519/handlers.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "velto-frost-ed25519/spub.hpp"

namespace velto::executor {

namespace {

ExecutorFailure invalid_key_share() { return ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InvalidKeyShare{}}); }

// Joins the room of the share's parties with the share's transport key, n
// and t (of `key`, the checked key share of `share`).
template <class T>
boost::asio::awaitable<std::expected<VersionedHandlers<T>, ExecutorFailure>> join_share_parties(
    server_tools::HostAuthority host, server_tools::RoomUuid room, const Ed25519StorableSecretShare& share,
    const frost::FrostKeyShare& key, std::string_view operation, RelayTimings timings) {
  co_return co_await drive_sign_type<T>(std::move(host), room, share.transport_keypair, share.partyid_pubkey_map,
                                        key.num_parties, key.threshold, operation, timings);
}

}  // namespace

ffi::DoubleOutput ed25519_keygen_output(const Ed25519StorableSecretShare& share) {
  // The library writes tag 2 only; its key share is the record's own.
  const auto& key = std::get<frost::FrostKeyShare>(share.key_share);
  return ffi::DoubleOutput(crypto::hex_encode(key.public_key.to_bytes()), ed25519_share_encode(share));
}

std::expected<MaybeBorrowed<frost::FrostKeyShare>, ExecutorFailure> ed25519_usable_key_share(
    const Ed25519StorableSecretShare& share) {
  auto key = ed25519_share_to_keypair(share);
  if (!key) return std::unexpected(std::move(key.error()));
  const frost::FrostKeyShare& k = key->get();
  const auto own = share.partyid_pubkey_map.find(k.party_id);
  if (own == share.partyid_pubkey_map.end() || !(own->second == share.transport_keypair.public_key())) {
    return std::unexpected(invalid_key_share());
  }
  if (k.threshold == 0 || k.threshold > k.num_parties) return std::unexpected(invalid_key_share());
  return key;
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_keygen_body(KeygenArgs args) {
  std::vector<noise::PublicKey> keygen_ids(args.keygen_ids.begin(), args.keygen_ids.end());
  auto driven = co_await drive_keygen_type<frost::FrostKeyShare>(std::move(args.host), args.room, args.own,
                                                                 std::move(keygen_ids), args.n, args.t,
                                                                 kEd25519KeygenOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  if (!driven->party_keys) panic(std::string(kNoPartyMapPanic));
  PartyPubkeyMap party_map = std::move(*driven->party_keys);
  driven->party_keys.reset();

  driven->session.setup.session_hasher().update(crypto::as_bytes(kEd25519KeygenLabel));

  const std::uint16_t threshold = args.t;
  auto handler = [threshold](ProtocolExecutor root) { return ed25519_keygen_handler(std::move(root), threshold); };
  register_handler(*driven, Version::V1_1_0, std::move(handler));

  auto key_share = co_await dispatch_versioned(std::move(*driven));
  if (!key_share) co_return std::unexpected(std::move(key_share.error()));
  Ed25519StorableSecretShare share{Ed25519KeyShare(std::in_place_index<2>, std::move(*key_share)), std::move(args.own),
                                   std::move(party_map)};
  co_return ed25519_keygen_output(share);
}

boost::asio::awaitable<ffi::OperationResult<std::string>> ed25519_sign_body(Ed25519SignArgs args) {
  auto derived = ed25519_share_derive_child(args.share, args.path);
  if (!derived) co_return std::unexpected(std::move(derived.error()));
  auto key = ed25519_usable_key_share(args.share);
  if (!key) co_return std::unexpected(std::move(key.error()));

  auto driven = co_await join_share_parties<crypto::ByteArray<64>>(std::move(args.host), args.room, args.share,
                                                                   key->get(), kEd25519SignOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(derived->key_share.public_key.to_bytes());
  hasher.update(args.message);
  hasher.update(crypto::as_bytes(kEd25519SigningLabel));

  // The message stays in this frame until the dispatch has ended.
  const crypto::Bytes* message = &args.message;
  auto handler = [message, child = std::move(derived->key_share)](ProtocolExecutor root) {
    return ed25519_sign_handler(std::move(root), *message, child);
  };
  register_handler(*driven, Version::V1_1_0, std::move(handler));

  auto signature = co_await dispatch_versioned(std::move(*driven));
  if (!signature) co_return std::unexpected(std::move(signature.error()));
  co_return crypto::hex_encode(*signature);
}

boost::asio::awaitable<ffi::OperationResult<std::string>> ed25519_export_body(
    ExportArgs<Ed25519StorableSecretShare> args) {
  const std::optional<PartyId> receiver = party_of_key(args.share.partyid_pubkey_map, args.export_to);
  if (!receiver) {
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PartyNotFound{args.export_to}}));
  }
  auto key = ed25519_usable_key_share(args.share);
  if (!key) co_return std::unexpected(std::move(key.error()));

  using ExtractOutcome = std::optional<frost::ExtractedPrivateKey>;
  auto driven = co_await join_share_parties<ExtractOutcome>(std::move(args.host), args.room, args.share, key->get(),
                                                            kEd25519ExtractOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(key->get().public_key.to_bytes());
  hasher.update(args.export_to.bytes());
  hasher.update(crypto::as_bytes(kEd25519ExtractLabel));

  // The share (and the key share it lends) stays in this frame until the
  // dispatch has ended.
  const frost::FrostKeyShare* key_share = &key->get();
  const PartyPubkeyMap* party_map = &args.share.partyid_pubkey_map;
  const PartyId to = *receiver;
  auto handler = [key_share, party_map, to](ProtocolExecutor root) {
    return ed25519_extract_handler(std::move(root), *key_share, *party_map, to);
  };
  register_handler(*driven, Version::V1_1_0, std::move(handler));

  auto extracted = co_await dispatch_versioned(std::move(*driven));
  if (!extracted) co_return std::unexpected(std::move(extracted.error()));
  if (!*extracted) co_return std::string();
  co_return frost::spriv_encode(**extracted);
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ed25519_refresh_body(
    ShareArgs<Ed25519StorableSecretShare> args) {
  auto key = ed25519_usable_key_share(args.share);
  if (!key) co_return std::unexpected(std::move(key.error()));
  auto driven = co_await join_share_parties<Ed25519StorableSecretShare>(std::move(args.host), args.room, args.share,
                                                                        key->get(), kEd25519RefreshOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  // Holders of different keys cannot open channels with each other.
  driven->session.setup.session_hasher().update(key->get().public_key.to_bytes());
  driven->session.setup.session_hasher().update(crypto::as_bytes(kEd25519RefreshLabel));

  const frost::FrostKeyShare* key_share = &key->get();
  auto handler = [key_share](ProtocolExecutor root) { return ed25519_refresh_handler(std::move(root), *key_share); };
  register_handler(*driven, Version::V1_1_0, std::move(handler));

  auto run = std::move(*driven);
  auto renewed = co_await dispatch_versioned(std::move(run));
  if (!renewed) co_return std::unexpected(std::move(renewed.error()));
  co_return ed25519_keygen_output(*renewed);
}

}  // namespace velto::executor
