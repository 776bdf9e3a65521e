// Threshold BIP340 signing: one signer against scripted peers (wire layout,
// held messages, malformed and dishonest messages), and whole sessions whose
// signatures libsecp256k1 verifies, for keys of both y parities, with and
// without a tweak, at (2,3) and (3,5), for empty and long messages.
#include "velto-frost-bip340/sign.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "velto-frost-bip340/tests/bip340_test_util.hpp"
#include "velto-frost-bip340/tweak.hpp"

namespace velto::bip340::testing {
namespace {

using crypto::ByteArray;
using crypto::Bytes;
using crypto::Point;
using crypto::Scalar;
using velto::testing::DetachedExecutor;
using velto::testing::run_here;

// ---------------------------------------------------------------------------
// One signer (party 2 of 1, 2, 3) against scripted peers 1 and 3.
//
// The key is f(x) = 11 + 7x, so party j holds f(j) and the group key is
// 11·G. The signer's nonces come from its executor's generator, which a twin
// executor (same seed key, same tag) reproduces, so the peers' messages can
// be computed ahead.

Bytes round1_bytes(const Bip340SigningCommitment& c) {
  const ByteArray<33> d = c.hiding.to_compressed();
  const ByteArray<33> e = c.binding.to_compressed();
  Bytes out(d.begin(), d.end());
  out.insert(out.end(), e.begin(), e.end());
  out.push_back(static_cast<std::uint8_t>(c.id.value() & 0xFF));
  out.push_back(static_cast<std::uint8_t>(c.id.value() >> 8));
  return out;
}

Bytes round2_bytes(const Scalar& z, const Point& r) {
  const ByteArray<32> zb = z.to_bytes();
  const ByteArray<32> rx = r.x_bytes();
  Bytes out(zb.begin(), zb.end());
  out.insert(out.end(), rx.begin(), rx.end());
  return out;
}

Bip340KeyShare line_share(std::uint16_t id) {
  const Scalar f = Scalar::from_u64(11) + Scalar::from_u64(7) * Scalar::from_u64(id);
  return Bip340KeyShare{f, {}, Point::base_mul(Scalar::from_u64(11)), pid(id), 2, 3};
}

struct ScriptedRun {
  Bytes message = {'h', 'e', 'l', 'l', 'o'};
  Bip340KeyShare own = line_share(2);
  std::vector<Bip340KeyShare> peers = {line_share(1), line_share(3)};
  std::vector<Bip340SigningNonces> peer_nonces = {{Scalar::from_u64(101), Scalar::from_u64(102)},
                                                  {Scalar::from_u64(301), Scalar::from_u64(302)}};
  // Filled by prepare().
  std::vector<Bip340SigningCommitment> list;
  Bip340GroupCommitment group;
  std::vector<Bytes> peer_round1;  // peers 1 and 3
  std::vector<Bytes> peer_round2;

  void prepare() {
    auto twin = DetachedExecutor::open(pid(2), ids_1_to(3));
    const Bip340SigningNonces own_nonces = bip340_signing_nonces(own.secret_share, twin.executor->rng());
    list = {{Point::base_mul(peer_nonces[0].hiding), Point::base_mul(peer_nonces[0].binding), pid(1)},
            {Point::base_mul(own_nonces.hiding), Point::base_mul(own_nonces.binding), pid(2)},
            {Point::base_mul(peer_nonces[1].hiding), Point::base_mul(peer_nonces[1].binding), pid(3)}};
    group = bip340_group_commitment(own.public_key, list, message);
    peer_round1 = {round1_bytes(list[0]), round1_bytes(list[2])};
    peer_round2.clear();
    for (std::size_t p = 0; p < 2; ++p) {
      const std::size_t pos = p == 0 ? 0 : 2;
      const Scalar z = bip340_signature_share(peers[p], peer_nonces[p], list, group.binding_factors[pos],
                                              group.commitment, message);
      peer_round2.push_back(round2_bytes(z, group.commitment));
    }
  }

