// The building blocks of the Noise KK channel: X25519, the cipher state
// (ChaCha20-Poly1305 under one key with a 64-bit counter nonce) and the
// symmetric state of the handshake (BLAKE2s hashing, HKDF over HMAC-BLAKE2s).
//
// Everything works in place on the caller's buffer: a message to seal holds
// its plaintext followed by 16 bytes of room for the tag; a sealed message
// is opened where it lies and the caller drops the last 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "noise-kk/error.hpp"
#include "noise-kk/keys.hpp"

namespace velto::noise {

inline constexpr std::string_view kProtocolName = "Noise_KK_25519_ChaChaPoly_BLAKE2s";
inline constexpr std::size_t kKeyLen = 32;
inline constexpr std::size_t kHashLen = 32;
inline constexpr std::size_t kDhLen = 32;
inline constexpr std::size_t kTagLen = 16;
// Largest message, tag included (standard Noise stops at 65,535).
inline constexpr std::size_t kMaxMessageLen = 16'777'215;
// A handshake message with an empty payload: ephemeral key and tag.
inline constexpr std::size_t kHandshakeMessageLen = kDhLen + kTagLen;
// A cipher whose nonce has reached this value refuses to work (it never wraps).
inline constexpr std::uint64_t kMaxNonce = UINT64_MAX;

using SecretKey = crypto::SecretArray<kKeyLen>;

// X25519 of the clamped private key and the public key. The result is used
// as it is, also when it is all zero (public keys are screened against the
// small-order blocklist before they get here).
SecretKey dh(const SecretKey& private_key, const crypto::ByteArray<32>& public_key);

// One direction of encryption: key k (all zero means empty) and nonce n.
class CipherState {
 public:
  CipherState() noexcept = default;
  explicit CipherState(const SecretKey& key) noexcept : k_(key) {}
  CipherState(const CipherState&) = delete;
  CipherState& operator=(const CipherState&) = delete;
  CipherState(CipherState&& o) noexcept : k_(std::move(o.k_)), n_(std::exchange(o.n_, 0)) {}
  CipherState& operator=(CipherState&& o) noexcept {
    if (this != &o) {
      k_ = std::move(o.k_);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }

  // Whether the key is not all zero (constant time over the key).
  bool has_key() const noexcept;
  std::uint64_t nonce() const noexcept { return n_; }
  // Places the nonce (Noise's SetNonce); used to test exhaustion.
  void set_nonce(std::uint64_t n) noexcept { n_ = n; }

  // Seals `message` in place: bytes [0, L-16) are the plaintext and become
  // the ciphertext, the tag goes into [L-16, L). The nonce is the 32 zero
  // bits and n as 64-bit little-endian; n advances on success.
  // ExhaustedNonceError at n = 2^64 - 1, then EmptyKeyError for an empty
  // key; UnsupportedMessageLengthError if L < 16.
  std::expected<void, NoiseError> encrypt_with_ad(crypto::ByteSpan ad, crypto::MutByteSpan message);
  // Opens `message` (ciphertext and tag) in place: on success [0, L-16) is
  // the plaintext and n advances. A tag that does not verify gives
  // DecryptionError and leaves n unchanged. The same checks as sealing.
  std::expected<void, NoiseError> decrypt_with_ad(crypto::ByteSpan ad, crypto::MutByteSpan message);

  // Empties the key (wiped) and resets the nonce.
  void clear() noexcept {
    k_.wipe();
    n_ = 0;
  }

 private:
  SecretKey k_;
  std::uint64_t n_ = 0;
};

// The handshake's hashing and keying.
class SymmetricState {
 public:
  // h = BLAKE2s(protocol name) (the name is longer than 32 bytes); ck = h;
  // the cipher empty.
  SymmetricState();
  SymmetricState(SymmetricState&&) noexcept = default;
  SymmetricState& operator=(SymmetricState&&) noexcept = default;

  // h = BLAKE2s(h || data).
  void mix_hash(crypto::ByteSpan data);
  // (ck, k) = HKDF(ck, ikm); n = 0.
  void mix_key(crypto::ByteSpan ikm);
  // Seals `message` (payload and 16 bytes of tag room) with h as the
  // associated data, then mixes the ciphertext and tag into h.
  std::expected<void, NoiseError> encrypt_and_hash(crypto::MutByteSpan message);
  // Opens `message` with h as the associated data; on success h absorbs the
  // ciphertext and tag as received. On failure h is unchanged.
  std::expected<void, NoiseError> decrypt_and_hash(crypto::MutByteSpan message);
  // The two transport ciphers (initiator to responder, responder to
  // initiator): (k1, k2) = HKDF(ck, empty), nonces 0.
  std::pair<CipherState, CipherState> split() const;
  // Zeroes ck and the handshake cipher's key once the handshake is over.
  void wipe_keys() noexcept;

  const crypto::ByteArray<kHashLen>& handshake_hash() const noexcept { return h_; }

 private:
  crypto::ByteArray<kHashLen> h_;
  SecretKey ck_;
  CipherState cipher_;
};

}  // namespace velto::noise
