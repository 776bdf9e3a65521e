#include "velto-ecdsa/lagrange.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto::ecdsa {
namespace {

using crypto::ByteArray;
using crypto::Point;
using crypto::Scalar;

std::string panic_message(const std::function<void()>& f) {
  try {
    f();
  } catch (const Panic& p) {
    return p.message();
  }
  return "(no panic)";
}

PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

std::vector<PartyId> pids(std::initializer_list<std::uint16_t> vs) {
  std::vector<PartyId> out;
  for (std::uint16_t v : vs) out.push_back(pid(v));
  return out;
}

KeyPair key_of(PartyId id) { return KeyPair{Scalar::one(), {}, Point::generator(), id, 1, 1}; }

// ---------------------------------------------------------------- coefficients

// lagrange_coefficients.txt: coefficients computed with Python integers
// (num · pow(den, -1, n)), including ids near 2^16, a 20-id set, the own id
// listed twice and the one-id set.
TEST(LagrangeCoefficient, MatchesDirectComputation) {
  std::ifstream in(VELTO_TESTDATA_DIR "/lagrange_coefficients.txt");
  ASSERT_TRUE(in);
  int rows = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ++rows;
    std::istringstream row(line);
    unsigned x = 0;
    std::string list, expected;
    row >> x >> list >> expected;
    SCOPED_TRACE(line);
    std::vector<PartyId> ids;
    std::istringstream ls(list);
    std::string item;
    while (std::getline(ls, item, ',')) ids.push_back(pid(static_cast<std::uint16_t>(std::stoul(item))));
    const PartyId own = pid(static_cast<std::uint16_t>(x));

    EXPECT_EQ(crypto::hex_encode(lagrange_coefficient_at(own, ids, own).to_bytes()), expected);
    EXPECT_EQ(crypto::hex_encode(lagrange_coefficient_from_set(own, ids, key_of(own)).to_bytes()), expected);
    // The map form reads the ids from the keys, in whatever order they come.
    std::unordered_map<PartyId, int> shares;
    for (PartyId id : ids) shares.emplace(id, 0);
    EXPECT_EQ(crypto::hex_encode(lagrange_coefficient(key_of(own), own, shares).to_bytes()), expected);
  }
  EXPECT_EQ(rows, 12);
}

TEST(LagrangeCoefficient, FoldsSkipTheGivenIds) {
  const std::vector<PartyId> ids = pids({1, 2, 3, 5});
  const Scalar seven = Scalar::from_u64(7);
  // Skipping 2 and 3 at x = 7: num = 1·5, den = (1 − 7)(5 − 7) = 12.
  const NumDen pair = lagrange_num_den_excluding_pair(ids, key_of(pid(2)), key_of(pid(3)), seven,
                                                      {Scalar::one(), Scalar::one()});
  EXPECT_EQ(pair.num, Scalar::from_u64(5));
  EXPECT_EQ(pair.den, Scalar::from_u64(12));
  // Skipping 5 at x = 7 from a start of (2, 3): num = 2·1·2·3, den = 3·(−6)(−5)(−4).
  const NumDen one = lagrange_num_den(ids, pid(5), seven, {Scalar::from_u64(2), Scalar::from_u64(3)});
  EXPECT_EQ(one.num, Scalar::from_u64(12));
  EXPECT_EQ(one.den, -Scalar::from_u64(360));
  // A listed id equal to x that is not skipped makes den 0: a bug of the caller.
  EXPECT_EQ(panic_message([&] { (void)lagrange_coefficient_at(pid(2), ids, pid(1)); }),
            "Lagrange denominator is zero: a party id is repeated");
}

// Σ λ_i f(i) over any t ids gives back f(0) for a polynomial of degree t − 1.
TEST(LagrangeCoefficient, InterpolatesThePolynomialAtZero) {
  crypto::ChaCha8Rng rng(ByteArray<32>{3});
  const std::vector<std::vector<PartyId>> sets = {pids({1}), pids({1, 2}), pids({2, 9, 11}),
                                                  pids({1, 2, 3, 4, 5}), pids({65535, 7, 300, 2})};
  for (const auto& ids : sets) {
    const Scalar c0 = Scalar::random(rng);
    const std::vector<Scalar> f = keygen_polynomial(c0, static_cast<std::uint16_t>(ids.size()), rng);
    Scalar sum;
    for (PartyId i : ids) sum += lagrange_coefficient_at(i, ids, i) * polynomial_eval_at(f, i);
    EXPECT_EQ(sum, c0);
  }
}

