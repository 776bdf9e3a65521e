// Keygen identity: velto_init_keygen through the C interface, checked against
// libsodium's X25519; the keygen-id, keygen-secret and keygen-id-array
// decoders with their error texts.
#include <gtest/gtest.h>

#include <sodium.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/log.hpp"
#include "executor/tests/ffi_recorder.hpp"

namespace velto::executor {
namespace {

using testing::cstr;
using testing::take;

std::string as_text(const HeapString& s) { return std::string(reinterpret_cast<const char*>(s.ptr), s.len); }

crypto::ByteArray<32> sodium_public_of(const crypto::ByteArray<32>& priv) {
  crypto::ByteArray<32> pub{};
  EXPECT_EQ(crypto_scalarmult_base(pub.data(), priv.data()), 0);
  return pub;
}

TEST(InitKeygen, IdIsBase58OfTheX25519PublicKeyOfTheSecret) {
  ASSERT_GE(sodium_init(), 0);
  HeapString id{nullptr, 0};
  HeapString secret{nullptr, 0};
  const auto r = take(velto_init_keygen(&id, &secret));
  ASSERT_EQ(r.code, 0);
  EXPECT_TRUE(r.message_null);
  const std::string id_text = as_text(id);
  const std::string secret_text = as_text(secret);
  velto_dealloc_heap_string(id.ptr, id.len);
  velto_dealloc_heap_string(secret.ptr, secret.len);

  ASSERT_EQ(secret_text.size(), 64u);
  EXPECT_EQ(secret_text.find_first_not_of("0123456789abcdef"), std::string::npos) << secret_text;
  crypto::ByteArray<32> priv{};
  ASSERT_TRUE(crypto::hex_decode_into(secret_text, priv));

  const auto decoded = crypto::base58_decode(id_text);
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 32u);
  EXPECT_EQ(crypto::base58_encode(*decoded), id_text);
  const crypto::ByteArray<32> expected = sodium_public_of(priv);
  EXPECT_TRUE(std::equal(decoded->begin(), decoded->end(), expected.begin()));

  // The secret read back in either case gives the same pair.
  std::string upper = secret_text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& text : {secret_text, upper}) {
    const auto pair = parse_keygen_secret(text);
    ASSERT_TRUE(pair.has_value());
    EXPECT_EQ(pair->private_key().array(), priv);
    EXPECT_EQ(pair->public_key().bytes(), expected);
  }
  const auto key = parse_keygen_id(id_text);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->bytes(), expected);
}

TEST(InitKeygen, DrawsAFreshPairEachCall) {
  HeapString a{nullptr, 0}, b{nullptr, 0}, sa{nullptr, 0}, sb{nullptr, 0};
  ASSERT_EQ(take(velto_init_keygen(&a, &sa)).code, 0);
  ASSERT_EQ(take(velto_init_keygen(&b, &sb)).code, 0);
  EXPECT_NE(as_text(sa), as_text(sb));
  EXPECT_NE(as_text(a), as_text(b));
  for (HeapString s : {a, b, sa, sb}) velto_dealloc_heap_string(s.ptr, s.len);
}

// Every out-pointer is checked before anything is stored: with any of them
// null the call is refused with -253 and neither text is handed out (the
// leak checker of the sanitizer build sees a text that was not released).
TEST(InitKeygen, NullOutPointerStoresNothing) {
  struct Case {
    const char* name;
    bool id_null;
    bool secret_null;
  };
  for (const Case c : {Case{"both null", true, true}, Case{"id null", true, false}, Case{"secret null", false, true}}) {
    CapturedLog log;
    HeapString id{nullptr, 0};
    HeapString secret{nullptr, 0};
    const auto r = take(velto_init_keygen(c.id_null ? nullptr : &id, c.secret_null ? nullptr : &secret));
    EXPECT_EQ(r.code, -253) << c.name;
    EXPECT_EQ(r.message, "Error Kind: Null pointer") << c.name;
    EXPECT_EQ(id.ptr, nullptr) << c.name;
    EXPECT_EQ(secret.ptr, nullptr) << c.name;
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{
                  "Logic Error: display: Error Kind: Null pointer, debug: Error { kind: NullPointer, inner: None }"})
        << c.name;
  }
}

