#include "executor/api_type.hpp"

#include <algorithm>

#include "crypto/codec.hpp"

namespace velto::executor {

namespace {

sised::SisedError custom(std::string_view text) { return sised::SisedError::custom(text); }

// A state block of the V1_1_0 record: raw bytes, OutOfBounds when cut short.
template <class Block>
std::expected<Block, sised::SisedError> read_state_block(sised::Decoder& d) {
  auto bytes = d.take(Block::kSize);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return *Block::from_bytes(*bytes);
}

template <class Block>
void write_state_map(sised::Sink& sink, const std::map<PartyId, Block>& map) {
  sised::write_len(sink, map.size());
  for (const auto& [id, block] : map) {
    sised::write_u16(sink, id.value());
    sink.write(block.bytes());
  }
}

template <class Block>
std::size_t state_map_size(const std::map<PartyId, Block>& map) noexcept {
  return sised::varint_size(map.size()) + map.size() * (2 + Block::kSize);
}

}  // namespace

// ---------------------------------------------------------------------------
// Text frame.

std::expected<crypto::SecretBytes, ShareArgError> share_text_to_record(std::string_view text) {
  if (text.size() % 2 != 0) return std::unexpected(ShareArgError(ShareArgError::InvalidHex{}));
  crypto::SecretBytes record(text.size() / 2);
  if (!crypto::hex_decode_into(text, record.mut_span())) {
    return std::unexpected(ShareArgError(ShareArgError::InvalidHex{}));
  }
  return record;
}

std::expected<void, sised::EncodeError> ShareRecordWriter::write(crypto::ByteSpan bytes) {
  if (bytes.size() > buffer_.size() - written_) return std::unexpected(sised::EncodeError::out_of_bounds());
  std::copy(bytes.begin(), bytes.end(), buffer_.data() + written_);
  written_ += bytes.size();
  return {};
}

std::string ShareRecordWriter::finish() && {
  std::string text = crypto::hex_encode(buffer_.span());
  buffer_.wipe();
  written_ = 0;
  return text;
}

// ---------------------------------------------------------------------------
// Field encodings.

std::expected<std::uint16_t, sised::SisedError> read_number_of_parties(sised::Decoder& d) noexcept {
  auto v = d.read_u16();
  if (!v) return std::unexpected(std::move(v.error()));
  if (*v == 0 || *v > kMaxShareParties) return std::unexpected(custom(kInvalidNumberOfPartiesText));
  return *v;
}

std::expected<crypto::Point, sised::SisedError> read_key_point(sised::Decoder& d) {
  auto p = sised::Codec<crypto::Point>::decode(d);
  if (!p) return std::unexpected(std::move(p.error()));
  if (p->is_identity()) return std::unexpected(custom(sised::kInvalidCompressedPoint));
  return std::move(*p);
}

std::expected<ecdsa::KeyPair, sised::SisedError> read_ecdsa_keypair_fields(sised::Decoder& d) {
  auto secret = sised::Codec<crypto::Scalar>::decode(d);
  if (!secret) return std::unexpected(std::move(secret.error()));
  auto public_key = read_key_point(d);
  if (!public_key) return std::unexpected(std::move(public_key.error()));
  crypto::ByteArray<32> chain_code{};
  if (auto r = d.read_into(chain_code); !r) return std::unexpected(std::move(r.error()));
  auto party_id = sised::Codec<PartyId>::decode(d);
  if (!party_id) return std::unexpected(std::move(party_id.error()));
  auto threshold = read_number_of_parties(d);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  auto num_parties = read_number_of_parties(d);
  if (!num_parties) return std::unexpected(std::move(num_parties.error()));
  return ecdsa::KeyPair{*secret, chain_code, *public_key, *party_id, *threshold, *num_parties};
}

void write_ecdsa_keypair_fields(sised::Sink& sink, const ecdsa::KeyPair& key) {
  sised::encode_value(sink, key.secret_share);
  sised::encode_value(sink, key.public_key);
  sink.write(key.chain_code);
  sised::write_u16(sink, key.party_id.value());
  sised::write_u16(sink, key.threshold);
  sised::write_u16(sink, key.num_parties);
}

// ---------------------------------------------------------------------------
// The common tail.

std::expected<noise::NoiseKeyPair, sised::SisedError> read_transport_keypair(sised::Decoder& d) {
  auto bytes = d.take(32);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  auto keypair = noise::keypair_from_private(crypto::SecretArray<32>(*bytes));
  if (!keypair) return std::unexpected(custom(kInvalidPrivateKeyText));
  return std::move(*keypair);
}

void write_transport_private_key(sised::Sink& sink, const noise::NoiseKeyPair& keypair) {
  sink.write(keypair.private_key().span());
}

std::expected<PartyPubkeyMap, sised::SisedError> read_sorted_party_map(sised::Decoder& d) {
  return read_sorted_id_map<noise::PublicKey>(d, [](sised::Decoder& dd) {
    return sised::Codec<noise::PublicKey>::decode(dd);
  });
}

void write_sorted_party_map(sised::Sink& sink, const PartyPubkeyMap& map) {
  sised::write_len(sink, map.size());
  for (const auto& [id, key] : map) {
    sised::write_u16(sink, id.value());
    sink.write(key.span());
  }
}

std::size_t sorted_party_map_size(const PartyPubkeyMap& map) noexcept {
  return sised::varint_size(map.size()) + 34 * map.size();
}

std::expected<PartyPubkeyMap, sised::SisedError> read_counted_party_map(sised::Decoder& d) {
  auto count = fixed_width::read_u64(d);
  if (!count) return std::unexpected(custom(kBincodeErrorText));
  PartyPubkeyMap out;
  for (std::uint64_t i = 0; i < *count; ++i) {
    auto id = fixed_width::read_party_id(d);
    if (!id) return std::unexpected(custom(kBincodeErrorText));
    auto bytes = d.read_array<32>();
    if (!bytes) return std::unexpected(custom(kBincodeErrorText));
    auto key = noise::public_key_from_bytes(*bytes);
    if (!key) return std::unexpected(custom(kBincodeErrorText));
    out.insert_or_assign(*id, *key);
  }
  return out;
}

void write_counted_party_map(sised::Sink& sink, const PartyPubkeyMap& map) {
  sised::write_u64(sink, map.size());
  for (const auto& [id, key] : map) {
    sised::write_u16(sink, id.value());
    sink.write(key.span());
  }
}

std::size_t counted_party_map_size(const PartyPubkeyMap& map) noexcept { return 8 + 34 * map.size(); }

// ---------------------------------------------------------------------------
// ECDSA share records.

bool operator==(const EcdsaStorableSecretShare& a, const EcdsaStorableSecretShare& b) noexcept {
  return a.key_share == b.key_share && a.transport_keypair.private_key() == b.transport_keypair.private_key() &&
         a.transport_keypair.public_key() == b.transport_keypair.public_key() &&
         a.partyid_pubkey_map == b.partyid_pubkey_map;
}

std::string ecdsa_share_encode(const EcdsaStorableSecretShare& share) { return encode_share_text(share); }

std::expected<EcdsaStorableSecretShare, ShareArgError> ecdsa_share_decode(std::string_view text) {
  return decode_share_text<EcdsaStorableSecretShare>(text);
}

}  // namespace velto::executor

