// Echo broadcast: the all-party form with its digest round, the
// single-sender form with its echo round, and the error type.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-mpc-infra/broadcast.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::testing {
namespace {

// A value whose encoding claims a length the encoder cannot write.
struct OversizedClaim {
  friend bool operator==(const OversizedClaim&, const OversizedClaim&) = default;
};

}  // namespace
}  // namespace velto::testing

template <>
struct velto::sised::Codec<velto::testing::OversizedClaim> {
  static void encode(Sink& s, const velto::testing::OversizedClaim&) { write_len(s, std::size_t{1} << 32); }
  static std::expected<velto::testing::OversizedClaim, SisedError> decode(Decoder&) {
    return velto::testing::OversizedClaim{};
  }
};

namespace velto::testing {
namespace {

using crypto::Point;
using crypto::Scalar;
using MaybePoint = std::optional<Point>;
using PointList = std::vector<Point>;

Point mul_g(std::uint64_t k) { return Point::base_mul(Scalar::from_u64(k)); }

crypto::Bytes encoded(const auto& value) { return *sised::encode(value); }

crypto::Bytes hex(std::string_view text) { return *crypto::hex_decode(text); }

template <class T>
asio::awaitable<void> store(asio::awaitable<T> op, std::optional<T>& out) {
  out.emplace(co_await std::move(op));
}

template <class T>
const T& only(const std::vector<ManagerMessage>& commands, std::size_t i) {
  EXPECT_LT(i, commands.size());
  EXPECT_TRUE(std::holds_alternative<T>(commands.at(i))) << "command " << i;
  return std::get<T>(commands.at(i));
}

// ---------------------------------------------------------------------------
// InfraError

TEST(InfraErrorTest, TextsDebugFormsAndSources) {
  const BoxedError closed = ExecutorChannelError::manager_channel_closed();
  const InfraError communication = InfraError::communication(closed);
  const InfraError serialization = InfraError::serialization(sised::EncodeError::out_of_bounds());
  struct Case {
    InfraError error;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {communication, "Communication Error: The manager channel was closed", "Communication(ManagerChannelClosed)"},
      {InfraError::cheating_detected(), "Cheating detected", "CheatingDetected"},
      {serialization, "Serialization Error: Out of bounds", "SerializationError(OutOfBounds)"},
      {InfraError::no_such_party(pid(4)), "No such party: 4", "NoSuchParty(PartyId(4))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
  EXPECT_EQ(communication.source(), closed.get());
  ASSERT_NE(serialization.source(), nullptr);
  EXPECT_EQ(serialization.source()->debug(), "OutOfBounds");
  EXPECT_EQ(InfraError::cheating_detected().source(), nullptr);
  EXPECT_EQ(InfraError::no_such_party(pid(4)).source(), nullptr);
  EXPECT_THROW(InfraError::communication(nullptr), Panic);
}

// ---------------------------------------------------------------------------
// All-party form, one party driven by hand

// Digest of parties 1 (absent), 2 (G), 3 (absent), computed independently:
// BLAKE3 derive-key "broadcast_everyone hashing" over
// 03 | 00 0100 | 01 <G> 0200 | 00 0300.
constexpr std::string_view kDigestOfAbsentGAbsent =
    "14cee2073c8b7ac47a2b59f8e689296412bf05e5a388078358314af20576c6c5";

TEST(EchoBroadcast, SendsValueThenDigestOfTheSortedListAndReturnsIt) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
  const MaybePoint none;
  const crypto::Bytes digest = hex(kDigestOfAbsentGAbsent);
  // Party 3 is faster than 1; each one's digest follows its value.
  d.feed(3, encoded(none));
  d.feed(3, digest);
  d.feed(1, encoded(none));
  d.feed(1, digest);
  auto result = run_here(echo_broadcast(std::move(*d.executor), MaybePoint(Point::generator())));
  ASSERT_TRUE(result.has_value()) << result.error().display();
  ASSERT_EQ(result->size(), 3u);
  EXPECT_EQ((*result)[0].first, pid(1));
  EXPECT_FALSE((*result)[0].second.has_value());
  EXPECT_EQ((*result)[1].first, pid(2));
  EXPECT_EQ((*result)[1].second, MaybePoint(Point::generator()));
  EXPECT_FALSE((*result)[2].second.has_value());

  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(only<manager_message::SendToAll>(commands, 0).payload,
            hex("010279be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798"));
  EXPECT_EQ(only<manager_message::SendToAll>(commands, 1).payload, digest);
  EXPECT_GE(only<manager_message::SendToAll>(commands, 1).payload.capacity(), 64u);
  only<manager_message::Deregister>(commands, 2);  // consumed and released
}

TEST(EchoBroadcast, SinglePartyReturnsItsOwnValueAlone) {
  auto d = DetachedExecutor::open(pid(5), {pid(5)});
  auto result = run_here(echo_broadcast(std::move(*d.executor), MaybePoint(mul_g(3))));
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(result->size(), 1u);
  EXPECT_EQ(result->at(pid(5)), MaybePoint(mul_g(3)));
}

TEST(EchoBroadcast, DifferingDigestIsCheatingOnceEveryDigestIsIn) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
  const MaybePoint none;
  d.feed(1, encoded(none));
  d.feed(3, encoded(none));
  crypto::Bytes other = hex(kDigestOfAbsentGAbsent);
  other[31] ^= 1;
  d.feed(3, other);

  ManualContext ctx;
  std::optional<std::expected<PartyMap<MaybePoint>, InfraError>> out;
  ctx.spawn(store(echo_broadcast(std::move(*d.executor), MaybePoint(Point::generator())), out));
  ctx.poll();
  EXPECT_FALSE(out.has_value()) << "decided before party 1's digest arrived";
  d.feed(1, hex(kDigestOfAbsentGAbsent));
  ctx.poll();
  ASSERT_TRUE(out.has_value());
  ASSERT_FALSE(out->has_value());
  EXPECT_TRUE(out->error().is<InfraError::CheatingDetected>());
}

TEST(EchoBroadcast, FailuresToSendCollectOrDecode) {
  struct Case {
    std::string name;
    std::function<void(DetachedExecutor&)> arrange;
    std::string display;
  };
  const MaybePoint none;
  const std::vector<Case> cases{
      {"manager gone", [](DetachedExecutor& d) { d.commands.reset(); },
       "Communication Error: The manager channel was closed"},
      {"value does not decode",
       [](DetachedExecutor& d) {
         d.feed(1, bytes_of({2}));
         d.feed(3, bytes_of({0}));
       },
       "Communication Error: Invalid discriminant"},
      {"digest too short",
       [&](DetachedExecutor& d) {
         d.feed(1, encoded(none));
         d.feed(3, encoded(none));
         d.feed(1, filled(31, 0));
       },
       "Communication Error: Out of bounds"},
      {"inbound closed", [](DetachedExecutor& d) { d.inbound.reset(); },
       "Communication Error: The manager channel was closed"},
  };
  for (const auto& c : cases) {
    auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
    c.arrange(d);
    auto result = run_here(echo_broadcast(std::move(*d.executor), none));
    ASSERT_FALSE(result.has_value()) << c.name;
    EXPECT_TRUE(result.error().is<InfraError::Communication>()) << c.name;
    EXPECT_EQ(result.error().display(), c.display) << c.name;
  }
  // A value that cannot be encoded is refused before anything is queued.
  auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
  auto result = run_here(echo_broadcast(std::move(*d.executor), OversizedClaim{}));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().display(), "Serialization Error: usize is limited to u32");
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 1u);
  only<manager_message::Deregister>(commands, 0);
}

