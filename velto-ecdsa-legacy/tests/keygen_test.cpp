// Key generation of protocol version 1.1.0: honest runs of several sizes, the
// proof's bytes against an independent model, and the refusals of dishonest
// peers (a tap rewrites what one party sends, or one party runs a deviating
// proof step).
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <expected>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "sised/codec.hpp"
#include "velto-ecdsa-legacy/keygen.hpp"
#include "velto-ecdsa-legacy/keygen/zkpok_comm.hpp"
#include "velto-ecdsa-legacy/tests/legacy_session.hpp"
#include "velto-ecdsa/zkpok_comm.hpp"
#include "velto-mpc-infra/commit.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"

namespace velto::ecdsa::legacy::testing {
namespace {

using KeyResult = std::expected<KeyPair, EcdsaKeygenLibError>;
using CoreResult = std::expected<KeygenOutput, EcdsaKeygenLibError>;

// What the keygen handler runs: a joint tag, "ECDSA Keygen", the key generation.
asio::awaitable<KeyResult> fresh_v4(ProtocolExecutor root, std::uint16_t t) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{std::move(joint.error())});
  co_return co_await ecdsa_keygen_v4(joint->child(kKeygenLabel), t);
}

// The core on "ECDSA Keygen" of the fixed root tag, with the given constant term.
asio::awaitable<CoreResult> core_v4(ProtocolExecutor root, Scalar c, std::uint16_t t) {
  co_return co_await ecdsa_keygen_future_v4(std::move(c), root.child(kKeygenLabel), t);
}

UcTag keygen_tag() { return derive_child_uc_tag(root_uc_tag(), kKeygenLabel); }
UcTag commit_tag() { return derive_child_uc_tag(derive_child_uc_tag(keygen_tag(), kDlogProofLabel), kDlogCommitLabel); }

void expect_text(const std::string& text, const auto& result) {
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().display(), text);
}

// ---------------------------------------------------------------------------

struct SizeCase {
  std::uint16_t n;
  std::uint16_t t;
};

class FreshKeygenV4 : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FreshKeygenV4, OneKeyAndChainCodeAndAnyThresholdOfSharesRebuildsIt) {
  const auto [n, t] = GetParam();
  async::Runtime rt(2);
  auto results = run_plain<KeyResult>(rt, ids_1_to(n), [t](PartyId, ProtocolExecutor root) { return fresh_v4(std::move(root), t); });
  const std::vector<KeyPair> keys = all_keys(results);
  ASSERT_EQ(keys.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(keys[i].party_id, pid(static_cast<std::uint16_t>(i + 1)));
    EXPECT_EQ(keys[i].threshold, t);
    EXPECT_EQ(keys[i].num_parties, n);
    EXPECT_TRUE(keys[i].public_key == keys[0].public_key);
    EXPECT_EQ(keys[i].chain_code, keys[0].chain_code);
  }
  check_shares_rebuild_key(keys, t);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FreshKeygenV4,
                         ::testing::Values(SizeCase{1, 1}, SizeCase{2, 2}, SizeCase{3, 2}, SizeCase{4, 1},
                                           SizeCase{5, 3}));

// The chain code is the child-tag value of the key-generation executor's tag.
TEST(KeygenV4, ChainCodeComesFromTheKeygenTag) {
  async::Runtime rt(2);
  auto results = run_plain<KeyResult>(rt, ids_1_to(2), [](PartyId, ProtocolExecutor root) -> asio::awaitable<KeyResult> {
    co_return co_await ecdsa_keygen_v4(root.child(kKeygenLabel), 2);
  });
  const auto keys = all_keys(results);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].chain_code, derive_child_uc_tag(keygen_tag(), kChainCodeLabel).bytes());
}

// ---------------------------------------------------------------------------
// The proof's bytes, against the model in testdata/gen_proof_v4.py.

std::vector<PartyId> parse_ids(const std::string& list) {
  std::vector<PartyId> ids;
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) ids.push_back(pid(static_cast<std::uint16_t>(std::stoul(item))));
  return ids;
}

Scalar scalar_hex(const std::string& hex) {
  const auto bytes = crypto::hex_decode(hex);
  EXPECT_TRUE(bytes && bytes->size() == 32);
  auto s = scalar_from_be_bytes(*bytes);
  EXPECT_TRUE(s.has_value());
  return s.value_or(Scalar::one());
}

