// Verifiable secret sharing: errors, polynomial evaluation, recombination,
// the dealing and receiving steps driven by hand, and joint sharings over the
// in-memory network with honest and cheating dealers.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/broadcast.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/secret_sharing.hpp"
#include "velto-mpc-infra/secret_sharing_secp256k1.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::testing {
namespace {

using crypto::Point;
using crypto::Scalar;
using PointList = std::vector<Point>;

Scalar sc(std::uint64_t v) { return Scalar::from_u64(v); }
Point mul_g(const Scalar& k) { return Point::base_mul(k); }
Point mul_g(std::uint64_t k) { return Point::base_mul(sc(k)); }

crypto::Bytes encoded(const auto& value) { return *sised::encode(value); }

template <class T>
asio::awaitable<void> store(asio::awaitable<T> op, std::optional<T>& out) {
  out.emplace(co_await std::move(op));
}

crypto::ChaCha8Rng test_rng(std::uint8_t seed) {
  crypto::ByteArray<32> s{};
  s[0] = seed;
  return crypto::ChaCha8Rng(s);
}

// f(x) = Σ a_j·x^j with explicit powers (the code under test uses Horner).
Scalar power_sum(const std::vector<Scalar>& a, const Scalar& x) {
  Scalar sum, power = Scalar::one();
  for (const Scalar& c : a) {
    sum += c * power;
    power *= x;
  }
  return sum;
}

PointList commitments_of(const std::vector<Scalar>& a) {
  PointList out;
  for (const Scalar& c : a) out.push_back(mul_g(c));
  return out;
}

// ---------------------------------------------------------------------------
// Errors

TEST(SecretSharingErrorTest, TextsDebugFormsAndSources) {
  const BoxedError closed = ExecutorChannelError::manager_channel_closed();
  const SecretSharingError broadcast = SecretSharingError::broadcast(InfraError::cheating_detected());
  const SecretSharingError communication = SecretSharingError::communication(closed);
  struct Case {
    SecretSharingError error;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {SecretSharingError::invalid_threshold(5), "Invalid threshold: 5", "InvalidThreshold(NumberOfParties(5))"},
      {broadcast, "Broadcast error: Cheating detected", "BroadcastError(CheatingDetected)"},
      {communication, "Communication error: The manager channel was closed",
       "CommunicationError(ManagerChannelClosed)"},
      {SecretSharingError::share_not_on_polynomial(), "VSS Verification Failed -- Cheating Detected!",
       "ShareNotOnBroadcastPolynomial"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
  ASSERT_NE(broadcast.source(), nullptr);
  EXPECT_EQ(broadcast.source()->debug(), "CheatingDetected");
  EXPECT_EQ(communication.source(), closed.get());
  EXPECT_EQ(SecretSharingError::invalid_threshold(5).source(), nullptr);
  EXPECT_EQ(SecretSharingError::share_not_on_polynomial().source(), nullptr);
  EXPECT_THROW(SecretSharingError::communication(nullptr), Panic);
}

TEST(JointVssErrorTest, TextsDebugFormsAndSources) {
  const JointVssError broadcast = JointVssError::broadcast(InfraError::cheating_detected());
  const JointVssError vss = JointVssError::vss(SecretSharingError::invalid_threshold(5));
  struct Case {
    JointVssError error;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {broadcast, "Broadcast Error: Cheating detected", "BroadcastError(CheatingDetected)"},
      {vss, "Vss Error: Invalid threshold: 5", "VssError(InvalidThreshold(NumberOfParties(5)))"},
      {JointVssError::vss(SecretSharingError::broadcast(InfraError::no_such_party(pid(4)))),
       "Vss Error: Broadcast error: No such party: 4", "VssError(BroadcastError(NoSuchParty(PartyId(4))))"},
      {JointVssError::missing_or_incorrect_metadata(), "Missing or incorrect metadata", "MissingOrIncorrectMetadata"},
      {JointVssError::received_inconsistent_shares(), "Received inconsistent shares", "ReceivedInconsistentShares"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
  ASSERT_NE(broadcast.source(), nullptr);
  EXPECT_EQ(broadcast.source()->display(), "Cheating detected");
  ASSERT_NE(vss.source(), nullptr);
  EXPECT_EQ(vss.source()->display(), "Invalid threshold: 5");
  EXPECT_EQ(JointVssError::missing_or_incorrect_metadata().source(), nullptr);
}

// ---------------------------------------------------------------------------
// Polynomials and recombination

TEST(Polynomials, HornerMatchesThePowerSumForScalarsAndPoints) {
  // 5 + 7x + 11x^2 at 3 is 125.
  const std::vector<Scalar> small{sc(5), sc(7), sc(11)};
  EXPECT_EQ(evaluate_polynomial(small, sc(3)), sc(125));
  EXPECT_EQ(evaluate_commitments(commitments_of(small), sc(3)), mul_g(125));
  // Empty: zero and the identity; at zero: the constant term.
  EXPECT_EQ(evaluate_polynomial({}, sc(3)), Scalar::zero());
  EXPECT_TRUE(evaluate_commitments({}, sc(3)).is_identity());
  EXPECT_EQ(evaluate_commitments(commitments_of(small), Scalar::zero()), mul_g(5));

  auto rng = test_rng(1);
  std::vector<Scalar> a;
  for (int j = 0; j < 6; ++j) a.push_back(Scalar::random(rng));
  for (const std::uint64_t x : {1u, 2u, 4000u, 65535u}) {
    EXPECT_EQ(evaluate_polynomial(a, sc(x)), power_sum(a, sc(x))) << x;
    EXPECT_EQ(evaluate_commitments(commitments_of(a), sc(x)), mul_g(power_sum(a, sc(x)))) << x;
  }
}

VssShare share_at(const std::vector<Scalar>& a, std::uint16_t id) {
  return VssShare{power_sum(a, sc(id)), pid(id), static_cast<std::uint16_t>(a.size()), 0};
}

Scalar recombine(const std::vector<VssShare>& shares) {
  std::vector<PartyId> ids;
  for (const auto& s : shares) ids.push_back(s.id);
  Scalar sum;
  for (const auto& s : shares) sum += lagrange_weighted_share(s, ids);
  return sum;
}

TEST(LagrangeWeightedShare, AnyThresholdOfSharesRebuildsTheSecret) {
  // 5 + 3x: shares 8 at 1 and 11 at 2; weights 2 and -1.
  EXPECT_EQ(recombine({share_at({sc(5), sc(3)}, 1), share_at({sc(5), sc(3)}, 2)}), sc(5));

  auto rng = test_rng(2);
  const std::vector<Scalar> a{Scalar::random(rng), Scalar::random(rng), Scalar::random(rng)};
  const std::vector<std::vector<std::uint16_t>> subsets{{1, 2, 3}, {3, 9, 200}, {65535, 17, 2}, {1, 2, 3, 9, 200}};
  for (const auto& ids : subsets) {
    std::vector<VssShare> shares;
    for (const auto id : ids) shares.push_back(share_at(a, id));
    EXPECT_EQ(recombine(shares), a[0]) << ids.size() << " shares from " << ids[0];
  }
  // Fewer than t shares rebuild something else.
  EXPECT_NE(recombine({share_at(a, 3), share_at(a, 9)}), a[0]);
  // One share alone, over its own id: its value.
  const VssShare one = share_at(a, 7);
  const PartyId only[1] = {pid(7)};
  EXPECT_EQ(lagrange_weighted_share(one, only), one.value);
}

// ---------------------------------------------------------------------------
// The dealing step, driven by hand

crypto::SecretArray<32> known_seed_key() {
  crypto::ByteArray<32> k;
  for (std::size_t i = 0; i < 32; ++i) k[i] = static_cast<std::uint8_t>(0xa0 + i);
  return crypto::SecretArray<32>(k);
}

const UcTag kDealerTwoTag = child_indexed_uc_tag(root_uc_tag(), "vss", PartyId::unchecked(2));

TEST(VssDeal, CommitsBeforeSharingAndDrawsEachCoefficientFrom64Bytes) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(3), kInboundCapacity, known_seed_key(), kDealerTwoTag);
  const Scalar secret = sc(424242);
  auto dealt = vss_deal(std::move(*d.executor), secret, 3);
  ASSERT_TRUE(dealt.has_value()) << dealt.error().display();

  // The generator of an executor on this tag, read here on its own.
  crypto::ChaCha8Rng rng(crypto::Blake3::keyed(known_seed_key().array()).update(kDealerTwoTag.span()).finalize());
  std::vector<Scalar> a{secret};
  for (int j = 1; j < 3; ++j) {
    crypto::ByteArray<64> wide;
    rng.fill_bytes(wide);
    a.push_back(Scalar::from_bytes_wide(wide));
  }

  EXPECT_EQ(dealt->public_value, mul_g(secret));
  EXPECT_EQ(dealt->share.value, power_sum(a, sc(2)));
  EXPECT_EQ(dealt->share.id, pid(2));
  EXPECT_EQ(dealt->share.threshold, 3);
  EXPECT_EQ(dealt->share.parties, 3);

  const UcTag list_tag = derive_child_uc_tag(kDealerTwoTag, "broadcast");
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 6u);
  EXPECT_EQ(std::get<manager_message::Register>(commands[0]).tag, list_tag);
  const auto& list = std::get<manager_message::SendToAll>(commands[1]);
  EXPECT_EQ(list.tag, list_tag);
  EXPECT_EQ(list.payload, encoded(commitments_of(a)));
  EXPECT_EQ(std::get<manager_message::Deregister>(commands[2]).tag, list_tag);
  for (const auto& [i, to] : {std::pair{3, 1}, std::pair{4, 3}}) {
    const auto& share = std::get<manager_message::Send>(commands[i]);
    EXPECT_EQ(share.tag, kDealerTwoTag);
    EXPECT_EQ(share.to, pid(to));
    EXPECT_EQ(share.payload, encoded(power_sum(a, sc(to))));
  }
  EXPECT_EQ(std::get<manager_message::Deregister>(commands[5]).tag, kDealerTwoTag);
}

TEST(VssDeal, ThresholdOutOfRangeSendsNothing) {
  for (const std::uint16_t t : {0, 4}) {
    auto d = DetachedExecutor::open(pid(2), ids_1_to(3), kInboundCapacity, known_seed_key(), kDealerTwoTag);
    auto dealt = vss_deal(std::move(*d.executor), sc(1), t);
    ASSERT_FALSE(dealt.has_value());
    EXPECT_EQ(dealt.error().display(), "Invalid threshold: " + std::to_string(t));
    auto commands = d.drain();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<manager_message::Deregister>(commands[0]));
  }
}

TEST(VssDeal, OneOfOneKeepsItsSecretAndSendsNoShare) {
  auto d = DetachedExecutor::open(pid(1), {pid(1)});
  auto dealt = vss_deal(std::move(*d.executor), sc(99), 1);
  ASSERT_TRUE(dealt.has_value());
  EXPECT_EQ(dealt->share.value, sc(99));
  EXPECT_EQ(dealt->public_value, mul_g(99));
  for (const auto& c : d.drain()) EXPECT_FALSE(std::holds_alternative<manager_message::Send>(c));
}

TEST(VssDeal, SendFailuresAfterTheManagerEnded) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
  d.commands.reset();
  auto dealt = vss_deal(std::move(*d.executor), sc(1), 2);
  ASSERT_FALSE(dealt.has_value());
  EXPECT_EQ(dealt.error().debug(), "BroadcastError(Communication(ManagerChannelClosed))");
}

