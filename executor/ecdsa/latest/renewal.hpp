// The common road of the ECDSA share-renewing handlers (refresh, reshare,
// import): the transport-key collector and the protocol task are joined
// (executor/common/task_join.hpp) and the new stored share is built.
#pragma once

#include <concepts>
#include <expected>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "executor/common/task_join.hpp"
#include "executor/ecdsa_share.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

// The share of a renewal: the new key pair, this party's new transport key
// and every party's new transport public key. `tag` is Latest for the
// current engine and V1_1_0 for protocol version 1.1.0 (its set-up states
// absent); the older tags are never written.
EcdsaStorableSecretShare renewed_share(ecdsa::KeyPair key_pair, TransportKeyRotation rotation,
                                       EcdsaShareTag tag = EcdsaShareTag::Latest);

// Joins the two tasks and builds the renewed share.
template <std::derived_from<Error> E>
boost::asio::awaitable<std::expected<EcdsaStorableSecretShare, ExecutorFailure>> join_into_renewed_share(
    async::JoinHandle<TransportKeyResult> transport, async::JoinHandle<std::expected<ecdsa::KeyPair, E>> protocol,
    EcdsaShareTag tag = EcdsaShareTag::Latest) {
  auto joined = co_await join_renewal_tasks<ecdsa::KeyPair, E>(std::move(transport), std::move(protocol));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  EcdsaStorableSecretShare share = renewed_share(std::move(joined->second), std::move(joined->first), tag);
  co_return std::move(share);
}

}  // namespace velto::executor
