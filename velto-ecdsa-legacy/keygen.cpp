#include "velto-ecdsa-legacy/keygen.hpp"

#include <utility>

#include "velto-ecdsa-legacy/keygen/zkpok_comm.hpp"

namespace velto::ecdsa::legacy {

boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> ecdsa_keygen_future_v4(
    crypto::Scalar c, ProtocolExecutor executor, std::uint16_t threshold) {
  auto out = co_await keygen_core(std::move(executor), std::move(c), threshold, dlog_proof_step_v4());
  if (!out) co_return std::unexpected(std::move(out.error()));
  // Constant terms that cancel (a rushing peer at t = 1 can arrange it) give
  // the identity, which no encoder can write and no share can sign for.
  if (out->public_key.is_identity()) co_return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
  co_return std::move(*out);
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaKeygenLibError>> ecdsa_keygen_v4(ProtocolExecutor executor,
                                                                                   std::uint16_t threshold) {
  const crypto::ByteArray<32> chain_code = bip32_chaincode_tag(executor.tag());
  const PartyId me = executor.my_party_id();
  const std::uint16_t n = executor.number_of_parties();
  crypto::Scalar c = crypto::Scalar::random(executor.rng());
  auto out = co_await ecdsa_keygen_future_v4(std::move(c), std::move(executor), threshold);
  if (!out) co_return std::unexpected(std::move(out.error()));
  KeyPair key{out->secret_share, chain_code, out->public_key, me, threshold, n};
  co_return std::move(key);
}

}  // namespace velto::ecdsa::legacy
