// The sr25519 handlers: key generation, signing and export, and the
// share-renewing handlers with their protocol tasks.
#include "executor/sr25519/handlers.hpp"

#include <optional>
#include <utility>

#include "executor/common/announcement.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/common/task_join.hpp"
#include "executor/common/transport_key.hpp"
#include "sised/ristretto255_codec.hpp"
#include "velto-frost-sr25519/dkg.hpp"
#include "velto-frost-sr25519/extract.hpp"
#include "velto-frost-sr25519/sign.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

namespace {

using frost::Sr25519KeyShare;
using frost::Sr25519RefreshRunError;
using KeyShareResult = std::expected<Sr25519KeyShare, Sr25519RefreshRunError>;

ExecutorFailure failure(ExecutorErrorKind kind) { return ExecutorFailure(std::move(kind)); }

// Joins the collector and the protocol task and builds the share from the
// new key share and the rotation.
boost::asio::awaitable<Sr25519ShareResult> join_into_renewed_share(async::JoinHandle<TransportKeyResult> transport,
                                                                   async::JoinHandle<KeyShareResult> protocol) {
  auto joined =
      co_await join_renewal_tasks<Sr25519KeyShare, Sr25519RefreshRunError>(std::move(transport), std::move(protocol));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  Sr25519StorableSecretShare share{std::move(joined->second), std::move(joined->first.keypair),
                                   std::move(joined->first.party_map)};
  co_return std::move(share);
}

// A holder of the key deals its share weighted over `holders` (its own id
// among them) on the child "keygen_2rounds" and must end with the same key.
boost::asio::awaitable<KeyShareResult> holder_protocol_task(ProtocolExecutor executor, Sr25519KeyShare key,
                                                            std::vector<PartyId> holders, std::uint16_t threshold) {
  crypto::EdScalar a0 = frost::sr25519_weighted_share(key, holders);
  auto share = co_await frost::sr25519_dkg(executor.child(frost::kSr25519Keygen2RoundsLabel), threshold, std::move(a0));
  if (!share) co_return std::unexpected(frost::sr25519_to_refresh_error(std::move(share.error())));
  if (!(share->group_key == key.group_key)) {
    co_return std::unexpected(
        Sr25519RefreshRunError::inner(frost::Sr25519RefreshError::RefreshIsNotOfSameSecret{}));
  }
  co_return std::move(*share);
}

// Refresh: under its child "reshare", every party of the key deals its share
// weighted over the whole session.
boost::asio::awaitable<KeyShareResult> refresh_protocol_task(ProtocolExecutor executor, Sr25519KeyShare key) {
  ProtocolExecutor reshare = executor.child(kSr25519RefreshReshareLabel);
  std::vector<PartyId> everyone = executor.parties();
  const std::uint16_t threshold = key.threshold;
  co_return co_await holder_protocol_task(std::move(reshare), std::move(key), std::move(everyone), threshold);
}

// A party without a share of the key: deals zero and checks that the group
// key comes out as expected.
boost::asio::awaitable<KeyShareResult> receiver_protocol_task(ProtocolExecutor executor,
                                                              crypto::RistrettoPoint expected,
                                                              std::uint16_t threshold) {
  co_return co_await frost::sr25519_keygen_2rounds(executor, threshold, expected);
}

}  // namespace

