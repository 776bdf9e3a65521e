// Checks that the handlers of every scheme make on a started session before
// they compute or send anything of their own: the threshold a run deals with
// fits the session's party count, and the receiver of an export is one of the
// session's parties. Every party of a session sees the same party list and
// the same arguments (both are bound into the channel prologue), so a failed
// check ends the run at every party alike, before a protocol step can meet
// the fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "executor/api_type.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-ed25519/error.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

// 1 <= threshold <= parties. A threshold above the party count is
// Executor("Threshold {t} is greater than the number of parties {n}"); a zero
// threshold (which the argument checks already refuse) is
// NumberOfPartiesTooHigh(0).
std::expected<void, ExecutorFailure> check_threshold_fits(std::uint16_t threshold, std::size_t parties);

// threshold <= parties, as the protocol error ThresholdGreaterThanParties
// ("Threshold {t} is greater than the number of parties {n}"), for a step
// that reports protocol errors (a protocol task, or a role whose peers report
// the same check from inside the protocol library). The caller's threshold
// is at least 1.
std::expected<void, frost::ReshareError> check_threshold_at_most(std::uint16_t threshold, std::size_t parties);

// The party id under which `key` stands in `map`, if any.
std::optional<PartyId> party_of_key(const PartyPubkeyMap& map, const noise::PublicKey& key);

// The export receiver must be a party of the session: otherwise nobody could
// rebuild the key. PartyNotFound with the receiver's transport key from
// `map` (the share's party map); an Executor text when the map does not know
// the receiver either.
std::expected<void, ExecutorFailure> check_receiver_in_session(const ProtocolExecutor& executor,
                                                               const PartyPubkeyMap& map, PartyId receiver);

// The old party ids of the remaining parties of a reshare: the parties of
// the old session (`old_map`) whose transport keys are among the keygen ids
// of the new one. Enumerated from the smaller of the two sets; the order is
// not significant.
std::vector<PartyId> remaining_party_ids(const PartyPubkeyMap& old_map, const KeygenIdSet& keygen_ids);

// The size of a party set named by keygen ids: 1 to 8192 keys, else
// NumberOfPartiesTooHigh(size). The size as a party count.
std::expected<std::uint16_t, ExecutorFailure> check_party_set_size(std::size_t size);

// A reshare party's own transport key must be among the keygen ids, else
// CurrentPartyMissingInRemainingParties(own).
std::expected<void, ExecutorFailure> check_own_party_listed(const noise::PublicKey& own, const KeygenIdSet& keygen_ids);

}  // namespace velto::executor