  SignResult run(const std::function<void(DetachedExecutor&)>& feed, std::vector<ManagerMessage>* sent = nullptr) {
    auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
    feed(d);
    SignResult result = run_here(frost_bip340_sign(std::move(*d.executor), own, message));
    if (sent) *sent = d.drain();
    return result;
  }
};

TEST(Bip340SignScripted, SendsTheSpecifiedLayoutAndHoldsEarlyShares) {
  ScriptedRun s;
  s.prepare();
  std::vector<ManagerMessage> sent;
  // Party 3 is a round ahead of party 1: its share arrives while the signer
  // still waits for party 1's commitments.
  const SignResult result = s.run(
      [&s](DetachedExecutor& d) {
        d.feed(3, s.peer_round1[1]);
        d.feed(3, s.peer_round2[1]);
        d.feed(1, s.peer_round1[0]);
        d.feed(1, s.peer_round2[0]);
      },
      &sent);
  ASSERT_TRUE(result.has_value()) << result.error().display();
  EXPECT_TRUE(libsecp_verifies(s.own.public_key.x_bytes(), s.message, *result));
  EXPECT_EQ(hex(crypto::ByteSpan(result->data(), 32)), hex(s.group.commitment.x_bytes()));

  // Commitments (68 bytes), then the share with R.x (64), both to all; then
  // the release.
  ASSERT_EQ(sent.size(), 3u);
  const auto& r1 = std::get<manager_message::SendToAll>(sent[0]).payload;
  EXPECT_EQ(r1, round1_bytes(s.list[1]));
  ASSERT_EQ(r1.size(), 68u);
  const auto& r2 = std::get<manager_message::SendToAll>(sent[1]).payload;
  ASSERT_EQ(r2.size(), 64u);
  EXPECT_EQ(hex(crypto::ByteSpan(r2.data() + 32, 32)), hex(s.group.commitment.x_bytes()));
  EXPECT_TRUE(std::holds_alternative<manager_message::Deregister>(sent[2]));
}

TEST(Bip340SignScripted, AcceptsIdentityCommitmentsAndTrailingBytes) {
  ScriptedRun s;
  s.peer_nonces[0] = {Scalar::zero(), Scalar::zero()};  // both commitments at the identity (33 zero bytes)
  s.prepare();
  ASSERT_EQ(Bytes(s.peer_round1[0].begin(), s.peer_round1[0].begin() + 66), Bytes(66, 0));
  const SignResult result = s.run([&s](DetachedExecutor& d) {
    Bytes long_r1 = s.peer_round1[1];
    long_r1.insert(long_r1.end(), {0xAB, 0xCD});  // 70 bytes
    Bytes long_r2 = s.peer_round2[0];
    long_r2.insert(long_r2.end(), {1, 2, 3});
    d.feed(1, s.peer_round1[0]);
    d.feed(3, long_r1);
    d.feed(1, long_r2);
    d.feed(3, s.peer_round2[1]);
  });
  ASSERT_TRUE(result.has_value()) << result.error().display();
  EXPECT_TRUE(libsecp_verifies(s.own.public_key.x_bytes(), s.message, *result));
}

TEST(Bip340SignScripted, RefusesMalformedAndDishonestMessages) {
  const ByteArray<32> n = unhex_array<32>("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141");
  struct Case {
    std::string name;
    // Peer 1's round-1 and round-2 messages as sent (peer 3 stays honest).
    std::function<Bytes(const ScriptedRun&)> round1;
    std::function<Bytes(const ScriptedRun&)> round2;
    std::string display;
    std::string debug;
  };
  const auto honest1 = [](const ScriptedRun& s) { return s.peer_round1[0]; };
  const auto honest2 = [](const ScriptedRun& s) { return s.peer_round2[0]; };
  const auto edited1 = [](std::size_t at, std::uint8_t value) {
    return [at, value](const ScriptedRun& s) {
      Bytes b = s.peer_round1[0];
      b[at] = value;
      return b;
    };
  };
  const auto cut = [](std::size_t size, bool round1) {
    return [size, round1](const ScriptedRun& s) {
      const Bytes& b = round1 ? s.peer_round1[0] : s.peer_round2[0];
      return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(size));
    };
  };
  const std::string oob = "Communication Error: `Out of bounds`";
  const std::string bad_point = "Communication Error: `Invalid Compressed AffinePoint`";
  const std::string bad_point_debug = "CommunicationError(Custom(\"Invalid Compressed AffinePoint\"))";
  const std::vector<Case> cases = {
      {"round1_32_bytes", cut(32, true), honest2, oob, "CommunicationError(OutOfBounds)"},
      {"round1_65_bytes", cut(65, true), honest2, oob, "CommunicationError(OutOfBounds)"},
      {"round1_67_bytes", cut(67, true), honest2, oob, "CommunicationError(OutOfBounds)"},
      {"round1_hiding_prefix_07", edited1(0, 0x07), honest2, bad_point, bad_point_debug},
      {"round1_binding_prefix_04", edited1(33, 0x04), honest2, bad_point, bad_point_debug},
      {"round1_hiding_x_not_on_curve",
       [](const ScriptedRun& s) {
         Bytes b = s.peer_round1[0];
         std::fill(b.begin() + 1, b.begin() + 33, 0xFF);  // x above p
         return b;
       },
       honest2, bad_point, bad_point_debug},
      {"round1_zero_id",
       [](const ScriptedRun& s) {
         Bytes b = s.peer_round1[0];
         b[66] = 0;
         b[67] = 0;
         return b;
       },
       honest2, "Communication Error: `Zero value in a NonZero type`",
       "CommunicationError(Custom(\"Zero value in a NonZero type\"))"},
      {"round1_other_id", edited1(66, 3), honest2, "Received malicious data from 1",
       "ReceivedMaliciousdData { from: PartyId(1) }"},
      {"round2_31_bytes", honest1, cut(31, false), oob, "CommunicationError(OutOfBounds)"},
      {"round2_63_bytes", honest1, cut(63, false), oob, "CommunicationError(OutOfBounds)"},
      {"round2_z_equal_to_n", honest1,
       [n](const ScriptedRun& s) {
         Bytes b = s.peer_round2[0];
         std::copy(n.begin(), n.end(), b.begin());
         return b;
       },
       "Communication Error: `Invalid Scalar`", "CommunicationError(Custom(\"Invalid Scalar\"))"},
      {"round2_other_r", honest1,
       [](const ScriptedRun& s) {
         Bytes b = s.peer_round2[0];
         b[40] ^= 1;
         return b;
       },
       "Created an invalid signature", "InvalidSignature"},
      {"round2_wrong_share", honest1,
       [](const ScriptedRun& s) {
         Bytes b = s.peer_round2[0];
         b[31] ^= 1;  // still below n
         return b;
       },
       "Created an invalid signature", "InvalidSignature"},
  };
  for (const Case& c : cases) {
    ScriptedRun s;
    s.prepare();
    const SignResult result = s.run([&](DetachedExecutor& d) {
      d.feed(1, c.round1(s));
      d.feed(3, s.peer_round1[1]);
      d.feed(1, c.round2(s));
      d.feed(3, s.peer_round2[1]);
    });
    ASSERT_FALSE(result.has_value()) << c.name;
    EXPECT_EQ(result.error().display(), c.display) << c.name;
    EXPECT_EQ(result.error().debug(), c.debug) << c.name;
  }
}

TEST(Bip340SignScripted, ReportsAClosedManager) {
  ScriptedRun s;
  s.prepare();
  auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
  d.feed(1, s.peer_round1[0]);
  d.inbound.reset();  // the manager's side of the channel goes away
  const SignResult result = run_here(frost_bip340_sign(std::move(*d.executor), s.own, s.message));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().debug(), "CommunicationError(ManagerChannelClosed)");
}