// ---------------------------------------------------------------- polynomial

TEST(KeygenPolynomial, DrawsTheHigherCoefficientsInOrder) {
  const ByteArray<32> seed{4};
  crypto::ChaCha8Rng rng(seed), same(seed);
  const Scalar c0 = Scalar::from_u64(42);
  const std::vector<Scalar> f = keygen_polynomial(c0, 4, rng);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0], c0);
  for (std::size_t k = 1; k < f.size(); ++k) EXPECT_EQ(f[k], Scalar::random(same));

  crypto::ChaCha8Rng untouched(seed), fresh(seed);
  const std::vector<Scalar> constant = keygen_polynomial(c0, 1, untouched);
  ASSERT_EQ(constant.size(), 1u);
  EXPECT_EQ(Scalar::random(untouched), Scalar::random(fresh));  // t = 1 draws nothing
  EXPECT_EQ(panic_message([&] { (void)keygen_polynomial(c0, 0, rng); }),
            "keygen_polynomial: a threshold of 0 must be refused before sharing");
}

TEST(KeygenPolynomial, EvaluatesByPowersOfTheId) {
  crypto::ChaCha8Rng rng(ByteArray<32>{5});
  const std::vector<Scalar> c = {Scalar::random(rng), Scalar::random(rng), Scalar::random(rng)};
  EXPECT_EQ(polynomial_eval_at(c, pid(3)), c[0] + Scalar::from_u64(3) * c[1] + Scalar::from_u64(9) * c[2]);
  const Scalar big = Scalar::from_u64(65535);
  EXPECT_EQ(polynomial_eval_at(c, pid(65535)), c[0] + big * c[1] + big * big * c[2]);
  EXPECT_TRUE(polynomial_eval_at({}, pid(3)).is_zero());
  EXPECT_EQ(polynomial_eval_at(std::span(c).first(1), pid(9)), c[0]);
}

TEST(KeygenThreshold, RefusesZeroAndMoreThanTheParties) {
  struct Case {
    std::uint16_t t;
    std::size_t n;
    bool ok;
  };
  for (const Case& c : {Case{0, 3, false}, Case{4, 3, false}, Case{1, 1, true}, Case{3, 3, true},
                        Case{1, 8192, true}, Case{0, 1, false}}) {
    SCOPED_TRACE(std::to_string(c.t) + " of " + std::to_string(c.n));
    const auto r = check_threshold(c.t, c.n);
    ASSERT_EQ(r.has_value(), c.ok);
    if (c.ok) continue;
    const auto* e = r.error().get_if<EcdsaKeygenLibError::InvalidThreshold>();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->threshold, c.t);
    EXPECT_EQ(e->num_parties, c.n);
    EXPECT_EQ(r.error().display(), "The threshold Is bigger than the number of parties");
  }
}

// ---------------------------------------------------------------- consistency check

using ShareVec = std::vector<std::pair<PartyId, Point>>;

// Public shares X_j = f(j)·G of a random polynomial of degree t − 1, and f(0)·G.
struct Dealing {
  ShareVec shares;
  Point key;
};

Dealing deal(const std::vector<PartyId>& ids, std::uint16_t t, crypto::ChaCha8Rng& rng) {
  const std::vector<Scalar> f = keygen_polynomial(Scalar::random(rng), t, rng);
  Dealing d;
  for (PartyId id : ids) d.shares.emplace_back(id, Point::base_mul(polynomial_eval_at(f, id)));
  d.key = Point::base_mul(f[0]);
  return d;
}

struct SumsCase {
  std::uint16_t t;
  std::vector<PartyId> ids;
};

const std::vector<SumsCase>& sums_cases() {
  static const std::vector<SumsCase> cases = {
      {1, pids({1})},          {1, pids({1, 2, 3})},           {2, pids({1, 2})},
      {2, pids({1, 2, 3})},    {2, pids({1, 2, 5})},           {3, pids({1, 2, 3, 4, 5})},
      {3, pids({2, 7, 9, 40, 65535})}, {5, pids({1, 2, 3, 4, 5})}, {4, pids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})},
      {8, pids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20})},
      {6, pids({3, 9, 10, 11, 40, 41, 77, 100, 101, 102, 200, 300, 301, 302, 999, 1000, 4000, 65535})},
      {16, pids({1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31})},
  };
  return cases;
}

