#include "executor/common/transport_key.hpp"

#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::executor {

boost::asio::awaitable<TransportKeyResult> transport_key_collector_task(
    ProtocolExecutor executor, PartyList parties) {
  noise::NoiseKeyPair keypair = noise::generate_ephemeral();
  if (auto sent = executor.send_to_all(keypair.public_key()); !sent) co_return std::unexpected(std::move(sent.error()));

  PartyPubkeyMap party_map;
  auto poll = BufferedPoll::start(executor, *parties);
  for (;;) {
    auto item = co_await poll.next<noise::PublicKey>();
    if (!item) co_return std::unexpected(std::move(item.error()));
    if (!*item) break;
    party_map.insert_or_assign((*item)->sender, (*item)->value);
  }
  party_map.insert_or_assign(executor.my_party_id(), keypair.public_key());
  TransportKeyRotation out(std::move(keypair), std::move(party_map));
  co_return std::move(out);
}

async::JoinHandle<TransportKeyResult> spawn_transport_key_collector(const ProtocolExecutor& joint,
                                                                    std::string_view label) {
  return async::spawn_task(transport_key_collector_task(joint.child(label), joint.shared_parties()));
}

}  // namespace velto::executor
