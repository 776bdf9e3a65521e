// PartyMap and the text forms of party-id lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/error.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto {
namespace {

PartyId pid(std::uint16_t v) { return PartyId::unchecked(v); }

std::vector<std::uint16_t> ids_of(const PartyMap<std::string>& m) {
  std::vector<std::uint16_t> out;
  for (const auto& [id, v] : m) out.push_back(id.value());
  return out;
}

TEST(PartyMapTest, InsertKeepsOrderAndReplacesExistingValues) {
  PartyMap<std::string> m;
  m.insert(pid(4), "d");
  m.insert(pid(1), "a");
  m.insert(pid(3), "c");
  EXPECT_EQ(ids_of(m), (std::vector<std::uint16_t>{1, 3, 4}));
  m.insert(pid(3), "C");
  EXPECT_EQ(m.size(), 3u);
  EXPECT_EQ(m.at(pid(3)), "C");
  EXPECT_EQ(m.find(pid(2)), nullptr);
}

TEST(PartyMapTest, LookupOfAnAbsentIdIsABug) {
  PartyMap<std::string> m;
  m.insert(pid(1), "a");
  try {
    (void)m.at(pid(2));
    ADD_FAILURE() << "no panic";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "no entry found for key");
  }
}

TEST(PartyMapTest, FilterTakesAscendingSubsetsSkippingOwnId) {
  PartyMap<std::string> m;
  for (std::uint16_t id : {1, 2, 4}) m.insert(pid(id), std::to_string(id));
  const std::vector<PartyId> wanted{pid(1), pid(2), pid(4)};
  auto got = m.filter(wanted, pid(2));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].get().second, "1");
  EXPECT_EQ(got[1].get().second, "4");

  struct Bad {
    std::vector<PartyId> ids;
  };
  const Bad bad[] = {{{pid(4), pid(2)}}, {{pid(3)}}, {{pid(1), pid(1)}}};
  for (const auto& b : bad) {
    try {
      (void)m.filter(b.ids, pid(9));
      ADD_FAILURE() << "no panic";
    } catch (const Panic& p) {
      EXPECT_EQ(p.message(), "Expected `filter` ids to be ordered and a subset of map");
    }
  }
}

TEST(PartyIdText, SingleListAndMultiLineForms) {
  EXPECT_EQ(pid(7).debug(), "PartyId(7)");
  const std::vector<PartyId> two{pid(1), pid(2)};
  EXPECT_EQ(debug_party_list(two), "[PartyId(1), PartyId(2)]");
  EXPECT_EQ(debug_party_list(two, true), "[\n    PartyId(1),\n    PartyId(2),\n]");
  EXPECT_EQ(debug_party_list({}), "[]");
}

}  // namespace
}  // namespace velto
