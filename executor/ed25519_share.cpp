#include "executor/ed25519_share.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "crypto/blake3.hpp"
#include "sised/ed25519_codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-frost-ed25519/spub.hpp"

namespace velto::executor {

namespace {

using Encoding = crypto::SecretArray<kKeyPairEncodingSize>;

sised::SisedError bincode_error() { return sised::SisedError::custom(kBincodeErrorText); }

// The fixed-width field readers: nothing on any refusal.
std::optional<crypto::EdPoint> read_fixed_point(sised::Decoder& d) {
  auto bytes = d.take(32);
  if (!bytes) return std::nullopt;
  return crypto::EdPoint::from_bytes(*bytes);
}

std::optional<crypto::EdScalar> read_fixed_scalar(sised::Decoder& d) {
  auto bytes = d.take(32);
  if (!bytes) return std::nullopt;
  return crypto::EdScalar::from_canonical(*bytes);
}

// A non-zero u16; the fixed-width counts have no upper bound.
std::optional<std::uint16_t> read_fixed_nonzero(sised::Decoder& d) {
  auto v = d.read_u16();
  if (!v || *v == 0) return std::nullopt;
  return *v;
}

struct FixedIds {
  PartyId party_id;
  std::uint16_t threshold;
  std::uint16_t num_parties;
};

std::optional<FixedIds> read_fixed_ids(sised::Decoder& d) {
  auto party_id = read_fixed_nonzero(d);
  if (!party_id) return std::nullopt;
  auto threshold = read_fixed_nonzero(d);
  if (!threshold) return std::nullopt;
  auto num_parties = read_fixed_nonzero(d);
  if (!num_parties) return std::nullopt;
  return FixedIds{PartyId::unchecked(*party_id), *threshold, *num_parties};
}

void write_ids(sised::Sink& sink, PartyId party_id, std::uint16_t threshold, std::uint16_t num_parties) {
  sised::write_u16(sink, party_id.value());
  sised::write_u16(sink, threshold);
  sised::write_u16(sink, num_parties);
}

void write_v1_body(sised::Sink& sink, const Ed25519SecretShareV1& v) {
  sink.write(v.public_key.to_bytes());
  sink.write(v.secret_share.as_span());
  write_ids(sink, v.party_id, v.threshold, v.num_parties);
}

void write_v2_body(sised::Sink& sink, const Ed25519SecretShareV2& v) {
  sink.write(v.public_key.to_bytes());
  sink.write(v.chain_code);
  sink.write(v.secret_share.as_span());
  write_ids(sink, v.party_id, v.threshold, v.num_parties);
}

constexpr std::size_t kV1BodySize = 32 + 32 + 6;
constexpr std::size_t kV2BodySize = 32 + 32 + 32 + 6;
// Variant, seed share, three 16-bit fields, commitment.
constexpr std::size_t kPreimageShareSize = 1 + 32 + 6 + 33;

// A sink over the 128-byte area; refuses a write past the end.
struct AreaWriter {
  Encoding* area;
  std::size_t written = 0;

