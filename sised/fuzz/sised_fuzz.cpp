// The sised codec: varints against a reference model (shortest form only),
// and the round trip of the codec families (integers, byte strings, texts,
// sequences with their heap charge, optionals, variants, tuples, and the
// curve types).
//
// Input: a selector byte (type and heap limit), then the encoding.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "sised/fuzz/roundtrip.hpp"
#include "sised/sised.hpp"

namespace {

using velto::fuzz::Encoding;
using velto::fuzz::sised_roundtrip;
namespace crypto = velto::crypto;
namespace sised = velto::sised;

void check_varint(crypto::ByteSpan in) {
  sised::Decoder d(in);
  auto v = d.read_varint();
  if (in.empty()) {
    VELTO_FUZZ_CHECK(!v);
    return;
  }
  const std::uint8_t marker = in[0];
  if (marker <= 251) {
    VELTO_FUZZ_CHECK(v && *v == marker && d.position() == 1);
    return;
  }
  const std::size_t k = marker - 0xFBu;
  if (in.size() < 1 + k) {
    VELTO_FUZZ_CHECK(!v && d.position() == 1);
    return;
  }
  std::uint32_t model = 0;
  for (std::size_t i = 0; i < k; ++i) model |= static_cast<std::uint32_t>(in[1 + i]) << (8 * i);
  // Shortest form: the value's own encoding is as long as this one.
  const bool shortest = sised::varint_size(model) == 1 + k;
  VELTO_FUZZ_CHECK(v.has_value() == shortest);
  if (v) {
    VELTO_FUZZ_CHECK(*v == model);
    crypto::Bytes out;
    auto sink = sised::Sink::buffer(out);
    sised::write_varint(sink, *v);
    VELTO_FUZZ_CHECK(out.size() == 1 + k && std::equal(out.begin(), out.end(), in.begin()));
  } else {
    VELTO_FUZZ_CHECK(v.error() == sised::SisedError::invalid_varint_encoding());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  // Small limits half the time, so the budget's refusals are reached too.
  const std::size_t heap_limit = (selector & 0x80) ? sised::kMessageHeapLimit : 64u * (1 + (selector >> 4 & 7));
  const crypto::ByteSpan body = in.rest();

  switch (selector & 0x0F) {
    case 0: check_varint(body); break;
    case 1: sised_roundtrip<std::tuple<std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t>>(
                body, Encoding::Canonical, heap_limit); break;
    case 2: sised_roundtrip<std::vector<std::uint8_t>>(body, Encoding::Canonical, heap_limit); break;
    case 3: sised_roundtrip<std::string>(body, Encoding::Canonical, heap_limit); break;
    case 4: sised_roundtrip<std::vector<velto::PartyId>>(body, Encoding::Canonical, heap_limit); break;
    case 5: sised_roundtrip<std::optional<std::vector<std::uint16_t>>>(body, Encoding::Canonical, heap_limit); break;
    case 6: sised_roundtrip<std::variant<std::monostate, std::uint32_t, std::string, std::vector<std::string>>>(
                body, Encoding::Canonical, heap_limit); break;
    case 7: sised_roundtrip<std::vector<crypto::Scalar>>(body, Encoding::Canonical, heap_limit); break;
    // Compressed secp256k1 points: the 05 form reads as 02 and the identity
    // as 33 zero bytes, so the encoding normalises.
    case 8: sised_roundtrip<std::vector<crypto::Point>>(body, Encoding::Normalising, heap_limit); break;
    case 9: sised_roundtrip<std::vector<crypto::EdPoint>>(body, Encoding::Normalising, heap_limit); break;
    case 10: sised_roundtrip<std::vector<crypto::EdScalar>>(body, Encoding::Canonical, heap_limit); break;
    case 11: sised_roundtrip<std::vector<crypto::RistrettoPoint>>(body, Encoding::Canonical, heap_limit); break;
    case 12: sised_roundtrip<crypto::SecretBytes>(body, Encoding::Canonical, heap_limit); break;
    case 13: sised_roundtrip<std::pair<std::vector<std::vector<std::uint8_t>>, std::array<std::uint16_t, 3>>>(
                 body, Encoding::Canonical, heap_limit); break;
    default: {
      // A charge never exceeds the limit on success: n items of a heavy type.
      sised::Decoder d(body, heap_limit);
      auto points = sised::Codec<std::vector<crypto::Point>>::decode(d);
      if (points) VELTO_FUZZ_CHECK(points->size() * sised::heap_size_v<crypto::Point> <= heap_limit);
      break;
    }
  }
  return 0;
}
