// Protocol executor: building, children and their commands, sends, the
// generator, and behaviour once the manager is gone.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "sised/codec.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::testing {
namespace {

// A value whose encoding claims a length the encoder cannot write.
struct OversizedClaim {};

}  // namespace
}  // namespace velto::testing

template <>
struct velto::sised::Codec<velto::testing::OversizedClaim> {
  static void encode(Sink& s, const velto::testing::OversizedClaim&) { write_len(s, std::size_t{1} << 32); }
};

namespace velto::testing {
namespace {

std::string expect_panic(const std::function<void()>& f) {
  try {
    f();
  } catch (const Panic& p) {
    return p.message();
  }
  ADD_FAILURE() << "no panic";
  return {};
}

const manager_message::Register& as_register(const ManagerMessage& m) {
  EXPECT_TRUE(std::holds_alternative<manager_message::Register>(m));
  return std::get<manager_message::Register>(m);
}

TEST(BuildExecutor, SortsIdsQueuesRootRegisterAndBuildsOnce) {
  ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(5)));
  const std::vector<PartyId> ids{pid(7), pid(2), pid(5), pid(2)};
  auto root = build_executor(builder, root_uc_tag(), ids);
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(root->parties(), (std::vector<PartyId>{pid(2), pid(5), pid(7)}));
  EXPECT_EQ(root->my_party_id(), pid(5));
  EXPECT_EQ(root->tag(), root_uc_tag());
  EXPECT_EQ(root->number_of_parties(), 3);
  EXPECT_EQ(builder.party_count(), 3u);

  // A second build changes nothing.
  EXPECT_FALSE(build_executor(builder, root_uc_tag(), ids).has_value());
  auto first = builder.manager_receiver.try_receive();
  ASSERT_TRUE(first.has_value());
  const auto& reg = as_register(*first);
  EXPECT_EQ(reg.tag, root_uc_tag());
  EXPECT_EQ(*reg.parties, root->parties());
  EXPECT_EQ(reg.parties, root->shared_parties());  // one shared list
  EXPECT_EQ(builder.manager_receiver.try_receive().error(), async::RecvFailure::Empty);
}

TEST(BuildExecutor, PartyCountBoundsAndOwnIdChecks) {
  {
    ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(4)));
    const std::vector<PartyId> only_me{pid(4)};
    auto root = build_executor(builder, root_uc_tag(), only_me);
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->parties(), only_me);
  }
  {
    ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(8192)));
    auto root = build_executor(builder, root_uc_tag(), ids_1_to(8192));
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->number_of_parties(), 8192);
  }
  {
    std::vector<PartyId> too_many;
    for (std::uint32_t i = 1; i <= 8193; ++i) too_many.push_back(pid(static_cast<std::uint16_t>(i)));
    ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(1)));
    EXPECT_EQ(expect_panic([&] { (void)build_executor(builder, root_uc_tag(), too_many); }), "Too many parties");
  }
  {
    ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(9)));
    const std::vector<PartyId> others{pid(1), pid(2)};
    EXPECT_EQ(expect_panic([&] { (void)build_executor(builder, root_uc_tag(), others); }),
              "my_party_id not in all_party_ids");
  }
}

TEST(ExecutorLimitsTest, BaseValuesForSmallSessionsRaisedForLargeOnes) {
  struct Case {
    std::size_t parties;
    ExecutorLimits expected;
  };
  const Case cases[] = {
      {3, {256, 512, 256}},
      {64, {256, 512, 256}},
      {100, {400, 512, 256}},
      {300, {1200, 600, 600}},
      {8192, {32768, 16384, 16384}},
  };
  for (const auto& c : cases) {
    const auto got = ExecutorLimits{}.for_parties(c.parties);
    EXPECT_EQ(got.max_pending_uc_tags, c.expected.max_pending_uc_tags) << c.parties;
    EXPECT_EQ(got.max_pending_messages_per_tag, c.expected.max_pending_messages_per_tag) << c.parties;
    EXPECT_EQ(got.inbound_capacity, c.expected.inbound_capacity) << c.parties;
  }
  // Every executor of the session gets the raised capacity.
  ExecutorBuilder builder(std::make_shared<IdOnlyLink>(pid(1)));
  auto root = build_executor(builder, root_uc_tag(), ids_1_to(300));
  EXPECT_EQ(root->capacity(), 600u);
  EXPECT_EQ(root->child("x").capacity(), 600u);
}

