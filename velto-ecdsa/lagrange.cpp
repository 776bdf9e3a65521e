#include "velto-ecdsa/lagrange.hpp"

#include "crypto/random.hpp"

namespace velto::ecdsa {

namespace {

NumDen one_over_one() { return {crypto::Scalar::one(), crypto::Scalar::one()}; }

}  // namespace

crypto::Scalar party_scalar(PartyId id) { return crypto::Scalar::from_u64(id.value()); }

std::expected<void, EcdsaKeygenLibError> check_threshold(std::uint16_t threshold, std::size_t num_parties) {
  if (threshold == 0 || threshold > num_parties) {
    return std::unexpected(
        EcdsaKeygenLibError::InvalidThreshold{threshold, static_cast<std::uint16_t>(num_parties)});
  }
  return {};
}

crypto::Scalar polynomial_eval_at(std::span<const crypto::Scalar> coefficients, PartyId x) {
  const crypto::Scalar xs = party_scalar(x);
  crypto::Scalar acc;
  for (auto it = coefficients.rbegin(); it != coefficients.rend(); ++it) acc = acc * xs + *it;
  return acc;
}

NumDen lagrange_num_den(std::span<const PartyId> ids, PartyId skip, const crypto::Scalar& x, NumDen start) {
  for (const PartyId j : ids) {
    if (j == skip) continue;
    const crypto::Scalar js = party_scalar(j);
    start.num *= js;
    start.den *= js - x;
  }
  return start;
}

NumDen lagrange_num_den_excluding_pair(std::span<const PartyId> ids, const KeyPair& a, const KeyPair& b,
                                       const crypto::Scalar& x, NumDen start) {
  for (const PartyId j : ids) {
    if (j == a.party_id || j == b.party_id) continue;
    const crypto::Scalar js = party_scalar(j);
    start.num *= js;
    start.den *= js - x;
  }
  return start;
}

crypto::Scalar lagrange_fraction(const NumDen& nd) {
  // Party ids are public, so the faster inversion is fine here.
  if (nd.den.is_zero()) panic("Lagrange denominator is zero: a party id is repeated");
  return nd.num * nd.den.invert_vartime();
}

crypto::Scalar lagrange_coefficient_at(PartyId x, std::span<const PartyId> ids, PartyId skip) {
  return lagrange_fraction(lagrange_num_den(ids, skip, party_scalar(x), one_over_one()));
}

void window_coefficients(std::span<const PartyId> window, std::vector<crypto::Scalar>& out) {
  out.clear();
  for (const PartyId id : window) out.push_back(lagrange_coefficient_at(id, window, id));
}

bool check_window_by_window(std::size_t num_ids, std::uint16_t threshold) {
  return (num_ids - threshold + 1) * threshold <= 3 * (num_ids + threshold);
}

void dual_code_coefficients(std::span<const PartyId> ids, std::uint16_t threshold, std::vector<crypto::Scalar>& out) {
  const std::size_t n = ids.size();
  if (threshold == 0 || threshold >= n) panic("dual_code_coefficients: the threshold must be below the party count");
  // d_j = Π_{i≠j} (j − i), then all n inverses with one inversion: prefix
  // products forward, then peel one factor off per id backwards.
  std::vector<crypto::Scalar> den(n, crypto::Scalar::one());
  for (std::size_t j = 0; j < n; ++j) {
    const crypto::Scalar xj = party_scalar(ids[j]);
    for (std::size_t i = 0; i < n; ++i) {
      if (i != j) den[j] *= xj - party_scalar(ids[i]);
    }
  }
  std::vector<crypto::Scalar> prefix(n);
  crypto::Scalar acc = crypto::Scalar::one();
  for (std::size_t j = 0; j < n; ++j) {
    prefix[j] = acc;
    acc *= den[j];
  }
  if (acc.is_zero()) panic("Lagrange denominator is zero: a party id is repeated");
  crypto::Scalar inv = acc.invert_vartime();
  out.assign(n, crypto::Scalar());
  for (std::size_t j = n; j-- > 0;) {
    out[j] = inv * prefix[j];  // 1 / d_j
    inv *= den[j];
  }
  // g of degree n − t − 1, its coefficients fresh from the OS: the peers'
  // shares are fixed before this is drawn.
  crypto::OsRng rng;
  std::vector<crypto::Scalar> g;
  g.reserve(n - threshold);
  for (std::size_t k = 0; k < n - threshold; ++k) g.push_back(crypto::Scalar::random(rng));
  for (std::size_t j = 0; j < n; ++j) out[j] *= polynomial_eval_at(g, ids[j]);
}

crypto::Point weighted_sum(const WeightedPoints& terms) {
  return crypto::Point::multi_mul(terms.coefficients, terms.points);
}

}  // namespace velto::ecdsa
