// The checks of an offline export (the full private key rebuilt from shares
// held in one place), alike for every scheme: `Key` is the scheme's key share
// (party id, threshold, party count, chain code, group key, secret share) and
// `Extract` its extraction error, whose variants carry the texts.
#pragma once

#include <cstddef>
#include <expected>
#include <vector>

#include "executor/ecdsa_share.hpp"
#include "executor/error.hpp"

namespace velto::executor {

// Equal in every field; the secret shares are compared in constant time and
// only when everything public already matches.
template <class Key>
bool same_key_share(const Key& a, const Key& b) {
  if (a.party_id != b.party_id || a.threshold != b.threshold || a.num_parties != b.num_parties ||
      a.chain_code != b.chain_code || !(a.public_key == b.public_key))
    return false;
  return a.secret_share == b.secret_share;
}

// The reference share (the first one given) once the shares pass, in order:
// DuplicateSecretShares (two shares equal in every field);
// Executor(InvalidAmountOfSecretSharesForRecovery) for no share (t 1) or
// fewer shares than the reference's threshold; Executor(IncompatibleSecretShares)
// for a share of another group key or chain code.
template <class Extract, class Key>
std::expected<const Key*, ExecutorFailure> offline_export_reference(const std::vector<MaybeBorrowed<Key>>& keys) {
  using Amount = typename Extract::InvalidAmountOfSecretSharesForRecovery;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = i + 1; j < keys.size(); ++j) {
      if (same_key_share(*keys[i], *keys[j])) {
        return std::unexpected(ExecutorFailure(ExecutorErrorKind::DuplicateSecretShares{}));
      }
    }
  }
  if (keys.empty()) return std::unexpected(box_handler_error(Extract(Amount{1, 0})));

  const Key& reference = *keys.front();
  if (keys.size() < reference.threshold) {
    return std::unexpected(box_handler_error(Extract(Amount{reference.threshold, keys.size()})));
  }
  for (const auto& key : keys) {
    if (!(key->public_key == reference.public_key) || key->chain_code != reference.chain_code) {
      return std::unexpected(box_handler_error(Extract(typename Extract::IncompatibleSecretShares{})));
    }
  }
  return &reference;
}

}  // namespace velto::executor
