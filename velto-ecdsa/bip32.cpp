#include "velto-ecdsa/bip32.hpp"

#include <algorithm>
#include <utility>

#include "crypto/codec.hpp"
#include "crypto/error.hpp"
#include "crypto/hash.hpp"
#include "crypto/secret.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::ecdsa {

namespace {

constexpr std::size_t kExtendedKeySize = 78;
// Longest payload parse_xpriv decodes; anything longer is a codec refusal.
constexpr std::size_t kMaxXprivPayload = 82;
constexpr std::size_t kChecksumSize = 4;
constexpr std::size_t kMaxExtendedKeyText = 112;

// Offsets in the 78-byte layout.
constexpr std::size_t kDepthAt = 4;
constexpr std::size_t kFingerprintAt = 5;
constexpr std::size_t kChildNumberAt = 9;
constexpr std::size_t kChainCodeAt = 13;
constexpr std::size_t kKeyAt = 45;

constexpr crypto::ByteArray<4> kXpubVersionBytes{0x04, 0x88, 0xB2, 0x1E};
constexpr crypto::ByteArray<4> kXprvVersionBytes{0x04, 0x88, 0xAD, 0xE4};

std::uint32_t load_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

void store_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Version, depth, parent fingerprint, child number and chain code: the 45
// bytes both layouts share.
template <std::size_t N>
void write_header(std::uint8_t* out, const crypto::ByteArray<4>& version, std::uint8_t depth,
                  const crypto::ByteArray<4>& fingerprint, std::uint32_t child_number,
                  const crypto::ByteArray<N>& chain_code) {
  std::copy(version.begin(), version.end(), out);
  out[kDepthAt] = depth;
  std::copy(fingerprint.begin(), fingerprint.end(), out + kFingerprintAt);
  store_be32(out + kChildNumberAt, child_number);
  std::copy(chain_code.begin(), chain_code.end(), out + kChainCodeAt);
}

template <std::size_t N>
crypto::ByteArray<N> take(const std::uint8_t* p) {
  crypto::ByteArray<N> out;
  std::copy(p, p + N, out.begin());
  return out;
}

std::string encode_text(crypto::ByteSpan payload) {
  std::string text = crypto::base58check_encode(payload);
  if (text.size() > kMaxExtendedKeyText) panic("112 bytes should be enough for a bs58 encoded extended key");
  if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    panic("bs58 encoding should be valid utf8");
  }
  return text;
}

}  // namespace

crypto::ByteArray<4> key_fingerprint(const crypto::Point& key) {
  const crypto::ByteArray<20> h = crypto::hash160(key.to_compressed());
  return take<4>(h.data());
}

std::optional<DerivedXpub> derive_child_pubkey_path(const Xpub& parent, std::span<const std::uint32_t> path) {
  DerivedXpub out{parent, crypto::Scalar::zero()};
  for (const std::uint32_t index : path) {
    Xpub& cur = out.xpub;
    if (cur.public_key.is_identity()) return std::nullopt;
    const crypto::ByteArray<33> key = cur.public_key.to_compressed();
    const crypto::ByteArray<4> fingerprint = key_fingerprint(cur.public_key);
    if (cur.depth == 255) return std::nullopt;
    if (index >= kHardenedIndex) return std::nullopt;

    crypto::ByteArray<37> data;
    std::copy(key.begin(), key.end(), data.begin());
    store_be32(data.data() + 33, index);
    crypto::ByteArray<64> i = crypto::hmac_sha512(cur.chain_code, data);
    const std::optional<crypto::Scalar> il = scalar_from_be_bytes(crypto::ByteSpan(i.data(), 32));
    if (!il) return std::nullopt;
    out.tweak_sum += *il;
    crypto::Point child = crypto::Point::base_mul(*il) + cur.public_key;
    if (child.is_identity()) return std::nullopt;

    cur.public_key = std::move(child);
    cur.chain_code = take<32>(i.data() + 32);
    cur.child_number = index;
    cur.parent_fingerprint = fingerprint;
    cur.depth = static_cast<std::uint8_t>(cur.depth + 1);
  }
  return out;
}

std::string xpub_to_string(const Xpub& xpub) {
  crypto::ByteArray<kExtendedKeySize> payload;
  write_header(payload.data(), kXpubVersionBytes, xpub.depth, xpub.parent_fingerprint, xpub.child_number,
               xpub.chain_code);
  const crypto::ByteArray<33> key = pubkey_to_compressed(xpub.public_key);
  std::copy(key.begin(), key.end(), payload.begin() + kKeyAt);
  return encode_text(payload);
}

std::expected<Xpub, XpubError> parse_xpub(std::string_view text) {
  // Payloads up to the xprv bound still report their length; longer texts
  // are refused before decoding.
  auto decoded = crypto::base58check_decode(text, std::nullopt, kMaxXprivPayload + kChecksumSize);
  if (!decoded) return std::unexpected(XpubError::InvalidBase58{std::move(decoded.error())});
  const crypto::Bytes& p = *decoded;
  if (p.size() != kExtendedKeySize) return std::unexpected(XpubError::InvalidLength{p.size()});
  const std::uint32_t version = load_be32(p.data());
  if (version != XpubError::kXpubVersion) return std::unexpected(XpubError::InvalidVersion{version});
  const crypto::ByteArray<33> key = take<33>(p.data() + kKeyAt);
  std::optional<crypto::Point> point = crypto::Point::from_sec1_strict(key);
  if (!point) return std::unexpected(XpubError::InvalidPublicKey{key});

  Xpub out;
  out.chain_code = take<32>(p.data() + kChainCodeAt);
  out.public_key = *point;
  out.child_number = load_be32(p.data() + kChildNumberAt);
  out.parent_fingerprint = take<4>(p.data() + kFingerprintAt);
  out.depth = p[kDepthAt];
  return out;
}

std::string xprv_to_string(const Xpriv& xpriv) {
  crypto::SecretArray<kExtendedKeySize> payload;
  write_header(payload.data(), kXprvVersionBytes, xpriv.depth, xpriv.parent_fingerprint, xpriv.child_number,
               xpriv.chain_code);
  payload[kKeyAt] = 0x00;
  crypto::SecretArray<32> key(xpriv.private_key.to_bytes());
  std::copy(key.data(), key.data() + key.size(), payload.data() + kKeyAt + 1);
  return encode_text(payload.span());
}

std::expected<Xpriv, XprivError> parse_xpriv(std::string_view text) {
  crypto::SecretArray<kMaxXprivPayload + kChecksumSize> buf;
  auto len = crypto::base58check_decode_into(text, buf.mut_span());
  if (!len) return std::unexpected(XprivError::InvalidBase58{std::move(len.error())});
  if (*len != kExtendedKeySize) return std::unexpected(XprivError::InvalidLength{*len});
  const std::uint32_t version = load_be32(buf.data());
  if (version != XprivError::kXprvVersion) return std::unexpected(XprivError::UnknownVersion{version});
  std::optional<crypto::Scalar> key = scalar_from_be_bytes(crypto::ByteSpan(buf.data() + kKeyAt + 1, 32));
  if (!key) return std::unexpected(XprivError::InvalidPrivateKey{});

  Xpriv out;
  out.private_key = *key;
  out.chain_code = take<32>(buf.data() + kChainCodeAt);
  out.child_number = load_be32(buf.data() + kChildNumberAt);
  out.parent_fingerprint = take<4>(buf.data() + kFingerprintAt);
  out.depth = buf[kDepthAt];
  return out;
}

}  // namespace velto::ecdsa
