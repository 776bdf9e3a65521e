// The modular inverse of version 1.1.0 signing over the in-memory network,
// from real pairwise set-ups: the shares of k^-1 invert the common nonce
// point, the tree pairs every two parties once, and a changed opening is
// refused.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "velto-ecdsa-legacy/sign/modular_inverse.hpp"
#include "velto-ecdsa-legacy/tests/legacy_session.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::ecdsa::legacy::testing {
namespace {

using crypto::Point;
using crypto::Scalar;

constexpr const char* kInitLabel = "init";
constexpr const char* kSignLabel = "sign";

struct InverseSeen {
  std::string error;
  std::optional<Point> r;
  Scalar w;
  std::size_t records = 0;
  std::size_t pads_left = 0;
};

// A party that failed sends an empty message under each commitment step's
// tag to every other party, so that none is left waiting for a message that
// will not come (the sub-protocol's own executors are gone by then).
void release_peers(const ProtocolExecutor& root) {
  const ProtocolExecutor sample = root.child(kSignLabel).child(kInverseSampleLabel);
  for (const std::string_view label : {kInverseCommitPhiLabel, kInverseCommitULabel, kInverseCommitVLabel}) {
    ProtocolExecutor step = sample.child(label);
    for (const PartyId p : step.parties()) {
      if (p != step.my_party_id()) (void)step.send_payload_to(p, crypto::Bytes{});
    }
  }
}

asio::awaitable<InverseSeen> run_inverse(const ProtocolExecutor& root);

asio::awaitable<InverseSeen> inverse_party(ProtocolExecutor root) {
  InverseSeen seen = co_await run_inverse(root);
  if (!seen.error.empty()) release_peers(root);
  co_return seen;
}

asio::awaitable<InverseSeen> run_inverse(const ProtocolExecutor& root) {
  InverseSeen seen;
  auto setups = co_await two_party_mul_setups(root.child(kInitLabel));
  if (!setups) {
    seen.error = setups.error().display();
    co_return seen;
  }
  auto inverse = co_await modular_inverse_v4(root.child(kSignLabel), *setups);
  if (!inverse) {
    seen.error = inverse.error().display();
    co_return seen;
  }
  seen.r = inverse->r;
  seen.w = inverse->w;
  seen.records = inverse->records.size();
  for (const auto& [id, record] : inverse->records) {
    seen.pads_left += std::visit([](const auto& r) { return r.pads.size(); }, record);
  }
  co_return seen;
}

TEST(ModularInverse, SharesInvertTheNonceForEveryPartyCount) {
  async::Runtime rt(2);
  for (const std::uint16_t n : {1, 2, 3, 5, 8}) {
    SCOPED_TRACE(n);
    const auto seen =
        run_plain<InverseSeen>(rt, ids_1_to(n), [](PartyId, ProtocolExecutor root) { return inverse_party(std::move(root)); });
    Scalar w_sum;
    for (const InverseSeen& s : seen) {
      ASSERT_EQ(s.error, "");
      ASSERT_TRUE(s.r && seen[0].r);
      EXPECT_EQ(*s.r, *seen[0].r);
      EXPECT_EQ(s.records, n - 1u);
      EXPECT_EQ(s.pads_left, 2u * (n - 1u));
      w_sum += s.w;
    }
    EXPECT_EQ(*seen[0].r * w_sum, Point::generator());
  }
}

// Over all levels, each position meets every other position exactly once,
// and the blocks of two positions name each other.
TEST(ModularInverse, TreeBlocksPairEveryTwoPartiesOnce) {
  EXPECT_EQ(inverse_tree_levels(1), 0u);
  EXPECT_EQ(inverse_tree_levels(2), 1u);
  EXPECT_EQ(inverse_tree_levels(3), 2u);
  EXPECT_EQ(inverse_tree_levels(4), 2u);
  EXPECT_EQ(inverse_tree_levels(5), 3u);
  EXPECT_EQ(inverse_tree_levels(8), 3u);
  EXPECT_EQ(inverse_tree_levels(9), 4u);
  // n = 3: position 2 skips level 0 and meets 0 and 1 at level 1.
  EXPECT_EQ(inverse_tree_block(2, 0, 3), (std::pair<std::size_t, std::size_t>{3, 3}));
  EXPECT_EQ(inverse_tree_block(2, 1, 3), (std::pair<std::size_t, std::size_t>{0, 2}));
  EXPECT_EQ(inverse_tree_block(0, 1, 3), (std::pair<std::size_t, std::size_t>{2, 3}));
  for (std::size_t n = 1; n <= 40; ++n) {
    for (std::size_t idx = 0; idx < n; ++idx) {
      std::multiset<std::size_t> met;
      for (std::size_t l = 0; l < inverse_tree_levels(n); ++l) {
        const auto [start, end] = inverse_tree_block(idx, l, n);
        for (std::size_t p = start; p < end; ++p) {
          met.insert(p);
          const auto [s2, e2] = inverse_tree_block(p, l, n);
          EXPECT_TRUE(s2 <= idx && idx < e2) << n << " " << idx << " " << p;
        }
      }
      std::multiset<std::size_t> others;
      for (std::size_t p = 0; p < n; ++p) {
        if (p != idx) others.insert(p);
      }
      EXPECT_EQ(met, others) << n << " " << idx;
    }
  }
}

// Party 2's openings rewritten on the way: every other party refuses them.
TEST(ModularInverse, ChangedOpeningsAreRefused) {
  struct Case {
    const char* name;
    const char* label;
    std::size_t at;     // the byte of the opening changed
    std::uint8_t mask;  // XORed into it; 0: the byte becomes 07, no SEC1 prefix
    const char* text;
  };
  constexpr const char* kMismatch = "Decommit failed: `Received an invalid commitment`";
  constexpr const char* kBadPoint = "Decommit failed: `Failed to receive a message: Invalid Compressed AffinePoint`";
  const Case cases[] = {
      {"phi opening", "MODULAR INVERSE COMMIT PHI", 31, 0x01, kMismatch},
      {"U opening negated", "MODULAR INVERSE COMMIT PUB U", 0, 0x01, kMismatch},
      {"U opening not a point", "MODULAR INVERSE COMMIT PUB U", 0, 0, kBadPoint},
      {"V~ opening negated", "MODULAR INVERSE COMMIT PUB V TILDE", 0, 0x01, kMismatch},
      {"V~ opening not a point", "MODULAR INVERSE COMMIT PUB V TILDE", 0, 0, kBadPoint},
  };
  async::Runtime rt(2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const UcTag tag = derive_child_uc_tag(derive_child_uc_tag(root_uc_tag(), kSignLabel), kInverseSampleLabel);
    const UcTag step = derive_child_uc_tag(tag, c.label);
    // The second message under the step's tag to each party is the opening.
    auto counts = std::make_shared<std::map<PartyId, int>>();
    Rewrite rewrite = [step, counts, at = c.at, mask = c.mask](crypto::Bytes& plaintext, PartyId to) {
      if (!sent_under(plaintext, step) || ++(*counts)[to] != 2) return;
      plaintext[at] = mask == 0 ? std::uint8_t{0x07} : static_cast<std::uint8_t>(plaintext[at] ^ mask);
    };
    const auto seen = run_tapped<InverseSeen>(
        rt, ids_1_to(3), [](PartyId, ProtocolExecutor root) { return inverse_party(std::move(root)); }, pid(2),
        rewrite);
    EXPECT_EQ(seen[0].error, c.text);
    EXPECT_EQ(seen[2].error, c.text);
  }
}

}  // namespace
}  // namespace velto::ecdsa::legacy::testing
