// The share-renewing handlers: refresh, reshare (remaining and new parties)
// and import (importer and recipients), each with its protocol task.
#include <array>
#include <optional>
#include <utility>

#include "executor/common/announcement.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/common/task_join.hpp"
#include "executor/common/transport_key.hpp"
#include "executor/ed25519/handlers.hpp"
#include "velto-frost-ed25519/dkg.hpp"
#include "velto-frost-ed25519/lagrange.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

namespace {

using frost::FrostKeyShare;
using frost::RefreshRunError;
using KeyShareResult = std::expected<FrostKeyShare, RefreshRunError>;

ExecutorFailure failure(ExecutorErrorKind kind) { return ExecutorFailure(std::move(kind)); }

Ed25519KeyAndChainCode announced_value(const FrostKeyShare& key) {
  return Ed25519KeyAndChainCode{key.public_key.to_bytes(), key.chain_code};
}

// Joins the collector and the protocol task and builds the tag-2 share from
// the new key share and the rotation.
boost::asio::awaitable<Ed25519ShareResult> join_into_renewed_share(async::JoinHandle<TransportKeyResult> transport,
                                                                   async::JoinHandle<KeyShareResult> protocol) {
  auto joined = co_await join_renewal_tasks<FrostKeyShare, RefreshRunError>(std::move(transport), std::move(protocol));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  Ed25519StorableSecretShare share{Ed25519KeyShare(std::in_place_index<2>, std::move(joined->second)),
                                   std::move(joined->first.keypair), std::move(joined->first.party_map)};
  co_return std::move(share);
}

async::JoinHandle<TransportKeyResult> spawn_collector(const ProtocolExecutor& joint, std::string_view label) {
  return async::spawn_task(transport_key_collector_task(joint.child(label), joint.shared_parties()));
}

// A holder of the key deals its share weighted over `holders` (its own id
// among them) and keeps the key and chain code.
boost::asio::awaitable<KeyShareResult> holder_protocol_task(ProtocolExecutor executor, FrostKeyShare key,
                                                            std::vector<PartyId> holders, std::uint16_t threshold) {
  crypto::EdScalar a0 = frost::frost_weighted_share(key, holders);
  co_return co_await frost::frost_refresh_keygen(executor, threshold, std::move(a0), key.public_key, key.chain_code);
}

// Refresh: under its child "reshare", every party of the key deals its share
// weighted over the whole session.
boost::asio::awaitable<KeyShareResult> refresh_protocol_task(ProtocolExecutor executor, FrostKeyShare key) {
  ProtocolExecutor reshare = executor.child(kEd25519RefreshReshareLabel);
  std::vector<PartyId> everyone = executor.parties();
  const std::uint16_t threshold = key.threshold;
  co_return co_await holder_protocol_task(std::move(reshare), std::move(key), std::move(everyone), threshold);
}

// A party without a share of the key: deals zero and checks that the group
// key comes out as announced.
boost::asio::awaitable<KeyShareResult> receiver_protocol_task(ProtocolExecutor executor, Ed25519KeyAndChainCode expected,
                                                              std::uint16_t threshold) {
  co_return co_await frost::frost_keygen_2rounds(executor, threshold, expected.public_key, expected.chain_code);
}

}  // namespace

boost::asio::awaitable<Ed25519ShareResult> ed25519_refresh_handler(ProtocolExecutor root, const FrostKeyShare& key) {
  // A refresh keeps the party set: every party of the key must be present.
  const std::size_t session_size = root.parties().size();
  if (session_size != key.num_parties) {
    co_return std::unexpected(
        failure(ExecutorErrorKind{ExecutorErrorKind::InvalidNumberOfParties{key.num_parties, session_size}}));
  }
  if (auto fits = check_threshold_fits(key.threshold, session_size); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = spawn_collector(*joint, kEd25519CollectorLabel);
  auto protocol = async::spawn_task(refresh_protocol_task(joint->child(kEd25519RefreshChildLabel), key));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Ed25519ShareResult> ed25519_reshare_remaining_party_handler(ProtocolExecutor root,
                                                                                   const FrostKeyShare& key,
                                                                                   std::vector<PartyId> old_ids,
                                                                                   std::uint16_t new_threshold) {
  if (auto fits = check_threshold_fits(new_threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  const Ed25519KeyAndChainCode own = announced_value(key);
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // Every other remaining party must announce exactly our key and chain code.
  auto confirmed = co_await confirm_announcements(*joint, own, old_ids.size() - 1);
  if (!confirmed) co_return std::unexpected(std::move(confirmed.error()));

  auto protocol = async::spawn_task(
      holder_protocol_task(joint->child(kEd25519ReshareChildLabel), key, std::move(old_ids), new_threshold));
  auto transport = spawn_collector(*joint, kEd25519ReshareCollectorLabel);
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Ed25519ShareResult> ed25519_reshare_new_party_handler(ProtocolExecutor root,
                                                                             std::uint16_t new_threshold) {
  if (auto fits = check_threshold_fits(new_threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // The first announced pair is the reference; every later one must equal it.
  auto reference = co_await take_announced<Ed25519KeyAndChainCode>(*joint);
  if (!reference) co_return std::unexpected(std::move(reference.error()));

  auto protocol =
      async::spawn_task(receiver_protocol_task(joint->child(kEd25519ReshareChildLabel), *reference, new_threshold));
  auto transport = spawn_collector(*joint, kEd25519ReshareCollectorLabel);
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Ed25519ShareResult> ed25519_import_importer_handler(ProtocolExecutor root,
                                                                           std::uint16_t threshold,
                                                                           frost::Ed25519PrivateKey private_key) {
  std::optional<FrostKeyShare> imported = frost::ed25519_keypair_from_private_key(private_key, crypto::ByteArray<32>{});
  if (!imported) co_return std::unexpected(failure(ExecutorErrorKind{ExecutorErrorKind::InvalidImportedPrivateKey{}}));
  if (auto fits = check_threshold_fits(threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = spawn_collector(*joint, kEd25519CollectorLabel);
  {
    ProtocolExecutor broadcast = joint->child(kEd25519ImportBroadcastLabel);
    const Ed25519KeyAndChainCode announcement = announced_value(*imported);
    if (auto sent = broadcast.send_to_all(announcement); !sent) {
      co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
    }
  }
  // The importer's 1-of-1 share: its weight over {1} is 1, so it deals the
  // whole secret.
  const PartyId own_id = imported->party_id;
  auto protocol = async::spawn_task(holder_protocol_task(joint->child(kEd25519ImportReshareLabel),
                                                         std::move(*imported), std::vector<PartyId>{own_id},
                                                         threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Ed25519ShareResult> ed25519_import_recipient_handler(ProtocolExecutor root,
                                                                            std::uint16_t threshold) {
  if (auto fits = check_threshold_fits(threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = spawn_collector(*joint, kEd25519CollectorLabel);
  std::optional<Ed25519KeyAndChainCode> expected;
  {
    // The first message under the tag, whoever sent it; its first 64 bytes.
    ProtocolExecutor broadcast = joint->child(kEd25519ImportBroadcastLabel);
    auto received = co_await receive_next<Ed25519KeyAndChainCode>(broadcast);
    if (!received) co_return std::unexpected(into_boxed_handler_error(std::move(received.error())));
    expected = received->value;
  }
  auto protocol =
      async::spawn_task(receiver_protocol_task(joint->child(kEd25519ImportReshareLabel), *expected, threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
