#include "executor/ecdsa/latest/keygen_sign.hpp"

#include <utility>

#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/sign.hpp"

namespace velto::executor {

boost::asio::awaitable<std::expected<ecdsa::KeyPair, ExecutorFailure>> ecdsa_keygen_handler_latest(
    ProtocolExecutor root, std::uint16_t threshold) {
  auto key = co_await ecdsa::ecdsa_keygen_handler_latest(std::move(root), threshold);
  if (!key) co_return std::unexpected(into_boxed_handler_error(std::move(key.error())));
  co_return std::move(*key);
}

boost::asio::awaitable<std::expected<crypto::Bytes, ExecutorFailure>> ecdsa_sign_handler_latest(
    ProtocolExecutor root, crypto::ByteArray<32> message_hash, ExtendedKeyPair key) {
  // The protocol's handler asks presigning for exactly one presignature and
  // panics ("We should have exactly one presignature, instead: {count}") on
  // any other count.
  auto signature =
      co_await ecdsa::ecdsa_sign_handler_latest(std::move(root), std::move(key.key_pair), message_hash);
  if (!signature) co_return std::unexpected(into_boxed_handler_error(std::move(signature.error())));
  co_return std::move(*signature);
}

}  // namespace velto::executor
