// The round-trip property of a sised codec, for the fuzz harnesses of every
// component that decodes wire messages: whatever decodes encodes to exactly
// size_of bytes, and those bytes decode to the same value and encode to the
// same bytes again. For codecs with one encoding per value (canonical), the
// encoding is also the consumed input byte for byte.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <optional>
#include <utility>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/bytes.hpp"
#include "sised/codec.hpp"

namespace velto::fuzz {

enum class Encoding { Canonical, Normalising };

template <class T>
std::optional<T> sised_roundtrip(crypto::ByteSpan input, Encoding encoding,
                                 std::size_t heap_limit = sised::kMessageHeapLimit) {
  sised::Decoder d(input, heap_limit);
  auto value = sised::Codec<T>::decode(d);
  VELTO_FUZZ_CHECK(d.position() <= input.size());
  if (!value) return std::nullopt;
  VELTO_FUZZ_CHECK(d.heap_charged() <= heap_limit);

  auto bytes = sised::encode(*value);
  VELTO_FUZZ_CHECK(bytes.has_value());
  VELTO_FUZZ_CHECK(bytes->size() == sised::size_of(*value));
  if (encoding == Encoding::Canonical) {
    VELTO_FUZZ_CHECK(bytes->size() == d.position());
    VELTO_FUZZ_CHECK(std::equal(bytes->begin(), bytes->end(), input.begin()));
  }

  auto again = sised::decode<T>(*bytes, heap_limit);
  VELTO_FUZZ_CHECK(again.has_value());
  if constexpr (std::equality_comparable<T>) VELTO_FUZZ_CHECK(*again == *value);
  auto bytes_again = sised::encode(*again);
  VELTO_FUZZ_CHECK(bytes_again.has_value() && *bytes_again == *bytes);
  return std::optional<T>(std::move(*value));
}

}  // namespace velto::fuzz
