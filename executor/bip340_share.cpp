#include "executor/bip340_share.hpp"

#include "sised/secp256k1_codec.hpp"

namespace velto::executor {

bool operator==(const Bip340StorableSecretShare& a, const Bip340StorableSecretShare& b) noexcept {
  return a.key_share == b.key_share && same_transport_keypair(a.transport_keypair, b.transport_keypair) &&
         a.partyid_pubkey_map == b.partyid_pubkey_map;
}

std::string bip340_share_encode(const Bip340StorableSecretShare& share) { return encode_share_text(share); }

std::expected<Bip340StorableSecretShare, ShareArgError> bip340_share_decode(std::string_view text) {
  return decode_share_text<Bip340StorableSecretShare>(text);
}

std::expected<const bip340::Bip340KeyShare*, ExecutorFailure> bip340_share_checked_key_share(
    const Bip340StorableSecretShare& share) {
  const bip340::Bip340KeyShare& key = share.key_share;
  auto consistent = check_own_share_entry(share.partyid_pubkey_map, key.party_id, key.threshold, key.num_parties,
                                          share.transport_keypair);
  if (!consistent) return std::unexpected(std::move(consistent.error()));
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
  executor::write_named_share_head(s, executor::kBip340SharePrefix);
  executor::write_ecdsa_keypair_fields(s, v.key_share);
  executor::write_transport_private_key(s, v.transport_keypair);
  executor::write_sorted_party_map(s, v.partyid_pubkey_map);
}

std::size_t Codec<Bip340StorableSecretShare>::size(const Bip340StorableSecretShare& v) noexcept {
  return kBodySize + 32 + executor::sorted_party_map_size(v.partyid_pubkey_map);
}

std::expected<Bip340StorableSecretShare, SisedError> Codec<Bip340StorableSecretShare>::decode(Decoder& d) {
  if (auto head = executor::read_named_share_head(d, executor::kBip340SharePrefix); !head) {
    return std::unexpected(std::move(head.error()));
  }
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
