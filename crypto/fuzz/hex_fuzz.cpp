// The hexadecimal codec against a plain reference model: what it accepts,
// the error it reports (kind and first offending position), the lower-case
// round trip, and the zeroed buffer of a failed fixed-size decode.
//
// Input: one byte choosing the size of the fixed-size decode, then the text.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/codec.hpp"

namespace {

using velto::crypto::HexError;

int nibble(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The reference decoder: the bytes, or the first offending position (or
// nothing for an odd length).
struct Model {
  std::vector<std::uint8_t> bytes;
  bool odd = false;
  std::optional<std::size_t> bad_index;
};

Model model_decode(std::string_view text) {
  Model m;
  if (text.size() % 2 != 0) {
    m.odd = true;
    return m;
  }
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = nibble(static_cast<unsigned char>(text[i]));
    const int lo = nibble(static_cast<unsigned char>(text[i + 1]));
    if (hi < 0 || lo < 0) {
      m.bad_index = hi < 0 ? i : i + 1;
      return m;
    }
    m.bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return m;
}

void check_error(const HexError& e, const Model& m, std::string_view text) {
  if (m.odd) {
    VELTO_FUZZ_CHECK(e.kind == HexError::Kind::OddLength);
  } else {
    VELTO_FUZZ_CHECK(e.kind == HexError::Kind::InvalidHexCharacter);
    VELTO_FUZZ_CHECK(e.index == *m.bad_index);
    VELTO_FUZZ_CHECK(e.c == static_cast<char32_t>(static_cast<unsigned char>(text[e.index])));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::size_t fixed = in.u8() % 65;
  const std::string_view text = velto::fuzz::FuzzInput::text(in.rest());
  const Model m = model_decode(text);
  const bool model_ok = !m.odd && !m.bad_index;

  auto decoded = velto::crypto::hex_decode(text);
  VELTO_FUZZ_CHECK(decoded.has_value() == model_ok);
  if (decoded) {
    VELTO_FUZZ_CHECK(*decoded == m.bytes);
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    VELTO_FUZZ_CHECK(velto::crypto::hex_encode(*decoded) == lower);
  } else {
    check_error(decoded.error(), m, text);
  }

  // Fixed size: odd length first, then the length, then characters; the
  // buffer is zeroed on failure.
  std::vector<std::uint8_t> out(fixed, 0xA5);
  auto into = velto::crypto::hex_decode_into(text, out);
  if (into) {
    VELTO_FUZZ_CHECK(model_ok && m.bytes == out);
  } else {
    VELTO_FUZZ_CHECK(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0; }));
    if (m.odd) {
      VELTO_FUZZ_CHECK(into.error().kind == HexError::Kind::OddLength);
    } else if (text.size() != 2 * fixed) {
      VELTO_FUZZ_CHECK(into.error().kind == HexError::Kind::InvalidStringLength);
    } else {
      VELTO_FUZZ_CHECK(!model_ok);
      check_error(into.error(), m, text);
    }
  }

  // Any bytes: encode, then decode gives them back.
  const auto back = velto::crypto::hex_decode(velto::crypto::hex_encode(m.bytes));
  VELTO_FUZZ_CHECK(back && *back == m.bytes);
  return 0;
}
