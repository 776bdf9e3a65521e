// Scalar arithmetic is checked against OpenSSL's BIGNUM modulo n, point
// arithmetic and encodings against OpenSSL's own secp256k1 code, plus a few
// BIP-0340 published key vectors.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string_view>
#include <vector>

#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"

namespace velto::crypto {
namespace {

// ---------------------------------------------------------------- helpers

template <std::size_t N>
ByteArray<N> hex(std::string_view h) {
  auto nib = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return static_cast<std::uint8_t>(c - 'A' + 10);
  };
  EXPECT_EQ(h.size(), 2 * N) << h;
  ByteArray<N> out{};
  for (std::size_t i = 0; i < N && 2 * i + 1 < h.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(nib(h[2 * i]) << 4 | nib(h[2 * i + 1]));
  }
  return out;
}

template <std::size_t N>
ByteArray<N> filled(std::uint8_t v) {
  ByteArray<N> a;
  a.fill(v);
  return a;
}

constexpr std::string_view kNHex = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141";
constexpr std::string_view kPHex = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFC2F";

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

// OpenSSL's view of the group: n, a BN_CTX and the curve.
class Oracle {
 public:
  Oracle() : ctx_(BN_CTX_new()), group_(EC_GROUP_new_by_curve_name(NID_secp256k1)) {
    const ByteArray<32> nb = hex<32>(kNHex);
    n_.reset(BN_bin2bn(nb.data(), 32, nullptr));
  }
  ~Oracle() {
    EC_GROUP_free(group_);
    BN_CTX_free(ctx_);
  }
  Oracle(const Oracle&) = delete;
  Oracle& operator=(const Oracle&) = delete;

  Bn bn(ByteSpan be) const { return Bn(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr)); }
  Bn bn(const Scalar& s) const { return bn(s.to_bytes()); }
  static ByteArray<32> bytes(const BIGNUM* b) {
    ByteArray<32> out{};
    EXPECT_EQ(BN_bn2binpad(b, out.data(), 32), 32);
    return out;
  }

  ByteArray<32> add(const Scalar& a, const Scalar& b) {
    Bn r(BN_new());
    BN_mod_add(r.get(), bn(a).get(), bn(b).get(), n_.get(), ctx_);
    return bytes(r.get());
  }
  ByteArray<32> sub(const Scalar& a, const Scalar& b) {
    Bn r(BN_new());
    BN_mod_sub(r.get(), bn(a).get(), bn(b).get(), n_.get(), ctx_);
    return bytes(r.get());
  }
  ByteArray<32> mul(const Scalar& a, const Scalar& b) {
    Bn r(BN_new());
    BN_mod_mul(r.get(), bn(a).get(), bn(b).get(), n_.get(), ctx_);
    return bytes(r.get());
  }
  ByteArray<32> inv(const Scalar& a) {
    Bn r(BN_new());
    EXPECT_NE(BN_mod_inverse(r.get(), bn(a).get(), n_.get(), ctx_), nullptr);
    return bytes(r.get());
  }
  // Any big-endian value modulo n.
  ByteArray<32> mod(ByteSpan be) {
    Bn r(BN_new());
    BN_nnmod(r.get(), bn(be).get(), n_.get(), ctx_);
    return bytes(r.get());
  }

