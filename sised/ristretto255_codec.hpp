// sised codec of Ristretto255 points: the 32-byte compressed Ristretto form,
// refused with "Invalid RistrettoPoint" when it is not a valid encoding. In a
// sequence a point is charged 160 bytes of the heap budget (an edwards25519
// point in extended coordinates, as for EdPoint).
#pragma once

#include <expected>
#include <string_view>

#include "crypto/ristretto255.hpp"
#include "sised/codec.hpp"
#include "sised/ed25519_codec.hpp"

namespace velto::sised {

inline constexpr std::string_view kInvalidRistrettoPoint = "Invalid RistrettoPoint";

template <>
struct Codec<crypto::RistrettoPoint> {
  static constexpr std::size_t fixed_size = 32;
  static constexpr std::size_t heap_size = 160;
  static void encode(Sink& s, const crypto::RistrettoPoint& p) { s.write(p.to_bytes()); }
  static std::expected<crypto::RistrettoPoint, SisedError> decode(Decoder& d) {
    auto bytes = d.take(32);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto p = crypto::RistrettoPoint::from_bytes(*bytes);
    if (!p) return std::unexpected(SisedError::custom(kInvalidRistrettoPoint));
    return *p;
  }
};

}  // namespace velto::sised
