// Version 1.1.0 signing in one process: every signer of dealt keys signs
// along derived paths, the output checked against libsecp256k1 and OpenSSL;
// refusals of a zero hash and of changed Gammas and signature shares.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "velto-ecdsa-legacy/sign/sign.hpp"
#include "velto-ecdsa-legacy/tests/legacy_session.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-ecdsa/sign.hpp"
#include "velto-ecdsa/tests/signature_oracle.hpp"
#include "velto-ecdsa/tests/signing_session.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::ecdsa::legacy::testing {
namespace {

using crypto::Point;
using crypto::Scalar;
using SignResult = std::expected<crypto::Bytes, BoxedError>;

// The key pairs moved along `path`: every share takes the tweak sum, the
// public key the derived one.
std::vector<KeyPair> derive(std::vector<KeyPair> keys, const std::vector<std::uint32_t>& path) {
  const Xpub root{keys[0].chain_code, keys[0].public_key, 0, {}, 0};
  const auto child = derive_child_pubkey_path(root, path);
  EXPECT_TRUE(child);
  for (KeyPair& k : keys) {
    k.secret_share += child->tweak_sum;
    k.public_key = child->xpub.public_key;
    k.chain_code = child->xpub.chain_code;
  }
  return keys;
}

crypto::ByteArray<32> hash_of(std::uint8_t seed) {
  crypto::ByteArray<32> h{};
  for (std::size_t i = 0; i < 32; ++i) h[i] = static_cast<std::uint8_t>(seed * 31 + i);
  return h;
}

asio::awaitable<SignResult> sign_party(ProtocolExecutor root, KeyPair key, crypto::ByteArray<32> hash) {
  co_return co_await ecdsa_sign_v4(std::move(root), key, hash);
}

std::vector<SignResult> sign_all(async::Runtime& rt, const std::vector<KeyPair>& keys, const crypto::ByteArray<32>& hash) {
  std::vector<PartyId> ids;
  for (const KeyPair& k : keys) ids.push_back(k.party_id);
  return run_plain<SignResult>(rt, ids, [keys, hash](PartyId me, ProtocolExecutor root) {
    return sign_party(std::move(root), keys[me.value() - 1], hash);
  });
}

TEST(SignV4, EverySignerGetsTheSameValidSignature) {
  const std::vector<std::vector<std::uint32_t>> paths = {{}, {0}, {1, 0x7fffffffu}};
  async::Runtime rt(2);
  for (const std::uint16_t n : {1, 2, 3, 5}) {
    const auto dealt = signing_test::deal_key(n == 1 ? 1 : 2, n, static_cast<std::uint8_t>(n));
    for (const auto& path : paths) {
      SCOPED_TRACE(std::to_string(n) + " parties, path length " + std::to_string(path.size()));
      const std::vector<KeyPair> keys = derive(dealt.shares, path);
      const crypto::ByteArray<32> hash = hash_of(static_cast<std::uint8_t>(n + path.size()));
      const auto results = sign_all(rt, keys, hash);
      for (const SignResult& r : results) {
        ASSERT_TRUE(r) << r.error()->display();
        EXPECT_EQ(*r, *results[0]);
      }
      signing_test::expect_valid_output(*results[0], keys[0].public_key, hash);
    }
  }
}

TEST(SignV4, ZeroHashIsRefusedByEverySigner) {
  const auto dealt = signing_test::deal_key(2, 3, 9);
  const auto n = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
  crypto::ByteArray<32> order;
  std::copy(n.begin(), n.end(), order.begin());
  async::Runtime rt(2);
  for (const crypto::ByteArray<32>& hash : {crypto::ByteArray<32>{}, order}) {
    for (const SignResult& r : sign_all(rt, dealt.shares, hash)) {
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error()->display(), "Unknown error in signing");
    }
  }
}

// Party 2's signature share changed on its way to parties 1 and 3: their
// sums do not verify and they return no signature. The share is the
// seventh 32-byte payload party 2 sends to each peer (after the joint tag's
// value, the digests of phi, U and V~, the opening of phi and the Gamma
// digest; no other message of a signing has that size).
TEST(SignV4, ChangedSignatureShareYieldsNoSignature) {
  const auto dealt = signing_test::deal_key(2, 3, 4);
  const crypto::ByteArray<32> hash = hash_of(4);
  auto counts = std::make_shared<std::map<PartyId, int>>();
  Rewrite rewrite = [counts](crypto::Bytes& plaintext, PartyId to) {
    if (plaintext.size() != 64 || ++(*counts)[to] != 7) return;
    plaintext[31] ^= 0x01;
  };
  async::Runtime rt(2);
  const std::vector<KeyPair> keys = dealt.shares;
  const auto results = run_tapped<SignResult>(
      rt, ids_1_to(3),
      [keys, hash](PartyId me, ProtocolExecutor root) { return sign_party(std::move(root), keys[me.value() - 1], hash); },
      pid(2), rewrite);
  for (const std::size_t i : {0u, 2u}) {
    ASSERT_FALSE(results[i]);
    EXPECT_EQ(results[i].error()->display(), "Unknown error in signing");
  }
  // Party 2 itself received honest shares.
  ASSERT_TRUE(results[1]);
  signing_test::expect_valid_output(*results[1], keys[0].public_key, hash);
}

}  // namespace
}  // namespace velto::ecdsa::legacy::testing