TEST(ProofV4, OpeningAndDigestMatchTheModel) {
  std::ifstream in(VELTO_TESTDATA_DIR "/proof_v4.txt");
  ASSERT_TRUE(in);
  int rows = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ++rows;
    SCOPED_TRACE(line.substr(0, 80));
    std::istringstream row(line);
    std::string tag_hex, ids_text, x_hex, k_hex, X_hex, R_hex, z_hex, c_hex, opening_hex, digest_hex;
    unsigned prover = 0;
    row >> tag_hex >> ids_text >> prover >> x_hex >> k_hex >> X_hex >> R_hex >> z_hex >> c_hex >> opening_hex >>
        digest_hex;
    crypto::ByteArray<32> tag_bytes{};
    ASSERT_TRUE(crypto::hex_decode_into(tag_hex, tag_bytes));
    const UcTag proof_tag = derive_child_uc_tag(UcTag(tag_bytes), kDlogProofLabel);
    const UcTag commit = derive_child_uc_tag(proof_tag, kDlogCommitLabel);
    const PartyId id = pid(static_cast<std::uint16_t>(prover));
    const std::vector<PartyId> ids = parse_ids(ids_text);

    const DlogProof proof = dlog_prove(scalar_hex(x_hex), scalar_hex(k_hex), proof_tag, id,
                                       DlogOpeningV4::kChallengeOrder);
    const DlogOpeningV4 opening = DlogOpeningV4::from_proof(proof);
    EXPECT_EQ(crypto::hex_encode(dlog_challenge(proof_tag, id, proof.public_share, proof.commitment).to_bytes()),
              c_hex);
    const auto encoded = sised::encode(opening);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(crypto::hex_encode(*encoded), opening_hex);
    EXPECT_EQ(crypto::hex_encode(commit_hash(commit, id, ids, opening)), digest_hex);
    EXPECT_TRUE(dlog_proof_verify(proof, proof_tag, id, ChallengeOrder::PublicShareFirst));
    // The current protocol's order does not accept this version's proof.
    EXPECT_FALSE(dlog_proof_verify(proof, proof_tag, id, ChallengeOrder::CommitmentFirst));
  }
  EXPECT_GE(rows, 6);
}

// ---------------------------------------------------------------------------
// Refusals. Party 1 deviates; texts are checked at the honest parties.

constexpr const char* kInvalidProof = "Invalid Committed ZkPoK: `Received an invalid proof`";
constexpr const char* kInvalidCommitment =
    "Invalid Committed ZkPoK: `Invalid commitment: `Received an invalid commitment``";
constexpr const char* kLagrange = "One of the lagrange sums is not equal to the rest";
constexpr const char* kThreshold = "The threshold Is bigger than the number of parties";

// A proof made with the current protocol's challenge order (R before X) but
// sent in this version's layout.
asio::awaitable<std::expected<PartyMap<Point>, EcdsaKeygenLibError>> other_order_proof(
    const ProtocolExecutor& keygen, const Scalar& share) {
  ProtocolExecutor proof_executor = keygen.child(kDlogProofLabel);
  const Scalar nonce = Scalar::random(proof_executor.rng());
  const DlogOpeningV4 own = DlogOpeningV4::from_proof(
      dlog_prove(share, nonce, proof_executor.tag(), proof_executor.my_party_id(), ChallengeOrder::CommitmentFirst));
  ProtocolExecutor commit_executor = proof_executor.child(kDlogCommitLabel);
  co_return co_await exchange_dlog_openings<DlogOpeningV4>(commit_executor, proof_executor.tag(), own);
}

// The core with party 1's proof step replaced.
asio::awaitable<CoreResult> core_with_step(PartyId me, ProtocolExecutor root, std::uint16_t t, DlogProofStep step) {
  ProtocolExecutor keygen = root.child(kKeygenLabel);
  Scalar c = Scalar::random(keygen.rng());
  if (me == pid(1)) co_return co_await keygen_core(std::move(keygen), std::move(c), t, step);
  co_return co_await ecdsa_keygen_future_v4(std::move(c), std::move(keygen), t);
}

