#include <gtest/gtest.h>

#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"

namespace velto::crypto {
namespace {

TEST(CtEqual, ComparesWholeLengthAndRefusesLengthMismatch) {
  const Bytes a{1, 2, 3, 4};
  Bytes b = a;
  EXPECT_TRUE(ct_equal(a, b));
  b[3] ^= 0x80;
  EXPECT_FALSE(ct_equal(a, b));
  EXPECT_FALSE(ct_equal(a, ByteSpan(a).first(3)));
  EXPECT_TRUE(ct_equal(ByteSpan{}, ByteSpan{}));
}

TEST(SecretArray, MovedFromIsWiped) {
  SecretArray<4> s(ByteArray<4>{9, 9, 9, 9});
  SecretArray<4> t(std::move(s));
  EXPECT_EQ(t.array(), (ByteArray<4>{9, 9, 9, 9}));
  EXPECT_EQ(s.array(), (ByteArray<4>{0, 0, 0, 0}));  // NOLINT(bugprone-use-after-move)
}

TEST(SecretBytes, GrowKeepsContentAndWipeEmpties) {
  SecretBytes s(Bytes{1, 2, 3});
  s.append(Bytes(100, 7));
  ASSERT_EQ(s.size(), 103u);
  EXPECT_EQ(s.data()[2], 3);
  EXPECT_EQ(s.data()[102], 7);
  s.wipe();
  EXPECT_TRUE(s.empty());
}

}  // namespace
}  // namespace velto::crypto