// ---------------------------------------------------------------------------
// The receiving step, driven by hand: party 1 of 1, 2, 3 receives dealer 3's
// sharing with threshold 2.

struct Receiver {
  static constexpr std::uint16_t kThreshold = 2;
  const UcTag tag = child_indexed_uc_tag(root_uc_tag(), "vss", PartyId::unchecked(3));
  DetachedExecutor d = DetachedExecutor::open(pid(1), ids_1_to(3), kInboundCapacity, crypto::SecretArray<32>(), tag);
  ManualContext ctx;
  std::optional<std::expected<DealtShare, SecretSharingError>> out;
  std::optional<async::Sender<ProtocolReceivedMessage>> list_inbound;
  std::vector<ManagerMessage> commands;

  // Starts the step and finds the echo broadcast's executor among the
  // commands it queued.
  void start(std::uint16_t threshold = kThreshold) {
    ctx.spawn(store(vss_receive(std::move(*d.executor), pid(3), threshold), out));
    ctx.poll();
    for (auto& c : d.drain()) {
      if (auto* r = std::get_if<manager_message::Register>(&c);
          r != nullptr && r->tag == derive_child_uc_tag(tag, "broadcast")) {
        list_inbound.emplace(std::move(r->inbound));
      } else {
        commands.push_back(std::move(c));
      }
    }
  }
  // Refused once the step has ended.
  void feed_list(std::uint16_t from, crypto::Bytes payload) {
    ASSERT_TRUE(list_inbound.has_value());
    ProtocolReceivedMessage m{std::move(payload), pid(from)};
    (void)list_inbound->try_send(std::move(m));
  }
  // Feeds the dealer's share, the dealer's list and party 2's echo.
  void run(crypto::Bytes share, crypto::Bytes list, crypto::Bytes echo) {
    d.feed(3, std::move(share));
    start();
    feed_list(3, std::move(list));
    feed_list(2, std::move(echo));
    ctx.poll();
    for (auto& c : d.drain()) commands.push_back(std::move(c));
  }
};

