// Whole sr25519 sessions over the in-memory network (key generation for
// every size up to five parties, signing by t and by n parties, refresh,
// reshare, import, extraction) and the refusals of the rounds' local steps.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "velto-frost-ed25519/lagrange.hpp"
#include "velto-frost-sr25519/derive.hpp"
#include "velto-frost-sr25519/dkg.hpp"
#include "velto-frost-sr25519/extract.hpp"
#include "velto-frost-sr25519/hashes.hpp"
#include "velto-frost-sr25519/sign.hpp"
#include "velto-frost-sr25519/tests/sr25519_test_util.hpp"

namespace velto::frost::sr_testing {
namespace {

using crypto::Bytes;
using crypto::EdScalar;
using crypto::RistrettoPoint;

EdScalar rebuild(const std::vector<Sr25519KeyShare>& subset) {
  auto x = sr25519_reconstruct_secret(subset);
  if (!x) ADD_FAILURE() << x.error().display();
  return x.value_or(EdScalar{});
}

void expect_signs(async::Runtime& rt, const std::vector<Sr25519KeyShare>& signers, const Bytes& message) {
  const auto results = run_sign(rt, signers, message);
  for (const auto& r : results) {
    ASSERT_TRUE(r.has_value()) << r.error().display();
    EXPECT_TRUE(sr25519_verify(signers[0].group_key, message, *r));
    EXPECT_EQ(*r, *results[0]);
    EXPECT_EQ((*r)[63] & 0x80, 0x80);
  }
}

// ---------------------------------------------------------------------------
// Key generation and signing.

TEST(Sr25519Keygen, EverySizeUpToFiveGivesOneKeyThatTAndNPartiesSign) {
  async::Runtime rt(4);
  const Bytes message = {'p', 'a', 'y'};
  for (std::uint16_t n = 1; n <= 5; ++n) {
    for (std::uint16_t t = 1; t <= n; ++t) {
      SCOPED_TRACE(::testing::Message() << t << " of " << n);
      const auto shares = keygen_ok(rt, ids_1_to(n), t);
      ASSERT_EQ(shares.size(), n);
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(shares[i].own_id, pid(static_cast<std::uint16_t>(i + 1)));
        EXPECT_EQ(shares[i].threshold, t);
        EXPECT_EQ(shares[i].num_parties, n);
        EXPECT_EQ(shares[i].group_key, shares[0].group_key);
      }
      // Any t shares rebuild x with x·B = Y (checked inside the rebuild).
      for (const auto& subset : subsets(shares, t)) rebuild(subset);
      // The last t parties sign, and so do all n.
      expect_signs(rt, std::vector<Sr25519KeyShare>(shares.end() - t, shares.end()), message);
      if (t != n) expect_signs(rt, shares, message);
    }
  }
}

TEST(Sr25519Sign, EmptyMessageDerivedKeyAndFreshNonces) {
  async::Runtime rt(4);
  auto shares = keygen_ok(rt, ids_1_to(3), 2);
  ASSERT_EQ(shares.size(), 3u);
  shares.pop_back();
  expect_signs(rt, shares, Bytes{});

  // A derived child key: every share moves by the path's tweak.
  const std::vector<std::string> path = {"Alice", "0"};
  const auto derived = sr25519_derive_path(shares[0].group_key, path);
  ASSERT_TRUE(derived);
  std::vector<Sr25519KeyShare> child = shares;
  for (auto& s : child) {
    s.group_key = derived->key;
    s.secret_share += derived->tweak;
  }
  expect_signs(rt, child, Bytes{'x'});

  const auto first = run_sign(rt, shares, Bytes{'m'});
  const auto second = run_sign(rt, shares, Bytes{'m'});
  ASSERT_TRUE(first[0] && second[0]);
  EXPECT_NE(*first[0], *second[0]);
}

TEST(Sr25519Sign, TooFewSignersOrADifferentMessageFailEverywhere) {
  async::Runtime rt(4);
  const auto shares = keygen_ok(rt, ids_1_to(3), 3);
  ASSERT_EQ(shares.size(), 3u);
  const std::vector<Sr25519KeyShare> two(shares.begin(), shares.begin() + 2);
  for (const auto& r : run_sign(rt, two, Bytes{'m'})) {
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "Created an invalid signature");
  }
}

