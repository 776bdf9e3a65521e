#include "velto-frost-sr25519/sign.hpp"

#include <algorithm>
#include <optional>

#include "crypto/ristretto_msm.hpp"
#include "velto-frost-ed25519/sign_core.hpp"

namespace velto::frost {

namespace asio = boost::asio;

namespace {

// The sr25519 side of the shared signing rounds.
struct Sr25519Signing {
  using Point = crypto::RistrettoPoint;

  template <class G>
  static Sr25519SigningNonces nonces(const Sr25519KeyShare& share, G& rng) {
    return sr25519_signing_nonces(share.secret_share, rng);
  }
  static Sr25519GroupCommitment group_commitment(const Sr25519KeyShare& share,
                                                 std::span<const Sr25519SigningCommitment> sorted,
                                                 crypto::ByteSpan message) {
    return sr25519_group_commitment(share.group_key, sorted, message);
  }
  static crypto::EdScalar signature_share(const Sr25519KeyShare& share, const Sr25519SigningNonces& nonces,
                                          std::span<const Sr25519SigningCommitment> sorted,
                                          const crypto::EdScalar& own_binding_factor,
                                          const crypto::RistrettoPoint& r, crypto::ByteSpan message) {
    return sr25519_signature_share(share, nonces, sorted, own_binding_factor, r, message);
  }
};

}  // namespace

Sr25519GroupCommitment sr25519_group_commitment(const crypto::RistrettoPoint& group_key,
                                                std::span<const Sr25519SigningCommitment> sorted,
                                                crypto::ByteSpan message) {
  const Sr25519BindingFactorHasher hasher(group_key, sr25519_hash_msg(message), sr25519_hash_com(sorted));
  return frost_group_commitment_with(hasher, sorted, &crypto::ristretto_multi_mul_public);
}

crypto::EdScalar sr25519_signature_share(const Sr25519KeyShare& share, const Sr25519SigningNonces& nonces,
                                         std::span<const Sr25519SigningCommitment> sorted,
                                         const crypto::EdScalar& own_binding_factor,
                                         const crypto::RistrettoPoint& r, crypto::ByteSpan message) {
  const crypto::EdScalar c = sr25519_signing_challenge(share.group_key, r, message);
  return frost_share_response(nonces, own_binding_factor, sorted, share.own_id, share.secret_share, c);
}

crypto::ByteArray<64> sr25519_signature_bytes(const crypto::RistrettoPoint& r, const crypto::EdScalar& s) {
  crypto::ByteArray<64> out{};
  std::copy(r.to_bytes().begin(), r.to_bytes().end(), out.begin());
  const crypto::ByteArray<32> sb = s.to_bytes();
  std::copy(sb.begin(), sb.end(), out.begin() + 32);
  out[63] |= 0x80;
  return out;
}

bool sr25519_verify(const crypto::RistrettoPoint& group_key, crypto::ByteSpan message,
                    const crypto::ByteArray<64>& signature) {
  if ((signature[63] & 0x80) == 0) return false;
  crypto::ByteArray<32> s_bytes{};
  std::copy(signature.begin() + 32, signature.end(), s_bytes.begin());
  s_bytes[31] &= 0x7F;
  const std::optional<crypto::EdScalar> s = crypto::EdScalar::from_canonical(s_bytes);
  const std::optional<crypto::RistrettoPoint> r =
      crypto::RistrettoPoint::from_bytes(crypto::ByteSpan(signature.data(), 32));
  if (!s || !r) return false;
  const crypto::EdScalar k = sr25519_signing_challenge(group_key, *r, message);
  const crypto::RistrettoPoint check = (-group_key) * k + crypto::RistrettoPoint::base_mul(*s);
  return check.to_bytes() == r->to_bytes();
}

asio::awaitable<std::expected<crypto::ByteArray<64>, Sr25519SignRunError>> sr25519_threshold_sign(
    ProtocolExecutor executor, const Sr25519KeyShare& share, crypto::ByteSpan message) {
  using Run = Sr25519SignRunError;
  auto sum = co_await frost_sign_rounds<Sr25519Signing>(executor, share, executor.my_party_id(), message);
  if (!sum) co_return std::unexpected(std::move(sum.error()));
  const crypto::ByteArray<64> signature = sr25519_signature_bytes(sum->r, sum->z);
  if (!sr25519_verify(share.group_key, message, signature)) {
    co_return std::unexpected(Run::inner(FrostSignError::InvalidSignature{}));
  }
  co_return signature;
}

}  // namespace velto::frost
