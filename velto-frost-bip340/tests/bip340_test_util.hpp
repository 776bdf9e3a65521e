// Helpers of the BIP340 tests (hex and the scripted generator come from the
// FROST Ed25519 tests): dealt key shares, libsecp256k1 as the
// independent BIP340 verifier, and whole signing sessions over the in-memory
// network.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>
#include <secp256k1.h>
#include <secp256k1_extrakeys.h>
#include <secp256k1_schnorrsig.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/random.hpp"
#include "crypto/secp256k1.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-frost-bip340/sign.hpp"
#include "velto-frost-ed25519/tests/frost_test_util.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::bip340::testing {

using velto::testing::ids_1_to;
using velto::testing::pid;
using velto::testing::run_session;

using frost::testing::hex;
using frost::testing::ScriptedRng;
using frost::testing::unhex;
using frost::testing::unhex_array;

inline crypto::Scalar scalar_hex(std::string_view text) {
  auto s = crypto::Scalar::from_bytes_checked(unhex(text));
  if (!s) ADD_FAILURE() << "not a scalar: " << text;
  return s.value_or(crypto::Scalar{});
}

// libsecp256k1's context for the checks below (verification only).
inline const secp256k1_context* oracle_ctx() {
  static secp256k1_context* ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
  return ctx;
}

// libsecp256k1's BIP340 verifier.
inline bool libsecp_verifies(const crypto::ByteArray<32>& x_only_key, crypto::ByteSpan message,
                             const crypto::ByteArray<64>& signature) {
  secp256k1_xonly_pubkey key;
  if (secp256k1_xonly_pubkey_parse(oracle_ctx(), &key, x_only_key.data()) != 1) return false;
  return secp256k1_schnorrsig_verify(oracle_ctx(), signature.data(), message.data(), message.size(), &key) == 1;
}

// Shamir shares of `secret` for parties 1..n at threshold t (random higher
// coefficients), with the given chain code.
inline std::vector<Bip340KeyShare> deal(const crypto::Scalar& secret, std::uint16_t t, std::uint16_t n) {
  crypto::OsRng rng;
  const std::vector<crypto::Scalar> poly = ecdsa::keygen_polynomial(secret, t, rng);
  const crypto::Point key = crypto::Point::base_mul(secret);
  std::vector<Bip340KeyShare> out;
  for (std::uint16_t j = 1; j <= n; ++j) {
    out.push_back(Bip340KeyShare{ecdsa::polynomial_eval_at(poly, pid(j)), crypto::ByteArray<32>{0x0C}, key, pid(j), t,
                                 n});
  }
  return out;
}

// A random secret whose public key has the asked y parity.
inline crypto::Scalar secret_with_parity(bool even_y) {
  crypto::OsRng rng;
  for (;;) {
    crypto::Scalar s = crypto::Scalar::random(rng);
    if (crypto::Point::base_mul(s).has_even_y() == even_y) return s;
  }
}

using SignResult = std::expected<crypto::ByteArray<64>, Bip340SignError>;

// Signing among the holders of `shares` (their ids form the session), each
// with its own message.
inline std::vector<SignResult> run_sign(async::Runtime& rt, const std::vector<Bip340KeyShare>& shares,
                                        const std::vector<crypto::Bytes>& messages) {
  std::vector<PartyId> ids;
  for (const auto& s : shares) ids.push_back(s.party_id);
  auto outcomes = run_session<SignResult>(rt, ids, [&shares, &messages](PartyId me, ProtocolExecutor root) {
    std::size_t i = 0;
    while (shares[i].party_id != me) ++i;
    return frost_bip340_sign(std::move(root), shares[i], messages[i]);
  });
  std::vector<SignResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

inline std::vector<SignResult> run_sign(async::Runtime& rt, const std::vector<Bip340KeyShare>& shares,
                                        const crypto::Bytes& message) {
  return run_sign(rt, shares, std::vector<crypto::Bytes>(shares.size(), message));
}

}  // namespace velto::bip340::testing
