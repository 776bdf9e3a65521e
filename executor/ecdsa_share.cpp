#include "executor/ecdsa_share.hpp"

#include <string>

#include "sised/codec.hpp"
#include "velto-ecdsa/bip32.hpp"

namespace velto::executor {

namespace {

using Encoding = crypto::SecretArray<kKeyPairEncodingSize>;

// A sink over the 128 bytes; refuses a write past the end.
struct AreaWriter {
  Encoding* area;
  std::size_t written = 0;

  std::expected<void, sised::EncodeError> write(crypto::ByteSpan bytes) {
    if (bytes.size() > kKeyPairEncodingSize - written) return std::unexpected(sised::EncodeError::out_of_bounds());
    std::copy(bytes.begin(), bytes.end(), area->data() + written);
    written += bytes.size();
    return {};
  }
};

// Writes through a callback sink into the area; false when it did not fit.
template <class Write>
bool write_area(Encoding& area, Write&& write) {
  AreaWriter writer{&area};
  sised::Sink sink = sised::Sink::callback(&writer, [](void* ctx, crypto::ByteSpan bytes) {
    return static_cast<AreaWriter*>(ctx)->write(bytes).has_value();
  });
  write(sink);
  return sink.ok();
}

// The V2 fields as the key pair they describe.
ecdsa::KeyPair v2_key_pair(const EcdsaSecretShareV2& v2) {
  return ecdsa::KeyPair{v2.secret_share, v2.chain_code, v2.public_key, v2.party_id, v2.threshold, v2.num_parties};
}

KeyPairV1_1_0 v1_1_0_through_encoding(const KeyPairV1_1_0& key) {
  auto area = keypair_v1_1_0_encode(key);
  if (!area) panic(std::string(kKeyPairSerializePanicText));
  auto back = keypair_v1_1_0_decode(*area);
  if (!back) panic(std::string(kKeyPairDeserializePanicText));
  return std::move(*back);
}

ecdsa::KeyPair current_through_encoding(const ecdsa::KeyPair& key) {
  auto back = keypair_decode(keypair_encode(key));
  if (!back) panic(std::string(kKeyPairDeserializePanicText));
  return std::move(*back);
}

// The V2 fields of a tag-0 or tag-1 share; a V1 share is upgraded.
EcdsaSecretShareV2 older_fields(const EcdsaStorableSecretShare& share) {
  if (const auto* v1 = std::get_if<EcdsaSecretShareV1>(&share.key_share)) return ecdsa_share_upgrade_v1_v2(*v1);
  return std::get<EcdsaSecretShareV2>(share.key_share);
}

}  // namespace

// ---------------------------------------------------------------------------
// The 128-byte key-pair encoding.

crypto::SecretArray<kKeyPairEncodingSize> keypair_encode(const ecdsa::KeyPair& key) {
  Encoding area;
  const bool fits = write_area(area, [&](sised::Sink& sink) {
    write_ecdsa_keypair_fields(sink, key);
    sink.write_byte(0);
  });
  if (!fits) panic(std::string(kKeyPairSerializePanicText));
  return area;
}

std::optional<crypto::SecretArray<kKeyPairEncodingSize>> keypair_v1_1_0_encode(const KeyPairV1_1_0& key) {
  Encoding area;
  const bool fits = write_area(area, [&](sised::Sink& sink) { sised::encode_value(sink, key); });
  if (!fits) return std::nullopt;
  return area;
}

std::expected<ecdsa::KeyPair, sised::SisedError> keypair_decode(const crypto::SecretArray<kKeyPairEncodingSize>& bytes) {
  sised::Decoder d(bytes.span());
  return read_ecdsa_keypair_fields(d);
}

std::expected<KeyPairV1_1_0, sised::SisedError> keypair_v1_1_0_decode(
    const crypto::SecretArray<kKeyPairEncodingSize>& bytes) {
  sised::Decoder d(bytes.span());
  return sised::Codec<KeyPairV1_1_0>::decode(d);
}

// ---------------------------------------------------------------------------
// Conversions.

KeyPairV1_1_0 velto_ecdsa_get_xpub_helper(const EcdsaSecretShareV2& fields) {
  return v1_1_0_through_encoding(KeyPairV1_1_0{v2_key_pair(fields), std::nullopt});
}

MaybeBorrowed<ecdsa::KeyPair> ecdsa_share_to_keypair(const EcdsaStorableSecretShare& share) {
  if (const auto* latest = std::get_if<ecdsa::KeyPair>(&share.key_share)) {
    return MaybeBorrowed<ecdsa::KeyPair>::borrowed(*latest);
  }
  if (const auto* v1_1_0 = std::get_if<KeyPairV1_1_0>(&share.key_share)) {
    return MaybeBorrowed<ecdsa::KeyPair>::owned(current_through_encoding(v1_1_0->key_pair));
  }
  const KeyPairV1_1_0 old = velto_ecdsa_get_xpub_helper(older_fields(share));
  return MaybeBorrowed<ecdsa::KeyPair>::owned(current_through_encoding(old.key_pair));
}

std::optional<MaybeBorrowed<ecdsa::KeyPair>> ecdsa_share_to_keypair_latest(const EcdsaStorableSecretShare& share) {
  return ecdsa_share_to_keypair(share);
}

std::optional<MaybeBorrowed<KeyPairV1_1_0>> ecdsa_share_to_keypair_v4(const EcdsaStorableSecretShare& share) {
  if (std::holds_alternative<ecdsa::KeyPair>(share.key_share)) return std::nullopt;
  if (const auto* v1_1_0 = std::get_if<KeyPairV1_1_0>(&share.key_share)) {
    return MaybeBorrowed<KeyPairV1_1_0>::borrowed(*v1_1_0);
  }
  return MaybeBorrowed<KeyPairV1_1_0>::owned(velto_ecdsa_get_xpub_helper(older_fields(share)));
}

std::expected<ExtendedKeyPair, ExecutorFailure> ecdsa_share_derive_child(const EcdsaStorableSecretShare& share,
                                                                         std::span<const std::uint32_t> path) {
  const MaybeBorrowed<ecdsa::KeyPair> key = ecdsa_share_to_keypair(share);
  const ecdsa::Xpub parent{key->chain_code, key->public_key, 0, {}, 0};
  const std::optional<ecdsa::DerivedXpub> derived = ecdsa::derive_child_pubkey_path(parent, path);
  if (!derived) return std::unexpected(ExecutorFailure(invalid_derivation_path_error(path)));
  crypto::Scalar child_secret = key->secret_share + derived->tweak_sum;
  if (child_secret.is_zero()) return std::unexpected(ExecutorFailure(invalid_derivation_path_error(path)));
  return ExtendedKeyPair{
      ecdsa::KeyPair{std::move(child_secret), derived->xpub.chain_code, derived->xpub.public_key, key->party_id,
                     key->threshold, key->num_parties},
      derived->xpub.depth,
      derived->xpub.parent_fingerprint,
      derived->xpub.child_number,
  };
}

}  // namespace velto::executor