TEST(Children, TagsFollowTheDerivationsAndCommandsBracketTheirLife) {
  auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2), pid(3)});
  const UcTag parent = d.executor->tag();
  struct Case {
    std::string name;
    std::function<ProtocolExecutor(const ProtocolExecutor&)> open;
    UcTag expected;
  };
  const std::vector<Case> cases{
      {"child", [](const ProtocolExecutor& e) { return e.child("ECDSA Presign"); },
       derive_child_uc_tag(parent, "ECDSA Presign")},
      {"child_u64_label", [](const ProtocolExecutor& e) { return e.child_u64_label(kVersionLabel); },
       child_u64_label_uc_tag(parent, kVersionLabel)},
      {"child_indexed", [](const ProtocolExecutor& e) { return e.child_indexed("vss", pid(3)); },
       child_indexed_uc_tag(parent, "vss", pid(3))},
      {"child_label_two_ids",
       [](const ProtocolExecutor& e) { return e.child_label_two_ids("MODULAR INVERSE TO MULT v0.1", pid(1), pid(3)); },
       child_label_two_ids_uc_tag(parent, "MODULAR INVERSE TO MULT v0.1", pid(1), pid(3))},
      {"child_pair", [](const ProtocolExecutor& e) { return e.child_pair(pid(1), pid(2)); },
       child_pair_uc_tag(parent, pid(1), pid(2))},
  };
  for (const auto& c : cases) {
    {
      ProtocolExecutor child = c.open(*d.executor);
      EXPECT_EQ(child.tag(), c.expected) << c.name;
      EXPECT_EQ(child.shared_parties(), d.executor->shared_parties()) << c.name;
      EXPECT_EQ(child.my_party_id(), pid(2));
      ASSERT_TRUE(child.send_to(pid(3), std::uint8_t{1}).has_value());
    }
    auto commands = d.drain();
    ASSERT_EQ(commands.size(), 3u) << c.name;
    EXPECT_EQ(as_register(commands[0]).tag, c.expected) << c.name;
    ASSERT_TRUE(std::holds_alternative<manager_message::Send>(commands[1]));
    EXPECT_EQ(std::get<manager_message::Send>(commands[1]).tag, c.expected);
    ASSERT_TRUE(std::holds_alternative<manager_message::Deregister>(commands[2])) << c.name;
    EXPECT_EQ(std::get<manager_message::Deregister>(commands[2]).tag, c.expected);
  }
  EXPECT_NE(child_pair_uc_tag(parent, pid(1), pid(2)), child_pair_uc_tag(parent, pid(2), pid(1)));
}

TEST(Sends, PayloadIsTheEncodingWithRoomForTheTag) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2), pid(3)});
  crypto::ByteArray<32> value;
  for (std::size_t i = 0; i < 32; ++i) value[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(d.executor->send_to(pid(2), value).has_value());
  ASSERT_TRUE(d.executor->send_to_all(std::uint8_t{8}).has_value());  // the version code
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 2u);
  const auto& send = std::get<manager_message::Send>(commands[0]);
  EXPECT_EQ(send.to, pid(2));
  EXPECT_EQ(send.tag, d.executor->tag());
  EXPECT_EQ(send.payload, crypto::Bytes(value.begin(), value.end()));
  EXPECT_GE(send.payload.capacity(), 64u);
  const auto& all = std::get<manager_message::SendToAll>(commands[1]);
  EXPECT_EQ(all.payload, bytes_of({8}));
  EXPECT_GE(all.payload.capacity(), 33u);
}

TEST(Sends, EncodingFailureQueuesNothing) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2)});
  auto r = d.executor->send_to(pid(2), OversizedClaim{});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error()->display(), "usize is limited to u32");
  EXPECT_TRUE(d.drain().empty());
}

TEST(Sends, RecipientOutsidePartiesIsAProgrammingError) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2), pid(3)});
  EXPECT_EQ(expect_panic([&] { (void)d.executor->send_to(pid(9), std::uint8_t{0}); }),
            "PartyId(9) is not in parties set: [PartyId(1), PartyId(2), PartyId(3)]");
  EXPECT_EQ(expect_panic([&] { (void)std::move(*d.executor).peer(pid(9)); }),
            "PartyId(9) is not in parties set: [PartyId(1), PartyId(2), PartyId(3)]");
}

TEST(PeerExecutorTest, PairRecordIsTheSameOnBothSides) {
  auto five = DetachedExecutor::open(pid(5), {pid(3), pid(5)});
  auto three = DetachedExecutor::open(pid(3), {pid(3), pid(5)});
  PeerExecutor a = std::move(*five.executor).peer(pid(3));
  PeerExecutor b = std::move(*three.executor).peer(pid(5));
  EXPECT_EQ(a.pair(), (PartyPair{pid(3), pid(5)}));
  EXPECT_EQ(b.pair(), (PartyPair{pid(3), pid(5)}));
  EXPECT_EQ(a.peer(), pid(3));
  ASSERT_TRUE(a.send(std::uint8_t{1}).has_value());
  auto commands = five.drain();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(std::get<manager_message::Send>(commands[0]).to, pid(3));
}

