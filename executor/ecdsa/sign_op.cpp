// The signing body: derive along the path, join the share's parties, bind the
// derived key and the message into the session, sign, and write the
// signature text.
#include "executor/ecdsa/operations.hpp"

#include <string>
#include <utility>

#include "crypto/codec.hpp"
#include "executor/ecdsa/latest/keygen_sign.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa_share.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

namespace {

// The u64 values the signing session binds after the message hash, as the
// protocol has always fed them.
constexpr crypto::ByteArray<8> kSignBinding64 = {64, 0, 0, 0, 0, 0, 0, 0};
constexpr crypto::ByteArray<8> kSignBinding2 = {2, 0, 0, 0, 0, 0, 0, 0};

// r ‖ s ‖ recovery id ‖ DER  ->  hex of r ‖ s ‖ (27 + recovery id) ‖ DER.
std::string signature_text(crypto::Bytes signature) {
  if (signature.size() <= 64) {
    panic("index out of bounds: the len is " + std::to_string(signature.size()) + " but the index is 64");
  }
  signature[64] = static_cast<std::uint8_t>(signature[64] + 27);
  return crypto::hex_encode(signature);
}

}  // namespace

boost::asio::awaitable<ffi::OperationResult<std::string>> ecdsa_sign_body(EcdsaSignArgs args) {
  auto derived = ecdsa_share_derive_child(args.share, args.path);
  if (!derived) co_return std::unexpected(std::move(derived.error()));

  PartyPubkeyMap parties = args.share.partyid_pubkey_map;
  const std::uint16_t n = ecdsa_share_num_parties(args.share);
  const std::uint16_t t = ecdsa_share_threshold(args.share);
  auto driven = co_await drive_sign_type<crypto::Bytes>(std::move(args.host), args.room, args.share.transport_keypair,
                                                        std::move(parties), n, t, kEcdsaSignOp, args.timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));

  crypto::Blake3& hasher = driven->session.setup.session_hasher();
  hasher.update(ecdsa::pubkey_to_uncompressed(derived->key_pair.public_key));
  hasher.update(args.msg_hash);
  hasher.update(kSignBinding64);
  hasher.update(kSignBinding2);
  hasher.update(crypto::as_bytes(kEcdsaSigningLabel));

  const crypto::ByteArray<32> hash = args.msg_hash;
  auto latest = [hash, key = std::move(*derived)](ProtocolExecutor root) mutable {
    return ecdsa_sign_handler_latest(std::move(root), hash, std::move(key));
  };
  register_handler(*driven, Version::V1_5_0, std::move(latest));
  // args outlives the dispatch below, which runs the handler to its end.
  auto v1_1_0 = [hash, &share = args.share, &path = args.path](ProtocolExecutor root) {
    return ecdsa_sign_handler_v1_1_0(std::move(root), share, path, hash);
  };
  register_handler(*driven, Version::V1_1_0, std::move(v1_1_0));

  auto signature = co_await dispatch_versioned(std::move(*driven));
  if (!signature) co_return std::unexpected(std::move(signature.error()));
  co_return signature_text(std::move(*signature));
}

}  // namespace velto::executor
