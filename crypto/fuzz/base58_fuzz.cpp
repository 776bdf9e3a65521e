// Base58 and Base58Check against a schoolbook reference decoder: what is
// accepted, the first offending character, the round trip both ways, the
// buffer limit and zeroing of the fixed-size decode, and the checksum and
// version checks.
//
// Input: a byte choosing the buffer size and the expected version, then the
// text (at most 256 characters; the model is quadratic).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/codec.hpp"
#include "crypto/hash.hpp"

namespace {

using velto::crypto::Base58Error;
constexpr std::string_view kAlphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

struct Model {
  std::vector<std::uint8_t> bytes;
  std::optional<Base58Error::Kind> error;
  std::size_t index = 0;
};

Model model_decode(std::string_view text) {
  Model m;
  std::vector<std::uint8_t> value;  // big-endian, no leading zeros
  std::size_t zeros = 0;
  bool leading = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      m.error = Base58Error::Kind::NonAsciiCharacter;
      m.index = i;
      return m;
    }
    const auto digit = kAlphabet.find(static_cast<char>(c));
    if (digit == std::string_view::npos) {
      m.error = Base58Error::Kind::InvalidCharacter;
      m.index = i;
      return m;
    }
    if (leading && digit == 0) {
      ++zeros;
      continue;
    }
    leading = false;
    unsigned carry = static_cast<unsigned>(digit);
    for (auto it = value.rbegin(); it != value.rend(); ++it) {
      carry += 58u * *it;
      *it = static_cast<std::uint8_t>(carry);
      carry >>= 8;
    }
    while (carry) {
      value.insert(value.begin(), static_cast<std::uint8_t>(carry));
      carry >>= 8;
    }
  }
  m.bytes.assign(zeros, 0);
  m.bytes.insert(m.bytes.end(), value.begin(), value.end());
  return m;
}

bool all_zero(const std::vector<std::uint8_t>& b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const std::string_view text = velto::fuzz::FuzzInput::text(in.bytes(256));
  const Model m = model_decode(text);

  auto decoded = velto::crypto::base58_decode(text);
  VELTO_FUZZ_CHECK(decoded.has_value() == !m.error);
  if (decoded) {
    VELTO_FUZZ_CHECK(*decoded == m.bytes);
    VELTO_FUZZ_CHECK(velto::crypto::base58_encode(*decoded) == text);
  } else {
    VELTO_FUZZ_CHECK(decoded.error().kind == *m.error);
    VELTO_FUZZ_CHECK(decoded.error().index == m.index);
    if (*m.error == Base58Error::Kind::InvalidCharacter) VELTO_FUZZ_CHECK(decoded.error().character == text[m.index]);
  }

  // The input's bytes as a value: encode and decode back.
  {
    const auto raw = velto::fuzz::FuzzInput(data, size).bytes(200);
    const std::vector<std::uint8_t> value(raw.begin(), raw.end());
    const auto back = velto::crypto::base58_decode(velto::crypto::base58_encode(value));
    VELTO_FUZZ_CHECK(back && *back == value);
  }

  // Fixed-size buffer: the text's errors and the buffer's size in text order.
  const std::size_t cap = selector % 90;
  std::vector<std::uint8_t> buf(cap, 0xA5);
  auto into = velto::crypto::base58_decode_into(text, buf);
  if (into) {
    VELTO_FUZZ_CHECK(!m.error && *into == m.bytes.size());
    VELTO_FUZZ_CHECK(std::equal(m.bytes.begin(), m.bytes.end(), buf.begin()));
  } else {
    VELTO_FUZZ_CHECK(all_zero(buf));
    if (m.error) {
      // Text order: the buffer may run out on the characters before the
      // offending one.
      const bool full_before = model_decode(text.substr(0, m.index)).bytes.size() > cap;
      VELTO_FUZZ_CHECK((into.error().kind == *m.error && into.error().index == m.index) ||
                       (full_before && into.error().kind == Base58Error::Kind::BufferTooSmall));
    } else {
      VELTO_FUZZ_CHECK(into.error().kind == Base58Error::Kind::BufferTooSmall && m.bytes.size() > cap);
    }
  }

  // Base58Check: payload and a checksum of SHA-256d; then the version.
  const std::optional<std::uint8_t> version =
      (selector & 0x80) ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(selector & 0x0F)) : std::nullopt;
  auto checked = velto::crypto::base58check_decode(text, version);
  bool model_check_ok = false;
  if (!m.error && m.bytes.size() >= 4) {
    const std::vector<std::uint8_t> payload(m.bytes.begin(), m.bytes.end() - 4);
    const auto d = velto::crypto::sha256(velto::crypto::sha256(payload));
    model_check_ok = std::equal(d.begin(), d.begin() + 4, m.bytes.end() - 4) &&
                     (!version || (!payload.empty() && payload[0] == *version));
    if (checked) VELTO_FUZZ_CHECK(*checked == payload);
  }
  VELTO_FUZZ_CHECK(checked.has_value() == model_check_ok);
  if (checked) VELTO_FUZZ_CHECK(velto::crypto::base58check_encode(*checked) == text);
  return 0;
}