std::string base58_of_bytes(std::initializer_list<std::uint8_t> head, std::size_t total, std::uint8_t fill) {
  crypto::Bytes b(head);
  b.resize(total, fill);
  return crypto::base58_encode(b);
}

TEST(KeygenId, DecodesAndRoundTrips) {
  // A key that begins with a zero byte is written with a leading "1".
  crypto::ByteArray<32> key{};
  for (std::size_t i = 1; i < 32; ++i) key[i] = static_cast<std::uint8_t>(7 * i + 3);
  const std::string text = crypto::base58_encode(key);
  ASSERT_TRUE(text.starts_with("1"));
  const auto parsed = parse_keygen_id(text);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->bytes(), key);
  EXPECT_EQ(parsed->display(), text);
}

TEST(KeygenId, Refusals) {
  struct Case {
    const char* name;
    std::string text;
    const char* variant;  // the debug form's head
    std::string display;
  };
  const std::string valid = base58_of_bytes({9}, 32, 0x42);
  const std::vector<Case> cases = {
      {"empty", "", "Length", "Invalid key length, expected 32 bytes, found: 0"},
      {"31 bytes", base58_of_bytes({9}, 31, 0x42), "Length", "Invalid key length, expected 32 bytes, found: 31"},
      {"33 bytes", base58_of_bytes({9}, 33, 0x42), "Encoding",
       "Invalid bs58 encoding: buffer provided to decode base58 encoded string into was too small"},
      {"digit 0", "0" + valid.substr(1), "Encoding",
       "Invalid bs58 encoding: provided string contained invalid character '0' at byte 0"},
      {"letter O", valid.substr(0, 5) + "O" + valid.substr(6), "Encoding",
       "Invalid bs58 encoding: provided string contained invalid character 'O' at byte 5"},
      {"letter I", valid.substr(0, 7) + "I" + valid.substr(8), "Encoding",
       "Invalid bs58 encoding: provided string contained invalid character 'I' at byte 7"},
      {"letter l", valid.substr(0, 40) + "l" + valid.substr(41), "Encoding",
       "Invalid bs58 encoding: provided string contained invalid character 'l' at byte 40"},
      {"non-ascii", valid.substr(0, 3) + "\xc3\xa9" + valid.substr(5), "Encoding",
       "Invalid bs58 encoding: provided string contained non-ascii character starting at byte 3"},
      {"zero key", crypto::base58_encode(crypto::ByteArray<32>{}), "DKey", "Invalid key: Invalid Public Key."},
      {"point of order one", base58_of_bytes({1}, 32, 0), "DKey", "Invalid key: Invalid Public Key."},
  };
  for (const auto& c : cases) {
    const auto r = parse_keygen_id(c.text);
    ASSERT_FALSE(r.has_value()) << c.name;
    EXPECT_EQ(r.error().display(), c.display) << c.name;
    EXPECT_TRUE(r.error().debug().starts_with(c.variant)) << c.name << ": " << r.error().debug();
  }
}

TEST(KeygenSecret, Refusals) {
  struct Case {
    const char* name;
    std::string text;
    std::string display;
  };
  const std::vector<Case> cases = {
      {"63 digits", std::string(63, 'a'), "Invalid keypair length, expected 64 hex chars, found: 63"},
      {"65 digits", std::string(65, 'a'), "Invalid keypair length, expected 64 hex chars, found: 65"},
      {"empty", "", "Invalid keypair length, expected 64 hex chars, found: 0"},
      // Length in bytes, not characters: 32 two-byte characters.
      {"multi-byte", [] {
         std::string s;
         for (int i = 0; i < 32; ++i) s += "\xc3\xa9";
         return s;
       }(),
       "Invalid hex encoding"},
      {"a g", std::string(63, 'a') + "g", "Invalid hex encoding"},
      {"all zero", std::string(64, '0'), "Invalid keypair: Invalid private key"},
  };
  for (const auto& c : cases) {
    const auto r = parse_keygen_secret(c.text);
    ASSERT_FALSE(r.has_value()) << c.name;
    EXPECT_EQ(r.error().display(), c.display) << c.name;
  }
  // Through the function interface: the decoder's text alone as the Context.
  const std::string bad = std::string(63, '1') + "g";
  const auto refused = ffi::decode_arg(cstr(bad), FfiErrorKind::InvalidKeygenInitKeypair, parse_keygen_secret);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().display(), "Error Kind: Invalid keypair from initKeygen, Context: Invalid hex encoding");
}

