#include "crypto/ed25519.hpp"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

Bytes unhex(std::string_view s) {
  auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
  };
  Bytes out(s.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(nibble(s[2 * i]) << 4 | nibble(s[2 * i + 1]));
  }
  return out;
}

template <std::size_t N>
ByteArray<N> arr(std::string_view s) {
  const Bytes b = unhex(s);
  EXPECT_EQ(b.size(), N) << s;
  ByteArray<N> out{};
  std::copy_n(b.begin(), std::min(N, b.size()), out.begin());
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

// Whitespace-separated fields of every non-comment line of a test data file.
std::vector<std::vector<std::string>> read_cases(const std::string& name) {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::vector<std::string>> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; fields >> f;) row.push_back(f);
    cases.push_back(std::move(row));
  }
  return cases;
}

EdPoint point(std::string_view h) {
  const auto p = EdPoint::from_bytes(unhex(h));
  EXPECT_TRUE(p.has_value()) << h;
  return p.value_or(EdPoint::identity());
}

EdScalar scalar(std::string_view h) {
  const auto s = EdScalar::from_canonical(unhex(h));
  EXPECT_TRUE(s.has_value()) << h;
  return s.value_or(EdScalar::zero());
}

// ---- scalars against OpenSSL big integers -----------------------------------

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
struct CtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

class ScalarOracle : public ::testing::Test {
 protected:
  ScalarOracle() : ctx_(BN_CTX_new()), l_(BN_new()) {
    BIGNUM* raw = nullptr;
    BN_dec2bn(&raw, "7237005577332262213973186563042994240857116359379907606001950938285454250989");
    l_.reset(raw);
  }

  Bn bn(ByteSpan le) const {
    return Bn(BN_lebin2bn(le.data(), static_cast<int>(le.size()), nullptr));
  }
  Bn bn(const EdScalar& s) const { return bn(s.to_bytes()); }
  ByteArray<32> le32(const BIGNUM* v) const {
    ByteArray<32> out{};
    EXPECT_EQ(BN_bn2lebinpad(v, out.data(), 32), 32);
    return out;
  }
  ByteArray<32> reduce(ByteSpan le) const {
    Bn r(BN_new());
    BN_nnmod(r.get(), bn(le).get(), l_.get(), ctx_.get());
    return le32(r.get());
  }
  template <class F>
  ByteArray<32> op(F f, const EdScalar& a, const EdScalar& b) const {
    Bn r(BN_new());
    f(r.get(), bn(a).get(), bn(b).get(), l_.get(), ctx_.get());
    return le32(r.get());
  }
  ByteArray<32> l_minus(unsigned k) const {
    Bn r(BN_dup(l_.get()));
    BN_sub_word(r.get(), k);
    return le32(r.get());
  }

  std::unique_ptr<BN_CTX, CtxFree> ctx_;
  Bn l_;
};

// A generator that records what it hands out.
struct RecordingRng {
  std::mt19937_64 eng{0x5eed};
  Bytes drawn;
  void fill_bytes(MutByteSpan out) {
    for (auto& b : out) b = static_cast<std::uint8_t>(eng());
    drawn.insert(drawn.end(), out.begin(), out.end());
  }
};

TEST_F(ScalarOracle, RandomDrawsSixtyFourBytesReducedModL) {
  RecordingRng rng;
  for (int i = 0; i < 8; ++i) {
    rng.drawn.clear();
    const EdScalar s = EdScalar::random(rng);
    ASSERT_EQ(rng.drawn.size(), 64u);
    EXPECT_EQ(s.to_bytes(), reduce(rng.drawn));
  }
}

