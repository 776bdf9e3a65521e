// The key-generation body, and the record helpers that every body of this
// folder uses.
#include "executor/ecdsa/operations.hpp"

#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/ecdsa/latest/keygen_sign.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

namespace {

// Record fields that sit in different places per tag.
const crypto::Point& group_key_of(const EcdsaStorableSecretShare& share) {
  return std::visit(
      [](const auto& k) -> const crypto::Point& {
        if constexpr (std::is_same_v<std::decay_t<decltype(k)>, KeyPairV1_1_0>) {
          return k.key_pair.public_key;
        } else {
          return k.public_key;
        }
      },
      share.key_share);
}

template <class F>
std::uint16_t count_of(const EcdsaStorableSecretShare& share, F field) {
  return std::visit(
      [&](const auto& k) -> std::uint16_t {
        if constexpr (std::is_same_v<std::decay_t<decltype(k)>, KeyPairV1_1_0>) {
          return field(k.key_pair);
        } else {
          return field(k);
        }
      },
      share.key_share);
}

constexpr std::string_view kNoPartyMapPanic = "Bug! We passed a Set, so we should have a map ready";

// The v1.5.0 key generation as the record the body stores (tag 3).
HandlerFuture<EcdsaKeyShare> keygen_latest(ProtocolExecutor root, std::uint16_t threshold) {
  auto key = co_await ecdsa_keygen_handler_latest(std::move(root), threshold);
  if (!key) co_return std::unexpected(std::move(key.error()));
  co_return EcdsaKeyShare(std::in_place_index<3>, std::move(*key));
}

}  // namespace

crypto::ByteArray<65> ecdsa_share_public_key_uncompressed(const EcdsaStorableSecretShare& share) {
  return ecdsa::pubkey_to_uncompressed(group_key_of(share));
}

std::uint16_t ecdsa_share_threshold(const EcdsaStorableSecretShare& share) {
  return count_of(share, [](const auto& k) { return k.threshold; });
}

std::uint16_t ecdsa_share_num_parties(const EcdsaStorableSecretShare& share) {
  return count_of(share, [](const auto& k) { return k.num_parties; });
}

ffi::DoubleOutput ecdsa_keygen_output(const EcdsaStorableSecretShare& share) {
  return ffi::DoubleOutput(crypto::hex_encode(ecdsa_share_public_key_uncompressed(share)), ecdsa_share_encode(share));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_keygen_body(EcdsaKeygenArgs args) {
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

  auto key_share = co_await dispatch_versioned(std::move(*driven));
  if (!key_share) co_return std::unexpected(std::move(key_share.error()));
  EcdsaStorableSecretShare share{std::move(*key_share), std::move(args.own), std::move(party_map)};
  co_return ecdsa_keygen_output(share);
}

}  // namespace velto::executor
