// The local ECDSA functions driven as a C caller drives them: check order,
// codes and texts per function, the out-pointer looked at last and left
// alone on failure, BIP32 derivation against the published test vectors,
// and the offline export against keys of real key generations (checked with
// libsecp256k1 and an independent interpolation).
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>
#include <secp256k1.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/velto.h"
#include "executor/tests/ecdsa_latest_util.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/share_fixtures.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/tests/keygen_test_util.hpp"

namespace velto::executor {
namespace {

using testing::cstr;
using testing::take;

// What a synchronous call left behind.
struct Outcome {
  testing::Result result;
  std::optional<std::string> out;  // the text stored through the out-pointer
  bool out_untouched = false;      // the target still holds the sentinel
};

// Runs `call` with a sentinel-filled target (or a null out-pointer).
Outcome run(const std::function<ResultFFI(HeapString*)>& call, bool null_out = false) {
  static std::uint8_t sentinel_bytes[4] = {1, 2, 3, 4};
  const HeapString sentinel{sentinel_bytes, sizeof sentinel_bytes};
  HeapString target = sentinel;
  Outcome o;
  o.result = take(call(null_out ? nullptr : &target));
  o.out_untouched = target.ptr == sentinel.ptr && target.len == sentinel.len;
  if (!o.out_untouched) {
    o.out = std::string(reinterpret_cast<const char*>(target.ptr), target.len);
    velto_dealloc_heap_string(target.ptr, target.len);
  }
  return o;
}

// Expects success and returns the output text.
std::string ok(const Outcome& o) {
  EXPECT_EQ(o.result.code, 0) << o.result.message;
  EXPECT_TRUE(o.result.message_null);
  EXPECT_TRUE(o.out.has_value());
  return o.out.value_or("");
}

U32Array path_of(const std::vector<std::uint32_t>& p) { return U32Array{p.empty() ? nullptr : p.data(), p.size()}; }

// libsecp256k1's uncompressed form of a compressed key, as hex.
std::string uncompressed_hex(const std::string& compressed_hex) {
  const auto bytes = test::unhex(compressed_hex);
  secp256k1_pubkey pk;
  EXPECT_EQ(secp256k1_ec_pubkey_parse(crypto::secp256k1_ctx(), &pk, bytes.data(), bytes.size()), 1);
  std::array<std::uint8_t, 65> out{};
  std::size_t len = out.size();
  secp256k1_ec_pubkey_serialize(crypto::secp256k1_ctx(), out.data(), &len, &pk, SECP256K1_EC_UNCOMPRESSED);
  return crypto::hex_encode(out);
}

// libsecp256k1's public key of a private key given as hex, uncompressed hex.
std::string pubkey_of_private_hex(const std::string& private_hex) {
  const auto bytes = test::unhex(private_hex);
  EXPECT_EQ(bytes.size(), 32u);
  secp256k1_pubkey pk;
  EXPECT_EQ(secp256k1_ec_pubkey_create(crypto::secp256k1_ctx(), &pk, bytes.data()), 1);
  std::array<std::uint8_t, 65> out{};
  std::size_t len = out.size();
  secp256k1_ec_pubkey_serialize(crypto::secp256k1_ctx(), out.data(), &len, &pk, SECP256K1_EC_UNCOMPRESSED);
  return crypto::hex_encode(out);
}

std::string group_key_hex(const EcdsaStorableSecretShare& share) {
  return crypto::hex_encode(ecdsa::pubkey_to_uncompressed(test::latest_key(share).public_key));
}

// ---------------------------------------------------------------------------
// The calls.

Outcome derive_pubkey(const std::string& share, const std::vector<std::uint32_t>& path, bool null_out = false) {
  return run([&](HeapString* out) { return velto_ecdsa_derive_pubkey(cstr(share), path_of(path), out); }, null_out);
}
Outcome get_xpub(const std::string& share, bool null_out = false) {
  return run([&](HeapString* out) { return velto_ecdsa_get_xpub(cstr(share), out); }, null_out);
}
Outcome from_xpub(const std::string& xpub, const std::vector<std::uint32_t>& path, bool null_out = false) {
  return run([&](HeapString* out) { return velto_ecdsa_derive_pubkey_from_xpub(cstr(xpub), path_of(path), out); },
             null_out);
}
Outcome export_id(const std::string& share, bool null_out = false) {
  return run([&](HeapString* out) { return velto_ecdsa_get_export_id(cstr(share), out); }, null_out);
}
Outcome from_xpriv(const std::string& xpriv, const std::vector<std::uint32_t>& path, bool null_out = false) {
  return run([&](HeapString* out) { return velto_ecdsa_derive_private_key_from_xpriv(cstr(xpriv), path_of(path), out); },
             null_out);
}
Outcome offline(const std::vector<std::string>& shares, bool null_out = false) {
  std::vector<ConstStr> texts;
  for (const auto& s : shares) texts.push_back(cstr(s));
  return run(
      [&](HeapString* out) {
        return velto_ecdsa_offline_export_full_private_key(
            ConstStrArray{texts.empty() ? nullptr : texts.data(), texts.size()}, out);
      },
      null_out);
}

// ---------------------------------------------------------------------------
// Texts.

const std::string kNull = "Error Kind: Null pointer";
const std::string kShare = "Error Kind: Invalid secret Share, Context: ";
const std::string kPath = "Error Kind: Invalid derivation path: elements must be between 0 and ((2^31) - 1)";
const std::string kXpub = "Error Kind: Invalid Extended Public Key(xpub) string, Context: ";
const std::string kXpriv = "Error Kind: Invalid Extended Private Key(xpriv) string, Context: ";
const std::string kExec = "Error Kind: Error in MPC Executor, Context: ";
const std::string kUtf8 = "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 0";
const std::string kDuplicate = "Duplicate secret shares, some of the secret shares provided are the same share.";
const std::string kIncompatible =
    "Executor Failed: `Incompatible secret shares, provided secret shares are not of the same public key, all "
    "provided secret shares must be from the same keygen operation (be shares of the same public key).`";

std::string too_few(unsigned t, unsigned found) {
  return "Executor Failed: `Invalid amount of secret shares for recovery, must provide at least " + std::to_string(t) +
         " secret shares, found: " + std::to_string(found) + "`";
}

// BIP32 test vectors 1 and 2: the published texts, and the keys in them
// (uncompressed public key, private key) read out with an independent tool.
struct Node {
  const char* xpub;
  const char* xprv;
  const char* pubkey;
  const char* privkey;
};

const Node kV1_0H{
    "xpub68Gmy5EdvgibQVfPdqkBBCHxA5htiqg55crXYuXoQRKfDBFA1WEjWgP6LHhwBZeNK1VTsfTFUHCdrfp1bgwQ9xv5ski8PX9rL2dZXvgGDnw",
    "xprv9uHRZZhk6KAJC1avXpDAp4MDc3sQKNxDiPvvkX8Br5ngLNv1TxvUxt4cV1rGL5hj6KCesnDYUhd7oWgT11eZG7XnxHrnYeSvkzY7d2bhkJ7",
    "045a784662a4a20a65bf6aab9ae98a6c068a81c52e4b032c0fb5400c706cfccc567f717885be239daadce76b568958305183ad616ff74ed4"
    "dc219a74c26d35f839",
    "edb2e14f9ee77d26dd93b4ecede8d16ed408ce149b6cd80b0715a2d911a0afea"};
const Node kV1_0H_1{
    "xpub6ASuArnXKPbfEwhqN6e3mwBcDTgzisQN1wXN9BJcM47sSikHjJf3UFHKkNAWbWMiGj7Wf5uMash7SyYq527Hqck2AxYysAA7xmALppuCkwQ",
    "xprv9wTYmMFdV23N2TdNG573QoEsfRrWKQgWeibmLntzniatZvR9BmLnvSxqu53Kw1UmYPxLgboyZQaXwTCg8MSY3H2EU4pWcQDnRnrVA1xe8fs",
    "04501e454bf00751f24b1b489aa925215d66af2234e3891c3b21a52bedb3cd711c008794c1df8131b9ad1e1359965b3f3ee2feef0866be69"
    "3729772be14be881ab",
    "3c6cb8d0f6a264c91ea8b5030fadaa8e538b020f0a387421a12de9319dc93368"};
const Node kV1_0H_1_2H{
    "xpub6D4BDPcP2GT577Vvch3R8wDkScZWzQzMMUm3PWbmWvVJrZwQY4VUNgqFJPMM3No2dFDFGTsxxpG5uJh7n7epu4trkrX7x7DogT5Uv6fcLW5",
    "xprv9z4pot5VBttmtdRTWfWQmoH1taj2axGVzFqSb8C9xaxKymcFzXBDptWmT7FwuEzG3ryjH4ktypQSAewRiNMjANTtpgP4mLTj34bhnZX7UiM",
    "0457bfe1e341d01c69fe5654309956cbea516822fba8a601743a012a7896ee8dc24310ef3676384179e713be3115e93f34ac9a3933f6367a"
    "eb3081527ea74027b7",
    "cbce0d719ecf7431d88e6a89fa1483e02e35092af60c042b1df2ff59fa424dca"};
const Node kV1_0H_1_2H_2{
    "xpub6FHa3pjLCk84BayeJxFW2SP4XRrFd1JYnxeLeU8EqN3vDfZmbqBqaGJAyiLjTAwm6ZLRQUMv1ZACTj37sR62cfN7fe5JnJ7dh8zL4fiyLHV",
    "xprvA2JDeKCSNNZky6uBCviVfJSKyQ1mDYahRjijr5idH2WwLsEd4Hsb2Tyh8RfQMuPh7f7RtyzTtdrbdqqsunu5Mm3wDvUAKRHSC34sJ7in334",
    "04e8445082a72f29b75ca48748a914df60622a609cacfce8ed0e35804560741d292728ad8d58a140050c1016e21f285636a580f4d2711b7f"
    "ac3957a594ddf416a0",
    "0f479245fb19a38a1954c5c7c0ebab2f9bdfd96a17563ef28a6a4b1a2a764ef4"};
const Node kV1_0H_1_2H_2_1000000000{
    "xpub6H1LXWLaKsWFhvm6RVpEL9P4KfRZSW7abD2ttkWP3SSQvnyA8FSVqNTEcYFgJS2UaFcxupHiYkro49S8yGasTvXEYBVPamhGW6cFJodrTHy",
    "xprvA41z7zogVVwxVSgdKUHDy1SKmdb533PjDz7J6N6mV6uS3ze1ai8FHa8kmHScGpWmj4WggLyQjgPie1rFSruoUihUZREPSL39UNdE3BBDu76",
    "042a471424da5e657499d1ff51cb43c47481a03b1e77f951fe64cec9f5a48f7011cf31cb47de7ccf6196d3a580d055837de7aa374e28c6c8"
    "a263e7b4512ceee362",
    "471b76e389e528d6de6d816857e012c5455051cad6660850e58372a6c3e6e7c8"};
const Node kV2_m{
    "xpub661MyMwAqRbcFW31YEwpkMuc5THy2PSt5bDMsktWQcFF8syAmRUapSCGu8ED9W6oDMSgv6Zz8idoc4a6mr8BDzTJY47LJhkJ8UB7WEGuduB",
    "xprv9s21ZrQH143K31xYSDQpPDxsXRTUcvj2iNHm5NUtrGiGG5e2DtALGdso3pGz6ssrdK4PFmM8NSpSBHNqPqm55Qn3LqFtT2emdEXVYsCzC2U",
    "04cbcaa9c98c877a26977d00825c956a238e8dddfbd322cce4f74b0b5bd6ace4a77bd3305d363c26f82c1e41c667e4b3561c06c60a2104d2"
    "b548e6dd059056aa51",
    "4b03d6fc340455b363f51020ad3ecca4f0850280cf436c70c727923f6db46c3e"};
const Node kV2_0{
    "xpub69H7F5d8KSRgmmdJg2KhpAK8SR3DjMwAdkxj3ZuxV27CprR9LgpeyGmXUbC6wb7ERfvrnKZjXoUmmDznezpbZb7ap6r1D3tgFxHmwMkQTPH",
    "xprv9vHkqa6EV4sPZHYqZznhT2NPtPCjKuDKGY38FBWLvgaDx45zo9WQRUT3dKYnjwih2yJD9mkrocEZXo1ex8G81dwSM1fwqWpWkeS3v86pgKt",
    "04fc9e5af0ac8d9b3cecfe2a888e2117ba3d089d8585886c9c826b6b22a98d12ea67a50538b6f7d8b5f7a1cc657efd267cde8cc1d8c0451d"
    "1340a0fb3642777544",
    "abe74a98f6c7eabee0428f53798f0ab8aa1bd37873999041703c742f15ac7e1e"};
const Node kV2_0_2147483647H{
    "xpub6ASAVgeehLbnwdqV6UKMHVzgqAG8Gr6riv3Fxxpj8ksbH9ebxaEyBLZ85ySDhKiLDBrQSARLq1uNRts8RuJiHjaDMBU4Zn9h8LZNnBC5y4a",
    "xprv9wSp6B7kry3Vj9m1zSnLvN3xH8RdsPP1Mh7fAaR7aRLcQMKTR2vidYEeEg2mUCTAwCd6vnxVrcjfy2kRgVsFawNzmjuHc2YmYRmagcEPdU9",
    "04c01e7425647bdefa82b12d9bad5e3e6865bee0502694b94ca58b666abc0a5c3b6c8bf5e8fbfc053205b45776963d148187d0aebf9c08bf"
    "2b253dc1cf5860fc19",
    "877c779ad9687164e9c2f4f0f4ff0340814392330693ce95a58fe18fd52e6e93"};
const Node kV2_0_2147483647H_1{
    "xpub6DF8uhdarytz3FWdA8TvFSvvAh8dP3283MY7p2V4SeE2wyWmG5mg5EwVvmdMVCQcoNJxGoWaU9DCWh89LojfZ537wTfunKau47EL2dhHKon",
    "xprv9zFnWC6h2cLgpmSA46vutJzBcfJ8yaJGg8cX1e5StJh45BBciYTRXSd25UEPVuesF9yog62tGAQtHjXajPPdbRCHuWS6T8XA2ECKADdw4Ef",
    "04a7d1d856deb74c508e05031f9895dab54626251b3806e16b4bd12e781a7df5b9105b3150817d235e80ea17914dc9d6f542b1c5f4b16d8d"
    "98fe3c94fc0a67de89",
    "704addf544a06e5ee4bea37098463c23613da32020d604506da8c0518e1da4b7"};
const Node kV2_0_2147483647H_1_2147483646H{
    "xpub6ERApfZwUNrhLCkDtcHTcxd75RbzS1ed54G1LkBUHQVHQKqhMkhgbmJbZRkrgZw4koxb5JaHWkY4ALHY2grBGRjaDMzQLcgJvLJuZZvRcEL",
    "xprvA1RpRA33e1JQ7ifknakTFpgNXPmW2YvmhqLQYMmrj4xJXXWYpDPS3xz7iAxn8L39njGVyuoseXzU6rcxFLJ8HFsTjSyQbLYnMpCqE2VbFWc",
    "04d2b36900396c9282fa14628566582f206a5dd0bcc8d5e892611806cafb0301f0ecb53a1b24eda1117d6864f1dbaf2f92345a1cb52c7003"
    "6e2a424b37c3d829b0",
    "f1c7c871a54a804afe328b4c83a1c33b8e5ff48f5087273f04efa83b247d6a2d"};
const Node kV2_0_2147483647H_1_2147483646H_2{
    "xpub6FnCn6nSzZAw5Tw7cgR9bi15UV96gLZhjDstkXXxvCLsUXBGXPdSnLFbdpq8p9HmGsApME5hQTZ3emM2rnY5agb9rXpVGyy3bdW6EEgAtqt",
    "xprvA2nrNbFZABcdryreWet9Ea4LvTJcGsqrMzxHx98MMrotbir7yrKCEXw7nadnHM8Dq38EGfSh6dqA9QWTyefMLEcBYJUuekgW4BYPJcr9E7j",
    "044d902e1a2fc7a8755ab5b694c575fce742c48d9ff192e63df5193e4c7afe1f9c4597bb130cb16893607c6e7418c46be47b8f4a3ddbe5e6"
    "e71051393b1d673abe",
    "bb7d39bdb83ecf58f2fd82b6d918341cbef428661ef01ab97c28a4842125ac23"};

// Vector 1's master xpub with its depth byte set to 255 (checksum redone).
const std::string kDepth255Xpub =
    "xpubEMpurUvVw83z56rYBiYN2J8t42v3PuYfYByQh5uhdE2tNfvndqheEYkU8JnXDSuHnZmsyqrDrMAjS8JS3wx273Y88Rcwo3tcfE1YVbwFNu2";
// Vector 1's master xpub record cut to 77 bytes (checksum redone).
const std::string kShortXpub =
    "Deb7pNXSbX7qSvc2eMjkNYTrggh4pBgYa2QMFjEjj6hUy1i6QK7Zm1qdZkHEwqHpT7WeE6V55dTU8PuuzPAiP8JDwAcsuN3v858r83c7mPeYLX";
// From vector 5: an xpub whose key is 02 00..00 07 (not on the curve), and an
// xprv whose key is the group order n.
const std::string kOffCurveXpub =
    "xpub661MyMwAqRbcEYS8w7XLSVeEsBXy79zSzH1J8vCdxAZningWLdN3zgtU6Q5JXayek4PRsn35jii4veMimro1xefsM58PgBMrvdYre8QyULY";
const std::string kOrderXprv =
    "xprv9s21ZrQH143K24Mfq5zL5MhWK9hUhhGbd45hLXo2Pq2oqzMMo63oStZzFAzHGBP2UuGCqWLTAPLcMtD5SDKr24z3aiUvKr9bJpdrcLg1y3G";

// The "latest" share fixture: its xpub and export id, written by an
// independent tool from the fixture's group key, chain code and transport key.
const std::string kFixtureXpub =
    "xpub661MyMwAqRbcFuJDPJnqx33ZdReWvzDMzGmg7ufaCbgWwoG33kNEQ7Kb6HBQLPcKweGiSEJDpehoSqRanfR6AAJenZ86CDUCcxmGwYdMcjr";
const std::string kFixtureExportId = "5A9MX24XyasttUfKcF9tnmZvUayLZ163934jThhfaBLD";

const std::string kBadUtf8 = "\xff\xfe";

// ---------------------------------------------------------------------------
// Check order and codes.

struct OrderCase {
  const char* name;
  std::function<Outcome()> call;
  std::int32_t code;
  std::string message;
};

void expect_refusals(const std::vector<OrderCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = c.call();
    EXPECT_EQ(o.result.code, c.code);
    EXPECT_EQ(o.result.message, c.message);
    EXPECT_TRUE(o.out_untouched) << "the out-pointer's target was written";
  }
}

const std::string& fixture_share() { return test::share_fixture("latest").at("record"); }

TEST(EcdsaLocalFn, DerivePubkeyChecksInOrder) {
  const std::string& share = fixture_share();
  expect_refusals({
      {"share not hex", [] { return derive_pubkey("zz", {}); }, -3, kShare + "Invalid hex encoding"},
      {"share not UTF-8", [] { return derive_pubkey(kBadUtf8, {}); }, -3, kShare + kUtf8},
      {"share null with length",
       [] { return run([](HeapString* out) { return velto_ecdsa_derive_pubkey(ConstStr{nullptr, 5}, {}, out); }); }, -3,
       kShare + "Received a slice with null pointer, but length: 5"},
      {"bad share before null path",
       [] { return run([](HeapString* out) { return velto_ecdsa_derive_pubkey(cstr("zz"), U32Array{nullptr, 2}, out); }); },
       -3, kShare + "Invalid hex encoding"},
      {"bad share before null out", [] { return derive_pubkey("zz", {}, true); }, -3, kShare + "Invalid hex encoding"},
      {"path null with count",
       [&] { return run([&](HeapString* out) { return velto_ecdsa_derive_pubkey(cstr(share), U32Array{nullptr, 2}, out); }); },
       -11, kPath + ", Context: Received a slice with null pointer, but length: 2"},
      {"hardened second index", [&] { return derive_pubkey(share, {1, 2147483648u}); }, -11,
       kPath + ", Context: The derivation path contains an invalid derivation: `1/2147483648`"},
      {"hardened index before null out", [&] { return derive_pubkey(share, {4294967295u}, true); }, -11,
       kPath + ", Context: The derivation path contains an invalid derivation: `4294967295`"},
      {"null out", [&] { return derive_pubkey(share, {0, 1}, true); }, -253, kNull},
  });
}

TEST(EcdsaLocalFn, GetXpubAndExportIdCheckInOrder) {
  const std::string& share = fixture_share();
  expect_refusals({
      {"xpub: odd-length share", [] { return get_xpub("abc"); }, -3, kShare + "Invalid hex encoding"},
      {"xpub: bad share before null out", [] { return get_xpub(kBadUtf8, true); }, -3, kShare + kUtf8},
      {"xpub: null out", [&] { return get_xpub(share, true); }, -253, kNull},
      {"export id: bad share", [] { return export_id("0g"); }, -3, kShare + "Invalid hex encoding"},
      {"export id: bad share before null out", [] { return export_id("0g", true); }, -3, kShare + "Invalid hex encoding"},
      {"export id: null out", [&] { return export_id(share, true); }, -253, kNull},
  });
}

TEST(EcdsaLocalFn, DerivePubkeyFromXpubChecksInOrder) {
  static const std::string kXpubTooLong =
      "Invalid Xpub base58 encoding: buffer provided to decode base58 encoded string into was too small";
  std::string off_curve_list = "[2, ";
  for (int i = 0; i < 31; ++i) off_curve_list += "0, ";
  off_curve_list += "7]";
  expect_refusals({
      {"empty text", [] { return from_xpub("", {}); }, -17,
       kXpub + "Invalid Xpub base58 encoding: base58ck data not long enough to contain checksum"},
      {"not UTF-8", [] { return from_xpub(kBadUtf8, {}); }, -17, kXpub + kUtf8},
      {"77-byte record", [] { return from_xpub(kShortXpub, {}); }, -17, kXpub + "Invalid Xpub length, expected: 78, found: 77"},
      // Over-long texts are refused before decoding (the invalid character
      // at the end is never reached), whatever their length.
      {"119 characters", [] { return from_xpub(std::string(118, 'z') + "0", {}); }, -17, kXpub + kXpubTooLong},
      {"1 MiB", [] { return from_xpub(std::string(1 << 20, 'z'), {}); }, -17, kXpub + kXpubTooLong},
      {"1 MiB of leading ones", [] { return from_xpub(std::string(1 << 20, '1'), {}); }, -17, kXpub + kXpubTooLong},
      {"an xprv text", [] { return from_xpub(kV2_m.xprv, {}); }, -17,
       kXpub + "Invalid Xpub version, expected: 488B21E, found: 488ADE4"},
      {"key off the curve", [] { return from_xpub(kOffCurveXpub, {}); }, -17, kXpub + "Invalid public key: " + off_curve_list},
      {"bad xpub before null path",
       [] {
         return run([](HeapString* out) {
           return velto_ecdsa_derive_pubkey_from_xpub(cstr(kV2_m.xprv), U32Array{nullptr, 3}, out);
         });
       },
       -17, kXpub + "Invalid Xpub version, expected: 488B21E, found: 488ADE4"},
      {"bad xpub before null out", [] { return from_xpub(kShortXpub, {}, true); }, -17,
       kXpub + "Invalid Xpub length, expected: 78, found: 77"},
      {"path null with count",
       [] {
         return run([](HeapString* out) {
           return velto_ecdsa_derive_pubkey_from_xpub(cstr(kV2_m.xpub), U32Array{nullptr, 3}, out);
         });
       },
       -11, kPath + ", Context: Received a slice with null pointer, but length: 3"},
      {"path of 2^40 indices",
       [] {
         return run([](HeapString* out) {
           const std::uint32_t one = 0;
           return velto_ecdsa_derive_pubkey_from_xpub(cstr(kV2_m.xpub), U32Array{&one, std::uint64_t{1} << 40}, out);
         });
       },
       -11, kPath + ", Context: Received a slice of length 1099511627776, but at most 255 elements are accepted"},
      {"path of 2^64 - 1 indices",
       [] {
         return run([](HeapString* out) {
           const std::uint32_t one = 0;
           return velto_ecdsa_derive_pubkey_from_xpub(cstr(kV2_m.xpub), U32Array{&one, ~std::uint64_t{0}}, out);
         });
       },
       -11, kPath + ", Context: Received a slice of length 18446744073709551615, but at most 255 elements are accepted"},
      {"path of 256 indices", [] { return from_xpub(kV2_m.xpub, std::vector<std::uint32_t>(256, 0)); }, -11,
       kPath + ", Context: Received a slice of length 256, but at most 255 elements are accepted"},
      {"hardened second index", [] { return from_xpub(kV2_m.xpub, {1, 2147483648u}); }, -11, kPath},
      {"depth 255 cannot grow", [] { return from_xpub(kDepth255Xpub, {0}); }, -11, kPath},
      {"hardened index before null out", [] { return from_xpub(kV2_m.xpub, {2147483648u}, true); }, -11, kPath},
      {"null out", [] { return from_xpub(kV2_m.xpub, {0}, true); }, -253, kNull},
  });
}

TEST(EcdsaLocalFn, DerivePrivateKeyFromXprivChecksInOrder) {
  expect_refusals({
      {"not UTF-8", [] { return from_xpriv(kBadUtf8, {}); }, -12, kXpriv + kUtf8},
      {"null with length",
       [] {
         return run([](HeapString* out) {
           return velto_ecdsa_derive_private_key_from_xpriv(ConstStr{nullptr, 4}, {}, out);
         });
       },
       -12, kXpriv + "Received a slice with null pointer, but length: 4"},
      {"an xpub text", [] { return from_xpriv(kV2_m.xpub, {}); }, -12, kXpriv + "Invalid version: 488B21E, expected: 488ADE4"},
      {"private key n", [] { return from_xpriv(kOrderXprv, {}); }, -12, kXpriv + "The encoded private key is invalid"},
      {"bad xprv before null path",
       [] {
         return run([](HeapString* out) {
           return velto_ecdsa_derive_private_key_from_xpriv(cstr(kOrderXprv), U32Array{nullptr, 1}, out);
         });
       },
       -12, kXpriv + "The encoded private key is invalid"},
      {"bad xprv before null out", [] { return from_xpriv(kV2_m.xpub, {}, true); }, -12,
       kXpriv + "Invalid version: 488B21E, expected: 488ADE4"},
      {"path null with count",
       [] {
         return run([](HeapString* out) {
           return velto_ecdsa_derive_private_key_from_xpriv(cstr(kV2_m.xprv), U32Array{nullptr, 1}, out);
         });
       },
       -11, kPath + ", Context: Received a slice with null pointer, but length: 1"},
      {"hardened second index", [] { return from_xpriv(kV2_m.xprv, {1, 2147483648u}); }, -11, kPath},
      {"hardened index before null out", [] { return from_xpriv(kV2_m.xprv, {2147483648u}, true); }, -11, kPath},
      {"null out", [] { return from_xpriv(kV2_m.xprv, {0}, true); }, -253, kNull},
  });
}

// ---------------------------------------------------------------------------
// BIP32 test vectors.

TEST(EcdsaLocalFn, XpubAndXprvDerivationFollowTheTestVectors) {
  struct Case {
    const char* name;
    const Node& parent;
    std::vector<std::uint32_t> path;
    const Node& child;
  };
  const Case cases[] = {
      {"vector 1: m/0H then 1", kV1_0H, {1}, kV1_0H_1},
      {"vector 1: m/0H/1/2H then 2", kV1_0H_1_2H, {2}, kV1_0H_1_2H_2},
      {"vector 1: m/0H/1/2H then 2/1000000000", kV1_0H_1_2H, {2, 1000000000}, kV1_0H_1_2H_2_1000000000},
      {"vector 2: m then 0", kV2_m, {0}, kV2_0},
      {"vector 2: m/0/2147483647H then 1", kV2_0_2147483647H, {1}, kV2_0_2147483647H_1},
      {"vector 2: m/0/2147483647H/1/2147483646H then 2", kV2_0_2147483647H_1_2147483646H, {2},
       kV2_0_2147483647H_1_2147483646H_2},
      {"vector 2: empty path", kV2_m, {}, kV2_m},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ok(from_xpub(c.parent.xpub, c.path)), c.child.pubkey);
    const std::string child_key = ok(from_xpriv(c.parent.xprv, c.path));
    EXPECT_EQ(child_key, c.child.privkey);
    // The child private key belongs to the child public key of the same path.
    EXPECT_EQ(pubkey_of_private_hex(child_key), ok(from_xpub(c.parent.xpub, c.path)));
  }
}

