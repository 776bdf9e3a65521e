#include "crypto/hash.hpp"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <string>
#include <string_view>
#include <vector>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

Bytes from_hex(std::string_view hex) {
  const auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
  };
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return out;
}

Bytes to_bytes(ByteSpan s) { return Bytes(s.begin(), s.end()); }

// Byte i is (seed + i) mod 251: the input pattern of the generated cases.
Bytes pattern(std::size_t n, std::size_t seed = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((seed + i) % 251);
  return out;
}

const std::string kMsg448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kMsg896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
    "opqrsmnopqrstnopqrstu";
const std::string kMillionA(1000000, 'a');

// Feeds `data` to a hasher in pieces of the given sizes (cycled), to reach
// every buffering path of the incremental interfaces.
template <class H>
H& feed_in_pieces(H& h, ByteSpan data, std::vector<std::size_t> pieces) {
  std::size_t at = 0;
  for (std::size_t k = 0; at < data.size(); ++k) {
    const std::size_t n = std::min(pieces[k % pieces.size()], data.size() - at);
    h.update(data.subspan(at, n));
    at += n;
  }
  return h;
}

const std::vector<std::vector<std::size_t>> kSplits = {{1}, {7}, {63, 1}, {64}, {65, 3}, {127, 129}};

// ---------------------------------------------------------------- SHA-2

struct ShaCase {
  const std::string* msg;
  const char* sha256;
  const char* sha512;
};

