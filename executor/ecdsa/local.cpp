#include "executor/ecdsa/local.hpp"

#include <cstddef>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "executor/common/offline_export.hpp"
#include "executor/ecdsa_share.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/lagrange.hpp"

namespace velto::executor {

namespace {

std::string uncompressed_hex(const crypto::Point& key) { return crypto::hex_encode(ecdsa::pubkey_to_uncompressed(key)); }

}  // namespace

std::expected<std::string, ExecutorFailure> ecdsa_share_child_pubkey_hex(const EcdsaStorableSecretShare& share,
                                                                         std::span<const std::uint32_t> path) {
  auto child = ecdsa_share_derive_child(share, path);
  if (!child) return std::unexpected(std::move(child.error()));
  return uncompressed_hex(child->key_pair.public_key);
}

ecdsa::Xpub ecdsa_share_xpub(const EcdsaStorableSecretShare& share) {
  const MaybeBorrowed<ecdsa::KeyPair> key = ecdsa_share_to_keypair(share);
  return ecdsa::Xpub{key->chain_code, key->public_key, 0, {}, 0};
}

std::optional<std::string> ecdsa_xpub_child_pubkey_hex(const ecdsa::Xpub& xpub, std::span<const std::uint32_t> path) {
  const std::optional<ecdsa::DerivedXpub> derived = ecdsa::derive_child_pubkey_path(xpub, path);
  if (!derived) return std::nullopt;
  return uncompressed_hex(derived->xpub.public_key);
}

std::optional<crypto::Scalar> ecdsa_xpriv_child_key(const ecdsa::Xpriv& xpriv, std::span<const std::uint32_t> path) {
  const ecdsa::Xpub parent{xpriv.chain_code, crypto::Point::base_mul(xpriv.private_key), xpriv.child_number,
                           xpriv.parent_fingerprint, xpriv.depth};
  const std::optional<ecdsa::DerivedXpub> derived = ecdsa::derive_child_pubkey_path(parent, path);
  if (!derived) return std::nullopt;
  crypto::Scalar child = xpriv.private_key + derived->tweak_sum;
  // The child public key is not the identity, so the child key is not zero;
  // checked anyway rather than writing a zero key.
  if (child.is_zero()) return std::nullopt;
  return child;
}

std::string ecdsa_share_export_id(const EcdsaStorableSecretShare& share) {
  return crypto::base58_encode(share.transport_keypair.public_key().span());
}

std::expected<ecdsa::Xpriv, ExecutorFailure> ecdsa_offline_export(std::span<const EcdsaStorableSecretShare> shares) {
  using Extract = ecdsa::EcdsaExtractLibError;
  std::vector<MaybeBorrowed<ecdsa::KeyPair>> keys;
  keys.reserve(shares.size());
  for (const auto& share : shares) keys.push_back(ecdsa_share_to_keypair(share));

  auto checked = offline_export_reference<Extract>(keys);
  if (!checked) return std::unexpected(std::move(checked.error()));
  const ecdsa::KeyPair& reference = **checked;

  // Every share takes part: x = Σ λ_i·s_i with λ_i at 0 over the ids of all
  // shares, the shares of the same party left out of each other's products.
  std::vector<PartyId> ids;
  ids.reserve(keys.size());
  for (const auto& key : keys) ids.push_back(key->party_id);
  crypto::Scalar x = crypto::Scalar::zero();
  for (const auto& key : keys) {
    x += ecdsa::lagrange_coefficient_at(key->party_id, ids, key->party_id) * key->secret_share;
  }
  if (!(crypto::Point::base_mul(x) == reference.public_key)) {
    return std::unexpected(box_handler_error(Extract(Extract::ReceivedInvalidPrivateKey{})));
  }
  return ecdsa::Xpriv{std::move(x), reference.chain_code, 0, {}, 0};
}

ffi::OwnedHeapString secret_scalar_hex(const crypto::Scalar& key) {
  return ffi::secret_hex(crypto::SecretArray<32>(key.to_bytes()));
}

}  // namespace velto::executor
