#include "velto-ecdsa-legacy/refresh.hpp"

#include <utility>
#include <vector>

#include "velto-ecdsa-legacy/keygen.hpp"
#include "velto-ecdsa-legacy/keygen/zkpok_comm.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/refresh.hpp"

namespace velto::ecdsa::legacy {

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_keygen_inner_list_v4(
    const ProtocolExecutor& executor, const KeyPair& old_key, std::span<const PartyId> holder_ids,
    std::uint16_t new_threshold) {
  co_return co_await reshare_keygen_inner(executor, old_key, holder_ids, new_threshold, dlog_proof_step_v4());
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_keygen_inner_v4(
    const ProtocolExecutor& executor, const KeyPair& old_key, const std::set<PartyId>& holder_ids,
    std::uint16_t new_threshold) {
  // A set's ids are distinct and ascending: the list form gives the same
  // coefficient.
  const std::vector<PartyId> ids(holder_ids.begin(), holder_ids.end());
  co_return co_await reshare_keygen_inner(executor, old_key, ids, new_threshold, dlog_proof_step_v4());
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_subprotocol(
    const ProtocolExecutor& executor, const KeyPair& old_key) {
  const ProtocolExecutor reshare = executor.child(kRefreshReshareLabel);
  co_return co_await reshare_keygen_inner(reshare, old_key, executor.parties(), old_key.threshold,
                                          dlog_proof_step_v4());
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> receiver_keygen_inner_v4(
    const ProtocolExecutor& executor, const crypto::ByteArray<32>& chain_code, std::uint16_t threshold) {
  const crypto::ByteArray<32> chain = chain_code;
  ProtocolExecutor inner = executor.child(kKeygenInnerLabel);
  const PartyId me = inner.my_party_id();
  const std::uint16_t n = inner.number_of_parties();
  auto out = co_await ecdsa_keygen_future_v4(crypto::Scalar::zero(), std::move(inner), threshold);
  if (!out) co_return std::unexpected(EcdsaRefreshLibError::Keygen{std::move(out.error())});
  KeyPair key{out->secret_share, chain, out->public_key, me, threshold, n};
  co_return std::move(key);
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaRefreshLibError>> reshare_receive_v4(
    const ProtocolExecutor& executor, const crypto::ByteArray<32>& chain_code,
    const crypto::ByteArray<33>& expected_key, std::uint16_t threshold) {
  // The current receiver with this version's proof: it refuses the identity
  // with MalformedPublicKey as well.
  co_return co_await refresh_keygen_inner(executor, chain_code, expected_key, threshold, dlog_proof_step_v4());
}

}  // namespace velto::ecdsa::legacy