// Generator of an executor opened with a known seed key on the root tag. The
// literals were computed once with an independent BLAKE3 keyed hash and a
// ChaCha8 block function (64-bit counter, stream id 0).
class Generator : public ::testing::Test {
 protected:
  static crypto::SecretArray<32> seed_key() {
    crypto::ByteArray<32> k;
    for (std::size_t i = 0; i < 32; ++i) k[i] = static_cast<std::uint8_t>(i);
    return crypto::SecretArray<32>(k);
  }
  static DetachedExecutor open(const UcTag& tag = root_uc_tag()) {
    return DetachedExecutor::open(pid(1), {pid(1), pid(2)}, kInboundCapacity, seed_key(), tag);
  }
  static crypto::Bytes draw(ProtocolExecutor& e, std::size_t n) {
    crypto::Bytes out(n);
    e.rng().fill_bytes(out);
    return out;
  }
};

TEST_F(Generator, FirstWordsArePinned) {
  EXPECT_EQ(crypto::hex_encode(root_uc_tag().span()),
            "ac0e8e6388a545efb330e3a9a0b2b83a57487422b903150a857e743c64203e31");
  auto d = open();
  EXPECT_EQ(crypto::hex_encode(draw(*d.executor, 4)), "bf49e24b");
  auto d2 = open();
  // One byte uses up a whole word: the next draw starts at byte 4.
  EXPECT_EQ(crypto::hex_encode(draw(*d2.executor, 1)), "bf");
  EXPECT_EQ(crypto::hex_encode(draw(*d2.executor, 4)), "342b564c");
}

TEST_F(Generator, DrawAcrossTheBufferEndContinuesInTheNextBlocks) {
  auto d = open();
  (void)draw(*d.executor, 250);  // 63 words
  EXPECT_EQ(crypto::hex_encode(draw(*d.executor, 8)), "e54cb500b93b929e");
}

TEST_F(Generator, MatchesChaCha8SeededFromKeyedBlake3OverTheTag) {
  const UcTag tag = derive_child_uc_tag(root_uc_tag(), "ECDSA Presign");
  auto d = open(tag);
  const auto seed = crypto::Blake3::keyed(seed_key().array()).update(tag.span()).finalize();
  crypto::ChaCha8Rng reference(seed);
  crypto::Bytes expected(1000);
  reference.fill_bytes(expected);
  EXPECT_EQ(draw(*d.executor, 1000), expected);

  // Same seed key and tag: the same stream; other tag: another stream.
  auto same = open(tag);
  auto other = open(derive_child_uc_tag(root_uc_tag(), "vss"));
  const auto a = draw(*same.executor, 64);
  EXPECT_EQ(a, crypto::Bytes(expected.begin(), expected.begin() + 64));
  EXPECT_NE(draw(*other.executor, 64), a);
}

TEST(ManagerGone, SendsFailOpensReportItAndReleaseIsSilent) {
  auto d = DetachedExecutor::open(pid(1), {pid(1), pid(2)});
  d.commands.reset();  // the manager has ended
  d.inbound.reset();   // and released the executor's inbound sender

  auto one = d.executor->send_to(pid(2), std::uint8_t{1});
  auto all = d.executor->send_to_all(std::uint8_t{1});
  ASSERT_FALSE(one.has_value());
  ASSERT_FALSE(all.has_value());
  EXPECT_EQ(one.error()->display(), "The manager channel was closed");
  EXPECT_EQ(all.error()->debug(), "ManagerChannelClosed");

  // An executor opened now cannot register: it reports the ended manager on
  // its first send and its first collection, and its release is silent.
  ProtocolExecutor late = d.executor->child("after the end");
  EXPECT_EQ(late.send_to_all(std::uint8_t{1}).error()->display(), "The manager channel was closed");
  auto collected = run_here(collect_map<std::uint8_t>(late));
  ASSERT_FALSE(collected.has_value());
  EXPECT_EQ(collected.error()->display(), "The manager channel was closed");
  auto root_collected = run_here(collect_map<std::uint8_t>(*d.executor));
  ASSERT_FALSE(root_collected.has_value());
  EXPECT_EQ(root_collected.error()->display(), "The manager channel was closed");
}

TEST(ExecutorChannelErrorText, DisplayAndDebug) {
  EXPECT_EQ(ExecutorChannelError(ExecutorChannelError::Kind::ManagerChannelClosed).display(),
            "The manager channel was closed");
  EXPECT_EQ(ExecutorChannelError(ExecutorChannelError::Kind::TooManyUnexpectedMessages).display(),
            "Too many messages have came from unexpected parties");
  EXPECT_EQ(ExecutorChannelError(ExecutorChannelError::Kind::TooManyUnexpectedMessages).debug(),
            "TooManyUnexpectedMessages");
}

}  // namespace
}  // namespace velto::testing
