// Distributed key generation: honest runs of several sizes, the known answers
// of chosen constant terms, and the refusals (bad threshold, cheating
// dealers, a group key at the identity).
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/lagrange.hpp"
#include "velto-ecdsa/tests/keygen_test_util.hpp"
#include "velto-ecdsa/zkpok_comm.hpp"
#include "velto-mpc-infra/commit.hpp"

namespace velto::ecdsa::testing {
namespace {

namespace asio = boost::asio;

using CoreResult = std::expected<KeygenOutput, EcdsaKeygenLibError>;

Point mul_g(std::uint64_t k) { return Point::base_mul(Scalar::from_u64(k)); }

UcTag counting_tag() {
  crypto::ByteArray<32> b;
  for (std::size_t i = 0; i < 32; ++i) b[i] = static_cast<std::uint8_t>(i);
  return UcTag(b);
}

// The keygen core under "ECDSA Keygen" with a chosen constant term.
asio::awaitable<CoreResult> core_party(ProtocolExecutor root, Scalar a0, std::uint16_t threshold) {
  co_return co_await ecdsa_keygen_future(root.child(kKeygenLabel), std::move(a0), threshold);
}

// The core at every party of `ids`, party p with the constant term a0_of(p).
template <class A0>
std::vector<CoreResult> run_core(async::Runtime& rt, const std::vector<PartyId>& ids, std::uint16_t threshold,
                                 A0 a0_of, std::shared_ptr<InMemoryNetwork>* network = nullptr) {
  auto outcomes = run_session<CoreResult>(
      rt, ids,
      [threshold, a0_of](PartyId me, ProtocolExecutor root) { return core_party(std::move(root), a0_of(me), threshold); },
      {}, {}, network);
  std::vector<CoreResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

// ---------------------------------------------------------------------------
// Fresh key generation, honest parties

struct SizeCase {
  std::uint16_t threshold;
  std::vector<PartyId> ids;
};

class FreshKeygen : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FreshKeygen, AllPartiesAgreeAndAnyThresholdOfSharesRebuildsTheKey) {
  const auto& [t, ids] = GetParam();
  async::Runtime rt(2);
  const std::vector<KeyPair> keys = keys_of(run_fresh_keygen(rt, ids, t));
  ASSERT_EQ(keys.size(), ids.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].party_id, ids[i]);
    EXPECT_EQ(keys[i].threshold, t);
    EXPECT_EQ(keys[i].num_parties, ids.size());
    EXPECT_TRUE(keys[i].public_key == keys[0].public_key);
    EXPECT_EQ(keys[i].chain_code, keys[0].chain_code);
    EXPECT_FALSE(keys[i].public_key.is_identity());
  }
  check_shares_rebuild_key(keys, t);
  // Fewer than t shares interpolate to something else.
  if (t > 1) {
    const std::vector<KeyPair> few(keys.begin(), keys.begin() + (t - 1));
    EXPECT_FALSE(Point::base_mul(interpolate(few)) == keys[0].public_key);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FreshKeygen,
                         ::testing::Values(SizeCase{1, ids_1_to(1)}, SizeCase{2, ids_1_to(2)},
                                           SizeCase{2, ids_1_to(3)}, SizeCase{3, ids_1_to(5)},
                                           SizeCase{1, ids_1_to(3)},
                                           // ids need not be 1..n
                                           SizeCase{2, {pid(2), pid(7), pid(300)}}),
                         [](const ::testing::TestParamInfo<SizeCase>& c) {
                           return "t" + std::to_string(c.param.threshold) + "_of_" +
                                  std::to_string(c.param.ids.size()) + "_" + std::to_string(c.index);
                         });

TEST(FreshKeygen, EveryRunDerivesANewKeyAndChainCode) {
  async::Runtime rt(2);
  const auto first = keys_of(run_fresh_keygen(rt, ids_1_to(3), 2));
  const auto second = keys_of(run_fresh_keygen(rt, ids_1_to(3), 2));
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 3u);
  EXPECT_NE(first[0].chain_code, second[0].chain_code);
  EXPECT_FALSE(first[0].public_key == second[0].public_key);
}

TEST(ChainCode, IsTheChildTagUnderItsLabel) {
  // BLAKE3 derive-key "UC_TAG VELTO v0.1" over tag ‖ 0x0f ‖ "BIP32 Chaincode",
  // computed once with other tools.
  EXPECT_EQ(crypto::hex_encode(bip32_chaincode_tag(counting_tag())),
            "16e8e58173b75e2b23497a49467387e2ab0d66a6409e0b3090a5775f528353c4");
  EXPECT_EQ(crypto::hex_encode(bip32_chaincode_tag(root_uc_tag())),
            "3d6bd70c598eb422eaf82b7d47fa75024ba9d9df5f6bc8f10f36556d07d20890");
}