  // Points, as OpenSSL encodes them (identity: empty).
  EC_POINT* point() const { return EC_POINT_new(group_); }
  Bytes encode(const EC_POINT* p, point_conversion_form_t form) {
    if (EC_POINT_is_at_infinity(group_, p) == 1) return {};
    Bytes out(form == POINT_CONVERSION_COMPRESSED ? 33 : 65);
    EXPECT_EQ(EC_POINT_point2oct(group_, p, form, out.data(), out.size(), ctx_), out.size());
    return out;
  }
  Bytes compressed(const EC_POINT* p) { return encode(p, POINT_CONVERSION_COMPRESSED); }
  Bytes uncompressed(const EC_POINT* p) { return encode(p, POINT_CONVERSION_UNCOMPRESSED); }
  // k·G + m·P (either part left out when its scalar is null).
  EC_POINT* mul(const Scalar* k, const EC_POINT* p, const Scalar* m) {
    EC_POINT* r = point();
    Bn kb = k ? bn(*k) : nullptr;
    Bn mb = m ? bn(*m) : nullptr;
    EXPECT_EQ(EC_POINT_mul(group_, r, kb.get(), p, mb.get(), ctx_), 1);
    return r;
  }
  EC_POINT* infinity() const {
    EC_POINT* r = point();
    EXPECT_EQ(EC_POINT_set_to_infinity(group_, r), 1);
    return r;
  }
  EC_POINT* add(const EC_POINT* a, const EC_POINT* b) {
    EC_POINT* r = point();
    EXPECT_EQ(EC_POINT_add(group_, r, a, b, ctx_), 1);
    return r;
  }
  EC_POINT* decode(ByteSpan b) {
    EC_POINT* r = point();
    EXPECT_EQ(EC_POINT_oct2point(group_, r, b.data(), b.size(), ctx_), 1);
    return r;
  }

 private:
  BN_CTX* ctx_;
  EC_GROUP* group_;
  Bn n_;
};

struct PointFree {
  void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
using EcPoint = std::unique_ptr<EC_POINT, PointFree>;

Bytes compressed_bytes(const Point& p) {
  if (p.is_identity()) return {};
  const ByteArray<33> c = p.to_compressed();
  return Bytes(c.begin(), c.end());
}

// Deterministic inputs: uniform values mixed with values near the edges,
// where carries and reductions go wrong.
class Inputs {
 public:
  explicit Inputs(std::uint64_t seed) : rng_(seed) {}
  ByteArray<32> bytes32() {
    ByteArray<32> b;
    for (auto& x : b) x = static_cast<std::uint8_t>(rng_());
    switch (rng_() % 8) {
      case 0:  // close to n or to 2^256
        std::fill(b.begin(), b.begin() + 16, 0xFF);
        break;
      case 1:  // small
        std::fill(b.begin(), b.begin() + 24, 0x00);
        break;
      case 2: {  // one full word of ones somewhere
        const auto at = static_cast<std::ptrdiff_t>(8 * (rng_() % 4));
        std::fill(b.begin() + at, b.begin() + at + 8, 0xFF);
        break;
      }
      default:
        break;
    }
    return b;
  }
  Scalar scalar() { return Scalar::from_bytes_reduced(bytes32()); }

 private:
  std::mt19937_64 rng_;
};

std::vector<Scalar> edge_scalars() {
  const Scalar n1 = *Scalar::from_bytes_checked(
      hex<32>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364140"));
  ByteArray<32> p255{};
  p255[0] = 0x80;
  ByteArray<32> p128{};
  p128[15] = 0x01;
  const ByteArray<32> half = hex<32>("7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF5D576E7357A4501DDFE92F46681B20A0");
  return {Scalar::zero(),
          Scalar::one(),
          Scalar::from_u64(2),
          Scalar::from_u64(~std::uint64_t{0}),
          n1,
          n1 - Scalar::one(),
          Scalar::from_bytes_reduced(p255),
          Scalar::from_bytes_reduced(p128),
          Scalar::from_bytes_reduced(half),
          Scalar::from_bytes_reduced(half) + Scalar::one(),
          Scalar::from_bytes_reduced(filled<32>(0xFF))};
}

// ---------------------------------------------------------------- Scalar

TEST(Scalar, ArithmeticMatchesBignum) {
  Oracle o;
  Inputs in(1);
  std::vector<Scalar> values = edge_scalars();
  const std::size_t edges = values.size();
  for (int i = 0; i < 3000; ++i) values.push_back(in.scalar());

  auto check_pair = [&](const Scalar& a, const Scalar& b) {
    ASSERT_EQ((a + b).to_bytes(), o.add(a, b)) << "add";
    ASSERT_EQ((a - b).to_bytes(), o.sub(a, b)) << "sub";
    ASSERT_EQ((a * b).to_bytes(), o.mul(a, b)) << "mul";
  };
  // Every pair of edge values, then each value with its successor.
  for (std::size_t i = 0; i < edges; ++i) {
    for (std::size_t j = 0; j < edges; ++j) {
      SCOPED_TRACE(testing::Message() << "edge " << i << ", " << j);
      check_pair(values[i], values[j]);
    }
  }
  for (std::size_t i = 0; i + 1 < values.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "value " << i);
    check_pair(values[i], values[i + 1]);
  }

  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "value " << i);
    const Scalar& a = values[i];
    ASSERT_EQ((-a).to_bytes(), o.sub(Scalar::zero(), a));
    ASSERT_EQ(a.square().to_bytes(), o.mul(a, a));
    if (a.is_zero()) continue;
    const ByteArray<32> inv = o.inv(a);
    ASSERT_EQ(a.invert().to_bytes(), inv);
    ASSERT_EQ(a.invert_vartime().to_bytes(), inv);
  }
}

