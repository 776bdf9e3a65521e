// Fixed hash functions and the MAC/KDF constructions built on them.
//
// SHA-256 and SHA-512 come from libsodium, whose states are plain structs, so
// a hasher that has absorbed a fixed prefix can be copied and continued as
// often as needed. BLAKE2s (the Noise channel's hash) and RIPEMD-160 are our
// own; BLAKE2b-256 is libsodium's generic hash.
//
// Every incremental hasher has the same shape: update() absorbs and returns
// *this, finalize() is const and may be called at any time without disturbing
// the state. States wipe themselves when they die, since several of them
// absorb secrets (HMAC keys, nonce inputs).
#pragma once

#include <sodium/crypto_hash_sha256.h>
#include <sodium/crypto_hash_sha512.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"

namespace velto::crypto {

// ---------------------------------------------------------------- SHA-2

class Sha256 {
 public:
  static constexpr std::size_t kDigestSize = 32;
  static constexpr std::size_t kBlockSize = 64;

  Sha256() noexcept;
  Sha256(const Sha256&) noexcept = default;
  Sha256& operator=(const Sha256&) noexcept = default;
  ~Sha256();

  Sha256& update(ByteSpan data) noexcept;
  ByteArray<kDigestSize> finalize() const noexcept;

 private:
  crypto_hash_sha256_state st_;
};

ByteArray<32> sha256(ByteSpan data) noexcept;

class Sha512 {
 public:
  static constexpr std::size_t kDigestSize = 64;
  static constexpr std::size_t kBlockSize = 128;

  Sha512() noexcept;
  Sha512(const Sha512&) noexcept = default;
  Sha512& operator=(const Sha512&) noexcept = default;
  ~Sha512();

  Sha512& update(ByteSpan data) noexcept;
  ByteArray<kDigestSize> finalize() const noexcept;

 private:
  crypto_hash_sha512_state st_;
};

ByteArray<64> sha512(ByteSpan data) noexcept;

// HMAC-SHA512 (RFC 2104) for keys of any length. Holds the inner and outer
// states with the key already absorbed, so a keyed instance can be copied to
// MAC several messages under one key.
class HmacSha512 {
 public:
  explicit HmacSha512(ByteSpan key) noexcept;

  HmacSha512& update(ByteSpan data) noexcept;
  ByteArray<64> finalize() const noexcept;

 private:
  Sha512 inner_;
  Sha512 outer_;
};

ByteArray<64> hmac_sha512(ByteSpan key, ByteSpan msg) noexcept;

// HKDF-SHA512 (RFC 5869). extract returns the pseudo-random key; expand fills
// `out` (at most 255 * 64 bytes, a longer output is a programming error).
SecretArray<64> hkdf_sha512_extract(ByteSpan salt, ByteSpan ikm) noexcept;
void hkdf_sha512_expand(ByteSpan prk, ByteSpan info, MutByteSpan out);

// ---------------------------------------------------------------- RIPEMD-160

ByteArray<20> ripemd160(ByteSpan data) noexcept;

// RIPEMD-160(SHA-256(data)): key fingerprints of extended keys.
ByteArray<20> hash160(ByteSpan data) noexcept;

// ---------------------------------------------------------------- BLAKE2s

// BLAKE2s with 32-byte output, no key, salt or personalisation (RFC 7693).
class Blake2s {
 public:
  static constexpr std::size_t kDigestSize = 32;
  static constexpr std::size_t kBlockSize = 64;

  Blake2s() noexcept;
  Blake2s(const Blake2s&) noexcept = default;
  Blake2s& operator=(const Blake2s&) noexcept = default;
  ~Blake2s();

  Blake2s& update(ByteSpan data) noexcept;
  ByteArray<kDigestSize> finalize() const noexcept;

 private:
  void compress(const std::uint8_t* block, std::uint32_t last) noexcept;

  std::array<std::uint32_t, 8> h_;
  std::uint64_t counter_ = 0;  // bytes compressed so far
  std::array<std::uint8_t, kBlockSize> buf_{};
  std::size_t buf_len_ = 0;
};

ByteArray<32> blake2s(ByteSpan data) noexcept;

// HMAC over BLAKE2s with its 64-byte block; keys longer than a block are
// hashed first, as RFC 2104 prescribes.
class HmacBlake2s {
 public:
  explicit HmacBlake2s(ByteSpan key) noexcept;

  HmacBlake2s& update(ByteSpan data) noexcept;
  ByteArray<32> finalize() const noexcept;

 private:
  Blake2s inner_;
  Blake2s outer_;
};

ByteArray<32> hmac_blake2s(ByteSpan key, ByteSpan data) noexcept;
// MAC over the concatenation of the pieces.
ByteArray<32> hmac_blake2s(ByteSpan key, std::initializer_list<ByteSpan> data) noexcept;

// The Noise HKDF: temp = HMAC(ck, ikm); out1 = HMAC(temp, 0x01);
// out_i = HMAC(temp, out_(i-1) || i). N is 2 or 3.
template <std::size_t N>
  requires(N == 2 || N == 3)
std::array<SecretArray<32>, N> hkdf_blake2s(const ByteArray<32>& chaining_key,
                                            ByteSpan ikm) noexcept;

extern template std::array<SecretArray<32>, 2> hkdf_blake2s<2>(const ByteArray<32>&,
                                                               ByteSpan) noexcept;
extern template std::array<SecretArray<32>, 3> hkdf_blake2s<3>(const ByteArray<32>&,
                                                               ByteSpan) noexcept;

// ---------------------------------------------------------------- BLAKE2b

// BLAKE2b with 32-byte output, no key, salt or personalisation.
ByteArray<32> blake2b_256(ByteSpan data) noexcept;

// ---------------------------------------------------------------- expand_message_xmd

enum class XmdError {
  OutputTooLong,  // more than 255 * 32 bytes requested
  DstTooLong,     // domain separation tag longer than 255 bytes
};

std::string_view display(XmdError e) noexcept;

// expand_message_xmd with SHA-256 (RFC 9380, section 5.3.1): `len` uniformly
// distributed bytes from msg under the domain separation tag dst.
std::expected<Bytes, XmdError> expand_message_xmd_sha256(ByteSpan msg, ByteSpan dst,
                                                         std::size_t len);

}  // namespace velto::crypto
