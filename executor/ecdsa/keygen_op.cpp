// The key-generation body, and the record helpers that every body of this
// folder uses.
#include "executor/ecdsa/operations.hpp"

#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/ecdsa/latest/keygen_sign.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa_share.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

namespace {

// The v1.5.0 key generation as the record the body stores (tag 3).
HandlerFuture<EcdsaKeyShare> keygen_latest(ProtocolExecutor root, std::uint16_t threshold) {
  auto key = co_await ecdsa_keygen_handler_latest(std::move(root), threshold);
  if (!key) co_return std::unexpected(std::move(key.error()));
  co_return EcdsaKeyShare(std::in_place_index<3>, std::move(*key));
}

}  // namespace

crypto::ByteArray<65> ecdsa_share_public_key_uncompressed(const EcdsaStorableSecretShare& share) {
  return ecdsa::pubkey_to_uncompressed(ecdsa_share_to_keypair(share).get().public_key);
}

std::uint16_t ecdsa_share_threshold(const EcdsaStorableSecretShare& share) {
  return ecdsa_share_to_keypair(share).get().threshold;
}

std::uint16_t ecdsa_share_num_parties(const EcdsaStorableSecretShare& share) {
  return ecdsa_share_to_keypair(share).get().num_parties;
}

ffi::DoubleOutput ecdsa_keygen_output(const EcdsaStorableSecretShare& share) {
  return ffi::DoubleOutput(crypto::hex_encode(ecdsa_share_public_key_uncompressed(share)), ecdsa_share_encode(share));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_keygen_body(KeygenArgs args) {
  std::vector<noise::PublicKey> keygen_ids(args.keygen_ids.begin(), args.keygen_ids.end());
  auto driven = co_await drive_keygen_type<EcdsaKeyShare>(std::move(args.host), args.room, args.own,
                                                          std::move(keygen_ids), args.n, args.t, kEcdsaKeygenOp,
                                                          args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  if (!driven->party_keys) panic(std::string(kNoPartyMapPanic));
  PartyPubkeyMap party_map = std::move(*driven->party_keys);
  driven->party_keys.reset();

  driven->session.setup.session_hasher().update(crypto::as_bytes(kEcdsaKeygenLabel));

  const std::uint16_t threshold = args.t;
  auto latest = [threshold](ProtocolExecutor root) { return keygen_latest(std::move(root), threshold); };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  auto v1_1_0 = [threshold](ProtocolExecutor root) { return ecdsa_keygen_handler_v1_1_0(std::move(root), threshold); };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto key_share = co_await dispatch_versioned(std::move(*driven));
  if (!key_share) co_return std::unexpected(std::move(key_share.error()));
  EcdsaStorableSecretShare share{std::move(*key_share), std::move(args.own), std::move(party_map)};
  co_return ecdsa_keygen_output(share);
}

}  // namespace velto::executor