TEST(Scalar, InverseOfZeroIsZero) {
  EXPECT_TRUE(Scalar::zero().invert().is_zero());
  EXPECT_TRUE(Scalar::zero().invert_vartime().is_zero());
}

TEST(Scalar, WideReductionMatchesBignum) {
  Oracle o;
  Inputs in(2);
  std::vector<ByteArray<64>> cases = {ByteArray<64>{}, filled<64>(0xFF)};
  // n·2^256 + (n - 1), 2^256 exactly, and n in the low half.
  ByteArray<64> n_hi_n1{};
  const ByteArray<32> n = hex<32>(kNHex);
  std::copy(n.begin(), n.end(), n_hi_n1.begin());
  std::copy(n.begin(), n.end(), n_hi_n1.begin() + 32);
  n_hi_n1[63] -= 1;
  cases.push_back(n_hi_n1);
  ByteArray<64> two256{};
  two256[31] = 1;
  cases.push_back(two256);
  ByteArray<64> n_lo{};
  std::copy(n.begin(), n.end(), n_lo.begin() + 32);
  cases.push_back(n_lo);
  // Built so that the last folding step overflows 2^256 (a carry no random
  // input reaches).
  cases.push_back(hex<64>(
      "9E87383ED50AD6E290B6E3CD8D5926753B37CEABB6E7D7421FA37A70911972C7"
      "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA67182568D362507DA53EBCCE60288BF"));
  for (int i = 0; i < 2000; ++i) {
    ByteArray<64> w;
    const ByteArray<32> a = in.bytes32();
    const ByteArray<32> b = in.bytes32();
    std::copy(a.begin(), a.end(), w.begin());
    std::copy(b.begin(), b.end(), w.begin() + 32);
    cases.push_back(w);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(Scalar::from_bytes_wide(cases[i]).to_bytes(), o.mod(cases[i])) << "case " << i;
  }
}

