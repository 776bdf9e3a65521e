// Key generation of an exportable key: one sampling party draws the seed,
// every other party receives; both roles join under one operation name and
// bind the same inputs, so their channels agree. Also the output helpers of
// every keygen-type body of this folder.
#include "executor/exportable_ed25519/operations.hpp"

#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/party_set_join.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/exportable_ed25519/handlers.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "velto-frost-ed25519/exportable_rounds.hpp"

namespace velto::executor {

namespace {

using KeyShareFuture = HandlerFuture<frost::ExportableEd25519KeyShare>;

crypto::ByteArray<2> le16(std::uint16_t v) {
  return crypto::ByteArray<2>{static_cast<std::uint8_t>(v & 0xff), static_cast<std::uint8_t>(v >> 8)};
}

template <class Handler>
boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> keygen_body(KeygenArgs args,
                                                                            Handler handler) {
  std::vector<noise::PublicKey> keygen_ids(args.keygen_ids.begin(), args.keygen_ids.end());
  auto driven = co_await drive_keygen_type<frost::ExportableEd25519KeyShare>(
      std::move(args.host), args.room, args.own, std::move(keygen_ids), args.n, args.t, kExportableKeygenOp,
      args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  if (!driven->party_keys) panic(std::string(kNoPartyMapPanic));
  PartyPubkeyMap party_map = std::move(*driven->party_keys);
  driven->party_keys.reset();

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(crypto::as_bytes(kExportableKeygenOp));
  hasher.update(le16(args.n));
  hasher.update(le16(args.t));

  const std::uint16_t t = args.t;
  auto latest = [t, handler](ProtocolExecutor root) { return handler(std::move(root), t); };
  register_handler(*driven, Version::V1_2_0, std::move(latest));

  auto run = std::move(*driven);
  auto key_share = co_await dispatch_versioned(std::move(run));
  if (!key_share) co_return std::unexpected(std::move(key_share.error()));
  ExportableEd25519StorableSecretShare share{std::move(*key_share), std::move(args.own), std::move(party_map)};
  co_return exportable_keygen_output(share);
}

}  // namespace

ffi::DoubleOutput exportable_keygen_output(const ExportableEd25519StorableSecretShare& share) {
  return ffi::DoubleOutput(crypto::hex_encode(share.key_share.key_share.public_key.to_bytes()),
                           exportable_ed25519_share_encode(share));
}

KeyShareFuture exportable_sample_key_handler(ProtocolExecutor root, std::uint16_t t) {
  auto session = co_await exportable_joint_executor(std::move(root));
  if (!session) co_return std::unexpected(std::move(session.error()));
  auto key = co_await frost::exportable_sample_key(std::move(*session), t);
  if (!key) co_return std::unexpected(box_handler_error(std::move(key.error())));
  co_return std::move(*key);
}

KeyShareFuture exportable_receive_key_handler(ProtocolExecutor root, std::uint16_t t) {
  auto session = co_await exportable_joint_executor(std::move(root));
  if (!session) co_return std::unexpected(std::move(session.error()));
  // Reported as the sampling party reports it from inside the protocol.
  if (auto fits = check_threshold_at_most(t, session->number_of_parties()); !fits) {
    co_return std::unexpected(box_handler_error(frost::ReshareRunError::inner(std::move(fits.error()))));
  }
  auto key = co_await frost::exportable_reshare_receiver(std::move(*session), t);
  if (!key) co_return std::unexpected(box_handler_error(std::move(key.error())));
  co_return std::move(*key);
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_sample_key_body(KeygenArgs args) {
  return keygen_body(std::move(args), &exportable_sample_key_handler);
}

boost::asio::awaitable<ffi::OperationResult<ffi::DoubleOutput>> exportable_receive_key_body(KeygenArgs args) {
  return keygen_body(std::move(args), &exportable_receive_key_handler);
}

}  // namespace velto::executor
