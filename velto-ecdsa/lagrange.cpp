#include "velto-ecdsa/lagrange.hpp"

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

crypto::Point weighted_sum(const WeightedPoints& terms) {
  return crypto::Point::multi_mul(terms.coefficients, terms.points);
}

}  // namespace velto::ecdsa