TEST(EcdsaLocalFn, XpubAtDepth255DerivesOnlyTheEmptyPath) {
  // Vector 1's master key, unmoved; any step fails (see the check-order table).
  EXPECT_EQ(ok(from_xpub(kDepth255Xpub, {})),
            "0439a36013301597daef41fbe593a02cc513d0b55527ec2df1050e2e8ff49c85c23cbe7ded0e7ce6a594896b8f62888fdbc5c8821"
            "305e2ea42bf01e37300116281");
}

// ---------------------------------------------------------------------------
// Shares: the hand-built records of every tag.

TEST(EcdsaLocalFn, ShareDerivationMatchesTheFixtures) {
  for (const char* name : {"v1", "v2", "latest", "v1_1_0"}) {
    const test::ShareFixture& f = test::share_fixture(name);
    SCOPED_TRACE(name);
    ASSERT_FALSE(f.derives.empty());
    const std::string xpub = ok(get_xpub(f.at("record")));
    for (const std::string& line : f.derives) {
      SCOPED_TRACE(line);
      std::stringstream ss(line);
      std::string path_text, secret, pubkey;
      ss >> path_text >> secret >> pubkey;
      std::vector<std::uint32_t> path;
      if (path_text != "-") {
        std::stringstream ps(path_text);
        std::string index;
        while (std::getline(ps, index, '/')) path.push_back(static_cast<std::uint32_t>(std::stoul(index)));
      }
      const std::string child = ok(derive_pubkey(f.at("record"), path));
      EXPECT_EQ(child, uncompressed_hex(pubkey));
      // The share's key and its xpub's key move alike.
      EXPECT_EQ(ok(from_xpub(xpub, path)), child);
    }
    // The empty path is the share's own group key.
    EXPECT_EQ(ok(derive_pubkey(f.at("record"), {})), f.at("pubkey_uncompressed"));
  }
}

