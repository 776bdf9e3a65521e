#include "velto-ecdsa/keys.hpp"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <secp256k1.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "crypto/error.hpp"

namespace velto::ecdsa {
namespace {

using crypto::ByteArray;
using crypto::Bytes;
using crypto::Point;
using crypto::Scalar;

Bytes unhex(const std::string& s) {
  auto b = crypto::hex_decode(s);
  if (!b) ADD_FAILURE() << "bad hex in test data: " << s;
  return b ? *b : Bytes{};
}

template <std::size_t N>
ByteArray<N> unhex_array(const std::string& s) {
  const Bytes b = unhex(s);
  ByteArray<N> out{};
  if (b.size() != N) {
    ADD_FAILURE() << "expected " << N << " bytes: " << s;
    return out;
  }
  std::copy(b.begin(), b.end(), out.begin());
  return out;
}

Scalar scalar_hex(const std::string& s) { return *Scalar::from_bytes_checked(unhex(s)); }

std::string panic_message(const std::function<void()>& f) {
  try {
    f();
  } catch (const Panic& p) {
    return p.message();
  }
  return "(no panic)";
}

// ---------------------------------------------------------------- key-share hash

// Rows from keyshare_hash.txt: a base key, the base with one field changed
// (each of the six), an identity public key and maximal ids; hashes by PyPI's
// blake3.
TEST(KeyshareHash, MatchesIndependentBlake3) {
  std::ifstream in(VELTO_TESTDATA_DIR "/keyshare_hash.txt");
  ASSERT_TRUE(in) << "missing keyshare_hash.txt";
  std::vector<ByteArray<32>> seen;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    std::string name, secret, pub, chain, hash;
    unsigned id = 0, t = 0, n = 0;
    row >> name >> secret >> pub >> chain >> id >> t >> n >> hash;
    SCOPED_TRACE(name);
    const std::optional<Point> key = Point::from_compressed(unhex(pub));
    ASSERT_TRUE(key);
    const KeyPair kp{scalar_hex(secret),
                     unhex_array<32>(chain),
                     *key,
                     PartyId::unchecked(static_cast<std::uint16_t>(id)),
                     static_cast<std::uint16_t>(t),
                     static_cast<std::uint16_t>(n)};
    const ByteArray<32> h = keyshare_hash(kp);
    EXPECT_EQ(crypto::hex_encode(h), hash);
    for (const auto& other : seen) EXPECT_NE(other, h);
    seen.push_back(h);
  }
  EXPECT_EQ(seen.size(), 9u);
}

// ---------------------------------------------------------------- public key forms

TEST(PubkeyEncoding, BothFormsNameTheSamePointAndRefuseTheIdentity) {
  crypto::ChaCha8Rng rng(ByteArray<32>{1});
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  for (int i = 0; i < 16; ++i) {
    const Point p = Point::base_mul(Scalar::random(rng));
    const ByteArray<33> c = pubkey_to_compressed(p);
    const ByteArray<65> u = pubkey_to_uncompressed(p);
    EXPECT_EQ(c[0], p.has_even_y() ? 0x02 : 0x03);
    EXPECT_EQ(u[0], 0x04);
    secp256k1_pubkey a, b;
    ASSERT_EQ(secp256k1_ec_pubkey_parse(ctx, &a, c.data(), c.size()), 1);
    ASSERT_EQ(secp256k1_ec_pubkey_parse(ctx, &b, u.data(), u.size()), 1);
    EXPECT_EQ(secp256k1_ec_pubkey_cmp(ctx, &a, &b), 0);
    EXPECT_EQ(secp256k1_ec_pubkey_cmp(ctx, &a, &p.raw()), 0);
  }
  EXPECT_EQ(panic_message([] { (void)pubkey_to_compressed(Point::identity()); }),
            "Compressed public key should always be 33 bytes");
  EXPECT_EQ(panic_message([] { (void)pubkey_to_uncompressed(Point::identity()); }),
            "Uncompressed public key should always be 65 bytes");
}

// ---------------------------------------------------------------- scalars

TEST(ScalarFromBeBytes, AcceptsExactlyOneToNMinusOne) {
  struct Case {
    const char* hex;
    bool accepted;
  };
  const Case cases[] = {
      {"0000000000000000000000000000000000000000000000000000000000000000", false},
      {"0000000000000000000000000000000000000000000000000000000000000001", true},
      {"8000000000000000000000000000000000000000000000000000000000000000", true},
      {"fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364140", true},   // n - 1
      {"fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141", false},  // n
      {"fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364142", false},  // n + 1
      {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    const std::optional<Scalar> s = scalar_from_be_bytes(unhex(c.hex));
    ASSERT_EQ(s.has_value(), c.accepted);
    if (s) {
      EXPECT_EQ(crypto::hex_encode(s->to_bytes()), c.hex);
    }
  }
  for (std::size_t len : {0u, 31u, 33u}) {
    const Bytes b(len, 1);
    EXPECT_EQ(panic_message([&] { (void)scalar_from_be_bytes(b); }), "Slice must be the same length as the array");
  }
}

// ---------------------------------------------------------------- signatures

// OpenSSL's encoding of (r, s), and (r, s) read back from a DER string by it.
Bytes openssl_der(const Scalar& r, const Scalar& s) {
  const ByteArray<32> rb = r.to_bytes(), sb = s.to_bytes();
  ECDSA_SIG* sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(rb.data(), 32, nullptr), BN_bin2bn(sb.data(), 32, nullptr));
  unsigned char* der = nullptr;
  const int len = i2d_ECDSA_SIG(sig, &der);
  Bytes out(der, der + (len > 0 ? len : 0));
  OPENSSL_free(der);
  ECDSA_SIG_free(sig);
  return out;
}

std::optional<ByteArray<64>> openssl_parse(const Bytes& der) {
  const unsigned char* p = der.data();
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
  if (sig == nullptr) return std::nullopt;
  std::optional<ByteArray<64>> out;
  if (p == der.data() + der.size()) {
    out.emplace();
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), out->data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), out->data() + 32, 32);
  }
  ECDSA_SIG_free(sig);
  return out;
}

