#include "velto-frost-bip340/sign.hpp"

#include <algorithm>
#include <vector>

#include "velto-ecdsa/lagrange.hpp"
#include "velto-frost-ed25519/sign_core.hpp"

namespace velto::bip340 {

namespace asio = boost::asio;

namespace {

// The BIP340 side of the shared signing rounds.
struct Bip340Signing {
  using Point = crypto::Point;
  using Scalar = crypto::Scalar;

  template <class G>
  static Bip340SigningNonces nonces(const Bip340KeyShare& share, G& rng) {
    return bip340_signing_nonces(share.secret_share, rng);
  }
  static Bip340GroupCommitment group_commitment(const Bip340KeyShare& share,
                                                std::span<const Bip340SigningCommitment> sorted,
                                                crypto::ByteSpan message) {
    return bip340_group_commitment(share.public_key, sorted, message);
  }
  static Scalar signature_share(const Bip340KeyShare& share, const Bip340SigningNonces& nonces,
                                std::span<const Bip340SigningCommitment> sorted, const Scalar& own_binding_factor,
                                const Point& r, crypto::ByteSpan message) {
    return bip340_signature_share(share, nonces, sorted, own_binding_factor, r, message);
  }
  // Round 2 carries R's x coordinate only.
  static crypto::ByteArray<32> round2_commitment(const Point& r) { return r.x_bytes(); }
};

Bip340SignError from_run_error(const frost::FrostSignRunError& e) {
  if (const auto* m = e.get_if<frost::FrostSignRunError::ReceivedMaliciousdData>()) {
    return Bip340SignError::ReceivedMaliciousdData{m->from};
  }
  if (const auto* c = e.get_if<frost::FrostSignRunError::CommunicationError>()) {
    return Bip340SignError::CommunicationError{c->error};
  }
  return Bip340SignError::InvalidSignature{};
}

}  // namespace

Bip340GroupCommitment bip340_group_commitment(const crypto::Point& group_key,
                                              std::span<const Bip340SigningCommitment> sorted,
                                              crypto::ByteSpan message) {
  const Bip340BindingFactorHasher hasher(group_key, bip340_hash_msg(message), bip340_hash_com(sorted));
  return frost::frost_group_commitment_with(hasher, sorted, &crypto::Point::multi_mul);
}

crypto::Scalar bip340_signature_share(const Bip340KeyShare& share, const Bip340SigningNonces& nonces,
                                      std::span<const Bip340SigningCommitment> sorted,
                                      const crypto::Scalar& own_binding_factor, const crypto::Point& r,
                                      crypto::ByteSpan message) {
  std::vector<PartyId> ids;
  ids.reserve(sorted.size());
  for (const Bip340SigningCommitment& entry : sorted) ids.push_back(entry.id);
  if (std::find(ids.begin(), ids.end(), share.party_id) == ids.end()) {
    panic("assertion failed: participant_list.contains(&self.0.party_id())");
  }
  const crypto::Scalar lambda = ecdsa::lagrange_coefficient_at(share.party_id, ids, share.party_id);
  const crypto::Scalar c = bip340_challenge_hash(r.x_bytes(), share.public_key.x_bytes(), message);
  const crypto::Scalar t = lambda * share.secret_share * c;
  const crypto::Scalar k = nonces.hiding + nonces.binding * own_binding_factor;
  return crypto::Scalar::select(k, -k, !r.has_even_y()) +
         crypto::Scalar::select(t, -t, !share.public_key.has_even_y());
}

bool bip340_verify(const crypto::ByteArray<32>& x_only_key, crypto::ByteSpan message,
                   const crypto::ByteArray<64>& signature) {
  const std::optional<crypto::Point> p = crypto::Point::from_x_only(x_only_key);
  if (!p) return false;
  crypto::ByteArray<32> r_x{};
  std::copy(signature.begin(), signature.begin() + 32, r_x.begin());
  const std::optional<crypto::Scalar> s =
      crypto::Scalar::from_bytes_checked(crypto::ByteSpan(signature.data() + 32, 32));
  if (!s) return false;
  const crypto::Scalar e = bip340_challenge_hash(r_x, x_only_key, message);
  const crypto::Point check = crypto::Point::base_mul(*s) - *p * e;
  // An r of p or more never equals an x coordinate, so it fails the last test.
  return !check.is_identity() && check.has_even_y() && check.x_bytes() == r_x;
}

asio::awaitable<std::expected<crypto::ByteArray<64>, Bip340SignError>> frost_bip340_sign(ProtocolExecutor executor,
                                                                                        const Bip340KeyShare& share,
                                                                                        crypto::ByteSpan message) {
  auto sum = co_await frost::frost_sign_rounds<Bip340Signing>(executor, share, share.party_id, message);
  if (!sum) co_return std::unexpected(from_run_error(sum.error()));
  crypto::ByteArray<64> signature{};
  const crypto::ByteArray<32> r_x = sum->r.x_bytes();
  const crypto::ByteArray<32> s = sum->z.to_bytes();
  std::copy(r_x.begin(), r_x.end(), signature.begin());
  std::copy(s.begin(), s.end(), signature.begin() + 32);
  if (!bip340_verify(share.public_key.x_bytes(), message, signature)) {
    co_return std::unexpected(Bip340SignError(Bip340SignError::InvalidSignature{}));
  }
  co_return signature;
}

}  // namespace velto::bip340