TEST(EcdsaLocalFn, XpubAndExportIdOfAShare) {
  // Tags 0 to 3 of one key: the V1 record gets the chain code of its upgrade.
  for (const char* name : {"v1", "v2", "latest", "v1_1_0"}) {
    SCOPED_TRACE(name);
    const std::string& record = test::share_fixture(name).at("record");
    EXPECT_EQ(ok(get_xpub(record)), kFixtureXpub);
    EXPECT_EQ(ok(export_id(record)), kFixtureExportId);
  }
}

TEST(EcdsaLocalFn, ExportIdIsTheKeygenIdOfTheSameSecret) {
  HeapString id{nullptr, 0};
  HeapString secret{nullptr, 0};
  ASSERT_EQ(take(velto_init_keygen(&id, &secret)).code, 0);
  const std::string keygen_id(reinterpret_cast<const char*>(id.ptr), id.len);
  const std::string keygen_secret(reinterpret_cast<const char*>(secret.ptr), secret.len);
  velto_dealloc_heap_string(id.ptr, id.len);
  velto_dealloc_heap_string(secret.ptr, secret.len);

  // The fixture's record with its transport private key replaced.
  const test::ShareFixture& f = test::share_fixture("latest");
  const std::string& record = f.at("record");
  const auto at = record.find(f.at("transport_private"));
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(at % 2, 0u);
  const std::string patched = test::patch(record, at / 2, keygen_secret);
  EXPECT_EQ(ok(export_id(patched)), keygen_id);
}

