// Joint UC-tag generation.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::testing {
namespace {

using Value = crypto::ByteArray<32>;

crypto::SecretArray<32> known_seed_key() {
  crypto::ByteArray<32> k;
  for (std::size_t i = 0; i < 32; ++i) k[i] = static_cast<std::uint8_t>(i);
  return crypto::SecretArray<32>(k);
}

// The first 32 bytes the generator of an executor on `tag` hands out.
Value own_contribution(const UcTag& tag) {
  crypto::ChaCha8Rng rng(crypto::Blake3::keyed(known_seed_key().array()).update(tag.span()).finalize());
  Value v;
  rng.fill_bytes(v);
  return v;
}

// The generated tag computed from its definition: J over (id LE ‖ value) in
// ascending id order, then derive-key "UC_TAG VELTO v0.1" over parent ‖ J.
UcTag expected_tag(const UcTag& parent, std::vector<std::pair<std::uint16_t, Value>> entries) {
  std::sort(entries.begin(), entries.end());
  auto j = crypto::Blake3::derive_key("VELTO Generating UCTag V0");
  for (const auto& [id, v] : entries) {
    const crypto::ByteArray<2> le{static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)};
    j.update(le).update(v);
  }
  const auto digest = j.finalize();
  return UcTag(crypto::Blake3::derive_key("UC_TAG VELTO v0.1").update(parent.span()).update(digest).finalize());
}

Value value_of(std::uint8_t b) {
  Value v;
  v.fill(b);
  return v;
}

DetachedExecutor open_party(std::uint16_t me, std::uint16_t n) {
  return DetachedExecutor::open(pid(me), ids_1_to(n), kInboundCapacity, known_seed_key());
}

TEST(GenerateUcTag, SinglePartyDerivesFromItsOwnEntryAlone) {
  auto d = open_party(1, 1);
  auto generated = run_here(generate_uc_tag(std::move(*d.executor)));
  ASSERT_TRUE(generated.has_value());
  // Computed once, independently, for seed key 00..1f, the root tag, id 1.
  EXPECT_EQ(crypto::hex_encode(generated->tag().span()),
            "809278559ab55353fb6565289699ea14c015eefe0fc257312e3ef00a8d5e93b1");
  EXPECT_EQ(generated->tag(), expected_tag(root_uc_tag(), {{1, own_contribution(root_uc_tag())}}));
  // Sent to nobody else; the new executor opens before the old one leaves.
  auto commands = d.drain();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_TRUE(std::holds_alternative<manager_message::SendToAll>(commands[0]));
  EXPECT_EQ(std::get<manager_message::Register>(commands[1]).tag, generated->tag());
  EXPECT_EQ(std::get<manager_message::Deregister>(commands[2]).tag, root_uc_tag());
}

TEST(GenerateUcTag, SameTagWhateverTheArrivalOrder) {
  const Value own = own_contribution(root_uc_tag());
  const UcTag expected = expected_tag(root_uc_tag(), {{1, value_of(1)}, {2, own}, {3, value_of(3)}});
  for (const bool one_first : {true, false}) {
    auto d = open_party(2, 3);
    if (one_first) {
      d.feed(1, filled(32, 1));
      d.feed(3, filled(32, 3));
    } else {
      d.feed(3, filled(32, 3));
      d.feed(1, filled(32, 1));
    }
    auto generated = run_here(generate_uc_tag(std::move(*d.executor)));
    ASSERT_TRUE(generated.has_value());
    EXPECT_EQ(generated->tag(), expected);
    auto commands = d.drain();
    ASSERT_FALSE(commands.empty());
    const auto& sent = std::get<manager_message::SendToAll>(commands[0]);
    EXPECT_EQ(sent.payload, crypto::Bytes(own.begin(), own.end()));  // 32 raw bytes
  }
}

TEST(GenerateUcTag, LongerValuesContributeTheirFirst32BytesShorterOnesFail) {
  const Value own = own_contribution(root_uc_tag());
  {
    auto d = open_party(2, 3);
    crypto::Bytes forty = filled(40, 1);
    forty[35] = 0xff;
    d.feed(1, std::move(forty));
    d.feed(3, filled(32, 3));
    auto generated = run_here(generate_uc_tag(std::move(*d.executor)));
    ASSERT_TRUE(generated.has_value());
    EXPECT_EQ(generated->tag(), expected_tag(root_uc_tag(), {{1, value_of(1)}, {2, own}, {3, value_of(3)}}));
  }
  {
    auto d = open_party(2, 3);
    d.feed(1, filled(31, 1));
    d.feed(3, filled(32, 3));
    auto generated = run_here(generate_uc_tag(std::move(*d.executor)));
    ASSERT_FALSE(generated.has_value());
    EXPECT_EQ(generated.error()->display(), "Out of bounds");
    // The given executor is released and no new one is opened.
    auto commands = d.drain();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(std::get<manager_message::Deregister>(commands[1]).tag, root_uc_tag());
  }
}

TEST(GenerateUcTag, SecondMessageOfAPeerIsNotTakenForAValue) {
  const Value own = own_contribution(root_uc_tag());
  auto d = open_party(2, 3);
  d.feed(1, filled(32, 1));
  d.feed(1, filled(32, 0x11));
  d.feed(3, filled(32, 3));
  auto generated = run_here(generate_uc_tag(std::move(*d.executor)));
  ASSERT_TRUE(generated.has_value());
  EXPECT_EQ(generated->tag(), expected_tag(root_uc_tag(), {{1, value_of(1)}, {2, own}, {3, value_of(3)}}));
}

TEST(GenerateUcTag, AllPartiesOfASessionAgree) {
  async::Runtime rt(4);
  const auto ids = ids_1_to(5);
  auto outcomes = run_session<UcTag>(rt, ids, [](PartyId, ProtocolExecutor root) -> asio::awaitable<UcTag> {
    auto generated = co_await generate_uc_tag(std::move(root));
    EXPECT_TRUE(generated.has_value());
    co_return generated ? generated->tag() : UcTag();
  });
  for (const auto& o : outcomes) {
    EXPECT_TRUE(o.manager.has_value());
    EXPECT_EQ(o.result, outcomes[0].result);
  }
  EXPECT_NE(outcomes[0].result, UcTag());
}

}  // namespace
}  // namespace velto::testing
