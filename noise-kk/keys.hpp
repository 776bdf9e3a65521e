// Transport key pairs: every party's long-term X25519 key pair (its keygen
// identity) and the ephemeral keys of the Noise channels.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "noise-kk/error.hpp"
#include "sised/codec.hpp"

namespace velto::noise {

class NoiseKeyPair;

// A transport public key: the 32-byte X25519 u-coordinate as written on the
// wire (little-endian). Only values that public_key_from_bytes accepts can
// be held, so a PublicKey is never one of the refused small-order encodings.
class PublicKey {
 public:
  static constexpr std::size_t kSize = 32;

  const crypto::ByteArray<32>& bytes() const noexcept { return k_; }
  crypto::ByteSpan span() const noexcept { return k_; }

  friend bool operator==(const PublicKey&, const PublicKey&) noexcept = default;
  // Bytewise (the lower static key initiates a channel).
  friend auto operator<=>(const PublicKey&, const PublicKey&) noexcept = default;

  // The Base58 text of the 32 bytes: the keygen-id form in which error texts
  // name a party's key.
  std::string display() const;
  // PublicKey { k: [1, 2, ...] }
  std::string debug() const;

 private:
  friend std::expected<PublicKey, NoiseError> public_key_from_bytes(const crypto::ByteArray<32>& bytes) noexcept;
  friend std::expected<NoiseKeyPair, NoiseError> keypair_from_private(const crypto::SecretArray<32>& private_key);
  explicit PublicKey(const crypto::ByteArray<32>& k) noexcept : k_(k) {}

  crypto::ByteArray<32> k_;
};

// The bytes unchanged as a public key, or InvalidPublicKeyError for the 12
// refused encodings (zero, one, the points of order 8, and their forms
// plus p and 2p), compared on all 32 bytes.
std::expected<PublicKey, NoiseError> public_key_from_bytes(const crypto::ByteArray<32>& bytes) noexcept;

// A private key as drawn or received (not clamped: X25519 clamps at each use)
// and its public key X25519(private, 9). The private key is wiped when the
// pair dies.
class NoiseKeyPair {
 public:
  const crypto::SecretArray<32>& private_key() const noexcept { return private_; }
  const PublicKey& public_key() const noexcept { return public_; }

 private:
  friend std::expected<NoiseKeyPair, NoiseError> keypair_from_private(const crypto::SecretArray<32>& private_key);
  NoiseKeyPair(const crypto::SecretArray<32>& private_key, const PublicKey& public_key)
      : private_(private_key), public_(public_key) {}

  crypto::SecretArray<32> private_;
  PublicKey public_;
};

// InvalidKeyError for 32 zero bytes; otherwise {private unchanged, X25519 of it}.
std::expected<NoiseKeyPair, NoiseError> keypair_from_private(const crypto::SecretArray<32>& private_key);
inline std::expected<NoiseKeyPair, NoiseError> keypair_from_private(const crypto::ByteArray<32>& private_key) {
  return keypair_from_private(crypto::SecretArray<32>(private_key));
}

// A pair from 32 bytes of g (a draw of 32 zero bytes, which has probability
// 2^-256, is drawn again).
template <class G>
NoiseKeyPair generate_keypair(G& g) {
  for (;;) {
    crypto::SecretArray<32> private_key;
    g.fill_bytes(private_key.mut_span());
    auto pair = keypair_from_private(private_key);
    if (pair) return std::move(*pair);
  }
}

// A fresh pair from the operating system's secure random source: Noise
// ephemerals and every new transport key of the system.
NoiseKeyPair generate_ephemeral();

inline constexpr std::string_view kInvalidPublicKeyText = "Invalid public key";

}  // namespace velto::noise

template <>
struct std::hash<velto::noise::PublicKey> {
  std::size_t operator()(const velto::noise::PublicKey& k) const noexcept {
    std::size_t h = 0;
    for (std::size_t i = 0; i < sizeof(std::size_t); ++i) h |= static_cast<std::size_t>(k.bytes()[i]) << (8 * i);
    return h;
  }
};

namespace velto::sised {

// 32 raw bytes; a refused key is the decoding error Custom("Invalid public key").
template <>
struct Codec<noise::PublicKey> {
  static constexpr std::size_t fixed_size = 32;
  static constexpr std::size_t heap_size = 32;
  static void encode(Sink& s, const noise::PublicKey& k) { s.write(k.span()); }
  static std::expected<noise::PublicKey, SisedError> decode(Decoder& d) {
    auto bytes = d.read_array<32>();
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto key = noise::public_key_from_bytes(*bytes);
    if (!key) return std::unexpected(SisedError::custom(noise::kInvalidPublicKeyText));
    return *key;
  }
};

}  // namespace velto::sised
