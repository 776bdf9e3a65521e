// The full-key export body: find the receiver among the share's parties, join
// them, bind the key and the receiver into the session and rebuild the key at
// the receiver.
#include "executor/ecdsa/operations.hpp"

#include <optional>
#include <string>
#include <utility>

#include "executor/common/session_checks.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "velto-ecdsa/bip32.hpp"

namespace velto::executor {

using ExtractOutcome = std::optional<ecdsa::Xpriv>;

boost::asio::awaitable<ffi::OperationResult<std::string>> ecdsa_export_body(ExportArgs<EcdsaStorableSecretShare> args) {
  const std::optional<PartyId> receiver = party_of_key(args.share.partyid_pubkey_map, args.export_to);
  if (!receiver) {
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PartyNotFound{args.export_to}}));
  }

  PartyPubkeyMap parties = args.share.partyid_pubkey_map;
  const std::uint16_t n = ecdsa_share_num_parties(args.share);
  const std::uint16_t t = ecdsa_share_threshold(args.share);
  auto driven = co_await drive_sign_type<ExtractOutcome>(std::move(args.host), args.room,
                                                         args.share.transport_keypair, std::move(parties), n, t,
                                                         kEcdsaExtractOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(ecdsa_share_public_key_uncompressed(args.share));
  hasher.update(args.export_to.bytes());
  hasher.update(crypto::as_bytes(kEcdsaExtractLabel));

  // The share stays in this frame until the dispatch has finished.
  const EcdsaStorableSecretShare* share = &args.share;
  const PartyId to = *receiver;
  auto latest = [share, to](ProtocolExecutor root) {
    return ecdsa_extract_handler_latest(std::move(root), *share, to);
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  auto v1_1_0 = [share, to](ProtocolExecutor root) {
    return ecdsa_extract_handler_v1_1_0(std::move(root), *share, to);
  };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto extracted = co_await dispatch_versioned(std::move(*driven));
  if (!extracted) co_return std::unexpected(std::move(extracted.error()));
  if (!*extracted) co_return std::string();
  co_return ecdsa::xprv_to_string(**extracted);
}

}  // namespace velto::executor
