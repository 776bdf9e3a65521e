#include "crypto/x25519.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace velto::crypto {
namespace {

template <std::size_t N>
ByteArray<N> arr(std::string_view s) {
  auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
  };
  EXPECT_EQ(s.size(), 2 * N) << s;
  ByteArray<N> out{};
  for (std::size_t i = 0; i < N && 2 * i + 1 < s.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(nibble(s[2 * i]) << 4 | nibble(s[2 * i + 1]));
  }
  return out;
}

std::string hex(ByteSpan b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (const auto v : b) {
    s += kDigits[v >> 4];
    s += kDigits[v & 15];
  }
  return s;
}

TEST(X25519, Rfc7748ScalarMultiplication) {
  // RFC 7748, section 5.2. The second u has its top bit set, which must be
  // ignored.
  struct Case {
    const char* scalar;
    const char* u;
    const char* out;
  };
  constexpr Case kCases[] = {
      {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
       "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
       "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
      {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
       "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
       "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
  };
  for (const auto& c : kCases) {
    const auto out = x25519(arr<32>(c.scalar), arr<32>(c.u));
    ASSERT_TRUE(out.has_value()) << c.scalar;
    EXPECT_EQ(hex(*out), c.out);
  }
  // Clearing the ignored bit changes nothing.
  auto u = arr<32>(kCases[1].u);
  u[31] &= 0x7f;
  EXPECT_EQ(hex(x25519(arr<32>(kCases[1].scalar), u).value()), kCases[1].out);
}

TEST(X25519, Rfc7748IteratedOneAndThousandTimes) {
  ByteArray<32> k{9};
  ByteArray<32> u{9};
  for (int i = 1; i <= 1000; ++i) {
    const auto next = x25519(k, u);
    ASSERT_TRUE(next.has_value()) << i;
    u = k;
    k = *next;
    if (i == 1) {
      EXPECT_EQ(hex(k), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
    }
  }
  EXPECT_EQ(hex(k), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

TEST(X25519, Rfc7748DiffieHellman) {
  // RFC 7748, section 6.1.
  const auto a = arr<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
  const auto b = arr<32>("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
  const auto a_pub = x25519_base(a);
  const auto b_pub = x25519_base(b);
  EXPECT_EQ(hex(a_pub), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(hex(b_pub), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  const char* shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
  EXPECT_EQ(hex(x25519(a, b_pub).value()), shared);
  EXPECT_EQ(hex(x25519(b, a_pub).value()), shared);
  // The base function is the general one at u = 9.
  EXPECT_EQ(x25519(a, ByteArray<32>{9}).value(), a_pub);
}

TEST(X25519, SmallOrderPublicKeysGiveNoSecret) {
  // Points of order 1, 2, 4 and 8 on the curve and its twist, canonical and
  // not, and 0 with the ignored top bit set: the product is all zero for any
  // clamped scalar.
  constexpr const char* kSmallOrder[] = {
      "0000000000000000000000000000000000000000000000000000000000000000",
      "0100000000000000000000000000000000000000000000000000000000000000",
      "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
      "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
      "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
      "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
      "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
      "0000000000000000000000000000000000000000000000000000000000000080",
  };
  const auto priv = arr<32>("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4");
  for (const char* u : kSmallOrder) {
    EXPECT_FALSE(x25519(priv, arr<32>(u)).has_value()) << u;
  }
}

TEST(X25519, TopBitIsMaskedBeforeTheSmallOrderTest) {
  // u1 + p, u2 + p and 2p - 1 .. 2p + 1 have the top bit set; once it is
  // cleared as RFC 7748 requires they are ordinary points, so raw X25519
  // gives a secret (refusing them is the transport-key layer's business).
  constexpr const char* kHighBit[] = {
      "cdeb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b880",
      "4c9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f11d7",
      "d9ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
      "daffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
      "dbffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
  };
  const auto priv = arr<32>("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4");
  for (const char* u : kHighBit) {
    auto masked = arr<32>(u);
    masked[31] &= 0x7f;
    const auto out = x25519(priv, arr<32>(u));
    ASSERT_TRUE(out.has_value()) << u;
    EXPECT_EQ(out, x25519(priv, masked)) << u;
  }
  // Value from an independent X25519 implementation for the first of them.
  EXPECT_EQ(hex(x25519(priv, arr<32>(kHighBit[0])).value()),
            "7ce548bc4919008436244d2da7a9906528fe3a6d278047654bd32d8acde9707b");
}

}  // namespace
}  // namespace velto::crypto
