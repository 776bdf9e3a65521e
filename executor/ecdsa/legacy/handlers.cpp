#include "executor/ecdsa/legacy/handlers.hpp"

#include <optional>
#include <string>
#include <utility>

#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/renewal_road.hpp"
#include "executor/ecdsa_share.hpp"
#include "velto-ecdsa-legacy/keygen.hpp"
#include "velto-ecdsa-legacy/sign/sign.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

namespace {

constexpr std::string_view kUpgradeExtractedKeyPanic = "Upgrading extracted private key from v1.1.0 to v1.5.0 failed. Bug!";

}  // namespace

std::expected<ecdsa::KeyPair, ExecutorFailure> ecdsa_keypair_v1_1_0(const EcdsaStorableSecretShare& share) {
  auto converted = ecdsa_share_to_keypair_v4(share);
  if (!converted) {
    return std::unexpected(
        latest_detail::failure(ExecutorErrorKind{ExecutorErrorKind::SecretShareIsTooNewForThisVersion{}}));
  }
  return converted->get().key_pair;
}

boost::asio::awaitable<std::expected<EcdsaKeyShare, ExecutorFailure>> ecdsa_keygen_handler_v1_1_0(
    ProtocolExecutor root, std::uint16_t threshold) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  auto key = co_await ecdsa::legacy::ecdsa_keygen_v4(joint->child(ecdsa::kKeygenLabel), threshold);
  if (!key) co_return std::unexpected(box_handler_error(std::move(key.error())));
  co_return EcdsaKeyShare(std::in_place_index<2>, KeyPairV1_1_0{std::move(*key), std::nullopt});
}

boost::asio::awaitable<ShareResult> ecdsa_refresh_handler_v1_1_0(ProtocolExecutor root,
                                                                 const EcdsaStorableSecretShare& share) {
  co_return co_await renewal_road::refresh<V1_1_0Engine>(std::move(root), share);
}

boost::asio::awaitable<ShareResult> ecdsa_reshare_remaining_handler_v1_1_0(ProtocolExecutor root,
                                                                           const EcdsaStorableSecretShare& share,
                                                                           std::vector<PartyId> remaining_party_ids,
                                                                           std::uint16_t new_threshold) {
  co_return co_await renewal_road::reshare_remaining<V1_1_0Engine>(std::move(root), share,
                                                                   std::move(remaining_party_ids), new_threshold);
}

boost::asio::awaitable<ShareResult> ecdsa_reshare_new_handler_v1_1_0(ProtocolExecutor root,
                                                                     std::uint16_t new_threshold) {
  co_return co_await renewal_road::reshare_new<V1_1_0Engine>(std::move(root), new_threshold);
}

boost::asio::awaitable<ShareResult> ecdsa_import_importer_handler_v1_1_0(
    ProtocolExecutor root, std::uint16_t threshold, crypto::SecretArray<32> private_key,
    std::optional<crypto::ByteArray<32>> chain_code) {
  co_return co_await renewal_road::import_importer<V1_1_0Engine>(std::move(root), threshold, std::move(private_key),
                                                                 std::move(chain_code));
}

boost::asio::awaitable<ShareResult> ecdsa_import_recipient_handler_v1_1_0(ProtocolExecutor root,
                                                                          std::uint16_t threshold) {
  co_return co_await renewal_road::import_recipient<V1_1_0Engine>(std::move(root), threshold);
}

boost::asio::awaitable<std::expected<crypto::Bytes, ExecutorFailure>> ecdsa_sign_handler_v1_1_0(
    ProtocolExecutor root, const EcdsaStorableSecretShare& share, std::span<const std::uint32_t> path,
    crypto::ByteArray<32> message_hash) {
  if (auto key = ecdsa_keypair_v1_1_0(share); !key) co_return std::unexpected(std::move(key.error()));
  auto derived = ecdsa_share_derive_child(share, path);
  if (!derived) co_return std::unexpected(std::move(derived.error()));
  auto signature = co_await ecdsa::legacy::ecdsa_sign_v4(std::move(root), derived->key_pair, message_hash);
  if (!signature) co_return std::unexpected(into_boxed_handler_error(std::move(signature.error())));
  co_return std::move(*signature);
}

boost::asio::awaitable<std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>> ecdsa_extract_handler_v1_1_0(
    ProtocolExecutor root, const EcdsaStorableSecretShare& share, PartyId receiver) {
  auto key = ecdsa_keypair_v1_1_0(share);
  if (!key) co_return std::unexpected(std::move(key.error()));
  auto extracted = co_await latest_detail::run_extraction(std::move(root), *key, share, receiver);
  if (!extracted || !*extracted) co_return std::move(extracted);
  // The version's key reaches the current form through its xprv text.
  const std::string text = ecdsa::xprv_to_string(**extracted);
  auto upgraded = ecdsa::parse_xpriv(text);
  if (!upgraded) panic(std::string(kUpgradeExtractedKeyPanic));
  co_return std::optional<ecdsa::Xpriv>(std::move(*upgraded));
}

}  // namespace velto::executor
