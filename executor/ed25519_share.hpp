// The Ed25519 and exportable Ed25519 share records, the V1 to V2 upgrade of
// the Ed25519 record, and the FROST key shares made from stored shares.
//
// Ed25519StorableSecretShare starts with a 4-byte little-endian tag:
//   0 V1      fixed-width: group key (32, compressed Edwards, raw) ‖ secret
//             share (32, LE) ‖ party id ‖ threshold ‖ number of parties
//   1 V2      fixed-width: V1 with the 32-byte chain code after the group key
//   2 Latest  sised: the V2 fields (the FROST key share) in the same order
// then the transport private key and the party map (counted form for V1 and
// V2, sorted form for Latest). In the fixed-width bodies every refusal (a
// point that does not decompress or lies outside the prime-order subgroup, a
// scalar not below l, a zero 16-bit field, a short body) is the one text
// "error deserializing bincode"; their party counts have no upper bound.
//
// ExportableEd25519StorableSecretShare (sised, one variant):
//   varint 0 ‖ seed share (32, secp256k1 scalar BE) ‖ party id ‖ threshold ‖
//   number of parties ‖ commitment (33, SEC1 compressed) ‖ FROST key share
//   (as the Latest body) ‖ transport private key ‖ sorted party map.
// Nothing relates its two halves on reading.
//
// Every Ed25519 operation writes Latest; V1 and V2 shares are only read, and
// upgraded in memory when used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/ecdsa_share.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "sised/codec.hpp"
#include "velto-frost-ed25519/exportable_share.hpp"
#include "velto-frost-ed25519/keyshare.hpp"

namespace velto::executor {

inline constexpr std::string_view kEd25519V1V2ChainCodeContext = "Ed25519 SecretShareV1->V2 chaincode";

// The key-share fields of a tag-0 record: no chain code.
struct Ed25519SecretShareV1 {
  crypto::EdPoint public_key;
  crypto::EdScalar secret_share;
  PartyId party_id;
  std::uint16_t threshold = 0;
  std::uint16_t num_parties = 0;

  friend bool operator==(const Ed25519SecretShareV1&, const Ed25519SecretShareV1&) = default;
};

// The key-share fields of a tag-1 record: V1 plus the chain code.
struct Ed25519SecretShareV2 {
  crypto::EdPoint public_key;
  crypto::ByteArray<32> chain_code{};
  crypto::EdScalar secret_share;
  PartyId party_id;
  std::uint16_t threshold = 0;
  std::uint16_t num_parties = 0;

  friend bool operator==(const Ed25519SecretShareV2&, const Ed25519SecretShareV2&) = default;
};

// The tag at the start of a record; the index of the variant in
// Ed25519KeyShare.
enum class Ed25519ShareTag : std::uint32_t { V1 = 0, V2 = 1, Latest = 2 };

using Ed25519KeyShare = std::variant<Ed25519SecretShareV1, Ed25519SecretShareV2, frost::FrostKeyShare>;

// One party's stored FROST Ed25519 share. Decoding never turns a V1 share
// into a V2 one.
struct Ed25519StorableSecretShare {
  Ed25519KeyShare key_share;
  // The stored private key and the X25519 public key derived from it.
  noise::NoiseKeyPair transport_keypair;
  PartyPubkeyMap partyid_pubkey_map;

  Ed25519ShareTag tag() const noexcept { return static_cast<Ed25519ShareTag>(key_share.index()); }

  friend bool operator==(const Ed25519StorableSecretShare& a, const Ed25519StorableSecretShare& b) noexcept;
};

// One party's stored share of an exportable Ed25519 key.
struct ExportableEd25519StorableSecretShare {
  frost::ExportableEd25519KeyShare key_share;
  noise::NoiseKeyPair transport_keypair;
  PartyPubkeyMap partyid_pubkey_map;

