// Helpers of the current-version ECDSA handler tests: parties as tasks of one
// runtime over the in-memory network, key shares from a real key
// generation, signing with the existing sign handler and checks against
// libsecp256k1.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>
#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include <cstdint>
#include <expected>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "executor/api_type.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/sign.hpp"
#include "velto-ecdsa/tests/keygen_test_util.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::executor::test {

namespace asio = boost::asio;
using ecdsa::KeyPair;
using velto::testing::ids_1_to;
using velto::testing::pid;
using velto::testing::run_session;

// A stored share of the current form with a fresh transport key for each
// party: shares[i] belongs to party keys[i].party_id.
inline std::vector<EcdsaStorableSecretShare> shares_of(const std::vector<KeyPair>& keys) {
  std::vector<noise::NoiseKeyPair> transport;
  PartyPubkeyMap map;
  for (const auto& k : keys) {
    transport.push_back(noise::generate_ephemeral());
    map.insert_or_assign(k.party_id, transport.back().public_key());
  }
  std::vector<EcdsaStorableSecretShare> out;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    out.push_back(EcdsaStorableSecretShare{EcdsaKeyShare(std::in_place_index<3>, keys[i]), transport[i], map});
  }
  return out;
}

// A fresh (t, n) key from the key-generation handler, as stored shares.
inline std::vector<EcdsaStorableSecretShare> fresh_shares(async::Runtime& rt, std::uint16_t t, std::uint16_t n) {
  auto keys = ecdsa::testing::keys_of(ecdsa::testing::run_fresh_keygen(rt, ids_1_to(n), t));
  EXPECT_EQ(keys.size(), n);
  return shares_of(keys);
}

inline const KeyPair& latest_key(const EcdsaStorableSecretShare& share) {
  EXPECT_EQ(share.tag(), EcdsaShareTag::Latest);
  return std::get<3>(share.key_share);
}

// The key pairs of results that must all be shares, each read (and its form
// checked) by `key_of`: the current form unless told otherwise.
using ShareKeyReader = const KeyPair& (*)(const EcdsaStorableSecretShare&);
inline std::vector<KeyPair> keys_of_shares(const std::vector<ShareResult>& results,
                                           ShareKeyReader key_of = &latest_key) {
  std::vector<KeyPair> out;
  for (const auto& r : results) {
    if (!r) {
      ADD_FAILURE() << r.error().display();
      continue;
    }
    out.push_back(key_of(*r));
  }
  return out;
}

// Every party's handler result in id order; the managers' outcomes are not
// judged (a failed party may leave its peers' managers with an error).
template <class R, class Protocol>
std::vector<R> run_parties(async::Runtime& rt, const std::vector<PartyId>& ids, Protocol protocol,
                           InMemoryNetwork::Options options = {}) {
  auto outcomes = run_session<R>(rt, ids, std::move(protocol), options);
  std::vector<R> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

// The failure kind of a result, for tables of expected failures.
template <class T>
const ExecutorErrorKind& kind_of(const std::expected<T, ExecutorFailure>& r) {
  return r.error().inner();
}

// ------------------------------------------------------------ signing

inline asio::awaitable<std::expected<crypto::Bytes, BoxedError>> sign_party(ProtocolExecutor root, KeyPair key,
                                                                          crypto::ByteArray<32> hash) {
  co_return co_await ecdsa::ecdsa_sign_handler_latest(std::move(root), std::move(key), hash);
}

// libsecp256k1: r ‖ s verifies under `key` and the recovery id recovers it.
inline void expect_signature_of(const crypto::Bytes& out, const crypto::Point& key,
                                const crypto::ByteArray<32>& hash) {
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  ASSERT_GE(out.size(), 65u);
  secp256k1_ecdsa_signature sig;
  ASSERT_EQ(secp256k1_ecdsa_signature_parse_compact(ctx, &sig, out.data()), 1);
  EXPECT_EQ(secp256k1_ecdsa_verify(ctx, &sig, hash.data(), &key.raw()), 1);
  secp256k1_ecdsa_recoverable_signature rsig;
  ASSERT_EQ(secp256k1_ecdsa_recoverable_signature_parse_compact(ctx, &rsig, out.data(), out[64]), 1);
  secp256k1_pubkey recovered;
  ASSERT_EQ(secp256k1_ecdsa_recover(ctx, &recovered, &rsig, hash.data()), 1);
  EXPECT_TRUE(crypto::Point::from_raw(recovered) == key);
}

// Signs `hash` with the given key pairs (their ids are the session) and
// checks every party's signature against the group key.
inline void expect_keys_sign(async::Runtime& rt, const std::vector<KeyPair>& signers, std::uint8_t salt) {
  ASSERT_FALSE(signers.empty());
  crypto::ByteArray<32> hash{};
  for (std::size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<std::uint8_t>(i * 7 + salt);
  std::vector<PartyId> ids;
  for (const auto& k : signers) ids.push_back(k.party_id);
  auto results = run_parties<std::expected<crypto::Bytes, BoxedError>>(
      rt, ids, [&signers, hash](PartyId id, ProtocolExecutor root) {
        for (const auto& k : signers)
          if (k.party_id == id) return sign_party(std::move(root), k, hash);
        throw std::logic_error("no key for party");
      });
  for (const auto& r : results) {
    ASSERT_TRUE(r.has_value()) << r.error()->display();
    expect_signature_of(*r, signers[0].public_key, hash);
  }
}

}  // namespace velto::executor::test