// ---------------------------------------------------------------------------
// Offline export, with shares of real key generations.

class OfflineExport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    async::Runtime rt(2);
    key_a_ = new std::vector<EcdsaStorableSecretShare>(test::fresh_shares(rt, 2, 3));
    key_b_ = new std::vector<EcdsaStorableSecretShare>(test::fresh_shares(rt, 2, 3));
    key_c_ = new std::vector<EcdsaStorableSecretShare>(test::fresh_shares(rt, 3, 3));
  }
  static void TearDownTestSuite() {
    delete key_a_;
    delete key_b_;
    delete key_c_;
  }

  static std::string text(const std::vector<EcdsaStorableSecretShare>* key, std::size_t i) {
    return ecdsa_share_encode((*key)[i]);
  }
  // The private key inside an xprv text, by the library's own xprv reader
  // (its correctness is held to the test vectors above).
  static std::string key_of(const std::string& xprv) { return ok(from_xpriv(xprv, {})); }

  static std::vector<EcdsaStorableSecretShare>* key_a_;
  static std::vector<EcdsaStorableSecretShare>* key_b_;
  static std::vector<EcdsaStorableSecretShare>* key_c_;
};

std::vector<EcdsaStorableSecretShare>* OfflineExport::key_a_ = nullptr;
std::vector<EcdsaStorableSecretShare>* OfflineExport::key_b_ = nullptr;
std::vector<EcdsaStorableSecretShare>* OfflineExport::key_c_ = nullptr;

