// Stored secret shares: the text frame, the field encodings that every
// scheme's records share, and the ECDSA share record.
//
// A party's key share lives with the caller between calls as the lower-case
// hex text of a byte record (either case is read). Records end with the
// holder's X25519 transport private key and `partyid_pubkey_map`, the other
// parties' transport public keys. The older records (ECDSA tags 0 and 1) use
// the fixed-width form of compat.hpp, all others the sised form.
//
// Reading: an odd length or a non-hex character is ShareArgError::InvalidHex;
// every failure of the record itself is ShareArgError::InvalidShare with the
// reader's SisedError. Readers stop after the party map and ignore the bytes
// that follow. Share decoding charges no heap budget and reserves nothing
// from a count read from the record.
//
// Writing: one buffer of exactly the record's length, hex-encoded and wiped.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "crypto/secret.hpp"
#include "executor/compat.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

inline constexpr std::string_view kInvalidNumberOfPartiesText = "Invalid number of parties";
inline constexpr std::string_view kInvalidPrivateKeyText = "Invalid private key";
inline constexpr std::string_view kCollectionNotSortedText = "Collection is not sorted";
// A share record that cannot be written is a broken invariant: the only
// failure the writers know is a count above u32, and a key has at most 8192
// parties.
inline constexpr std::string_view kShareEncodePanicText =
    "This can only fail if it contains a partyid_pubkey_map that is longer than u32::MAX, which is impossible "
    "as NumberOfParties is u16";

// The other parties' transport public keys, by party id.
using PartyPubkeyMap = std::map<PartyId, noise::PublicKey>;

// ---------------------------------------------------------------------------
// Text frame.

// The record bytes of a share text: InvalidHex for an odd length (before any
// character is looked at) or a character outside 0-9, a-f, A-F.
std::expected<crypto::SecretBytes, ShareArgError> share_text_to_record(std::string_view text);

// The fallible text writer: a zero-filled buffer of exactly the record's
// length; a write past its end fails with EncodeError::OutOfBounds.
class ShareRecordWriter {
 public:
  explicit ShareRecordWriter(std::size_t size) : buffer_(size) {}

  std::expected<void, sised::EncodeError> write(crypto::ByteSpan bytes);
  bool full() const noexcept { return written_ == buffer_.size(); }
  // The lower-case hex of the buffer; the buffer is wiped.
  std::string finish() &&;

 private:
  crypto::SecretBytes buffer_;
  std::size_t written_ = 0;
};

// The share text of any record with a sised codec (exact size from the
// codec's size pass). A writer failure, or a record shorter than its size,
// is a broken invariant and panics with kShareEncodePanicText.
template <class T>
std::string encode_share_text(const T& record) {
  ShareRecordWriter writer(sised::size_of(record));
  auto written = sised::encode_to_writer(writer, record);
  if (!written || !writer.full()) velto::panic(std::string(kShareEncodePanicText));
  return std::move(writer).finish();
}

// Reads a record with a sised codec from a share text.
template <class T>
std::expected<T, ShareArgError> decode_share_text(std::string_view text) {
  auto record = share_text_to_record(text);
  if (!record) return std::unexpected(std::move(record.error()));
  sised::Decoder d(record->span());
  auto value = sised::Codec<T>::decode(d);
  if (!value) return std::unexpected(ShareArgError(ShareArgError::InvalidShare{std::move(value.error())}));
  return std::move(*value);
}

// One element of an array of share texts as the function interface passes
// it: a borrowed text {pointer, length}.
template <class E>
concept BorrowedText = requires(const E& e) {
  { e.ptr } -> std::convertible_to<const char*>;
  { e.len } -> std::convertible_to<std::size_t>;
};

// The shares of an array of texts (the offline exports), in order: each
// element is checked as a text argument (a null pointer with a length, then
// UTF-8) and decoded with `decode`. The first failure ends the work, as
// NullPointerNonNullLength, UTF8 or Decode(ShareArgError).
template <class Share, BorrowedText E, class DecodeFn>
std::expected<std::vector<Share>, FfiArgError> decode_share_texts(std::span<const E> elements, DecodeFn&& decode) {
  std::vector<Share> out;
  out.reserve(elements.size());
  for (const E& element : elements) {
    auto text = text_arg(element.ptr, element.len);
    if (!text) return std::unexpected(std::move(text.error()));
    std::expected<Share, ShareArgError> share = decode(*text);
    if (!share) return std::unexpected(FfiArgError::decode(std::move(share.error())));
    out.push_back(std::move(*share));
  }
  return out;
}