// ---------------------------------------------------------------------------
// Whole sessions.

std::vector<Bip340KeyShare> pick(const std::vector<Bip340KeyShare>& shares, const std::vector<std::size_t>& at) {
  std::vector<Bip340KeyShare> out;
  for (const std::size_t i : at) out.push_back(shares[i]);
  return out;
}

TEST(Bip340SignSession, SignaturesVerifyWithLibsecpForBothParitiesWithAndWithoutTweak) {
  async::Runtime rt(2);
  crypto::OsRng rng;
  const std::vector<Bytes> messages = {Bytes{}, Bytes(32, 0x42), Bytes(1000, 0x5A)};
  struct Setting {
    std::uint16_t t;
    std::uint16_t n;
    std::vector<std::size_t> signers;
  };
  for (const Setting& setting : {Setting{2, 3, {0, 2}}, Setting{3, 5, {1, 3, 4}}}) {
    for (const bool even : {true, false}) {
      const std::vector<Bip340KeyShare> all = deal(secret_with_parity(even), setting.t, setting.n);
      ASSERT_EQ(all[0].public_key.has_even_y(), even);
      for (const bool tweaked : {false, true}) {
        std::vector<Bip340KeyShare> signers = pick(all, setting.signers);
        if (tweaked) {
          const ByteArray<32> tweak = Scalar::random(rng).to_bytes();
          for (auto& s : signers) s = *bip340_tweak_pubkey(s, tweak);
        }
        const ByteArray<32> x_only = signers[0].public_key.x_bytes();
        for (const Bytes& message : messages) {
          const auto results = run_sign(rt, signers, message);
          const std::string where = std::to_string(setting.t) + "-of-" + std::to_string(setting.n) +
                                    (even ? " even" : " odd") + (tweaked ? " tweaked" : "") + " message of " +
                                    std::to_string(message.size());
          ASSERT_EQ(results.size(), signers.size());
          for (const SignResult& r : results) {
            ASSERT_TRUE(r.has_value()) << where << ": " << r.error().display();
            EXPECT_EQ(*r, *results[0]) << where;
          }
          EXPECT_TRUE(libsecp_verifies(x_only, message, *results[0])) << where;
        }
      }
    }
  }
}

