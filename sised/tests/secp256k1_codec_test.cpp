#include "sised/secp256k1_codec.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velto::sised {
namespace {

using crypto::Bytes;
using crypto::Point;
using crypto::Scalar;

Bytes hex(std::string_view h) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
  return out;
}

Bytes varint_bytes(std::uint64_t v) {
  Bytes out;
  Sink s = Sink::buffer(out);
  write_varint(s, v);
  return out;
}

constexpr std::string_view kOrder = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
constexpr std::string_view kOrderMinus1 = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364140";
constexpr std::string_view kGx = "79be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798";

TEST(ScalarCodec, RangeCheckAndRoundTrip) {
  struct Case {
    Bytes bytes;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {hex(kOrder), false},
      {Bytes(32, 0xFF), false},
      {hex(kOrderMinus1), true},
      {Bytes(32, 0x00), true},
      {hex("0000000000000000000000000000000000000000000000000000000000000102"), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    auto s = decode<Scalar>(c.bytes);
    if (!c.accepted) {
      ASSERT_FALSE(s.has_value());
      EXPECT_EQ(s.error(), SisedError::custom("Invalid Scalar"));
      continue;
    }
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(encode(*s).value(), c.bytes);  // big-endian, both ways
  }
  EXPECT_EQ(decode<Scalar>(hex("0000000000000000000000000000000000000000000000000000000000000102"))->words()[0],
            0x102u);
  EXPECT_EQ(decode<Scalar>(Bytes(31, 0)).error().kind(), SisedError::Kind::OutOfBounds);
  EXPECT_EQ(encoded_size(Scalar::one()), 32u);
}

TEST(PointCodec, AcceptedAndRefusedEncodings) {
  const Bytes g02 = hex(std::string("02") + std::string(kGx));
  struct Case {
    std::string what;
    Bytes bytes;
    std::optional<Point> point;  // nothing: refused
  };
  const std::vector<Case> cases = {
      {"identity", Bytes(33, 0), Point::identity()},
      {"generator", g02, Point::generator()},
      {"negated generator", hex(std::string("03") + std::string(kGx)), -Point::generator()},
      {"compact form 05 is the even-y point", hex(std::string("05") + std::string(kGx)), Point::generator()},
      {"uncompressed prefix", hex(std::string("04") + std::string(kGx)), std::nullopt},
      {"zero prefix with non-zero x", hex(std::string("00") + std::string(kGx)), std::nullopt},
      {"x without a point", hex("020000000000000000000000000000000000000000000000000000000000000005"), std::nullopt},
      {"x = 0 has no point either", hex("020000000000000000000000000000000000000000000000000000000000000000"),
       std::nullopt},
      {"x not below p", hex("02ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto p = decode<Point>(c.bytes);
    if (!c.point) {
      ASSERT_FALSE(p.has_value());
      EXPECT_EQ(p.error(), SisedError::custom("Invalid Compressed AffinePoint"));
      continue;
    }
    ASSERT_TRUE(p.has_value());
    EXPECT_TRUE(*p == *c.point);
  }
  EXPECT_EQ(encode(Point::identity()).value(), Bytes(33, 0));
  EXPECT_EQ(encode(Point::generator()).value(), g02);
  EXPECT_EQ(decode<Point>(Bytes(32, 0)).error().kind(), SisedError::Kind::OutOfBounds);
}

TEST(PointCodec, MultiplesRoundTripInSequences) {
  std::vector<Point> points;
  Point p = Point::identity();
  for (int i = 0; i < 20; ++i) {
    points.push_back(p);
    p += Point::generator();
  }
  const Bytes msg = encode(points).value();
  ASSERT_EQ(msg.size(), 1 + 20 * 33u);
  Decoder d(msg);
  auto back = Codec<std::vector<Point>>::decode(d);
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), points.size());
  for (std::size_t i = 0; i < points.size(); ++i) EXPECT_TRUE((*back)[i] == points[i]) << i;
  EXPECT_EQ(d.heap_charged(), 20u * 120u);

  // The item readers are the element decoders.
  Decoder one(msg);
  ASSERT_TRUE(one.read_varint().has_value());
  EXPECT_TRUE(read_compressed_point_seq_next(one).value().is_identity());
  EXPECT_TRUE(read_compressed_point_seq_next(one).value() == Point::generator());
}

TEST(HeapBudget, PointAndScalarSequenceLimits) {
  // 34,952 points: charge 4,194,240, within the budget.
  {
    Bytes msg = varint_bytes(34'952);
    msg.resize(msg.size() + 34'952 * 33, 0x00);
    auto r = decode<std::vector<Point>>(msg);
    ASSERT_TRUE(r.has_value()) << r.error().debug();
    EXPECT_EQ(r->size(), 34'952u);
  }
  // 34,953 are refused on the count alone: the input holds a single,
  // invalid point, which is never read.
  {
    Bytes msg = varint_bytes(34'953);
    msg.resize(msg.size() + 33, 0x07);
    auto r = decode<std::vector<Point>>(msg);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), SisedError::Kind::HeapSizeLimitExceeded);
  }
  {
    Bytes msg = varint_bytes(131'072);
    msg.resize(msg.size() + 131'072 * 32, 0x00);
    msg.back() = 0x05;
    auto r = decode<std::vector<Scalar>>(msg);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->size(), 131'072u);
    EXPECT_TRUE(r->back() == Scalar::from_u64(5));
  }
  {
    Bytes msg = varint_bytes(131'073);
    msg.resize(msg.size() + 32, 0xFF);
    auto r = decode<std::vector<Scalar>>(msg);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), SisedError::Kind::HeapSizeLimitExceeded);
  }
  // Within the budget, a bad item is reported as itself.
  {
    Bytes msg = varint_bytes(2);
    msg.resize(msg.size() + 32, 0x00);
    const Bytes n = hex(kOrder);
    msg.insert(msg.end(), n.begin(), n.end());
    EXPECT_EQ(decode<std::vector<Scalar>>(msg).error(), SisedError::custom("Invalid Scalar"));
  }
}

}  // namespace
}  // namespace velto::sised
