// The key-generation and signing handlers.
#include <utility>

#include "executor/common/session_checks.hpp"
#include "executor/ed25519/handlers.hpp"
#include "velto-frost-ed25519/dkg.hpp"
#include "velto-frost-ed25519/sign.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::executor {

boost::asio::awaitable<std::expected<frost::FrostKeyShare, ExecutorFailure>> ed25519_keygen_handler(
    ProtocolExecutor root, std::uint16_t threshold) {
  // Every party sees the same session and threshold, so all stop here alike.
  if (auto fits = check_threshold_fits(threshold, root.parties().size()); !fits) {
    co_return std::unexpected(std::move(fits.error()));
  }
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(std::move(joint.error())));
  auto key = co_await frost::frost_keygen_fresh(std::move(*joint), threshold);
  if (!key) co_return std::unexpected(box_handler_error(std::move(key.error())));
  co_return std::move(*key);
}

boost::asio::awaitable<std::expected<crypto::ByteArray<64>, ExecutorFailure>> ed25519_sign_handler(
    ProtocolExecutor root, const crypto::Bytes& message, const frost::FrostKeyShare& key) {
  auto signature = co_await frost::frost_ed25519_sign(std::move(root), key, message);
  if (!signature) co_return std::unexpected(box_handler_error(std::move(signature.error())));
  co_return signature->to_bytes();
}

}  // namespace velto::executor
