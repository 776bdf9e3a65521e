// Signing with an exportable key: every party of the session signs the
// message bytes with the FROST share of its key; the signature is an
// ordinary RFC 8032 one under the group key.
#include "executor/exportable_ed25519/operations.hpp"

#include <string>
#include <utility>

#include "crypto/codec.hpp"
#include "executor/ed25519/handlers.hpp"
#include "executor/exportable_ed25519/share_join.hpp"

namespace velto::executor {

namespace {

// The share's own entry in its party map must carry the FROST share's id:
// the session numbers its parties by the map, and signing as a party the
// session does not know cannot work.
bool own_entry_matches(const ExportableEd25519StorableSecretShare& share) {
  const noise::PublicKey& own = share.transport_keypair.public_key();
  const auto it = share.partyid_pubkey_map.find(share.key_share.key_share.party_id);
  return it != share.partyid_pubkey_map.end() && it->second == own;
}

}  // namespace

boost::asio::awaitable<ffi::OperationResult<std::string>> exportable_sign_body(ExportableSignArgs args) {
  if (!own_entry_matches(args.share)) {
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InvalidKeyShare{}}));
  }
  auto driven = co_await exportable_detail::join_share_parties<crypto::ByteArray<64>>(args, kExportableSignOp);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(args.message);
  hasher.update(crypto::as_bytes(kExportableSignOp));

  // The message and the share stay in this frame until the dispatch has
  // finished.
  const crypto::Bytes* message = &args.message;
  const frost::FrostKeyShare* key = &args.share.key_share.key_share;
  auto latest = [message, key](ProtocolExecutor root) {
    return ed25519_sign_handler(std::move(root), *message, *key);
  };
  register_handler(*driven, Version::V1_2_0, std::move(latest));

  auto run = std::move(*driven);
  auto signature = co_await dispatch_versioned(std::move(run));
  if (!signature) co_return std::unexpected(std::move(signature.error()));
  co_return crypto::hex_encode(*signature);
}

}  // namespace velto::executor
