#include "velto-ecdsa/keys.hpp"

#include <secp256k1.h>

#include <algorithm>
#include <string_view>

#include "crypto/blake3.hpp"
#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"

namespace velto::ecdsa {

namespace {

constexpr std::string_view kKeyshareHashContext = "VELTO ECDSA KEYSHARE HASH";
constexpr std::size_t kMaxDerSize = 73;

}  // namespace

crypto::ByteArray<33> pubkey_to_compressed(const crypto::Point& key) {
  if (key.is_identity()) panic("Compressed public key should always be 33 bytes");
  return key.to_compressed();
}

crypto::ByteArray<65> pubkey_to_uncompressed(const crypto::Point& key) {
  if (key.is_identity()) panic("Uncompressed public key should always be 65 bytes");
  return key.to_uncompressed();
}

crypto::ByteArray<32> keyshare_hash(const KeyPair& key) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kKeyshareHashContext);
  sised::hash_into(h, key.secret_share);
  sised::hash_into(h, key.public_key);
  sised::hash_into(h, key.chain_code);
  sised::hash_into(h, key.party_id);
  sised::hash_into(h, key.threshold);
  sised::hash_into(h, key.num_parties);
  return h.finalize();
}

std::optional<crypto::Scalar> scalar_from_be_bytes(crypto::ByteSpan bytes) {
  if (bytes.size() != 32) panic("Slice must be the same length as the array");
  crypto::SecretArray<32> in(bytes);
  // One conditional subtraction of n changes the bytes exactly when the value
  // is not below n; both tests run over the full width, and only their
  // combined outcome is branched on.
  const crypto::Scalar s = crypto::Scalar::from_bytes_reduced(in.array());
  crypto::SecretArray<32> back(s.to_bytes());
  const bool in_range = crypto::ct_equal(in.span(), back.span());
  const bool zero = s.is_zero();
  if (!(in_range & !zero)) return std::nullopt;
  return s;
}

crypto::Bytes signature_to_der(const crypto::Scalar& r, const crypto::Scalar& s) {
  if (r.is_zero() || s.is_zero()) panic("Always a valid signature");
  crypto::ByteArray<64> compact = signature_to_bytes(r, s);
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  secp256k1_ecdsa_signature sig;
  if (secp256k1_ecdsa_signature_parse_compact(ctx, &sig, compact.data()) != 1) {
    panic("Always a valid signature");
  }
  crypto::Bytes out(kMaxDerSize);
  std::size_t len = out.size();
  if (secp256k1_ecdsa_signature_serialize_der(ctx, out.data(), &len, &sig) != 1) panic("DER encoding error");
  out.resize(len);
  return out;
}

crypto::ByteArray<64> signature_to_bytes(const crypto::Scalar& r, const crypto::Scalar& s) {
  crypto::ByteArray<64> out;
  const crypto::ByteArray<32> rb = r.to_bytes();
  const crypto::ByteArray<32> sb = s.to_bytes();
  std::copy(rb.begin(), rb.end(), out.begin());
  std::copy(sb.begin(), sb.end(), out.begin() + 32);
  return out;
}

}  // namespace velto::ecdsa