// ---------------------------------------------------------------------------
// All-party form in sessions

// Party i announces i·G when i is odd and nothing when it is even.
MaybePoint announced_by(PartyId id) { return id.value() % 2 == 1 ? MaybePoint(mul_g(id.value())) : MaybePoint(); }

TEST(EchoBroadcastSession, EveryPartyEndsWithTheSameSortedList) {
  async::Runtime rt(4);
  for (const std::uint16_t n : {1, 3, 16}) {
    const auto ids = ids_1_to(n);
    using Result = std::expected<PartyMap<MaybePoint>, InfraError>;
    auto outcomes = run_session<Result>(rt, ids, [](PartyId me, ProtocolExecutor root) -> asio::awaitable<Result> {
      co_return co_await echo_broadcast(root.child("broadcast metadata"), announced_by(me));
    });
    for (const auto& o : outcomes) {
      EXPECT_TRUE(o.manager.has_value());
      ASSERT_TRUE(o.result.has_value()) << o.result.error().display();
      ASSERT_EQ(o.result->size(), n);
      for (const PartyId id : ids) EXPECT_EQ(o.result->at(id), announced_by(id)) << n << " " << id.value();
    }
  }
}

// The last party sends one value to party 1 and another to everybody else,
// then takes part in the digest round with the list it holds itself.
asio::awaitable<std::expected<void, InfraError>> equivocate(ProtocolExecutor executor) {
  const MaybePoint to_first(mul_g(1000));
  const MaybePoint to_rest(mul_g(2000));
  for (const PartyId p : executor.parties()) {
    if (p == executor.my_party_id()) continue;
    if (!executor.send_to(p, p == pid(1) ? to_first : to_rest)) co_return std::unexpected(InfraError::cheating_detected());
  }
  auto others = co_await collect_map<MaybePoint>(executor);
  if (!others) co_return std::unexpected(InfraError::communication(others.error()));
  PartyMap<MaybePoint> list = std::move(*others);
  list.insert(executor.my_party_id(), to_rest);
  auto digest = broadcast_digest(list);
  if (!executor.send_to_all(*digest)) co_return std::unexpected(InfraError::cheating_detected());
  (void)co_await collect_map<crypto::ByteArray<32>>(executor);
  co_return std::expected<void, InfraError>();
}

