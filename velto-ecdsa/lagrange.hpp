// The scalar algebra of key generation and signing: the sharing polynomial,
// its evaluation at party ids, Lagrange coefficients at zero, and the
// consistency check that ends every key generation.
//
// Party ids are used as the scalars of their 16-bit values. Distinct ids are
// distinct non-zero scalars, so a denominator can only vanish when an id is
// repeated, which no party list holds (that is a panic, not an error).
//
// Maps from party id to public share are read through find_public_share(),
// which accepts the session engine's PartyMap, associative maps (find/end)
// and ranges of (id, point) pairs sorted by id.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <utility>
#include <vector>

#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::ecdsa {

// A Lagrange fraction before its one inversion.
struct NumDen {
  crypto::Scalar num;
  crypto::Scalar den;
};

// The party id as a scalar.
crypto::Scalar party_scalar(PartyId id);

// Refuses a threshold of 0 (it would share the identity key) and one above the
// number of parties, as InvalidThreshold { threshold, num_parties }.
std::expected<void, EcdsaKeygenLibError> check_threshold(std::uint16_t threshold, std::size_t num_parties);

// [c0, c1, ..., c(t-1)]: c0 given, the others uniform scalars drawn in order
// from `rng` (32-byte big-endian draws, redrawn while not below n). The
// threshold must be at least 1 (check_threshold comes first; 0 panics).
template <class G>
std::vector<crypto::Scalar> keygen_polynomial(const crypto::Scalar& c0, std::uint16_t threshold, G& rng) {
  if (threshold == 0) panic("keygen_polynomial: a threshold of 0 must be refused before sharing");
  std::vector<crypto::Scalar> coefficients;
  coefficients.reserve(threshold);
  coefficients.push_back(c0);
  for (std::uint16_t k = 1; k < threshold; ++k) coefficients.push_back(crypto::Scalar::random(rng));
  return coefficients;
}

// f(x) = Σ c_k·x^k by Horner's rule; 0 for no coefficients.
crypto::Scalar polynomial_eval_at(std::span<const crypto::Scalar> coefficients, PartyId x);

// Folds `ids` into `start`: for each id j other than `skip`, num·j and
// den·(j − x). From (1, 1) with x = skip = own id, num/den is the own
// Lagrange coefficient at 0 over the ids.
NumDen lagrange_num_den(std::span<const PartyId> ids, PartyId skip, const crypto::Scalar& x, NumDen start);

// The same fold, skipping the party ids of both key pairs.
NumDen lagrange_num_den_excluding_pair(std::span<const PartyId> ids, const KeyPair& a, const KeyPair& b,
                                       const crypto::Scalar& x, NumDen start);

// num·den⁻¹; a zero den (a repeated id) panics.
crypto::Scalar lagrange_fraction(const NumDen& nd);

// λ_x = Π j / Π (j − x) over the ids j other than `skip` (every caller passes
// skip = x; a repeated skip id contributes nothing).
crypto::Scalar lagrange_coefficient_at(PartyId x, std::span<const PartyId> ids, PartyId skip);

// The same coefficient with the skip id taken from the key share.
template <class IdRange>
crypto::Scalar lagrange_coefficient_from_set(PartyId x, const IdRange& ids, const KeyPair& share) {
  const std::vector<PartyId> list(std::begin(ids), std::end(ids));
  return lagrange_coefficient_at(x, list, share.party_id);
}

// The own coefficient (x = own_id, skipping the key pair's id) over the party
// ids that are keys of `shares` (any map or range of (id, value) pairs; the
// order does not matter). Used to rebuild a key as Σ λ_i·x_i.
template <class ShareMap>
crypto::Scalar lagrange_coefficient(const KeyPair& own, PartyId own_id, const ShareMap& shares) {
  std::vector<PartyId> ids;
  for (const auto& entry : shares) ids.push_back(entry.first);
  const NumDen start{crypto::Scalar::one(), crypto::Scalar::one()};
  return lagrange_fraction(lagrange_num_den(ids, own.party_id, party_scalar(own_id), start));
}

// The public share of `id` in `shares`, or nullptr.
template <class Shares>
const crypto::Point* find_public_share(const Shares& shares, PartyId id) {
  if constexpr (requires { { shares.find(id) } -> std::convertible_to<const crypto::Point*>; }) {
    return shares.find(id);  // PartyMap
  } else if constexpr (requires { shares.find(id) != shares.end(); }) {
    const auto it = shares.find(id);
    return it == shares.end() ? nullptr : &it->second;
  } else {
    const auto it = std::lower_bound(std::begin(shares), std::end(shares), id,
                                     [](const auto& entry, PartyId key) { return entry.first < key; });
    return it == std::end(shares) || it->first != id ? nullptr : &it->second;
  }
}

