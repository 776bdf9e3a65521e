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

boost::asio::awaitable<ShareResult> ecdsa_import_importer_handler_latest(
    ProtocolExecutor root, std::uint16_t threshold, crypto::SecretArray<32> private_key,
    std::optional<crypto::ByteArray<32>> chain_code) {
  // Zero and values from the group order on are refused in constant time.
  auto secret = ecdsa::scalar_from_be_bytes(private_key.span());
  if (!secret) co_return std::unexpected(failure(ExecutorErrorKind{ExecutorErrorKind::InvalidImportedPrivateKey{}}));
  const crypto::Point public_key = crypto::Point::base_mul(*secret);
  ecdsa::KeyPair imported{std::move(*secret), chain_code.value_or(crypto::ByteArray<32>{}), public_key,
                          PartyId::unchecked(1), 1, 1};

  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  {
    ProtocolExecutor broadcast = joint->child(kImportBroadcastLabel);
    const PublicKeyAndChaincode announcement{ecdsa::pubkey_to_compressed(public_key), imported.chain_code};
    if (auto sent = broadcast.send_to_all(announcement); !sent) {
      co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
    }
  }
  auto protocol = async::spawn_task(
      ecdsa_import_importer_protocol_task(joint->child(kImportReshareLabel), std::move(imported), threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

boost::asio::awaitable<ShareResult> ecdsa_import_recipient_handler_latest(ProtocolExecutor root,
                                                                          std::uint16_t threshold) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));

  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  std::optional<PublicKeyAndChaincode> expected;
  {
    // The first message under the tag, whoever sent it; its first 65 bytes.
    ProtocolExecutor broadcast = joint->child(kImportBroadcastLabel);
    auto received = co_await receive_next<PublicKeyAndChaincode>(broadcast);
    if (!received) co_return std::unexpected(into_boxed_handler_error(std::move(received.error())));
    expected = received->value;
  }
  auto protocol = async::spawn_task(ecdsa_import_recipient_protocol_task(
      joint->child(kImportReshareLabel), expected->chain_code, expected->public_key, threshold));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol));
}

}  // namespace velto::executor
