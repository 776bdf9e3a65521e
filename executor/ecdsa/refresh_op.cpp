// The refresh operation: every holder of the key meets in the room named by
// its share, renews its share and its transport key, and keeps the key, the
// chain code, the threshold and its party id.
#include "velto-mpc-infra/async/asio.hpp"

#include <string_view>
#include <utility>

#include "crypto/bytes.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa/operations.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"

namespace velto::executor {

namespace {
constexpr std::string_view kEcdsaRefreshOp = "ecdsa_refresh";
constexpr std::string_view kEcdsaRefreshLabel = "ECDSA REFRESH";
}  // namespace

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> ecdsa_refresh_body(ShareArgs<EcdsaStorableSecretShare> args) {
  const EcdsaStorableSecretShare& share = args.share;
  auto driven = co_await drive_sign_type<EcdsaStorableSecretShare>(
      std::move(args.host), args.room, share.transport_keypair, share.partyid_pubkey_map,
      ecdsa_share_num_parties(share), ecdsa_share_threshold(share), kEcdsaRefreshOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  // Every holder binds the key it refreshes, so holders of different keys
  // cannot open channels with each other.
  const crypto::ByteArray<65> key = ecdsa_share_public_key_uncompressed(share);
  driven->session.setup.session_hasher().update(crypto::ByteSpan(key.data(), key.size()));
  driven->session.setup.session_hasher().update(crypto::as_bytes(kEcdsaRefreshLabel));

  // The handler borrows the share, which this frame keeps until the dispatch
  // has ended.
  auto latest = [&share](ProtocolExecutor root) { return ecdsa_refresh_handler_latest(std::move(root), share); };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  auto v1_1_0 = [&share](ProtocolExecutor root) { return ecdsa_refresh_handler_v1_1_0(std::move(root), share); };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto run = std::move(*driven);
  auto renewed = co_await dispatch_versioned(std::move(run));
  if (!renewed) co_return std::unexpected(std::move(renewed.error()));
  co_return ecdsa_keygen_output(*renewed);
}

}  // namespace velto::executor
