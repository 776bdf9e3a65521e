#include "noise-kk/keys.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/chacha.hpp"

namespace velto::noise {
namespace {

using crypto::ByteArray;

ByteArray<32> hex32(std::string_view h) {
  ByteArray<32> out{};
  for (std::size_t i = 0; i < 32; ++i)
    out[i] = static_cast<std::uint8_t>(std::stoi(std::string(h.substr(2 * i, 2)), nullptr, 16));
  return out;
}

// 256-bit little-endian arithmetic, enough to build the refused values.
ByteArray<32> add(const ByteArray<32>& a, const ByteArray<32>& b) {
  ByteArray<32> out{};
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    const unsigned s = a[i] + b[i] + carry;
    out[i] = static_cast<std::uint8_t>(s);
    carry = s >> 8;
  }
  return out;
}

ByteArray<32> small(std::uint8_t v) {
  ByteArray<32> out{};
  out[0] = v;
  return out;
}

ByteArray<32> neg_small(std::uint8_t v) {  // 2^256 - v, for v >= 1: the complement of v - 1
  ByteArray<32> out = small(static_cast<std::uint8_t>(v - 1));
  for (auto& b : out) b = static_cast<std::uint8_t>(~b);
  return out;
}

std::vector<ByteArray<32>> refused_encodings() {
  ByteArray<32> two_255{};
  two_255[31] = 0x80;
  const ByteArray<32> p = add(two_255, neg_small(19));  // 2^255 - 19
  const ByteArray<32> u1 = hex32("e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800");
  const ByteArray<32> u2 = hex32("5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157");
  const ByteArray<32> two_p = add(p, p);
  return {small(0),          small(1),      u1,         u2,         add(p, neg_small(1)), p,
          add(p, small(1)),  add(u1, p),    add(u2, p), add(two_p, neg_small(1)), two_p, add(two_p, small(1))};
}

ByteArray<32> openssl_x25519_public(const ByteArray<32>& priv) {
  EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, priv.data(), priv.size());
  EXPECT_NE(key, nullptr);
  ByteArray<32> out{};
  std::size_t len = out.size();
  EXPECT_EQ(EVP_PKEY_get_raw_public_key(key, out.data(), &len), 1);
  EVP_PKEY_free(key);
  return out;
}

TEST(PublicKeyValidation, TheTwelveRefusedEncodings) {
  const auto refused = refused_encodings();
  ASSERT_EQ(refused.size(), 12u);
  // Spot checks of the arithmetic against the table's byte descriptions.
  EXPECT_EQ(refused[4][0], 0xEC);
  EXPECT_EQ(refused[6][31], 0x7F);
  EXPECT_EQ(refused[7][0], 0xCD);
  EXPECT_EQ(refused[8][0], 0x4C);
  EXPECT_EQ(refused[9][0], 0xD9);
  EXPECT_EQ(refused[11][31], 0xFF);

  for (std::size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    auto k = public_key_from_bytes(refused[i]);
    ASSERT_FALSE(k.has_value());
    EXPECT_EQ(k.error().kind(), NoiseError::Kind::InvalidPublicKeyError);
    EXPECT_EQ(k.error().display(), "Invalid Public Key.");
  }
}

TEST(PublicKeyValidation, EveryOtherValueIsAcceptedUnchanged) {
  const auto refused = refused_encodings();
  // Changing any one byte of a refused value gives an accepted one, unless
  // the change lands on another refused value.
  for (const auto& r : refused) {
    for (std::size_t pos = 0; pos < 32; ++pos) {
      for (const std::uint8_t flip : {0x01, 0x80}) {
        ByteArray<32> v = r;
        v[pos] ^= flip;
        const bool also_refused = std::find(refused.begin(), refused.end(), v) != refused.end();
        auto k = public_key_from_bytes(v);
        ASSERT_EQ(k.has_value(), !also_refused) << pos;
        if (k) {
          EXPECT_EQ(k->bytes(), v);
        }
      }
    }
  }
  ByteArray<32> zero_with_top_bit{};
  zero_with_top_bit[31] = 0x80;
  EXPECT_TRUE(public_key_from_bytes(zero_with_top_bit).has_value());
}

