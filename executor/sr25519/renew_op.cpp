// The reshare and import bodies. Both roles of each operation join under the
// same operation name and bind the same label, so their channels agree; the
// party set is given by keygen ids.
#include "velto-mpc-infra/async/asio.hpp"

#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "executor/sr25519/handlers.hpp"
#include "executor/sr25519/operations.hpp"

namespace velto::executor {

namespace {

using Run = VersionedHandlers<Sr25519StorableSecretShare>;

// Registers the handler, dispatches and writes the keygen-type outputs.
template <class Handler>
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> run_renewal(Run run, Handler handler) {
  register_handler(run, Version::V1_3_0, std::move(handler));
  auto renewed = co_await dispatch_versioned(std::move(run));
  if (!renewed) co_return std::unexpected(std::move(renewed.error()));
  co_return sr25519_keygen_output(*renewed);
}

// Import: the own key added to the set, the count checked, the room joined.
// Takes the host, key pair and ids out of `args`.
boost::asio::awaitable<std::expected<Run, ExecutorFailure>> join_import(IdentityArgs& args) {
  args.keygen_ids.insert(args.own.public_key());
  auto n = check_party_set_size(args.keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));
  co_return co_await join_party_set<Sr25519StorableSecretShare>(std::move(args.host), args.room, std::move(args.own),
                                                                args.keygen_ids, *n, args.threshold, kSr25519ImportOp,
                                                                kSr25519ImportLabel, args.timings);
}

}  // namespace

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_reshare_remaining_party_body(
    ReshareRemainingArgs<Sr25519StorableSecretShare> args) {
  const Sr25519StorableSecretShare& share = args.share;
  const noise::PublicKey& own = share.transport_keypair.public_key();
  if (auto listed = check_own_party_listed(own, args.keygen_ids); !listed) {
    co_return std::unexpected(std::move(listed.error()));
  }
  auto key = sr25519_share_checked_key_share(share);
  if (!key) co_return std::unexpected(std::move(key.error()));
  std::vector<PartyId> remaining = remaining_party_ids(share.partyid_pubkey_map, args.keygen_ids);
  const std::uint16_t old_threshold = (*key)->threshold;
  if (remaining.size() < old_threshold) {
    co_return std::unexpected(ExecutorFailure(
        ExecutorErrorKind{ExecutorErrorKind::InsufficientRemainingParties{remaining.size(), old_threshold}}));
  }
  auto n = check_party_set_size(args.keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));

  auto driven = co_await join_party_set<Sr25519StorableSecretShare>(
      std::move(args.host), args.room, share.transport_keypair, args.keygen_ids, *n, args.new_threshold,
      kSr25519ReshareOp, kSr25519ReshareLabel, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  // The key share lives in this frame until the dispatch has ended.
  const frost::Sr25519KeyShare* key_share = *key;
  auto handler = [key_share, ids = std::move(remaining), t = args.new_threshold](ProtocolExecutor root) mutable {
    return sr25519_reshare_remaining_party_handler(std::move(root), *key_share, std::move(ids), t);
  };
  co_return co_await run_renewal(std::move(*driven), std::move(handler));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_reshare_new_party_body(IdentityArgs args) {
  if (auto listed = check_own_party_listed(args.own.public_key(), args.keygen_ids); !listed) {
    co_return std::unexpected(std::move(listed.error()));
  }
  auto n = check_party_set_size(args.keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));

  auto driven = co_await join_party_set<Sr25519StorableSecretShare>(std::move(args.host), args.room,
                                                                     std::move(args.own), args.keygen_ids, *n,
                                                                     args.threshold, kSr25519ReshareOp,
                                                                     kSr25519ReshareLabel, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  auto handler = [t = args.threshold](ProtocolExecutor root) {
    return sr25519_reshare_new_party_handler(std::move(root), t);
  };
  co_return co_await run_renewal(std::move(*driven), std::move(handler));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_import_importer_body(
    Sr25519ImportImporterArgs args) {
  auto driven = co_await join_import(args.identity);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  auto handler = [t = args.identity.threshold, key = std::move(args.key), form = args.form](
                     ProtocolExecutor root) mutable {
    return sr25519_import_importer_handler(std::move(root), t, std::move(key), form);
  };
  co_return co_await run_renewal(std::move(*driven), std::move(handler));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> sr25519_import_recipient_body(IdentityArgs args) {
  auto driven = co_await join_import(args);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  auto handler = [t = args.threshold](ProtocolExecutor root) {
    return sr25519_import_recipient_handler(std::move(root), t);
  };
  co_return co_await run_renewal(std::move(*driven), std::move(handler));
}

}  // namespace velto::executor