TEST_F(ScalarOracle, FieldOperationsMatchBigIntegers) {
  RecordingRng rng;
  std::vector<EdScalar> values = {EdScalar::zero(), EdScalar::one(),
                                  EdScalar::from_bytes_mod_order(l_minus(1)),
                                  EdScalar::from_bytes_mod_order(l_minus(2))};
  for (int i = 0; i < 40; ++i) values.push_back(EdScalar::random(rng));

  const auto sub = [](BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* c) {
    return BN_mod_sub(r, a, b, m, c);
  };
  const auto add = [](BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* c) {
    return BN_mod_add(r, a, b, m, c);
  };
  const auto mul = [](BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* c) {
    return BN_mod_mul(r, a, b, m, c);
  };
  const auto zero = EdScalar::zero();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const EdScalar& a = values[i];
    const EdScalar& b = values[(i * 7 + 3) % values.size()];
    SCOPED_TRACE(hex(a.to_bytes()) + " " + hex(b.to_bytes()));
    EXPECT_EQ((a + b).to_bytes(), op(add, a, b));
    EXPECT_EQ((a - b).to_bytes(), op(sub, a, b));
    EXPECT_EQ((a * b).to_bytes(), op(mul, a, b));
    EXPECT_EQ((-a).to_bytes(), op(sub, zero, a));
    if (a.is_zero()) {
      EXPECT_TRUE(a.invert().is_zero());
    } else {
      Bn inv(BN_mod_inverse(nullptr, bn(a).get(), l_.get(), ctx_.get()));
      ASSERT_TRUE(inv);
      EXPECT_EQ(a.invert().to_bytes(), le32(inv.get()));
    }
  }
}

TEST_F(ScalarOracle, ReductionsOfWideAndNarrowInputs) {
  ByteArray<32> all_ones;
  all_ones.fill(0xff);
  const std::vector<ByteArray<32>> narrow = {all_ones, l_minus(0), l_minus(1),
                                             arr<32>("edd3f55c1a631258d69cf7a2def9de14000000000000"
                                                     "00000000000000000020")};  // 2l + 1
  for (const auto& b : narrow) {
    EXPECT_EQ(EdScalar::from_bytes_mod_order(b).to_bytes(), reduce(b)) << hex(b);
  }
  RecordingRng rng;
  ByteArray<64> wide;
  wide.fill(0xff);
  EXPECT_EQ(EdScalar::from_bytes_wide(wide).to_bytes(), reduce(wide));
  for (int i = 0; i < 8; ++i) {
    rng.fill_bytes(wide);
    EXPECT_EQ(EdScalar::from_bytes_wide(wide).to_bytes(), reduce(wide)) << hex(wide);
  }
  EXPECT_EQ(EdScalar::from_u64(0xfedcba9876543210ULL).to_bytes(),
            arr<32>("1032547698badcfe000000000000000000000000000000000000000000000000"));
}

TEST_F(ScalarOracle, CanonicalDecodingRefusesValuesFromL) {
  const auto bytes = [](const ByteArray<32>& a) { return Bytes(a.begin(), a.end()); };
  struct Case {
    Bytes bytes;
    bool accepted;
  };
  const Case cases[] = {
      {Bytes(32, 0), true},
      {bytes(l_minus(1)), true},
      {bytes(l_minus(0)), false},
      // l + 1 and l + 2^253
      {unhex("eed3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"), false},
      {unhex("ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000020"), false},
      {Bytes(32, 0xff), false},
      {Bytes(31, 0), false},
      {Bytes(33, 0), false},
  };
  for (const auto& c : cases) {
    const auto s = EdScalar::from_canonical(c.bytes);
    ASSERT_EQ(s.has_value(), c.accepted) << hex(c.bytes);
    if (s) {
      EXPECT_EQ(hex(s->to_bytes()), hex(c.bytes));
    }
  }
}

TEST(EdScalar, EqualityAndZero) {
  EXPECT_TRUE(EdScalar().is_zero());
  EXPECT_TRUE((EdScalar::one() - EdScalar::one()).is_zero());
  EXPECT_FALSE(EdScalar::one().is_zero());
  EXPECT_EQ(EdScalar::from_u64(5), EdScalar::from_u64(2) + EdScalar::from_u64(3));
  EXPECT_NE(EdScalar::from_u64(5), EdScalar::from_u64(6));
  EXPECT_EQ(EdScalar::from_u64(7) * EdScalar::from_u64(7).invert(), EdScalar::one());
}