TEST(EchoBroadcastSession, EquivocationFailsEveryHonestParty) {
  async::Runtime rt(4);
  for (const std::uint16_t n : {3, 16}) {
    const auto ids = ids_1_to(n);
    const PartyId cheater = pid(n);
    using Result = std::optional<InfraError>;  // the honest parties' error
    auto outcomes =
        run_session<Result>(rt, ids, [cheater](PartyId me, ProtocolExecutor root) -> asio::awaitable<Result> {
          ProtocolExecutor executor = root.child("broadcast metadata");
          if (me == cheater) {
            (void)co_await equivocate(std::move(executor));
            co_return std::nullopt;
          }
          auto r = co_await echo_broadcast(std::move(executor), announced_by(me));
          if (r) co_return std::nullopt;
          co_return std::move(r.error());
        });
    for (const PartyId id : ids) {
      if (id == cheater) continue;
      const auto& o = outcomes[id.value() - 1];
      ASSERT_TRUE(o.result.has_value()) << "party " << id.value() << " of " << n << " missed it";
      EXPECT_TRUE(o.result->is<InfraError::CheatingDetected>()) << o.result->display();
    }
  }
}

// ---------------------------------------------------------------------------
// Single-sender form, receiver side

const PointList kList{mul_g(1), mul_g(2), mul_g(3)};

TEST(EchoBroadcastReceive, EchoesToTheOtherReceiversInOrderAndReturnsTheValue) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(4));
  // An echo may come before the sender's own message.
  d.feed(1, encoded(kList));
  d.feed(3, encoded(kList));
  d.feed(4, encoded(kList));
  auto result = run_here(echo_broadcast_receive<PointList>(std::move(*d.executor), pid(3)));
  ASSERT_TRUE(result.has_value()) << result.error().display();
  EXPECT_EQ(*result, kList);

  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 3u);
  const auto& first = only<manager_message::Send>(commands, 0);
  const auto& second = only<manager_message::Send>(commands, 1);
  EXPECT_EQ(first.to, pid(1));
  EXPECT_EQ(second.to, pid(4));
  EXPECT_EQ(first.payload, encoded(kList));
  EXPECT_EQ(second.payload, encoded(kList));
  EXPECT_GE(second.payload.capacity(), second.payload.size() + 32);
  only<manager_message::Deregister>(commands, 2);
}

