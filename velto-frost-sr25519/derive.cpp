#include "velto-frost-sr25519/derive.hpp"

#include <limits>
#include <vector>

#include "crypto/hash.hpp"
#include "crypto/merlin.hpp"

namespace velto::frost {

namespace {

// The text as an unsigned 64-bit decimal number: an optional "+" and one or
// more digits, nothing else, no overflow.
std::optional<std::uint64_t> decimal_u64(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(ch - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// SCALE's compact length prefix.
void append_compact_length(std::vector<std::uint8_t>& out, std::uint64_t len) {
  const auto le = [&out](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  if (len < 64) {
    le(len << 2, 1);
  } else if (len < 16384) {
    le((len << 2) | 1, 2);
  } else if (len < 1073741824) {
    le((len << 2) | 2, 4);
  } else {
    out.push_back(3);
    le(len, 4);
  }
}

}  // namespace

std::expected<crypto::ByteArray<32>, Sr25519DerivePathError> sr25519_junction_chain_code(std::string_view junction) {
  if (junction.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(Sr25519DerivePathError::InvalidLength{junction.size()});
  }
  if (!junction.empty() && junction.front() == '/') {
    return std::unexpected(Sr25519DerivePathError::HardJunctionsNotAllowed{});
  }
  crypto::ByteArray<32> cc{};
  if (const std::optional<std::uint64_t> number = decimal_u64(junction)) {
    for (std::size_t i = 0; i < 8; ++i) cc[i] = static_cast<std::uint8_t>(*number >> (8 * i));
    return cc;
  }
  std::vector<std::uint8_t> encoded;
  encoded.reserve(junction.size() + 5);
  append_compact_length(encoded, junction.size());
  encoded.insert(encoded.end(), junction.begin(), junction.end());
  if (encoded.size() <= cc.size()) {
    std::copy(encoded.begin(), encoded.end(), cc.begin());
    return cc;
  }
  return crypto::blake2b_256(encoded);
}

std::expected<Sr25519Derived, Sr25519DerivePathError> sr25519_derive_path(const crypto::RistrettoPoint& key,
                                                                          std::span<const std::string> path) {
  Sr25519Derived out{key, crypto::EdScalar::zero()};
  for (const std::string& junction : path) {
    auto cc = sr25519_junction_chain_code(junction);
    if (!cc) return std::unexpected(std::move(cc.error()));
    crypto::MerlinTranscript t("SchnorrRistrettoHDKD");
    t.append_message("sign-bytes", crypto::ByteSpan{});
    t.append_message("chain-code", *cc);
    t.append_message("public-key", out.key.to_bytes());
    crypto::SecretArray<64> wide;
    t.challenge_bytes("HDKD-scalar", wide.mut_span());
    const crypto::EdScalar k = crypto::EdScalar::from_bytes_wide(wide.array());
    out.key += crypto::RistrettoPoint::base_mul(k);
    out.tweak += k;
  }
  return out;
}

std::optional<crypto::EdScalar> sr25519_expand_seed(Sr25519KeyForm form, const crypto::SecretArray<32>& bytes) {
  if (form == Sr25519KeyForm::Scalar) return crypto::EdScalar::from_canonical(bytes.span());
  crypto::SecretArray<64> h(crypto::sha512(bytes.span()));
  crypto::SecretArray<32> key(crypto::ByteSpan(h.data(), 32));
  key[0] &= 0xF8;
  key[31] &= 0x7F;
  key[31] |= 0x40;
  // Divide the 256-bit little-endian value by 8.
  std::uint8_t low = 0;
  for (std::size_t i = 32; i-- > 0;) {
    const std::uint8_t b = key[i];
    key[i] = static_cast<std::uint8_t>((b >> 3) | (low << 5));
    low = b & 7;
  }
  return crypto::EdScalar::from_canonical(key.span());
}

}  // namespace velto::frost
