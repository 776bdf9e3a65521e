// Key pairs from stored ECDSA shares: the bridge between the share records
// (api_type.hpp) and the two signing engines.
//
// Every conversion passes through the fixed 128-byte key-pair encoding:
//   secret share (32, BE) ‖ group key (33, compressed) ‖ chain code (32) ‖
//   party id ‖ first count ‖ second count (u16 LE each) ‖ set-up-state flag (1)
//   ‖ zeros (24)
// whose reader applies the record checks ("Invalid Scalar", "Invalid
// Compressed AffinePoint", "Zero value in a NonZero type", "Invalid number of
// parties"). A key pair without set-up states read back from a decoded share
// passed those checks already, so a failure there is a bug and panics
// ("Deserialization of keypair failed. Bug!", "Serialization of keypair
// failed. Bug!"). The record readers refuse what the encoding cannot hold
// (party counts above 8192, the identity as group key), so no stored share
// reaches those panics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <variant>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "executor/api_type.hpp"
#include "executor/compat.hpp"
#include "executor/error.hpp"
#include "sised/error.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {

inline constexpr std::size_t kKeyPairEncodingSize = 128;
inline constexpr std::string_view kKeyPairDeserializePanicText = "Deserialization of keypair failed. Bug!";
inline constexpr std::string_view kKeyPairSerializePanicText = "Serialization of keypair failed. Bug!";

// A key pair built by a conversion (owned) or the one a share record already
// holds (borrowed): the caller keeps the record alive while it uses a
// borrowed key pair.
template <class T>
class MaybeBorrowed {
 public:
  static MaybeBorrowed owned(T value) { return MaybeBorrowed(std::move(value)); }
  static MaybeBorrowed borrowed(const T& value) noexcept { return MaybeBorrowed(&value); }

  bool is_borrowed() const noexcept { return std::holds_alternative<const T*>(v_); }
  const T& get() const noexcept { return is_borrowed() ? *std::get<const T*>(v_) : std::get<T>(v_); }
  const T& operator*() const noexcept { return get(); }
  const T* operator->() const noexcept { return &get(); }

 private:
  explicit MaybeBorrowed(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  explicit MaybeBorrowed(const T* value) noexcept : v_(std::in_place_index<1>, value) {}
  std::variant<T, const T*> v_;
};

// ---------------------------------------------------------------------------
// The 128-byte key-pair encoding.

// The key pair of the current engine, flag 0.
crypto::SecretArray<kKeyPairEncodingSize> keypair_encode(const ecdsa::KeyPair& key);
// The protocol-1.1.0 key pair: the flag and, when present, its set-up states;
// nothing when the states do not fit the 128 bytes (only two empty tables
// do).
std::optional<crypto::SecretArray<kKeyPairEncodingSize>> keypair_v1_1_0_encode(const KeyPairV1_1_0& key);
// The current engine's reader: the core fields (the bytes after them are not
// read).
std::expected<ecdsa::KeyPair, sised::SisedError> keypair_decode(const crypto::SecretArray<kKeyPairEncodingSize>& bytes);
// The protocol-1.1.0 engine's reader: core fields, flag, states.
std::expected<KeyPairV1_1_0, sised::SisedError> keypair_v1_1_0_decode(
    const crypto::SecretArray<kKeyPairEncodingSize>& bytes);

// ---------------------------------------------------------------------------
// Conversions.

// The current engine's key pair, by tag: V1 is upgraded to V2 first; V2 goes
// through the encoding as a protocol-1.1.0 key pair and again as a current
// one (owned); V1_1_0 is written and read as a current key pair (owned; its
// set-up states, which the current engine does not use, are left behind);
// Latest is borrowed.
MaybeBorrowed<ecdsa::KeyPair> ecdsa_share_to_keypair(const EcdsaStorableSecretShare& share);
// The same, for the handlers that take an optional key pair; always present.
std::optional<MaybeBorrowed<ecdsa::KeyPair>> ecdsa_share_to_keypair_latest(const EcdsaStorableSecretShare& share);
// The protocol-1.1.0 engine's key pair: V1 upgraded, V2 through the encoding
// (owned, no states), V1_1_0 borrowed with its states; nothing for Latest
// (the caller fails with SecretShareIsTooNewForThisVersion).
std::optional<MaybeBorrowed<KeyPairV1_1_0>> ecdsa_share_to_keypair_v4(const EcdsaStorableSecretShare& share);

// The protocol-1.1.0 key pair of a V2 share's fields (flag 0), which the xpub
// of tags 0 and 1 is written from.
KeyPairV1_1_0 velto_ecdsa_get_xpub_helper(const EcdsaSecretShareV2& fields);

// A child key pair and the node data of its extended key.
struct ExtendedKeyPair {
  // Child secret, child public key, child chain code; the share's party id
  // and counts.
  ecdsa::KeyPair key_pair;
  std::uint8_t depth = 0;
  crypto::ByteArray<4> parent_fingerprint{};
  std::uint32_t child_number = 0;

  friend bool operator==(const ExtendedKeyPair&, const ExtendedKeyPair&) = default;
};

// The share's key pair moved along `path` by public BIP32 derivation: the
// child secret is the share's secret plus the sum of the step tweaks. An
// empty path gives the share's own key pair. A hardened index, a step the
// derivation refuses or a zero child secret fail with
// ExecutorFailure { InvalidDerivationPath(path joined by "/") }.
std::expected<ExtendedKeyPair, ExecutorFailure> ecdsa_share_derive_child(const EcdsaStorableSecretShare& share,
                                                                         std::span<const std::uint32_t> path);

}  // namespace velto::executor