TEST(Scalar, DecodersAtTheBoundaries) {
  const ByteArray<32> n = hex<32>(kNHex);
  ByteArray<32> n_minus_1 = n;
  n_minus_1[31] -= 1;
  ByteArray<32> n_plus_1 = n;
  n_plus_1[31] += 1;
  const ByteArray<32> all_ones = filled<32>(0xFF);
  // 2^256 - 1 - n = c - 1.
  const ByteArray<32> ones_minus_n = hex<32>("000000000000000000000000000000014551231950B75FC4402DA1732FC9BEBE");

  struct Case {
    const char* name;
    ByteArray<32> in;
    bool accepted;           // by from_bytes_checked
    ByteArray<32> reduced;   // from_bytes_reduced
  };
  const Case cases[] = {
      {"zero", ByteArray<32>{}, true, ByteArray<32>{}},
      {"n - 1", n_minus_1, true, n_minus_1},
      {"n", n, false, ByteArray<32>{}},
      {"n + 1", n_plus_1, false, hex<32>("0000000000000000000000000000000000000000000000000000000000000001")},
      {"2^256 - 1", all_ones, false, ones_minus_n},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<Scalar> s = Scalar::from_bytes_checked(c.in);
    ASSERT_EQ(s.has_value(), c.accepted);
    if (s) {
      EXPECT_EQ(s->to_bytes(), c.in);
    }
    EXPECT_EQ(Scalar::from_bytes_reduced(c.in).to_bytes(), c.reduced);
  }
  // Wrong lengths are refused, not read.
  EXPECT_FALSE(Scalar::from_bytes_checked(ByteSpan(n_minus_1).first(31)));
  const Bytes longer(33, 0);
  EXPECT_FALSE(Scalar::from_bytes_checked(longer));
}

TEST(Scalar, WordsAreLeastSignificantFirst) {
  const Scalar s = *Scalar::from_bytes_checked(
      hex<32>("0102030405060708111213141516171821222324252627283132333435363738"));
  EXPECT_EQ(s.words(), (Scalar::Words{0x3132333435363738ULL, 0x2122232425262728ULL, 0x1112131415161718ULL,
                                       0x0102030405060708ULL}));
}

TEST(Scalar, IsHighSplitsAtHalfTheOrder) {
  const Scalar half = Scalar::from_bytes_reduced(
      hex<32>("7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF5D576E7357A4501DDFE92F46681B20A0"));
  EXPECT_FALSE(Scalar::zero().is_high());
  EXPECT_FALSE(half.is_high());
  EXPECT_TRUE((half + Scalar::one()).is_high());
  EXPECT_TRUE((-Scalar::one()).is_high());
  // Low-s normalisation maps every high s to its negation, which is low.
  EXPECT_FALSE((-(half + Scalar::one())).is_high());
}

TEST(Scalar, SelectAndEquality) {
  const Scalar a = Scalar::from_u64(7);
  const Scalar b = -Scalar::from_u64(7);
  EXPECT_EQ(Scalar::select(a, b, false), a);
  EXPECT_EQ(Scalar::select(a, b, true), b);
  EXPECT_FALSE(a == b);
  // Equal values built two ways, differing in one high word otherwise.
  EXPECT_EQ(b + a, Scalar::zero());
  EXPECT_FALSE(b == b + Scalar::one());
}

// Hands out scripted 32-byte blocks and counts the draws.
struct ScriptedRng {
  std::deque<ByteArray<32>> blocks;
  int draws = 0;
  void fill_bytes(MutByteSpan out) {
    ASSERT_EQ(out.size(), 32u);
    ASSERT_FALSE(blocks.empty()) << "generator ran dry";
    std::copy(blocks.front().begin(), blocks.front().end(), out.begin());
    blocks.pop_front();
    ++draws;
  }
};

TEST(Scalar, RandomRejectsValuesNotBelowN) {
  const ByteArray<32> n = hex<32>(kNHex);
  ByteArray<32> n_minus_1 = n;
  n_minus_1[31] -= 1;
  ScriptedRng g{{n, filled<32>(0xFF), n_minus_1, ByteArray<32>{}}, 0};
  const Scalar s = Scalar::random(g);
  EXPECT_EQ(g.draws, 3);
  EXPECT_EQ(s.to_bytes(), n_minus_1);  // read big-endian, not reduced

  ScriptedRng zero{{ByteArray<32>{}}, 0};
  EXPECT_TRUE(Scalar::random(zero).is_zero());
  EXPECT_EQ(zero.draws, 1);
}

// ---------------------------------------------------------------- Point