TEST(VssReceive, AcceptsAShareOnTheBroadcastPolynomial) {
  const std::vector<Scalar> a{sc(1000), sc(77)};
  Receiver r;
  r.run(encoded(power_sum(a, sc(1))), encoded(commitments_of(a)), encoded(commitments_of(a)));
  ASSERT_TRUE(r.out.has_value());
  ASSERT_TRUE(r.out->has_value()) << r.out->error().display();
  EXPECT_EQ((*r.out)->public_value, mul_g(1000));
  EXPECT_EQ((*r.out)->share.value, power_sum(a, sc(1)));
  EXPECT_EQ((*r.out)->share.id, pid(1));
  EXPECT_EQ((*r.out)->share.threshold, 2);
  EXPECT_EQ((*r.out)->share.parties, 3);
  // The list was echoed to party 2 alone.
  ASSERT_FALSE(r.commands.empty());
  const auto& echo = std::get<manager_message::Send>(r.commands[0]);
  EXPECT_EQ(echo.to, pid(2));
  EXPECT_EQ(echo.payload, encoded(commitments_of(a)));
}

TEST(VssReceive, RefusesSharesAndListsThatDoNotFit) {
  const std::vector<Scalar> a{sc(1000), sc(77)};
  // A dealer that raises the degree: three coefficients where t is 2, with a
  // share that lies on them.
  const std::vector<Scalar> raised{sc(1000), sc(77), sc(5)};
  const std::vector<Scalar> lowered{sc(1000)};
  ASSERT_EQ(evaluate_commitments(commitments_of(raised), sc(1)), mul_g(power_sum(raised, sc(1))));
  PointList other = commitments_of(a);
  other[1] = mul_g(78);
  struct Case {
    std::string name;
    crypto::Bytes share;
    crypto::Bytes list;
    crypto::Bytes echo;
    std::string display;
  };
  const std::vector<Case> cases{
      {"share off the polynomial", encoded(power_sum(a, sc(1)) + sc(1)), encoded(commitments_of(a)),
       encoded(commitments_of(a)), "VSS Verification Failed -- Cheating Detected!"},
      {"list longer than t", encoded(power_sum(raised, sc(1))), encoded(commitments_of(raised)),
       encoded(commitments_of(raised)), "VSS Verification Failed -- Cheating Detected!"},
      {"list shorter than t", encoded(power_sum(lowered, sc(1))), encoded(commitments_of(lowered)),
       encoded(commitments_of(lowered)), "VSS Verification Failed -- Cheating Detected!"},
      {"empty list", encoded(Scalar::zero()), encoded(PointList{}), encoded(PointList{}),
       "VSS Verification Failed -- Cheating Detected!"},
      {"share not below the order", filled(32, 0xff), encoded(commitments_of(a)), encoded(commitments_of(a)),
       "Communication error: Invalid Scalar"},
      {"echo differs", encoded(power_sum(a, sc(1))), encoded(commitments_of(a)), encoded(other),
       "Broadcast error: Cheating detected"},
  };
  for (const auto& c : cases) {
    Receiver r;
    r.run(c.share, c.list, c.echo);
    ASSERT_TRUE(r.out.has_value()) << c.name;
    ASSERT_FALSE(r.out->has_value()) << c.name;
    EXPECT_EQ(r.out->error().display(), c.display) << c.name;
  }
}