TEST(LagrangeSumsAgree, HonestSharesGiveTheGroupKey) {
  crypto::ChaCha8Rng rng(ByteArray<32>{6});
  WeightedPoints scratch;
  for (const SumsCase& c : sums_cases()) {
    SCOPED_TRACE(std::to_string(c.t) + " of " + std::to_string(c.ids.size()));
    const Dealing d = deal(c.ids, c.t, rng);
    const auto r = lagrange_sums_agree(c.ids, c.t, d.shares, scratch);
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(*r, d.key);
  }
}

// One public share moved off the polynomial, at every position in turn. With
// t < n some window holds it and another does not, so the check fails; with
// t = n the one window takes whatever it is given.
TEST(LagrangeSumsAgree, RefusesAShareOffThePolynomial) {
  crypto::ChaCha8Rng rng(ByteArray<32>{7});
  WeightedPoints scratch;
  for (const SumsCase& c : sums_cases()) {
    const Dealing honest = deal(c.ids, c.t, rng);
    for (std::size_t p = 0; p < c.ids.size(); ++p) {
      SCOPED_TRACE(std::to_string(c.t) + " of " + std::to_string(c.ids.size()) + ", tampered position " +
                   std::to_string(p));
      Dealing d = honest;
      d.shares[p].second += Point::generator();
      const auto r = lagrange_sums_agree(c.ids, c.t, d.shares, scratch);
      if (c.t == c.ids.size()) {
        ASSERT_TRUE(r);
        EXPECT_NE(*r, honest.key);
      } else {
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().is<EcdsaKeygenLibError::InvalidLagrangeSum>());
        EXPECT_EQ(r.error().display(), "One of the lagrange sums is not equal to the rest");
      }
    }
  }
}

// Shares that agree among themselves but lie on a polynomial of degree t (one
// too many): every single share is "on a polynomial", yet the windows
// disagree. Also shares whose differences cancel in the first window's sum
// (two tampered shares, the first window's key kept) must be refused.
TEST(LagrangeSumsAgree, RefusesSharesOfTooHighADegree) {
  crypto::ChaCha8Rng rng(ByteArray<32>{11});
  WeightedPoints scratch;
  for (const SumsCase& c : sums_cases()) {
    if (c.t == c.ids.size()) continue;
    SCOPED_TRACE(std::to_string(c.t) + " of " + std::to_string(c.ids.size()));
    const Dealing high = deal(c.ids, static_cast<std::uint16_t>(c.t + 1), rng);
    const auto r = lagrange_sums_agree(c.ids, c.t, high.shares, scratch);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "One of the lagrange sums is not equal to the rest");

    // Off the polynomial only outside the first window: the first window
    // still interpolates to the honest key.
    Dealing tail = deal(c.ids, c.t, rng);
    for (std::size_t p = c.t; p < c.ids.size(); ++p) tail.shares[p].second += Point::generator();
    const auto r2 = lagrange_sums_agree(c.ids, c.t, tail.shares, scratch);
    ASSERT_FALSE(r2);
    EXPECT_TRUE(r2.error().is<EcdsaKeygenLibError::InvalidLagrangeSum>());
  }
}

// The dual vector annihilates every polynomial of degree below t, and is not
// the same from call to call (it is drawn fresh each time).
TEST(LagrangeSumsAgree, DualCoefficientsAnnihilateLowDegreeSharings) {
  crypto::ChaCha8Rng rng(ByteArray<32>{12});
  for (const SumsCase& c : sums_cases()) {
    if (c.t == c.ids.size()) continue;
    SCOPED_TRACE(std::to_string(c.t) + " of " + std::to_string(c.ids.size()));
    std::vector<Scalar> first;
    std::vector<Scalar> second;
    dual_code_coefficients(c.ids, c.t, first);
    dual_code_coefficients(c.ids, c.t, second);
    ASSERT_EQ(first.size(), c.ids.size());
    EXPECT_NE(first, second);
    const std::vector<Scalar> f = keygen_polynomial(Scalar::random(rng), c.t, rng);
    Scalar sum;
    for (std::size_t j = 0; j < c.ids.size(); ++j) sum += first[j] * polynomial_eval_at(f, c.ids[j]);
    EXPECT_TRUE(sum.is_zero());
    // A sharing of degree t is caught (its top coefficient is non-zero).
    std::vector<Scalar> g = keygen_polynomial(Scalar::random(rng), static_cast<std::uint16_t>(c.t + 1), rng);
    Scalar off;
    for (std::size_t j = 0; j < c.ids.size(); ++j) off += first[j] * polynomial_eval_at(g, c.ids[j]);
    EXPECT_FALSE(off.is_zero());
  }
}