// ---------------------------------------------------------------------------
// Field encodings of the sised form.

// Threshold or number of parties: u16 from 1 to 8192, else "Invalid number of
// parties".
std::expected<std::uint16_t, sised::SisedError> read_number_of_parties(sised::Decoder& d) noexcept;

// A group key: 33 bytes SEC1 compressed (02/03, or 05 read as even y). The
// identity (33 zero bytes in protocol messages) is no key and is refused
// like any other bad encoding: "Invalid Compressed AffinePoint".
std::expected<crypto::Point, sised::SisedError> read_key_point(sised::Decoder& d);

// The core fields of an ECDSA key pair in record order: secret share (32 BE),
// group key (33), chain code (32), party id, threshold, number of parties
// (u16 LE each). The same 103 bytes open the Latest and V1_1_0 records and
// the 128-byte key-pair encoding.
inline constexpr std::size_t kEcdsaKeyPairFieldsSize = 103;
std::expected<ecdsa::KeyPair, sised::SisedError> read_ecdsa_keypair_fields(sised::Decoder& d);
void write_ecdsa_keypair_fields(sised::Sink& sink, const ecdsa::KeyPair& key);

// ---------------------------------------------------------------------------
// The common tail: transport private key, then the party map.

// 32 raw bytes (OutOfBounds when fewer remain) and the X25519 public key
// derived from them; all-zero is "Invalid private key".
std::expected<noise::NoiseKeyPair, sised::SisedError> read_transport_keypair(sised::Decoder& d);
void write_transport_private_key(sised::Sink& sink, const noise::NoiseKeyPair& keypair);

// Sorted map form (sised records): varint count, then entries of u16 id and
// 32-byte key in ascending id order. An id of 0 is "Zero value in a NonZero
// type", a refused key "Invalid public key", an id below the one before it
// "Collection is not sorted"; a repeated id replaces the earlier entry.
std::expected<PartyPubkeyMap, sised::SisedError> read_sorted_party_map(sised::Decoder& d);
void write_sorted_party_map(sised::Sink& sink, const PartyPubkeyMap& map);
std::size_t sorted_party_map_size(const PartyPubkeyMap& map) noexcept;

// Counted map form (fixed-width records): u64 count, then the entries in any
// order; a repeated id replaces the earlier entry. Every refusal is
// Custom("error deserializing bincode"). Written in ascending id order.
std::expected<PartyPubkeyMap, sised::SisedError> read_counted_party_map(sised::Decoder& d);
void write_counted_party_map(sised::Sink& sink, const PartyPubkeyMap& map);
std::size_t counted_party_map_size(const PartyPubkeyMap& map) noexcept;

// A map in sorted form with any value reader: ids non-zero and not
// descending, the later of two equal ids kept. Nothing is reserved from the
// count; a count beyond the input fails with OutOfBounds as the bytes run out.
template <class V, class ReadValue>
std::expected<std::map<PartyId, V>, sised::SisedError> read_sorted_id_map(sised::Decoder& d, ReadValue&& read_value) {
  auto count = d.read_varint();
  if (!count) return std::unexpected(std::move(count.error()));
  std::map<PartyId, V> out;
  std::optional<PartyId> previous;
  for (std::uint32_t i = 0; i < *count; ++i) {
    auto id = sised::Codec<PartyId>::decode(d);
    if (!id) return std::unexpected(std::move(id.error()));
    std::expected<V, sised::SisedError> value = read_value(d);
    if (!value) return std::unexpected(std::move(value.error()));
    if (previous && *id < *previous) return std::unexpected(sised::SisedError::custom(kCollectionNotSortedText));
    out.insert_or_assign(out.end(), *id, std::move(*value));
    previous = *id;
  }
  return out;
}

// ---------------------------------------------------------------------------
// The key pair of the protocol-1.1.0 engine, as its records store it.

// A per-peer OT-extension set-up state, carried byte for byte: the record
// gives it no meaning beyond its size. The engine reads it with
// ote::PuncturedPprfTrees::from_bytes or ote::FullPprfTrees::from_bytes.
// Wipes itself.
template <std::size_t N>
class SetupStateBlock {
 public:
  static constexpr std::size_t kSize = N;

  // Exactly N bytes, else nothing.
  static std::optional<SetupStateBlock> from_bytes(crypto::ByteSpan bytes) {
    if (bytes.size() != N) return std::nullopt;
    return SetupStateBlock(bytes);
  }
  crypto::ByteSpan bytes() const noexcept { return bytes_.span(); }