void check_signature_forms(const Scalar& r, const Scalar& s) {
  const Bytes der = signature_to_der(r, s);
  EXPECT_LE(der.size(), 73u);
  // Canonical DER: byte for byte what OpenSSL writes.
  EXPECT_EQ(crypto::hex_encode(der), crypto::hex_encode(openssl_der(r, s)));
  // Both forms read back to the same (r, s).
  const std::optional<ByteArray<64>> back = openssl_parse(der);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, signature_to_bytes(r, s));
  // libsecp256k1's strict DER parser takes it.
  secp256k1_ecdsa_signature parsed;
  EXPECT_EQ(secp256k1_ecdsa_signature_parse_der(crypto::secp256k1_ctx(), &parsed, der.data(), der.size()), 1);
}

TEST(SignatureForms, DerIsMinimalAndRoundTrips) {
  struct Case {
    const char* r;
    const char* s;
    std::size_t der_size;
  };
  const Case cases[] = {
      // Both top bits set: each INTEGER needs a 0x00 prefix (33 bytes).
      {"fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364140",
       "8000000000000000000000000000000000000000000000000000000000000000", 72},
      // Top bits clear, full width: 32-byte INTEGERs.
      {"7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
       "0100000000000000000000000000000000000000000000000000000000000001", 70},
      // Leading zero bytes are dropped; a set top bit after them needs 0x00.
      {"0000000000000000000000000000000000000000000000000000000000000001",
       "00000000000000000000000000000000000000000000000000000000000000ff", 9},
      {"0000000000000000000000000000000000000000000000000000000000000080",
       "000000000000000000000000000000000000000000000000000000000000007f", 9},
      {"00ff000000000000000000000000000000000000000000000000000000000000",
       "0000000000000000000000000000000000000000000000000000000000000100", 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.r) + " " + c.s);
    const Scalar r = scalar_hex(c.r), s = scalar_hex(c.s);
    EXPECT_EQ(signature_to_der(r, s).size(), c.der_size);
    check_signature_forms(r, s);
  }
  crypto::ChaCha8Rng rng(ByteArray<32>{2});
  for (int i = 0; i < 200; ++i) check_signature_forms(Scalar::random(rng), Scalar::random(rng));
}

TEST(SignatureForms, ZeroComponentIsABug) {
  EXPECT_EQ(panic_message([] { (void)signature_to_der(Scalar::zero(), Scalar::one()); }), "Always a valid signature");
  EXPECT_EQ(panic_message([] { (void)signature_to_der(Scalar::one(), Scalar::zero()); }), "Always a valid signature");
}

}  // namespace
}  // namespace velto::ecdsa
