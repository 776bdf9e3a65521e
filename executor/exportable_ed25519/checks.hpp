// Two checks of this family that hold for every scheme; kept here, one
// function each, until a scheme-neutral home takes them over.
#pragma once

#include <cstdint>
#include <expected>

#include "executor/api_type.hpp"
#include "executor/error.hpp"
#include "velto-frost-ed25519/error.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor::exportable_detail {

// 1 <= t <= the session's party count, checked by every role at the point
// where a holder of the key checks it, before anything is sent: a receiving
// party never runs the protocol on a threshold its peers would refuse.
inline std::expected<void, frost::ReshareRunError> threshold_fits(std::uint16_t t, const ProtocolExecutor& executor) {
  const std::uint16_t n = executor.number_of_parties();
  if (t >= 1 && t <= n) return {};
  return std::unexpected(
      frost::ReshareRunError::inner(frost::ReshareError(frost::ReshareError::ThresholdGreaterThanParties{t, n})));
}

// The receiver of an export must be a party of the session; otherwise
// PartyNotFound with its transport key (the share's map entry), before
// anything is sent.
inline std::expected<void, ExecutorFailure> receiver_in_session(const ProtocolExecutor& executor, PartyId receiver,
                                                                const noise::PublicKey& receiver_key) {
  if (executor.has_party(receiver)) return {};
  return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PartyNotFound{receiver_key}}));
}

}  // namespace velto::executor::exportable_detail
