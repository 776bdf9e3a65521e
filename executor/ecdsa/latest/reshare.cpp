#include <optional>
#include <utility>

#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "executor/common/transport_key.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

using namespace latest_detail;
using Announcement = std::optional<PublicKeyAndChaincode>;

namespace {

// The key first, then the chain code.
bool same_key_and_chain_code(const PublicKeyAndChaincode& a, const PublicKeyAndChaincode& b) {
  return a.public_key == b.public_key && a.chain_code == b.chain_code;
}

// Sends this party's announcement to every other party of the joint
// executor and hands every other party's announcement to `check` as it
// arrives; `check` returns false to stop with PublicKeyAndChaincodeSyncFailed.
template <class Check>
boost::asio::awaitable<std::expected<void, ExecutorFailure>> exchange_announcements(ProtocolExecutor& joint,
                                                                                    const Announcement& own,
                                                                                    Check& check) {
  if (auto sent = joint.send_to_all(own); !sent) {
    co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
  }
  auto poll = BufferedPoll::start(joint, joint.parties());
  for (;;) {
    auto item = co_await poll.next<Announcement>();
    if (!item) co_return std::unexpected(into_boxed_handler_error(std::move(item.error())));
    if (!*item) co_return std::expected<void, ExecutorFailure>{};
    if (!check((*item)->value)) co_return std::unexpected(sync_failed());
  }
}

}  // namespace

boost::asio::awaitable<ShareResult> ecdsa_reshare_remaining_handler_latest(ProtocolExecutor root,
                                                                           const EcdsaStorableSecretShare& share,
                                                                           std::vector<PartyId> remaining_party_ids,
                                                                           std::uint16_t new_threshold) {
  ecdsa::KeyPair key = keypair_of(share);
  const Announcement own(std::in_place, ecdsa::pubkey_to_compressed(key.public_key), key.chain_code);

  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // Every other remaining party must announce exactly our key and chain code.
  std::size_t equal = 0;
  auto check = [&own, &equal](const Announcement& received) {
    if (!received) return true;
    if (!same_key_and_chain_code(*received, *own)) return false;
    ++equal;
    return true;
  };
  auto exchanged = co_await exchange_announcements(*joint, own, check);
  if (!exchanged) co_return std::unexpected(std::move(exchanged.error()));
  if (equal + 1 != remaining_party_ids.size()) co_return std::unexpected(sync_failed());

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
  Announcement reference;
  auto check = [&reference](const Announcement& received) {
    if (!received) return true;
    if (!reference) {
      reference = received;
      return true;
    }
    return same_key_and_chain_code(*received, *reference);
  };
  const Announcement none;
  auto exchanged = co_await exchange_announcements(*joint, none, check);
  if (!exchanged) co_return std::unexpected(std::move(exchanged.error()));
  // A session without any remaining party has no key to take over.
  if (!reference) co_return std::unexpected(sync_failed());

  auto protocol = async::spawn_task(ecdsa_reshare_new_party_protocol_task(
      joint->child(kReshareLabel), reference->chain_code, reference->public_key, new_threshold));
  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
