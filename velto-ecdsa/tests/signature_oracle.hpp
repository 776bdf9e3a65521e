// Checks of a signature output r ‖ s ‖ recovery id ‖ DER against
// libsecp256k1 and OpenSSL, for the signing tests of both ECDSA engines.
#pragma once

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include <algorithm>
#include <cstdint>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::ecdsa::signing_test {

using crypto::Point;

inline bool openssl_verifies(const Point& key, const crypto::ByteArray<32>& hash, crypto::ByteSpan der) {
  const auto uncompressed = key.to_uncompressed();
  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "secp256k1", 0);
  OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, uncompressed.data(), uncompressed.size());
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  EVP_PKEY_CTX* from = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  EVP_PKEY* pkey = nullptr;
  bool ok = EVP_PKEY_fromdata_init(from) == 1 && EVP_PKEY_fromdata(from, &pkey, EVP_PKEY_PUBLIC_KEY, params) == 1;
  if (ok) {
    EVP_PKEY_CTX* v = EVP_PKEY_CTX_new(pkey, nullptr);
    ok = EVP_PKEY_verify_init(v) == 1 && EVP_PKEY_verify(v, der.data(), der.size(), hash.data(), hash.size()) == 1;
    EVP_PKEY_CTX_free(v);
  }
  EVP_PKEY_free(pkey);
  EVP_PKEY_CTX_free(from);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  return ok;
}

// Every property of the handler's output against libsecp256k1 and OpenSSL.
inline void expect_valid_output(const crypto::Bytes& out, const Point& key, const crypto::ByteArray<32>& hash) {
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  ASSERT_GE(out.size(), 73u);
  ASSERT_LE(out.size(), 137u);
  const crypto::ByteSpan compact(out.data(), 64);
  const std::uint8_t recid = out[64];
  const crypto::ByteSpan der(out.data() + 65, out.size() - 65);
  ASSERT_LE(recid, 3);

  secp256k1_ecdsa_signature sig;
  ASSERT_EQ(secp256k1_ecdsa_signature_parse_compact(ctx, &sig, compact.data()), 1);
  EXPECT_EQ(secp256k1_ecdsa_verify(ctx, &sig, hash.data(), &key.raw()), 1);
  // Already low s: normalising changes nothing.
  EXPECT_EQ(secp256k1_ecdsa_signature_normalize(ctx, nullptr, &sig), 0);

  secp256k1_ecdsa_signature from_der;
  ASSERT_EQ(secp256k1_ecdsa_signature_parse_der(ctx, &from_der, der.data(), der.size()), 1);
  crypto::ByteArray<64> der_compact;
  secp256k1_ecdsa_signature_serialize_compact(ctx, der_compact.data(), &from_der);
  EXPECT_TRUE(std::equal(der_compact.begin(), der_compact.end(), compact.begin()));
  // Strict: re-encoding gives the same bytes.
  std::uint8_t reencoded[80];
  std::size_t len = sizeof reencoded;
  ASSERT_EQ(secp256k1_ecdsa_signature_serialize_der(ctx, reencoded, &len, &from_der), 1);
  EXPECT_TRUE(std::equal(der.begin(), der.end(), reencoded, reencoded + len));

  secp256k1_ecdsa_recoverable_signature rsig;
  ASSERT_EQ(secp256k1_ecdsa_recoverable_signature_parse_compact(ctx, &rsig, compact.data(), recid), 1);
  secp256k1_pubkey recovered;
  ASSERT_EQ(secp256k1_ecdsa_recover(ctx, &recovered, &rsig, hash.data()), 1);
  EXPECT_TRUE(Point::from_raw(recovered) == key);

  EXPECT_TRUE(openssl_verifies(key, hash, der));
}

}  // namespace velto::ecdsa::signing_test