// FIPS 180 examples.
const std::string kEmpty;
const std::string kAbc = "abc";
const ShaCase kShaCases[] = {
    {&kEmpty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d287"
     "7eec2f63b931bd47417a81a538327af927da3e"},
    {&kAbc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3"
     "feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {&kMsg448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57"
     "789ca031ad85c7a71dd70354ec631238ca3445"},
    {&kMsg896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4"
     "b5433ac7d329eeb6dd26545e96e55b874be909"},
    {&kMillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce5"
     "77c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

TEST(Sha2, PublishedExamplesOneShotAndIncremental) {
  for (const auto& c : kShaCases) {
    SCOPED_TRACE(c.msg->substr(0, 16));
    const ByteSpan msg = as_bytes(*c.msg);
    EXPECT_EQ(to_bytes(sha256(msg)), from_hex(c.sha256));
    EXPECT_EQ(to_bytes(sha512(msg)), from_hex(c.sha512));
    if (msg.size() > 1000) continue;
    for (const auto& split : kSplits) {
      Sha256 h256;
      Sha512 h512;
      EXPECT_EQ(to_bytes(feed_in_pieces(h256, msg, split).finalize()), from_hex(c.sha256));
      EXPECT_EQ(to_bytes(feed_in_pieces(h512, msg, split).finalize()), from_hex(c.sha512));
    }
  }
}

// A prepared prefix state is copied and continued many times; neither the
// copies nor finalising may disturb it.
TEST(Sha2, PreparedPrefixStateIsClonedAndStaysUnchanged) {
  const Bytes prefix = pattern(29, 3);
  const Bytes a = pattern(64, 40);
  const Bytes b = pattern(200, 90);
  Sha512 prepared;
  prepared.update(prefix);

  const auto concat = [](const Bytes& x, const Bytes& y) {
    Bytes out = x;
    out.insert(out.end(), y.begin(), y.end());
    return out;
  };
  Sha512 first = prepared;
  EXPECT_EQ(first.update(a).finalize(), sha512(concat(prefix, a)));
  Sha512 second = prepared;
  EXPECT_EQ(second.update(b).finalize(), sha512(concat(prefix, b)));
  EXPECT_EQ(prepared.finalize(), sha512(prefix));

  // finalize() is a peek: absorbing may go on afterwards.
  Sha256 h;
  h.update(a);
  EXPECT_EQ(h.finalize(), sha256(a));
  EXPECT_EQ(h.update(b).finalize(), sha256(concat(a, b)));
}

// ---------------------------------------------------------------- HMAC-SHA512

struct HmacCase {
  Bytes key;
  Bytes msg;
  const char* mac;  // RFC 4231 case 5 publishes only the first 16 bytes
};

TEST(HmacSha512, Rfc4231TestCases) {
  const HmacCase cases[] = {
      {Bytes(20, 0x0b), to_bytes(as_bytes("Hi There")),
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274e"
       "aea3f4e4be9d914eeb61f1702e696c203a126854"},
      {to_bytes(as_bytes("Jefe")), to_bytes(as_bytes("what do ya want for nothing?")),
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65"
       "f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
      {Bytes(20, 0xaa), Bytes(50, 0xdd),
       "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a4"
       "7e67c807b946a337bee8942674278859e13292fb"},
      {from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), Bytes(50, 0xcd),
       "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275c"
       "c5788063a5f19741120c4f2de2adebeb10a298dd"},
      {Bytes(20, 0x0c), to_bytes(as_bytes("Test With Truncation")),
       "415fad6271580a531d4179bc891d87a6"},
      {Bytes(131, 0xaa),
       to_bytes(as_bytes("Test Using Larger Than Block-Size Key - Hash Key First")),
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd221"
       "5d6a1e5295e64f73f63f0aec8b915a985d786598"},
      {Bytes(131, 0xaa),
       to_bytes(as_bytes("This is a test using a larger than block-size key and a larger than "
                         "block-size data. The key needs to be hashed before being used by the "
                         "HMAC algorithm.")),
       "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55"
       "c3e4de15134676fb6de0446065c97440fa8c6a58"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("RFC 4231 test case " + std::to_string(i + 1));
    const Bytes expected = from_hex(cases[i].mac);
    const auto mac = hmac_sha512(cases[i].key, cases[i].msg);
    EXPECT_EQ(Bytes(mac.begin(), mac.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
    HmacSha512 incremental(cases[i].key);
    EXPECT_EQ(feed_in_pieces(incremental, cases[i].msg, {5}).finalize(), mac);
  }
}

// ---------------------------------------------------------------- HKDF-SHA512

// OpenSSL's HKDF is the reference: an implementation independent of ours.
Bytes openssl_hkdf(int mode, ByteSpan salt, ByteSpan key, ByteSpan info, std::size_t out_len) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  EVP_KDF_free(kdf);
  const auto octets = [](const char* name, ByteSpan s) {
    // An empty OCTET_STRING parameter still needs a valid pointer.
    static const std::uint8_t kNothing = 0;
    return OSSL_PARAM_construct_octet_string(
        name, const_cast<std::uint8_t*>(s.empty() ? &kNothing : s.data()), s.size());
  };
  char digest[] = "SHA512";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
      octets(OSSL_KDF_PARAM_KEY, key),
      octets(OSSL_KDF_PARAM_SALT, salt),
      octets(OSSL_KDF_PARAM_INFO, info),
      OSSL_PARAM_construct_end(),
  };
  Bytes out(out_len);
  const int ok = EVP_KDF_derive(ctx, out.data(), out.size(), params);
  EVP_KDF_CTX_free(ctx);
  EXPECT_EQ(ok, 1) << "OpenSSL HKDF refused the case";
  return out;
}

TEST(HkdfSha512, MatchesOpenSslExtractAndExpand) {
  struct Case {
    std::size_t salt, ikm, info, out;
  };
  // Empty salt, salts shorter and longer than the 128-byte block, empty
  // info, outputs of zero, partial, exact and many blocks up to the limit.
  const Case cases[] = {
      {0, 32, 0, 64},    {32, 36, 0, 128},  {13, 1, 7, 1},       {128, 80, 20, 65},
      {129, 0, 300, 63}, {200, 64, 0, 0},   {32, 32, 10, 255 * 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "salt " << c.salt << " ikm " << c.ikm << " info "
                                      << c.info << " out " << c.out);
    const Bytes salt = pattern(c.salt, 1), ikm = pattern(c.ikm, 2), info = pattern(c.info, 3);
    const SecretArray<64> prk = hkdf_sha512_extract(salt, ikm);
    EXPECT_EQ(to_bytes(prk.span()),
              openssl_hkdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, salt, ikm, {}, 64));
    Bytes okm(c.out);
    hkdf_sha512_expand(prk.span(), info, okm);
    if (c.out > 0) {
      EXPECT_EQ(okm, openssl_hkdf(EVP_KDF_HKDF_MODE_EXPAND_ONLY, {}, prk.span(), info, c.out));
      EXPECT_EQ(okm, openssl_hkdf(EVP_KDF_HKDF_MODE_EXTRACT_AND_EXPAND, salt, ikm, info, c.out));
    }
  }
}

TEST(HkdfSha512, OutputBeyond255BlocksIsABug) {
  const SecretArray<64> prk = hkdf_sha512_extract({}, pattern(32));
  Bytes okm(255 * 64 + 1);
  EXPECT_THROW(hkdf_sha512_expand(prk.span(), {}, okm), Panic);
}

// ---------------------------------------------------------------- RIPEMD-160

TEST(Ripemd160, PublishedVectors) {
  struct Case {
    std::string msg;
    const char* digest;
  };
  // The examples published with the algorithm.
  const Case cases[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {kMsg448, "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "b0e20b6e3116640286ed3a87a5713079b21f5189"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
      {kMillionA, "52783243c1697bdbe16d37f97f68f08325dc1528"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msg.substr(0, 16));
    EXPECT_EQ(to_bytes(ripemd160(as_bytes(c.msg))), from_hex(c.digest));
  }
}

// Every padding layout (one or two final blocks, length field straddling)
// against OpenSSL's RIPEMD-160 where the provider offers it.
TEST(Ripemd160, AgreesWithOpenSslOnAllShortLengths) {
  EVP_MD* md = EVP_MD_fetch(nullptr, "RIPEMD160", nullptr);
  if (md == nullptr) GTEST_SKIP() << "this OpenSSL has no RIPEMD160 in its default provider";
  for (std::size_t n = 0; n <= 260; ++n) {
    const Bytes msg = pattern(n, 5);
    ByteArray<20> expected{};
    unsigned int len = 0;
    ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), expected.data(), &len, md, nullptr), 1);
    EXPECT_EQ(ripemd160(msg), expected) << "length " << n;
  }
  EVP_MD_free(md);
}