TEST(Bip340SignSession, OneSignerAloneAndFreshNoncesEachRun) {
  async::Runtime rt(2);
  const Scalar secret = secret_with_parity(false);
  const std::vector<Bip340KeyShare> shares = {Bip340KeyShare{secret, {}, Point::base_mul(secret), pid(4), 1, 1}};
  const Bytes message = {'m'};
  const auto first = run_sign(rt, shares, message);
  const auto second = run_sign(rt, shares, message);
  ASSERT_TRUE(first[0].has_value()) << first[0].error().display();
  ASSERT_TRUE(second[0].has_value()) << second[0].error().display();
  EXPECT_TRUE(libsecp_verifies(shares[0].public_key.x_bytes(), message, *first[0]));
  EXPECT_TRUE(libsecp_verifies(shares[0].public_key.x_bytes(), message, *second[0]));
  EXPECT_NE(*first[0], *second[0]);
}

// Disagreeing signers all end with the same failure and no culprit.
TEST(Bip340SignSession, DisagreementIsAnInvalidSignatureEverywhere) {
  async::Runtime rt(2);
  const std::vector<Bip340KeyShare> shares = deal(secret_with_parity(true), 3, 5);
  const Bytes message = {'p', 'a', 'y'};
  Bip340KeyShare wrong_share = shares[1];
  wrong_share.secret_share += Scalar::one();
  struct Case {
    std::string name;
    std::vector<Bip340KeyShare> signers;
    std::vector<Bytes> messages;
  };
  const std::vector<Case> cases = {
      {"below_threshold", {shares[0], shares[3]}, {message, message}},
      {"other_message", {shares[0], shares[1], shares[2]}, {message, message, Bytes{'p', 'a', 'x'}}},
      {"other_share", {shares[0], wrong_share, shares[2]}, {message, message, message}},
  };
  for (const Case& c : cases) {
    const auto results = run_sign(rt, c.signers, c.messages);
    for (const auto& r : results) {
      ASSERT_FALSE(r.has_value()) << c.name;
      EXPECT_EQ(r.error().display(), "Created an invalid signature") << c.name;
    }
  }
}

}  // namespace
}  // namespace velto::bip340::testing
