// Version codes and order, and the agreement on one party's version executor
// fed by hand: what it sends, what it makes of its peers' bytes, and that it
// releases its executor.
#include "velto-mpc-infra/async/asio.hpp"

#include "executor/lib/version.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "velto-mpc-infra/tests/executor_test_util.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::executor {
namespace {

using velto::testing::DetachedExecutor;
using velto::testing::ids_1_to;
using velto::testing::run_here;

TEST(VersionTest, EveryByteDecodesAndKeepsItsCode) {
  struct Row {
    std::uint8_t code;
    std::optional<Version> named;
    std::string display;
  };
  const std::vector<Row> rows = {
      {0, Version::NotSet, "NotSet"},   {1, std::nullopt, "UnknownVersion(1)"}, {2, Version::V1_0_2, "v1.0.2"},
      {3, Version::V1_0_3, "v1.0.3"},   {4, Version::V1_1_0, "v1.1.0"},         {5, Version::V1_2_0, "v1.2.0"},
      {6, Version::V1_3_0, "v1.3.0"},   {7, Version::V1_4_0, "v1.4.0"},         {8, Version::V1_5_0, "v1.5.0"},
      {9, std::nullopt, "UnknownVersion(9)"}, {200, std::nullopt, "UnknownVersion(200)"},
      {255, std::nullopt, "UnknownVersion(255)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.code);
    const Version v = version_from_wire(r.code);
    EXPECT_EQ(wire_code(v), r.code);
    if (r.named) {
      EXPECT_EQ(v, *r.named);
    }
    EXPECT_EQ(version_display(v), r.display);
  }
  for (unsigned b = 0; b < 256; ++b) EXPECT_EQ(wire_code(version_from_wire(static_cast<std::uint8_t>(b))), b);
}

TEST(VersionTest, OrderIsTheWireCodeOrder) {
  const std::vector<Version> ascending = {Version::NotSet, version_from_wire(1), Version::V1_0_2, Version::V1_0_3,
                                          Version::V1_1_0, Version::V1_2_0,      Version::V1_3_0, Version::V1_4_0,
                                          Version::V1_5_0, version_from_wire(9), version_from_wire(255)};
  std::vector<Version> shuffled = ascending;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  std::sort(shuffled.begin(), shuffled.end());
  EXPECT_EQ(shuffled, ascending);
}

// Party 1 of a session agrees over a version executor without a manager:
// the test plays the peers by feeding their payloads.
struct Agreement {
  std::expected<Version, ExecutorFailure> result;
  std::vector<ManagerMessage> commands;
};

Agreement agree(std::uint16_t n, const std::vector<std::pair<std::uint16_t, crypto::Bytes>>& peers) {
  const UcTag tag = root_uc_tag();
  auto d = DetachedExecutor::open(PartyId::unchecked(1), ids_1_to(n), kInboundCapacity, crypto::SecretArray<32>(),
                                  tag);
  for (const auto& [from, payload] : peers) d.feed(from, payload);
  auto result = run_here(negotiate_version(std::move(*d.executor)));
  d.executor.reset();
  return Agreement{std::move(result), d.drain()};
}

std::string outcome(const std::expected<Version, ExecutorFailure>& r) {
  return r ? version_display(*r) : r.error().display();
}

TEST(NegotiateVersionTest, KeepsTheLowestAnnouncedVersion) {
  using P = std::vector<std::pair<std::uint16_t, crypto::Bytes>>;
  struct Case {
    std::string name;
    std::uint16_t n;
    P peers;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"all current", 3, {{2, {8}}, {3, {8}}}, "v1.5.0"},
      {"one at 1.1.0", 3, {{2, {8}}, {3, {4}}}, "v1.1.0"},
      {"lowest of two older", 3, {{2, {7}}, {3, {5}}}, "v1.2.0"},
      {"newer peer is served at ours", 3, {{2, {200}}, {3, {8}}}, "v1.5.0"},
      {"bytes after the first are ignored", 2, {{2, {6, 0, 0}}}, "v1.3.0"},
      {"deprecated 1.0.3", 3, {{2, {8}}, {3, {3}}}, "Another party uses a deprecated version: v1.0.3"},
      {"deprecated 1.0.2", 2, {{2, {2}}}, "Another party uses a deprecated version: v1.0.2"},
      {"unknown 1", 3, {{2, {1}}, {3, {8}}}, "Another party uses a deprecated version: UnknownVersion(1)"},
      {"not set", 2, {{2, {0}}}, "Another party uses a deprecated version: NotSet"},
      {"empty payload", 2, {{2, {}}}, "Executor Failed: `Out of bounds`"},
      {"alone", 1, {}, "v1.5.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Agreement a = agree(c.n, c.peers);
    EXPECT_EQ(outcome(a.result), c.expected);
    if (!a.result && c.expected.starts_with("Another")) {
      EXPECT_NE(a.result.error().inner().get_if<ExecutorErrorKind::DeprecatedVersion>(), nullptr);
    }
    if (!a.result && c.expected.starts_with("Executor")) {
      EXPECT_NE(a.result.error().inner().get_if<ExecutorErrorKind::Executor>(), nullptr);
    }
  }
}

TEST(NegotiateVersionTest, SendsOneByteToAllThenReleasesItsTag) {
  const Agreement a = agree(3, {{3, {8}}, {2, {8}}});
  ASSERT_TRUE(a.result.has_value());
  ASSERT_EQ(a.commands.size(), 2u);
  const auto* send = std::get_if<manager_message::SendToAll>(&a.commands[0]);
  ASSERT_NE(send, nullptr);
  EXPECT_EQ(send->payload, crypto::Bytes{8});
  EXPECT_EQ(send->tag, root_uc_tag());
  const auto* dereg = std::get_if<manager_message::Deregister>(&a.commands[1]);
  ASSERT_NE(dereg, nullptr);
  EXPECT_EQ(dereg->tag, root_uc_tag());
}

// A byte from a party the agreement does not await (here: a second byte of
// party 2) is held back, not counted.
TEST(NegotiateVersionTest, OnlyOneByteFromEachPartyCounts) {
  const Agreement a = agree(3, {{2, {8}}, {2, {3}}, {3, {8}}});
  EXPECT_EQ(outcome(a.result), "v1.5.0");
}

TEST(NegotiateVersionTest, ClosedManagerFailsTheSend) {
  auto d = DetachedExecutor::open(PartyId::unchecked(1), ids_1_to(2));
  d.commands.reset();  // the manager is gone
  auto result = run_here(negotiate_version(std::move(*d.executor)));
  EXPECT_EQ(outcome(result), "Executor Failed: `The manager channel was closed`");
}

TEST(NegotiateVersionTest, ManagerGoneWhileCollecting) {
  auto d = DetachedExecutor::open(PartyId::unchecked(1), ids_1_to(3));
  d.feed(2, {8});
  d.inbound.reset();  // the manager released the executor's inbound channel
  auto result = run_here(negotiate_version(std::move(*d.executor)));
  EXPECT_EQ(outcome(result), "Executor Failed: `The manager channel was closed`");
}

}  // namespace
}  // namespace velto::executor