  // Constant time.
  friend bool operator==(const SetupStateBlock& a, const SetupStateBlock& b) noexcept {
    return crypto::ct_equal(a.bytes(), b.bytes());
  }

 private:
  explicit SetupStateBlock(crypto::ByteSpan bytes) : bytes_(bytes) {}
  crypto::SecretBytes bytes_;
};

// Extension-sender side: a PuncturedPprfTrees record (two sets of 64 hashes,
// 64 trees of 129 bytes, the 32-byte set-up digest).
using SenderSetupState = SetupStateBlock<12384>;
// Extension-receiver side: a FullPprfTrees record (64 trees of 128 bytes, the
// 32-byte set-up digest).
using ReceiverSetupState = SetupStateBlock<8224>;

// The states of the two-party multiplications, by peer party id. On the wire
// the sender states form the first map, the receiver states the second.
struct PerPeerSetupStates {
  std::map<PartyId, SenderSetupState> sender_states;
  std::map<PartyId, ReceiverSetupState> receiver_states;

  friend bool operator==(const PerPeerSetupStates&, const PerPeerSetupStates&) = default;
};

// The core key pair and, optionally, the per-peer set-up states. Encoded as
// the core fields, a varint flag (0 absent, 1 present; other values "Invalid
// discriminant"), then, when present, the two state maps in sorted form.
struct KeyPairV1_1_0 {
  ecdsa::KeyPair key_pair;
  std::optional<PerPeerSetupStates> setup_states;

  friend bool operator==(const KeyPairV1_1_0&, const KeyPairV1_1_0&) = default;
};

// ---------------------------------------------------------------------------
// ECDSA share records.

// The 4-byte little-endian tag at the start of a record; the index of the
// variant in EcdsaKeyShare.
enum class EcdsaShareTag : std::uint32_t { V1 = 0, V2 = 1, V1_1_0 = 2, Latest = 3 };

// Tags 0 and 1 in the fixed-width form, 2 and 3 in the sised form.
using EcdsaKeyShare = std::variant<EcdsaSecretShareV1, EcdsaSecretShareV2, KeyPairV1_1_0, ecdsa::KeyPair>;

// One party's stored threshold-ECDSA share. Decoding never turns a V1 share
// into a V2 one; conversions do that in memory (ecdsa_share.hpp).
struct EcdsaStorableSecretShare {
  EcdsaKeyShare key_share;
  // The stored private key and the X25519 public key derived from it (the
  // holder's keygen id, and its export id).
  noise::NoiseKeyPair transport_keypair;
  PartyPubkeyMap partyid_pubkey_map;

  EcdsaShareTag tag() const noexcept { return static_cast<EcdsaShareTag>(key_share.index()); }

  friend bool operator==(const EcdsaStorableSecretShare& a, const EcdsaStorableSecretShare& b) noexcept;
};

// The share's text: its own tag and form, lower-case hex. Cannot fail for a
// share with at most 2^32 - 1 map entries (panics otherwise).
std::string ecdsa_share_encode(const EcdsaStorableSecretShare& share);
std::expected<EcdsaStorableSecretShare, ShareArgError> ecdsa_share_decode(std::string_view text);

// The ECDSA shares of an array of texts (decode_share_texts).
template <BorrowedText E>
std::expected<std::vector<EcdsaStorableSecretShare>, FfiArgError> ecdsa_share_decode_array(std::span<const E> texts) {
  return decode_share_texts<EcdsaStorableSecretShare>(texts, ecdsa_share_decode);
}

}  // namespace velto::executor

namespace velto::sised {

template <>
struct Codec<executor::KeyPairV1_1_0> {
  static void encode(Sink& s, const executor::KeyPairV1_1_0& v);
  static std::size_t size(const executor::KeyPairV1_1_0& v) noexcept;
  static std::expected<executor::KeyPairV1_1_0, SisedError> decode(Decoder& d);
};

// Reading: fewer than 4 bytes is OutOfBounds, a tag above 3 "Invalid
// discriminant", then the body of the tag, the transport key and the map.
template <>
struct Codec<executor::EcdsaStorableSecretShare> {
  static void encode(Sink& s, const executor::EcdsaStorableSecretShare& v);
  static std::size_t size(const executor::EcdsaStorableSecretShare& v) noexcept;
  static std::expected<executor::EcdsaStorableSecretShare, SisedError> decode(Decoder& d);
};

}  // namespace velto::sised