// ---- points -------------------------------------------------------------------

TEST(EdPoint, DecodingFollowsTheReferenceVerdicts) {
  const auto cases = read_cases("ed25519_decode.txt");
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    ASSERT_EQ(c.size(), 3u);
    SCOPED_TRACE(c[2] + " " + c[1]);
    const auto p = EdPoint::from_bytes(unhex(c[1]));
    if (c[0] == "valid") {
      ASSERT_TRUE(p.has_value());
      EXPECT_EQ(hex(p->to_bytes()), c[1]);
    } else {
      EXPECT_FALSE(p.has_value());
    }
  }
  EXPECT_FALSE(EdPoint::from_bytes(Bytes(31, 0)).has_value());
  Bytes long_identity(33, 0);
  long_identity[0] = 1;
  EXPECT_FALSE(EdPoint::from_bytes(long_identity).has_value());
}

TEST(EdPoint, IdentityAndBaseEncodings) {
  EXPECT_EQ(hex(EdPoint::identity().to_bytes()),
            "0100000000000000000000000000000000000000000000000000000000000000");
  EXPECT_EQ(hex(EdPoint::base().to_bytes()),
            "5866666666666666666666666666666666666666666666666666666666666666");
  EXPECT_TRUE(EdPoint().is_identity());
  EXPECT_FALSE(EdPoint::base().is_identity());
}

TEST(EdPoint, OperationsMatchReferenceArithmetic) {
  const auto cases = read_cases("ed25519_ops.txt");
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0] + " " + c[1]);
    if (c[0] == "base") {
      const EdScalar k = scalar(c[1]);
      EXPECT_EQ(hex(EdPoint::base_mul(k).to_bytes()), c[2]);
      EXPECT_EQ(hex((EdPoint::base() * k).to_bytes()), c[2]);
    } else if (c[0] == "mul") {
      const EdScalar k = scalar(c[1]);
      const EdPoint p = point(c[2]);
      EXPECT_EQ(hex((p * k).to_bytes()), c[3]);
      EXPECT_EQ(hex((k * p).to_bytes()), c[3]);
    } else if (c[0] == "add") {
      const EdPoint p = point(c[1]);
      const EdPoint q = point(c[2]);
      EXPECT_EQ(hex((p + q).to_bytes()), c[3]);
      EXPECT_EQ(hex((p - q).to_bytes()), c[4]);
      EXPECT_EQ(hex((p + -q).to_bytes()), c[4]);
      EdPoint acc = p;
      acc -= q;
      acc += q;
      EXPECT_EQ(acc, p);
    } else if (c[0] == "multi") {
      const std::size_t n = std::stoul(c[1]);
      ASSERT_EQ(c.size(), 3 + 2 * n);
      std::vector<EdScalar> ks;
      std::vector<EdPoint> ps;
      for (std::size_t i = 0; i < n; ++i) {
        ks.push_back(scalar(c[2 + 2 * i]));
        ps.push_back(point(c[3 + 2 * i]));
      }
      EXPECT_EQ(hex(EdPoint::multi_mul(ks, ps).to_bytes()), c.back());
    } else {
      ADD_FAILURE() << "unknown case " << c[0];
    }
  }
}