TEST(Point, ArithmeticAndEncodingsMatchOpenSsl) {
  Oracle o;
  Inputs in(3);
  for (int i = 0; i < 150; ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i);
    const Scalar k = in.scalar();
    const Scalar m = in.scalar();
    const Point p = Point::base_mul(k);
    const Point q = Point::base_mul(m);
    const EcPoint op(o.mul(&k, nullptr, nullptr));
    const EcPoint oq(o.mul(&m, nullptr, nullptr));

    ASSERT_EQ(compressed_bytes(p), o.compressed(op.get()));
    const ByteArray<65> u = p.to_uncompressed();
    ASSERT_EQ(Bytes(u.begin(), u.end()), o.uncompressed(op.get()));

    const EcPoint mp(o.mul(nullptr, op.get(), &m));
    ASSERT_EQ(compressed_bytes(p * m), o.compressed(mp.get()));
    ASSERT_EQ(compressed_bytes(m * p), o.compressed(mp.get()));

    const EcPoint sum(o.add(op.get(), oq.get()));
    ASSERT_EQ(compressed_bytes(p + q), o.compressed(sum.get()));
    const EcPoint twice(o.add(op.get(), op.get()));
    ASSERT_EQ(compressed_bytes(p + p), o.compressed(twice.get()));

    // p - q computed by OpenSSL as k·G + (-m)·G.
    const Scalar neg_m = -m;
    const EcPoint diff(o.mul(&k, nullptr, nullptr));
    const EcPoint diff2(o.add(diff.get(), EcPoint(o.mul(&neg_m, nullptr, nullptr)).get()));
    ASSERT_EQ(compressed_bytes(p - q), o.compressed(diff2.get()));
    ASSERT_EQ(compressed_bytes(-q), o.compressed(EcPoint(o.mul(&neg_m, nullptr, nullptr)).get()));

    // Decoding OpenSSL's encodings gives the same points back.
    const Bytes oc = o.compressed(op.get());
    ASSERT_EQ(Point::from_compressed(oc), p);
    ASSERT_EQ(Point::from_sec1_strict(oc), p);
    ASSERT_EQ(Point::from_sec1_strict(o.uncompressed(op.get())), p);

    // Coordinates: x, y parity, x mod n.
    const ByteArray<32> x = p.x_bytes();
    ASSERT_EQ(Bytes(x.begin(), x.end()), Bytes(oc.begin() + 1, oc.end()));
    ASSERT_EQ(p.has_even_y(), (u[64] & 1) == 0);
    ASSERT_EQ(p.x_scalar().to_bytes(), o.mod(ByteSpan(oc).subspan(1)));
    const Point xo = p.x_only();
    ASSERT_TRUE(xo.has_even_y());
    ASSERT_EQ(xo.x_bytes(), p.x_bytes());
    ASSERT_EQ(xo, p.has_even_y() ? p : -p);
  }
}

TEST(Point, GeneratorIsTheStandardOne) {
  EXPECT_EQ(Point::generator().to_compressed(),
            hex<33>("0279BE667EF9DCBBAC55A06295CE870B07029BFCDB2DCE28D959F2815B16F81798"));
  EXPECT_EQ(Point::base_mul(Scalar::one()), Point::generator());
  EXPECT_EQ(Point::generator() * Scalar::from_u64(2),
            *Point::from_compressed(hex<33>("02C6047F9441ED7D6D3045406E95C07CD85C778E4B8CEF3CA7ABAC09B95C709EE5")));
}

