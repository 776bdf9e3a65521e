// The reshare of a BIP340 key: the announcement message's wire form and
// refusals, and whole sessions in which remaining parties (holding shares of
// an old 2-of-3 key, under other ids than their new ones) and new parties
// move the key to a 3-of-4 set; the new shares sign, and libsecp256k1
// verifies. Refusals: a new party told another key, a remaining party with a
// wrong list of remaining parties.
#include "velto-frost-bip340/reshare.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sised/sised.hpp"
#include "velto-frost-bip340/tests/bip340_test_util.hpp"

namespace velto::bip340::testing {
namespace {

using crypto::ByteArray;
using crypto::Bytes;
using crypto::Point;
using crypto::Scalar;

TEST(Bip340ReshareMessage, WireFormAndRefusals) {
  const Bip340Announcement a{ByteArray<32>{1, 2}, ByteArray<32>{3, 4}};
  EXPECT_EQ(sised::encode(Bip340ReshareMessage(std::monostate{})).value(), Bytes{0});
  Bytes tagged = sised::encode(Bip340ReshareMessage(a)).value();
  ASSERT_EQ(tagged.size(), 65u);
  EXPECT_EQ(tagged[0], 1);
  EXPECT_EQ(Bytes(tagged.begin() + 1, tagged.begin() + 33), Bytes(a.x_only_key.begin(), a.x_only_key.end()));
  EXPECT_EQ(Bytes(tagged.begin() + 33, tagged.end()), Bytes(a.chain_code.begin(), a.chain_code.end()));

  // Trailing bytes are ignored; the halves are taken as they are.
  Bytes longer = tagged;
  longer.insert(longer.end(), {9, 9});
  auto read = sised::decode<Bip340ReshareMessage>(longer);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::get<Bip340Announcement>(*read), a);
  Bytes not_a_coordinate(65, 0xFF);
  not_a_coordinate[0] = 1;
  EXPECT_TRUE(sised::decode<Bip340ReshareMessage>(not_a_coordinate));

  struct Case {
    std::string name;
    Bytes bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "Out of bounds"},
      {"tag 1, 63 bytes", Bytes(tagged.begin(), tagged.end() - 1), "Out of bounds"},
      {"tag 2", {2}, "Invalid discriminant"},
      {"tag 1 as a long varint", {0xFC, 0x01}, "Invalid varint encoding"},
  };
  for (const Case& c : cases) {
    auto r = sised::decode<Bip340ReshareMessage>(c.bytes);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().display(), c.text) << c.name;
  }
}

using ReshareResult = std::expected<Bip340KeyShare, ecdsa::Bip340RefreshError>;

// One party's part in a reshare session.
struct Role {
  std::optional<Bip340KeyShare> old_share;  // remaining party
  std::vector<PartyId> remaining_old_ids;   // remaining party
  ByteArray<32> expected_key{};             // new party
  ByteArray<32> chain_code{};               // new party
};

std::vector<ReshareResult> run_reshare(async::Runtime& rt, const std::vector<Role>& roles, std::uint16_t threshold) {
  auto outcomes = run_session<ReshareResult>(
      rt, ids_1_to(static_cast<std::uint16_t>(roles.size())), [&roles, threshold](PartyId me, ProtocolExecutor root) {
        const Role& role = roles[me.value() - 1];
        if (role.old_share) {
          return bip340_reshare_remaining_subprotocol(std::move(root), *role.old_share, role.remaining_old_ids,
                                                      threshold);
        }
        return bip340_reshare_subprotocol(std::move(root), role.expected_key, role.chain_code, threshold);
      });
  std::vector<ReshareResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

// Old 2-of-3 shares 3 and 1 remain, as new parties 1 and 2; new parties 3
// and 4 join; the new threshold is 3.
std::vector<Role> roles_for(const std::vector<Bip340KeyShare>& old) {
  const std::vector<PartyId> remaining = {pid(3), pid(1)};
  Role new_party;
  new_party.expected_key = old[0].public_key.x_bytes();
  new_party.chain_code = old[0].chain_code;
  return {Role{old[2], remaining, {}, {}}, Role{old[0], remaining, {}, {}}, new_party, new_party};
}

TEST(Bip340ReshareSession, MovesTheKeyToANewSetForBothParities) {
  async::Runtime rt(2);
  for (const bool even : {true, false}) {
    const std::vector<Bip340KeyShare> old = deal(secret_with_parity(even), 2, 3);
    const auto results = run_reshare(rt, roles_for(old), 3);
    std::vector<Bip340KeyShare> fresh;
    for (std::size_t i = 0; i < results.size(); ++i) {
      ASSERT_TRUE(results[i].has_value()) << even << " party " << i + 1 << ": " << results[i].error().display();
      const Bip340KeyShare& s = *results[i];
      EXPECT_EQ(s.public_key, old[0].public_key);  // the full point, parity included
      EXPECT_EQ(s.chain_code, old[0].chain_code);
      EXPECT_EQ(s.party_id, pid(static_cast<std::uint16_t>(i + 1)));
      EXPECT_EQ(s.threshold, 3);
      EXPECT_EQ(s.num_parties, 4);
      fresh.push_back(s);
    }
    // Three of the new shares sign; two do not.
    const Bytes message = {'n', 'e', 'w'};
    const auto signed3 = run_sign(rt, {fresh[1], fresh[2], fresh[3]}, message);
    ASSERT_TRUE(signed3[0].has_value()) << signed3[0].error().display();
    EXPECT_TRUE(libsecp_verifies(old[0].public_key.x_bytes(), message, *signed3[0]));
    const auto signed2 = run_sign(rt, {fresh[0], fresh[3]}, message);
    EXPECT_FALSE(signed2[0].has_value());
  }
}

TEST(Bip340ReshareSession, KeyChecksOfBothRoles) {
  async::Runtime rt(2);
  const std::vector<Bip340KeyShare> old = deal(secret_with_parity(true), 2, 3);

  // A new party told another key fails; the others are unaffected.
  std::vector<Role> roles = roles_for(old);
  roles[3].expected_key = Point::base_mul(Scalar::from_u64(2)).x_bytes();
  auto results = run_reshare(rt, roles, 3);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(results[i].has_value()) << i + 1;
  ASSERT_FALSE(results[3].has_value());
  std::string listed = "[";
  for (std::size_t i = 0; i < 32; ++i) {
    listed += (i ? ", " : "") + std::to_string(roles[3].expected_key[i]);
  }
  EXPECT_EQ(results[3].error().display(), "Malformed Public Key `" + listed + "]`");

  // A remaining party that weights its share over the wrong list deals the
  // wrong constant term: the remaining parties see another key as a point,
  // the new parties another x coordinate.
  roles = roles_for(old);
  roles[0].remaining_old_ids = {pid(3), pid(2)};
  results = run_reshare(rt, roles, 3);
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_FALSE(results[i].has_value()) << i + 1;
    EXPECT_EQ(results[i].error().display(),
              "Refresh is not of same secret, an outcome of a potentially compromised device in the group");
  }
  for (std::size_t i = 2; i < 4; ++i) {
    ASSERT_FALSE(results[i].has_value()) << i + 1;
    EXPECT_TRUE(results[i].error().display().starts_with("Malformed Public Key")) << results[i].error().display();
  }
}

}  // namespace
}  // namespace velto::bip340::testing