boost::asio::awaitable<std::expected<Sr25519KeyShare, ExecutorFailure>> sr25519_keygen_handler(
    ProtocolExecutor root, std::uint16_t threshold) {
  // Every party sees the same session and threshold, so all stop here alike.
  if (auto fits = check_threshold_fits(threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  auto key = co_await frost::sr25519_keygen_fresh(std::move(*joint), threshold);
  if (!key) co_return std::unexpected(box_handler_error(std::move(key.error())));
  co_return std::move(*key);
}

boost::asio::awaitable<std::expected<crypto::ByteArray<64>, ExecutorFailure>> sr25519_sign_handler(
    ProtocolExecutor root, const crypto::Bytes& message, const Sr25519KeyShare& key) {
  auto signature = co_await frost::sr25519_threshold_sign(std::move(root), key, message);
  if (!signature) co_return std::unexpected(box_handler_error(std::move(signature.error())));
  co_return *signature;
}

boost::asio::awaitable<std::expected<std::optional<crypto::EdScalar>, ExecutorFailure>> sr25519_export_handler(
    ProtocolExecutor root, const Sr25519KeyShare& key, const PartyPubkeyMap& party_map, PartyId receiver) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  ProtocolExecutor executor = joint->child(frost::kSr25519ExtractionLabel);
  if (auto present = check_receiver_in_session(executor, party_map, receiver); !present) {
    co_return std::unexpected(std::move(present.error()));
  }
  auto exported = co_await frost::sr25519_extract(std::move(executor), key, receiver);
  if (!exported) co_return std::unexpected(box_handler_error(std::move(exported.error())));
  co_return std::move(*exported);
}

boost::asio::awaitable<Sr25519ShareResult> sr25519_refresh_handler(ProtocolExecutor root, const Sr25519KeyShare& key) {
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

  auto transport = spawn_transport_key_collector(*joint, kSr25519CollectorLabel);
  auto protocol = async::spawn_task(refresh_protocol_task(joint->child(kSr25519RefreshChildLabel), key));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Sr25519ShareResult> sr25519_reshare_remaining_party_handler(ProtocolExecutor root,
                                                                                   const Sr25519KeyShare& key,
                                                                                   std::vector<PartyId> old_ids,
                                                                                   std::uint16_t new_threshold) {
  if (auto fits = check_threshold_fits(new_threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // Every other remaining party must announce exactly our group key.
  auto confirmed = co_await confirm_announcements(*joint, key.group_key, old_ids.size() - 1);
  if (!confirmed) co_return std::unexpected(std::move(confirmed.error()));

  auto protocol = async::spawn_task(
      holder_protocol_task(joint->child(kSr25519ReshareChildLabel), key, std::move(old_ids), new_threshold));
  auto transport = spawn_transport_key_collector(*joint, kSr25519CollectorLabel);
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Sr25519ShareResult> sr25519_reshare_new_party_handler(ProtocolExecutor root,
                                                                             std::uint16_t new_threshold) {
  if (auto fits = check_threshold_fits(new_threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // The first announced key is the reference; every later one must equal it.
  // Nobody announcing a key fails here, before any task is spawned.
  auto reference = co_await take_announced<crypto::RistrettoPoint>(*joint);
  if (!reference) co_return std::unexpected(std::move(reference.error()));

  auto protocol =
      async::spawn_task(receiver_protocol_task(joint->child(kSr25519ReshareChildLabel), *reference, new_threshold));
  auto transport = spawn_transport_key_collector(*joint, kSr25519CollectorLabel);
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Sr25519ShareResult> sr25519_import_importer_handler(ProtocolExecutor root,
                                                                           std::uint16_t threshold,
                                                                           crypto::SecretArray<32> key,
                                                                           frost::Sr25519KeyForm form) {
  std::optional<crypto::EdScalar> secret = frost::sr25519_expand_seed(form, key);
  if (!secret || secret->is_zero()) {
    co_return std::unexpected(failure(ExecutorErrorKind{ExecutorErrorKind::InvalidImportedPrivateKey{}}));
  }
  if (auto fits = check_threshold_fits(threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // The importer's 1-of-1 share: its weight over {1} is 1, so it deals the
  // whole secret.
  const PartyId own_id = PartyId::unchecked(1);
  const crypto::RistrettoPoint public_key = crypto::RistrettoPoint::base_mul(*secret);
  Sr25519KeyShare imported{public_key, std::move(*secret), own_id, 1, 1};

  auto transport = spawn_transport_key_collector(*joint, kSr25519CollectorLabel);
  {
    ProtocolExecutor broadcast = joint->child(kSr25519ImportBroadcastLabel);
    if (auto sent = broadcast.send_to_all(public_key); !sent) {
      co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
    }
  }
  auto protocol = async::spawn_task(holder_protocol_task(joint->child(kSr25519ImportReshareLabel),
                                                         std::move(imported), std::vector<PartyId>{own_id},
                                                         threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<Sr25519ShareResult> sr25519_import_recipient_handler(ProtocolExecutor root,
                                                                            std::uint16_t threshold) {
  if (auto fits = check_threshold_fits(threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = spawn_transport_key_collector(*joint, kSr25519CollectorLabel);
  std::optional<crypto::RistrettoPoint> expected;
  {
    // The first message under the tag, whoever sent it.
    ProtocolExecutor broadcast = joint->child(kSr25519ImportBroadcastLabel);
    auto received = co_await receive_next<crypto::RistrettoPoint>(broadcast);
    if (!received) co_return std::unexpected(into_boxed_handler_error(std::move(received.error())));
    expected = received->value;
  }
  auto protocol =
      async::spawn_task(receiver_protocol_task(joint->child(kSr25519ImportReshareLabel), *expected, threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
