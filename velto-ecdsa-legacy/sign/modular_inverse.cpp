#include "velto-ecdsa-legacy/sign/modular_inverse.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "crypto/error.hpp"
#include "sised/sised.hpp"
#include "velto-mpc-infra/async/join_all.hpp"
#include "velto-mpc-infra/commit.hpp"

namespace velto::ecdsa::legacy {
namespace {

namespace asio = boost::asio;
using crypto::Point;
using crypto::Scalar;

using PeerRecord = std::pair<PartyId, PairRecord>;

asio::awaitable<std::expected<PeerRecord, MulError>> preprocess_with_peer(PeerExecutor pair,
                                                                         const SignerSetups& setups) {
  const PartyId peer = pair.peer();
  if (pair.executor().my_party_id() < peer) {
    const auto it = setups.alice.find(peer);
    if (it == setups.alice.end()) velto::panic("no entry found for key");
    auto r = co_await two_party_mul_online_alice(std::move(pair), it->second);
    if (!r) co_return std::unexpected(MulError::AlicePreprocessError{std::move(r.error())});
    PeerRecord out{peer, PairRecord(std::move(*r))};
    co_return out;
  }
  const auto it = setups.bob.find(peer);
  if (it == setups.bob.end()) velto::panic("no entry found for key");
  auto r = co_await two_party_mul_online_bob(std::move(pair), it->second);
  if (!r) co_return std::unexpected(MulError::BobPreprocessError{std::move(r.error())});
  PeerRecord out{peer, PairRecord(std::move(*r))};
  co_return out;
}

struct TreeStep {
  PartyId peer;
  PairRecord record;
  std::vector<Scalar> outputs;
};

asio::awaitable<std::expected<TreeStep, MulError>> tree_step(PartyId peer, PairRecord record,
                                                             std::array<Scalar, 2> inputs) {
  auto z = co_await input_and_adjust(record, inputs);
  if (!z) co_return std::unexpected(MulError::InputAndAdjust{std::move(z.error())});
  if (z->size() != 2) velto::panic("index out of bounds: a tree step gives two outputs");
  TreeStep out{peer, std::move(record), std::move(*z)};
  co_return out;
}

MulError communication(BoxedError e) { return MulError::CommunicationError{std::move(e)}; }
MulError decommit(DecommitError e) { return MulError::DecommitError{box_error<DecommitError>(std::move(e))}; }

}  // namespace

std::size_t inverse_tree_levels(std::size_t n) {
  std::size_t levels = 0;
  while (n > 0 && (std::size_t{2} << levels) <= 2 * n - 1) ++levels;
  return levels;
}

std::pair<std::size_t, std::size_t> inverse_tree_block(std::size_t idx, std::size_t level, std::size_t n) {
  const std::size_t other_half = (1 - ((idx >> level) & 1)) << level;
  const std::size_t start = std::min(((idx >> (level + 1)) << (level + 1)) + other_half, n);
  return {start, std::min(start + (std::size_t{1} << level), n)};
}

asio::awaitable<std::expected<ModularInverse, MulError>> modular_inverse_v4(const ProtocolExecutor& sign,
                                                                           const SignerSetups& setups) {
  const std::vector<PartyId>& parties = sign.parties();
  const PartyId me = sign.my_party_id();
  const auto own = std::find(parties.begin(), parties.end(), me);
  if (own == parties.end()) velto::panic("my party id is always in the party set");
  const std::size_t idx = static_cast<std::size_t>(own - parties.begin());
  const std::size_t n = parties.size();

  // 1. The draws; a zero k_i (never seen in practice) is drawn again.
  ProtocolExecutor sample = sign.child(kInverseSampleLabel);
  Scalar k = Scalar::random(sample.rng());
  while (k.is_zero()) k = Scalar::random(sample.rng());
  const Scalar phi = Scalar::random(sample.rng());
  Scalar x1 = k;
  Scalar x2 = phi * k.invert();

  // 2. Commit φ_i.
  ProtocolExecutor commit_phi = sample.child(kInverseCommitPhiLabel);
  auto phi_digests = co_await commit_round(commit_phi, phi);
  if (!phi_digests) co_return std::unexpected(communication(std::move(phi_digests.error())));

  // 3. One preprocessing run per pair, all at once.
  std::map<PartyId, PairRecord> records;
  {
    std::vector<asio::awaitable<std::expected<PeerRecord, MulError>>> runs;
    for (const PartyId p : parties) {
      if (p == me) continue;
      PeerExecutor pair(sample.child_label_two_ids(kPairMulLabel, std::max(me, p), std::min(me, p)), p);
      runs.push_back(preprocess_with_peer(std::move(pair), setups));
    }
    auto joined = co_await async::try_join_all(std::move(runs));
    if (!joined) co_return std::unexpected(std::move(joined.error()));
    for (PeerRecord& r : *joined) records.emplace(r.first, std::move(r.second));
  }

  // 4. The tree.
  for (std::size_t level = 0; level < inverse_tree_levels(n); ++level) {
    const auto [start, end] = inverse_tree_block(idx, level, n);
    if (start == end) continue;
    std::vector<asio::awaitable<std::expected<TreeStep, MulError>>> steps;
    for (std::size_t pos = start; pos < end; ++pos) {
      auto node = records.extract(parties[pos]);
      if (node.empty()) velto::panic("Party should be here by now");
      steps.push_back(tree_step(parties[pos], std::move(node.mapped()), std::array<Scalar, 2>{x1, x2}));
    }
    auto done = co_await async::try_join_all(std::move(steps));
    if (!done) co_return std::unexpected(std::move(done.error()));
    Scalar sum1;
    Scalar sum2;
    for (TreeStep& s : *done) {
      sum1 += s.outputs[0];
      sum2 += s.outputs[1];
      records.emplace(s.peer, std::move(s.record));
    }
    x1 = sum1;
    x2 = sum2;
  }

  // 5. Commit and open U_i.
  ProtocolExecutor commit_u = sample.child(kInverseCommitULabel);
  const Point u_own = Point::base_mul(x1);
  auto u_digests = co_await commit_round(commit_u, u_own);
  if (!u_digests) co_return std::unexpected(communication(std::move(u_digests.error())));
  auto u_opened = co_await decommit_round(commit_u, u_own, *u_digests);
  if (!u_opened) co_return std::unexpected(decommit(std::move(u_opened.error())));
  Point u = u_own;
  for (const auto& [id, point] : *u_opened) u += point;

  // 6. and 7. Commit V~_i, then open it and φ_i.
  ProtocolExecutor commit_v = sample.child(kInverseCommitVLabel);
  const Point v_own = u * x2;
  auto v_digests = co_await commit_round(commit_v, v_own);
  if (!v_digests) co_return std::unexpected(communication(std::move(v_digests.error())));
  auto v_opened = co_await decommit_round(commit_v, v_own, *v_digests);
  if (!v_opened) co_return std::unexpected(decommit(std::move(v_opened.error())));
  auto phi_opened = co_await decommit_round(commit_phi, phi, *phi_digests);
  if (!phi_opened) co_return std::unexpected(decommit(std::move(phi_opened.error())));
  Point v = v_own;
  for (const auto& [id, point] : *v_opened) v += point;
  Scalar phi_all = phi;
  for (const auto& [id, value] : *phi_opened) phi_all *= value;

  // 8. The check in the exponent.
  if (phi_all.is_zero() || !(Point::base_mul(phi_all) == v)) co_return std::unexpected(MulError::InvalidPad{});

  ModularInverse out{u, x2 * phi_all.invert(), std::move(records)};
  co_return out;
}

}  // namespace velto::ecdsa::legacy