// The cases above run both ways of checking: window by window for small
// sessions, one dual-code sum for the larger ones.
TEST(LagrangeSumsAgree, CasesCoverBothWaysOfChecking) {
  std::size_t windows = 0;
  std::size_t dual = 0;
  for (const SumsCase& c : sums_cases()) {
    if (c.t == c.ids.size()) continue;
    (check_window_by_window(c.ids.size(), c.t) ? windows : dual) += 1;
  }
  EXPECT_GE(windows, 3u);
  EXPECT_GE(dual, 3u);
  EXPECT_TRUE(check_window_by_window(3, 2));
  EXPECT_TRUE(check_window_by_window(5, 3));
  EXPECT_FALSE(check_window_by_window(31, 16));
}

TEST(LagrangeSumsAgree, ThresholdOutsideTheList) {
  crypto::ChaCha8Rng rng(ByteArray<32>{8});
  const std::vector<PartyId> ids = pids({1, 2, 3});
  const Dealing d = deal(ids, 2, rng);
  WeightedPoints scratch;
  const auto zero = lagrange_sums_agree(ids, 0, d.shares, scratch);
  ASSERT_FALSE(zero);
  const auto* e = zero.error().get_if<EcdsaKeygenLibError::InvalidThreshold>();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->threshold, 0);
  EXPECT_EQ(e->num_parties, 3);

  const auto above = lagrange_sums_agree(ids, 4, d.shares, scratch);
  ASSERT_FALSE(above);
  EXPECT_TRUE(above.error().is<EcdsaKeygenLibError::InvalidLagrangeSum>());
}

TEST(LagrangeSumsAgree, ReadsEveryKindOfShareMap) {
  crypto::ChaCha8Rng rng(ByteArray<32>{9});
  const std::vector<PartyId> ids = pids({3, 4, 8, 20});
  const Dealing d = deal(ids, 3, rng);
  const std::map<PartyId, Point> ordered(d.shares.begin(), d.shares.end());
  const std::unordered_map<PartyId, Point> hashed(d.shares.begin(), d.shares.end());
  PartyMap<Point> collected;
  for (const auto& [id, p] : d.shares) collected.insert(id, p);
  WeightedPoints scratch;
  EXPECT_EQ(lagrange_sums_agree(ids, 3, collected, scratch).value(), d.key);
  EXPECT_EQ(lagrange_sums_agree(ids, 3, ordered, scratch).value(), d.key);
  EXPECT_EQ(lagrange_sums_agree(ids, 3, hashed, scratch).value(), d.key);

  ShareVec missing = d.shares;
  missing.erase(missing.begin() + 2);
  EXPECT_EQ(panic_message([&] { (void)lagrange_sums_agree(ids, 3, missing, scratch); }), "no entry found for key");
}

TEST(LagrangeSumsAgree, WeightedPointsFollowTheWindowOrder) {
  crypto::ChaCha8Rng rng(ByteArray<32>{10});
  const std::vector<PartyId> ids = pids({2, 5, 6});
  const Dealing d = deal(ids, 3, rng);
  WeightedPoints w;
  lagrange_weighted_points(std::span(ids).subspan(1), d.shares, w);
  ASSERT_EQ(w.points.size(), 2u);
  ASSERT_EQ(w.coefficients.size(), 2u);
  EXPECT_EQ(w.points[0], d.shares[1].second);
  EXPECT_EQ(w.points[1], d.shares[2].second);
  // Over the window (5, 6): λ_5 = 6 / (6 − 5) = 6, λ_6 = 5 / (5 − 6) = −5.
  EXPECT_EQ(w.coefficients[0], Scalar::from_u64(6));
  EXPECT_EQ(w.coefficients[1], -Scalar::from_u64(5));
}

}  // namespace
}  // namespace velto::ecdsa
