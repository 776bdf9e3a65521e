// The sr25519 questions answered locally, without a room: child keys of a
// share's group key, of a public key or of a secret key along a junction
// path, and the group secret rebuilt from shares held in one place.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>

#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"
#include "crypto/secret.hpp"
#include "executor/error.hpp"
#include "executor/sr25519_share.hpp"
#include "velto-frost-sr25519/derive.hpp"
#include "velto-frost-sr25519/error.hpp"

namespace velto::executor {

// The share's group key moved along `path` (empty: the group key itself), as
// 64 lower-case hex digits of the compressed point. A refused junction is
// InvalidDerivationPath naming the whole path.
std::expected<std::string, ExecutorFailure> sr25519_share_child_pubkey_hex(const Sr25519StorableSecretShare& share,
                                                                           std::span<const std::string> path);

// `key` moved along `path`, as 64 hex digits, or the derivation's own error.
std::expected<std::string, frost::Sr25519DerivePathError> sr25519_child_pubkey_hex(
    const crypto::RistrettoPoint& key, std::span<const std::string> path);

// The secret x of a key moved along `path`: x + the tweak of the public
// derivation from x·B. A refused junction is InvalidDerivationPath naming
// the whole path.
std::expected<crypto::EdScalar, ExecutorFailure> sr25519_child_secret(const crypto::EdScalar& x,
                                                                      std::span<const std::string> path);

// The group secret of the shares. Failures, in order: DuplicateSecretShares
// (two key shares equal in group key, secret, id, party count and
// threshold; transport keys and maps are not compared); then, with the
// first share as the reference, Executor(InvalidAmountOfSecretSharesForRecovery)
// for no share (t 1) or fewer shares than its threshold,
// Executor(IncompatibleSecretShares) for another group key, and
// Executor(ReceivedInvalidPrivateKey) when x·B is not the group key.
std::expected<crypto::EdScalar, ExecutorFailure> sr25519_offline_export(
    std::span<const Sr25519StorableSecretShare> shares);

}  // namespace velto::executor
