#include "noise-kk/keys.hpp"

#include <algorithm>
#include <array>

#include "crypto/codec.hpp"
#include "crypto/random.hpp"
#include "crypto/x25519.hpp"

namespace velto::noise {
namespace {

constexpr std::uint8_t hex_nibble(char c) {
  return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
}

// 64 lowercase hex characters in wire order.
constexpr crypto::ByteArray<32> from_hex(std::string_view h) {
  crypto::ByteArray<32> out{};
  for (std::size_t i = 0; i < 32; ++i)
    out[i] = static_cast<std::uint8_t>(hex_nibble(h[2 * i]) << 4 | hex_nibble(h[2 * i + 1]));
  return out;
}

// The X25519 small-order blocklist (p = 2^255 - 19; u1, u2 the points of order 8).
constexpr std::array<crypto::ByteArray<32>, 12> kRefused = {
    // 0 and 1
    from_hex("0000000000000000000000000000000000000000000000000000000000000000"),
    from_hex("0100000000000000000000000000000000000000000000000000000000000000"),
    // u1, u2
    from_hex("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800"),
    from_hex("5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157"),
    // p - 1, p, p + 1
    from_hex("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
    from_hex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
    from_hex("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
    // u1 + p, u2 + p
    from_hex("cdeb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b880"),
    from_hex("4c9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f11d7"),
    // 2p - 1, 2p, 2p + 1
    from_hex("d9ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"),
    from_hex("daffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"),
    from_hex("dbffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"),
};

}  // namespace

std::string PublicKey::display() const { return crypto::base58_encode(k_); }

std::string PublicKey::debug() const {
  std::string out = "PublicKey { k: [";
  for (std::size_t i = 0; i < k_.size(); ++i) {
    if (i != 0) out += ", ";
    out += std::to_string(k_[i]);
  }
  out += "] }";
  return out;
}

std::expected<PublicKey, NoiseError> public_key_from_bytes(const crypto::ByteArray<32>& bytes) noexcept {
  if (std::find(kRefused.begin(), kRefused.end(), bytes) != kRefused.end())
    return std::unexpected(NoiseError(NoiseError::Kind::InvalidPublicKeyError));
  return PublicKey(bytes);
}

std::expected<NoiseKeyPair, NoiseError> keypair_from_private(const crypto::SecretArray<32>& private_key) {
  // Constant time: the key is secret, only "all zero or not" is revealed.
  std::uint8_t acc = 0;
  for (std::size_t i = 0; i < 32; ++i) acc |= private_key[i];
  asm volatile("" : "+r"(acc));
  if (acc == 0) return std::unexpected(NoiseError(NoiseError::Kind::InvalidKeyError));

  // A clamped scalar times the base point lands in the prime-order subgroup
  // and is never the identity, so the blocklist cannot refuse it.
  const PublicKey public_key(crypto::x25519_base(private_key.array()));
  return NoiseKeyPair(private_key, public_key);
}

NoiseKeyPair generate_ephemeral() {
  crypto::OsRng rng;
  return generate_keypair(rng);
}

}  // namespace velto::noise
