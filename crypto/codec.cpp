#include "crypto/codec.hpp"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace velto::crypto {

namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// Unprintable in the Latin-1 range: C0 controls, DEL, C1 controls, the
// no-break space and the soft hyphen.
bool latin1_unprintable(char32_t c) {
  return c < 0x20 || (c >= 0x7f && c <= 0xa0) || c == 0xad;
}

}  // namespace

std::string debug_char(char32_t c) {
  std::string out = "'";
  switch (c) {
    case U'\0': out += "\\0"; break;
    case U'\t': out += "\\t"; break;
    case U'\r': out += "\\r"; break;
    case U'\n': out += "\\n"; break;
    case U'\\': out += "\\\\"; break;
    case U'\'': out += "\\'"; break;
    default:
      if (latin1_unprintable(c)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
        out += buf;
      } else {
        append_utf8(out, c);
      }
  }
  out += '\'';
  return out;
}

// ---------------------------------------------------------------- hex

std::string HexError::display() const {
  switch (kind) {
    case Kind::OddLength: return "Odd number of digits";
    case Kind::InvalidStringLength: return "Invalid string length";
    case Kind::InvalidHexCharacter:
      return "Invalid character " + debug_char(c) + " at position " + std::to_string(index);
  }
  return {};
}

std::string HexError::debug() const {
  switch (kind) {
    case Kind::OddLength: return "OddLength";
    case Kind::InvalidStringLength: return "InvalidStringLength";
    case Kind::InvalidHexCharacter:
      return "InvalidHexCharacter { c: " + debug_char(c) + ", index: " + std::to_string(index) +
             " }";
  }
  return {};
}

namespace {

// Branch-free nibble to lower-case digit.
char hex_digit(unsigned n) {
  const int v = static_cast<int>(n);
  return static_cast<char>(v + '0' + (((9 - v) >> 8) & ('a' - '0' - 10)));
}

// Branch-free digit value; the high bit of the result is set when the byte
// is not a hex digit of either case.
unsigned hex_value(std::uint8_t c) {
  const unsigned d = static_cast<unsigned>(c) - '0';
  const unsigned l = (static_cast<unsigned>(c) | 0x20u) - 'a';
  const unsigned is_d = 0u - static_cast<unsigned>(d < 10);
  const unsigned is_l = 0u - static_cast<unsigned>(l < 6);
  return (d & is_d) | ((l + 10) & is_l) | (~(is_d | is_l) & 0x100u);
}

}  // namespace

std::string hex_encode(ByteSpan data) {
  std::string out(data.size() * 2, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    out[2 * i] = hex_digit(data[i] >> 4);
    out[2 * i + 1] = hex_digit(data[i] & 0x0f);
  }
  return out;
}