TEST(PublicKeyCodec, RawBytesAndRefusals) {
  const ByteArray<32> good = hex32("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  const PublicKey key = public_key_from_bytes(good).value();
  EXPECT_EQ(sised::encode(key).value(), crypto::Bytes(good.begin(), good.end()));
  EXPECT_EQ(sised::decode<PublicKey>(good).value(), key);
  EXPECT_EQ(key.display(), "Fz21Bh7WKCb2CUZNm9WbhhuqBqVR4bXJzEMpb3PpfCCe");

  auto zero = sised::decode<PublicKey>(crypto::Bytes(32, 0));
  ASSERT_FALSE(zero.has_value());
  EXPECT_EQ(zero.error(), sised::SisedError::custom("Invalid public key"));
  EXPECT_EQ(sised::decode<PublicKey>(crypto::Bytes(31, 5)).error().kind(), sised::SisedError::Kind::OutOfBounds);

  const PublicKey one = public_key_from_bytes(small(2)).value();
  EXPECT_EQ(one.debug(),
            "PublicKey { k: [2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "
            "0, 0] }");
  EXPECT_LT(one, key);
}

TEST(KeyPairs, FromPrivateMatchesRfc7748AndOpenSsl) {
  struct Case {
    std::string_view priv, pub;
  };
  // RFC 7748 section 6.1 (Alice, Bob).
  const std::vector<Case> cases = {
      {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
       "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"},
      {"5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
       "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"},
  };
  for (const auto& c : cases) {
    auto pair = keypair_from_private(hex32(c.priv));
    ASSERT_TRUE(pair.has_value());
    EXPECT_EQ(pair->private_key().array(), hex32(c.priv));  // kept unclamped
    EXPECT_EQ(pair->public_key().bytes(), hex32(c.pub));
  }

  crypto::ChaCha8Rng rng(small(7));
  for (int i = 0; i < 64; ++i) {
    ByteArray<32> priv;
    rng.fill_bytes(priv);
    if (i == 0) priv.fill(0xFF);
    if (i == 1) priv = small(1);  // clamping makes it a multiple of 8 with bit 254 set
    auto pair = keypair_from_private(priv);
    ASSERT_TRUE(pair.has_value());
    EXPECT_EQ(pair->private_key().array(), priv);
    EXPECT_EQ(pair->public_key().bytes(), openssl_x25519_public(priv)) << i;
  }
}

TEST(KeyPairs, ZeroPrivateKeyIsRefused) {
  auto pair = keypair_from_private(ByteArray<32>{});
  ASSERT_FALSE(pair.has_value());
  EXPECT_EQ(pair.error().kind(), NoiseError::Kind::InvalidKeyError);
  EXPECT_EQ(pair.error().display(), "Invalid Key.");
}

TEST(KeyPairs, FreshPairsDifferAndAreConsistent) {
  const NoiseKeyPair a = generate_ephemeral();
  const NoiseKeyPair b = generate_ephemeral();
  EXPECT_NE(a.private_key().array(), b.private_key().array());
  EXPECT_NE(a.public_key(), b.public_key());
  for (const NoiseKeyPair* k : {&a, &b})
    EXPECT_EQ(k->public_key().bytes(), openssl_x25519_public(k->private_key().array()));

  // A generator that first yields 32 zero bytes: that draw is redrawn.
  struct ZeroThenCount {
    int calls = 0;
    void fill_bytes(crypto::MutByteSpan out) {
      std::fill(out.begin(), out.end(), static_cast<std::uint8_t>(calls == 0 ? 0 : 3));
      ++calls;
    }
  } g;
  const NoiseKeyPair c = generate_keypair(g);
  EXPECT_EQ(g.calls, 2);
  EXPECT_EQ(c.private_key()[0], 3);
}

TEST(NoiseErrorTest, TextsAndDebugForms) {
  using K = NoiseError::Kind;
  struct Case {
    K kind;
    std::string display, debug;
  };
  const std::vector<Case> cases = {
      {K::DecryptionError, "Unsuccesful decryption.", "DecryptionError"},
      {K::UnsupportedMessageLengthError, "Unsupported Message Length.", "UnsupportedMessageLengthError"},
      {K::ExhaustedNonceError, "Reached maximum number of messages that can be sent for this session.",
       "ExhaustedNonceError"},
      {K::InvalidKeyError, "Invalid Key.", "InvalidKeyError"},
      {K::InvalidPublicKeyError, "Invalid Public Key.", "InvalidPublicKeyError"},
      {K::EmptyKeyError, "Empty Key.", "EmptyKeyError"},
      {K::InvalidInputError, "Invalid input length.", "InvalidInputError"},
      {K::DerivePublicKeyFromEmptyKeyError, "Unable to derive PublicKey.", "DerivePublicKeyFromEmptyKeyError"},
      {K::MissingnsError, "Invalid message length.", "MissingnsError"},
      {K::MissingneError, "Invalid message length.", "MissingneError"},
      {K::MissingHsMacError, "Invalid message length.", "MissingHsMacError"},
      {K::MissingrsError, "Invalid message length.", "MissingrsError"},
      {K::MissingreError, "Invalid message length.", "MissingreError"},
  };
  for (const auto& c : cases) {
    const NoiseError e(c.kind);
    EXPECT_EQ(e.display(), c.display);
    EXPECT_EQ(e.debug(), c.debug);
    EXPECT_EQ(e.source(), nullptr);
  }

  const NoiseError hex = NoiseError::hex(crypto::HexError::odd_length());
  EXPECT_EQ(hex.kind(), K::Hex);
  EXPECT_EQ(hex.display(), "Odd number of digits");
  EXPECT_EQ(hex.debug(), "Hex(OddLength)");
  ASSERT_NE(hex.source(), nullptr);
  EXPECT_EQ(hex.source()->display(), "Odd number of digits");
  const NoiseError bad_char = NoiseError::hex(crypto::HexError::invalid_hex_character('x', 3));
  EXPECT_EQ(bad_char.debug(), "Hex(InvalidHexCharacter { c: 'x', index: 3 })");
  EXPECT_EQ(bad_char.display(), "Invalid character 'x' at position 3");
}

}  // namespace
}  // namespace velto::noise
