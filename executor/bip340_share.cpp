#include "executor/bip340_share.hpp"

#include <algorithm>

#include "executor/sr25519_share.hpp"
#include "sised/secp256k1_codec.hpp"

namespace velto::executor {

bool operator==(const Bip340StorableSecretShare& a, const Bip340StorableSecretShare& b) noexcept {
  return a.key_share == b.key_share && a.transport_keypair.private_key() == b.transport_keypair.private_key() &&
         a.transport_keypair.public_key() == b.transport_keypair.public_key() &&
         a.partyid_pubkey_map == b.partyid_pubkey_map;
}

std::string bip340_share_encode(const Bip340StorableSecretShare& share) { return encode_share_text(share); }

std::expected<Bip340StorableSecretShare, ShareArgError> bip340_share_decode(std::string_view text) {
  return decode_share_text<Bip340StorableSecretShare>(text);
}

std::expected<const bip340::Bip340KeyShare*, ExecutorFailure> bip340_share_checked_key_share(
    const Bip340StorableSecretShare& share) {
  const bip340::Bip340KeyShare& key = share.key_share;
  const auto own = share.partyid_pubkey_map.find(key.party_id);
  if (key.threshold > key.num_parties || own == share.partyid_pubkey_map.end() ||
      !(own->second == share.transport_keypair.public_key())) {
    return std::unexpected(ExecutorFailure(ExecutorErrorKind::InvalidKeyShare{}));
  }
  return &key;
}

}  // namespace velto::executor

namespace velto::sised {

using executor::Bip340StorableSecretShare;

namespace {
// Prefix (6), variant (1), the key pair fields.
constexpr std::size_t kBodySize = 6 + 1 + executor::kEcdsaKeyPairFieldsSize;
}  // namespace

void Codec<Bip340StorableSecretShare>::encode(Sink& s, const Bip340StorableSecretShare& v) {
  s.write(crypto::as_bytes(executor::kBip340SharePrefix));
  write_varint(s, 0);
  executor::write_ecdsa_keypair_fields(s, v.key_share);
  executor::write_transport_private_key(s, v.transport_keypair);
  executor::write_sorted_party_map(s, v.partyid_pubkey_map);
}

std::size_t Codec<Bip340StorableSecretShare>::size(const Bip340StorableSecretShare& v) noexcept {
  return kBodySize + 32 + executor::sorted_party_map_size(v.partyid_pubkey_map);
}

std::expected<Bip340StorableSecretShare, SisedError> Codec<Bip340StorableSecretShare>::decode(Decoder& d) {
  auto prefix = d.take(executor::kBip340SharePrefix.size());
  if (!prefix) return std::unexpected(std::move(prefix.error()));
  const crypto::ByteSpan expected = crypto::as_bytes(executor::kBip340SharePrefix);
  if (!std::equal(prefix->begin(), prefix->end(), expected.begin(), expected.end())) {
    return std::unexpected(SisedError::custom(executor::kInvalidShareTagText));
  }
  auto variant = d.read_varint();
  if (!variant) return std::unexpected(std::move(variant.error()));
  if (*variant != 0) return std::unexpected(SisedError::custom(executor::kInvalidShareTagText));
  // The group key's reader refuses the identity, which no key generation
  // produces and which the key's text forms cannot express.
  auto key = executor::read_ecdsa_keypair_fields(d);
  if (!key) return std::unexpected(std::move(key.error()));
  auto transport = executor::read_transport_keypair(d);
  if (!transport) return std::unexpected(std::move(transport.error()));
  auto map = executor::read_sorted_party_map(d);
  if (!map) return std::unexpected(std::move(map.error()));
  return Bip340StorableSecretShare{std::move(*key), std::move(*transport), std::move(*map)};
}

}  // namespace velto::sised
