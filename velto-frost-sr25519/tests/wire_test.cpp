// The collections of signing, extraction and key generation fed by hand:
// messages of the wrong length, with a bad point, a scalar of l or more, or
// a sender field naming another party than the one that sent it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "velto-frost-sr25519/dkg.hpp"
#include "velto-frost-sr25519/extract.hpp"
#include "velto-frost-sr25519/sign.hpp"
#include "velto-frost-sr25519/tests/sr25519_test_util.hpp"

namespace velto::frost::sr_testing {
namespace {

using crypto::Bytes;
using crypto::EdScalar;
using crypto::RistrettoPoint;
using velto::testing::DetachedExecutor;
using velto::testing::run_here;

const Bytes kL = unhex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");

Bytes encoded(const auto& value) {
  auto b = sised::encode(value);
  if (!b) ADD_FAILURE() << "encode failed";
  return b.value_or(Bytes{});
}

Bytes with(Bytes b, std::size_t at, const Bytes& part) {
  std::copy(part.begin(), part.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  return b;
}

Bytes resized(Bytes b, std::size_t n) {
  b.resize(n, 0xAB);
  return b;
}

struct Feed {
  std::uint16_t from;
  Bytes payload;
};

struct Case {
  const char* name;
  std::vector<Feed> feeds;
  std::string text;
};

TEST(Sr25519SignCollect, RefusedMessages) {
  const RistrettoPoint p = RistrettoPoint::base_mul(EdScalar::from_u64(3));
  const Bytes r1_from1 = encoded(Sr25519SigningCommitment{p, p, pid(1)});
  const Bytes r1_from3 = encoded(Sr25519SigningCommitment{p, p, pid(3)});
  const Bytes r2 = encoded(Sr25519SignatureShare{EdScalar::from_u64(1), p});
  ASSERT_EQ(r1_from1.size(), 66u);
  ASSERT_EQ(r2.size(), 64u);
  Bytes bad_point(32, 0xFF);
  const std::vector<Case> cases = {
      {"round 1 of 65 bytes", {{1, resized(r1_from1, 65)}}, "Communication Error: `Out of bounds`"},
      {"hiding commitment not a point", {{1, with(r1_from1, 0, bad_point)}}, "Communication Error: `Invalid RistrettoPoint`"},
      {"binding commitment not a point", {{1, with(r1_from1, 32, bad_point)}}, "Communication Error: `Invalid RistrettoPoint`"},
      {"zero id", {{1, with(r1_from1, 64, {0, 0})}}, "Communication Error: `Zero value in a NonZero type`"},
      {"id of another party", {{1, r1_from3}}, "Received malicious data from 1"},
      {"round 2 of 63 bytes", {{1, r1_from1}, {3, r1_from3}, {1, resized(r2, 63)}}, "Communication Error: `Out of bounds`"},
      {"z = l", {{1, r1_from1}, {3, r1_from3}, {1, with(r2, 0, kL)}}, "Communication Error: `Invalid Scalar`"},
      {"R not a point", {{1, r1_from1}, {3, r1_from3}, {1, with(r2, 32, bad_point)}},
       "Communication Error: `Invalid RistrettoPoint`"},
      // Longer messages are read as if the extra bytes were absent; the
      // peers' R differs from ours, which every party reports alike.
      {"another R", {{1, resized(r1_from1, 70)}, {3, r1_from3}, {1, resized(r2, 66)}, {3, r2}},
       "Created an invalid signature"},
  };
  const Sr25519KeyShare share{p, EdScalar::from_u64(5), pid(2), 3, 2};
  const Bytes message = {'m'};
  for (const Case& c : cases) {
    auto d = DetachedExecutor::open(pid(2), ids_1_to(3));
    for (const Feed& f : c.feeds) d.feed(f.from, f.payload);
    const auto result = run_here(sr25519_threshold_sign(std::move(*d.executor), share, message));
    ASSERT_FALSE(result) << c.name;
    EXPECT_EQ(result.error().display(), c.text) << c.name;
  }
}

TEST(Sr25519ExtractCollect, RefusedMessages) {
  const Bytes m = encoded(Sr25519ExportMessage{pid(1), pid(2), EdScalar::from_u64(4)});
  ASSERT_EQ(m.size(), 36u);
  const std::vector<Case> cases = {
      {"35 bytes", {{1, resized(m, 35)}}, "Communication Error: `Out of bounds`"},
      {"zero from", {{1, with(m, 0, {0, 0})}}, "Communication Error: `Zero value in a NonZero type`"},
      {"share = l", {{1, with(m, 4, kL)}}, "Communication Error: `Invalid Scalar`"},
      {"from another party", {{1, with(m, 0, {3, 0})}}, "Received malicious data from 1"},
      // 40 bytes read as 36; the sum is not the key.
      {"wrong share", {{1, resized(m, 40)}}, "The private key is invalid"},
  };
  const Sr25519KeyShare share{RistrettoPoint::base_mul(EdScalar::from_u64(11)), EdScalar::from_u64(5), pid(2), 2, 2};
  for (const Case& c : cases) {
    auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2)});
    for (const Feed& f : c.feeds) d.feed(f.from, f.payload);
    const auto result = run_here(sr25519_extract(std::move(*d.executor), share, pid(2)));
    ASSERT_FALSE(result) << c.name;
    EXPECT_EQ(result.error().display(), c.text) << c.name;
  }
}

TEST(Sr25519DkgCollect, RefusedMessages) {
  crypto::ByteArray<32> ctx{};
  crypto::SecretArray<32> nonce;
  const Sr25519DkgState other = sr25519_dkg_state_from_draws(ctx, 1, 2, pid(3), EdScalar::from_u64(8), {}, nonce);
  const Bytes r1_naming_3 = encoded(other.message);
  const Bytes r2 = encoded(Sr25519DkgRound2Message{pid(1), pid(2), EdScalar::from_u64(1)});
  const std::vector<Case> cases = {
      {"round 1 naming another sender", {{1, r1_naming_3}}, "Received malicious data from 1"},
      {"round 1 cut short", {{1, resized(r1_naming_3, 50)}}, "Communication Error: `Out of bounds`"},
  };
  for (const Case& c : cases) {
    auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2)});
    for (const Feed& f : c.feeds) d.feed(f.from, f.payload);
    const auto result = run_here(sr25519_dkg(std::move(*d.executor), 1, EdScalar::from_u64(2)));
    ASSERT_FALSE(result) << c.name;
    EXPECT_EQ(result.error().display(), c.text) << c.name;
  }
  // Round 2 on its own: a sender field naming another party, a share of l.
  for (const auto& [payload, text] : std::vector<std::pair<Bytes, std::string>>{
           {with(r2, 0, {3, 0}), "Received malicious data from 1"},
           {with(r2, 4, kL), "Communication Error: `Invalid Scalar`"},
           {resized(r2, 35), "Communication Error: `Out of bounds`"}}) {
    auto d = DetachedExecutor::open(pid(2), {pid(1), pid(2)});
    d.feed(1, payload);
    const std::vector<PartyId> awaited = {pid(1)};
    const auto result = run_here(sr25519_collect_round2(*d.executor, awaited));
    ASSERT_FALSE(result) << text;
    EXPECT_EQ(result.error().display(), text);
  }
}

}  // namespace
}  // namespace velto::frost::sr_testing
