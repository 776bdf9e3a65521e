#include "executor/ed25519/local.hpp"

#include <cstddef>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/offline_export.hpp"
#include "velto-frost-ed25519/error.hpp"
#include "velto-frost-ed25519/hashes.hpp"

namespace velto::executor {

namespace {

ExecutorFailure extract_failure(frost::FrostExtractError error) { return box_handler_error(std::move(error)); }

// λ at 0 of `own` over `ids`, every id equal to `own` left out of both
// products.
crypto::EdScalar lagrange_at_zero(PartyId own, std::span<const PartyId> ids) {
  const crypto::EdScalar x_own = frost::frost_id_scalar(own);
  crypto::EdScalar numerator = crypto::EdScalar::one();
  crypto::EdScalar denominator = crypto::EdScalar::one();
  for (const PartyId id : ids) {
    if (id == own) continue;
    const crypto::EdScalar x = frost::frost_id_scalar(id);
    numerator *= x;
    denominator *= x - x_own;
  }
  return numerator * denominator.invert();
}

frost::ExtendedEd25519Key root_node(const frost::FrostKeyShare& key) {
  frost::ExtendedEd25519Key node;
  node.public_key = frost::EdCurvePoint::from_point(key.public_key);
  node.chain_code = key.chain_code;
  return node;
}

}  // namespace

std::expected<std::string, ExecutorFailure> ed25519_share_child_pubkey_hex(const Ed25519StorableSecretShare& share,
                                                                           std::span<const std::uint32_t> path) {
  auto child = ed25519_share_derive_child(share, path);
  if (!child) return std::unexpected(std::move(child.error()));
  return crypto::hex_encode(child->key_share.public_key.to_bytes());
}

std::string ed25519_key_share_spub(const frost::FrostKeyShare& key) {
  std::string out;
  frost::spub_encode(root_node(key), out);
  return out;
}

std::optional<std::string> ed25519_spub_child_pubkey_hex(const frost::ExtendedEd25519Key& spub,
                                                         std::span<const std::uint32_t> path) {
  const std::optional<frost::DerivedSpub> derived = frost::spub_derive_path(spub, path);
  if (!derived) return std::nullopt;
  return crypto::hex_encode(derived->key.public_key.to_bytes());
}

std::optional<crypto::EdScalar> ed25519_spriv_child_key(const frost::SprivKey& spriv,
                                                        std::span<const std::uint32_t> path) {
  const std::optional<frost::DerivedSpub> derived = frost::spub_derive_path(spriv.node, path);
  if (!derived) return std::nullopt;
  return spriv.private_key.key + derived->tweak_sum;
}

std::expected<frost::ExtractedPrivateKey, ExecutorFailure> ed25519_offline_export(
    std::span<const Ed25519StorableSecretShare> shares) {
  using Extract = frost::FrostExtractError;
  std::vector<MaybeBorrowed<frost::FrostKeyShare>> keys;
  keys.reserve(shares.size());
  for (const auto& share : shares) {
    auto key = ed25519_share_to_keypair(share);
    if (!key) return std::unexpected(std::move(key.error()));
    keys.push_back(std::move(*key));
  }

  auto checked = offline_export_reference<Extract>(keys);
  if (!checked) return std::unexpected(std::move(checked.error()));
  const frost::FrostKeyShare& reference = **checked;

  std::vector<PartyId> ids;
  ids.reserve(keys.size());
  for (const auto& key : keys) ids.push_back(key->party_id);
  crypto::EdScalar x;
  for (const auto& key : keys) x += lagrange_at_zero(key->party_id, ids) * key->secret_share;
  if (!(crypto::EdPoint::base_mul(x) == reference.public_key)) {
    return std::unexpected(extract_failure(Extract::ReceivedInvalidPrivateKey{}));
  }
  frost::ExtractedPrivateKey out;
  out.key = std::move(x);
  out.chain_code = reference.chain_code;
  return out;
}

}  // namespace velto::executor
