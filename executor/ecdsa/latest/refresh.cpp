#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/renewal_road.hpp"

namespace velto::executor {

boost::asio::awaitable<ShareResult> ecdsa_refresh_handler_latest(ProtocolExecutor root,
                                                                 const EcdsaStorableSecretShare& share) {
  co_return co_await renewal_road::refresh<LatestEngine>(std::move(root), share);
}

}  // namespace velto::executor