std::expected<void, HexError> hex_decode_into(std::string_view text, MutByteSpan out) {
  if (text.size() % 2 != 0) {
    secure_wipe(out.data(), out.size());
    return std::unexpected(HexError::odd_length());
  }
  if (text.size() / 2 != out.size()) {
    secure_wipe(out.data(), out.size());
    return std::unexpected(HexError::invalid_string_length());
  }
  const ByteSpan in = as_bytes(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned hi = hex_value(in[2 * i]);
    const unsigned lo = hex_value(in[2 * i + 1]);
    if (((hi | lo) & 0x100u) != 0) {
      const std::size_t at = (hi & 0x100u) != 0 ? 2 * i : 2 * i + 1;
      secure_wipe(out.data(), out.size());
      return std::unexpected(HexError::invalid_hex_character(in[at], at));
    }
    out[i] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return {};
}

std::expected<Bytes, HexError> hex_decode(std::string_view text) {
  if (text.size() % 2 != 0) return std::unexpected(HexError::odd_length());
  Bytes out(text.size() / 2);
  if (auto r = hex_decode_into(text, out); !r) return std::unexpected(r.error());
  return out;
}

// ---------------------------------------------------------------- Base58

namespace {

alignas(64) constexpr char kAlphabet[64] =
    "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

struct DecodeTable {
  alignas(64) std::uint8_t v[128];
  constexpr DecodeTable() : v{} {
    for (auto& x : v) x = 0xff;
    for (std::uint8_t i = 0; i < 58; ++i) v[static_cast<std::uint8_t>(kAlphabet[i])] = i;
  }
};
constexpr DecodeTable kDecode;

ByteArray<4> checksum_of(ByteSpan payload) {
  unsigned char h1[crypto_hash_sha256_BYTES];
  unsigned char h2[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(h1, payload.data(), payload.size());
  crypto_hash_sha256(h2, h1, sizeof h1);
  ByteArray<4> c{};
  std::copy_n(h2, 4, c.begin());
  secure_wipe(h1, sizeof h1);
  return c;
}

}  // namespace

Base58Error Base58Error::invalid_character(char ch, std::size_t at) {
  Base58Error e(Kind::InvalidCharacter);
  e.character = ch;
  e.index = at;
  return e;
}

Base58Error Base58Error::non_ascii_character(std::size_t at) {
  Base58Error e(Kind::NonAsciiCharacter);
  e.index = at;
  return e;
}

Base58Error Base58Error::invalid_checksum(const ByteArray<4>& computed,
                                          const ByteArray<4>& carried) {
  Base58Error e(Kind::InvalidChecksum);
  e.checksum = computed;
  e.expected_checksum = carried;
  return e;
}

Base58Error Base58Error::invalid_version(std::uint8_t found, std::uint8_t required) {
  Base58Error e(Kind::InvalidVersion);
  e.ver = found;
  e.expected_ver = required;
  return e;
}

std::string Base58Error::display() const {
  switch (kind) {
    case Kind::BufferTooSmall:
      return "buffer provided to decode base58 encoded string into was too small";
    case Kind::InvalidCharacter:
      return "provided string contained invalid character " +
             debug_char(static_cast<unsigned char>(character)) + " at byte " +
             std::to_string(index);
    case Kind::NonAsciiCharacter:
      return "provided string contained non-ascii character starting at byte " +
             std::to_string(index);
    case Kind::InvalidChecksum:
      return "base58ck checksum " + byte_list(checksum) + " did not match expected " +
             byte_list(expected_checksum);
    case Kind::InvalidVersion:
      return "base58ck version " + std::to_string(ver) + " did not match expected " +
             std::to_string(expected_ver);
    case Kind::NoChecksum: return "base58ck data not long enough to contain checksum";
    case Kind::NoVersion: return "base58ck data not long enough to contain a version";
  }
  return {};
}

std::string Base58Error::debug() const {
  switch (kind) {
    case Kind::BufferTooSmall: return "BufferTooSmall";
    case Kind::InvalidCharacter:
      return "InvalidCharacter { character: " + debug_char(static_cast<unsigned char>(character)) +
             ", index: " + std::to_string(index) + " }";
    case Kind::NonAsciiCharacter:
      return "NonAsciiCharacter { index: " + std::to_string(index) + " }";
    case Kind::InvalidChecksum:
      return "InvalidChecksum { checksum: " + byte_list(checksum) +
             ", expected_checksum: " + byte_list(expected_checksum) + " }";
    case Kind::InvalidVersion:
      return "InvalidVersion { ver: " + std::to_string(ver) +
             ", expected_ver: " + std::to_string(expected_ver) + " }";
    case Kind::NoChecksum: return "NoChecksum";
    case Kind::NoVersion: return "NoVersion";
  }
  return {};
}

std::string base58_encode(ByteSpan data) {
  std::size_t zeros = 0;
  while (zeros < data.size() && data[zeros] == 0) ++zeros;  // public: they become '1's
  const ByteSpan rest = data.subspan(zeros);
  // log(256) / log(58) < 1.37: enough base-58 digits for the value, held as
  // big-endian limbs of five digits (58^5 < 2^30).
  constexpr std::uint64_t kLimb = 58ull * 58 * 58 * 58 * 58;
  const std::size_t limbs_len = (rest.size() * 137 / 100 + 1 + 4) / 5;
  std::vector<std::uint64_t> limbs(limbs_len, 0);
  // value = value * mult + chunk, over every limb, so the work depends on
  // the length only. The input goes in 32-bit chunks, the first one shorter
  // when the length is not a multiple of four.
  const auto feed = [&](std::uint64_t chunk, std::uint64_t mult) {
    std::uint64_t carry = chunk;
    for (std::size_t j = limbs_len; j-- > 0;) {
      carry += limbs[j] * mult;
      limbs[j] = carry % kLimb;
      carry /= kLimb;
    }
  };
  std::size_t i = 0;
  for (const std::size_t head = rest.size() % 4; i < head; ++i) {
    // The short first chunk, fed bytewise.
    feed(rest[i], 256);
  }
  for (; i < rest.size(); i += 4) {
    const std::uint64_t chunk = (static_cast<std::uint64_t>(rest[i]) << 24) |
                                (static_cast<std::uint64_t>(rest[i + 1]) << 16) |
                                (static_cast<std::uint64_t>(rest[i + 2]) << 8) | rest[i + 3];
    feed(chunk, std::uint64_t{1} << 32);
  }
  Bytes digits(limbs_len * 5);
  for (std::size_t j = 0; j < limbs_len; ++j) {
    std::uint64_t v = limbs[j];
    for (std::size_t k = 5; k-- > 0;) {
      digits[5 * j + k] = static_cast<std::uint8_t>(v % 58);
      v /= 58;
    }
  }
  std::size_t lead = 0;
  while (lead < digits.size() && digits[lead] == 0) ++lead;
  std::string out(zeros, '1');
  out.reserve(zeros + digits.size() - lead);
  for (std::size_t j = lead; j < digits.size(); ++j) out += kAlphabet[digits[j]];
  secure_wipe(limbs.data(), limbs.size() * sizeof(std::uint64_t));
  secure_wipe(digits.data(), digits.size());
  return out;
}

std::size_t base58_max_text_length(std::size_t max_output) noexcept {
  // A value of b bytes needs at most ceil(b * log(256) / log(58)) digits,
  // log(256) / log(58) < 1.3658; leading zero bytes take one '1' each, fewer
  // than their digits would.
  if (max_output > SIZE_MAX / 13658) return SIZE_MAX;
  return (max_output * 13658 + 9999) / 10000;
}

std::expected<std::size_t, Base58Error> base58_decode_into(std::string_view text,
                                                           MutByteSpan buf) {
  const ByteSpan in = as_bytes(text);
  const std::size_t cap = buf.size();
  // The value accumulates little-endian in buf, over its full width.
  std::fill(buf.begin(), buf.end(), std::uint8_t{0});
  auto fail = [&](Base58Error e) -> std::expected<std::size_t, Base58Error> {
    secure_wipe(buf.data(), buf.size());
    return std::unexpected(e);
  };
  // Leading '1's are zero bytes of their own; one more than fits ends the
  // decoding there, as a value too large for the room left does below.
  std::size_t zeros = 0;
  bool leading = true;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] > 127) return fail(Base58Error::non_ascii_character(i));
    const std::uint8_t v = kDecode.v[in[i]];
    if (v == 0xff) return fail(Base58Error::invalid_character(static_cast<char>(in[i]), i));
    if (leading && v == 0) {
      if (++zeros > cap) return fail(Base58Error::buffer_too_small());
      continue;
    }
    leading = false;
    // The value has the room the leading zero bytes leave.
    std::uint32_t carry = v;
    for (std::size_t j = 0; j < cap - zeros; ++j) {
      carry += static_cast<std::uint32_t>(buf[j]) * 58;
      buf[j] = static_cast<std::uint8_t>(carry);
      carry >>= 8;
    }
    if (carry != 0) return fail(Base58Error::buffer_too_small());
  }
  // The value took at most the cap - zeros bytes it was given, so
  // buf[len .. len + zeros) is zero and inside buf; reversing gives the
  // big-endian value behind its leading zero bytes.
  std::size_t len = cap - zeros;
  while (len > 0 && buf[len - 1] == 0) --len;
  std::reverse(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(len + zeros));
  return len + zeros;
}

