// sised codecs of the edwards25519 value types.
//
// A point is its 32-byte compressed form and must decode to a point of the
// prime-order subgroup (the identity included), else "Invalid EdwardsPoint".
// A scalar is 32 bytes little-endian below l, else "Invalid Scalar".
//
// In a sequence a point is charged 160 bytes of the heap budget: the size of
// a point in extended coordinates (four field elements of 40 bytes), the form
// points take in arithmetic, just as a secp256k1 point is charged for its
// three projective coordinates (120).
#pragma once

#include <expected>
#include <string_view>

#include "crypto/ed25519.hpp"
#include "sised/codec.hpp"

namespace velto::sised {

inline constexpr std::string_view kInvalidEdwardsPoint = "Invalid EdwardsPoint";

template <>
struct Codec<crypto::EdPoint> {
  static constexpr std::size_t fixed_size = 32;
  static constexpr std::size_t heap_size = 160;
  static void encode(Sink& s, const crypto::EdPoint& p) { s.write(p.to_bytes()); }
  static std::expected<crypto::EdPoint, SisedError> decode(Decoder& d) {
    auto bytes = d.take(32);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto p = crypto::EdPoint::from_bytes(*bytes);
    if (!p) return std::unexpected(SisedError::custom(kInvalidEdwardsPoint));
    return *p;
  }
};

template <>
struct Codec<crypto::EdScalar> {
  static constexpr std::size_t fixed_size = 32;
  static constexpr std::size_t heap_size = 32;
  static void encode(Sink& s, const crypto::EdScalar& k) { s.write(k.as_span()); }
  static std::expected<crypto::EdScalar, SisedError> decode(Decoder& d) {
    auto bytes = d.take(32);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto k = crypto::EdScalar::from_canonical(*bytes);
    if (!k) return std::unexpected(SisedError::custom("Invalid Scalar"));
    return *k;
  }
};

}  // namespace velto::sised