TEST_F(OfflineExport, AnyThresholdSetRebuildsTheGroupKey) {
  std::vector<ecdsa::KeyPair> two{test::latest_key((*key_a_)[0]), test::latest_key((*key_a_)[2])};
  const std::string expected_key = crypto::hex_encode(ecdsa::testing::interpolate(two).to_bytes());
  const std::string group = group_key_hex((*key_a_)[0]);

  const std::string xprv = ok(offline({text(key_a_, 0), text(key_a_, 2)}));
  EXPECT_EQ(key_of(xprv), expected_key);
  EXPECT_EQ(pubkey_of_private_hex(key_of(xprv)), group);
  // The xprv carries the key's chain code: its children are the share's.
  EXPECT_EQ(ok(from_xpub(ok(get_xpub(text(key_a_, 1))), {5, 9})),
            pubkey_of_private_hex(ok(from_xpriv(xprv, {5, 9}))));

  const std::vector<std::vector<std::size_t>> sets = {{0, 1}, {1, 2}, {2, 0}, {0, 1, 2}, {2, 1, 0}};
  for (const auto& set : sets) {
    std::vector<std::string> texts;
    for (std::size_t i : set) texts.push_back(text(key_a_, i));
    EXPECT_EQ(ok(offline(texts)), xprv) << "set of " << set.size() << " starting with " << set[0];
  }
}

