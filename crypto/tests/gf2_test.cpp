#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crypto/error.hpp"
#include "crypto/gf2.hpp"

namespace velto::crypto {
namespace {

// Schoolbook references, one bit at a time: shift-and-add with the
// reduction applied on every shift.
Gf128 ref_clmul64(std::uint64_t a, std::uint64_t b) {
  Gf128 r;
  for (int i = 0; i < 64; ++i) {
    if ((b >> i) & 1) {
      r.lo ^= a << i;
      if (i != 0) r.hi ^= a >> (64 - i);
    }
  }
  return r;
}

std::uint64_t ref_gf64_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  for (int i = 0; i < 64; ++i) {
    if ((b >> i) & 1) r ^= a;
    const bool top = (a >> 63) != 0;
    a <<= 1;
    if (top) a ^= 0x1b;  // x^64 = x^4 + x^3 + x + 1
  }
  return r;
}

Gf128 ref_gf128_mul(Gf128 a, Gf128 b) {
  Gf128 r;
  for (int i = 0; i < 128; ++i) {
    const std::uint64_t bit = i < 64 ? (b.lo >> i) & 1 : (b.hi >> (i - 64)) & 1;
    if (bit) r ^= a;
    const bool top = (a.hi >> 63) != 0;
    a.hi = (a.hi << 1) | (a.lo >> 63);
    a.lo <<= 1;
    if (top) a.lo ^= 0x87;  // x^128 = x^7 + x^2 + x + 1
  }
  return r;
}

std::uint64_t splitmix(std::uint64_t& s) {
  std::uint64_t z = (s += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// Edge values first (zero, one, single high bits, dense and sparse
// patterns), then pseudo-random ones.
std::vector<std::uint64_t> words() {
  std::vector<std::uint64_t> w = {0,
                                  1,
                                  2,
                                  0x8000000000000000ull,
                                  0xffffffffffffffffull,
                                  0x00000000ffffffffull,
                                  0xffffffff00000000ull,
                                  0x1111111111111111ull,
                                  0x8888888888888888ull,
                                  0x5555555555555555ull,
                                  0x87,
                                  0x1b};
  std::uint64_t s = 42;
  for (int i = 0; i < 20; ++i) w.push_back(splitmix(s));
  return w;
}

std::vector<Gf128> elements() {
  const auto w = words();
  std::vector<Gf128> e;
  for (std::size_t i = 0; i < w.size(); ++i) e.push_back({w[i], w[(i * 7 + 3) % w.size()]});
  e.push_back({0, 0x8000000000000000ull});
  e.push_back({~0ull, ~0ull});
  return e;
}

struct Backend {
  const char* name;
  Gf128 (*clmul64)(std::uint64_t, std::uint64_t) noexcept;
  std::uint64_t (*gf64)(std::uint64_t, std::uint64_t) noexcept;
  Gf128 (*gf128)(Gf128, Gf128) noexcept;
};

std::vector<Backend> backends() {
  std::vector<Backend> b = {
      {"portable", &gf2_detail::clmul64_portable, &gf2_detail::gf64_mul_portable,
       &gf2_detail::gf128_mul_portable},
      {"dispatch", &clmul64, &gf64_mul, &gf128_mul},
  };
  if (gf2_detail::cpu_has_clmul()) {
    b.push_back({"pclmulqdq", &gf2_detail::clmul64_clmul, &gf2_detail::gf64_mul_clmul,
                 &gf2_detail::gf128_mul_clmul});
  }
  return b;
}

std::string show(Gf128 v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(v.hi),
                static_cast<unsigned long long>(v.lo));
  return buf;
}

TEST(Gf2Products, EveryBackendMatchesTheSchoolbookProduct) {
  const auto w = words();
  const auto e = elements();
  for (const Backend& be : backends()) {
    for (const std::uint64_t a : w) {
      for (const std::uint64_t b : w) {
        ASSERT_EQ(be.clmul64(a, b), ref_clmul64(a, b)) << be.name << " clmul " << a << " " << b;
        ASSERT_EQ(be.gf64(a, b), ref_gf64_mul(a, b)) << be.name << " gf64 " << a << " " << b;
      }
    }
    for (const Gf128 a : e) {
      for (const Gf128 b : e) {
        ASSERT_EQ(be.gf128(a, b), ref_gf128_mul(a, b))
            << be.name << " gf128 " << show(a) << " * " << show(b);
      }
    }
  }
}

Gf128 pow2k_minus2_128(Gf128 a) {  // a^(2^128 - 2) = a^2 * a^4 * ... * a^(2^127)
  Gf128 r = Gf128::one();
  Gf128 s = a;
  for (int i = 1; i < 128; ++i) {
    s = gf128_mul(s, s);
    r = gf128_mul(r, s);
  }
  return r;
}

std::uint64_t pow2k_minus2_64(std::uint64_t a) {
  std::uint64_t r = 1;
  std::uint64_t s = a;
  for (int i = 1; i < 64; ++i) {
    s = gf64_mul(s, s);
    r = gf64_mul(r, s);
  }
  return r;
}

TEST(Gf2Products, KnownIdentities) {
  const Gf128 x{2, 0};
  const Gf128 x63{0x8000000000000000ull, 0};
  const Gf128 x64{0, 1};
  const Gf128 x127{0, 0x8000000000000000ull};
  EXPECT_EQ(gf128_mul(x127, x), (Gf128{0x87, 0}));  // x^128 = x^7 + x^2 + x + 1
  EXPECT_EQ(gf128_mul(x64, x64), (Gf128{0x87, 0}));
  EXPECT_EQ(gf128_mul(x63, x), x64);                   // no reduction below x^128
  EXPECT_EQ(gf128_mul(x127, x127), gf128_mul(Gf128{0x87, 0}, Gf128{0, 0x4000000000000000ull}));
  EXPECT_EQ(gf64_mul(0x8000000000000000ull, 2), 0x1bu);  // x^64 = x^4 + x^3 + x + 1
  EXPECT_EQ(gf64_mul(0x8000000000000000ull, 0x8000000000000000ull), gf64_mul(0x1b, 0x4000000000000000ull));
  EXPECT_EQ(clmul64(0x8000000000000000ull, 0x8000000000000000ull),
            (Gf128{0, 0x4000000000000000ull}));

  for (const Gf128 a : elements()) {
    EXPECT_EQ(gf128_mul(a, Gf128::one()), a);
    EXPECT_EQ(gf128_mul(a, Gf128{}), Gf128{});
    if (a != Gf128{}) {
      EXPECT_EQ(gf128_mul(a, pow2k_minus2_128(a)), Gf128::one()) << show(a);
    }
  }
  for (const std::uint64_t a : words()) {
    if (a != 0) {
      EXPECT_EQ(gf64_mul(a, pow2k_minus2_64(a)), 1u) << a;
    }
  }
}

TEST(Gf2SumsOfProducts, ReduceOnceAndMatchTheSumOfReducedProducts) {
  std::uint64_t seed = 7;
  for (const std::size_t n : {0, 1, 2, 17, 1024}) {
    std::vector<Gf128> a(n), b(n);
    std::vector<std::uint64_t> a64(n), b64(n);
    Gf128 expected;
    std::uint64_t expected64 = 0;
    for (std::size_t i = 0; i < n; ++i) {
      a[i] = {splitmix(seed), splitmix(seed)};
      b[i] = {splitmix(seed), splitmix(seed)};
      a64[i] = splitmix(seed);
      b64[i] = splitmix(seed);
      expected ^= ref_gf128_mul(a[i], b[i]);
      expected64 ^= ref_gf64_mul(a64[i], b64[i]);
    }
    EXPECT_EQ(gf128_inner_product(a, b), expected) << n;
    EXPECT_EQ(gf2_detail::gf128_inner_product_portable(a, b), expected) << n;
    if (gf2_detail::cpu_has_clmul()) {
      EXPECT_EQ(gf2_detail::gf128_inner_product_clmul(a, b), expected) << n;
    }
    EXPECT_EQ(gf64_inner_product(a64, b64), expected64) << n;

    Gf128Accumulator acc;
    for (std::size_t i = 0; i < n; ++i) acc.add_product(a[i], b[i]);
    EXPECT_EQ(acc.finish(), expected) << n;
    acc.add(Gf128{5, 6});
    EXPECT_EQ(acc.finish(), (expected ^ Gf128{5, 6})) << n;
    acc.reset();
    EXPECT_EQ(acc.finish(), Gf128{});
  }
}

TEST(Gf2SumsOfProducts, LengthMismatchIsAProgrammingError) {
  const std::vector<Gf128> a(3), b(2);
  const std::vector<std::uint64_t> c(1), d(0);
  EXPECT_THROW(gf128_inner_product(a, b), velto::Panic);
  EXPECT_THROW(gf64_inner_product(c, d), velto::Panic);
}

TEST(Gf128Bytes, LittleEndianWithWordZeroFirst) {
  ByteArray<16> b{};
  b[0] = 0x01;
  b[7] = 0x80;
  b[8] = 0x02;
  b[15] = 0x40;
  const Gf128 v = Gf128::from_le_bytes(b);
  EXPECT_EQ(v, (Gf128{0x8000000000000001ull, 0x4000000000000002ull}));
  EXPECT_EQ(v.to_le_bytes(), b);
}

}  // namespace
}  // namespace velto::crypto