TEST(VssReceive, FirstFailureEndsTheStepWithoutWaitingForTheOther) {
  Receiver r;
  r.d.feed(3, filled(31, 0));  // the share does not decode; no list ever comes
  r.start();
  ASSERT_TRUE(r.out.has_value());
  ASSERT_FALSE(r.out->has_value());
  EXPECT_EQ(r.out->error().display(), "Communication error: Out of bounds");
  // Both executors were released.
  std::size_t deregistered = 0;
  for (const auto& c : r.commands) deregistered += std::holds_alternative<manager_message::Deregister>(c);
  EXPECT_EQ(deregistered, 2u);
}

TEST(VssReceive, ThresholdAboveThePartyCountBeforeAnythingIsReceived) {
  Receiver r;
  r.start(4);
  ASSERT_TRUE(r.out.has_value());
  ASSERT_FALSE(r.out->has_value());
  EXPECT_EQ(r.out->error().debug(), "InvalidThreshold(NumberOfParties(4))");
  EXPECT_FALSE(r.list_inbound.has_value());  // no echo broadcast was opened
}

// ---------------------------------------------------------------------------
// Joint sharings over the in-memory network

using JointResult = std::expected<std::pair<Point, VssShare>, JointVssError>;

struct Contributions {
  std::vector<Scalar> secrets;  // by party index
  std::vector<std::optional<Point>> announced;
};

