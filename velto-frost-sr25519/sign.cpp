#include "velto-frost-sr25519/sign.hpp"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "crypto/ristretto_msm.hpp"
#include "velto-frost-ed25519/lagrange.hpp"
#include "velto-frost-ed25519/collect.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::frost {

namespace asio = boost::asio;

Sr25519GroupCommitment sr25519_group_commitment(const crypto::RistrettoPoint& group_key,
                                                std::span<const Sr25519SigningCommitment> sorted,
                                                crypto::ByteSpan message) {
  const Sr25519BindingFactorHasher hasher(group_key, sr25519_hash_msg(message), sr25519_hash_com(sorted));
  Sr25519GroupCommitment out;
  out.binding_factors.reserve(sorted.size());
  std::vector<crypto::RistrettoPoint> binding;
  binding.reserve(sorted.size());
  crypto::RistrettoPoint hiding_sum;
  for (const Sr25519SigningCommitment& entry : sorted) {
    out.binding_factors.push_back(hasher.factor(entry.id));
    binding.push_back(entry.binding);
    hiding_sum += entry.hiding;
  }
  out.commitment = hiding_sum + crypto::ristretto_multi_mul_public(out.binding_factors, binding);
  return out;
}

crypto::EdScalar sr25519_signature_share(const Sr25519KeyShare& share, const Sr25519SigningNonces& nonces,
                                         std::span<const Sr25519SigningCommitment> sorted,
                                         const crypto::EdScalar& own_binding_factor,
                                         const crypto::RistrettoPoint& r, crypto::ByteSpan message) {
  std::vector<PartyId> ids;
  ids.reserve(sorted.size());
  for (const Sr25519SigningCommitment& entry : sorted) ids.push_back(entry.id);
  const crypto::EdScalar lambda = frost_lagrange_coefficient(share.own_id, ids);
  const crypto::EdScalar c = sr25519_signing_challenge(share.group_key, r, message);
  return nonces.hiding + nonces.binding * own_binding_factor + lambda * share.secret_share * c;
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
  const PartyId me = executor.my_party_id();
  const std::size_t signers = executor.parties().size();

  // Round 1: commitments.
  std::optional<Sr25519SigningNonces> nonces(sr25519_signing_nonces(share.secret_share, executor.rng()));
  const Sr25519SigningCommitment own{crypto::RistrettoPoint::base_mul(nonces->hiding),
                                     crypto::RistrettoPoint::base_mul(nonces->binding), me};
  if (auto sent = executor.send_to_all(own); !sent) co_return std::unexpected(Run::communication(std::move(sent.error())));

  auto received = co_await frost_collect_named<Run>(executor, executor.parties(), &Sr25519SigningCommitment::id);
  if (!received) co_return std::unexpected(std::move(received.error()));
  std::vector<Sr25519SigningCommitment> list = std::move(*received);
  for (const Sr25519SigningCommitment& entry : list) {
    if (entry.id == me) panic("We shouldn't have our own message in the list");
  }
  list.push_back(own);
  std::sort(list.begin(), list.end(),
            [](const Sr25519SigningCommitment& a, const Sr25519SigningCommitment& b) { return a.id < b.id; });

  // Binding factors, group commitment and the own share.
  const Sr25519GroupCommitment group = sr25519_group_commitment(share.group_key, list, message);
  const auto own_it = std::lower_bound(list.begin(), list.end(), me,
                                       [](const Sr25519SigningCommitment& e, PartyId id) { return e.id < id; });
  const auto own_index = static_cast<std::size_t>(own_it - list.begin());
  crypto::EdScalar z_own =
      sr25519_signature_share(share, *nonces, list, group.binding_factors[own_index], group.commitment, message);
  nonces.reset();  // the nonces are wiped once the share exists

  // Round 2: shares.
  const Sr25519SignatureShare own_share{z_own, group.commitment};
  if (auto sent = executor.send_to_all(own_share); !sent) {
    co_return std::unexpected(Run::communication(std::move(sent.error())));
  }
  std::vector<Sr25519SignatureShare> shares;
  shares.reserve(signers);
  shares.push_back(own_share);
  {
    auto poll = BufferedPoll::start(executor, executor.parties());
    for (;;) {
      auto item = co_await poll.next<Sr25519SignatureShare>();
      if (!item) co_return std::unexpected(Run::communication(std::move(item.error())));
      if (!*item) break;
      shares.push_back(std::move((*item)->value));
    }
  }

  // Aggregation and the final check.
  crypto::EdScalar s;
  for (const Sr25519SignatureShare& part : shares) {
    if (!(part.commitment == group.commitment)) {
      co_return std::unexpected(Run::inner(FrostSignError::InvalidSignature{}));
    }
    s += part.share;
  }
  const crypto::ByteArray<64> signature = sr25519_signature_bytes(group.commitment, s);
  if (!sr25519_verify(share.group_key, message, signature)) {
    co_return std::unexpected(Run::inner(FrostSignError::InvalidSignature{}));
  }
  co_return signature;
}

}  // namespace velto::frost
