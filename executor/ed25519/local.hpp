// The Ed25519 questions answered locally, without a room: child keys from a
// stored share, an spub or an spriv, the spub of a share, and the full
// private key rebuilt from shares held in one place.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "crypto/ed25519.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/error.hpp"
#include "velto-frost-ed25519/spub.hpp"

namespace velto::executor {

// The group key of the share moved along `path` (empty: the share's own key),
// as 64 lower-case hex digits of the compressed point. A step that fails
// (hardened index, depth 255, a refused step, a zero child share) is
// InvalidDerivationPath naming the whole path.
std::expected<std::string, ExecutorFailure> ed25519_share_child_pubkey_hex(const Ed25519StorableSecretShare& share,
                                                                           std::span<const std::uint32_t> path);

// The root spub of the key share: depth 0, no parent, child number 0.
std::string ed25519_key_share_spub(const frost::FrostKeyShare& key);

// The key of `spub` moved along `path` from its own node, as 64 hex digits;
// nothing when a step fails.
std::optional<std::string> ed25519_spub_child_pubkey_hex(const frost::ExtendedEd25519Key& spub,
                                                         std::span<const std::uint32_t> path);

// The scalar of `spriv` moved along `path`: the scalar plus the tweak sum of
// the public derivation from the spriv's node; nothing when a step fails.
std::optional<crypto::EdScalar> ed25519_spriv_child_key(const frost::SprivKey& spriv,
                                                        std::span<const std::uint32_t> path);

// The full private key of the shares at the root of the tree, with the
// chain code of the reference share. The first share in the given order is
// the reference whose threshold, group key and chain code every share is
// held to. Every share takes part; shares of one party id are left out of
// each other's Lagrange products. Failures, in order: DuplicateSecretShares
// (two shares equal in every field); Executor(InvalidAmountOfSecretSharesForRecovery)
// for no share (t 1) or fewer shares than the reference's threshold;
// Executor(IncompatibleSecretShares) for another group key or chain code;
// Executor(ReceivedInvalidPrivateKey) when the combination does not match the
// group key; InvalidKeyShare for a share whose key share cannot be used.
std::expected<frost::ExtractedPrivateKey, ExecutorFailure> ed25519_offline_export(
    std::span<const Ed25519StorableSecretShare> shares);

}  // namespace velto::executor
