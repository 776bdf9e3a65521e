#include "velto-ecdsa/partial_sig.hpp"

#include <gtest/gtest.h>
#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"

namespace velto::ecdsa {
namespace {

using crypto::Point;
using crypto::Scalar;

const crypto::ByteArray<32> kOrder = [] {
  crypto::ByteArray<32> out{};
  const auto b = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
  std::copy(b.begin(), b.end(), out.begin());
  return out;
}();

// A signing whose shares the test knows: the numerator W = phi·(m + r·x)
// and the denominator U = phi·k split into `signers` random additive shares.
struct Fixture {
  Scalar x, k, phi;
  crypto::ByteArray<32> hash{};
  Point nonce;
  Point key;
  std::vector<PartialSignature> partials;

  Scalar raw_s() const {
    const Scalar m = Scalar::from_bytes_reduced(hash);
    return (m + nonce.x_scalar() * x) * k.invert();
  }
};

Fixture make_fixture(std::uint8_t seed, std::uint16_t signers) {
  crypto::ByteArray<32> s{};
  s[0] = seed;
  crypto::ChaCha8Rng rng(s);
  Fixture f;
  f.x = Scalar::random(rng);
  f.k = Scalar::random(rng);
  f.phi = Scalar::random(rng);
  rng.fill_bytes(f.hash);
  f.nonce = Point::base_mul(f.k);
  f.key = Point::base_mul(f.x);
  const Scalar m = Scalar::from_bytes_reduced(f.hash);
  Scalar w_rest = f.phi * (m + f.nonce.x_scalar() * f.x);
  Scalar u_rest = f.phi * f.k;
  for (std::uint16_t i = 0; i < signers; ++i) {
    PartialSignature p;
    if (i + 1 < signers) {
      p.w = Scalar::random(rng);
      p.u = Scalar::random(rng);
    } else {
      p.w = w_rest;
      p.u = u_rest;
    }
    w_rest -= p.w;
    u_rest -= p.u;
    p.public_nonce = f.nonce;
    p.public_key = f.key.to_compressed();
    p.message_hash = f.hash;
    p.required = signers;
    f.partials.push_back(p);
  }
  return f;
}

// libsecp256k1 as the oracle: the signature verifies, is low-s, and the
// recovery id gives back the key.
void expect_recoverable(const RecoverableSignature& sig, const Point& key, const crypto::ByteArray<32>& hash) {
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  crypto::ByteArray<64> compact{};
  const auto r = sig.r.to_bytes();
  const auto s = sig.s.to_bytes();
  std::copy(r.begin(), r.end(), compact.begin());
  std::copy(s.begin(), s.end(), compact.begin() + 32);
  secp256k1_ecdsa_signature plain;
  ASSERT_EQ(secp256k1_ecdsa_signature_parse_compact(ctx, &plain, compact.data()), 1);
  EXPECT_EQ(secp256k1_ecdsa_verify(ctx, &plain, hash.data(), &key.raw()), 1);
  EXPECT_FALSE(sig.s.is_high());
  secp256k1_ecdsa_recoverable_signature rec;
  ASSERT_EQ(secp256k1_ecdsa_recoverable_signature_parse_compact(ctx, &rec, compact.data(), sig.recovery_id), 1);
  secp256k1_pubkey recovered;
  ASSERT_EQ(secp256k1_ecdsa_recover(ctx, &recovered, &rec, hash.data()), 1);
  EXPECT_TRUE(Point::from_raw(recovered) == key);
}

// Across seeds both halves of the raw s occur; the high ones come back as
// n - s with bit 0 of the recovery id flipped.
TEST(CombinePartialSignaturesTest, LowSAndRecoveryId) {
  int flipped = 0;
  int kept = 0;
  for (std::uint8_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(static_cast<int>(seed));
    const Fixture f = make_fixture(seed, 3);
    const auto sig = combine_partial_signatures(f.partials);
    ASSERT_TRUE(sig.has_value()) << sig.error().display();
    expect_recoverable(*sig, f.key, f.hash);
    const Scalar raw = f.raw_s();
    const bool high = raw.is_high();
    EXPECT_EQ(sig->s, high ? -raw : raw);
    EXPECT_EQ(sig->recovery_id, (f.nonce.has_even_y() ? 0 : 1) ^ (high ? 1 : 0));
    EXPECT_EQ(sig->r, f.nonce.x_scalar());
    (high ? flipped : kept) += 1;
  }
  EXPECT_GT(flipped, 0);
  EXPECT_GT(kept, 0);
}

// A nonce point whose x is at least n: r = x - n and bit 1 of the recovery
// id. Nobody knows its discrete log, so the key is the one that makes (r, s)
// valid for it: X = r^-1·(s·R - m·G), with w = s and u = 1.
TEST(CombinePartialSignaturesTest, NonceXAboveTheOrder) {
  std::optional<Point> nonce;
  crypto::ByteArray<32> x = kOrder;
  while (!nonce) {
    x[31] = static_cast<std::uint8_t>(x[31] + 1);
    nonce = Point::from_x_only(x);
  }
  crypto::ByteArray<32> hash{};
  hash[0] = 0x42;
  const Scalar m = Scalar::from_bytes_reduced(hash);
  const Scalar r = nonce->x_scalar();
  const Scalar s = Scalar::from_u64(12345);
  const Point key = (*nonce * s - Point::base_mul(m)) * r.invert();
  PartialSignature own;
  own.w = s;
  own.u = Scalar::one();
  own.public_nonce = *nonce;
  own.public_key = key.to_compressed();
  own.message_hash = hash;
  own.required = 1;
  const auto sig = combine_partial_signatures(std::span(&own, 1));
  ASSERT_TRUE(sig.has_value()) << sig.error().display();
  EXPECT_EQ(sig->recovery_id & 2, 2);
  EXPECT_EQ(sig->r, r);
  // r is x minus n: a small number.
  EXPECT_EQ(r.to_bytes()[0], 0);
  expect_recoverable(*sig, key, hash);
}

TEST(CombinePartialSignaturesTest, SingleSigner) {
  const Fixture f = make_fixture(40, 1);
  const auto sig = combine_partial_signatures(f.partials);
  ASSERT_TRUE(sig.has_value());
  expect_recoverable(*sig, f.key, f.hash);
}

TEST(CombinePartialSignaturesTest, Refusals) {
  const Fixture f = make_fixture(7, 3);
  struct Case {
    const char* name;
    std::function<void(std::vector<PartialSignature>&)> change;
    std::string error;
  };
  const Case cases[] = {
      {"no signature", [](auto& v) { v.clear(); }, "Error signing from partial signatures: `Insufficient partial signatures provided`"},
      {"one other of two", [](auto& v) { v.pop_back(); },
       "Error signing from partial signatures: `Insufficient partial signatures provided`"},
      {"three others of two", [](auto& v) { v.push_back(v[1]); },
       "Error signing from partial signatures: `Insufficient partial signatures provided`"},
      {"own required 0", [](auto& v) { v[0].required = 0; },
       "Error signing from partial signatures: `Insufficient partial signatures provided`"},
      {"public key", [](auto& v) { v[2].public_key[5] ^= 1; }, "Error signing from partial signatures: `Public key mismatch`"},
      {"message hash, last byte", [](auto& v) { v[1].message_hash[31] ^= 1; },
       "Error signing from partial signatures: `Message hash mismatch`"},
      {"key and hash: the key first",
       [](auto& v) {
         v[1].message_hash[0] ^= 1;
         v[1].public_key[1] ^= 1;
       },
       "Error signing from partial signatures: `Public key mismatch`"},
      {"public nonce", [](auto& v) { v[2].public_nonce = Point::generator(); },
       "Error signing from partial signatures: `Public nonce mismatch`"},
      {"required count", [](auto& v) { v[1].required = 4; },
       "Error signing from partial signatures: `Partial signatures required mismatch`"},
      {"u summing to 0",
       [](auto& v) {
         v[0].u = Scalar::from_u64(5);
         v[1].u = Scalar::from_u64(6);
         v[2].u = -Scalar::from_u64(11);
       },
       "Phi time K resulted in zero"},
      {"one w changed", [](auto& v) { v[1].w += Scalar::one(); }, "Unknown error in signing"},
      {"one u changed", [](auto& v) { v[2].u += Scalar::one(); }, "Unknown error in signing"},
      {"identity nonce everywhere",
       [](auto& v) {
         for (auto& p : v) p.public_nonce = Point::identity();
       },
       "Unknown error in signing"},
      {"another key everywhere",
       [](auto& v) {
         for (auto& p : v) p.public_key = Point::generator().to_compressed();
       },
       "Unknown error in signing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PartialSignature> v = f.partials;
    c.change(v);
    const auto sig = combine_partial_signatures(v);
    ASSERT_FALSE(sig.has_value());
    EXPECT_EQ(sig.error().display(), c.error);
  }
  // The others may come in any order.
  std::vector<PartialSignature> swapped = f.partials;
  std::swap(swapped[1], swapped[2]);
  EXPECT_TRUE(combine_partial_signatures(swapped).has_value());
}

TEST(PartialSignatureCodecTest, WireFormAndRefusals) {
  const Fixture f = make_fixture(9, 2);
  const PartialSignature& p = f.partials[0];
  const crypto::Bytes wire = *sised::encode(p);
  ASSERT_EQ(wire.size(), 164u);
  EXPECT_TRUE(std::equal(wire.begin(), wire.begin() + 32, p.w.to_bytes().begin()));
  EXPECT_TRUE(std::equal(wire.begin() + 32, wire.begin() + 64, p.u.to_bytes().begin()));
  EXPECT_TRUE(std::equal(wire.begin() + 64, wire.begin() + 97, p.public_nonce.to_compressed().begin()));
  EXPECT_TRUE(std::equal(wire.begin() + 97, wire.begin() + 130, p.public_key.begin()));
  EXPECT_TRUE(std::equal(wire.begin() + 130, wire.begin() + 162, p.message_hash.begin()));
  EXPECT_EQ(wire[162], 2);
  EXPECT_EQ(wire[163], 0);

  struct Case {
    const char* name;
    std::function<void(crypto::Bytes&)> change;
    std::optional<std::string> error;
  };
  const Case cases[] = {
      {"as encoded", [](crypto::Bytes&) {}, std::nullopt},
      {"170 bytes", [](crypto::Bytes& m) { m.resize(170, 0xEE); }, std::nullopt},
      {"required 8192", [](crypto::Bytes& m) { m[162] = 0x00; m[163] = 0x20; }, std::nullopt},
      {"163 bytes", [](crypto::Bytes& m) { m.pop_back(); }, "Out of bounds"},
      {"required 0", [](crypto::Bytes& m) { m[162] = 0; }, "Invalid number of parties"},
      {"required 8193", [](crypto::Bytes& m) { m[162] = 0x01; m[163] = 0x20; }, "Invalid number of parties"},
      {"w equal to n", [](crypto::Bytes& m) { std::copy(kOrder.begin(), kOrder.end(), m.begin()); }, "Invalid Scalar"},
      {"u equal to n", [](crypto::Bytes& m) { std::copy(kOrder.begin(), kOrder.end(), m.begin() + 32); }, "Invalid Scalar"},
      {"nonce prefix 07", [](crypto::Bytes& m) { m[64] = 0x07; }, "Invalid Compressed AffinePoint"},
      // The public key is kept as bytes and only compared.
      {"public key prefix 07", [](crypto::Bytes& m) { m[97] = 0x07; }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    crypto::Bytes m = wire;
    c.change(m);
    const auto decoded = sised::decode<PartialSignature>(m);
    if (c.error) {
      ASSERT_FALSE(decoded.has_value());
      EXPECT_EQ(decoded.error().display(), *c.error);
      continue;
    }
    ASSERT_TRUE(decoded.has_value()) << decoded.error().display();
    EXPECT_EQ(decoded->w, p.w);
    EXPECT_EQ(decoded->u, p.u);
    EXPECT_TRUE(decoded->public_nonce == p.public_nonce);
    EXPECT_TRUE(std::equal(decoded->public_key.begin(), decoded->public_key.end(), m.begin() + 97));
    EXPECT_EQ(decoded->message_hash, p.message_hash);
    EXPECT_EQ(decoded->required, m[162] | (m[163] << 8));
  }
}

}  // namespace
}  // namespace velto::ecdsa