TEST(Point, IdentityIsHandledEverywhere) {
  const Point id = Point::identity();
  const Point g = Point::generator();
  const Point p = Point::base_mul(Scalar::from_u64(12345));
  const Scalar n_minus_1 = -Scalar::one();

  struct Case {
    const char* name;
    Point got;
    Point want;
  };
  const Case cases[] = {
      {"P + (-P)", p + (-p), id},
      {"P - P", p - p, id},
      {"identity + P", id + p, p},
      {"P + identity", p + id, p},
      {"identity + identity", id + id, id},
      {"-identity", -id, id},
      {"0 * P", p * Scalar::zero(), id},
      {"k * identity", id * Scalar::from_u64(5), id},
      {"base_mul(0)", Point::base_mul(Scalar::zero()), id},
      {"(n-1) * G + G", Point::base_mul(n_minus_1) + g, id},
      {"(n-1) * P", p * n_minus_1, -p},
      {"sum of nothing", Point::sum({}), id},
      {"sum P, -P", Point::sum(std::vector<Point>{p, -p}), id},
      {"sum P, identity, G", Point::sum(std::vector<Point>{p, id, g}), p + g},
      {"sum identity only", Point::sum(std::vector<Point>{id, id}), id},
      {"default constructed", Point(), id},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got.is_identity(), c.want.is_identity());
    EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(c.got.to_compressed(), c.want.to_compressed());
  }
  // The identity's stand-in coordinates.
  EXPECT_EQ(id.to_compressed(), ByteArray<33>{});
  EXPECT_EQ(id.x_bytes(), ByteArray<32>{});
  EXPECT_TRUE(id.has_even_y());
  EXPECT_TRUE(id.x_scalar().is_zero());
  EXPECT_TRUE(id.x_only().is_identity());
  EXPECT_FALSE(id == g);
  // A point derived from the identity carries on as usual.
  Point acc = p + (-p);
  acc += g;
  EXPECT_EQ(acc, g);
}

TEST(Point, IdentityHasNoUncompressedOrLibraryForm) {
  try {
    (void)Point::identity().to_uncompressed();
    ADD_FAILURE() << "no panic";
  } catch (const Panic& e) {
    EXPECT_EQ(e.message(), "Uncompressed public key should always be 65 bytes");
  }
  EXPECT_THROW((void)Point::identity().raw(), Panic);
  const Point g = Point::generator();
  EXPECT_EQ(Point::from_raw(g.raw()), g);
}

TEST(Point, MultiMulMatchesNaiveSum) {
  Oracle o;
  Inputs in(4);
  for (std::size_t count : {0u, 1u, 2u, 7u, 33u}) {
    SCOPED_TRACE(testing::Message() << count << " terms");
    std::vector<Scalar> ks;
    std::vector<Point> ps;
    EcPoint want(o.infinity());
    for (std::size_t i = 0; i < count; ++i) {
      Scalar k = in.scalar();
      Scalar m = in.scalar();
      // Mix in zero scalars and identity points.
      if (i % 5 == 3) k = Scalar::zero();
      if (i % 7 == 4) m = Scalar::zero();
      ks.push_back(k);
      ps.push_back(Point::base_mul(m));
      const Scalar km = k * m;
      want.reset(o.add(want.get(), EcPoint(o.mul(&km, nullptr, nullptr)).get()));
    }
    const Point got = Point::multi_mul(ks, ps);
    EXPECT_EQ(compressed_bytes(got), o.compressed(want.get()));
    Point naive;
    for (std::size_t i = 0; i < count; ++i) naive += ps[i] * ks[i];
    EXPECT_EQ(got, naive);
  }
}

TEST(Point, MultiMulCancellingToIdentity) {
  const Point p = Point::base_mul(Scalar::from_u64(99));
  const Point q = Point::base_mul(Scalar::from_u64(1000));
  const Scalar a = Scalar::from_u64(3);
  const Scalar b = Scalar::from_u64(10);
  // 3·P + (-3)·P + 10·Q + 10·(-Q)
  const std::vector<Scalar> ks = {a, -a, b, b};
  const std::vector<Point> ps = {p, p, q, -q};
  EXPECT_TRUE(Point::multi_mul(ks, ps).is_identity());
  // Mismatched lengths are a caller bug.
  EXPECT_THROW((void)Point::multi_mul(std::span(ks).first(3), ps), Panic);
}

