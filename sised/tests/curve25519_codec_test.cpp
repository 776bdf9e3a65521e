#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sised/ed25519_codec.hpp"
#include "sised/ristretto255_codec.hpp"

namespace velto::sised {
namespace {

using crypto::Bytes;
using crypto::EdPoint;
using crypto::EdScalar;
using crypto::RistrettoPoint;

Bytes hex(std::string_view h) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
  return out;
}

struct PointCase {
  std::string what;
  std::string_view bytes;
  bool accepted;
};

TEST(EdPointCodec, SubgroupPointsOnly) {
  const std::vector<PointCase> cases = {
      {"base point", "5866666666666666666666666666666666666666666666666666666666666666", true},
      {"identity", "0100000000000000000000000000000000000000000000000000000000000000", true},
      {"order 2", "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
      {"order 8", "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05", false},
      {"y = p, not canonical", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes b = hex(c.bytes);
    auto p = decode<EdPoint>(b);
    if (!c.accepted) {
      ASSERT_FALSE(p.has_value());
      EXPECT_EQ(p.error(), SisedError::custom("Invalid EdwardsPoint"));
      continue;
    }
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(encode(*p).value(), b);
  }
  EXPECT_TRUE(decode<EdPoint>(hex(cases[0].bytes)).value() == EdPoint::base());
  EXPECT_EQ(decode<EdPoint>(Bytes(31, 1)).error().kind(), SisedError::Kind::OutOfBounds);

  // Sequences are charged 160 per point.
  const Bytes two = encode(std::vector<EdPoint>{EdPoint::base(), EdPoint::identity()}).value();
  Decoder d(two);
  ASSERT_TRUE(Codec<std::vector<EdPoint>>::decode(d).has_value());
  EXPECT_EQ(d.heap_charged(), 320u);
}

TEST(EdScalarCodec, CanonicalLittleEndianOnly) {
  auto below = decode<EdScalar>(hex("ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"));
  ASSERT_TRUE(below.has_value());
  EXPECT_TRUE(*below + EdScalar::one() == EdScalar::zero());  // l - 1
  auto order = decode<EdScalar>(hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"));
  ASSERT_FALSE(order.has_value());
  EXPECT_EQ(order.error(), SisedError::custom("Invalid Scalar"));
  EXPECT_EQ(encode(EdScalar::from_u64(0x0102)).value(), hex("0201000000000000000000000000000000000000000000000000000000000000"));
}

TEST(RistrettoCodec, ValidEncodingsOnly) {
  const std::vector<PointCase> cases = {
      {"base point", "e2f2ae0a6abc4e71a884a961c500515f58e30b6aa582dd8db6a65945e08d2d76", true},
      {"identity", "0000000000000000000000000000000000000000000000000000000000000000", true},
      {"negative field element", "0100000000000000000000000000000000000000000000000000000000000000", false},
      {"not canonical", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes b = hex(c.bytes);
    auto p = decode<RistrettoPoint>(b);
    if (!c.accepted) {
      ASSERT_FALSE(p.has_value());
      EXPECT_EQ(p.error(), SisedError::custom("Invalid RistrettoPoint"));
      continue;
    }
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(encode(*p).value(), b);
  }
  EXPECT_TRUE(decode<RistrettoPoint>(hex(cases[0].bytes)).value() == RistrettoPoint::base());
}

}  // namespace
}  // namespace velto::sised
