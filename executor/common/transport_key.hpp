// Transport-key rotation, shared by every scheme: every operation that renews
// key shares also gives every party a fresh X25519 transport key, so that a
// party's keygen id and export id change with its share.
//
// The collector runs as a task of its own beside the share-renewal protocol
// (task_join.hpp joins the two). Under its tag it sends this party's new public
// key (32 raw bytes) to every other party and collects exactly one key from
// each; a payload of more than 32 bytes is read for its first 32.
#pragma once

#include <expected>
#include <string_view>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "executor/api_type.hpp"
#include "noise-kk/keys.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

// The collector's result: this party's new transport key pair (the private
// key as drawn, wiped on release) and every party's new public key by party
// id, this party's own entry included. A class with a constructor, since it
// travels through coroutine results.
class TransportKeyRotation {
 public:
  TransportKeyRotation(noise::NoiseKeyPair keypair_in, PartyPubkeyMap party_map_in)
      : keypair(std::move(keypair_in)), party_map(std::move(party_map_in)) {}

  noise::NoiseKeyPair keypair;
  PartyPubkeyMap party_map;
};

using TransportKeyResult = std::expected<TransportKeyRotation, BoxedError>;

// Draws a fresh key pair from the system's secure random source, sends its
// public key to every party of `parties` but this one under `executor`'s tag
// (a child of the handler's joint executor, under the scheme's label)
// and collects one key from each. Messages of a party already heard stay in
// the executor's buffer. The executor is released when the task ends.
// Errors, boxed: ExecutorChannelError (manager gone, inbound channel closed,
// too many unexpected messages); SisedError OutOfBounds for a payload shorter
// than 32 bytes and Custom("Invalid public key") for a refused key.
boost::asio::awaitable<TransportKeyResult> transport_key_collector_task(
    ProtocolExecutor executor, PartyList parties);

// The collector as a task of its own on the child `label` of the handler's
// joint executor, over the joint executor's parties.
async::JoinHandle<TransportKeyResult> spawn_transport_key_collector(const ProtocolExecutor& joint,
                                                                    std::string_view label);

}  // namespace velto::executor