std::expected<Bytes, Base58Error> base58_decode(std::string_view text, std::size_t max_output) {
  if (text.size() > base58_max_text_length(max_output)) return std::unexpected(Base58Error::buffer_too_small());
  // Every character carries less than a byte, so text.size() bytes suffice.
  Bytes out(std::min(text.size(), max_output));
  auto n = base58_decode_into(text, out);
  if (!n) return std::unexpected(n.error());
  out.resize(*n);
  return out;
}

std::string base58check_encode(ByteSpan payload) {
  Bytes buf(payload.begin(), payload.end());
  const ByteArray<4> c = checksum_of(payload);
  buf.insert(buf.end(), c.begin(), c.end());
  std::string out = base58_encode(buf);
  secure_wipe(buf.data(), buf.size());
  return out;
}

std::expected<std::size_t, Base58Error> base58check_decode_into(
    std::string_view text, MutByteSpan buf, std::optional<std::uint8_t> expected_version) {
  auto decoded = base58_decode_into(text, buf);
  if (!decoded) return decoded;
  const std::size_t n = *decoded;
  auto fail = [&](Base58Error e) -> std::expected<std::size_t, Base58Error> {
    secure_wipe(buf.data(), buf.size());
    return std::unexpected(e);
  };
  if (n < 4) return fail(Base58Error::no_checksum());
  const std::size_t payload_len = n - 4;
  const ByteArray<4> computed = checksum_of(buf.first(payload_len));
  ByteArray<4> carried{};
  std::copy_n(buf.begin() + static_cast<std::ptrdiff_t>(payload_len), 4, carried.begin());
  if (!ct_equal(computed, carried)) return fail(Base58Error::invalid_checksum(computed, carried));
  if (expected_version && payload_len == 0) return fail(Base58Error::no_version());
  if (expected_version && buf[0] != *expected_version) {
    return fail(Base58Error::invalid_version(buf[0], *expected_version));
  }
  return payload_len;
}

std::expected<Bytes, Base58Error> base58check_decode(std::string_view text,
                                                     std::optional<std::uint8_t> expected_version,
                                                     std::size_t max_output) {
  if (text.size() > base58_max_text_length(max_output)) return std::unexpected(Base58Error::buffer_too_small());
  Bytes out(std::min(text.size(), max_output));
  auto n = base58check_decode_into(text, out, expected_version);
  if (!n) return std::unexpected(n.error());
  out.resize(*n);
  return out;
}

}  // namespace velto::crypto