TEST(KeygenSecret, PrivateKeyKeptUnclamped) {
  ASSERT_GE(sodium_init(), 0);
  const auto pair = parse_keygen_secret(std::string(64, 'f'));
  ASSERT_TRUE(pair.has_value());
  crypto::ByteArray<32> ff;
  ff.fill(0xff);
  EXPECT_EQ(pair->private_key().array(), ff);
  EXPECT_EQ(pair->public_key().bytes(), sodium_public_of(ff));
}

class KeygenIds : public ::testing::Test {
 protected:
  static std::string id_of(std::uint8_t b) { return base58_of_bytes({b}, 32, 0x33); }
};

TEST_F(KeygenIds, DuplicatesCollapse) {
  const std::string a = id_of(5), b = id_of(6);
  const std::vector<ConstStr> ids = {cstr(a), cstr(b), cstr(a)};
  for (const auto& set : {parse_keygen_ids(ids.data(), ids.size()), parse_optional_keygen_ids(ids.data(), ids.size())}) {
    ASSERT_TRUE(set.has_value());
    EXPECT_EQ(set->size(), 2u);
    EXPECT_TRUE(set->contains(*parse_keygen_id(a)));
    EXPECT_TRUE(set->contains(*parse_keygen_id(b)));
  }
}

TEST_F(KeygenIds, ArrayRefusals) {
  const std::string good = id_of(5);
  const std::string zero_key = crypto::base58_encode(crypto::ByteArray<32>{});
  const std::string bad_utf8 = "\xff\xfe";
  struct Case {
    const char* name;
    std::vector<ConstStr> ids;
    std::string context;
  };
  const std::vector<Case> cases = {
      {"bad second element", {cstr(good), cstr(zero_key), cstr("x")}, "Invalid key: Invalid Public Key."},
      {"null element", {cstr(good), ConstStr{nullptr, 5}}, "Received a slice with null pointer, but length: 5"},
      {"element not UTF-8", {cstr(bad_utf8)},
       "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 0"},
      {"empty element", {ConstStr{nullptr, 0}}, "Invalid key length, expected 32 bytes, found: 0"},
  };
  for (const auto& c : cases) {
    for (const auto& r : {parse_keygen_ids(c.ids.data(), c.ids.size()),
                          parse_optional_keygen_ids(c.ids.data(), c.ids.size())}) {
      ASSERT_FALSE(r.has_value()) << c.name;
      EXPECT_EQ(r.error().kind(), FfiErrorKind::InvalidKeygenId) << c.name;
      EXPECT_EQ(r.error().display(), "Error Kind: Invalid keygenId, Context: " + c.context) << c.name;
    }
  }
}

TEST_F(KeygenIds, NullArrayInTheTwoForms) {
  const auto strict = parse_keygen_ids(nullptr, 2);
  ASSERT_FALSE(strict.has_value());
  EXPECT_EQ(strict.error().display(), "Error Kind: Invalid keygenId, Context: Received a slice with null pointer, but length: 2");
  EXPECT_EQ(strict.error().debug(), "Error { kind: InvalidKeygenId, inner: Some(NullPointerNonNullLength { len: 2 }) }");

  const auto optional = parse_optional_keygen_ids(nullptr, 2);
  ASSERT_TRUE(optional.has_value());
  EXPECT_TRUE(optional->empty());

  const ConstStr one = cstr("unused");
  for (const auto& r : {parse_keygen_ids(nullptr, 0), parse_keygen_ids(&one, 0), parse_optional_keygen_ids(&one, 0)}) {
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->empty());
  }
}

}  // namespace
}  // namespace velto::executor