TEST(Hash160, FingerprintOfCompressedGenerator) {
  // The compressed secp256k1 generator (private key 1); its hash160 is the
  // well-known witness program 751e76e8199196d454941c45d1b3a323f1433bd6.
  const Bytes g = from_hex("0279be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798");
  EXPECT_EQ(to_bytes(hash160(g)), from_hex("751e76e8199196d454941c45d1b3a323f1433bd6"));
}

// ---------------------------------------------------------------- BLAKE2s

TEST(Blake2s, Rfc7693AbcExample) {
  EXPECT_EQ(to_bytes(blake2s(as_bytes("abc"))),
            from_hex("508c5e8c327c14e2e1a72ba34eeb452f37458b209ed63a294d999b4c86675982"));
}

// Generated once with Python: hashlib.blake2s(data).
struct LenDigest {
  std::size_t len;
  const char* digest;
};
const LenDigest kBlake2sCases[] = {
    {0, "69217a3079908094e11121d042354a7c1f55b6482ca1a51e1b250dfd1ed0eef9"},
    {1, "e34d74dbaf4ff4c6abd871cc220451d2ea2648846c7757fbaac82fe51ad64bea"},
    {3, "e8f91c6ef232a041452ab0e149070cdd7dd1769e75b3a5921be37876c45c9900"},
    {55, "f4495470f226c8c214be08fdfad4bc4a2a9dbea9136a210df0d4b64929e6fc14"},
    {63, "e57cb79487dd57902432b250733813bd96a84efce59f650fac26e6696aefafc3"},
    {64, "56f34e8b96557e90c1f24b52d0c89d51086acf1b00f634cf1dde9233b8eaaa3e"},
    {65, "1b53ee94aaf34e4b159d48de352c7f0661d0a40edff95a0b1639b4090e974472"},
    {127, "f18417b39d617ab1c18fdf91ebd0fc6d5516bb34cf39364037bce81fa04cecb1"},
    {128, "1fa877de67259d19863a2a34bcc6962a2b25fcbf5cbecd7ede8f1fa36688a796"},
    {129, "5bd169e67c82c2c2e98ef7008bdf261f2ddf30b1c00f9e7f275bb3e8a28dc9a2"},
    {1000, "1c067a5e746fb0f6734efac9a8cdb0e11061f0077f255184365c690115392501"},
};