TEST(DlogOpening, CommitsToR_X_ZInWireOrder) {
  // BLAKE3 derive-key "VELTO ECDSA COMMIT V0" over tag 00..1f, committer 2,
  // parties 1 2 3, R = G, X = 2G, z = 5 (33 + 33 + 32 bytes), computed once
  // with other tools.
  const DlogOpening opening{mul_g(1), mul_g(2), Scalar::from_u64(5)};
  EXPECT_EQ(sised::size_of(opening), 98u);
  EXPECT_EQ(crypto::hex_encode(commit_hash(counting_tag(), pid(2), ids_1_to(3), opening)),
            "363e146c300786c57ecf5d0c9aa6ca65eb561dafe8618b49b96e0cbf1366e468");
}

// ---------------------------------------------------------------------------
// The core with chosen constant terms: the group key is (Σ a0)·G.

TEST(KeygenCore, GroupKeyIsTheSumOfTheConstantTerms) {
  struct Case {
    std::uint16_t threshold;
    std::uint16_t n;
  };
  async::Runtime rt(2);
  for (const Case c : {Case{1, 1}, Case{1, 3}, Case{2, 3}, Case{3, 3}, Case{3, 5}}) {
    const auto ids = ids_1_to(c.n);
    // a0 of party p is 10·p, so Σ a0 = 5·n·(n + 1).
    const std::uint64_t sum = 5u * c.n * (c.n + 1u);
    const auto results = run_core(rt, ids, c.threshold, [](PartyId p) { return Scalar::from_u64(10u * p.value()); });
    std::vector<KeyPair> keys;
    for (std::size_t i = 0; i < results.size(); ++i) {
      ASSERT_TRUE(results[i].has_value()) << results[i].error().display();
      EXPECT_TRUE(results[i]->public_key == mul_g(sum)) << c.threshold << " of " << c.n;
      keys.push_back(KeyPair{results[i]->secret_share, {}, results[i]->public_key, ids[i], c.threshold, c.n});
    }
    EXPECT_TRUE(check_shares_rebuild_key(keys, c.threshold) == Scalar::from_u64(sum));
    if (c.threshold == 1) {
      // A constant polynomial: every share is the whole secret.
      for (const auto& k : keys) EXPECT_TRUE(k.secret_share == Scalar::from_u64(sum));
    }
  }
}

// Party 1 receives party 2's public share moved off the polynomial (as a
// tampered commitment would leave it once its proof passed): party 1 refuses
// the run, the others, whose view is consistent, do not.
asio::awaitable<std::expected<PartyMap<Point>, EcdsaKeygenLibError>> tampering_proof_step(
    const ProtocolExecutor& executor, const Scalar& share) {
  auto others = co_await current_dlog_proof_step()(executor, share);
  if (others && executor.my_party_id() == PartyId::unchecked(1)) {
    const Point moved = others->at(PartyId::unchecked(2)) + Point::generator();
    others->insert(PartyId::unchecked(2), moved);
  }
  co_return others;
}

asio::awaitable<CoreResult> tampered_core_party(ProtocolExecutor root, Scalar a0, std::uint16_t threshold) {
  co_return co_await ecdsa_keygen_future(root.child(kKeygenLabel), std::move(a0), threshold, &tampering_proof_step);
}

TEST(KeygenCore, RefusesATamperedPublicShare) {
  struct Case {
    std::uint16_t threshold;
    std::uint16_t n;
  };
  async::Runtime rt(2);
  for (const Case c : {Case{1, 3}, Case{2, 3}, Case{3, 5}, Case{4, 9}, Case{8, 20}}) {
    SCOPED_TRACE(std::to_string(c.threshold) + " of " + std::to_string(c.n));
    const auto ids = ids_1_to(c.n);
    auto outcomes = run_session<CoreResult>(
        rt, ids,
        [t = c.threshold](PartyId me, ProtocolExecutor root) {
          return tampered_core_party(std::move(root), Scalar::from_u64(me.value() + 1u), t);
        },
        {}, {}, nullptr);
    ASSERT_EQ(outcomes.size(), ids.size());
    ASSERT_FALSE(outcomes[0].result.has_value());
    EXPECT_EQ(outcomes[0].result.error().display(), "One of the lagrange sums is not equal to the rest");
    for (std::size_t i = 1; i < outcomes.size(); ++i) {
      EXPECT_TRUE(outcomes[i].result.has_value()) << outcomes[i].result.error().display();
    }
  }
}

TEST(KeygenCore, RefusesAGroupKeyAtTheIdentity) {
  // The constant terms cancel: a0 = 1 at party 1 and −1 at party 2.
  async::Runtime rt(2);
  const auto results = run_core(rt, ids_1_to(2), 2, [](PartyId p) {
    return p.value() == 1 ? Scalar::one() : -Scalar::one();
  });
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().is<EcdsaKeygenLibError::InvalidLagrangeSum>()) << r.error().debug();
  }
}