  bool write(crypto::ByteSpan bytes) {
    if (bytes.size() > kKeyPairEncodingSize - written) return false;
    std::copy(bytes.begin(), bytes.end(), area->data() + written);
    written += bytes.size();
    return true;
  }
};

// The record's transport key and map, after its body.
template <class Share, class Body, class ReadMap>
std::expected<Share, sised::SisedError> read_tail(sised::Decoder& d, Body body, ReadMap&& read_map) {
  auto transport = read_transport_keypair(d);
  if (!transport) return std::unexpected(std::move(transport.error()));
  std::expected<PartyPubkeyMap, sised::SisedError> map = read_map(d);
  if (!map) return std::unexpected(std::move(map.error()));
  return Share{std::move(body), std::move(*transport), std::move(*map)};
}

bool same_transport(const noise::NoiseKeyPair& a, const noise::NoiseKeyPair& b) noexcept {
  return a.private_key() == b.private_key() && a.public_key() == b.public_key();
}

}  // namespace

// ---------------------------------------------------------------------------
// Field groups.

std::expected<frost::FrostKeyShare, sised::SisedError> read_frost_keyshare_fields(sised::Decoder& d) {
  auto public_key = sised::Codec<crypto::EdPoint>::decode(d);
  if (!public_key) return std::unexpected(std::move(public_key.error()));
  crypto::ByteArray<32> chain_code{};
  if (auto r = d.read_into(chain_code); !r) return std::unexpected(std::move(r.error()));
  auto secret = sised::Codec<crypto::EdScalar>::decode(d);
  if (!secret) return std::unexpected(std::move(secret.error()));
  auto party_id = sised::Codec<PartyId>::decode(d);
  if (!party_id) return std::unexpected(std::move(party_id.error()));
  auto threshold = read_number_of_parties(d);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  auto num_parties = read_number_of_parties(d);
  if (!num_parties) return std::unexpected(std::move(num_parties.error()));
  return frost::FrostKeyShare{
      .public_key = *public_key,
      .chain_code = chain_code,
      .secret_share = std::move(*secret),
      .party_id = *party_id,
      .num_parties = *num_parties,
      .threshold = *threshold,
  };
}

void write_frost_keyshare_fields(sised::Sink& sink, const frost::FrostKeyShare& key) {
  sink.write(key.public_key.to_bytes());
  sink.write(key.chain_code);
  sink.write(key.secret_share.as_span());
  write_ids(sink, key.party_id, key.threshold, key.num_parties);
}

std::expected<Ed25519SecretShareV1, sised::SisedError> read_ed25519_v1_body(sised::Decoder& d) {
  auto public_key = read_fixed_point(d);
  if (!public_key) return std::unexpected(bincode_error());
  auto secret = read_fixed_scalar(d);
  if (!secret) return std::unexpected(bincode_error());
  auto ids = read_fixed_ids(d);
  if (!ids) return std::unexpected(bincode_error());
  return Ed25519SecretShareV1{*public_key, std::move(*secret), ids->party_id, ids->threshold, ids->num_parties};
}

std::expected<Ed25519SecretShareV2, sised::SisedError> read_ed25519_v2_body(sised::Decoder& d) {
  auto public_key = read_fixed_point(d);
  if (!public_key) return std::unexpected(bincode_error());
  crypto::ByteArray<32> chain_code{};
  if (!d.read_into(chain_code)) return std::unexpected(bincode_error());
  auto secret = read_fixed_scalar(d);
  if (!secret) return std::unexpected(bincode_error());
  auto ids = read_fixed_ids(d);
  if (!ids) return std::unexpected(bincode_error());
  return Ed25519SecretShareV2{*public_key,     chain_code,     std::move(*secret),
                              ids->party_id,   ids->threshold, ids->num_parties};
}

// ---------------------------------------------------------------------------
// Records.

bool operator==(const Ed25519StorableSecretShare& a, const Ed25519StorableSecretShare& b) noexcept {
  return a.key_share == b.key_share && same_transport(a.transport_keypair, b.transport_keypair) &&
         a.partyid_pubkey_map == b.partyid_pubkey_map;
}

bool operator==(const ExportableEd25519StorableSecretShare& a, const ExportableEd25519StorableSecretShare& b) noexcept {
  return a.key_share == b.key_share && same_transport(a.transport_keypair, b.transport_keypair) &&
         a.partyid_pubkey_map == b.partyid_pubkey_map;
}

std::string ed25519_share_encode(const Ed25519StorableSecretShare& share) { return encode_share_text(share); }

std::expected<Ed25519StorableSecretShare, ShareArgError> ed25519_share_decode(std::string_view text) {
  return decode_share_text<Ed25519StorableSecretShare>(text);
}

std::string exportable_ed25519_share_encode(const ExportableEd25519StorableSecretShare& share) {
  return encode_share_text(share);
}

std::expected<ExportableEd25519StorableSecretShare, ShareArgError> exportable_ed25519_share_decode(
    std::string_view text) {
  return decode_share_text<ExportableEd25519StorableSecretShare>(text);
}

// ---------------------------------------------------------------------------
// Upgrade and key shares.

Ed25519SecretShareV2 ed25519_share_upgrade_v1_v2(const Ed25519SecretShareV1& share) {
  const crypto::ByteArray<32> chain_code =
      crypto::blake3_derive_key(kEd25519V1V2ChainCodeContext, share.public_key.to_bytes());
  return Ed25519SecretShareV2{share.public_key, chain_code,      share.secret_share,
                              share.party_id,   share.threshold, share.num_parties};
}

crypto::SecretArray<kKeyPairEncodingSize> frost_keyshare_encode(const frost::FrostKeyShare& key) {
  Encoding area;
  AreaWriter writer{&area};
  sised::Sink sink = sised::Sink::callback(
      &writer, [](void* ctx, crypto::ByteSpan bytes) { return static_cast<AreaWriter*>(ctx)->write(bytes); });
  write_frost_keyshare_fields(sink, key);
  if (!sink.ok()) velto::panic(std::string(kKeyPairSerializePanicText));
  return area;
}

std::expected<frost::FrostKeyShare, sised::SisedError> frost_keyshare_decode(
    const crypto::SecretArray<kKeyPairEncodingSize>& bytes) {
  sised::Decoder d(bytes.span());
  return read_frost_keyshare_fields(d);
}

std::expected<frost::FrostKeyShare, ExecutorFailure> ed25519_share_v2_to_keypair(const Ed25519SecretShareV2& fields) {
  const frost::FrostKeyShare key{
      .public_key = fields.public_key,
      .chain_code = fields.chain_code,
      .secret_share = fields.secret_share,
      .party_id = fields.party_id,
      .num_parties = fields.num_parties,
      .threshold = fields.threshold,
  };
  auto back = frost_keyshare_decode(frost_keyshare_encode(key));
  if (!back) return std::unexpected(ExecutorFailure(ExecutorErrorKind::InvalidKeyShare{}));
  return std::move(*back);
}

std::expected<MaybeBorrowed<frost::FrostKeyShare>, ExecutorFailure> ed25519_share_to_keypair(
    const Ed25519StorableSecretShare& share) {
  using Result = MaybeBorrowed<frost::FrostKeyShare>;
  if (const auto* latest = std::get_if<frost::FrostKeyShare>(&share.key_share)) return Result::borrowed(*latest);
  const Ed25519SecretShareV2 fields = std::holds_alternative<Ed25519SecretShareV1>(share.key_share)
                                          ? ed25519_share_upgrade_v1_v2(std::get<Ed25519SecretShareV1>(share.key_share))
                                          : std::get<Ed25519SecretShareV2>(share.key_share);
  auto key = ed25519_share_v2_to_keypair(fields);
  if (!key) return std::unexpected(std::move(key.error()));
  return Result::owned(std::move(*key));
}

std::expected<Ed25519ExtendedKeyShare, ExecutorFailure> ed25519_share_derive_child(
    const Ed25519StorableSecretShare& share, std::span<const std::uint32_t> path) {
  auto key = ed25519_share_to_keypair(share);
  if (!key) return std::unexpected(std::move(key.error()));
  const frost::FrostKeyShare& parent_share = key->get();

  frost::ExtendedEd25519Key parent;
  parent.public_key = frost::EdCurvePoint::from_point(parent_share.public_key);
  parent.chain_code = parent_share.chain_code;
  const std::optional<frost::DerivedSpub> derived = frost::spub_derive_path(parent, path);
  if (!derived) return std::unexpected(ExecutorFailure(invalid_derivation_path_error(path)));
  crypto::EdScalar child_secret = parent_share.secret_share + derived->tweak_sum;
  if (child_secret.is_zero()) return std::unexpected(ExecutorFailure(invalid_derivation_path_error(path)));
  // The derivation's child key is the parent plus tweak sum·B; computed in the
  // subgroup type directly, which needs no membership check.
  const crypto::EdPoint child_key = parent_share.public_key + crypto::EdPoint::base_mul(derived->tweak_sum);

  return Ed25519ExtendedKeyShare{
      frost::FrostKeyShare{
          .public_key = child_key,
          .chain_code = derived->key.chain_code,
          .secret_share = std::move(child_secret),
          .party_id = parent_share.party_id,
          .num_parties = parent_share.num_parties,
          .threshold = parent_share.threshold,
      },
      derived->key.depth,
      derived->key.parent_fingerprint,
      derived->key.child_number,
  };
}

}  // namespace velto::executor

