#include "velto-mpc-infra/async/asio.hpp"

#include "velto-ecdsa/rvole.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/codec.hpp"
#include "crypto/error.hpp"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/memory_communicator.hpp"
#include "velto-ot/base_ot_run.hpp"
#include "velto-ote/ote_protocol.hpp"
#include "velto-ote/tests/session_util.hpp"

namespace velto::ecdsa {
namespace {

namespace asio = boost::asio;
using crypto::Scalar;

// ---------------------------------------------------------------- helpers

const std::map<std::string, crypto::Bytes>& vectors() {
  static const std::map<std::string, crypto::Bytes> v = [] {
    std::map<std::string, crypto::Bytes> out;
    std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/rvole_vectors.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string name;
      std::string hex;
      fields >> name >> hex;
      out.emplace(name, *crypto::hex_decode(hex));
    }
    return out;
  }();
  return v;
}

const crypto::Bytes& vec(const std::string& name) {
  const auto it = vectors().find(name);
  if (it == vectors().end()) throw std::runtime_error("missing test vector " + name);
  return it->second;
}

crypto::ByteArray<32> arr32(const std::string& name) {
  crypto::ByteArray<32> out;
  std::copy_n(vec(name).begin(), 32, out.begin());
  return out;
}

std::vector<Scalar> scalars_of(crypto::ByteSpan bytes) {
  std::vector<Scalar> out;
  for (std::size_t i = 0; i + 32 <= bytes.size(); i += 32) out.push_back(*Scalar::from_bytes_checked(bytes.subspan(i, 32)));
  return out;
}

crypto::Bytes bytes_of(std::span<const Scalar> s) {
  crypto::Bytes out;
  for (const Scalar& v : s) {
    const auto b = v.to_bytes();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// The reference inputs: `count` scalars from derive-key "test rvole
// scalars" over the label, each 32-byte block reduced once.
std::vector<Scalar> test_scalars(const std::string& label, std::size_t count) {
  crypto::Blake3Reader r = crypto::Blake3::derive_key("test rvole scalars").update(crypto::as_bytes(label)).finalize_xof();
  std::vector<Scalar> out;
  for (std::size_t i = 0; i < count; ++i) {
    crypto::ByteArray<32> b;
    r.fill(b);
    out.push_back(Scalar::from_bytes_reduced(b));
  }
  return out;
}

ScalarMatrix test_matrix(const std::string& name, const char* which, std::size_t w) {
  ScalarMatrix m(kRvoleOtCount, w);
  for (std::size_t j = 0; j < kRvoleOtCount; ++j) {
    const auto row = test_scalars(name + " " + which + " row " + std::to_string(j), w);
    std::copy(row.begin(), row.end(), m.row(j).begin());
  }
  return m;
}

// Bob's rows: V1 where the choice is 1, else V0.
ScalarMatrix select_rows(const ScalarMatrix& v0, const ScalarMatrix& v1, std::span<const std::uint8_t> choices) {
  ScalarMatrix y(v0.rows(), v0.width());
  for (std::size_t j = 0; j < v0.rows(); ++j) {
    const auto src = choices[j] ? v1.row(j) : v0.row(j);
    std::copy(src.begin(), src.end(), y.row(j).begin());
  }
  return y;
}

// One direction's VOLE phase over explicit OT outputs.
struct Instance {
  crypto::ByteArray<32> tag;
  ScalarMatrix v0, v1, y;
  crypto::Bytes choices;
  std::vector<Scalar> x, yin;
  Scalar r0, r1;
};

Instance reference_instance(std::size_t k) {
  const std::string name = "rvole_k" + std::to_string(k);
  Instance in;
  in.tag = arr32(name + "_tag");
  in.v0 = test_matrix(name, "v0", 2 * k + 2);
  in.v1 = test_matrix(name, "v1", 2 * k + 2);
  in.choices = vec(name + "_choices");
  in.y = select_rows(in.v0, in.v1, in.choices);
  in.x = scalars_of(vec(name + "_x"));
  in.yin = scalars_of(vec(name + "_y"));
  const auto r = scalars_of(vec(name + "_r"));
  in.r0 = r[0];
  in.r1 = r[1];
  return in;
}

// ---------------------------------------------------------------- gadget

TEST(RvoleGadgetTest, FixedEntriesAndOurDerivation) {
  const RvoleGadget& g = rvole_gadget();
  const std::map<std::size_t, std::string> fixed = {
      {0, "940b469f685058c9858a39f824b9110508d11093a6bb34fc9fd449f2fc7acea0"},
      {1, "f949d472922d9927ca8149b15a203e2b63299c4b11d5ff6220f59c4051d17ac6"},
      {2, "0f84a3865ea8c3662be35db96fb4c077eefc4bd00bbe4c4a7fb7371c546e33de"},
      {3, "ff429eb0b4bfe3500348a476ee54d0fb0eecd8fd3b9295d85b13838c3400ebbf"},
      {510, "f76237d06f8094c5eb43217e43a97cfb0fdf80f51d9a94790a56d179317dbe9b"},
      {511, "12a708d39b631d8defe9e971cdbdba10230f01a582d43f66cb0827bc03d2a8c5"},
  };
  crypto::Blake3Reader r = crypto::Blake3::derive_key(kRvoleGadgetContext).finalize_xof();
  for (std::size_t i = 0; i < kRvoleGadgetSize; ++i) {
    crypto::ByteArray<32> block;
    r.fill(block);
    const auto f = fixed.find(i);
    const Scalar expected = f != fixed.end() ? *Scalar::from_bytes_checked(*crypto::hex_decode(f->second))
                                             : Scalar::from_bytes_reduced(block);
    EXPECT_EQ(g[i], expected) << "entry " << i;
    EXPECT_FALSE(g[i].is_zero()) << "entry " << i;
  }
}

// ---------------------------------------------------------------- pure VOLE

TEST(RvoleTest, StreamExpansionMatchesReference) {
  for (const std::size_t w : {4, 5}) {
    ote::OtDigests d(1);
    std::copy_n(vec("expand" + std::to_string(w) + "_digest").begin(), 16, d.slot(0).begin());
    const ScalarMatrix m = expand_ot_digests(d, w);
    EXPECT_EQ(bytes_of(m.row(0)), vec("expand" + std::to_string(w) + "_scalars")) << "width " << w;
  }
}

class RvoleReferenceTest : public ::testing::TestWithParam<std::size_t> {};

// Both sides against the reference computation, for one and two
// presignatures (widths 4 and 6).
TEST_P(RvoleReferenceTest, BothSidesMatchReferenceValues) {
  const std::size_t k = GetParam();
  const std::string name = "rvole_k" + std::to_string(k);
  const Instance in = reference_instance(k);

  const RvoleSenderStep step = rvole_sender_compute(in.tag, in.v0, in.v1, in.x, in.yin, in.r0, in.r1);
  EXPECT_EQ(bytes_of(step.shares), vec(name + "_shares"));
  const auto theta = rvole_theta_ro(in.tag, step.message.tau, 2 * k + 2);
  crypto::Bytes theta_bytes;
  for (const auto& t : theta) {
    const auto b = bytes_of(t);
    theta_bytes.insert(theta_bytes.end(), b.begin(), b.end());
  }
  EXPECT_EQ(theta_bytes, vec(name + "_theta"));

  const crypto::Bytes msg = *encode_rvole_correction(step.message);
  std::uint32_t size = 0;
  for (int i = 3; i >= 0; --i) size = (size << 8) | vec(name + "_message_size")[static_cast<std::size_t>(i)];
  ASSERT_EQ(msg.size(), size);
  EXPECT_EQ(crypto::Bytes(msg.begin(), msg.begin() + 8), vec(name + "_message_head"));
  EXPECT_EQ(crypto::Bytes(msg.end() - 96, msg.end()), vec(name + "_message_tail"));
  const auto digest = crypto::Blake3::hasher().update(msg).finalize();
  EXPECT_EQ(crypto::Bytes(digest.begin(), digest.end()), vec(name + "_message_digest"));

  const auto decoded = decode_scalar_vec(msg);
  ASSERT_TRUE(decoded.has_value());
  const auto d = rvole_receiver_compute(in.tag, in.choices, in.y, 2 * k, *decoded);
  ASSERT_TRUE(d.has_value()) << d.error().display();
  EXPECT_EQ(bytes_of(*d), vec(name + "_receiver_shares"));
  EXPECT_EQ(rvole_receiver_input(in.choices), *Scalar::from_bytes_checked(vec(name + "_b")));
}

INSTANTIATE_TEST_SUITE_P(Presignatures, RvoleReferenceTest, ::testing::Values(1, 2));

TEST(RvoleTest, MessageLayoutForOnePresignature) {
  const Instance in = reference_instance(1);
  const RvoleSenderStep step = rvole_sender_compute(in.tag, in.v0, in.v1, in.x, in.yin, in.r0, in.r1);
  const crypto::Bytes msg = *encode_rvole_correction(step.message);
  ASSERT_EQ(msg.size(), 65639u);
  EXPECT_EQ(crypto::Bytes(msg.begin(), msg.begin() + 7), (crypto::Bytes{0x04, 0, 0, 0, 0xFD, 0x00, 0x08}));
  EXPECT_EQ(step.message.tau.size(), 2048u);
}

// With a_0 = 0 the shares of that position cancel; all others give a_h * b.
TEST(RvoleTest, SharesAddUpToInputTimesB) {
  Instance in = reference_instance(2);
  in.x[0] = Scalar::zero();
  const RvoleSenderStep step = rvole_sender_compute(in.tag, in.v0, in.v1, in.x, in.yin, in.r0, in.r1);
  const auto d = rvole_receiver_compute(in.tag, in.choices, in.y, 4, step.message);
  ASSERT_TRUE(d.has_value());
  const Scalar b = rvole_receiver_input(in.choices);
  const std::vector<Scalar> a = {in.x[0], in.yin[0], in.x[1], in.yin[1]};
  for (std::size_t h = 0; h < 4; ++h) EXPECT_EQ(step.shares[h] + (*d)[h], a[h] * b) << "h = " << h;
  EXPECT_TRUE((step.shares[0] + (*d)[0]).is_zero());
}

enum class Outcome { Ok, InvalidMessage, CheckFailed };

TEST(RvoleTest, ReceiverRefusesInconsistentMessages) {
  const Instance in = reference_instance(1);
  const RvoleSenderStep honest = rvole_sender_compute(in.tag, in.v0, in.v1, in.x, in.yin, in.r0, in.r1);
  struct Case {
    const char* name;
    std::function<void(RvoleCorrection&)> tamper;
    Outcome expected;
  };
  const Case cases[] = {
      {"honest", [](RvoleCorrection&) {}, Outcome::Ok},
      {"mu changed in one byte", [](RvoleCorrection& m) { m.mu[31] ^= 0x01; }, Outcome::CheckFailed},
      {"eta_0 changed", [](RvoleCorrection& m) { m.eta0 += Scalar::one(); }, Outcome::CheckFailed},
      {"eta_1 changed", [](RvoleCorrection& m) { m.eta1 += Scalar::one(); }, Outcome::CheckFailed},
      {"one tau entry changed", [](RvoleCorrection& m) { m.tau[777] += Scalar::one(); }, Outcome::CheckFailed},
      {"one tau scalar appended", [](RvoleCorrection& m) { m.tau.push_back(Scalar::one()); },
       Outcome::CheckFailed},
      {"last tau scalar removed", [](RvoleCorrection& m) { m.tau.pop_back(); }, Outcome::InvalidMessage},
      {"width 3", [](RvoleCorrection& m) { m.width = 3; }, Outcome::InvalidMessage},
      {"width 0", [](RvoleCorrection& m) { m.width = 0; }, Outcome::InvalidMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RvoleCorrection m = honest.message;
    c.tamper(m);
    const auto d = rvole_receiver_compute(in.tag, in.choices, in.y, 2, m);
    const Outcome got = d                                            ? Outcome::Ok
                        : d.error().is<ote::CoteError::CheckFailed>() ? Outcome::CheckFailed
                                                                      : Outcome::InvalidMessage;
    EXPECT_EQ(got, c.expected);
  }
  // A different tag changes both random oracles.
  crypto::ByteArray<32> other = in.tag;
  other[0] ^= 1;
  EXPECT_FALSE(rvole_receiver_compute(other, in.choices, in.y, 2, honest.message).has_value());
}

TEST(RvoleTest, DecodingRefusals) {
  const Instance in = reference_instance(1);
  const crypto::Bytes msg = *encode_rvole_correction(
      rvole_sender_compute(in.tag, in.v0, in.v1, in.x, in.yin, in.r0, in.r1).message);
  const crypto::Bytes n_bytes = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
  struct Case {
    const char* name;
    std::function<void(crypto::Bytes&)> tamper;
    std::optional<std::string> error;  // display of the decoding error
  };
  const Case cases[] = {
      {"honest", [](crypto::Bytes&) {}, std::nullopt},
      {"bytes after mu", [](crypto::Bytes& m) { m.push_back(7); }, std::nullopt},
      {"a tau element equal to n",
       [&](crypto::Bytes& m) { std::copy(n_bytes.begin(), n_bytes.end(), m.begin() + 7 + 32 * 5); },
       "Invalid Scalar"},
      {"eta_0 equal to n", [&](crypto::Bytes& m) { std::copy(n_bytes.begin(), n_bytes.end(), m.end() - 96); },
       "Invalid Scalar"},
      {"one byte short", [](crypto::Bytes& m) { m.pop_back(); }, "Out of bounds"},
      {"count of 131,072 scalars (4 MiB, within the budget)",
       [](crypto::Bytes& m) {
         m.resize(4);
         m.insert(m.end(), {0xFE, 0x00, 0x00, 0x02});
         m.resize(m.size() + 10, 0);
       },
       "Out of bounds"},
      {"count one above the budget",
       [](crypto::Bytes& m) {
         m.resize(4);
         m.insert(m.end(), {0xFE, 0x01, 0x00, 0x02});
       },
       "Heap size limit exceeded"},
      {"count not in shortest form",
       [](crypto::Bytes& m) {
         m.resize(4);
         m.insert(m.end(), {0xFC, 0x05});
       },
       "Invalid varint encoding"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    crypto::Bytes m = msg;
    c.tamper(m);
    const auto d = decode_scalar_vec(m);
    if (!c.error) {
      EXPECT_TRUE(d.has_value());
    } else {
      ASSERT_FALSE(d.has_value());
      EXPECT_EQ(d.error().display(), *c.error);
    }
  }
}

TEST(RvoleTest, GadgetProductRange) {
  ScalarMatrix m(600, 2);
  for (std::size_t j = 0; j < 600; ++j) m.at(j, 1) = Scalar::from_u64(j + 1);
  const RvoleGadget& g = rvole_gadget();
  Scalar expected;
  for (std::size_t i = 0; i < 512; ++i) expected += g[i] * Scalar::from_u64(i + 1 + 50);
  // At most 512 rows from lo on.
  EXPECT_EQ(rvole_gadget_product(m, 1, 50, 600), expected);
  EXPECT_TRUE(rvole_gadget_product(m, 1, 10, 10).is_zero());
  EXPECT_EQ(rvole_gadget_product(m, 1, 599, 600), g[0] * Scalar::from_u64(600));
  EXPECT_THROW(rvole_gadget_product(m, 2, 0, 1), Panic);
  EXPECT_THROW(rvole_gadget_product(m, 0, 599, 601), Panic);
}

// ---------------------------------------------------------------- steps

// An executor whose commands the test reads instead of a manager.
struct DetachedExecutor {
  async::Receiver<ManagerMessage> commands;
  std::optional<ProtocolExecutor> executor;

  DetachedExecutor(PartyId me, std::vector<PartyId> parties, const UcTag& tag) {
    auto [tx, rx] = async::unbounded_channel<ManagerMessage>();
    commands = std::move(rx);
    executor.emplace(ProtocolExecutor::open(tag, me, std::move(tx),
                                            std::make_shared<const std::vector<PartyId>>(std::move(parties)),
                                            kInboundCapacity, crypto::SecretArray<32>()));
  }
  std::vector<manager_message::Send> sends() {
    std::vector<manager_message::Send> out;
    while (auto c = commands.try_receive()) {
      if (auto* s = std::get_if<manager_message::Send>(&*c)) out.push_back(std::move(*s));
    }
    return out;
  }
};

using session_test::pid;

// Three peers given as 7, 2, 5 come back ordered; each gets one message of
// 65,639 bytes on its own instance tag, and the shares are the sender's.
TEST(RvoleStepTest, CollectionSendsOneMessagePerPeerAndSortsResults) {
  const Instance in = reference_instance(1);
  DetachedExecutor root(pid(1), {pid(1), pid(2), pid(5), pid(7)}, root_uc_tag());
  std::vector<RvolePeerRecord> records;
  for (const std::uint16_t p : {7, 2, 5}) {
    records.push_back(RvolePeerRecord{pid(p), in.v0, in.v1, PeerExecutor(root.executor->child_pair(pid(1), pid(p)), pid(p))});
  }
  const auto result = collect_rvole_steps(std::move(records), std::span(in.x).first(1), std::span(in.yin).first(1));
  ASSERT_TRUE(result.has_value()) << result.error()->display();
  ASSERT_EQ(result->size(), 3u);
  EXPECT_EQ((*result)[0].first, pid(2));
  EXPECT_EQ((*result)[1].first, pid(5));
  EXPECT_EQ((*result)[2].first, pid(7));
  const auto expected_shares = rvole_sender_compute(in.tag, in.v0, in.v1, std::span(in.x).first(1),
                                                    std::span(in.yin).first(1), in.r0, in.r1).shares;
  for (const auto& [peer, shares] : *result) EXPECT_EQ(shares, expected_shares) << peer.debug();

  const auto sends = root.sends();
  ASSERT_EQ(sends.size(), 3u);
  const std::uint16_t order[] = {7, 2, 5};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sends[i].to, pid(order[i]));
    EXPECT_EQ(sends[i].tag, child_pair_uc_tag(root_uc_tag(), pid(1), pid(order[i])));
    EXPECT_EQ(sends[i].payload.size(), 65639u);
    EXPECT_EQ(sends[i].payload[0], 4u);
  }
}

TEST(RvoleStepTest, MismatchedWidthIsABug) {
  const Instance in = reference_instance(1);
  DetachedExecutor root(pid(1), {pid(1), pid(2)}, root_uc_tag());
  RvolePeerRecord record{pid(2), in.v0, in.v1, PeerExecutor(root.executor->child_pair(pid(1), pid(2)), pid(2))};
  // Two presignatures need rows of width 6; these have 4.
  const std::vector<Scalar> two = {in.x[0], in.x[0]};
  EXPECT_THROW((void)rvole_step(std::move(record), two, two), Panic);
  EXPECT_TRUE(root.sends().empty());
}

// The random-OT receiver sends its two messages, 5,103 and 48 bytes, on the
// instance's "rvole init" child and waits for nothing.
TEST(RvoleStepTest, ReceiverOtPhaseSendsTwoMessages) {
  crypto::SecretBytes sender_keys(64 * 128);
  for (std::size_t i = 0; i < sender_keys.size(); ++i) sender_keys.data()[i] = static_cast<std::uint8_t>(i * 13);
  const ote::FullPprfSetup setup = ote::build_full_pprf_trees(sender_keys.span(), crypto::ByteArray<32>{});
  DetachedExecutor root(pid(3), {pid(3), pid(4)}, root_uc_tag());
  PeerExecutor instance(root.executor->child_pair(pid(4), pid(3)), pid(4));
  const auto ot = rvole_receiver_online(instance, setup.trees, 2);
  ASSERT_TRUE(ot.has_value());
  EXPECT_EQ(ot->y.rows(), 512u);
  EXPECT_EQ(ot->y.width(), 4u);
  EXPECT_EQ(ot->b, rvole_receiver_input(ot->choices.span()));
  const auto sends = root.sends();
  ASSERT_EQ(sends.size(), 2u);
  const UcTag child = derive_child_uc_tag(child_pair_uc_tag(root_uc_tag(), pid(4), pid(3)), "rvole init");
  EXPECT_EQ(sends[0].payload.size(), 5103u);
  EXPECT_EQ(sends[1].payload.size(), 48u);
  for (const auto& s : sends) {
    EXPECT_EQ(s.tag, child);
    EXPECT_EQ(s.to, pid(4));
  }
}

// ---------------------------------------------------------------- sessions

using session_test::PartyFn;
using session_test::run_parties;

// What one party ends with after a full pairwise random VOLE with its peer,
// in both directions.
struct PairOutcome {
  std::string error;
  Scalar a0, a1;                 // its inputs as Alice (x, y)
  std::vector<Scalar> c;         // its shares as Alice
  Scalar b;                      // its random input as Bob
  std::vector<Scalar> d;         // its shares as Bob
};

// The steps' executors, opened once per party: the set-ups run under
// "rvoles init", the instances under "presign"; each direction is the child
// pair (sender, receiver).
struct Steps {
  ProtocolExecutor init;
  ProtocolExecutor presign;
};

asio::awaitable<std::string> alice_side(Steps& steps, PartyId me, PartyId peer, PairOutcome& out) {
  auto setup = co_await rvole_setup_sender(PeerExecutor(steps.init.child_pair(me, peer), peer));
  if (!setup) co_return "alice set-up: " + setup.error().display();
  PeerExecutor instance(steps.presign.child_pair(me, peer), peer);
  auto record = co_await rvole_sender_online(std::move(instance), *setup, 2);
  if (!record) co_return "alice OT: " + record.error().display();
  out.a0 = Scalar::from_u64(1000 + me.value());
  out.a1 = Scalar::from_u64(2000 + me.value());
  std::vector<RvolePeerRecord> records;
  records.push_back(std::move(*record));
  auto c = collect_rvole_steps(std::move(records), std::span(&out.a0, 1), std::span(&out.a1, 1));
  if (!c) co_return "alice step: " + c.error()->display();
  out.c = c->at(peer);
  co_return "";
}

asio::awaitable<std::string> bob_side(Steps& steps, PartyId me, PartyId peer, PairOutcome& out) {
  auto setup = co_await rote_receiver_setup(PeerExecutor(steps.init.child_pair(peer, me), peer));
  if (!setup) co_return "bob set-up: " + setup.error().display();
  PeerExecutor instance(steps.presign.child_pair(peer, me), peer);
  auto ot = rvole_receiver_online(instance, *setup, 2);
  if (!ot) co_return "bob OT: " + ot.error().display();
  out.b = ot->b;
  auto d = co_await rvole_driver(instance, *ot, 2);
  if (!d) co_return "bob driver: " + d.error().display();
  if (d->first != peer) co_return "bob driver: wrong peer";
  out.d = std::move(d->second);
  co_return "";
}

asio::awaitable<PairOutcome> pair_party(ProtocolExecutor root, PartyId me, PartyId peer) {
  PairOutcome out;
  Steps steps{root.child("rvoles init"), root.child("presign")};
  auto [ea, eb] = co_await async::join_both(alice_side(steps, me, peer, out), bob_side(steps, me, peer, out));
  out.error = ea + eb;
  co_return out;
}

TEST(RvoleSessionTest, TwoPartiesBothDirections) {
  const std::vector<PartyId> ids{pid(3), pid(7)};
  const std::vector<PartyFn<PairOutcome>> fns = {
      [](ProtocolExecutor root) { return pair_party(std::move(root), pid(3), pid(7)); },
      [](ProtocolExecutor root) { return pair_party(std::move(root), pid(7), pid(3)); },
  };
  const auto outcomes = run_parties(ids, fns);
  ASSERT_EQ(outcomes.size(), 2u);
  for (const PairOutcome& o : outcomes) ASSERT_EQ(o.error, "");
  // Direction (alice, bob) for both orders of the two parties.
  for (std::size_t alice = 0; alice < 2; ++alice) {
    const PairOutcome& a = outcomes[alice];
    const PairOutcome& b = outcomes[1 - alice];
    ASSERT_EQ(a.c.size(), 2u);
    ASSERT_EQ(b.d.size(), 2u);
    EXPECT_FALSE(b.b.is_zero());
    EXPECT_EQ(a.c[0] + b.d[0], a.a0 * b.b);
    EXPECT_EQ(a.c[1] + b.d[1], a.a1 * b.b);
  }
  EXPECT_NE(outcomes[0].b, outcomes[1].b);
}

// A peer whose set-up message is one byte short fails Alice's set-up with
// the decoding error.
asio::awaitable<std::string> short_setup_peer(ProtocolExecutor root, PartyId me, PartyId peer) {
  PeerExecutor direction(root.child("rvoles init").child_pair(peer, me), peer);
  {
    PeerExecutor base = ot::base_ot_subsession(direction);
    auto r = co_await ot::base_ot_sender(base);
    if (!r) co_return r.error().display();
  }
  crypto::Bytes short_message(ote::kPprfSetupMessageSize - 1, 0);
  if (!direction.executor().send_payload_to(peer, std::move(short_message))) co_return "send failed";
  co_return "";
}

asio::awaitable<std::string> honest_alice_setup(ProtocolExecutor root, PartyId me, PartyId peer) {
  auto setup = co_await rvole_setup_sender(PeerExecutor(root.child("rvoles init").child_pair(me, peer), peer));
  if (setup) co_return "accepted";
  EXPECT_TRUE(setup.error().is<ot::BaseOtError::CommunicationError>());
  co_return setup.error().display();
}

TEST(RvoleSessionTest, ShortSetupMessageFailsTheSender) {
  const std::vector<PartyId> ids{pid(1), pid(2)};
  const std::vector<PartyFn<std::string>> fns = {
      [](ProtocolExecutor root) { return honest_alice_setup(std::move(root), pid(1), pid(2)); },
      [](ProtocolExecutor root) { return short_setup_peer(std::move(root), pid(2), pid(1)); },
  };
  const auto outcomes = run_parties(ids, fns);
  EXPECT_EQ(outcomes[0], "Out of bounds");
  EXPECT_EQ(outcomes[1], "");
}

}  // namespace
}  // namespace velto::ecdsa
