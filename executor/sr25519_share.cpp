#include "executor/sr25519_share.hpp"

#include "sised/ed25519_codec.hpp"
#include "sised/ristretto255_codec.hpp"

namespace velto::executor {

bool operator==(const Sr25519StorableSecretShare& a, const Sr25519StorableSecretShare& b) noexcept {
  return a.key_share == b.key_share && same_transport_keypair(a.transport_keypair, b.transport_keypair) &&
         a.partyid_pubkey_map == b.partyid_pubkey_map;
}

std::string sr25519_share_encode(const Sr25519StorableSecretShare& share) { return encode_share_text(share); }

std::expected<Sr25519StorableSecretShare, ShareArgError> sr25519_share_decode(std::string_view text) {
  return decode_share_text<Sr25519StorableSecretShare>(text);
}

std::expected<const frost::Sr25519KeyShare*, ExecutorFailure> sr25519_share_checked_key_share(
    const Sr25519StorableSecretShare& share) {
  const frost::Sr25519KeyShare& key = share.key_share;
  auto consistent = check_own_share_entry(share.partyid_pubkey_map, key.own_id, key.threshold, key.num_parties,
                                          share.transport_keypair);
  if (!consistent) return std::unexpected(std::move(consistent.error()));
  return &key;
}

}  // namespace velto::executor

namespace velto::sised {

using executor::Sr25519StorableSecretShare;

namespace {
// Prefix (7), variant (1), group key, secret share, three u16 fields.
constexpr std::size_t kBodySize = 7 + 1 + 32 + 32 + 2 + 2 + 2;
}  // namespace

void Codec<Sr25519StorableSecretShare>::encode(Sink& s, const Sr25519StorableSecretShare& v) {
  executor::write_named_share_head(s, executor::kSr25519SharePrefix);
  encode_value(s, v.key_share.group_key);
  encode_value(s, v.key_share.secret_share);
  encode_value(s, v.key_share.own_id);
  write_u16(s, v.key_share.num_parties);
  write_u16(s, v.key_share.threshold);
  executor::write_transport_private_key(s, v.transport_keypair);
  executor::write_sorted_party_map(s, v.partyid_pubkey_map);
}

std::size_t Codec<Sr25519StorableSecretShare>::size(const Sr25519StorableSecretShare& v) noexcept {
  return kBodySize + 32 + executor::sorted_party_map_size(v.partyid_pubkey_map);
}

std::expected<Sr25519StorableSecretShare, SisedError> Codec<Sr25519StorableSecretShare>::decode(Decoder& d) {
  if (auto head = executor::read_named_share_head(d, executor::kSr25519SharePrefix); !head) {
    return std::unexpected(std::move(head.error()));
  }
  auto group_key = Codec<crypto::RistrettoPoint>::decode(d);
  if (!group_key) return std::unexpected(std::move(group_key.error()));
  auto secret = Codec<crypto::EdScalar>::decode(d);
  if (!secret) return std::unexpected(std::move(secret.error()));
  auto own_id = Codec<PartyId>::decode(d);
  if (!own_id) return std::unexpected(std::move(own_id.error()));
  auto num_parties = executor::read_number_of_parties(d);
  if (!num_parties) return std::unexpected(std::move(num_parties.error()));
  auto threshold = executor::read_number_of_parties(d);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  auto transport = executor::read_transport_keypair(d);
  if (!transport) return std::unexpected(std::move(transport.error()));
  auto map = executor::read_sorted_party_map(d);
  if (!map) return std::unexpected(std::move(map.error()));
  return Sr25519StorableSecretShare{
      frost::Sr25519KeyShare{*group_key, std::move(*secret), *own_id, *num_parties, *threshold},
      std::move(*transport), std::move(*map)};
}

}  // namespace velto::sised