TEST(KeygenV4Deviation, ProofWithTheOtherChallengeOrderIsRefused) {
  async::Runtime rt(2);
  auto results = run_plain<CoreResult>(rt, ids_1_to(3), [](PartyId me, ProtocolExecutor root) {
    return core_with_step(me, std::move(root), 2, &other_order_proof);
  });
  expect_text(kInvalidProof, results[1]);
  expect_text(kInvalidProof, results[2]);
}

// A peer running the current protocol's proof step (R ‖ X ‖ z, R first in the
// challenge) is refused the same way: its opening reads as a proof in the
// wrong order.
TEST(KeygenV4Deviation, CurrentProtocolPeerIsRefused) {
  async::Runtime rt(2);
  auto results = run_plain<CoreResult>(rt, ids_1_to(2), [](PartyId me, ProtocolExecutor root) {
    return core_with_step(me, std::move(root), 2, current_dlog_proof_step());
  });
  expect_text(kInvalidProof, results[1]);
}

struct TapCase {
  const char* name;
  std::uint16_t n;
  std::uint16_t t;
  Rewrite rewrite;
  const char* text;
};

// Adds one to the 32-byte scalar at the start of the payload.
void bump_first_scalar(crypto::Bytes& p) { p[31] ^= 1; }

TEST(KeygenV4Deviation, TapTable) {
  const UcTag evaluations = keygen_tag();
  const UcTag commit = commit_tag();
  const std::vector<TapCase> cases = {
      // The evaluation for party 2 does not lie on party 1's polynomial.
      {"inconsistent share", 3, 2,
       [evaluations](crypto::Bytes& p, PartyId to) {
         if (to == pid(2) && sent_under(p, evaluations)) bump_first_scalar(p);
       },
       kLagrange},
      // The opening (98 bytes) differs from the committed digest in z.
      {"bad opening", 3, 2,
       [commit](crypto::Bytes& p, PartyId) {
         if (p.size() == 98 + 32 && sent_under(p, commit)) p[97] ^= 1;
       },
       kInvalidCommitment},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    async::Runtime rt(2);
    const std::uint16_t t = c.t;
    auto results = run_tapped<CoreResult>(
        rt, ids_1_to(c.n),
        [t](PartyId me, ProtocolExecutor root) {
          return core_v4(std::move(root), Scalar::from_u64(me.value() + 10), t);
        },
        pid(1), c.rewrite);
    for (std::size_t i = 1; i < results.size(); ++i) {
      if (results[i]) {
        ADD_FAILURE() << "party " << i + 1 << " accepted";
        continue;
      }
      EXPECT_EQ(results[i].error().display(), c.text) << "party " << i + 1;
    }
  }
}

TEST(KeygenV4Deviation, ThresholdRefusedBeforeAnyMessage) {
  for (const std::uint16_t t : {std::uint16_t{0}, std::uint16_t{4}}) {
    SCOPED_TRACE(t);
    async::Runtime rt(2);
    std::shared_ptr<InMemoryNetwork> network;
    auto results = run_plain<CoreResult>(
        rt, ids_1_to(3), [t](PartyId, ProtocolExecutor root) { return core_v4(std::move(root), Scalar::one(), t); },
        &network);
    for (const auto& r : results) {
      expect_text(kThreshold, r);
      ASSERT_TRUE(std::holds_alternative<EcdsaKeygenLibError::InvalidThreshold>(r.error().value()));
    }
    for (const PartyId id : ids_1_to(3)) EXPECT_EQ(network->frames_delivered(id), 0u);
  }
}

// A rushing peer at t = 1 sees every constant term before it sends its own
// and can cancel them: the group key would be the identity.
TEST(KeygenV4Deviation, IdentityGroupKeyIsRefused) {
  async::Runtime rt(2);
  auto results = run_plain<CoreResult>(rt, ids_1_to(3), [](PartyId me, ProtocolExecutor root) {
    // 5 + 7 + (n − 12) = 0
    Scalar c = me == pid(3) ? Scalar::zero() - Scalar::from_u64(12) : Scalar::from_u64(me == pid(1) ? 5 : 7);
    return core_v4(std::move(root), std::move(c), 1);
  });
  for (const auto& r : results) expect_text(kLagrange, r);
}

}  // namespace
}  // namespace velto::ecdsa::legacy::testing
