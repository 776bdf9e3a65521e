// sised codecs of the secp256k1 value types.
//
// A scalar is 32 bytes big-endian and must be below the group order n
// ("Invalid Scalar"). A point is 33 bytes SEC1 compressed, the identity 33
// zero bytes; a prefix 05 is read as the SEC1 compact form; anything else
// is refused with "Invalid Compressed AffinePoint". In a sequence a scalar is
// charged 32 bytes and a point 120 bytes of the heap budget.
#pragma once

#include <expected>
#include <string_view>
#include <vector>

#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"

namespace velto::sised {

inline constexpr std::string_view kInvalidScalar = "Invalid Scalar";
inline constexpr std::string_view kInvalidCompressedPoint = "Invalid Compressed AffinePoint";

template <>
struct Codec<crypto::Scalar> {
  static constexpr std::size_t fixed_size = 32;
  static constexpr std::size_t heap_size = 32;
  static void encode(Sink& s, const crypto::Scalar& v) {
    crypto::ByteArray<32> b = v.to_bytes();
    s.write(b);
    crypto::secure_wipe(b.data(), b.size());
  }
  static std::expected<crypto::Scalar, SisedError> decode(Decoder& d) {
    auto bytes = d.take(32);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto s = crypto::Scalar::from_bytes_checked(*bytes);
    if (!s) return std::unexpected(SisedError::custom(kInvalidScalar));
    return *s;
  }
};

template <>
struct Codec<crypto::Point> {
  static constexpr std::size_t fixed_size = 33;
  static constexpr std::size_t heap_size = 120;
  static void encode(Sink& s, const crypto::Point& v) { s.write(v.to_compressed()); }
  static std::expected<crypto::Point, SisedError> decode(Decoder& d) {
    auto bytes = d.take(33);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto p = crypto::Point::from_compressed(*bytes);
    if (!p) return std::unexpected(SisedError::custom(kInvalidCompressedPoint));
    return *p;
  }
};

// Item readers of decoded sequences.
inline std::expected<crypto::Scalar, SisedError> read_scalar_seq_next(Decoder& d) {
  return Codec<crypto::Scalar>::decode(d);
}
inline std::expected<crypto::Point, SisedError> read_compressed_point_seq_next(Decoder& d) {
  return Codec<crypto::Point>::decode(d);
}

}  // namespace velto::sised
