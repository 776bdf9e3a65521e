#include "executor/sr25519/local.hpp"

#include <cstddef>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "velto-frost-sr25519/extract.hpp"

namespace velto::executor {

std::expected<std::string, ExecutorFailure> sr25519_share_child_pubkey_hex(const Sr25519StorableSecretShare& share,
                                                                           std::span<const std::string> path) {
  auto derived = frost::sr25519_derive_path(share.key_share.group_key, path);
  if (!derived) return std::unexpected(ExecutorFailure(invalid_derivation_path_error_text(path)));
  return crypto::hex_encode(derived->key.to_bytes());
}

std::expected<std::string, frost::Sr25519DerivePathError> sr25519_child_pubkey_hex(
    const crypto::RistrettoPoint& key, std::span<const std::string> path) {
  auto derived = frost::sr25519_derive_path(key, path);
  if (!derived) return std::unexpected(std::move(derived.error()));
  return crypto::hex_encode(derived->key.to_bytes());
}

std::expected<crypto::EdScalar, ExecutorFailure> sr25519_child_secret(const crypto::EdScalar& x,
                                                                      std::span<const std::string> path) {
  auto derived = frost::sr25519_derive_path(crypto::RistrettoPoint::base_mul(x), path);
  if (!derived) return std::unexpected(ExecutorFailure(invalid_derivation_path_error_text(path)));
  return x + derived->tweak;
}

std::expected<crypto::EdScalar, ExecutorFailure> sr25519_offline_export(
    std::span<const Sr25519StorableSecretShare> shares) {
  std::vector<frost::Sr25519KeyShare> keys;
  keys.reserve(shares.size());
  for (const auto& share : shares) keys.push_back(share.key_share);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = i + 1; j < keys.size(); ++j) {
      if (keys[i] == keys[j]) return std::unexpected(ExecutorFailure(ExecutorErrorKind::DuplicateSecretShares{}));
    }
  }
  auto secret = frost::sr25519_reconstruct_secret(keys);
  if (!secret) return std::unexpected(box_handler_error(std::move(secret.error())));
  return std::move(*secret);
}

}  // namespace velto::executor
