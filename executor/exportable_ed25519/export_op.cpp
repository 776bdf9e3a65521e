// Export of an exportable key's seed to one party of the key: the other
// parties send their key shares to the receiver, which rebuilds the seed and
// accepts it only as its own key's seed.
#include "executor/exportable_ed25519/operations.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/session_checks.hpp"
#include "executor/exportable_ed25519/handlers.hpp"
#include "executor/exportable_ed25519/share_join.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::executor {

namespace {

using SeedOutcome = std::optional<frost::Ed25519SeedKeyPair>;

}  // namespace

std::expected<frost::Ed25519SeedKeyPair, frost::SeedReconstructionError> exportable_rebuild_for(
    const frost::ExportableEd25519KeyShare& own, std::span<const frost::ExportableEd25519KeyShare> records) {
  auto key = frost::exportable_unmask_preimage(records);
  if (!key) return std::unexpected(std::move(key.error()));
  // The reconstruction checked the seed against its first record; a sender
  // whose contribution comes first could make that record up. The seed must
  // be the one of the key this party holds.
  const bool own_key = key->public_key == own.key_share.public_key &&
                       records.front().preimage_share.commitment == own.preimage_share.commitment;
  if (!own_key) return std::unexpected(frost::ReshareError(frost::ReshareError::ReconstructionFailed{}));
  return key;
}

std::string exportable_key_text(const frost::Ed25519SeedKeyPair& key) {
  crypto::SecretArray<64> bytes;
  for (std::size_t i = 0; i < 32; ++i) bytes[i] = key.preimage[i];
  const crypto::ByteArray<32> public_key = key.public_key.to_bytes();
  for (std::size_t i = 0; i < 32; ++i) bytes[32 + i] = public_key[i];
  return crypto::hex_encode(bytes.span());
}

HandlerFuture<SeedOutcome> exportable_export_handler(ProtocolExecutor root,
                                                     const ExportableEd25519StorableSecretShare& share,
                                                     PartyId receiver) {
  if (auto present = check_receiver_in_session(root, share.partyid_pubkey_map, receiver); !present) {
    co_return std::unexpected(std::move(present.error()));
  }
  const frost::ExportableEd25519KeyShare& own = share.key_share;

  if (root.my_party_id() != receiver) {
    if (auto sent = root.send_to(receiver, own); !sent) {
      co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
    }
    co_return SeedOutcome{};
  }

  std::vector<frost::ExportableEd25519KeyShare> records;
  records.reserve(root.parties().size());
  auto poll = BufferedPoll::start(root, root.parties());
  for (;;) {
    auto item = co_await poll.next<frost::ExportableEd25519KeyShare>();
    if (!item) co_return std::unexpected(into_boxed_handler_error(std::move(item.error())));
    if (!*item) break;
    records.push_back(std::move((*item)->value));
  }
  records.push_back(own);

  auto key = exportable_rebuild_for(own, records);
  if (!key) co_return std::unexpected(box_handler_error(std::move(key.error())));
  co_return SeedOutcome(std::move(*key));
}

boost::asio::awaitable<ffi::OperationResult<std::string>> exportable_export_body(
    ExportArgs<ExportableEd25519StorableSecretShare> args) {
  const noise::PublicKey export_to = args.export_to;
  const std::optional<PartyId> receiver = party_of_key(args.share.partyid_pubkey_map, export_to);
  if (!receiver) {
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::PartyNotFound{export_to}}));
  }
  auto driven = co_await exportable_detail::join_share_parties<SeedOutcome>(args, kExportableExportOp);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(export_to.bytes());
  hasher.update(crypto::as_bytes(kExportableExportOp));

  // The share stays in this frame until the dispatch has finished.
  const ExportableEd25519StorableSecretShare* share = &args.share;
  const PartyId to = *receiver;
  auto latest = [share, to](ProtocolExecutor root) { return exportable_export_handler(std::move(root), *share, to); };
  register_handler(*driven, Version::V1_2_0, std::move(latest));

  auto run = std::move(*driven);
  auto exported = co_await dispatch_versioned(std::move(run));
  if (!exported) co_return std::unexpected(std::move(exported.error()));
  if (!*exported) co_return std::string();
  co_return exportable_key_text(**exported);
}

}  // namespace velto::executor
