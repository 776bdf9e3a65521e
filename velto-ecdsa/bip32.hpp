// BIP32 public derivation and the extended key texts.
//
// A jointly held key never exists as one private key, so only public
// (non-hardened) derivation is offered: it moves the group public key along a
// path and returns the sum of the tweaks, which every holder of a share (or
// of a whole private key) adds to move its secret along the same path.
//
// Texts are the 78-byte BIP32 serialisations in Base58Check:
//   version (4) ‖ depth (1) ‖ parent fingerprint (4) ‖ child number (4, BE) ‖
//   chain code (32) ‖ key (33)
// with version 04 88 B2 1E and a compressed public key (xpub), or version
// 04 88 AD E4 and 0x00 ‖ private key (xprv).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "velto-ecdsa/error.hpp"

namespace velto::ecdsa {

// Indices from 2^31 on are hardened.
inline constexpr std::uint32_t kHardenedIndex = 0x8000'0000u;

struct Xpub {
  crypto::ByteArray<32> chain_code{};
  crypto::Point public_key;
  std::uint32_t child_number = 0;
  crypto::ByteArray<4> parent_fingerprint{};
  std::uint8_t depth = 0;

  friend bool operator==(const Xpub&, const Xpub&) = default;
};

// The private key wipes itself.
struct Xpriv {
  crypto::Scalar private_key;
  crypto::ByteArray<32> chain_code{};
  std::uint32_t child_number = 0;
  crypto::ByteArray<4> parent_fingerprint{};
  std::uint8_t depth = 0;

  friend bool operator==(const Xpriv&, const Xpriv&) = default;
};

// A derived key and the sum of the tweaks I_L of every step, mod n.
struct DerivedXpub {
  Xpub xpub;
  crypto::Scalar tweak_sum;
};

// The first 4 bytes of RIPEMD-160(SHA-256(compressed key)); the identity is
// hashed as 33 zero bytes.
crypto::ByteArray<4> key_fingerprint(const crypto::Point& key);

// Public child derivation along `path`, step by step. Nothing when a step
// meets depth 255, a hardened index, an I_L that is 0 or not below n, or a
// child key at the identity (a parent key at the identity is refused the same
// way); the caller reports its own error. An empty path gives `parent` and a
// tweak sum of 0.
std::optional<DerivedXpub> derive_child_pubkey_path(const Xpub& parent, std::span<const std::uint32_t> path);

// The xpub text. The public key must not be the identity (panics).
std::string xpub_to_string(const Xpub& xpub);

// Reads an xpub text. Checks, in order: Base58Check into a payload of at most
// 82 bytes (InvalidBase58, also for a longer payload or a text longer than
// such a payload's 118 characters, refused before decoding), 78 bytes
// (InvalidLength), version (InvalidVersion), strict SEC1 compressed key: 02 or
// 03 and an x on the curve (InvalidPublicKey; the identity's 33 zero bytes and
// the 05 form of the wire encoding are refused here).
std::expected<Xpub, XpubError> parse_xpub(std::string_view text);

// The xprv text, at most 112 characters.
std::string xprv_to_string(const Xpriv& xpriv);

// Reads an xprv text. Checks, in order: Base58Check into a payload of at most
// 82 bytes (InvalidBase58, also for a longer payload), 78 bytes
// (InvalidLength), version (UnknownVersion), private key non-zero and below n
// (InvalidPrivateKey). The byte before the private key is not examined.
std::expected<Xpriv, XprivError> parse_xpriv(std::string_view text);

}  // namespace velto::ecdsa