TEST(Sr25519Keygen, ThresholdAboveThePartiesIsRefusedBeforeSending) {
  async::Runtime rt(2);
  for (const auto& r : run_keygen(rt, ids_1_to(2), 3)) {
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "Threshold 3 is greater than the number of parties 2");
  }
}

// ---------------------------------------------------------------------------
// Refresh, reshare and import, built from the rounds as the operations use
// them: holders deal their Lagrange-weighted share, receivers deal zero.

using RefreshResult = std::expected<Sr25519KeyShare, Sr25519RefreshRunError>;

// Every id of `ids` takes part; those in `old` (keyed by id) deal their
// weighted share over the old holders present, the others receive.
std::vector<RefreshResult> run_redeal(async::Runtime& rt, const std::vector<PartyId>& ids,
                                      const std::vector<Sr25519KeyShare>& old, std::uint16_t new_t,
                                      const RistrettoPoint& key) {
  std::vector<PartyId> holders;
  for (const auto& s : old) holders.push_back(s.own_id);
  auto outcomes = run_session<RefreshResult>(
      rt, ids, [&](PartyId me, ProtocolExecutor root) -> asio::awaitable<RefreshResult> {
        for (const auto& s : old) {
          if (s.own_id != me) continue;
          auto share = co_await sr25519_dkg(root.child(kSr25519Keygen2RoundsLabel), new_t,
                                            sr25519_weighted_share(s, holders));
          if (!share) co_return std::unexpected(sr25519_to_refresh_error(std::move(share.error())));
          if (!(share->group_key == key)) {
            co_return std::unexpected(Sr25519RefreshRunError::inner(Sr25519RefreshError::RefreshIsNotOfSameSecret{}));
          }
          co_return std::move(*share);
        }
        co_return co_await sr25519_keygen_2rounds(root, new_t, key);
      });
  std::vector<RefreshResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

TEST(Sr25519Redeal, RefreshKeepsTheKeyAndChangesTheShares) {
  async::Runtime rt(4);
  const auto shares = keygen_ok(rt, ids_1_to(3), 2);
  ASSERT_EQ(shares.size(), 3u);
  const auto fresh = run_redeal(rt, ids_1_to(3), shares, 2, shares[0].group_key);
  std::vector<Sr25519KeyShare> next;
  for (const auto& r : fresh) {
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->group_key, shares[0].group_key);
    next.push_back(*r);
  }
  EXPECT_FALSE(next[0].secret_share == shares[0].secret_share);
  EXPECT_EQ(rebuild({next[0], next[2]}), rebuild({shares[1], shares[2]}));
  expect_signs(rt, {next[0], next[1]}, Bytes{'r'});
  // A share from before and one from after do not combine.
  const std::vector<Sr25519KeyShare> mixed = {shares[0], next[1]};
  const auto x = sr25519_reconstruct_secret(mixed);
  ASSERT_FALSE(x);
  EXPECT_EQ(x.error().display(), "The private key is invalid");
}

TEST(Sr25519Redeal, ReshareToANewSetAndThreshold) {
  async::Runtime rt(4);
  const auto shares = keygen_ok(rt, ids_1_to(3), 2);
  ASSERT_EQ(shares.size(), 3u);
  // Old holders 1 and 2 stay; the session is 1..4, threshold 3.
  const std::vector<Sr25519KeyShare> remaining = {shares[0], shares[1]};
  const auto next = run_redeal(rt, ids_1_to(4), remaining, 3, shares[0].group_key);
  std::vector<Sr25519KeyShare> fresh;
  for (const auto& r : next) {
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->threshold, 3);
    EXPECT_EQ(r->num_parties, 4);
    fresh.push_back(*r);
  }
  EXPECT_EQ(rebuild({fresh[1], fresh[2], fresh[3]}), rebuild(remaining));
  expect_signs(rt, {fresh[0], fresh[2], fresh[3]}, Bytes{'s'});
}