TEST(KeygenCore, RefusesAThresholdOfZeroOrAboveThePartyCountBeforeSending) {
  async::Runtime rt(2);
  const auto ids = ids_1_to(3);
  for (const std::uint16_t t : {std::uint16_t{0}, std::uint16_t{4}}) {
    std::shared_ptr<InMemoryNetwork> network;
    const auto results = run_core(rt, ids, t, [](PartyId) { return Scalar::one(); }, &network);
    for (const auto& r : results) {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().display(), "The threshold Is bigger than the number of parties");
      EXPECT_EQ(r.error().debug(), "InvalidThreshold { threshold: NumberOfParties(" + std::to_string(t) +
                                       "), num_parties: NumberOfParties(3) }");
    }
    for (const PartyId id : ids) EXPECT_EQ(network->frames_delivered(id), 0u) << "t = " << t;
  }
}

TEST(FreshKeygen, HandlerRefusesABadThresholdBeforeTheTagGeneration) {
  async::Runtime rt(2);
  for (const std::uint16_t t : {std::uint16_t{0}, std::uint16_t{3}}) {
    const auto results = run_fresh_keygen(rt, ids_1_to(2), t);
    for (const auto& r : results) {
      ASSERT_FALSE(r.has_value());
      const auto* e = dynamic_cast<const EcdsaKeygenLibError*>(r.error().get());
      ASSERT_NE(e, nullptr) << r.error()->debug();
      EXPECT_TRUE(e->is<EcdsaKeygenLibError::InvalidThreshold>());
    }
  }
}

// ---------------------------------------------------------------------------
// A cheating dealer

enum class Fault {
  None,           // the fixture itself is honest
  BadShare,       // f(3) + 1 sent to party 3
  BadProof,       // z + 1, committed as sent
  ProofForOther,  // a valid proof made under another party's id
  ProofOtherTag,  // a valid proof made under the "ECDSA Keygen" tag
  BadOpening,     // opens something other than what it committed to
};

constexpr PartyId kCheater = PartyId::unchecked(1);
constexpr PartyId kVictim = PartyId::unchecked(3);

// Party kCheater's side of the core, honest except for `fault`.
asio::awaitable<CoreResult> cheating_party(ProtocolExecutor root, std::uint16_t threshold, Fault fault) {
  ProtocolExecutor keygen = root.child(kKeygenLabel);
  const PartyId me = keygen.my_party_id();
  const std::vector<Scalar> polynomial = keygen_polynomial(Scalar::from_u64(7), threshold, keygen.rng());
  for (const PartyId j : keygen.parties()) {
    if (j == me) continue;
    Scalar share = polynomial_eval_at(polynomial, j);
    if (fault == Fault::BadShare && j == kVictim) share += Scalar::one();
    if (!keygen.send_to(j, share)) ADD_FAILURE() << "send failed";
  }
  auto folded = co_await keygen_share_fold(keygen, polynomial_eval_at(polynomial, me));
  if (!folded) co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{folded.error()});

  ProtocolExecutor proof_executor = keygen.child(kDlogProofLabel);
  const Scalar nonce = Scalar::random(proof_executor.rng());
  const PartyId prover = fault == Fault::ProofForOther ? PartyId::unchecked(2) : me;
  const UcTag proof_tag = fault == Fault::ProofOtherTag ? keygen.tag() : proof_executor.tag();
  DlogOpening opening = DlogOpening::from_proof(dlog_prove(*folded, nonce, proof_tag, prover));
  if (fault == Fault::BadProof) opening.response += Scalar::one();
  ProtocolExecutor commit_executor = proof_executor.child(kDlogCommitLabel);
  if (fault != Fault::BadOpening) {
    auto others = co_await exchange_dlog_openings(commit_executor, proof_executor.tag(), opening);
    if (!others) co_return std::unexpected(std::move(others.error()));
    co_return KeygenOutput(*folded, Point());
  }
  auto digests = co_await commit_round(commit_executor, opening);
  if (!digests) co_return std::unexpected(EcdsaKeygenLibError::CommunicationError{digests.error()});
  DlogOpening altered = opening;
  altered.response += Scalar::one();
  (void)co_await decommit_round(commit_executor, altered, *digests);
  co_return KeygenOutput(*folded, Point());
}

