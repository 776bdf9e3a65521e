// Small pieces shared by the handler sources.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <expected>
#include <optional>
#include <utility>

#include "executor/error.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-ecdsa/keys.hpp"
#include "executor/ecdsa_share.hpp"

namespace velto::executor::latest_detail {

inline ExecutorFailure failure(ExecutorErrorKind kind) { return ExecutorFailure(std::move(kind)); }

// The current engine's key pair of a stored share of any version, as an
// owned copy (the share may be released while the copy is in use).
inline ecdsa::KeyPair keypair_of(const EcdsaStorableSecretShare& share) {
  return ecdsa_share_to_keypair(share).get();
}

using ExtractResult = std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>;

// The extraction of both protocol versions with `key`, the engine's key pair
// of `share`: the joint tag and its child "ECDSA full private-key
// extraction", the party count (the key's threshold), the receiver's
// presence (PartyNotFound before anything is sent), then the extraction
// rounds. The receiver's key, nothing elsewhere.
boost::asio::awaitable<ExtractResult> run_extraction(ProtocolExecutor root, const ecdsa::KeyPair& key,
                                                     const EcdsaStorableSecretShare& share, PartyId receiver);

}  // namespace velto::executor::latest_detail