namespace velto::sised {

using executor::EcdsaShareTag;
using executor::EcdsaStorableSecretShare;
using executor::KeyPairV1_1_0;

void Codec<KeyPairV1_1_0>::encode(Sink& s, const KeyPairV1_1_0& v) {
  executor::write_ecdsa_keypair_fields(s, v.key_pair);
  write_len(s, v.setup_states ? 1 : 0);
  if (v.setup_states) {
    executor::write_state_map(s, v.setup_states->sender_states);
    executor::write_state_map(s, v.setup_states->receiver_states);
  }
}

std::size_t Codec<KeyPairV1_1_0>::size(const KeyPairV1_1_0& v) noexcept {
  std::size_t n = executor::kEcdsaKeyPairFieldsSize + 1;
  if (v.setup_states) {
    n += executor::state_map_size(v.setup_states->sender_states);
    n += executor::state_map_size(v.setup_states->receiver_states);
  }
  return n;
}

std::expected<KeyPairV1_1_0, SisedError> Codec<KeyPairV1_1_0>::decode(Decoder& d) {
  auto key_pair = executor::read_ecdsa_keypair_fields(d);
  if (!key_pair) return std::unexpected(std::move(key_pair.error()));
  auto flag = d.read_varint();
  if (!flag) return std::unexpected(std::move(flag.error()));
  if (*flag == 0) return KeyPairV1_1_0{std::move(*key_pair), std::nullopt};
  if (*flag != 1) return std::unexpected(SisedError::custom(kInvalidDiscriminant));
  auto sender = executor::read_sorted_id_map<executor::SenderSetupState>(
      d, executor::read_state_block<executor::SenderSetupState>);
  if (!sender) return std::unexpected(std::move(sender.error()));
  auto receiver = executor::read_sorted_id_map<executor::ReceiverSetupState>(
      d, executor::read_state_block<executor::ReceiverSetupState>);
  if (!receiver) return std::unexpected(std::move(receiver.error()));
  return KeyPairV1_1_0{std::move(*key_pair), executor::PerPeerSetupStates{std::move(*sender), std::move(*receiver)}};
}

void Codec<EcdsaStorableSecretShare>::encode(Sink& s, const EcdsaStorableSecretShare& v) {
  write_u32(s, static_cast<std::uint32_t>(v.tag()));
  const bool fixed_width = std::visit(
      [&s](const auto& share) {
        using T = std::remove_cvref_t<decltype(share)>;
        if constexpr (std::is_same_v<T, executor::EcdsaSecretShareV1>) {
          executor::write_ecdsa_v1_body(s, share);
          return true;
        } else if constexpr (std::is_same_v<T, executor::EcdsaSecretShareV2>) {
          executor::write_ecdsa_v2_body(s, share);
          return true;
        } else if constexpr (std::is_same_v<T, KeyPairV1_1_0>) {
          Codec<KeyPairV1_1_0>::encode(s, share);
          return false;
        } else {
          executor::write_ecdsa_keypair_fields(s, share);
          return false;
        }
      },
      v.key_share);
  executor::write_transport_private_key(s, v.transport_keypair);
  if (fixed_width) {
    executor::write_counted_party_map(s, v.partyid_pubkey_map);
  } else {
    executor::write_sorted_party_map(s, v.partyid_pubkey_map);
  }
}

std::size_t Codec<EcdsaStorableSecretShare>::size(const EcdsaStorableSecretShare& v) noexcept {
  std::size_t n = 4 + 32;
  std::visit(
      [&](const auto& share) {
        using T = std::remove_cvref_t<decltype(share)>;
        if constexpr (std::is_same_v<T, executor::EcdsaSecretShareV1>) {
          n += executor::ecdsa_v1_body_size(share) + executor::counted_party_map_size(v.partyid_pubkey_map);
        } else if constexpr (std::is_same_v<T, executor::EcdsaSecretShareV2>) {
          n += executor::ecdsa_v2_body_size(share) + executor::counted_party_map_size(v.partyid_pubkey_map);
        } else if constexpr (std::is_same_v<T, KeyPairV1_1_0>) {
          n += Codec<KeyPairV1_1_0>::size(share) + executor::sorted_party_map_size(v.partyid_pubkey_map);
        } else {
          n += executor::kEcdsaKeyPairFieldsSize + executor::sorted_party_map_size(v.partyid_pubkey_map);
        }
      },
      v.key_share);
  return n;
}

namespace {

// The body of each tag, then the tail in that tag's map form.
template <class Share, class ReadBody, class ReadMap>
std::expected<EcdsaStorableSecretShare, SisedError> read_share(Decoder& d, ReadBody&& read_body, ReadMap&& read_map) {
  std::expected<Share, SisedError> body = read_body(d);
  if (!body) return std::unexpected(std::move(body.error()));
  auto transport = executor::read_transport_keypair(d);
  if (!transport) return std::unexpected(std::move(transport.error()));
  std::expected<executor::PartyPubkeyMap, SisedError> map = read_map(d);
  if (!map) return std::unexpected(std::move(map.error()));
  return EcdsaStorableSecretShare{std::move(*body), std::move(*transport), std::move(*map)};
}

}  // namespace

std::expected<EcdsaStorableSecretShare, SisedError> Codec<EcdsaStorableSecretShare>::decode(Decoder& d) {
  auto tag = d.read_u32();
  if (!tag) return std::unexpected(std::move(tag.error()));
  switch (*tag) {
    case static_cast<std::uint32_t>(EcdsaShareTag::V1):
      return read_share<executor::EcdsaSecretShareV1>(d, executor::read_ecdsa_v1_body,
                                                      executor::read_counted_party_map);
    case static_cast<std::uint32_t>(EcdsaShareTag::V2):
      return read_share<executor::EcdsaSecretShareV2>(d, executor::read_ecdsa_v2_body,
                                                      executor::read_counted_party_map);
    case static_cast<std::uint32_t>(EcdsaShareTag::V1_1_0):
      return read_share<KeyPairV1_1_0>(d, Codec<KeyPairV1_1_0>::decode, executor::read_sorted_party_map);
    case static_cast<std::uint32_t>(EcdsaShareTag::Latest):
      return read_share<ecdsa::KeyPair>(d, executor::read_ecdsa_keypair_fields, executor::read_sorted_party_map);
    default:
      return std::unexpected(SisedError::custom(kInvalidDiscriminant));
  }
}

}  // namespace velto::sised
