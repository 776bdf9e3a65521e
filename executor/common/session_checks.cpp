#include "executor/common/session_checks.hpp"

#include <map>
#include <string>

#include "crypto/error.hpp"

namespace velto::executor {

std::expected<void, ExecutorFailure> check_threshold_fits(std::uint16_t threshold, std::size_t parties) {
  if (threshold == 0) {
    return std::unexpected(
        ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::NumberOfPartiesTooHigh{InvalidNumberOfPartiesCount(0)}}));
  }
  if (auto within = check_threshold_at_most(threshold, parties); !within) {
    return std::unexpected(box_handler_error(std::move(within.error())));
  }
  return {};
}

std::expected<void, frost::ReshareError> check_threshold_at_most(std::uint16_t threshold, std::size_t parties) {
  if (threshold <= parties) return {};
  return std::unexpected(
      frost::ReshareError(frost::ReshareError::ThresholdGreaterThanParties{threshold, static_cast<std::uint16_t>(parties)}));
}

std::optional<PartyId> party_of_key(const PartyPubkeyMap& map, const noise::PublicKey& key) {
  for (const auto& [id, entry] : map) {
    if (entry == key) return id;
  }
  return std::nullopt;
}

std::expected<void, ExecutorFailure> check_receiver_in_session(const ProtocolExecutor& executor,
                                                               const PartyPubkeyMap& map, PartyId receiver) {
  if (executor.has_party(receiver)) return {};
  const auto it = map.find(receiver);
  if (it != map.end()) return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PartyNotFound{it->second}}));
  return std::unexpected(into_boxed_handler_error(box_error<TextError>(
      "The export receiver " + std::to_string(receiver.value()) + " is not among the parties of the session")));
}

std::vector<PartyId> remaining_party_ids(const PartyPubkeyMap& old_map, const KeygenIdSet& keygen_ids) {
  std::map<noise::PublicKey, PartyId> old_ids;
  for (const auto& [id, key] : old_map) old_ids.insert_or_assign(key, id);
  std::vector<PartyId> out;
  if (old_ids.size() <= keygen_ids.size()) {
    for (const auto& [key, id] : old_ids)
      if (keygen_ids.contains(key)) out.push_back(id);
  } else {
    for (const auto& key : keygen_ids)
      if (auto it = old_ids.find(key); it != old_ids.end()) out.push_back(it->second);
  }
  return out;
}

std::expected<std::uint16_t, ExecutorFailure> check_party_set_size(std::size_t size) {
  if (size < 1 || size > kMaxNumberOfParties) {
    return std::unexpected(ExecutorFailure(
        ExecutorErrorKind{ExecutorErrorKind::NumberOfPartiesTooHigh{InvalidNumberOfPartiesCount(size)}}));
  }
  return static_cast<std::uint16_t>(size);
}

std::expected<void, ExecutorFailure> check_own_party_listed(const noise::PublicKey& own, const KeygenIdSet& keygen_ids) {
  if (keygen_ids.contains(own)) return {};
  return std::unexpected(
      ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::CurrentPartyMissingInRemainingParties{own}}));
}

}  // namespace velto::executor
