#include "executor/ecdsa/latest/common.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/latest/protocol_tasks.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "executor/common/transport_key.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

using namespace latest_detail;

boost::asio::awaitable<ShareResult> ecdsa_refresh_handler_latest(ProtocolExecutor root,
                                                                 const EcdsaStorableSecretShare& share) {
  ecdsa::KeyPair key = keypair_of(share);
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  // A refresh keeps the party set: every party of the key must be present.
  const std::size_t session_size = joint->parties().size();
  if (session_size != key.num_parties) {
    co_return std::unexpected(
        failure(ExecutorErrorKind{ExecutorErrorKind::InvalidNumberOfParties{key.num_parties, session_size}}));
  }

  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  auto protocol = async::spawn_task(ecdsa_refresh_protocol_task(joint->child(kRefreshLabel), std::move(key)));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
