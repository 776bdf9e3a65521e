#include <optional>
#include <utility>

#include "executor/common/announcement.hpp"
#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "executor/common/transport_key.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

using namespace latest_detail;

boost::asio::awaitable<ShareResult> ecdsa_reshare_remaining_handler_latest(ProtocolExecutor root,
                                                                           const EcdsaStorableSecretShare& share,
                                                                           std::vector<PartyId> remaining_party_ids,
                                                                           std::uint16_t new_threshold) {
  ecdsa::KeyPair key = keypair_of(share);
  const PublicKeyAndChaincode own{ecdsa::pubkey_to_compressed(key.public_key), key.chain_code};

  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // Every other remaining party must announce exactly our key and chain code.
  auto confirmed = co_await confirm_announcements(*joint, own, remaining_party_ids.size() - 1);
  if (!confirmed) co_return std::unexpected(std::move(confirmed.error()));

  auto protocol = async::spawn_task(ecdsa_reshare_remaining_party_protocol_task(
      joint->child(kReshareLabel), std::move(key), std::move(remaining_party_ids), new_threshold));
  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<ShareResult> ecdsa_reshare_new_handler_latest(ProtocolExecutor root,
                                                                     std::uint16_t new_threshold) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // The first announced pair is the reference; every later one must equal it.
  auto reference = co_await take_announced<PublicKeyAndChaincode>(*joint);
  if (!reference) co_return std::unexpected(std::move(reference.error()));

  auto protocol = async::spawn_task(ecdsa_reshare_new_party_protocol_task(
      joint->child(kReshareLabel), reference->chain_code, reference->public_key, new_threshold));
  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