TEST(Blake2s, MatchesHashlibAcrossBlockBoundariesAndSplits) {
  for (const auto& c : kBlake2sCases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.len);
    const Bytes msg = pattern(c.len);
    EXPECT_EQ(to_bytes(blake2s(msg)), from_hex(c.digest));
    for (const auto& split : kSplits) {
      Blake2s h;
      EXPECT_EQ(to_bytes(feed_in_pieces(h, msg, split).finalize()), from_hex(c.digest));
    }
  }
}

TEST(Blake2s, FinalizeLeavesStateUsable) {
  // A full buffered block must stay unprocessed until more input shows up.
  Blake2s h;
  h.update(pattern(64));
  EXPECT_EQ(h.finalize(), blake2s(pattern(64)));
  h.update(ByteSpan(pattern(65)).subspan(64));
  EXPECT_EQ(h.finalize(), blake2s(pattern(65)));
}

TEST(HmacBlake2s, MatchesPythonHmacForAllKeyLengths) {
  struct Case {
    std::size_t key, msg;
    const char* mac;
  };
  // Generated once with Python: hmac.new(key, msg, hashlib.blake2s). Keys
  // cover empty, the 32 bytes Noise uses, one whole block and longer keys
  // that are hashed first.
  const Case cases[] = {
      {0, 0, "eaf4bb25938f4d20e72656bbbc7a9bf63c0c18537333c35bdb67db1402661acd"},
      {32, 0, "c3163d7b8a63a44a70eadc13fb98778f5d58ff5e541ea5e2a2e46c64596e86a7"},
      {32, 48, "51148d016a3ea9738a72ff52347f021125052c744a1f44744d4a22384ef11c87"},
      {64, 100, "5f853ddf03a740fa22355bde157271b9a937f04915d9c437f6bedb9fdad7228a"},
      {65, 64, "92b03f495cbdd76cf1f21798546d98ee405504d9dac5a2dfd783c727e3c65146"},
      {200, 1, "fa3926e1553d1ee555f54572e7dc0992411dcc5788c3aa9e575064ba63b249a8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "key " << c.key << " msg " << c.msg);
    const Bytes key = pattern(c.key, 100), msg = pattern(c.msg);
    EXPECT_EQ(to_bytes(hmac_blake2s(key, msg)), from_hex(c.mac));
    // The same MAC over the message given in pieces.
    const ByteSpan m(msg);
    const std::size_t half = msg.size() / 2;
    EXPECT_EQ(to_bytes(hmac_blake2s(key, {m.first(half), m.subspan(half)})), from_hex(c.mac));
  }
}

TEST(HkdfBlake2s, NoiseHkdfMatchesPythonHmacConstruction) {
  struct Case {
    std::size_t ikm;
    const char* out1;
    const char* out2;
    const char* out3;
  };
  // Generated once with Python's hmac over hashlib.blake2s, following the
  // Noise framework's HKDF: temp = HMAC(ck, ikm), out1 = HMAC(temp, 01),
  // out2 = HMAC(temp, out1 || 02), out3 = HMAC(temp, out2 || 03).
  const Case cases[] = {
      {0, "d11e9f68d46121aa1da5fe13d988a04c88cb58eaea3eb736816bff6a7ced6f40",
       "7b5c5395142d6286b72cdeec9b97d863e71acb0e8a2ec50b22925b019efe1c57",
       "5c89d7f9c7a7b2b0ef6b53df2f24623974b2c5ab7d19089a83fb06b64583d153"},
      {32, "442a58c39a300ab2967ddb1d814a97ab88ccd5de880bd44c82ea79b752f2717e",
       "d2d0a9d11f3524e78d19e054ea7e0c041211170c0ea132a1ee16beb61cd06d27",
       "c0f26edbf881aabd5e927a7f747e06ce296f2c02308ac8442406358e063cf7c1"},
      {100, "cf4a8efada66822ce5e5cd2067c025eae2c175b221d9364363fde4ae932a032d",
       "022a95a2956dec674bb15184fae09133a42d86e08db7c76504a864b362411e65",
       "9c191eabb3c25e34bd384a838c14c8b3a55255eb1f65965d8bc8e932c71d3474"},
  };
  ByteArray<32> ck;
  const Bytes ck_bytes = pattern(32, 7);
  std::copy(ck_bytes.begin(), ck_bytes.end(), ck.begin());
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ikm " << c.ikm);
    const Bytes ikm = pattern(c.ikm);
    const auto two = hkdf_blake2s<2>(ck, ikm);
    const auto three = hkdf_blake2s<3>(ck, ikm);
    EXPECT_EQ(to_bytes(two[0].span()), from_hex(c.out1));
    EXPECT_EQ(to_bytes(two[1].span()), from_hex(c.out2));
    EXPECT_EQ(to_bytes(three[0].span()), from_hex(c.out1));
    EXPECT_EQ(to_bytes(three[1].span()), from_hex(c.out2));
    EXPECT_EQ(to_bytes(three[2].span()), from_hex(c.out3));
  }
}

