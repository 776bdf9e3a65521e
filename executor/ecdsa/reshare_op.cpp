// The reshare operations: remaining parties (holders of a share) and new
// parties (only a keygen identity) meet in one room, named by the keygen ids
// of the new party set, and share the same key anew under the new threshold.
// Both roles join under the same operation name and bind the same label, so
// their channels agree.
#include "velto-mpc-infra/async/asio.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa/operations.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"

namespace velto::executor {

namespace {

constexpr std::string_view kEcdsaReshareOp = "ecdsa_reshare";
constexpr std::string_view kEcdsaReshareLabel = "ECDSA RESHARE";

}  // namespace

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_reshare_remaining_party_body(
    ReshareRemainingArgs<EcdsaStorableSecretShare> args) {
  const EcdsaStorableSecretShare& share = args.share;
  auto n = check_party_set_size(args.keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));
  const noise::PublicKey& own = share.transport_keypair.public_key();
  if (auto listed = check_own_party_listed(own, args.keygen_ids); !listed) {
    co_return std::unexpected(std::move(listed.error()));
  }

  // The parties of the old session that stay.
  std::vector<PartyId> remaining = remaining_party_ids(share.partyid_pubkey_map, args.keygen_ids);
  const std::uint16_t old_threshold = ecdsa_share_threshold(share);
  if (remaining.size() < old_threshold) {
    co_return std::unexpected(
        ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InsufficientRemainingParties{remaining.size(), old_threshold}}));
  }

  auto driven = co_await join_party_set<EcdsaStorableSecretShare>(std::move(args.host), args.room,
                                                                  share.transport_keypair, args.keygen_ids, *n,
                                                                  args.new_threshold, kEcdsaReshareOp,
                                                                  kEcdsaReshareLabel, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  // The handler borrows the share, which this frame keeps until the dispatch
  // has ended.
  auto v1_1_0 = [&share, ids = remaining, t = args.new_threshold](ProtocolExecutor root) mutable {
    return ecdsa_reshare_remaining_handler_v1_1_0(std::move(root), share, std::move(ids), t);
  };
  auto latest = [&share, ids = std::move(remaining),
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
    IdentityArgs args) {
  if (auto listed = check_own_party_listed(args.own.public_key(), args.keygen_ids); !listed) {
    co_return std::unexpected(std::move(listed.error()));
  }
  auto n = check_party_set_size(args.keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));

  auto driven = co_await join_party_set<EcdsaStorableSecretShare>(std::move(args.host), args.room,
                                                                  std::move(args.own), args.keygen_ids, *n,
                                                                  args.threshold, kEcdsaReshareOp,
                                                                  kEcdsaReshareLabel, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  auto latest = [t = args.threshold](ProtocolExecutor root) {
    return ecdsa_reshare_new_handler_latest(std::move(root), t);
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  auto v1_1_0 = [t = args.threshold](ProtocolExecutor root) {
    return ecdsa_reshare_new_handler_v1_1_0(std::move(root), t);
  };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto run = std::move(*driven);
  auto reshared = co_await dispatch_versioned(std::move(run));
  if (!reshared) co_return std::unexpected(std::move(reshared.error()));
  co_return ecdsa_keygen_output(*reshared);
}

}  // namespace velto::executor
