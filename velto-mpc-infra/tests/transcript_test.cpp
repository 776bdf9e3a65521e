#include "velto-mpc-infra/transcript.hpp"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"
#include "sised/secp256k1_codec.hpp"

namespace velto {
namespace {

using crypto::ByteArray;
using crypto::Scalar;

ByteArray<32> hex32(std::string_view h) {
  ByteArray<32> out{};
  for (std::size_t i = 0; i < 32; ++i) out[i] = static_cast<std::uint8_t>(std::stoi(std::string(h.substr(2 * i, 2)), nullptr, 16));
  return out;
}

ByteArray<32> filled(std::uint8_t b) {
  ByteArray<32> out;
  out.fill(b);
  return out;
}

constexpr PartyId P(std::uint16_t v) { return PartyId::unchecked(v); }

// ---------------------------------------------------------------------------
// Transcript (expected digests computed once with an independent BLAKE3)

using Words = std::array<std::vector<std::uint64_t>, 63>;
using ScalarPairs = std::vector<std::pair<Scalar, Scalar>>;

Words sample_words() {
  Words w;
  for (std::uint64_t i = 0; i < 63; ++i)
    for (std::uint64_t j = 0; j < i % 3; ++j) w[i].push_back(i * 0x0101010101010101u + j);
  return w;
}

ScalarPairs sample_pairs() {
  return {{Scalar::from_u64(1), Scalar::from_u64(2)}, {-Scalar::one(), Scalar::from_u64(3)}};
}

TEST(TranscriptTest, DigestsOfTheTwoAppendedForms) {
  Transcript empty;
  empty.append(ScalarPairs{});  // a count of zero feeds the single byte 00
  EXPECT_EQ(empty.finalize(), hex32("a6190a56800f6d8b35df639ca433f11fb98a0b9a7f4b814911e06fe54d9b35a2"));

  ByteArray<32> key;
  for (std::size_t i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i + 1);
  Transcript keyed;
  keyed.append(key).append(sample_words()).append(sample_pairs());
  EXPECT_EQ(keyed.finalize(), hex32("611add10b18ab90c5d994a0fec8f9f2036c89f40ae95062f2e6c71142b6c1c52"));
}

TEST(TranscriptTest, SameValuesSameOrderSameDigest) {
  Transcript a, b, swapped;
  a.append(sample_words()).append(sample_pairs());
  b.append(sample_words()).append(sample_pairs());
  swapped.append(sample_pairs()).append(sample_words());
  EXPECT_EQ(a.finalize(), b.finalize());
  EXPECT_NE(a.finalize(), swapped.finalize());
  // Finalising does not consume: the transcript can go on.
  const auto first = a.finalize();
  a.append(std::uint8_t{0});
  EXPECT_NE(a.finalize(), first);
}

// ---------------------------------------------------------------------------
// Zero shares

using SeedMap = std::vector<std::pair<PartyId, ByteArray<32>>>;

TEST(ZeroShares, StreamAndSharesMatchIndependentComputation) {
  // Parties 1, 2, 3; party 2 holds the seeds of its pairs with 1 and 3.
  const std::vector<PartyId> parties = {P(1), P(2), P(3)};
  const SeedMap seeds = {{P(1), filled(0x11)}, {P(3), filled(0x23)}};
  const ByteArray<32> instance = filled(0x77);

  ZeroShareStream s(filled(0x11), instance);
  const auto first = s.next_bytes();
  const auto second = s.next_bytes();
  const auto third = s.next_bytes();
  EXPECT_EQ(first.array(), hex32("b4ad10b7ed2d30cfce339fd9ca1438750082d8902509c3564d0c49d86279d0d9"));
  EXPECT_EQ(second.array(), hex32("595978fe77bc095bcc240ee98c299b3420893a99dfa72b56471e13c5ac0f6bd1"));
  EXPECT_EQ(third.array(), hex32("7263c413616641cca1f30f61fc726cd3b01d553ca6f4e7e6a7661600f19966aa"));

  auto entries = obtain_zero_shares(parties, P(2), seeds, instance);
  ASSERT_EQ(entries.size(), 2u);
  const std::vector<std::string_view> expected = {
      "941fdc512afd8e37924c7b799a9f5e0e69aab047eb2c80af2a5c3b5501d2a516",
      "c54a8aea6845239f4d84cf8d9f102e1c51d53c6fe85aa2bf252a23e3cc767892",
      "604a5afa7158c9265726dd45bbbd6819ef7e98d6e086d4272c15dca5628b73de",
  };
  for (const auto& e : expected) EXPECT_EQ(next_zero_share(entries, P(2)).to_bytes(), hex32(e));
}

TEST(ZeroShares, SharesOfAllPartiesSumToZero) {
  crypto::ChaCha8Rng rng(filled(0x5E));
  for (std::uint16_t n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    // Party ids need not be consecutive.
    std::vector<PartyId> parties;
    for (std::uint16_t i = 0; i < n; ++i) parties.push_back(P(static_cast<std::uint16_t>(3 * i + 1)));
    std::map<std::pair<std::uint16_t, std::uint16_t>, ByteArray<32>> pair_seed;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j) {
        ByteArray<32> s;
        rng.fill_bytes(s);
        pair_seed[{parties[i].value(), parties[j].value()}] = s;
      }
    ByteArray<32> instance;
    rng.fill_bytes(instance);

    std::vector<std::vector<ZeroShareEntry>> streams;
    for (const PartyId me : parties) {
      SeedMap seeds;
      for (const PartyId other : parties) {
        if (other == me) continue;
        const std::uint16_t lo = std::min(me.value(), other.value());
        const std::uint16_t hi = std::max(me.value(), other.value());
        seeds.emplace_back(other, pair_seed.at({lo, hi}));
      }
      streams.push_back(obtain_zero_shares(parties, me, seeds, instance));
      ASSERT_EQ(streams.back().size(), n - 1u);
    }
    for (int index = 0; index < 4; ++index) {
      Scalar sum = Scalar::zero();
      std::vector<Scalar> shares;
      for (std::size_t i = 0; i < n; ++i) {
        shares.push_back(next_zero_share(streams[i], parties[i]));
        sum += shares.back();
      }
      EXPECT_TRUE(sum.is_zero()) << index;
      if (n == 1) {
        EXPECT_TRUE(shares[0].is_zero());
      } else {
        EXPECT_FALSE(shares[0].is_zero());
      }
      if (n == 2) {
        EXPECT_TRUE(shares[0] == -shares[1]);
      }
    }
  }
}

TEST(ZeroShares, OrderAndTheFilterRule) {
  const std::vector<PartyId> parties = {P(1), P(2), P(4), P(7)};
  const ByteArray<32> instance = filled(9);
  // An entry of party 5, which is not in the list, is passed over.
  const SeedMap sorted = {{P(1), filled(1)}, {P(2), filled(2)}, {P(4), filled(4)}, {P(5), filled(5)},
                          {P(7), filled(7)}};

  auto entries = obtain_zero_shares(parties, P(2), sorted, instance);
  ASSERT_EQ(entries.size(), 3u);
  const std::vector<std::uint16_t> peers = {1, 4, 7};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].peer.value(), peers[i]);
    ZeroShareStream expected(filled(static_cast<std::uint8_t>(peers[i])), instance);
    EXPECT_EQ(entries[i].stream.next_bytes().array(), expected.next_bytes().array());
  }

  // A party of the list without a seed, or ids out of order.
  const SeedMap missing = {{P(1), filled(1)}, {P(7), filled(7)}};
  const std::vector<PartyId> out_of_order = {P(1), P(7), P(4)};
  for (const auto& [list, map] : {std::pair{parties, missing}, std::pair{out_of_order, sorted}}) {
    try {
      obtain_zero_shares(list, P(2), map, instance);
      ADD_FAILURE() << "filter assertion not raised";
    } catch (const velto::Panic& p) {
      EXPECT_EQ(p.message(), "Expected `filter` ids to be ordered and a subset of map");
    }
  }

  // One party: no streams, and its zero share is zero.
  const std::vector<PartyId> alone = {P(3)};
  auto none = obtain_zero_shares(alone, P(3), SeedMap{}, instance);
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(next_zero_share(none, P(3)).is_zero());
}

TEST(ZeroShares, SecretSeedsAreAccepted) {
  const std::vector<PartyId> parties = {P(1), P(2)};
  std::vector<std::pair<PartyId, crypto::SecretArray<32>>> seeds;
  seeds.emplace_back(P(2), crypto::SecretArray<32>(filled(0x11)));
  auto entries = obtain_zero_shares(parties, P(1), seeds, filled(0x77));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].stream.next_bytes().array(),
            hex32("b4ad10b7ed2d30cfce339fd9ca1438750082d8902509c3564d0c49d86279d0d9"));
}

}  // namespace
}  // namespace velto
