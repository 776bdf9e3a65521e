#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/random.hpp"

namespace velto::crypto {
namespace {

// Each check below fails by chance with probability at most 2^-128.

TEST(OsRandom, FillsTheWholeSpanWithFreshBytes) {
  for (const std::size_t len : {std::size_t{1} << 4, std::size_t{1000}, std::size_t{1} << 20}) {
    Bytes a(len, 0), b(len, 0);
    os_random(a);
    os_random(b);
    EXPECT_NE(a, b) << len;
    // Neither end is left untouched.
    EXPECT_NE(Bytes(a.begin(), a.begin() + 16), Bytes(16, 0)) << len;
    EXPECT_NE(Bytes(a.end() - 16, a.end()), Bytes(16, 0)) << len;
  }
  os_random(MutByteSpan{});  // nothing to fill is fine
}

TEST(OsRandom, ArraysAndTheGeneratorAdapterDrawIndependently) {
  EXPECT_NE(os_random_array<32>(), os_random_array<32>());

  // OsRng plugs into code written against any generator.
  const auto seed_from = [](auto& gen) {
    ByteArray<32> seed{};
    gen.fill_bytes(seed);
    return seed;
  };
  OsRng os;
  const ByteArray<32> s1 = seed_from(os);
  const ByteArray<32> s2 = seed_from(os);
  EXPECT_NE(s1, s2);
}

}  // namespace
}  // namespace velto::crypto