TEST(Sr25519Redeal, ImportOfASeedAndOfARawScalar) {
  async::Runtime rt(4);
  crypto::ByteArray<32> bytes{};
  for (std::size_t i = 0; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(i * 5 + 1);
  bytes[31] = 0x05;  // below l as a scalar too
  for (const Sr25519KeyForm form : {Sr25519KeyForm::Seed, Sr25519KeyForm::Scalar}) {
    const auto x = sr25519_expand_seed(form, crypto::SecretArray<32>(bytes));
    ASSERT_TRUE(x);
    const RistrettoPoint key = RistrettoPoint::base_mul(*x);
    // The importer holds x as a 1-of-1 share with id 1 and deals it.
    const Sr25519KeyShare importer{key, *x, pid(1), 1, 1};
    const auto next = run_redeal(rt, ids_1_to(3), {importer}, 2, key);
    std::vector<Sr25519KeyShare> fresh;
    for (const auto& r : next) {
      ASSERT_TRUE(r) << r.error().display();
      fresh.push_back(*r);
    }
    EXPECT_EQ(rebuild({fresh[0], fresh[2]}), *x);
  }
}

TEST(Sr25519Redeal, ReceiverRefusesAnotherKey) {
  async::Runtime rt(2);
  const auto shares = keygen_ok(rt, ids_1_to(2), 1);
  ASSERT_EQ(shares.size(), 2u);
  const RistrettoPoint other = RistrettoPoint::base_mul(EdScalar::from_u64(5));
  const auto next = run_redeal(rt, ids_1_to(3), {shares[0]}, 2, other);
  ASSERT_FALSE(next[2]);
  EXPECT_EQ(next[2].error().display(),
            "Refresh is not of same secret, an outcome of a potentially compromised device in the group");
}

// ---------------------------------------------------------------------------
// Extraction.

using ExtractResult = std::expected<std::optional<EdScalar>, Sr25519ExtractRunError>;

std::vector<ExtractResult> run_extract(async::Runtime& rt, const std::vector<Sr25519KeyShare>& shares, PartyId to) {
  std::vector<PartyId> ids;
  for (const auto& s : shares) ids.push_back(s.own_id);
  auto outcomes = run_session<ExtractResult>(rt, ids, [&shares, to](PartyId me, ProtocolExecutor root) {
    std::size_t i = 0;
    while (shares[i].own_id != me) ++i;
    return sr25519_extract(root.child(kSr25519ExtractionLabel), shares[i], to);
  });
  std::vector<ExtractResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

TEST(Sr25519Extract, ReceiverGetsTheOfflineSecretAndSendersNothing) {
  async::Runtime rt(4);
  const auto shares = keygen_ok(rt, ids_1_to(4), 3);
  ASSERT_EQ(shares.size(), 4u);
  const std::vector<Sr25519KeyShare> three = {shares[0], shares[2], shares[3]};
  const auto results = run_extract(rt, three, pid(3));
  ASSERT_TRUE(results[0] && results[1] && results[2]);
  EXPECT_FALSE(results[0]->has_value());
  EXPECT_FALSE(results[2]->has_value());
  ASSERT_TRUE(results[1]->has_value());
  EXPECT_EQ(**results[1], rebuild(three));
  EXPECT_EQ(RistrettoPoint::base_mul(**results[1]), shares[0].group_key);

  // One party too many or too few.
  for (const auto& wrong : {shares, std::vector<Sr25519KeyShare>{shares[0], shares[1]}}) {
    for (const auto& r : run_extract(rt, wrong, pid(1))) {
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error().display(),
                "Invalid amount of secret shares for recovery, must provide at least 3 secret shares, found: " +
                    std::to_string(wrong.size()));
    }
  }

  // A wrong share reaches only the receiver's check.
  std::vector<Sr25519KeyShare> tampered = three;
  tampered[0].secret_share += EdScalar::one();
  const auto bad = run_extract(rt, tampered, pid(4));
  EXPECT_TRUE(bad[0] && bad[1]);
  ASSERT_FALSE(bad[2]);
  EXPECT_EQ(bad[2].error().display(), "The private key is invalid");
}

TEST(Sr25519Extract, OfflineRefusals) {
  async::Runtime rt(4);
  const auto a = keygen_ok(rt, ids_1_to(3), 2);
  const auto b = keygen_ok(rt, ids_1_to(3), 2);
  ASSERT_EQ(a.size(), 3u);
  ASSERT_EQ(b.size(), 3u);
  struct Case {
    std::vector<Sr25519KeyShare> shares;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{}, "Invalid amount of secret shares for recovery, must provide at least 1 secret shares, found: 0"},
      {{a[0]}, "Invalid amount of secret shares for recovery, must provide at least 2 secret shares, found: 1"},
      {{a[0], b[1]},
       "Incompatible secret shares, provided secret shares are not of the same public key, all provided secret "
       "shares must be from the same keygen operation (be shares of the same public key)."},
  };
  for (const Case& c : cases) {
    const auto x = sr25519_reconstruct_secret(c.shares);
    ASSERT_FALSE(x);
    EXPECT_EQ(x.error().display(), c.text);
  }
  EXPECT_EQ(rebuild({a[0], a[1], a[2]}), rebuild({a[2], a[0]}));
}