TEST(KeygenCore, HonestPartiesCatchACheatingDealer) {
  struct Case {
    Fault fault;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {Fault::None, "", ""},
      {Fault::BadShare, "One of the lagrange sums is not equal to the rest", "InvalidLagrangeSum"},
      {Fault::BadProof, "Invalid Committed ZkPoK: `Received an invalid proof`", "InvalidCommittedZKPoK(InvalidProof)"},
      {Fault::ProofForOther, "Invalid Committed ZkPoK: `Received an invalid proof`",
       "InvalidCommittedZKPoK(InvalidProof)"},
      {Fault::ProofOtherTag, "Invalid Committed ZkPoK: `Received an invalid proof`",
       "InvalidCommittedZKPoK(InvalidProof)"},
      {Fault::BadOpening, "Invalid Committed ZkPoK: `Invalid commitment: `Received an invalid commitment``",
       "InvalidCommittedZKPoK(InvalidCommitment(InvalidCommitment))"},
  };
  async::Runtime rt(2);
  const auto ids = ids_1_to(3);
  for (const Case& c : cases) {
    const std::uint16_t t = 2;
    const Fault fault = c.fault;
    auto outcomes = run_session<CoreResult>(rt, ids, [t, fault](PartyId me, ProtocolExecutor root) {
      if (me == kCheater) return cheating_party(std::move(root), t, fault);
      return core_party(std::move(root), Scalar::from_u64(me.value()), t);
    });
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] == kCheater) continue;
      const auto& r = outcomes[i].result;
      if (c.fault == Fault::None) {
        EXPECT_TRUE(r.has_value()) << r.error().debug();
        continue;
      }
      ASSERT_FALSE(r.has_value()) << c.debug << " at party " << ids[i].value();
      EXPECT_EQ(r.error().display(), c.display);
      EXPECT_EQ(r.error().debug(), c.debug);
    }
  }
}

TEST(KeygenCore, AnOpeningThatDoesNotDecodeIsAReceiveFailure) {
  // Party 1 commits to an opening, then sends 10 bytes instead of 98.
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  auto outcomes = run_session<CoreResult>(rt, ids, [](PartyId me, ProtocolExecutor root) -> asio::awaitable<CoreResult> {
    if (me != kCheater) return core_party(std::move(root), Scalar::one(), 2);
    return [](ProtocolExecutor r) -> asio::awaitable<CoreResult> {
      ProtocolExecutor keygen = r.child(kKeygenLabel);
      if (!keygen.send_to(PartyId::unchecked(2), Scalar::one())) ADD_FAILURE();
      (void)co_await keygen_share_fold(keygen, Scalar::one());
      ProtocolExecutor commit_executor = keygen.child(kDlogProofLabel).child(kDlogCommitLabel);
      const DlogOpening opening{mul_g(1), mul_g(2), Scalar::one()};
      (void)co_await commit_round(commit_executor, opening);
      if (!commit_executor.send_payload_to_all(crypto::Bytes(10, 0))) ADD_FAILURE();
      co_return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
    }(std::move(root));
  });
  const auto& r = outcomes[1].result;
  ASSERT_FALSE(r.has_value());
  const auto* zk = r.error().get_if<EcdsaKeygenLibError::InvalidCommittedZKPoK>();
  ASSERT_NE(zk, nullptr) << r.error().debug();
  const auto* inner = dynamic_cast<const ZkpokCommError*>(zk->error.get());
  ASSERT_NE(inner, nullptr);
  const auto* decommit = inner->get_if<ZkpokCommError::InvalidCommitment>();
  ASSERT_NE(decommit, nullptr);
  EXPECT_TRUE(decommit->error.is<DecommitError::ReceiveFailed>()) << decommit->error.debug();
  EXPECT_EQ(r.error().source(), inner);
  EXPECT_EQ(inner->source(), &decommit->error);
}

TEST(KeygenCore, AShareThatIsNoScalarIsACommunicationError) {
  // Party 1 sends n itself (not below n) as its share.
  async::Runtime rt(2);
  const auto ids = ids_1_to(2);
  auto outcomes = run_session<CoreResult>(rt, ids, [](PartyId me, ProtocolExecutor root) -> asio::awaitable<CoreResult> {
    if (me != kCheater) return core_party(std::move(root), Scalar::one(), 2);
    return [](ProtocolExecutor r) -> asio::awaitable<CoreResult> {
      ProtocolExecutor keygen = r.child(kKeygenLabel);
      crypto::Bytes order = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
      if (!keygen.send_payload_to(PartyId::unchecked(2), std::move(order))) ADD_FAILURE();
      co_return std::unexpected(EcdsaKeygenLibError::InvalidLagrangeSum{});
    }(std::move(root));
  });
  const auto& r = outcomes[1].result;
  ASSERT_FALSE(r.has_value());
  EXPECT_TRUE(r.error().is<EcdsaKeygenLibError::CommunicationError>()) << r.error().debug();
  EXPECT_EQ(r.error().display(), "Communication Error: `Invalid Scalar`");
}

}  // namespace
}  // namespace velto::ecdsa::testing
