#include <utility>

#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/renewal_road.hpp"

namespace velto::executor {

boost::asio::awaitable<ShareResult> ecdsa_reshare_remaining_handler_latest(ProtocolExecutor root,
                                                                           const EcdsaStorableSecretShare& share,
                                                                           std::vector<PartyId> remaining_party_ids,
                                                                           std::uint16_t new_threshold) {
  co_return co_await renewal_road::reshare_remaining<LatestEngine>(std::move(root), share,
                                                                   std::move(remaining_party_ids), new_threshold);
}

boost::asio::awaitable<ShareResult> ecdsa_reshare_new_handler_latest(ProtocolExecutor root,
                                                                     std::uint16_t new_threshold) {
  co_return co_await renewal_road::reshare_new<LatestEngine>(std::move(root), new_threshold);
}

}  // namespace velto::executor
