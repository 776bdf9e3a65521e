#include "executor/compat.hpp"

#include "crypto/blake3.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

namespace {

sised::SisedError bincode_error() { return sised::SisedError::custom(kBincodeErrorText); }

// The SEC1 length that a first byte implies, or 0 for a byte that starts no
// accepted encoding.
constexpr std::uint64_t sec1_length(std::uint8_t first) noexcept {
  switch (first) {
    case 0x00:
      return 1;
    case 0x02:
    case 0x03:
    case 0x05:
      return 33;
    case 0x04:
      return 65;
    default:
      return 0;
  }
}

// The fields of both bodies; V1 leaves the chain code unread.
struct BodyFields {
  crypto::Scalar secret_share;
  crypto::Point public_key;
  crypto::ByteArray<32> chain_code{};
  std::optional<PartyId> party_id;
  std::uint16_t threshold = 0;
  std::uint16_t num_parties = 0;
};

std::optional<BodyFields> read_body(sised::Decoder& d, bool with_chain_code) {
  BodyFields f;
  auto scalar = fixed_width::read_scalar(d);
  if (!scalar) return std::nullopt;
  f.secret_share = *scalar;
  auto point = fixed_width::read_point(d);
  if (!point) return std::nullopt;
  f.public_key = *point;
  if (with_chain_code && !d.read_into(f.chain_code)) return std::nullopt;
  f.party_id = fixed_width::read_party_id(d);
  if (!f.party_id) return std::nullopt;
  auto threshold = fixed_width::read_party_count(d);
  if (!threshold) return std::nullopt;
  f.threshold = *threshold;
  auto num_parties = fixed_width::read_party_count(d);
  if (!num_parties) return std::nullopt;
  f.num_parties = *num_parties;
  return f;
}

void write_ids(sised::Sink& sink, PartyId party_id, std::uint16_t threshold, std::uint16_t num_parties) {
  sised::write_u16(sink, party_id.value());
  sised::write_u16(sink, threshold);
  sised::write_u16(sink, num_parties);
}

void write_scalar(sised::Sink& sink, const crypto::Scalar& s) {
  crypto::ByteArray<32> b = s.to_bytes();
  sink.write(b);
  crypto::secure_wipe(b.data(), b.size());
}

}  // namespace

namespace fixed_width {

std::optional<std::uint64_t> read_u64(sised::Decoder& d) noexcept {
  auto v = d.read_u64();
  if (!v) return std::nullopt;
  return *v;
}

std::optional<crypto::Scalar> read_scalar(sised::Decoder& d) noexcept {
  auto bytes = d.take(32);
  if (!bytes) return std::nullopt;
  return crypto::Scalar::from_bytes_checked(*bytes);
}

std::optional<crypto::Point> read_point(sised::Decoder& d) {
  auto len = d.read_u64();
  if (!len || *len == 0 || *len > d.remaining()) return std::nullopt;
  auto bytes = d.take(static_cast<std::size_t>(*len));
  if (!bytes) return std::nullopt;
  const std::uint8_t first = (*bytes)[0];
  if (sec1_length(first) != *len) return std::nullopt;
  switch (first) {
    case 0x02:
    case 0x03:
    case 0x05:
      return crypto::Point::from_compressed(*bytes);
    case 0x04:
      return crypto::Point::from_sec1_strict(*bytes);
    default:
      // 00: the identity, which no key pair can hold.
      return std::nullopt;
  }
}

std::optional<PartyId> read_party_id(sised::Decoder& d) noexcept {
  auto v = d.read_u16();
  if (!v) return std::nullopt;
  return PartyId::from(*v);
}

std::optional<std::uint16_t> read_party_count(sised::Decoder& d) noexcept {
  auto v = d.read_u16();
  if (!v || *v == 0 || *v > kMaxShareParties) return std::nullopt;
  return *v;
}

void write_point(sised::Sink& sink, const crypto::Point& p) {
  if (p.is_identity()) {
    sised::write_u64(sink, 1);
    sink.write_byte(0x00);
    return;
  }
  sised::write_u64(sink, 33);
  sink.write(p.to_compressed());
}

std::size_t point_size(const crypto::Point& p) noexcept { return 8 + (p.is_identity() ? 1 : 33); }

}  // namespace fixed_width

std::expected<EcdsaSecretShareV1, sised::SisedError> read_ecdsa_v1_body(sised::Decoder& d) {
  auto f = read_body(d, false);
  if (!f) return std::unexpected(bincode_error());
  return EcdsaSecretShareV1{f->secret_share, f->public_key, *f->party_id, f->threshold, f->num_parties};
}

std::expected<EcdsaSecretShareV2, sised::SisedError> read_ecdsa_v2_body(sised::Decoder& d) {
  auto f = read_body(d, true);
  if (!f) return std::unexpected(bincode_error());
  return EcdsaSecretShareV2{f->secret_share, f->public_key, f->chain_code, *f->party_id, f->threshold, f->num_parties};
}

void write_ecdsa_v1_body(sised::Sink& sink, const EcdsaSecretShareV1& share) {
  write_scalar(sink, share.secret_share);
  fixed_width::write_point(sink, share.public_key);
  write_ids(sink, share.party_id, share.threshold, share.num_parties);
}

void write_ecdsa_v2_body(sised::Sink& sink, const EcdsaSecretShareV2& share) {
  write_scalar(sink, share.secret_share);
  fixed_width::write_point(sink, share.public_key);
  sink.write(share.chain_code);
  write_ids(sink, share.party_id, share.threshold, share.num_parties);
}

std::size_t ecdsa_v1_body_size(const EcdsaSecretShareV1& share) noexcept {
  return 32 + fixed_width::point_size(share.public_key) + 6;
}

std::size_t ecdsa_v2_body_size(const EcdsaSecretShareV2& share) noexcept {
  return 32 + fixed_width::point_size(share.public_key) + 32 + 6;
}

crypto::ByteArray<65> upgrade_share_public_key(const EcdsaSecretShareV1& share) {
  return ecdsa::pubkey_to_uncompressed(share.public_key);
}

crypto::ByteArray<65> sec1_uncompressed_pubkey(const EcdsaSecretShareV2& share) {
  return ecdsa::pubkey_to_uncompressed(share.public_key);
}

EcdsaSecretShareV2 ecdsa_share_upgrade_v1_v2(const EcdsaSecretShareV1& share) {
  const crypto::ByteArray<65> u = upgrade_share_public_key(share);
  const crypto::ByteArray<32> chain_code = crypto::blake3_derive_key(kV1V2ChainCodeContext, u);
  return EcdsaSecretShareV2{share.secret_share, share.public_key, chain_code,
                            share.party_id,     share.threshold,  share.num_parties};
}

}  // namespace velto::executor