namespace velto::sised {

using executor::Ed25519SecretShareV1;
using executor::Ed25519SecretShareV2;
using executor::Ed25519ShareTag;
using executor::Ed25519StorableSecretShare;
using executor::ExportableEd25519StorableSecretShare;

void Codec<Ed25519StorableSecretShare>::encode(Sink& s, const Ed25519StorableSecretShare& v) {
  write_u32(s, static_cast<std::uint32_t>(v.tag()));
  std::visit(
      [&s](const auto& share) {
        using T = std::remove_cvref_t<decltype(share)>;
        if constexpr (std::is_same_v<T, Ed25519SecretShareV1>) {
          executor::write_v1_body(s, share);
        } else if constexpr (std::is_same_v<T, Ed25519SecretShareV2>) {
          executor::write_v2_body(s, share);
        } else {
          executor::write_frost_keyshare_fields(s, share);
        }
      },
      v.key_share);
  executor::write_transport_private_key(s, v.transport_keypair);
  if (v.tag() == Ed25519ShareTag::Latest) {
    executor::write_sorted_party_map(s, v.partyid_pubkey_map);
  } else {
    executor::write_counted_party_map(s, v.partyid_pubkey_map);
  }
}

std::size_t Codec<Ed25519StorableSecretShare>::size(const Ed25519StorableSecretShare& v) noexcept {
  const std::size_t tail = 32;
  switch (v.tag()) {
    case Ed25519ShareTag::V1:
      return 4 + executor::kV1BodySize + tail + executor::counted_party_map_size(v.partyid_pubkey_map);
    case Ed25519ShareTag::V2:
      return 4 + executor::kV2BodySize + tail + executor::counted_party_map_size(v.partyid_pubkey_map);
    case Ed25519ShareTag::Latest:
      break;
  }
  return 4 + executor::kFrostKeyShareFieldsSize + tail + executor::sorted_party_map_size(v.partyid_pubkey_map);
}

std::expected<Ed25519StorableSecretShare, SisedError> Codec<Ed25519StorableSecretShare>::decode(Decoder& d) {
  auto tag = d.read_u32();
  if (!tag) return std::unexpected(std::move(tag.error()));
  switch (*tag) {
    case static_cast<std::uint32_t>(Ed25519ShareTag::V1): {
      auto body = executor::read_ed25519_v1_body(d);
      if (!body) return std::unexpected(std::move(body.error()));
      return executor::read_tail<Ed25519StorableSecretShare>(d, std::move(*body), executor::read_counted_party_map);
    }
    case static_cast<std::uint32_t>(Ed25519ShareTag::V2): {
      auto body = executor::read_ed25519_v2_body(d);
      if (!body) return std::unexpected(std::move(body.error()));
      return executor::read_tail<Ed25519StorableSecretShare>(d, std::move(*body), executor::read_counted_party_map);
    }
    case static_cast<std::uint32_t>(Ed25519ShareTag::Latest): {
      auto body = executor::read_frost_keyshare_fields(d);
      if (!body) return std::unexpected(std::move(body.error()));
      return executor::read_tail<Ed25519StorableSecretShare>(d, std::move(*body), executor::read_sorted_party_map);
    }
    default:
      return std::unexpected(SisedError::custom(kInvalidDiscriminant));
  }
}

void Codec<frost::ExportableEd25519KeyShare>::encode(Sink& s, const frost::ExportableEd25519KeyShare& v) {
  const frost::PreimageShare& p = v.preimage_share;
  encode_value(s, p.share);
  executor::write_ids(s, p.party_id, p.threshold, p.num_parties);
  encode_value(s, p.commitment);
  executor::write_frost_keyshare_fields(s, v.key_share);
}

std::expected<frost::ExportableEd25519KeyShare, SisedError> Codec<frost::ExportableEd25519KeyShare>::decode(
    Decoder& d) {
  auto share = Codec<crypto::Scalar>::decode(d);
  if (!share) return std::unexpected(std::move(share.error()));
  auto party_id = Codec<PartyId>::decode(d);
  if (!party_id) return std::unexpected(std::move(party_id.error()));
  auto threshold = executor::read_number_of_parties(d);
  if (!threshold) return std::unexpected(std::move(threshold.error()));
  auto num_parties = executor::read_number_of_parties(d);
  if (!num_parties) return std::unexpected(std::move(num_parties.error()));
  auto commitment = executor::read_key_point(d);
  if (!commitment) return std::unexpected(std::move(commitment.error()));
  auto key_share = executor::read_frost_keyshare_fields(d);
  if (!key_share) return std::unexpected(std::move(key_share.error()));
  return frost::ExportableEd25519KeyShare{
      frost::PreimageShare{std::move(*commitment), std::move(*share), *party_id, *threshold, *num_parties},
      std::move(*key_share),
  };
}

void Codec<ExportableEd25519StorableSecretShare>::encode(Sink& s, const ExportableEd25519StorableSecretShare& v) {
  write_varint(s, 0);
  Codec<frost::ExportableEd25519KeyShare>::encode(s, v.key_share);
  executor::write_transport_private_key(s, v.transport_keypair);
  executor::write_sorted_party_map(s, v.partyid_pubkey_map);
}

std::size_t Codec<ExportableEd25519StorableSecretShare>::size(const ExportableEd25519StorableSecretShare& v) noexcept {
  return executor::kPreimageShareSize + executor::kFrostKeyShareFieldsSize + 32 +
         executor::sorted_party_map_size(v.partyid_pubkey_map);
}

std::expected<ExportableEd25519StorableSecretShare, SisedError> Codec<ExportableEd25519StorableSecretShare>::decode(
    Decoder& d) {
  auto variant = d.read_varint();
  if (!variant) return std::unexpected(std::move(variant.error()));
  if (*variant != 0) return std::unexpected(SisedError::custom(kInvalidDiscriminant));
  auto body = Codec<frost::ExportableEd25519KeyShare>::decode(d);
  if (!body) return std::unexpected(std::move(body.error()));
  return executor::read_tail<ExportableEd25519StorableSecretShare>(d, std::move(*body),
                                                                   executor::read_sorted_party_map);
}

}  // namespace velto::sised