TEST(EdPoint, IdentityAndZeroNeverFail) {
  RecordingRng rng;
  const EdScalar k = EdScalar::random(rng);
  const EdPoint p = EdPoint::base_mul(k);
  const EdPoint id = EdPoint::identity();
  EXPECT_TRUE((id * k).is_identity());
  EXPECT_TRUE((id * EdScalar::zero()).is_identity());
  EXPECT_TRUE((p * EdScalar::zero()).is_identity());
  EXPECT_TRUE(EdPoint::base_mul(EdScalar::zero()).is_identity());
  EXPECT_TRUE((p - p).is_identity());
  EXPECT_TRUE((-id).is_identity());
  EXPECT_EQ(id + p, p);
  EXPECT_EQ(p + id, p);
  EXPECT_EQ(id - p, -p);
  EXPECT_TRUE(EdPoint::multi_mul({}, {}).is_identity());
  // Every result is again a decodable subgroup point.
  for (const EdPoint& q : {id * k, p - p, -id, -p}) {
    EXPECT_EQ(EdPoint::from_bytes(q.to_bytes()), q);
  }
}

TEST(EdPoint, ScalarAndPointArithmeticAgree) {
  RecordingRng rng;
  const EdScalar a = EdScalar::random(rng);
  const EdScalar b = EdScalar::random(rng);
  const EdPoint p = EdPoint::base_mul(EdScalar::random(rng));
  EXPECT_EQ(p * (a + b), p * a + p * b);
  EXPECT_EQ(p * (a * b), (p * a) * b);
  EXPECT_EQ(p * -a, -(p * a));
  EXPECT_EQ(EdPoint::base_mul(a * a.invert()), EdPoint::base());
}

TEST(EdPoint, MultiMulRefusesMismatchedLengths) {
  const std::vector<EdScalar> ks(2);
  const std::vector<EdPoint> ps(3);
  EXPECT_THROW(EdPoint::multi_mul(ks, ps), velto::Panic);
}

// ---- Ed25519 signatures (RFC 8032, section 7.1) -----------------------------------

struct SigVector {
  const char* name;
  const char* seed;
  const char* pub;
  const char* msg;
  const char* sig;
};

constexpr SigVector kRfc8032[] = {
    {"TEST 1", "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"TEST 2", "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"TEST 3", "c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"TEST SHA(abc)", "833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
     "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b589"
     "09351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

TEST(Ed25519, Rfc8032PublicKeysAndSignatures) {
  for (const auto& v : kRfc8032) {
    SCOPED_TRACE(v.name);
    const auto pub = arr<32>(v.pub);
    const auto sig = arr<64>(v.sig);
    const Bytes msg = unhex(v.msg);
    EXPECT_EQ(hex(ed25519_public_from_seed(arr<32>(v.seed))), v.pub);
    EXPECT_TRUE(ed25519_verify(pub, msg, sig));
    // The public key is a subgroup point of this layer.
    EXPECT_TRUE(EdPoint::from_bytes(pub).has_value());
  }
}

TEST(Ed25519, VerificationRefusesAlteredInputs) {
  const auto& v = kRfc8032[2];
  const auto pub = arr<32>(v.pub);
  const auto sig = arr<64>(v.sig);
  const Bytes msg = unhex(v.msg);

  Bytes msg2 = msg;
  msg2[1] ^= 0x01;
  EXPECT_FALSE(ed25519_verify(pub, msg2, sig));
  EXPECT_FALSE(ed25519_verify(pub, Bytes(msg.begin(), msg.end() - 1), sig));
  EXPECT_FALSE(ed25519_verify(arr<32>(kRfc8032[1].pub), msg, sig));
  for (const std::size_t byte : {0u, 31u, 32u, 63u}) {
    auto bad = sig;
    bad[byte] ^= 0x01;
    EXPECT_FALSE(ed25519_verify(pub, msg, bad)) << byte;
  }
  // S + l satisfies the same equation but is not a canonical scalar.
  auto s_plus_l = sig;
  const auto l = arr<32>("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    carry += static_cast<unsigned>(sig[32 + i]) + l[i];
    s_plus_l[32 + i] = static_cast<std::uint8_t>(carry);
    carry >>= 8;
  }
  ASSERT_EQ(carry, 0u);
  EXPECT_FALSE(ed25519_verify(pub, msg, s_plus_l));
}

}  // namespace
}  // namespace velto::crypto
