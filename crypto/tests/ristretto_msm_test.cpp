#include "crypto/ristretto_msm.hpp"

#include <gtest/gtest.h>

#include <vector>


namespace velto::crypto {
namespace {

// The sum checked against one product at a time, over sizes that include
// the empty sum and with zero scalars, one and identity points mixed in.
TEST(RistrettoMultiMul, EqualsTheSumOfProducts) {
  std::uint8_t seed_byte = 1;
  for (const std::size_t n : {0u, 1u, 2u, 3u, 7u, 16u}) {
    SCOPED_TRACE(n);
    ByteArray<64> wide{};
    std::vector<EdScalar> scalars;
    std::vector<RistrettoPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
      for (auto& b : wide) b = static_cast<std::uint8_t>(b * 31 + ++seed_byte);
      const EdScalar s = EdScalar::from_bytes_wide(wide);
      wide[0] ^= 0x5a;
      const RistrettoPoint p = RistrettoPoint::from_uniform_bytes(wide);
      switch (i % 5) {
        case 1: scalars.push_back(EdScalar::zero()); points.push_back(p); break;
        case 2: scalars.push_back(s); points.push_back(RistrettoPoint::identity()); break;
        case 3: scalars.push_back(EdScalar::one()); points.push_back(p); break;
        default: scalars.push_back(s); points.push_back(p); break;
      }
    }
    RistrettoPoint expected;
    for (std::size_t i = 0; i < n; ++i) expected += points[i] * scalars[i];
    EXPECT_EQ(ristretto_multi_mul_public(scalars, points), expected);
  }
}

}  // namespace
}  // namespace velto::crypto