// ---------------------------------------------------------------------------
// The local steps of the key generation.

Sr25519DkgState sample(PartyId own, std::uint16_t t, std::uint16_t n, const crypto::ByteArray<32>& ctx,
                       std::uint8_t seed) {
  std::vector<crypto::SecretArray<32>> draws(t - 1u);
  for (std::size_t k = 0; k < draws.size(); ++k) draws[k][0] = static_cast<std::uint8_t>(seed + k);
  crypto::SecretArray<32> nonce;
  nonce[1] = seed;
  return sr25519_dkg_state_from_draws(ctx, t, n, own, EdScalar::from_u64(seed + 1000u), draws, nonce);
}

// Three honest dealers with threshold 2, run to the point where party 1
// holds its peers' round-1 messages and round-2 shares.
struct LocalRun {
  std::vector<Sr25519DkgState> states;
  crypto::ByteArray<32> ctx{};
  LocalRun() {
    ctx.fill(7);
    for (std::uint16_t i = 1; i <= 3; ++i) states.push_back(sample(pid(i), 2, 3, ctx, static_cast<std::uint8_t>(i)));
  }
  std::vector<Sr25519DkgRound1Message> round1_for(std::size_t me) const {
    std::vector<Sr25519DkgRound1Message> out;
    for (std::size_t j = 0; j < states.size(); ++j)
      if (j != me) out.push_back(states[j].message);
    return out;
  }
};

TEST(Sr25519DkgLocal, RoundOneAndFinalisationRefusals) {
  // Honest run without a network.
  {
    LocalRun run;
    std::vector<std::vector<Sr25519DkgRound2Message>> inbox(3);
    for (std::size_t i = 0; i < 3; ++i) {
      ASSERT_TRUE(sr25519_dkg_verify_round1(run.states[i], run.round1_for(i)));
      for (const auto& m : run.states[i].outgoing) inbox[m.recipient.value() - 1u].push_back(m);
    }
    std::vector<Sr25519KeyShare> shares;
    for (std::size_t i = 0; i < 3; ++i) {
      auto s = sr25519_dkg_finalize(run.states[i], inbox[i]);
      ASSERT_TRUE(s) << s.error().display();
      shares.push_back(*s);
    }
    EXPECT_EQ(RistrettoPoint::base_mul(rebuild({shares[0], shares[2]})), shares[1].group_key);
  }

  struct Case {
    const char* name;
    void (*spoil)(std::vector<Sr25519DkgRound1Message>&);
    std::string text;
  };
  const std::vector<Case> round1_cases = {
      {"missing message", [](auto& m) { m.pop_back(); }, "Received incorrect number of messages"},
      {"bad proof", [](auto& m) { m[1].proof_response += EdScalar::one(); }, "Received malicious data from 3"},
      {"t commitments (A0 repeated in front)",
       [](auto& m) { m[0].commitments.insert(m[0].commitments.begin(), m[0].constant_commitment); },
       "Received incorrect number of messages"},
  };
  for (const Case& c : round1_cases) {
    LocalRun run;
    auto msgs = run.round1_for(0);
    c.spoil(msgs);
    const auto r = sr25519_dkg_verify_round1(run.states[0], msgs);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().display(), c.text) << c.name;
  }

  // A round-1 message replayed under another tag fails its proof.
  {
    LocalRun run;
    crypto::ByteArray<32> other{};
    other.fill(8);
    auto msgs = run.round1_for(0);
    msgs[0] = sample(pid(2), 2, 3, other, 2).message;
    const auto r = sr25519_dkg_verify_round1(run.states[0], msgs);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "Received malicious data from 2");
  }

  struct Case2 {
    const char* name;
    void (*spoil)(std::vector<Sr25519DkgRound2Message>&);
    std::string text;
  };
  const std::vector<Case2> round2_cases = {
      {"missing share", [](auto& m) { m.pop_back(); }, "Received incorrect number of messages"},
      {"corrupted share from 3", [](auto& m) { m[1].share += EdScalar::one(); }, "Received malicious data from 3"},
      {"share addressed to another party", [](auto& m) { m[0].recipient = pid(3); },
       "Received malicious data from 2"},
      {"senders out of step", [](auto& m) { m[1].sender = pid(2); }, "Received incorrect number of messages"},
  };
  for (const Case2& c : round2_cases) {
    LocalRun run;
    std::vector<Sr25519DkgRound2Message> to_one;
    for (std::size_t i = 0; i < 3; ++i) {
      ASSERT_TRUE(sr25519_dkg_verify_round1(run.states[i], run.round1_for(i)));
      for (const auto& m : run.states[i].outgoing)
        if (m.recipient == pid(1)) to_one.push_back(m);
    }
    c.spoil(to_one);
    const auto r = sr25519_dkg_finalize(run.states[0], to_one);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().display(), c.text) << c.name;
  }
}