TEST(Point, CompressedDecoding) {
  const ByteArray<33> g = Point::generator().to_compressed();
  auto with_prefix = [](std::uint8_t prefix, ByteSpan x) {
    Bytes b(1 + x.size(), prefix);
    std::copy(x.begin(), x.end(), b.begin() + 1);
    return b;
  };
  const ByteSpan gx = ByteSpan(g).subspan(1);
  const ByteArray<32> p = hex<32>(kPHex);
  // Not an x coordinate of the curve (BIP-0340 verification vector 11).
  const ByteArray<32> no_point = hex<32>("4A298DACAE57395A15D0795DDBFD1DCB564DA82B0F269BC70A74F8220429BA1D");
  Bytes zeros_then_one(33, 0);
  zeros_then_one[32] = 1;

  struct Case {
    const char* name;
    Bytes in;
    std::optional<Point> want;
  };
  const Case cases[] = {
      {"02 x", with_prefix(0x02, gx), Point::generator()},
      {"03 x", with_prefix(0x03, gx), -Point::generator()},
      {"05 x reads as 02 x", with_prefix(0x05, gx), Point::generator()},
      {"33 zero bytes", Bytes(33, 0), Point::identity()},
      {"00 then non-zero", zeros_then_one, std::nullopt},
      {"prefix 04", with_prefix(0x04, gx), std::nullopt},
      {"prefix 06", with_prefix(0x06, gx), std::nullopt},
      {"prefix 07", with_prefix(0x07, gx), std::nullopt},
      {"prefix 01", with_prefix(0x01, gx), std::nullopt},
      {"prefix FF", with_prefix(0xFF, gx), std::nullopt},
      {"x = p", with_prefix(0x02, p), std::nullopt},
      {"x with no point", with_prefix(0x02, no_point), std::nullopt},
      {"05 and x with no point", with_prefix(0x05, no_point), std::nullopt},
      {"32 bytes", Bytes(g.begin(), g.end() - 1), std::nullopt},
      {"34 bytes", with_prefix(0x02, with_prefix(gx[0], gx)), std::nullopt},
      {"32 zero bytes", Bytes(32, 0), std::nullopt},
      {"empty", Bytes{}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<Point> got = Point::from_compressed(c.in);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) {
      EXPECT_EQ(*got, *c.want);
    }
  }
  // A 05 point re-encodes in the 02 form.
  EXPECT_EQ(Point::from_compressed(with_prefix(0x05, gx))->to_compressed(), g);
  // An odd-y point: 05 gives its negation.
  const Point three = Point::base_mul(Scalar::from_u64(3));
  const Point odd_y = three.has_even_y() ? -three : three;
  const ByteArray<32> ox = odd_y.x_bytes();
  EXPECT_EQ(*Point::from_compressed(with_prefix(0x05, ox)), -odd_y);
}

TEST(Point, StrictSec1Decoding) {
  const Point p = Point::base_mul(Scalar::from_u64(77));
  const ByteArray<33> c = p.to_compressed();
  const ByteArray<65> u = p.to_uncompressed();
  auto with_first = [](ByteSpan b, std::uint8_t first) {
    Bytes out(b.begin(), b.end());
    out[0] = first;
    return out;
  };
  Bytes off_curve(u.begin(), u.end());
  off_curve[64] ^= 1;

  struct Case {
    const char* name;
    Bytes in;
    bool accepted;
  };
  const Case cases[] = {
      {"compressed", Bytes(c.begin(), c.end()), true},
      {"uncompressed", Bytes(u.begin(), u.end()), true},
      {"compact 05", with_first(c, 0x05), false},
      {"33 zero bytes", Bytes(33, 0), false},
      {"hybrid 06", with_first(u, 0x06), false},
      {"hybrid 07", with_first(u, 0x07), false},
      {"uncompressed off the curve", off_curve, false},
      {"04 with 33 bytes", with_first(c, 0x04), false},
      {"02 with 65 bytes", with_first(u, 0x02), false},
      {"64 bytes", Bytes(u.begin(), u.end() - 1), false},
  };
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.name);
    const std::optional<Point> got = Point::from_sec1_strict(cs.in);
    ASSERT_EQ(got.has_value(), cs.accepted);
    if (got) {
      EXPECT_EQ(*got, p);
    }
  }
}

