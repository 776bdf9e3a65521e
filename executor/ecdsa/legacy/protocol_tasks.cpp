#include <set>
#include <utility>

#include "executor/ecdsa/legacy/handlers.hpp"
#include "velto-ecdsa-legacy/refresh.hpp"

namespace velto::executor {

using ecdsa::KeyPair;
namespace legacy = ecdsa::legacy;

boost::asio::awaitable<KeyPairResult> ecdsa_refresh_protocol_task_v1_1_0(ProtocolExecutor executor, KeyPair key) {
  co_return co_await legacy::reshare_subprotocol(executor, key);
}

boost::asio::awaitable<KeyPairResult> ecdsa_reshare_new_party_protocol_task_v1_1_0(
    ProtocolExecutor executor, crypto::ByteArray<32> chain_code, crypto::ByteArray<33> expected_key,
    std::uint16_t new_threshold) {
  co_return co_await legacy::reshare_receive_v4(executor, chain_code, expected_key, new_threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_reshare_remaining_party_protocol_task_v1_1_0(
    ProtocolExecutor executor, KeyPair key, std::vector<PartyId> old_ids, std::uint16_t new_threshold) {
  co_return co_await legacy::reshare_keygen_inner_list_v4(executor, key, old_ids, new_threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_import_recipient_protocol_task_v1_1_0(ProtocolExecutor executor,
                                                                                 crypto::ByteArray<32> chain_code,
                                                                                 crypto::ByteArray<33> expected_key,
                                                                                 std::uint16_t threshold) {
  co_return co_await legacy::reshare_receive_v4(executor, chain_code, expected_key, threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_import_importer_protocol_task_v1_1_0(ProtocolExecutor executor,
                                                                                KeyPair imported,
                                                                                std::uint16_t threshold) {
  const std::set<PartyId> holders{imported.party_id};
  co_return co_await legacy::reshare_keygen_inner_v4(executor, imported, holders, threshold);
}

}  // namespace velto::executor