TEST(Sr25519DkgWire, MessageLayoutsAndDecodingRefusals) {
  crypto::ByteArray<32> ctx{};
  const auto t1 = sample(pid(2), 1, 1, ctx, 1);
  const auto enc1 = sised::encode(t1.message);
  ASSERT_TRUE(enc1);
  ASSERT_EQ(enc1->size(), 99u);
  EXPECT_EQ((*enc1)[96], 0);  // no commitments
  const auto t3 = sample(pid(2), 3, 3, ctx, 1);
  const auto enc3 = sised::encode(t3.message);
  ASSERT_TRUE(enc3);
  EXPECT_EQ(enc3->size(), 99u + 64u);
  const auto r2 = sised::encode(Sr25519DkgRound2Message{pid(1), pid(2), EdScalar::from_u64(9)});
  ASSERT_TRUE(r2);
  EXPECT_EQ(r2->size(), 36u);

  struct Case {
    const char* name;
    Bytes payload;
    std::string text;
  };
  Bytes bad_point = *enc3;
  std::fill(bad_point.begin(), bad_point.begin() + 32, 0xFF);  // R above the field prime
  Bytes high_scalar = *enc3;
  std::fill(high_scalar.begin() + 32, high_scalar.begin() + 64, 0xFF);
  Bytes zero_sender = *enc1;
  zero_sender[97] = zero_sender[98] = 0;
  Bytes huge_count(enc1->begin(), enc1->begin() + 96);
  for (const std::uint8_t b : {0xFD, 0x67, 0x66}) huge_count.push_back(b);  // 26,215 commitments
  Bytes long_varint = *enc1;
  long_varint[96] = 0xFC;  // 0 in the two-byte form
  long_varint.insert(long_varint.begin() + 97, 0x00);
  const std::vector<Case> cases = {
      {"short", Bytes(enc1->begin(), enc1->begin() + 98), "Out of bounds"},
      {"R not a point", bad_point, "Invalid RistrettoPoint"},
      {"scalar = l or more", high_scalar, "Invalid Scalar"},
      {"zero sender", zero_sender, "Zero value in a NonZero type"},
      {"over the heap budget", huge_count, "Heap size limit exceeded"},
      {"long varint", long_varint, "Invalid varint encoding"},
  };
  for (const Case& c : cases) {
    const auto d = sised::decode<Sr25519DkgRound1Message>(c.payload);
    ASSERT_FALSE(d) << c.name;
    EXPECT_EQ(d.error().display(), c.text) << c.name;
  }
  // Trailing bytes are ignored by the collections' reader.
  Bytes longer = *enc1;
  longer.push_back(1);
  EXPECT_TRUE(sised::decode<Sr25519DkgRound1Message>(longer));
}

}  // namespace
}  // namespace velto::frost::sr_testing
