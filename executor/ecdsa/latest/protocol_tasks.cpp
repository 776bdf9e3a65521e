#include "executor/ecdsa/latest/protocol_tasks.hpp"

#include <array>
#include <utility>

#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-ecdsa/refresh.hpp"

namespace velto::executor {

using ecdsa::EcdsaRefreshLibError;
using ecdsa::KeyPair;

boost::asio::awaitable<KeyPairResult> ecdsa_refresh_protocol_task(ProtocolExecutor executor, KeyPair key) {
  ProtocolExecutor reshare = executor.child(kRefreshReshareLabel);
  const std::uint16_t threshold = key.threshold;
  co_return co_await ecdsa::reshare_keygen_inner(reshare, key, executor.parties(), threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_reshare_new_party_protocol_task(ProtocolExecutor executor,
                                                                            crypto::ByteArray<32> chain_code,
                                                                            crypto::ByteArray<33> expected_key,
                                                                            std::uint16_t new_threshold) {
  co_return co_await ecdsa::refresh_keygen_inner(executor, chain_code, expected_key, new_threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_reshare_remaining_party_protocol_task(ProtocolExecutor executor,
                                                                                 KeyPair key,
                                                                                 std::vector<PartyId> old_ids,
                                                                                 std::uint16_t new_threshold) {
  co_return co_await ecdsa::reshare_keygen_inner(executor, key, old_ids, new_threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_import_recipient_protocol_task(ProtocolExecutor executor,
                                                                           crypto::ByteArray<32> chain_code,
                                                                           crypto::ByteArray<33> expected_key,
                                                                           std::uint16_t threshold) {
  co_return co_await ecdsa::refresh_keygen_inner(executor, chain_code, expected_key, threshold);
}

boost::asio::awaitable<KeyPairResult> ecdsa_import_importer_protocol_task(ProtocolExecutor executor, KeyPair imported,
                                                                         std::uint16_t threshold) {
  const std::array<PartyId, 1> old_ids{imported.party_id};
  const crypto::Scalar lambda = ecdsa::lagrange_coefficient_from_set(imported.party_id, old_ids, imported);
  crypto::Scalar a0 = lambda * imported.secret_share;
  ProtocolExecutor inner = executor.child(ecdsa::kKeygenInnerLabel);
  auto generated = co_await ecdsa::ecdsa_keygen_future(std::move(inner), std::move(a0), threshold);
  if (!generated) {
    EcdsaRefreshLibError error{EcdsaRefreshLibError::Keygen{std::move(generated.error())}};
    co_return std::unexpected(std::move(error));
  }
  if (!(generated->public_key == imported.public_key)) {
    EcdsaRefreshLibError error{EcdsaRefreshLibError::RefreshIsNotOfSameSecret{}};
    co_return std::unexpected(std::move(error));
  }
  KeyPair out{std::move(generated->secret_share), imported.chain_code, generated->public_key,
              executor.my_party_id(),       threshold,            executor.number_of_parties()};
  co_return std::move(out);
}

}  // namespace velto::executor
