#include "velto-ecdsa-legacy/keygen.hpp"

#include <utility>

#include "velto-ecdsa-legacy/keygen/zkpok_comm.hpp"

namespace velto::ecdsa::legacy {

boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> ecdsa_keygen_future_v4(
    crypto::Scalar c, ProtocolExecutor executor, std::uint16_t threshold) {
  co_return co_await ecdsa_keygen_future(std::move(executor), std::move(c), threshold, dlog_proof_step_v4());
}

boost::asio::awaitable<std::expected<KeyPair, EcdsaKeygenLibError>> ecdsa_keygen_v4(ProtocolExecutor executor,
                                                                                   std::uint16_t threshold) {
  co_return co_await keygen_fresh_key(std::move(executor), threshold, dlog_proof_step_v4());
}

}  // namespace velto::ecdsa::legacy
