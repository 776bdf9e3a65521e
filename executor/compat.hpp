// The older ECDSA share records (tags 0 and 1) and their fixed-width form,
// and the V1 to V2 upgrade that gives a V1 key its chain code.
//
// Fixed-width form: integers little-endian at their natural width, fixed
// arrays raw, a variable-length byte string preceded by its length as a u64.
// Its readers do not say why they refused a field: every refusal of a body
// field (a short body included) is the one text "error deserializing
// bincode".
//
// The readers refuse two things the old format itself allowed, because the
// key-pair conversion cannot hold them and would stop the process on a
// stored share: a party count (threshold or number of parties) above 8192,
// and a group key at the identity (written as the length 1 and the byte 00).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/decoder.hpp"
#include "sised/encoder.hpp"
#include "sised/error.hpp"
#include "sised/party_id.hpp"

namespace velto::executor {

inline constexpr std::string_view kBincodeErrorText = "error deserializing bincode";
inline constexpr std::string_view kV1V2ChainCodeContext = "ECDSA SecretShareV1->V2 chaincode";

// Largest threshold and number of parties of a key.
inline constexpr std::uint16_t kMaxShareParties = 8192;

// The fixed-width field readers. Each consumes its field and gives nothing on
// any refusal; the record readers turn that into Custom(kBincodeErrorText).
namespace fixed_width {

std::optional<std::uint64_t> read_u64(sised::Decoder& d) noexcept;
// 32 bytes big-endian, below n (zero accepted).
std::optional<crypto::Scalar> read_scalar(sised::Decoder& d) noexcept;
// u64 length k, then k bytes of SEC1: 02/03 + x (k = 33), 04 + x + y on the
// curve (k = 65), 05 + x read as the point with even y (k = 33). The identity
// (00, k = 1) is refused, and so is a k that does not match the first byte.
// Nothing is reserved from k.
std::optional<crypto::Point> read_point(sised::Decoder& d);
// Non-zero u16.
std::optional<PartyId> read_party_id(sised::Decoder& d) noexcept;
// u16 from 1 to kMaxShareParties.
std::optional<std::uint16_t> read_party_count(sised::Decoder& d) noexcept;

// The point's length and SEC1 compressed bytes (the identity as 1 and 00).
void write_point(sised::Sink& sink, const crypto::Point& p);
std::size_t point_size(const crypto::Point& p) noexcept;

}  // namespace fixed_width

// The key-share fields of a tag-0 record: no chain code. The secret share
// wipes itself.
struct EcdsaSecretShareV1 {
  crypto::Scalar secret_share;
  crypto::Point public_key;
  PartyId party_id;
  std::uint16_t threshold = 0;
  std::uint16_t num_parties = 0;

  friend bool operator==(const EcdsaSecretShareV1&, const EcdsaSecretShareV1&) = default;
};

// The key-share fields of a tag-1 record: V1 plus the BIP32 chain code.
struct EcdsaSecretShareV2 {
  crypto::Scalar secret_share;
  crypto::Point public_key;
  crypto::ByteArray<32> chain_code{};
  PartyId party_id;
  std::uint16_t threshold = 0;
  std::uint16_t num_parties = 0;

  friend bool operator==(const EcdsaSecretShareV2&, const EcdsaSecretShareV2&) = default;
};

// The body of a record between its tag and its transport private key: scalar,
// point, (chain code,) party id, threshold, number of parties. Every refusal
// is Custom(kBincodeErrorText).
std::expected<EcdsaSecretShareV1, sised::SisedError> read_ecdsa_v1_body(sised::Decoder& d);
std::expected<EcdsaSecretShareV2, sised::SisedError> read_ecdsa_v2_body(sised::Decoder& d);
void write_ecdsa_v1_body(sised::Sink& sink, const EcdsaSecretShareV1& share);
void write_ecdsa_v2_body(sised::Sink& sink, const EcdsaSecretShareV2& share);
std::size_t ecdsa_v1_body_size(const EcdsaSecretShareV1& share) noexcept;
std::size_t ecdsa_v2_body_size(const EcdsaSecretShareV2& share) noexcept;

// The V1 group key in SEC1 uncompressed form (04 ‖ x ‖ y). A decoded share
// never holds the identity; a hand-built one that does is a bug (panics).
crypto::ByteArray<65> upgrade_share_public_key(const EcdsaSecretShareV1& share);
// The same for a V2 share.
crypto::ByteArray<65> sec1_uncompressed_pubkey(const EcdsaSecretShareV2& share);

// The V2 fields of a V1 share: the same fields plus the chain code
// BLAKE3-derive-key(kV1V2ChainCodeContext, 04 ‖ x ‖ y)[0..32], which every
// party of the key derives alike.
EcdsaSecretShareV2 ecdsa_share_upgrade_v1_v2(const EcdsaSecretShareV1& share);

}  // namespace velto::executor
