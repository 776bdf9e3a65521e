// Helpers shared by the key-generation and resharing tests: running parties
// in one process and rebuilding the group secret from shares.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <vector>

#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::ecdsa::testing {

using crypto::Point;
using crypto::Scalar;
using velto::testing::ids_1_to;
using velto::testing::pid;
using velto::testing::run_session;

using HandlerResult = std::expected<KeyPair, BoxedError>;

inline boost::asio::awaitable<HandlerResult> fresh_keygen(ProtocolExecutor root, std::uint16_t threshold) {
  co_return co_await ecdsa_keygen_handler_latest(std::move(root), threshold);
}

// A fresh key generation among `ids`; every party's result, in id order.
inline std::vector<HandlerResult> run_fresh_keygen(async::Runtime& rt, const std::vector<PartyId>& ids,
                                                   std::uint16_t threshold) {
  auto outcomes = run_session<HandlerResult>(
      rt, ids, [threshold](PartyId, ProtocolExecutor root) { return fresh_keygen(std::move(root), threshold); });
  std::vector<HandlerResult> out;
  for (auto& o : outcomes) {
    EXPECT_TRUE(o.manager.has_value());
    out.push_back(std::move(o.result));
  }
  return out;
}

// The key pairs of a key generation that must succeed.
inline std::vector<KeyPair> keys_of(const std::vector<HandlerResult>& results) {
  std::vector<KeyPair> keys;
  for (const auto& r : results) {
    if (!r) {
      ADD_FAILURE() << r.error()->display();
      continue;
    }
    keys.push_back(*r);
  }
  return keys;
}

// Σ λ_i·x_i over the given key pairs, λ_i the Lagrange coefficient at 0
// over their ids.
inline Scalar interpolate(const std::vector<KeyPair>& keys) {
  std::vector<PartyId> ids;
  for (const auto& k : keys) ids.push_back(k.party_id);
  Scalar secret;
  for (const auto& k : keys) secret += lagrange_coefficient_at(k.party_id, ids, k.party_id) * k.secret_share;
  return secret;
}

// Every subset of `size` elements of `keys`.
inline std::vector<std::vector<KeyPair>> subsets(const std::vector<KeyPair>& keys, std::size_t size) {
  std::vector<std::vector<KeyPair>> out;
  const std::size_t n = keys.size();
  for (std::uint32_t mask = 0; mask < (1u << n); ++mask) {
    if (static_cast<std::size_t>(__builtin_popcount(mask)) != size) continue;
    std::vector<KeyPair> pick;
    for (std::size_t i = 0; i < n; ++i)
      if (mask & (1u << i)) pick.push_back(keys[i]);
    out.push_back(std::move(pick));
  }
  return out;
}

// Checks that every `threshold` of the shares rebuild one secret x with
// x·G = the common public key, and returns x.
inline Scalar check_shares_rebuild_key(const std::vector<KeyPair>& keys, std::size_t threshold) {
  EXPECT_FALSE(keys.empty());
  if (keys.empty()) return Scalar();
  const Scalar secret = interpolate(std::vector<KeyPair>(keys.begin(), keys.begin() + threshold));
  EXPECT_TRUE(Point::base_mul(secret) == keys[0].public_key);
  for (const auto& pick : subsets(keys, threshold)) EXPECT_TRUE(interpolate(pick) == secret);
  return secret;
}

}  // namespace velto::ecdsa::testing
