#include "velto-frost-sr25519/dkg.hpp"

#include <algorithm>
#include <cstddef>

#include "crypto/ristretto_msm.hpp"
#include "velto-frost-ed25519/collect.hpp"
#include "velto-frost-ed25519/lagrange.hpp"
#include "velto-frost-sr25519/hashes.hpp"

namespace velto::frost {

namespace asio = boost::asio;

// ---------------------------------------------------------------------------
// The local steps.

Sr25519DkgState sr25519_dkg_state_from_draws(const crypto::ByteArray<32>& context, std::uint16_t threshold,
                                             std::uint16_t num_parties, PartyId own, const crypto::EdScalar& a0,
                                             std::span<const crypto::SecretArray<32>> coefficient_draws,
                                             const crypto::SecretArray<32>& nonce_draw) {
  if (threshold == 0 || threshold > num_parties) panic("assertion failed: threshold <= num_parties");
  if (coefficient_draws.size() != threshold - 1u) panic("One draw per coefficient of degree 1 and up. Bug!");

  std::vector<crypto::EdScalar> coefficients;
  coefficients.reserve(threshold);
  coefficients.push_back(a0);
  for (const auto& draw : coefficient_draws) coefficients.push_back(sr25519_hash_coeff(context, draw.span(), a0));

  const crypto::EdScalar r = sr25519_hash_nonce({context, nonce_draw.span(), a0.as_span()});
  const crypto::RistrettoPoint a0_point = crypto::RistrettoPoint::base_mul(a0);
  const crypto::RistrettoPoint r_point = crypto::RistrettoPoint::base_mul(r);
  const crypto::EdScalar c = sr25519_hash_podl(own, context, a0_point, r_point);
  std::vector<crypto::RistrettoPoint> commitments;
  commitments.reserve(threshold - 1u);
  for (std::size_t k = 1; k < coefficients.size(); ++k) {
    commitments.push_back(crypto::RistrettoPoint::base_mul(coefficients[k]));
  }

  return Sr25519DkgState{
      .coefficients = std::move(coefficients),
      .context = context,
      .threshold = threshold,
      .num_parties = num_parties,
      .own_id = own,
      .message = Sr25519DkgRound1Message{r_point, r + a0 * c, a0_point, std::move(commitments), own},
      .peer_round1 = {},
      .outgoing = {},
  };
}

crypto::EdScalar sr25519_polynomial_eval(std::span<const crypto::EdScalar> coefficients, PartyId x) {
  return frost_polynomial_eval(coefficients, x);
}

std::expected<void, Sr25519KeygenError> sr25519_dkg_verify_round1(Sr25519DkgState& state,
                                                                  std::vector<Sr25519DkgRound1Message> received) {
  if (received.size() + 1 != state.num_parties) {
    return std::unexpected(Sr25519KeygenError::IncorrectNumberOfMessages{});
  }
  std::sort(received.begin(), received.end(),
            [](const Sr25519DkgRound1Message& a, const Sr25519DkgRound1Message& b) { return a.sender < b.sender; });

  for (const Sr25519DkgRound1Message& m : received) {
    // z·B − c·A0 = R
    const crypto::EdScalar c = sr25519_hash_podl(m.sender, state.context, m.constant_commitment, m.proof_point);
    const crypto::RistrettoPoint lhs =
        crypto::RistrettoPoint::base_mul(m.proof_response) - m.constant_commitment * c;
    if (!(lhs == m.proof_point)) return std::unexpected(Sr25519KeygenError::ReceivedMaliciousdData{m.sender});
    if (m.commitments.size() + 1 != state.threshold) {
      return std::unexpected(Sr25519KeygenError::IncorrectNumberOfMessages{});
    }
  }

  state.outgoing.clear();
  state.outgoing.reserve(received.size());
  for (const Sr25519DkgRound1Message& m : received) {
    state.outgoing.push_back(
        Sr25519DkgRound2Message{state.own_id, m.sender, sr25519_polynomial_eval(state.coefficients, m.sender)});
  }
  state.peer_round1 = std::move(received);
  return {};
}

std::expected<Sr25519KeyShare, Sr25519KeygenError> sr25519_dkg_finalize(
    const Sr25519DkgState& state, std::vector<Sr25519DkgRound2Message> shares) {
  auto combined = frost_dkg_combine<Sr25519KeygenError>(
      std::span<const crypto::EdScalar>(state.coefficients), std::span<const Sr25519DkgRound1Message>(state.peer_round1),
      state.own_id, state.threshold, state.num_parties, std::move(shares), &crypto::ristretto_multi_mul_public);
  if (!combined) return std::unexpected(std::move(combined.error()));
  return Sr25519KeyShare{
      .group_key = combined->group_key,
      .secret_share = std::move(combined->secret_share),
      .own_id = state.own_id,
      .num_parties = state.num_parties,
      .threshold = state.threshold,
  };
}

Sr25519KeygenRunError sr25519_to_run_error(Sr25519KeygenError error) {
  if (const auto* m = error.get_if<Sr25519KeygenError::ReceivedMaliciousdData>()) {
    return Sr25519KeygenRunError::malicious(m->from);
  }
  return Sr25519KeygenRunError::inner(std::move(error));
}

Sr25519RefreshRunError sr25519_to_refresh_error(Sr25519KeygenRunError error) {
  using Run = Sr25519KeygenRunError;
  using Out = Sr25519RefreshRunError;
  if (const auto* m = error.get_if<Run::ReceivedMaliciousdData>()) return Out::malicious(m->from);
  if (const auto* c = error.get_if<Run::CommunicationError>()) return Out::communication(c->error);
  const Sr25519KeygenError& inner = *error.inner_error();
  if (const auto* m = inner.get_if<Sr25519KeygenError::ReceivedMaliciousdData>()) return Out::malicious(m->from);
  if (inner.is<Sr25519KeygenError::IncorrectNumberOfCommitments>()) {
    return Out::inner(Sr25519RefreshError::IncorrectNumberOfCommitments{});
  }
  if (const auto* t = inner.get_if<Sr25519KeygenError::ThresholdGreaterThanParties>()) {
    return Out::inner(Sr25519RefreshError::NotEnoughPartiesForRefresh{t->parties, t->threshold});
  }
  return Out::inner(Sr25519RefreshError::IncorrectNumberOfMessages{});
}

crypto::EdScalar sr25519_weighted_share(const Sr25519KeyShare& share, std::span<const PartyId> holders) {
  return share.secret_share * frost_lagrange_coefficient(share.own_id, holders);
}

// ---------------------------------------------------------------------------
// The rounds.

asio::awaitable<std::expected<std::vector<Sr25519DkgRound1Message>, Sr25519KeygenRunError>> sr25519_collect_round1(
    ProtocolExecutor& executor, std::span<const PartyId> awaited) {
  co_return co_await frost_collect_named<Sr25519KeygenRunError>(executor, awaited, &Sr25519DkgRound1Message::sender);
}

asio::awaitable<std::expected<std::vector<Sr25519DkgRound2Message>, Sr25519KeygenRunError>> sr25519_collect_round2(
    ProtocolExecutor& executor, std::span<const PartyId> awaited) {
  co_return co_await frost_collect_named<Sr25519KeygenRunError>(executor, awaited, &Sr25519DkgRound2Message::sender);
}

asio::awaitable<std::expected<Sr25519DkgRoundsOutput, Sr25519KeygenRunError>> sr25519_dkg_rounds(
    ProtocolExecutor& executor, std::uint16_t threshold, crypto::EdScalar a0) {
  const std::uint16_t n = executor.number_of_parties();
  if (threshold == 0 || threshold > n) {
    co_return std::unexpected(
        Sr25519KeygenRunError::inner(Sr25519KeygenError::ThresholdGreaterThanParties{threshold, n}));
  }
  Sr25519DkgState state =
      sr25519_dkg_sample_polynomial(executor.rng(), executor.tag().bytes(), threshold, n, executor.my_party_id(), a0);

  if (auto sent = executor.send_to_all(state.message); !sent) {
    co_return std::unexpected(Sr25519KeygenRunError::communication(std::move(sent.error())));
  }
  auto round1 = co_await sr25519_collect_round1(executor, executor.parties());
  if (!round1) co_return std::unexpected(std::move(round1.error()));
  if (auto checked = sr25519_dkg_verify_round1(state, std::move(*round1)); !checked) {
    co_return std::unexpected(sr25519_to_run_error(std::move(checked.error())));
  }

  for (const Sr25519DkgRound2Message& share : state.outgoing) {
    if (auto sent = executor.send_to(share.recipient, share); !sent) {
      co_return std::unexpected(Sr25519KeygenRunError::communication(std::move(sent.error())));
    }
  }
  auto round2 = co_await sr25519_collect_round2(executor, executor.parties());
  if (!round2) co_return std::unexpected(std::move(round2.error()));
  Sr25519DkgRoundsOutput out(std::move(state), std::move(*round2));
  co_return std::move(out);
}

asio::awaitable<std::expected<Sr25519KeyShare, Sr25519KeygenRunError>> sr25519_dkg(ProtocolExecutor executor,
                                                                                   std::uint16_t threshold,
                                                                                   crypto::EdScalar a0) {
  auto rounds = co_await sr25519_dkg_rounds(executor, threshold, std::move(a0));
  if (!rounds) co_return std::unexpected(std::move(rounds.error()));
  auto share = sr25519_dkg_finalize(rounds->state, std::move(rounds->received));
  if (!share) co_return std::unexpected(sr25519_to_run_error(std::move(share.error())));
  co_return std::move(*share);
}

asio::awaitable<std::expected<Sr25519KeyShare, Sr25519KeygenRunError>> sr25519_keygen_fresh(
    ProtocolExecutor executor, std::uint16_t threshold) {
  crypto::EdScalar a0 = crypto::EdScalar::random(executor.rng());
  ProtocolExecutor rounds = executor.child(kSr25519Keygen2RoundsLabel);
  co_return co_await sr25519_dkg(std::move(rounds), threshold, std::move(a0));
}

asio::awaitable<std::expected<Sr25519KeyShare, Sr25519RefreshRunError>> sr25519_keygen_2rounds(
    const ProtocolExecutor& executor, std::uint16_t threshold, crypto::RistrettoPoint expected_group_key) {
  auto share = co_await sr25519_dkg(executor.child(kSr25519Keygen2RoundsLabel), threshold, crypto::EdScalar::zero());
  if (!share) co_return std::unexpected(sr25519_to_refresh_error(std::move(share.error())));
  if (!(share->group_key == expected_group_key)) {
    co_return std::unexpected(Sr25519RefreshRunError::inner(Sr25519RefreshError::RefreshIsNotOfSameSecret{}));
  }
  co_return std::move(*share);
}

}  // namespace velto::frost
