// The share-renewing handlers of the exportable scheme (refresh, both
// reshare roles, both import roles): a jointly generated tag, then the
// transport-key collector and the exportable reshare as tasks of their own,
// joined by join_renewal_tasks, and the new stored share.
#include "velto-mpc-infra/async/asio.hpp"

#include <utility>
#include <vector>

#include "executor/common/task_join.hpp"
#include "executor/common/transport_key.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/exportable_ed25519/handlers.hpp"
#include "velto-frost-ed25519/exportable.hpp"
#include "velto-frost-ed25519/exportable_rounds.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

namespace {

using frost::ExportableResult;

// A party without a share: refuses a threshold the holders refuse too,
// before it sends anything, then receives.
boost::asio::awaitable<ExportableResult> receiver_task(ProtocolExecutor executor, std::uint16_t t) {
  if (auto fits = check_threshold_at_most(t, executor.number_of_parties()); !fits) {
    co_return std::unexpected(frost::ReshareRunError::inner(std::move(fits.error())));
  }
  co_return co_await frost::exportable_reshare_receiver(std::move(executor), t);
}

boost::asio::awaitable<ExportableResult> holder_task(ProtocolExecutor executor, frost::ExportableEd25519KeyShare held,
                                                     std::vector<PartyId> dealers, std::uint16_t t) {
  co_return co_await frost::exportable_reshare_holder(std::move(executor), std::move(held), std::move(dealers), t);
}

async::JoinHandle<TransportKeyResult> spawn_collector(ProtocolExecutor& joint, std::string_view label) {
  return async::spawn_task(transport_key_collector_task(joint.child(label), joint.shared_parties()));
}

boost::asio::awaitable<ExportableShareOutcome> join_into_share(async::JoinHandle<TransportKeyResult> transport,
                                                               async::JoinHandle<ExportableResult> protocol) {
  auto joined = co_await join_renewal_tasks<frost::ExportableEd25519KeyShare, frost::ReshareRunError>(
      std::move(transport), std::move(protocol));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  ExportableEd25519StorableSecretShare share{std::move(joined->second), std::move(joined->first.keypair),
                                             std::move(joined->first.party_map)};
  co_return std::move(share);
}

}  // namespace

boost::asio::awaitable<std::expected<ProtocolExecutor, ExecutorFailure>> exportable_joint_executor(
    ProtocolExecutor root) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  co_return std::move(*joint);
}

boost::asio::awaitable<ExportableShareOutcome> exportable_refresh_handler(
    ProtocolExecutor root, const ExportableEd25519StorableSecretShare& share) {
  const std::uint16_t n = share.key_share.key_share.num_parties;
  const std::size_t session_size = root.parties().size();
  if (session_size != n) {
    co_return std::unexpected(
        ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InvalidNumberOfParties{n, session_size}}));
  }
  frost::ExportableEd25519KeyShare held = share.key_share;
  auto joint = co_await exportable_joint_executor(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));

  auto transport = spawn_collector(*joint, kExportableTransportKeyLabel);
  const std::uint16_t t = held.key_share.threshold;
  auto protocol =
      async::spawn_task(holder_task(joint->child(kExportableRefreshLabel), std::move(held), joint->parties(), t));
  co_return co_await join_into_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<ExportableShareOutcome> exportable_reshare_remaining_party_handler(
    ProtocolExecutor root, const ExportableEd25519StorableSecretShare& share, std::vector<PartyId> dealers,
    std::uint16_t new_threshold) {
  frost::ExportableEd25519KeyShare held = share.key_share;
  auto joint = co_await exportable_joint_executor(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));

  auto protocol = async::spawn_task(
      holder_task(joint->child(kExportableReshareLabel), std::move(held), std::move(dealers), new_threshold));
  auto transport = spawn_collector(*joint, kExportableReshareTransportKeyLabel);
  co_return co_await join_into_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<ExportableShareOutcome> exportable_reshare_new_party_handler(ProtocolExecutor root,
                                                                                   std::uint16_t new_threshold) {
  auto joint = co_await exportable_joint_executor(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));

  auto protocol = async::spawn_task(receiver_task(joint->child(kExportableReshareLabel), new_threshold));
  auto transport = spawn_collector(*joint, kExportableReshareTransportKeyLabel);
  co_return co_await join_into_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<ExportableShareOutcome> exportable_import_recipient_handler(ProtocolExecutor root,
                                                                                  std::uint16_t t) {
  auto joint = co_await exportable_joint_executor(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));

  auto transport = spawn_collector(*joint, kExportableTransportKeyLabel);
  auto protocol = async::spawn_task(receiver_task(joint->child(kExportableImportLabel), t));
  co_return co_await join_into_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<ExportableShareOutcome> exportable_import_importer_handler(ProtocolExecutor root,
                                                                                 std::uint16_t t,
                                                                                 crypto::SecretArray<32> seed) {
  std::optional<frost::ExportableEd25519KeyShare> imported = frost::exportable_mask_preimage(seed);
  if (!imported) {
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InvalidImportedPrivateKey{}}));
  }
  auto joint = co_await exportable_joint_executor(std::move(root));
  if (!joint) co_return std::unexpected(std::move(joint.error()));

  auto transport = spawn_collector(*joint, kExportableTransportKeyLabel);
  std::vector<PartyId> dealers{imported->preimage_share.party_id};
  auto protocol = async::spawn_task(
      holder_task(joint->child(kExportableImportLabel), std::move(*imported), std::move(dealers), t));
  co_return co_await join_into_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