TEST(EchoBroadcastReceive, TwoPartiesNeedNoEchoes) {
  auto d = DetachedExecutor::open(pid(1), ids_1_to(2));
  d.feed(2, encoded(kList));
  auto result = run_here(echo_broadcast_receive<PointList>(std::move(*d.executor), pid(2)));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, kList);
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 1u);
  only<manager_message::Deregister>(commands, 0);
}

TEST(EchoBroadcastReceive, EchoThatDiffersOrDoesNotDecode) {
  const PointList shorter(kList.begin(), kList.end() - 1);
  PointList longer = kList;
  longer.push_back(mul_g(4));
  PointList changed = kList;
  changed[1] = mul_g(7);
  crypto::Bytes bad_point = encoded(kList);
  bad_point[1 + 33] = 0x04;  // second point's prefix
  struct Case {
    std::string name;
    crypto::Bytes echo;
    std::string display;
  };
  const std::vector<Case> cases{
      {"one point fewer", encoded(shorter), "Cheating detected"},
      {"one point more", encoded(longer), "Cheating detected"},
      {"one point changed", encoded(changed), "Cheating detected"},
      {"not a point", bad_point, "Communication Error: Invalid Compressed AffinePoint"},
  };
  for (const auto& c : cases) {
    auto d = DetachedExecutor::open(pid(2), ids_1_to(4));
    d.feed(3, encoded(kList));
    d.feed(1, encoded(kList));
    d.feed(4, c.echo);
    auto result = run_here(echo_broadcast_receive<PointList>(std::move(*d.executor), pid(3)));
    ASSERT_FALSE(result.has_value()) << c.name;
    EXPECT_EQ(result.error().display(), c.display) << c.name;
  }
}

TEST(EchoBroadcastReceive, DifferingEchoIsCheatingOnceEveryEchoIsIn) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(4));
  d.feed(3, encoded(kList));
  d.feed(1, encoded(PointList{}));
  ManualContext ctx;
  std::optional<std::expected<PointList, InfraError>> out;
  ctx.spawn(store(echo_broadcast_receive<PointList>(std::move(*d.executor), pid(3)), out));
  ctx.poll();
  EXPECT_FALSE(out.has_value()) << "decided before party 4's echo arrived";
  d.feed(4, encoded(kList));
  ctx.poll();
  ASSERT_TRUE(out.has_value());
  ASSERT_FALSE(out->has_value());
  EXPECT_TRUE(out->error().is<InfraError::CheatingDetected>());
}

TEST(EchoBroadcastReceive, UnknownSenderIsRefusedBeforeAnythingIsRead) {
  auto d = DetachedExecutor::open(pid(2), ids_1_to(4));
  d.feed(9, encoded(kList));
  auto result = run_here(echo_broadcast_receive<PointList>(std::move(*d.executor), pid(9)));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().debug(), "NoSuchParty(PartyId(9))");
  EXPECT_EQ(result.error().display(), "No such party: 9");
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 1u);  // no echo went out
  only<manager_message::Deregister>(commands, 0);
}

TEST(EchoBroadcastSend, QueuesOneSendToAllOrReportsTheEndedManager) {
  auto d = DetachedExecutor::open(pid(3), ids_1_to(4));
  ASSERT_TRUE(echo_broadcast_send(*d.executor, kList).has_value());
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(only<manager_message::SendToAll>(commands, 0).payload, encoded(kList));

  d.commands.reset();
  auto failed = echo_broadcast_send(*d.executor, kList);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().debug(), "Communication(ManagerChannelClosed)");
}

}  // namespace
}  // namespace velto::testing
