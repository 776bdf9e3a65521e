// The operations that end with a new share of an exportable key: refresh
// (every holder, in the room named by its share), reshare (remaining and new
// parties named by the keygen ids of the new set) and import (the importer of
// a seed and its recipients named by keygen ids).
#include "velto-mpc-infra/async/asio.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/exportable_ed25519/handlers.hpp"
#include "executor/exportable_ed25519/operations.hpp"
#include "executor/exportable_ed25519/share_join.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"

namespace velto::executor {

namespace {

using Run = VersionedHandlers<ExportableEd25519StorableSecretShare>;

// The keygen-type join of the party set `keygen_ids` (n = its size) with the
// operation name bound after the driver's counts.
boost::asio::awaitable<std::expected<Run, ExecutorFailure>> join_keygen_ids(server_tools::HostAuthority host,
                                                                            server_tools::RoomUuid room,
                                                                            noise::NoiseKeyPair own,
                                                                            const KeygenIdSet& keygen_ids,
                                                                            std::uint16_t t,
                                                                            std::string_view operation,
                                                                            RelayTimings timings) {
  // The set holds the own key (listed or added by the caller), so it is never
  // empty.
  auto n = check_party_set_size(keygen_ids.size());
  if (!n) co_return std::unexpected(std::move(n.error()));
  co_return co_await join_party_set<ExportableEd25519StorableSecretShare>(std::move(host), room, std::move(own),
                                                                          keygen_ids, *n, t, operation, operation,
                                                                          timings);
}

// Registers the one handler, dispatches and writes the outputs.
template <class Handler>
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> dispatch_renewal(Run run, Handler handler) {
  register_handler(run, Version::V1_2_0, std::move(handler));
  auto renewed = co_await dispatch_versioned(std::move(run));
  if (!renewed) co_return std::unexpected(std::move(renewed.error()));
  co_return exportable_keygen_output(*renewed);
}

}  // namespace

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_refresh_body(
    ShareArgs<ExportableEd25519StorableSecretShare> args) {
  auto driven = co_await exportable_detail::join_share_parties<ExportableEd25519StorableSecretShare>(
      args, kExportableRefreshOp);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  driven->session.setup.session_hasher().update(crypto::as_bytes(kExportableRefreshOp));

  // The handler borrows the share, which this frame keeps until the dispatch
  // has ended.
  const ExportableEd25519StorableSecretShare& share = args.share;
  auto latest = [&share](ProtocolExecutor root) { return exportable_refresh_handler(std::move(root), share); };
  auto run = std::move(*driven);
  co_return co_await dispatch_renewal(std::move(run), std::move(latest));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_reshare_remaining_party_body(
    ReshareRemainingArgs<ExportableEd25519StorableSecretShare> args) {
  const ExportableEd25519StorableSecretShare& share = args.share;
  if (auto listed = check_own_party_listed(share.transport_keypair.public_key(), args.keygen_ids); !listed) {
    co_return std::unexpected(std::move(listed.error()));
  }

  // The parties of the current set that stay, by their current ids.
  std::vector<PartyId> dealers = remaining_party_ids(share.partyid_pubkey_map, args.keygen_ids);
  const std::uint16_t old_threshold = share.key_share.key_share.threshold;
  if (dealers.size() < old_threshold) {
    co_return std::unexpected(ExecutorFailure(
        ExecutorErrorKind{ExecutorErrorKind::InsufficientRemainingParties{dealers.size(), old_threshold}}));
  }

  auto driven = co_await join_keygen_ids(std::move(args.host), args.room, share.transport_keypair, args.keygen_ids,
                                         args.new_threshold, kExportableReshareOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  const std::size_t joined = driven->party_keys->size();
  if (joined != args.keygen_ids.size()) {
    const auto expected = static_cast<std::uint16_t>(args.keygen_ids.size());
    co_return std::unexpected(
        ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InvalidNumberOfParties{expected, joined}}));
  }

  auto latest = [&share, dealers = std::move(dealers), t = args.new_threshold](ProtocolExecutor root) mutable {
    return exportable_reshare_remaining_party_handler(std::move(root), share, std::move(dealers), t);
  };
  auto run = std::move(*driven);
  co_return co_await dispatch_renewal(std::move(run), std::move(latest));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_reshare_new_party_body(
    IdentityArgs args) {
  if (auto listed = check_own_party_listed(args.own.public_key(), args.keygen_ids); !listed) {
    co_return std::unexpected(std::move(listed.error()));
  }

  auto driven = co_await join_keygen_ids(std::move(args.host), args.room, std::move(args.own), args.keygen_ids,
                                         args.threshold, kExportableReshareOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  auto latest = [t = args.threshold](ProtocolExecutor root) { return exportable_reshare_new_party_handler(std::move(root), t); };
  auto run = std::move(*driven);
  co_return co_await dispatch_renewal(std::move(run), std::move(latest));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_import_recipient_body(
    IdentityArgs args) {
  args.keygen_ids.insert(args.own.public_key());
  auto driven = co_await join_keygen_ids(std::move(args.host), args.room, std::move(args.own), args.keygen_ids,
                                         args.threshold, kExportableImportOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  auto latest = [t = args.threshold](ProtocolExecutor root) { return exportable_import_recipient_handler(std::move(root), t); };
  auto run = std::move(*driven);
  co_return co_await dispatch_renewal(std::move(run), std::move(latest));
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_import_importer_body(
    ExportableImporterArgs args) {
  IdentityArgs& id = args.identity;
  id.keygen_ids.insert(id.own.public_key());
  auto driven = co_await join_keygen_ids(std::move(id.host), id.room, std::move(id.own), id.keygen_ids, id.threshold,
                                         kExportableImportOp, id.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  auto latest = [t = id.threshold, seed = std::move(args.seed)](ProtocolExecutor root) mutable {
    return exportable_import_importer_handler(std::move(root), t, std::move(seed));
  };
  auto run = std::move(*driven);
  co_return co_await dispatch_renewal(std::move(run), std::move(latest));
}

}  // namespace velto::executor
