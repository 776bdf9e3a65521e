// The reshare operations: remaining parties (holders of a share) and new
// parties (only a keygen identity) meet in one room, named by the keygen ids
// of the new party set, and share the same key anew under the new threshold.
// Both roles join under the same operation name and bind the same label, so
// their channels agree.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa/operations.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"

namespace velto::executor {

namespace {

constexpr std::string_view kEcdsaReshareOp = "ecdsa_reshare";
constexpr std::string_view kEcdsaReshareLabel = "ECDSA RESHARE";

template <class Kind>
ExecutorFailure failure(Kind kind) {
  return ExecutorFailure(ExecutorErrorKind(std::move(kind)));
}

bool valid_party_count(std::size_t n) { return n >= 1 && n <= kMaxNumberOfParties; }

ExecutorFailure too_many_parties(std::size_t n) {
  return failure(ExecutorErrorKind::NumberOfPartiesTooHigh{InvalidNumberOfPartiesCount(n)});
}

ExecutorFailure own_party_missing(const noise::PublicKey& own) {
  return failure(ExecutorErrorKind::CurrentPartyMissingInRemainingParties{own});
}

std::vector<noise::PublicKey> key_list(const KeygenIdSet& ids) { return {ids.begin(), ids.end()}; }

}  // namespace

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_reshare_remaining_party_body(
    EcdsaReshareRemainingArgs args) {
  const EcdsaStorableSecretShare& share = args.share;
  const std::size_t n = args.keygen_ids.size();
  if (!valid_party_count(n)) co_return std::unexpected(too_many_parties(n));
  const noise::PublicKey& own = share.transport_keypair.public_key();
  if (!args.keygen_ids.contains(own)) co_return std::unexpected(own_party_missing(own));

  // The parties of the old session that stay: the old map's keys that are
  // also keygen ids, enumerated from the smaller of the two sets.
  std::map<noise::PublicKey, PartyId> old_ids;
  for (const auto& [id, key] : share.partyid_pubkey_map) old_ids.insert_or_assign(key, id);
  std::vector<PartyId> remaining_party_ids;
  if (old_ids.size() <= args.keygen_ids.size()) {
    for (const auto& [key, id] : old_ids)
      if (args.keygen_ids.contains(key)) remaining_party_ids.push_back(id);
  } else {
    for (const auto& key : args.keygen_ids)
      if (auto it = old_ids.find(key); it != old_ids.end()) remaining_party_ids.push_back(it->second);
  }
  const std::uint16_t old_threshold = ecdsa_share_threshold(share);
  if (remaining_party_ids.size() < old_threshold) {
    co_return std::unexpected(
        failure(ExecutorErrorKind::InsufficientRemainingParties{remaining_party_ids.size(), old_threshold}));
  }

  auto driven = co_await drive_keygen_type<EcdsaStorableSecretShare>(
      std::move(args.host), args.room, share.transport_keypair, key_list(args.keygen_ids),
      static_cast<std::uint16_t>(n), args.new_threshold, kEcdsaReshareOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  if (!driven->party_keys) panic(std::string(kNoPartyMapPanic));

  driven->session.setup.session_hasher().update(crypto::as_bytes(kEcdsaReshareLabel));

  // The handler borrows the share, which this frame keeps until the dispatch
  // has ended.
  auto v1_1_0 = [&share, ids = remaining_party_ids, t = args.new_threshold](ProtocolExecutor root) mutable {
    return ecdsa_reshare_remaining_handler_v1_1_0(std::move(root), share, std::move(ids), t);
  };
  auto latest = [&share, ids = std::move(remaining_party_ids),
                 t = args.new_threshold](ProtocolExecutor root) mutable {
    return ecdsa_reshare_remaining_handler_latest(std::move(root), share, std::move(ids), t);
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto run = std::move(*driven);
  auto reshared = co_await dispatch_versioned(std::move(run));
  if (!reshared) co_return std::unexpected(std::move(reshared.error()));
  co_return ecdsa_keygen_output(*reshared);
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_reshare_new_party_body(
    EcdsaReshareNewArgs args) {
  const noise::PublicKey own = args.own.public_key();
  if (!args.keygen_ids.contains(own)) co_return std::unexpected(own_party_missing(own));
  const std::size_t n = args.keygen_ids.size();
  if (!valid_party_count(n)) co_return std::unexpected(too_many_parties(n));

  auto driven = co_await drive_keygen_type<EcdsaStorableSecretShare>(
      std::move(args.host), args.room, std::move(args.own), key_list(args.keygen_ids),
      static_cast<std::uint16_t>(n), args.new_threshold, kEcdsaReshareOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  driven->session.setup.session_hasher().update(crypto::as_bytes(kEcdsaReshareLabel));

  auto latest = [t = args.new_threshold](ProtocolExecutor root) {
    return ecdsa_reshare_new_handler_latest(std::move(root), t);
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  auto v1_1_0 = [t = args.new_threshold](ProtocolExecutor root) {
    return ecdsa_reshare_new_handler_v1_1_0(std::move(root), t);
  };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto run = std::move(*driven);
  auto reshared = co_await dispatch_versioned(std::move(run));
  if (!reshared) co_return std::unexpected(std::move(reshared.error()));
  co_return ecdsa_keygen_output(*reshared);
}

}  // namespace velto::executor
