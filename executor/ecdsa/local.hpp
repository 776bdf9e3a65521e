// The ECDSA questions answered locally, without a room: child keys from a
// stored share, an xpub or an xprv, the xpub and export id of a share, and the
// full private key rebuilt from shares held in one place.
//
// Texts that hold a private key are written straight into the receiver's
// allocation (ffi::OwnedHeapString, which wipes itself when not handed over).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "crypto/secp256k1.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/error.hpp"
#include "velto-ecdsa/bip32.hpp"

namespace velto::executor {

// The group key of the share moved along `path` (empty: the share's own key),
// as 130 lower-case hex digits of its uncompressed form. A step that fails
// (hardened index, depth 255, a refused step, a zero child share) is
// InvalidDerivationPath naming the whole path.
std::expected<std::string, ExecutorFailure> ecdsa_share_child_pubkey_hex(const EcdsaStorableSecretShare& share,
                                                                         std::span<const std::uint32_t> path);

// The root xpub of the share: depth 0, no parent, child number 0, the share's
// chain code (a V1 share's upgraded one) and the group key.
ecdsa::Xpub ecdsa_share_xpub(const EcdsaStorableSecretShare& share);

// The key of `xpub` moved along `path` from the xpub's depth, as 130 hex
// digits; nothing when a step fails.
std::optional<std::string> ecdsa_xpub_child_pubkey_hex(const ecdsa::Xpub& xpub, std::span<const std::uint32_t> path);

// The private key of `xpriv` moved along `path` by public derivation plus the
// summed tweaks; nothing when a step fails (hardened indices included) or the
// child key is zero.
std::optional<crypto::Scalar> ecdsa_xpriv_child_key(const ecdsa::Xpriv& xpriv, std::span<const std::uint32_t> path);

// The export id: Base58 of the share's transport public key.
std::string ecdsa_share_export_id(const EcdsaStorableSecretShare& share);

// The full private key of the shares, with the chain code of the first share.
// The first share in the given order is the reference whose threshold, group
// key and chain code every share is held to, so the outcome does not depend
// on anything but the input. Failures, in order: DuplicateSecretShares (two
// shares equal in every field); Executor(InvalidAmountOfSecretSharesForRecovery)
// for no share (t 1) or fewer shares than the reference's threshold;
// Executor(IncompatibleSecretShares) for another group key or chain code;
// Executor(ReceivedInvalidPrivateKey) when the combination of all shares does
// not match the group key (two different shares of one party, for example).
std::expected<ecdsa::Xpriv, ExecutorFailure> ecdsa_offline_export(std::span<const EcdsaStorableSecretShare> shares);

// 64 lower-case hex digits of a private key, written without branching on
// its digits into a new receiver-owned text.
ffi::OwnedHeapString secret_scalar_hex(const crypto::Scalar& key);

}  // namespace velto::executor