std::vector<PartyOutcome<JointResult>> run_joint(async::Runtime& rt, std::uint16_t n, std::uint16_t t,
                                                 const Contributions& setup) {
  return run_session<JointResult>(
      rt, ids_1_to(n), [t, setup](PartyId me, ProtocolExecutor root) -> asio::awaitable<JointResult> {
        const std::size_t i = me.value() - 1u;
        co_return co_await joint_vss_secp256k1(std::move(root), setup.secrets[i], t, setup.announced[i]);
      });
}

Contributions random_contributions(std::uint16_t n, std::uint8_t seed) {
  auto rng = test_rng(seed);
  Contributions s;
  for (std::uint16_t i = 0; i < n; ++i) s.secrets.push_back(Scalar::random(rng));
  s.announced.assign(n, std::nullopt);
  return s;
}

Scalar sum_of(const std::vector<Scalar>& v) {
  Scalar s;
  for (const auto& x : v) s += x;
  return s;
}

TEST(JointVss, SharesOfEveryDealerRecombineToTheSumOfTheSecrets) {
  async::Runtime rt(4);
  struct Case {
    std::uint16_t n, t;
  };
  for (const auto& c : {Case{3, 2}, Case{3, 3}, Case{5, 1}, Case{5, 3}, Case{16, 5}, Case{16, 16}}) {
    Contributions setup = random_contributions(c.n, static_cast<std::uint8_t>(c.n * 17 + c.t));
    setup.secrets[1] = Scalar::zero();  // a party that contributes nothing
    const Scalar secret = sum_of(setup.secrets);
    setup.announced[c.n - 1] = mul_g(secret);
    auto outcomes = run_joint(rt, c.n, c.t, setup);

    std::vector<VssShare> shares;
    for (std::uint16_t i = 0; i < c.n; ++i) {
      const auto& o = outcomes[i];
      EXPECT_TRUE(o.manager.has_value());
      ASSERT_TRUE(o.result.has_value()) << c.n << "/" << c.t << " party " << i + 1 << ": "
                                        << o.result.error().display();
      EXPECT_EQ(o.result->first, mul_g(secret));
      const VssShare& share = o.result->second;
      EXPECT_EQ(share.id, pid(i + 1));
      EXPECT_EQ(share.threshold, c.t);
      EXPECT_EQ(share.parties, c.n);
      shares.push_back(share);
    }
    // The first t, the last t, and every other share from the second on.
    const std::vector<VssShare> first(shares.begin(), shares.begin() + c.t);
    const std::vector<VssShare> last(shares.end() - c.t, shares.end());
    std::vector<VssShare> spread;
    for (std::size_t i = 1; i < shares.size() && spread.size() < c.t; i += 2) spread.push_back(shares[i]);
    for (std::size_t i = 0; spread.size() < c.t; i += 2) spread.push_back(shares[i]);
    EXPECT_EQ(recombine(first), secret) << c.n << "/" << c.t;
    EXPECT_EQ(recombine(last), secret) << c.n << "/" << c.t;
    EXPECT_EQ(recombine(spread), secret) << c.n << "/" << c.t;
    if (c.t > 1) {
      const std::vector<VssShare> too_few(shares.begin(), shares.begin() + (c.t - 1));
      EXPECT_NE(recombine(too_few), secret) << c.n << "/" << c.t;
    }
  }
}