  friend bool operator==(const ExportableEd25519StorableSecretShare& a,
                         const ExportableEd25519StorableSecretShare& b) noexcept;
};

// ---------------------------------------------------------------------------
// Texts.

// The share's text in its own tag and form, lower-case hex.
std::string ed25519_share_encode(const Ed25519StorableSecretShare& share);
std::expected<Ed25519StorableSecretShare, ShareArgError> ed25519_share_decode(std::string_view text);

std::string exportable_ed25519_share_encode(const ExportableEd25519StorableSecretShare& share);
std::expected<ExportableEd25519StorableSecretShare, ShareArgError> exportable_ed25519_share_decode(
    std::string_view text);

// The shares of an array of texts (decode_share_texts).
template <BorrowedText E>
std::expected<std::vector<Ed25519StorableSecretShare>, FfiArgError> ed25519_share_decode_array(
    std::span<const E> texts) {
  return decode_share_texts<Ed25519StorableSecretShare>(texts, ed25519_share_decode);
}
template <BorrowedText E>
std::expected<std::vector<ExportableEd25519StorableSecretShare>, FfiArgError> exportable_ed25519_share_decode_array(
    std::span<const E> texts) {
  return decode_share_texts<ExportableEd25519StorableSecretShare>(texts, exportable_ed25519_share_decode);
}

// ---------------------------------------------------------------------------
// Field groups shared by the records and the key-share encoding.

// The FROST key share in record order: group key (32, "Invalid EdwardsPoint"),
// chain code (32), secret share (32 LE, "Invalid Scalar"), party id ("Zero
// value in a NonZero type"), threshold and number of parties (1 to 8192,
// "Invalid number of parties").
inline constexpr std::size_t kFrostKeyShareFieldsSize = 102;
std::expected<frost::FrostKeyShare, sised::SisedError> read_frost_keyshare_fields(sised::Decoder& d);
void write_frost_keyshare_fields(sised::Sink& sink, const frost::FrostKeyShare& key);

// The fixed-width bodies between the tag and the transport private key. Every
// refusal is Custom(kBincodeErrorText).
std::expected<Ed25519SecretShareV1, sised::SisedError> read_ed25519_v1_body(sised::Decoder& d);
std::expected<Ed25519SecretShareV2, sised::SisedError> read_ed25519_v2_body(sised::Decoder& d);

// ---------------------------------------------------------------------------
// Upgrade and key shares.

// The V2 fields of a V1 share: the same fields plus the chain code
// BLAKE3-derive-key(kEd25519V1V2ChainCodeContext, compressed group key)[0..32],
// which every party of the key derives alike.
Ed25519SecretShareV2 ed25519_share_upgrade_v1_v2(const Ed25519SecretShareV1& share);

// The FROST key share in its fixed 128-byte area: the record-order fields
// (102 bytes), then zeros. The reader applies the Latest record's checks.
crypto::SecretArray<kKeyPairEncodingSize> frost_keyshare_encode(const frost::FrostKeyShare& key);
std::expected<frost::FrostKeyShare, sised::SisedError> frost_keyshare_decode(
    const crypto::SecretArray<kKeyPairEncodingSize>& bytes);

// The FROST key share of a V2 share's fields, through the 128-byte encoding
// (owned). The fixed-width record puts no upper bound on its party counts but
// a key share holds at most 8192: such a share cannot be used and fails with
// ExecutorFailure { InvalidKeyShare }.
std::expected<frost::FrostKeyShare, ExecutorFailure> ed25519_share_v2_to_keypair(const Ed25519SecretShareV2& fields);

// The FROST key share of a stored share, by tag: V1 is upgraded first, V1 and
// V2 go through the encoding (owned), Latest is borrowed. Fails only as
// ed25519_share_v2_to_keypair does.
std::expected<MaybeBorrowed<frost::FrostKeyShare>, ExecutorFailure> ed25519_share_to_keypair(
    const Ed25519StorableSecretShare& share);

// A child key share and the node data of its extended key.
struct Ed25519ExtendedKeyShare {
  // Child secret, child public key, child chain code; the share's party id
  // and counts.
  frost::FrostKeyShare key_share;
  std::uint8_t depth = 0;
  crypto::ByteArray<4> parent_fingerprint{};
  std::uint32_t child_number = 0;

  friend bool operator==(const Ed25519ExtendedKeyShare&, const Ed25519ExtendedKeyShare&) = default;
};

// The share's key share moved along `path` by spub derivation: the child
// secret is the share's secret plus the tweak sum (mod l). An empty path gives
// the share's own key share at the root. A hardened index, a step past depth
// 255, a step the derivation refuses or a zero child secret fail with
// ExecutorFailure { InvalidDerivationPath(path joined by "/") }.
std::expected<Ed25519ExtendedKeyShare, ExecutorFailure> ed25519_share_derive_child(
    const Ed25519StorableSecretShare& share, std::span<const std::uint32_t> path);

}  // namespace velto::executor

namespace velto::sised {

// Reading: fewer than 4 bytes is OutOfBounds, a tag above 2 "Invalid
// discriminant", then the body of the tag, the transport key and the map.
template <>
struct Codec<executor::Ed25519StorableSecretShare> {
  static void encode(Sink& s, const executor::Ed25519StorableSecretShare& v);
  static std::size_t size(const executor::Ed25519StorableSecretShare& v) noexcept;
  static std::expected<executor::Ed25519StorableSecretShare, SisedError> decode(Decoder& d);
};

// The key-share portion of an exportable record, 173 bytes: seed share (32,
// BE, "Invalid Scalar"), party id, threshold, number of parties, commitment
// (33, "Invalid Compressed AffinePoint"), then the FROST key share fields
// (kFrostKeyShareFieldsSize). It is also the export contribution a sender
// hands to the export receiver.
template <>
struct Codec<frost::ExportableEd25519KeyShare> {
  static constexpr std::size_t kSize = 32 + 6 + 33 + executor::kFrostKeyShareFieldsSize;
  static void encode(Sink& s, const frost::ExportableEd25519KeyShare& v);
  static std::size_t size(const frost::ExportableEd25519KeyShare&) noexcept { return kSize; }
  static std::expected<frost::ExportableEd25519KeyShare, SisedError> decode(Decoder& d);
};

template <>
struct Codec<executor::ExportableEd25519StorableSecretShare> {
  static void encode(Sink& s, const executor::ExportableEd25519StorableSecretShare& v);
  static std::size_t size(const executor::ExportableEd25519StorableSecretShare& v) noexcept;
  static std::expected<executor::ExportableEd25519StorableSecretShare, SisedError> decode(Decoder& d);
};

}  // namespace velto::sised