TEST_F(OfflineExport, RefusalsInOrder) {
  // Two different shares of party 1: the same public fields, another secret.
  EcdsaStorableSecretShare other = (*key_a_)[0];
  std::get<3>(other.key_share).secret_share += crypto::Scalar::one();
  const std::string a0 = text(key_a_, 0), a1 = text(key_a_, 1), a2 = text(key_a_, 2);
  const std::string b0 = text(key_b_, 0), c0 = text(key_c_, 0), c1 = text(key_c_, 1);
  const std::string forged = ecdsa_share_encode(other);
  expect_refusals({
      {"null array with count",
       [] {
         return run([](HeapString* out) {
           return velto_ecdsa_offline_export_full_private_key(ConstStrArray{nullptr, 2}, out);
         });
       },
       -3, kShare + "Received a slice with null pointer, but length: 2"},
      {"null array before null out",
       [] { return run([](HeapString*) { return velto_ecdsa_offline_export_full_private_key(ConstStrArray{nullptr, 2}, nullptr); }); },
       -3, kShare + "Received a slice with null pointer, but length: 2"},
      // Counts no call can use are refused before the array is read: the
      // pointer stands for an array far shorter than the count.
      {"8193 shares",
       [&] {
         return run([&](HeapString* out) {
           const ConstStr one = cstr(a0);
           return velto_ecdsa_offline_export_full_private_key(ConstStrArray{&one, 8193}, out);
         });
       },
       -3, kShare + "Received a slice of length 8193, but at most 8192 elements are accepted"},
      {"2^64 - 1 shares",
       [&] {
         return run([&](HeapString* out) {
           const ConstStr one = cstr(a0);
           return velto_ecdsa_offline_export_full_private_key(ConstStrArray{&one, ~std::uint64_t{0}}, out);
         });
       },
       -3, kShare + "Received a slice of length 18446744073709551615, but at most 8192 elements are accepted"},
      {"first bad element wins", [&] { return offline({a0, "zz", kBadUtf8}); }, -3, kShare + "Invalid hex encoding"},
      {"bad element after a duplicate", [&] { return offline({a0, a0, kBadUtf8}); }, -3, kShare + kUtf8},
      {"no shares", [] { return offline({}); }, -8, kExec + too_few(1, 0)},
      {"no shares, any pointer",
       [] {
         static const ConstStr dangling{nullptr, 7};
         return run([](HeapString* out) {
           return velto_ecdsa_offline_export_full_private_key(ConstStrArray{&dangling, 0}, out);
         });
       },
       -8, kExec + too_few(1, 0)},
      {"the same share twice, others complete the set", [&] { return offline({a0, a1, a2, a1}); }, -8, kExec + kDuplicate},
      {"duplicate before too few", [&] { return offline({c0, c0}); }, -8, kExec + kDuplicate},
      {"fewer than the threshold", [&] { return offline({a1}); }, -8, kExec + too_few(2, 1)},
      {"two keys", [&] { return offline({a0, b0}); }, -8, kExec + kIncompatible},
      {"two keys, the first needs three", [&] { return offline({c0, a0}); }, -8, kExec + too_few(3, 2)},
      {"two keys, the first needs two", [&] { return offline({a0, c0}); }, -8, kExec + kIncompatible},
      {"two shares of one party", [&] { return offline({a0, forged}); }, -8,
       kExec + "Executor Failed: `The private key is invalid`"},
      {"two shares of one party beside a good pair", [&] { return offline({a1, a0, forged}); }, -8,
       kExec + "Executor Failed: `The private key is invalid`"},
      {"bad set before null out", [&] { return offline({a0, b0}, true); }, -8, kExec + kIncompatible},
      {"null out", [&] { return offline({c0, c1, text(key_c_, 2)}, true); }, -253, kNull},
  });
}

TEST_F(OfflineExport, ReferenceIsTheFirstShareGiven) {
  // The same mixed set in both orders, many times: the answer follows the
  // order only, never a hash-set's iteration.
  const std::string a0 = text(key_a_, 0), c0 = text(key_c_, 0), c1 = text(key_c_, 1);
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(offline({c0, c1, a0}).result.message, kExec + kIncompatible);
    EXPECT_EQ(offline({a0, c0}).result.message, kExec + kIncompatible);
    EXPECT_EQ(offline({c0, a0}).result.message, kExec + too_few(3, 2));
  }
}

}  // namespace
}  // namespace velto::executor