// ---------------------------------------------------------------- BLAKE2b-256

TEST(Blake2b256, MatchesHashlibDigestSize32) {
  // Generated once with Python: hashlib.blake2b(data, digest_size=32).
  const LenDigest cases[] = {
      {0, "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8"},
      {1, "03170a2e7597b7b7e3d84c05391d139a62b157e78786d8c082f29dcf4c111314"},
      {127, "f2fe67ff342e21b8f45e8f2e0bcd1d9243245d50ee6c78042e9c491388791c72"},
      {128, "c3582f71ebb2be66fa5dd750f80baae97554f3b015663c8be377cfcb2488c1d1"},
      {129, "f7f3c46ba2564ff4c4c162da1f5b605f9f1c4aa6a20652a9f9a337c1a2f5b9c9"},
      {1000, "b372d0608f720c8c3dd41e9c8eecb10143b41abe520b616607e754bf79c08331"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_bytes(blake2b_256(pattern(c.len))), from_hex(c.digest)) << "length " << c.len;
  }
}

// ---------------------------------------------------------------- expand_message_xmd

TEST(ExpandMessageXmd, Rfc9380AppendixK1Sha256) {
  const std::string dst = "QUUX-V01-CS02-with-expander-SHA256-128";
  const std::string q128 = "q128_" + std::string(128, 'q');
  const std::string a512 = "a512_" + std::string(512, 'a');
  struct Case {
    std::string msg;
    std::size_t len;
    const char* uniform;
  };
  const Case cases[] = {
      {"", 0x20, "68a985b87eb6b46952128911f2a4412bbc302a9d759667f87f7a21d803f07235"},
      {"abc", 0x20, "d8ccab23b5985ccea865c6c97b6e5b8350e794e603b4b97902f53a8a0d605615"},
      {"abcdef0123456789", 0x20,
       "eff31487c770a893cfb36f912fbfcbff40d5661771ca4b2cb4eafe524333f5c1"},
      {q128, 0x20, "b23a1d2b4d97b2ef7785562a7e8bac7eed54ed6e97e29aa51bfe3f12ddad1ff9"},
      {a512, 0x20, "4623227bcc01293b8c130bf771da8c298dede7383243dc0993d2d94823958c4c"},
      {"", 0x80,
       "af84c27ccfd45d41914fdff5df25293e221afc53d8ad2ac06d5e3e29485dadbee0d121587713a3e0dd4d5e69"
       "e93eb7cd4f5df4cd103e188cf60cb02edc3edf18eda8576c412b18ffb658e3dd6ec849469b979d444cf7b269"
       "11a08e63cf31f9dcc541708d3491184472c2c29bb749d4286b004ceb5ee6b9a7fa5b646c993f0ced"},
      {"abc", 0x80,
       "abba86a6129e366fc877aab32fc4ffc70120d8996c88aee2fe4b32d6c7b6437a647e6c3163d40b76a73cf6a5"
       "674ef1d890f95b664ee0afa5359a5c4e07985635bbecbac65d747d3d2da7ec2b8221b17b0ca9dc8a1ac1c07e"
       "a6a1e60583e2cb00058e77b7b72a298425cd1b941ad4ec65e8afc50303a22c0f99b0509b4c895f40"},
      {"abcdef0123456789", 0x80,
       "ef904a29bffc4cf9ee82832451c946ac3c8f8058ae97d8d629831a74c6572bd9ebd0df635cd1f208e2038e76"
       "0c4994984ce73f0d55ea9f22af83ba4734569d4bc95e18350f740c07eef653cbb9f87910d833751825f0ebef"
       "a1abe5420bb52be14cf489b37fe1a72f7de2d10be453b2c9d9eb20c7e3f6edc5a60629178d9478df"},
      {q128, 0x80,
       "80be107d0884f0d881bb460322f0443d38bd222db8bd0b0a5312a6fedb49c1bbd88fd75d8b9a09486c60123d"
       "fa1d73c1cc3169761b17476d3c6b7cbbd727acd0e2c942f4dd96ae3da5de368d26b32286e32de7e5a8cb2949"
       "f866a0b80c58116b29fa7fabb3ea7d520ee603e0c25bcaf0b9a5e92ec6a1fe4e0391d1cdbce8c68a"},
      {a512, 0x80,
       "546aff5444b5b79aa6148bd81728704c32decb73a3ba76e9e75885cad9def1d06d6792f8a7d12794e90efed8"
       "17d96920d728896a4510864370c207f99bd4a608ea121700ef01ed879745ee3e4ceef777eda6d9e5e38b90c8"
       "6ea6fb0b36504ba4a45d22e86f6db5dd43d98a294bebb9125d5b794e9d2a81181066eb954966a487"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.msg.substr(0, 8) << " len " << c.len);
    const auto out = expand_message_xmd_sha256(as_bytes(c.msg), as_bytes(dst), c.len);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, from_hex(c.uniform));
  }
}

TEST(ExpandMessageXmd, LengthLimitsOfOutputAndTag) {
  const Bytes msg = pattern(10);
  const Bytes dst255 = pattern(255);
  const Bytes dst256 = pattern(256);

  const auto longest = expand_message_xmd_sha256(msg, dst255, 255 * 32);
  ASSERT_TRUE(longest.has_value());
  EXPECT_EQ(longest->size(), 255u * 32);
  // The requested length is hashed into b_0: a shorter output is not a
  // prefix of a longer one.
  const auto b48 = expand_message_xmd_sha256(msg, dst255, 48);
  const auto b64 = expand_message_xmd_sha256(msg, dst255, 64);
  ASSERT_TRUE(b48 && b64);
  EXPECT_NE(*b48, Bytes(b64->begin(), b64->begin() + 48));

  EXPECT_EQ(expand_message_xmd_sha256(msg, dst255, 255 * 32 + 1),
            std::unexpected(XmdError::OutputTooLong));
  EXPECT_EQ(expand_message_xmd_sha256(msg, dst256, 32), std::unexpected(XmdError::DstTooLong));
  const auto empty = expand_message_xmd_sha256(msg, dst255, 0);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace velto::crypto
