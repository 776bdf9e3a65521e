#include "executor/bindings/args.hpp"

#include <algorithm>
#include <string>

#include "crypto/codec.hpp"
#include "executor/bindings/c_api.hpp"

namespace velto::executor::ffi {

namespace {
const char* chars(ConstStr s) { return reinterpret_cast<const char*>(s.ptr); }

crypto::ByteArray<32> public_bytes(const crypto::SecretArray<32>& secret) {
  crypto::ByteArray<32> out{};
  const auto bytes = secret.span();
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}
}  // namespace

std::expected<server_tools::HostAuthority, FfiError> host_arg(ConstStr host_url) {
  auto authority = decode_arg(host_url, FfiErrorKind::InvalidHostUrl, parse_host_authority);
  if (!authority) return std::unexpected(std::move(authority.error()));
  return server_tools::HostAuthority::with_tls(std::move(*authority));
}

std::expected<server_tools::RoomUuid, FfiError> room_arg(ConstStr room_uuid) {
  return decode_arg(room_uuid, FfiErrorKind::InvalidUUID, server_tools::parse_room_uuid);
}

std::expected<std::uint16_t, FfiError> party_count_arg(std::uint16_t value) {
  if (value == 0 || value > kMaxNumberOfParties) {
    return std::unexpected(FfiError(FfiErrorKind::InvalidNumberOfParties, InvalidNumberOfParties(value)));
  }
  return value;
}

std::expected<noise::NoiseKeyPair, FfiError> keygen_secret_arg(ConstStr keygen_secret) {
  return decode_arg(keygen_secret, FfiErrorKind::InvalidKeygenInitKeypair, parse_keygen_secret);
}

std::expected<noise::PublicKey, FfiError> keygen_id_arg(ConstStr keygen_id) {
  return decode_arg(keygen_id, FfiErrorKind::InvalidKeygenId, parse_keygen_id);
}

std::expected<KeygenIdSet, FfiError> optional_keygen_ids_arg(ConstStrArray keygen_ids) {
  return parse_optional_keygen_ids(keygen_ids.ptr, keygen_ids.count);
}

std::expected<EcdsaStorableSecretShare, FfiError> ecdsa_share_arg(ConstStr secret_share) {
  return decode_arg(secret_share, FfiErrorKind::InvalidSecretShare, ecdsa_share_decode);
}

std::expected<ExportableEd25519StorableSecretShare, FfiError> exportable_ed25519_share_arg(ConstStr secret_share) {
  return decode_arg(secret_share, FfiErrorKind::InvalidSecretShare, exportable_ed25519_share_decode);
}

std::expected<Ed25519StorableSecretShare, FfiError> ed25519_share_arg(ConstStr secret_share) {
  return decode_arg(secret_share, FfiErrorKind::InvalidSecretShare, ed25519_share_decode);
}

std::expected<crypto::Bytes, FfiError> message_arg(ConstStr message) {
  return decode_arg(message, FfiErrorKind::InvalidMessage, crypto::hex_decode);
}

std::expected<crypto::ByteArray<32>, FfiError> msg_hash_arg(ConstStr msg_hash) {
  auto bytes = parse_hex32_arg(chars(msg_hash), msg_hash.len);
  if (!bytes) return std::unexpected(FfiError(FfiErrorKind::InvalidMessage, std::move(bytes.error())));
  return public_bytes(*bytes);
}

std::expected<crypto::SecretArray<32>, FfiError> private_key_arg(ConstStr private_key) {
  auto key = parse_hex32_arg(chars(private_key), private_key.len);
  if (!key) return std::unexpected(FfiError(FfiErrorKind::InvalidPrivateKey, std::move(key.error())));
  return std::move(*key);
}

std::expected<std::optional<crypto::ByteArray<32>>, FfiError> chain_code_arg(ConstStr chain_code) {
  auto code = parse_optional_hex32_arg(chars(chain_code), chain_code.len);
  if (!code) return std::unexpected(FfiError(FfiErrorKind::InvalidChaincode, std::move(code.error())));
  if (!*code) return std::optional<crypto::ByteArray<32>>();
  return std::optional<crypto::ByteArray<32>>(public_bytes(**code));
}

std::expected<std::vector<std::uint32_t>, FfiError> derivation_path_arg(U32Array path) {
  return u32_array_arg(path.ptr, path.count, FfiErrorKind::InvalidDerivationElement, kMaxDerivationPathLength);
}

std::expected<KeygenArgs, FfiError> keygen_args(std::uint16_t n, std::uint16_t t, ConstStr keygen_secret,
                                                ConstStr room_uuid, ConstStr host_url, ConstStrArray keygen_ids) {
  auto host = host_arg(host_url);
  if (!host) return std::unexpected(std::move(host.error()));
  auto room = room_arg(room_uuid);
  if (!room) return std::unexpected(std::move(room.error()));
  auto parties = party_count_arg(n);
  if (!parties) return std::unexpected(std::move(parties.error()));
  auto threshold = party_count_arg(t);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  auto own = keygen_secret_arg(keygen_secret);
  if (!own) return std::unexpected(std::move(own.error()));
  auto ids = optional_keygen_ids_arg(keygen_ids);
  if (!ids) return std::unexpected(std::move(ids.error()));
  return KeygenArgs(std::move(*host), *room, *parties, *threshold, std::move(*own), std::move(*ids));
}

std::expected<IdentityArgs, FfiError> identity_args(std::uint16_t threshold, ConstStr keygen_secret,
                                                    ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url) {
  auto host = host_arg(host_url);
  if (!host) return std::unexpected(std::move(host.error()));
  auto room = room_arg(room_uuid);
  if (!room) return std::unexpected(std::move(room.error()));
  auto t = party_count_arg(threshold);
  if (!t) return std::unexpected(std::move(t.error()));
  auto own = keygen_secret_arg(keygen_secret);
  if (!own) return std::unexpected(std::move(own.error()));
  auto ids = optional_keygen_ids_arg(keygen_ids);
  if (!ids) return std::unexpected(std::move(ids.error()));
  return IdentityArgs(std::move(*host), *room, *t, std::move(*own), std::move(*ids));
}

}  // namespace velto::executor::ffi