TEST(JointVss, OnePartyKeepsItsSecret) {
  async::Runtime rt(2);
  Contributions setup{{sc(31337)}, {mul_g(31337)}};
  auto outcomes = run_joint(rt, 1, 1, setup);
  ASSERT_TRUE(outcomes[0].result.has_value());
  EXPECT_EQ(outcomes[0].result->first, mul_g(31337));
  EXPECT_EQ(outcomes[0].result->second.value, sc(31337));
  EXPECT_EQ(outcomes[0].result->second.parties, 1);

  setup.announced[0].reset();
  outcomes = run_joint(rt, 1, 1, setup);
  ASSERT_FALSE(outcomes[0].result.has_value());
  EXPECT_EQ(outcomes[0].result.error().display(), "Missing or incorrect metadata");
}

TEST(JointVss, FailuresThatEveryPartySees) {
  async::Runtime rt(4);
  const std::uint16_t n = 4;
  const Contributions base = random_contributions(n, 9);
  const Point right = mul_g(sum_of(base.secrets));
  struct Case {
    std::string name;
    std::uint16_t t;
    std::vector<std::optional<Point>> announced;
    std::string display;
  };
  const std::vector<Case> cases{
      {"threshold above n", 5, {right, right, right, right}, "Vss Error: Invalid threshold: 5"},
      {"nobody announces", 2, {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
       "Missing or incorrect metadata"},
      {"two points announced", 2, {right, std::nullopt, mul_g(5), std::nullopt}, "Missing or incorrect metadata"},
      {"announced point is not the sum", 2, {std::nullopt, mul_g(5), mul_g(5), std::nullopt},
       "Received inconsistent shares"},
  };
  for (const auto& c : cases) {
    Contributions setup = base;
    setup.announced = c.announced;
    auto outcomes = run_joint(rt, n, c.t, setup);
    for (std::uint16_t i = 0; i < n; ++i) {
      ASSERT_FALSE(outcomes[i].result.has_value()) << c.name << " party " << i + 1;
      EXPECT_EQ(outcomes[i].result.error().display(), c.display) << c.name << " party " << i + 1;
    }
  }
}

// A dealer under the test's control. It opens its executors as an honest
// party does, then, one after another:
// 1. takes part in the metadata broadcast, announcing nothing; once it has
//    every honest party's digest, every honest party has everyone's, so no
//    honest party can be left waiting in that broadcast by another that
//    fails early;
// 2. sends each other party the commitment list that `list_for` gives;
// 3. echoes every other dealer's list to the other receivers (so that honest
//    receivers are not left waiting for it);
// 4. sends each other party the share that `share_for` gives.
struct CheatingDealer {
  std::function<PointList(PartyId)> list_for;
  std::function<Scalar(PartyId)> share_for;
};

asio::awaitable<void> run_cheater(ProtocolExecutor root, CheatingDealer plan) {
  const PartyId me = root.my_party_id();
  ProtocolExecutor dealing = root.child_indexed("vss", me);
  ProtocolExecutor metadata = root.child("broadcast metadata");
  std::vector<std::pair<PartyId, ProtocolExecutor>> receiving;
  for (const PartyId d : root.parties())
    if (d != me) receiving.emplace_back(d, root.child_indexed("vss", d));

  auto announced = co_await echo_broadcast(std::move(metadata), std::optional<Point>());
  EXPECT_TRUE(announced.has_value());
  {
    ProtocolExecutor lists = dealing.child("broadcast");
    for (const PartyId p : root.parties())
      if (p != me) {
        EXPECT_TRUE(lists.send_to(p, plan.list_for(p)).has_value());
      }
  }
  for (auto& [dealer, r] : receiving) {
    ProtocolExecutor lists = r.child("broadcast");
    const PartyId from[1] = {dealer};
    auto poll = BufferedPoll::start(lists, from);
    auto list = co_await poll.next<PointList>();
    EXPECT_TRUE(list && *list);
    if (!list || !*list) co_return;
    for (const PartyId p : root.parties())
      if (p != me && p != dealer) {
        EXPECT_TRUE(lists.send_to(p, (*list)->value).has_value());
      }
  }
  for (const PartyId p : root.parties())
    if (p != me) {
      EXPECT_TRUE(dealing.send_to(p, plan.share_for(p)).has_value());
    }
}

// Runs the joint sharing among n parties with the last one cheating as
// `plan` says; party 1 announces the sum of the honest secrets and the
// cheater's a_0.
std::vector<PartyOutcome<JointResult>> run_with_cheater(async::Runtime& rt, std::uint16_t n, std::uint16_t t,
                                                        const Contributions& honest, const Scalar& cheater_secret,
                                                        CheatingDealer plan) {
  const Point announced = mul_g(sum_of(honest.secrets) + cheater_secret);
  return run_session<JointResult>(
      rt, ids_1_to(n),
      [n, t, honest, announced, plan](PartyId me, ProtocolExecutor root) -> asio::awaitable<JointResult> {
        if (me == pid(n)) {
          co_await run_cheater(std::move(root), plan);
          co_return std::unexpected(JointVssError::received_inconsistent_shares());  // not looked at
        }
        const std::size_t i = me.value() - 1u;
        const std::optional<Point> expected = i == 0 ? std::optional<Point>(announced) : std::nullopt;
        co_return co_await joint_vss_secp256k1(std::move(root), honest.secrets[i], t, expected);
      });
}

TEST(JointVssCheating, WrongShareFailsItsReceiverAloneTheOthersStillVerify) {
  async::Runtime rt(4);
  const std::vector<Scalar> a{sc(5555), sc(6666)};
  const Contributions honest = random_contributions(2, 21);
  CheatingDealer plan{[&a](PartyId) { return commitments_of(a); },
                      [&a](PartyId p) { return power_sum(a, sc(p.value())) + (p == pid(2) ? sc(1) : sc(0)); }};
  auto outcomes = run_with_cheater(rt, 3, 2, honest, a[0], plan);
  ASSERT_TRUE(outcomes[0].result.has_value()) << outcomes[0].result.error().display();
  EXPECT_EQ(outcomes[0].result->first, mul_g(sum_of(honest.secrets) + a[0]));
  ASSERT_FALSE(outcomes[1].result.has_value());
  EXPECT_EQ(outcomes[1].result.error().display(), "Vss Error: VSS Verification Failed -- Cheating Detected!");
}

TEST(JointVssCheating, CommitmentListOfAnotherLengthIsRefusedEverywhere) {
  async::Runtime rt(4);
  const std::uint16_t n = 4, t = 2;
  const Contributions honest = random_contributions(n - 1, 22);
  for (const std::vector<Scalar>& a :
       {std::vector<Scalar>{sc(1), sc(2), sc(3)}, std::vector<Scalar>{sc(7)}}) {
    // Shares that lie on the list as sent: only its length gives it away.
    CheatingDealer plan{[a](PartyId) { return commitments_of(a); },
                        [a](PartyId p) { return power_sum(a, sc(p.value())); }};
    auto outcomes = run_with_cheater(rt, n, t, honest, a[0], plan);
    for (std::uint16_t i = 0; i + 1 < n; ++i) {
      ASSERT_FALSE(outcomes[i].result.has_value()) << a.size() << " points, party " << i + 1;
      EXPECT_EQ(outcomes[i].result.error().debug(), "VssError(ShareNotOnBroadcastPolynomial)");
    }
  }
}

TEST(JointVssCheating, DifferentListsToDifferentPartiesAreCaughtByTheEchoes) {
  async::Runtime rt(4);
  const std::vector<Scalar> a{sc(5555), sc(6666)};
  const std::vector<Scalar> b{sc(5555), sc(6667)};
  const Contributions honest = random_contributions(3, 23);
  // Party 1 gets the list and share of b, the others those of a.
  CheatingDealer plan{[&](PartyId p) { return commitments_of(p == pid(1) ? b : a); },
                      [&](PartyId p) { return power_sum(p == pid(1) ? b : a, sc(p.value())); }};
  auto outcomes = run_with_cheater(rt, 4, 2, honest, a[0], plan);
  for (std::uint16_t i = 0; i < 3; ++i) {
    ASSERT_FALSE(outcomes[i].result.has_value()) << "party " << i + 1;
    EXPECT_EQ(outcomes[i].result.error().display(), "Vss Error: Broadcast error: Cheating detected");
  }
}

}  // namespace
}  // namespace velto::testing
