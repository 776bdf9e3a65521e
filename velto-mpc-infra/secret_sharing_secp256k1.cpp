#include "velto-mpc-infra/secret_sharing_secp256k1.hpp"

#include <algorithm>
#include <exception>
#include <vector>

#include "crypto/bytes.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/async/join_all.hpp"
#include "velto-mpc-infra/broadcast.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace asio = boost::asio;

namespace velto {

namespace {

using crypto::Point;
using crypto::Scalar;

// ---------------------------------------------------------------------------
// Steps run side by side (joined with async::join_until_first_failure).

template <class E>
using Step = asio::awaitable<std::expected<void, E>>;

using VssStep = Step<SecretSharingError>;

// ---------------------------------------------------------------------------
// Checks shared by both steps.

// The party count of the executor (its invariant: 1 to 8192, else the panic
// "Too many parties! Bug!") and the threshold check.
std::expected<std::uint16_t, SecretSharingError> checked_party_count(const ProtocolExecutor& executor,
                                                                     std::uint16_t threshold) {
  const std::uint16_t n = executor.number_of_parties();
  // A threshold of 0 would share nothing; it is refused like one above n.
  if (threshold == 0 || threshold > n) return std::unexpected(SecretSharingError::invalid_threshold(threshold));
  return n;
}

Scalar id_scalar(PartyId id) { return Scalar::from_u64(id.value()); }

// ---------------------------------------------------------------------------
// The two waits of a receiving step.

VssStep receive_share(ProtocolExecutor& receiving, PartyId dealer, std::optional<Scalar>& out) {
  const PartyId from[1] = {dealer};
  auto poll = BufferedPoll::start(receiving, from);
  auto item = co_await poll.next<Scalar>();
  if (!item) co_return std::unexpected(SecretSharingError::communication(std::move(item.error())));
  if (!*item) panic("vss: the dealer's share was not awaited");
  out.emplace((*item)->value);
  co_return std::expected<void, SecretSharingError>();
}

VssStep receive_commitments(ProtocolExecutor broadcast, PartyId dealer, std::optional<std::vector<Point>>& out) {
  auto list = co_await echo_broadcast_receive<std::vector<Point>>(std::move(broadcast), dealer);
  if (!list) co_return std::unexpected(SecretSharingError::broadcast(std::move(list.error())));
  out.emplace(std::move(*list));
  co_return std::expected<void, SecretSharingError>();
}

// ---------------------------------------------------------------------------
// The steps of the joint sharing, each storing its result for the caller.

VssStep receive_into(ProtocolExecutor receiving, PartyId dealer, std::uint16_t threshold,
                     std::optional<DealtShare>& out) {
  auto dealt = co_await vss_receive(std::move(receiving), dealer, threshold);
  if (!dealt) co_return std::unexpected(std::move(dealt.error()));
  out.emplace(std::move(*dealt));
  co_return std::expected<void, SecretSharingError>();
}

VssStep broadcast_metadata(ProtocolExecutor metadata, std::optional<Point> expected,
                           std::optional<PartyMap<std::optional<Point>>>& out) {
  auto announced = co_await echo_broadcast(std::move(metadata), std::move(expected));
  if (!announced) co_return std::unexpected(SecretSharingError::broadcast(std::move(announced.error())));
  out.emplace(std::move(*announced));
  co_return std::expected<void, SecretSharingError>();
}

}  // namespace

// ---------------------------------------------------------------------------
// Polynomials

Scalar evaluate_polynomial(std::span<const Scalar> coefficients, const Scalar& x) {
  Scalar acc;
  for (std::size_t j = coefficients.size(); j-- > 0;) acc = acc * x + coefficients[j];
  return acc;
}

Point evaluate_commitments(std::span<const Point> commitments, const Scalar& x) {
  Point acc;
  for (std::size_t j = commitments.size(); j-- > 0;) acc = acc * x + commitments[j];
  return acc;
}

// ---------------------------------------------------------------------------
// Dealing

std::expected<DealtShare, SecretSharingError> vss_deal(ProtocolExecutor dealing, const Scalar& secret,
                                                       std::uint16_t threshold) {
  const auto n = checked_party_count(dealing, threshold);
  if (!n) return std::unexpected(std::move(n.error()));

  std::vector<Scalar> coefficients;
  coefficients.reserve(threshold);
  coefficients.push_back(secret);
  {
    crypto::SecretArray<64> wide;
    for (std::uint16_t j = 1; j < threshold; ++j) {
      dealing.rng().fill_bytes(wide.mut_span());
      coefficients.push_back(Scalar::from_bytes_wide(wide.array()));
    }
  }

  std::vector<VssShare> shares;
  shares.reserve(dealing.parties().size());
  for (const PartyId x : dealing.parties())
    shares.push_back(VssShare{evaluate_polynomial(coefficients, id_scalar(x)), x, threshold, *n});

  std::vector<Point> commitments;
  commitments.reserve(threshold);
  for (const Scalar& a : coefficients) commitments.push_back(Point::base_mul(a));

  {
    // The dealer reads no echoes: the child lives only for this one send.
    ProtocolExecutor broadcast = dealing.child(kVssBroadcastLabel);
    if (auto sent = echo_broadcast_send(broadcast, commitments); !sent)
      return std::unexpected(SecretSharingError::broadcast(std::move(sent.error())));
  }

  const PartyId me = dealing.my_party_id();
  auto own_it = std::lower_bound(shares.begin(), shares.end(), me,
                                 [](const VssShare& s, PartyId id) { return s.id < id; });
  if (own_it == shares.end() || own_it->id != me) panic("We must have generated a share for ourselves!");
  VssShare own = *own_it;
  shares.erase(own_it);

  for (const VssShare& share : shares) {
    if (auto sent = dealing.send_to(share.id, share.value); !sent)
      return std::unexpected(SecretSharingError::communication(std::move(sent.error())));
  }
  return DealtShare{commitments.front(), std::move(own)};
}

// ---------------------------------------------------------------------------
// Receiving

asio::awaitable<std::expected<DealtShare, SecretSharingError>> vss_receive(ProtocolExecutor receiving, PartyId dealer,
                                                                           std::uint16_t threshold) {
  const PartyId me = receiving.my_party_id();
  if (dealer == me) panic("vss: a dealer does not receive its own sharing");
  const auto n = checked_party_count(receiving, threshold);
  if (!n) co_return std::unexpected(std::move(n.error()));

  std::optional<Scalar> share;
  std::optional<std::vector<Point>> commitments;
  {
    std::vector<VssStep> waits;
    waits.push_back(receive_share(receiving, dealer, share));
    waits.push_back(receive_commitments(receiving.child(kVssBroadcastLabel), dealer, commitments));
    auto both = co_await async::join_until_first_failure(std::move(waits));
    if (!both) co_return std::unexpected(std::move(both.error()));
  }

  // A list of any other length than t would let the dealer raise the
  // polynomial's degree unseen: t shares would then rebuild a wrong secret.
  if (commitments->size() != threshold) co_return std::unexpected(SecretSharingError::share_not_on_polynomial());
  if (!(evaluate_commitments(*commitments, id_scalar(me)) == Point::base_mul(*share)))
    co_return std::unexpected(SecretSharingError::share_not_on_polynomial());
  co_return DealtShare{commitments->front(), VssShare{*share, me, threshold, *n}};
}

// ---------------------------------------------------------------------------
// The joint sharing

asio::awaitable<std::expected<std::pair<Point, VssShare>, JointVssError>> joint_vss_secp256k1(
    ProtocolExecutor executor, Scalar secret, std::uint16_t threshold, std::optional<Point> expected_public_point) {
  const PartyId me = executor.my_party_id();
  const std::uint16_t n = executor.number_of_parties();

  // Every executor of the call is opened (registered) before anything is
  // sent, so no message of another party has to wait for its tag.
  ProtocolExecutor dealing = executor.child_indexed(kVssLabel, me);
  ProtocolExecutor metadata = executor.child(kVssMetadataLabel);
  std::vector<PartyId> dealers;
  std::vector<ProtocolExecutor> receiving;
  dealers.reserve(n);
  receiving.reserve(n);
  for (const PartyId d : executor.parties()) {
    if (d == me) continue;
    dealers.push_back(d);
    receiving.push_back(executor.child_indexed(kVssLabel, d));
  }

  // The dealing step never waits, so running it ahead of the others is the
  // same as running it beside them; its failure ends the call before any
  // wait begins.
  auto dealt = vss_deal(std::move(dealing), secret, threshold);
  if (!dealt) co_return std::unexpected(JointVssError::vss(std::move(dealt.error())));

  std::optional<PartyMap<std::optional<Point>>> announced;
  std::vector<std::optional<DealtShare>> received(dealers.size());
  {
    std::vector<VssStep> steps;
    steps.reserve(dealers.size() + 1);
    steps.push_back(broadcast_metadata(std::move(metadata), std::move(expected_public_point), announced));
    for (std::size_t i = 0; i < dealers.size(); ++i)
      steps.push_back(receive_into(std::move(receiving[i]), dealers[i], threshold, received[i]));
    auto all = co_await async::join_until_first_failure(std::move(steps));
    if (!all) co_return std::unexpected(JointVssError::vss(std::move(all.error())));
  }

  const Point* expected = nullptr;
  for (const auto& [party, point] : *announced) {
    if (!point) continue;
    if (expected == nullptr) {
      expected = &*point;
    } else if (!(*point == *expected)) {
      co_return std::unexpected(JointVssError::missing_or_incorrect_metadata());
    }
  }
  if (expected == nullptr) co_return std::unexpected(JointVssError::missing_or_incorrect_metadata());

  Scalar value = dealt->share.value;
  Point public_point = dealt->public_value;
  for (const auto& r : received) {
    value += r->share.value;
    public_point += r->public_value;
  }
  if (!(public_point == *expected)) co_return std::unexpected(JointVssError::received_inconsistent_shares());
  co_return std::pair<Point, VssShare>(public_point, VssShare{value, me, threshold, n});
}

}  // namespace velto
