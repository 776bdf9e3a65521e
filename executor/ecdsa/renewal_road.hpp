// The share-renewing handlers of both ECDSA protocol versions (refresh,
// reshare in both roles, import in both roles), written once over the
// version's engine. The versions share the frame, the labels and the
// messages exchanged before the tasks start; they differ in how a stored
// share becomes a key pair, in the key generation that the protocol tasks
// run, and in the tag of the share they write.
//
// An engine E provides:
//   E::kShareTag                       the tag of the renewed share
//   E::key_pair(share)                 the engine's key pair of a stored share,
//                                      or the failure that refuses it (before
//                                      any message)
//   E::refresh_task(exec, key)
//   E::reshare_new_party_task(exec, chain code, expected key, t)
//   E::reshare_remaining_party_task(exec, key, old ids, t)
//   E::import_recipient_task(exec, chain code, expected key, t)
//   E::import_importer_task(exec, one-party key, t)
//                                      the protocol tasks, each yielding the
//                                      new key pair or an
//                                      EcdsaRefreshLibError as a value
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/common/announcement.hpp"
#include "executor/common/transport_key.hpp"
#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "velto-ecdsa-legacy/lib.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor::renewal_road {

template <class E>
boost::asio::awaitable<ShareResult> refresh(ProtocolExecutor root, const EcdsaStorableSecretShare& share) {
  auto key = E::key_pair(share);
  if (!key) co_return std::unexpected(std::move(key.error()));
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // A refresh keeps the party set: every party of the key must be present.
  const std::size_t session_size = joint->parties().size();
  if (session_size != key->num_parties) {
    co_return std::unexpected(latest_detail::failure(
        ExecutorErrorKind{ExecutorErrorKind::InvalidNumberOfParties{key->num_parties, session_size}}));
  }

  auto transport = spawn_transport_key_collector(*joint, kTransportKeyRefreshLabel);
  auto protocol = async::spawn_task(E::refresh_task(joint->child(kRefreshLabel), std::move(*key)));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol), E::kShareTag);
}

template <class E>
boost::asio::awaitable<ShareResult> reshare_remaining(ProtocolExecutor root, const EcdsaStorableSecretShare& share,
                                                      std::vector<PartyId> remaining_party_ids,
                                                      std::uint16_t new_threshold) {
  auto key = E::key_pair(share);
  if (!key) co_return std::unexpected(std::move(key.error()));
  const PublicKeyAndChaincode own{ecdsa::pubkey_to_compressed(key->public_key), key->chain_code};

  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // Every other remaining party must announce exactly our key and chain code.
  // An empty list wraps to a count no session reaches: sync failure.
  auto confirmed = co_await confirm_announcements(*joint, own, remaining_party_ids.size() - 1);
  if (!confirmed) co_return std::unexpected(std::move(confirmed.error()));

  auto protocol = async::spawn_task(E::reshare_remaining_party_task(
      joint->child(kReshareLabel), std::move(*key), std::move(remaining_party_ids), new_threshold));
  auto transport = spawn_transport_key_collector(*joint, kTransportKeyRefreshLabel);
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol), E::kShareTag);
}

template <class E>
boost::asio::awaitable<ShareResult> reshare_new(ProtocolExecutor root, std::uint16_t new_threshold) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // The first announced pair is the reference; every later one must equal it.
  // A session without any remaining party has no key to take over: no task
  // is spawned.
  auto reference = co_await take_announced<PublicKeyAndChaincode>(*joint);
  if (!reference) co_return std::unexpected(std::move(reference.error()));

  auto protocol = async::spawn_task(E::reshare_new_party_task(joint->child(kReshareLabel), reference->chain_code,
                                                              reference->public_key, new_threshold));
  auto transport = spawn_transport_key_collector(*joint, kTransportKeyRefreshLabel);
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol), E::kShareTag);
}

template <class E>
boost::asio::awaitable<ShareResult> import_importer(ProtocolExecutor root, std::uint16_t threshold,
                                                    crypto::SecretArray<32> private_key,
                                                    std::optional<crypto::ByteArray<32>> chain_code) {
  // Zero and values from the group order on are refused in constant time,
  // before anything is sent.
  auto imported = ecdsa::legacy::keypair_from_private_key(private_key.span(),
                                                          chain_code.value_or(crypto::ByteArray<32>{}));
  if (!imported) {
    co_return std::unexpected(
        latest_detail::failure(ExecutorErrorKind{ExecutorErrorKind::InvalidImportedPrivateKey{}}));
  }

  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = spawn_transport_key_collector(*joint, kTransportKeyRefreshLabel);
  {
    ProtocolExecutor broadcast = joint->child(kImportBroadcastLabel);
    const PublicKeyAndChaincode announcement{ecdsa::pubkey_to_compressed(imported->public_key), imported->chain_code};
    if (auto sent = broadcast.send_to_all(announcement); !sent) {
      co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
    }
  }
  auto protocol = async::spawn_task(
      E::import_importer_task(joint->child(kImportReshareLabel), std::move(*imported), threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol), E::kShareTag);
}

template <class E>
boost::asio::awaitable<ShareResult> import_recipient(ProtocolExecutor root, std::uint16_t threshold) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = spawn_transport_key_collector(*joint, kTransportKeyRefreshLabel);
  std::optional<PublicKeyAndChaincode> expected;
  {
    // The first message under the tag, whoever sent it; its first 65 bytes.
    ProtocolExecutor broadcast = joint->child(kImportBroadcastLabel);
    auto received = co_await receive_next<PublicKeyAndChaincode>(broadcast);
    if (!received) co_return std::unexpected(into_boxed_handler_error(std::move(received.error())));
    expected = received->value;
  }
  auto protocol = async::spawn_task(E::import_recipient_task(joint->child(kImportReshareLabel), expected->chain_code,
                                                             expected->public_key, threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol), E::kShareTag);
}

}  // namespace velto::executor::renewal_road
