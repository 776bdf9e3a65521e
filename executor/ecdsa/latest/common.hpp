// Small pieces shared by the handler sources.
#pragma once

#include <utility>

#include "executor/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "executor/ecdsa_share.hpp"

namespace velto::executor::latest_detail {

inline ExecutorFailure failure(ExecutorErrorKind kind) { return ExecutorFailure(std::move(kind)); }

inline ExecutorFailure sync_failed() {
  return failure(ExecutorErrorKind{ExecutorErrorKind::PublicKeyAndChaincodeSyncFailed{}});
}

// The current engine's key pair of a stored share of any version, as an
// owned copy (the share may be released while the copy is in use).
inline ecdsa::KeyPair keypair_of(const EcdsaStorableSecretShare& share) {
  return ecdsa_share_to_keypair(share).get();
}

}  // namespace velto::executor::latest_detail