// BIP-0340 test vectors: secret key -> x-only public key, and keys that a
// verifier must refuse.
TEST(Point, XOnlyKeysMatchBip340Vectors) {
  struct KeyCase {
    const char* secret;
    const char* x_only;
  };
  const KeyCase keys[] = {
      {"0000000000000000000000000000000000000000000000000000000000000003",
       "F9308A019258C31049344F85F89D5229B531C845836F99B08601F113BCE036F9"},
      {"B7E151628AED2A6ABF7158809CF4F3C762E7160F38B4DA56A784D9045190CFEF",
       "DFF1D77F2A671C5F36183726DB2341BE58FEAE1DA2DECED843240F7B502BA659"},
      {"C90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B14E5C9",
       "DD308AFEC5777E13121FA72B9CC1B7CC0139715309B086C960E18FD969774EB8"},
      {"0B432B2677937381AEF05BB02A66ECD012773062CF3FA2549E44F58ED2401710",
       "25D1DFF95105F5253C4022F628A996AD3A0D95FBF21D468A1B33F8C160D8F517"},
      {"0340034003400340034003400340034003400340034003400340034003400340",
       "778CAA53B4393AC467774D09497A87224BF9FAB6F6E68B23086497324D6FD117"},
  };
  for (const KeyCase& k : keys) {
    SCOPED_TRACE(k.x_only);
    const Point p = Point::base_mul(*Scalar::from_bytes_checked(hex<32>(k.secret)));
    const ByteArray<32> x = hex<32>(k.x_only);
    EXPECT_EQ(p.x_bytes(), x);
    const std::optional<Point> lifted = Point::from_x_only(x);
    ASSERT_TRUE(lifted);
    EXPECT_TRUE(lifted->has_even_y());
    EXPECT_EQ(*lifted, p.x_only());
  }
  // Not on the curve (vector 5), x not below p (vector 14), wrong length.
  EXPECT_FALSE(Point::from_x_only(hex<32>("EEFDEA4CDB677750A420FEE807EACF21EB9898AE79B9768766E4FAA04A2D4A34")));
  EXPECT_FALSE(Point::from_x_only(hex<32>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFC30")));
  EXPECT_FALSE(Point::from_x_only(ByteArray<33>{}));
  EXPECT_FALSE(Point::from_x_only(ByteArray<32>{}));  // no point has x = 0
}

TEST(Point, XScalarSubtractsNOnceForLargeX) {
  // Find the first x in [n, p) that lies on the curve: the case where an
  // ECDSA r differs from the nonce's x.
  Oracle o;
  ByteArray<32> x = hex<32>(kNHex);
  std::optional<Point> p;
  for (int i = 0; i < 1000 && !p; ++i) {
    p = Point::from_x_only(x);
    if (!p) {
      for (int j = 31; j >= 0 && ++x[static_cast<std::size_t>(j)] == 0; --j) {
      }
    }
  }
  ASSERT_TRUE(p) << "no point with x in [n, n + 1000)";
  EXPECT_EQ(p->x_bytes(), x);
  EXPECT_EQ(p->x_scalar().to_bytes(), o.mod(x));
  EXPECT_EQ(p->x_scalar().to_bytes(), Scalar::from_bytes_reduced(x).to_bytes());
}

TEST(Point, EqualityComparesPoints) {
  const Point a = Point::base_mul(Scalar::from_u64(5));
  const Point b = Point::generator() * Scalar::from_u64(5);
  const Point c = Point::base_mul(Scalar::from_u64(6));
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a == c);
  EXPECT_FALSE(a == -a);  // same x, other y
  EXPECT_EQ(Point::identity(), Point::identity());
}

}  // namespace
}  // namespace velto::crypto