// The (point, coefficient) pairs of one window, kept as two lists for the
// multi-scalar sum. Reused from window to window.
struct WeightedPoints {
  std::vector<crypto::Point> points;
  std::vector<crypto::Scalar> coefficients;

  void clear() {
    points.clear();
    coefficients.clear();
  }
  void reserve(std::size_t n) {
    points.reserve(n);
    coefficients.reserve(n);
  }
};

// Fills out.coefficients with λ_F over the window, for each id F in window
// order (one inversion each).
void window_coefficients(std::span<const PartyId> window, std::vector<crypto::Scalar>& out);

// Σ coefficient·point, one multi-scalar sum.
crypto::Point weighted_sum(const WeightedPoints& terms);

// For each id F of the window, in window order: F's public share and λ_F over
// the window. An id without a share is a bug of the caller and panics.
template <class Shares>
void lagrange_weighted_points(std::span<const PartyId> window, const Shares& shares, WeightedPoints& out) {
  out.clear();
  for (const PartyId id : window) {
    const crypto::Point* p = find_public_share(shares, id);
    if (p == nullptr) panic("no entry found for key");
    out.points.push_back(*p);
  }
  window_coefficients(window, out.coefficients);
}

// Fills out.coefficients with one random vector c of the dual of the
// sharing code over `ids` (n ids, threshold t < n): c_j = g(j) / Π_{i≠j} (j − i)
// for a polynomial g of degree below n − t with coefficients drawn from the
// operating system. Σ c_j·f(j) = 0 for every f of degree below t, and these
// vectors are exactly the combinations of the window equations (window k
// interpolates to the same value at 0 as window 1).
void dual_code_coefficients(std::span<const PartyId> ids, std::uint16_t threshold, std::vector<crypto::Scalar>& out);

// Whether the consistency check compares the windows one by one: when their
// (n − t + 1)·t multiplications are at most three times the n + t of the
// dual-code check. Lagrange coefficients over consecutive ids are small
// integers, which the variable-time multiplication of public points runs
// about three times faster than the full-size dual-code weights, so small
// sessions stay with the windows; either way the count is O(n).
bool check_window_by_window(std::size_t num_ids, std::uint16_t threshold);

// The consistency check of key generation over the sorted party list `ids`:
// every window of `threshold` consecutive ids (no wrap-around) must
// interpolate the public shares to the same point at 0, which is returned.
// Refusals: a threshold of 0 is InvalidThreshold; a threshold above the list
// length, or windows that disagree, InvalidLagrangeSum.
//
// All windows agree exactly when the shares lie on one polynomial of degree
// below t (two neighbouring windows share t − 1 ids and the point 0). Past
// small sessions (check_window_by_window) the check tests that with one
// multi-scalar sum over all n shares, weighted by a fresh random vector of
// the dual code (dual_code_coefficients): the sum is the identity for
// consistent shares, and for inconsistent ones only with probability
// 1/order, since the weights are drawn after the shares are fixed. Then the
// first window gives the group key: n + t multiplications instead of
// (n − t + 1)·t. `scratch` is emptied and refilled.
template <class Shares>
std::expected<crypto::Point, EcdsaKeygenLibError> lagrange_sums_agree(std::span<const PartyId> ids,
                                                                     std::uint16_t threshold, const Shares& shares,
                                                                     WeightedPoints& scratch) {
  if (threshold == 0) {
    return std::unexpected(EcdsaKeygenLibError::InvalidThreshold{0, static_cast<std::uint16_t>(ids.size())});
  }
  if (threshold > ids.size()) return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
  if (check_window_by_window(ids.size(), threshold)) {
    scratch.reserve(threshold);
    lagrange_weighted_points(ids.first(threshold), shares, scratch);
    crypto::Point first = weighted_sum(scratch);
    for (std::size_t k = 1; k + threshold <= ids.size(); ++k) {
      lagrange_weighted_points(ids.subspan(k, threshold), shares, scratch);
      if (!(weighted_sum(scratch) == first)) return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
    }
    return first;
  }
  scratch.clear();
  scratch.reserve(ids.size());
  for (const PartyId id : ids) {
    const crypto::Point* p = find_public_share(shares, id);
    if (p == nullptr) panic("no entry found for key");
    scratch.points.push_back(*p);
  }
  dual_code_coefficients(ids, threshold, scratch.coefficients);
  if (!weighted_sum(scratch).is_identity()) return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
  scratch.points.resize(threshold);
  window_coefficients(ids.first(threshold), scratch.coefficients);
  return weighted_sum(scratch);
}

}  // namespace velto::ecdsa
