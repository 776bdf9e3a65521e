#include <optional>
#include <utility>

#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/renewal_road.hpp"

namespace velto::executor {

boost::asio::awaitable<ShareResult> ecdsa_import_importer_handler_latest(
    ProtocolExecutor root, std::uint16_t threshold, crypto::SecretArray<32> private_key,
    std::optional<crypto::ByteArray<32>> chain_code) {
  co_return co_await renewal_road::import_importer<LatestEngine>(std::move(root), threshold, std::move(private_key),
                                                                 std::move(chain_code));
}

boost::asio::awaitable<ShareResult> ecdsa_import_recipient_handler_latest(ProtocolExecutor root,
                                                                          std::uint16_t threshold) {
  co_return co_await renewal_road::import_recipient<LatestEngine>(std::move(root), threshold);
}

}  // namespace velto::executor
