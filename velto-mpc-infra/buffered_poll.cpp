#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto {

std::vector<PeerPair> peer_pairs(const ProtocolExecutor& executor) {
  std::vector<PeerPair> out;
  out.reserve(executor.parties().size());
  PeerPairs pairs(executor);
  while (auto pair = pairs.next()) out.push_back(std::move(*pair));
  return out;
}

}  // namespace velto
