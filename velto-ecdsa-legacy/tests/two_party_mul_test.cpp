// The version 1.1.0 two-party multiplication: the preprocessing against the
// reference model's values (testdata/gen_mul_vectors.py), its invariants,
// and runs over the in-memory network from a real set-up, honest and with
// one party's messages rewritten.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "sised/sised.hpp"
#include "velto-ecdsa-legacy/sign/mul_setup.hpp"
#include "velto-ecdsa-legacy/sign/two_party_mul.hpp"
#include "velto-ecdsa-legacy/tests/legacy_session.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-mpc-infra/uc_tag.hpp"
#include "velto-ote/cote.hpp"

namespace velto::ecdsa::legacy::testing {
namespace {

using crypto::Scalar;

const crypto::Bytes& vec(const std::string& name) {
  static const std::map<std::string, crypto::Bytes> vectors = [] {
    std::map<std::string, crypto::Bytes> out;
    std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/mul_vectors.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string key;
      std::string hex;
      fields >> key >> hex;
      out.emplace(key, *crypto::hex_decode(hex));
    }
    return out;
  }();
  const auto it = vectors.find(name);
  if (it == vectors.end()) throw std::runtime_error("missing test vector " + name);
  return it->second;
}

crypto::ByteArray<32> arr32(const std::string& name) {
  crypto::ByteArray<32> out;
  std::copy(vec(name).begin(), vec(name).end(), out.begin());
  return out;
}

std::vector<Scalar> scalars(const std::string& name) {
  const crypto::Bytes& b = vec(name);
  std::vector<Scalar> out;
  for (std::size_t i = 0; i + 32 <= b.size(); i += 32) out.push_back(*Scalar::from_bytes_checked(crypto::ByteSpan(b).subspan(i, 32)));
  return out;
}

crypto::Bytes bytes_of(crypto::ByteSpan s) { return crypto::Bytes(s.begin(), s.end()); }

crypto::Bytes bytes_of(const std::vector<Scalar>& v) {
  crypto::Bytes out;
  for (const Scalar& s : v) {
    const auto b = s.to_bytes();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

template <class T>
crypto::Bytes encoded(const T& v) {
  return *sised::encode(v);
}

std::span<const Scalar> block(const std::vector<Scalar>& v, std::size_t i, std::size_t n = 1) {
  return std::span<const Scalar>(v).subspan(kMulBlock * i, kMulBlock * n);
}

// ---------------------------------------------------------------------------
// Against the model.

// Everything of one preprocessing from the extension's first message on,
// both sides driven by hand from the committed trees and draws.
TEST(TwoPartyMulVectors, PreprocessingMatchesTheModelByteForByte) {
  const auto full = ote::FullPprfTrees::from_bytes(vec("full_trees"));
  const auto punctured = ote::PuncturedPprfTrees::from_bytes(vec("punctured_trees"));
  ASSERT_TRUE(full && punctured);
  const crypto::Bytes& tag = vec("tag_e2");
  Transcript ta;
  Transcript tb;

  ote::CoteReceiver receiver(*full, tag, kMulOtCount, tb);
  EXPECT_EQ(receiver.correction_message(), vec("message1"));
  ote::CoteSender sender(*punctured, tag, kMulOtCount, ta);
  ASSERT_TRUE(sender.receive_corrections(vec("message1"), ta));
  const auto message2 = sender.challenge_seeds(arr32("hash_key"), arr32("check_seed"), ta);
  EXPECT_EQ(bytes_of(message2), vec("message2"));
  const auto message3 = receiver.receive_seeds(message2, tb);
  ASSERT_TRUE(message3);
  EXPECT_EQ(bytes_of(*message3), vec("message3"));
  auto keys = sender.receive_response(*message3, ta);
  ASSERT_TRUE(keys) << keys.error().display();
  const ote::CoteReceiverOutput bob_keys = receiver.take_output();
  // All 1,664 key pairs, rows 1,024 to 1,663 (the second chunk counter) included.
  EXPECT_EQ(bytes_of(keys->digests0.bytes()), vec("keys0"));
  EXPECT_EQ(bytes_of(keys->digests1.bytes()), vec("keys1"));
  EXPECT_EQ(bytes_of(bob_keys.choices.span()), vec("choices"));

  const std::vector<Scalar> pads = scalars("alice_pads");
  const std::vector<Scalar> checks = scalars("alice_checks");
  const AliceCorrelation alice = alice_correlation(keys->digests0, keys->digests1, pads, checks);
  EXPECT_EQ(encoded(alice.message), vec("message4"));
  EXPECT_EQ(bytes_of(alice.shares), vec("alice_shares"));
  ta.append(alice.message);
  const auto received4 = sised::decode<CoteCorrection>(vec("message4"));
  ASSERT_TRUE(received4);
  tb.append(*received4);
  const crypto::ByteArray<32> sigma = ta.finalize();
  EXPECT_EQ(sigma, tb.finalize());
  EXPECT_EQ(bytes_of(sigma), vec("sigma"));
  EXPECT_EQ(bytes_of(two_party_multiplier_ro(1, sigma, kMulBatch)), vec("chi"));
  EXPECT_EQ(bytes_of(two_party_multiplier_ro(2, sigma, kMulBatch)), vec("chi2"));

  const auto bob = bob_correlation(bob_keys.digests, bob_keys.choices, *received4);
  ASSERT_TRUE(bob);
  EXPECT_EQ(bytes_of(bob->shares), vec("bob_shares"));
  const MulCheck check = alice_mul_check(sigma, alice, pads, checks);
  EXPECT_EQ(encoded(check), vec("message5"));
  EXPECT_TRUE(bob_mul_check(sigma, check, bob_keys.choices, *bob, kMulBatch));
  const std::vector<Scalar> bob_pad = bob_pads(bob_keys.choices, kMulBatch);
  EXPECT_EQ(bytes_of(bob_pad), vec("bob_pads"));

  // The gadget-weighted sums of the two sides' shares are the pad products.
  for (std::size_t i = 0; i < kMulBatch; ++i) {
    EXPECT_EQ(gadget_sum(block(alice.shares, i)) + gadget_sum(block(bob->shares, i)), pads[i] * bob_pad[i]) << i;
  }

  // Two input-and-adjust steps of two products each.
  const std::vector<Scalar> x = scalars("inputs_x");
  const std::vector<Scalar> y = scalars("inputs_y");
  for (std::size_t step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    const std::string name = "step" + std::to_string(step);
    const auto xs = std::span<const Scalar>(x).subspan(2 * step, 2);
    const auto ys = std::span<const Scalar>(y).subspan(2 * step, 2);
    const auto d_alice = scalar_vec_sub(xs, std::span<const Scalar>(pads).subspan(2 * step, 2));
    const auto d_bob = scalar_vec_sub(ys, std::span<const Scalar>(bob_pad).subspan(2 * step, 2));
    EXPECT_EQ(encoded(d_alice), vec(name + "_masked_alice"));
    EXPECT_EQ(encoded(d_bob), vec(name + "_masked_bob"));
    const auto z_alice = two_party_mul_alice(xs, d_bob, block(alice.shares, 2 * step, 2));
    const auto z_bob =
        two_party_mul_bob(std::span<const Scalar>(bob_pad).subspan(2 * step, 2), d_alice, block(bob->shares, 2 * step, 2));
    EXPECT_EQ(bytes_of(z_alice), vec(name + "_alice_out"));
    EXPECT_EQ(bytes_of(z_bob), vec(name + "_bob_out"));
    for (std::size_t k = 0; k < 2; ++k) EXPECT_EQ(z_alice[k] + z_bob[k], xs[k] * ys[k]);
  }
}

TEST(TwoPartyMulVectors, GadgetVector) {
  const GadgetVector& g = gadget_vector();
  EXPECT_EQ(bytes_of(std::vector<Scalar>(g.begin(), g.end())), vec("gadget"));
  // Bit i mod 8 of big-endian byte i / 8, not 2^i.
  const auto power = [](unsigned e) {
    crypto::ByteArray<32> b{};
    b[31 - e / 8] = static_cast<std::uint8_t>(1u << (e % 8));
    return Scalar::from_bytes_reduced(b);
  };
  EXPECT_EQ(g[0], power(248));
  EXPECT_EQ(g[7], power(255));
  EXPECT_EQ(g[8], power(240));
  EXPECT_EQ(g[248], Scalar::one());
  EXPECT_EQ(g[255], power(7));
  EXPECT_EQ(&gadget_vector(), &g);
}

TEST(TwoPartyMulVectors, MultiplierRandomOracle) {
  const crypto::ByteArray<32> seed = arr32("ro_seed");
  EXPECT_TRUE(two_party_multiplier_ro(1, seed, 0).empty());
  EXPECT_EQ(bytes_of(two_party_multiplier_ro(1, seed, 3)), vec("ro_index1_count3"));
  EXPECT_NE(two_party_multiplier_ro(1, seed, 1)[0], two_party_multiplier_ro(2, seed, 1)[0]);
}

// Bob's own checks of messages 4 and 5, over the model's values.
struct BobInputs {
  ote::OtDigests keys;
  ote::ChoiceBits choices;
  CoteCorrection message4;
  MulCheck message5;
  crypto::ByteArray<32> sigma;
};

BobInputs bob_inputs() {
  BobInputs in;
  in.choices = ote::ChoiceBits(vec("choices").size());
  std::copy(vec("choices").begin(), vec("choices").end(), in.choices.data());
  // Bob's key of each OT is the one of his choice.
  in.keys = ote::OtDigests(kMulOtCount);
  for (std::size_t k = 0; k < kMulOtCount; ++k) {
    const crypto::Bytes& src = vec(in.choices.data()[k] ? "keys1" : "keys0");
    std::copy(src.begin() + 16 * k, src.begin() + 16 * (k + 1), in.keys.slot(k).begin());
  }
  in.message4 = *sised::decode<CoteCorrection>(vec("message4"));
  in.message5 = *sised::decode<MulCheck>(vec("message5"));
  in.sigma = arr32("sigma");
  return in;
}

TEST(TwoPartyMulBob, RefusesMessage4OfAnotherLengthBeforeFormingShares) {
  BobInputs in = bob_inputs();
  ASSERT_TRUE(bob_correlation(in.keys, in.choices, in.message4));
  for (const int delta : {-1, +1}) {
    CoteCorrection m = in.message4;
    if (delta < 0) m.pop_back();
    else m.push_back(m.back());
    const auto r = bob_correlation(in.keys, in.choices, m);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "Failed extending: Received message of invalid size");
  }
}

TEST(TwoPartyMulBob, RefusesAFalseMessage5) {
  BobInputs in = bob_inputs();
  const auto bob = bob_correlation(in.keys, in.choices, in.message4);
  ASSERT_TRUE(bob);
  ASSERT_TRUE(bob_mul_check(in.sigma, in.message5, in.choices, *bob, kMulBatch));
  struct Case {
    const char* name;
    void (*change)(MulCheck&);
  };
  const Case cases[] = {
      {"r_415 changed", [](MulCheck& m) { m.first[415] += Scalar::one(); }},
      {"r_0 changed", [](MulCheck& m) { m.first[0] += Scalar::one(); }},
      {"u_2 changed", [](MulCheck& m) { m.second[2] += Scalar::one(); }},
      {"c + 1 values of u", [](MulCheck& m) { m.second.push_back(Scalar::one()); }},
      {"c - 1 values of u", [](MulCheck& m) { m.second.pop_back(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MulCheck m = in.message5;
    c.change(m);
    const auto r = bob_mul_check(in.sigma, m, in.choices, *bob, kMulBatch);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().display(), "Received invalid value from alice");
  }
}

// ---------------------------------------------------------------------------
// Runs over the in-memory network: the set-up, then the preprocessing and
// input-and-adjust steps, party 3 alice and party 7 bob.

const PartyId kAlice = PartyId::unchecked(3);
const PartyId kBob = PartyId::unchecked(7);
const std::vector<PartyId> kPair = {kAlice, kBob};

constexpr const char* kSetupLabel = "setup";
constexpr const char* kOnlineLabel = "online";

std::vector<Scalar> run_inputs(PartyId me) {
  std::vector<Scalar> out;
  for (std::uint64_t i = 0; i < 4; ++i) out.push_back(Scalar::from_u64(1000 * me.value() + 17 * i + 5));
  return out;
}

// What a party ends with: the first error text (or nothing), its set-up
// record, its pads and shares after the preprocessing, the outputs of the
// two steps, and the text of a third step.
struct Seen {
  std::string error;
  crypto::Bytes record;
  std::vector<Scalar> pads;
  std::vector<Scalar> shares;
  std::vector<Scalar> outputs;
  std::string third_step;
};

template <class Record>
asio::awaitable<void> adjust_steps(Record& mul, PartyId me, Seen& seen) {
  const std::vector<Scalar> inputs = run_inputs(me);
  seen.pads = mul.pads;
  seen.shares = mul.shares;
  for (std::size_t step = 0; step < 2; ++step) {
    const auto in = std::span<const Scalar>(inputs).subspan(2 * step, 2);
    std::expected<std::vector<Scalar>, ot::OtError> z;
    if constexpr (std::is_same_v<Record, RandomMulAlice>) {
      z = co_await input_and_adjust_alice(mul, in);
    } else {
      z = co_await input_and_adjust_bob(mul, in);
    }
    if (!z) {
      seen.error = z.error().display();
      co_return;
    }
    seen.outputs.insert(seen.outputs.end(), z->begin(), z->end());
  }
  const auto one = std::span<const Scalar>(inputs).subspan(0, 1);
  std::expected<std::vector<Scalar>, ot::OtError> third;
  if constexpr (std::is_same_v<Record, RandomMulAlice>) {
    third = co_await input_and_adjust_alice(mul, one);
  } else {
    third = co_await input_and_adjust_bob(mul, one);
  }
  seen.third_step = third ? "accepted" : third.error().display();
}

asio::awaitable<Seen> run_role(PartyId me, const ProtocolExecutor& root) {
  const PartyId peer = me == kAlice ? kBob : kAlice;
  PeerExecutor setup_pair(root.child(kSetupLabel), peer);
  PeerExecutor online_pair(root.child(kOnlineLabel), peer);
  Seen seen;
  if (me == kAlice) {
    auto setup = co_await two_party_mul_setup_alice(std::move(setup_pair));
    if (!setup) {
      seen.error = setup.error().display();
      co_return seen;
    }
    seen.record = bytes_of(setup->bytes());
    auto mul = co_await two_party_mul_online_alice(std::move(online_pair), *setup);
    if (!mul) {
      seen.error = mul.error().display();
      co_return seen;
    }
    co_await adjust_steps(*mul, me, seen);
  } else {
    auto setup = co_await two_party_mul_setup_bob(std::move(setup_pair));
    if (!setup) {
      seen.error = setup.error().display();
      co_return seen;
    }
    seen.record = bytes_of(setup->bytes());
    auto mul = co_await two_party_mul_online_bob(std::move(online_pair), *setup);
    if (!mul) {
      seen.error = mul.error().display();
      co_return seen;
    }
    co_await adjust_steps(*mul, me, seen);
  }
  co_return seen;
}

// A party that failed sends an empty message under each tag of the online
// run, so that a peer left waiting for a message fails on it instead of
// waiting for ever (the run's own executors are gone by then).
void release_peer(const ProtocolExecutor& root, PartyId peer) {
  PeerExecutor e0(root.child(kOnlineLabel), peer);
  PeerExecutor e1 = e0.child(kMulToCoteLabel);
  PeerExecutor e2 = e1.child(kCoteToRoteLabel);
  for (PeerExecutor* e : {&e2, &e1, &e0}) (void)e->executor().send_payload_to(peer, crypto::Bytes{});
}

asio::awaitable<Seen> mul_party(PartyId me, ProtocolExecutor root) {
  Seen seen = co_await run_role(me, root);
  if (!seen.error.empty()) release_peer(root, me == kAlice ? kBob : kAlice);
  co_return seen;
}

// Both sides completed: products, invariants and the refused third step.
void expect_honest_outcome(const Seen& alice, const Seen& bob) {
  ASSERT_EQ(alice.error, "");
  ASSERT_EQ(bob.error, "");
  ASSERT_EQ(alice.pads.size(), kMulBatch);
  ASSERT_EQ(bob.pads.size(), kMulBatch);
  for (std::size_t i = 0; i < kMulBatch; ++i) {
    EXPECT_EQ(gadget_sum(block(alice.shares, i)) + gadget_sum(block(bob.shares, i)), alice.pads[i] * bob.pads[i]) << i;
  }
  const auto x = run_inputs(kAlice);
  const auto y = run_inputs(kBob);
  ASSERT_EQ(alice.outputs.size(), 4u);
  ASSERT_EQ(bob.outputs.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(alice.outputs[i] + bob.outputs[i], x[i] * y[i]) << i;
  EXPECT_EQ(alice.third_step, "Input is too large");
  EXPECT_EQ(bob.third_step, "Input is too large");
}

TEST(TwoPartyMulSession, SetUpPreprocessingAndTwoSteps) {
  async::Runtime rt(2);
  auto seen = run_plain<Seen>(rt, kPair, [](PartyId me, ProtocolExecutor root) { return mul_party(me, std::move(root)); });
  const Seen& alice = seen[0];
  const Seen& bob = seen[1];
  expect_honest_outcome(alice, bob);

  // The set-up records: equal transcript hashes, matching hash tables, and
  // alice's leaves equal bob's except the punctured one, which is zero.
  const auto a = ote::PuncturedPprfTrees::from_bytes(alice.record);
  const auto b = ote::FullPprfTrees::from_bytes(bob.record);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->key(), b->key());
  EXPECT_TRUE(a->hashes_match());
  for (std::size_t t = 0; t < ote::kPprfTrees; ++t) {
    for (std::size_t j = 0; j < ote::kLeavesPerTree; ++j) {
      const crypto::Bytes leaf = bytes_of(a->leaf(t, j));
      if (j == a->punctured_index(t)) {
        EXPECT_EQ(leaf, crypto::Bytes(32, 0));
      } else {
        EXPECT_EQ(leaf, bytes_of(b->leaf(t, j))) << t << " " << j;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Deviations: one party's messages rewritten on the way.

UcTag tag_of(std::initializer_list<std::string_view> labels) {
  UcTag t = root_uc_tag();
  for (const std::string_view l : labels) t = derive_child_uc_tag(t, l);
  return t;
}

const UcTag kSetupE2 = tag_of({kSetupLabel, kMulToCoteLabel, kCoteToRoteLabel});
const UcTag kE0 = tag_of({kOnlineLabel});
const UcTag kE1 = tag_of({kOnlineLabel, kMulToCoteLabel});
const UcTag kE2 = tag_of({kOnlineLabel, kMulToCoteLabel, kCoteToRoteLabel});

enum class Msg { Tree, M1, M2, M3, M4, M5, Masked };

bool is_message(const crypto::Bytes& plaintext, Msg which) {
  const std::size_t size = plaintext.size() - 32;
  switch (which) {
    case Msg::Tree: return sent_under(plaintext, kSetupE2);
    case Msg::M1: return sent_under(plaintext, kE2) && size > 64;
    case Msg::M2: return sent_under(plaintext, kE2) && size <= 65 && size > 41;
    case Msg::M3: return sent_under(plaintext, kE2) && size <= 41;
    case Msg::M4: return sent_under(plaintext, kE1);
    case Msg::M5: return sent_under(plaintext, kE0) && size > 1000;
    case Msg::Masked: return sent_under(plaintext, kE0) && size < 1000;
  }
  return false;
}

using Edit = std::function<void(crypto::Bytes& payload)>;

Rewrite rewrite_of(Msg which, Edit edit, bool once = false) {
  auto done = std::make_shared<bool>(false);
  return [which, edit, once, done](crypto::Bytes& plaintext, PartyId) {
    // Empty payloads are the releases of a failed party, not protocol messages.
    if (plaintext.size() <= 32 || !is_message(plaintext, which) || (once && *done)) return;
    *done = true;
    crypto::Bytes payload(plaintext.begin(), plaintext.end() - 32);
    const crypto::Bytes tag(plaintext.end() - 32, plaintext.end());
    edit(payload);
    plaintext = payload;
    plaintext.insert(plaintext.end(), tag.begin(), tag.end());
  };
}

Edit shorter() {
  return [](crypto::Bytes& p) { p.pop_back(); };
}
Edit longer() {
  return [](crypto::Bytes& p) { p.push_back(0); };
}
Edit flip(std::size_t at) {
  return [at](crypto::Bytes& p) { p[at] ^= 0x01; };
}
Edit set_scalar_n(std::size_t at) {
  return [at](crypto::Bytes& p) {
    const auto n = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
    std::copy(n.begin(), n.end(), p.begin() + static_cast<std::ptrdiff_t>(at));
  };
}

// Message 4's varint (FD, then ℓ as u16) with ℓ changed by delta, and one
// pair removed or a copy of the last one added.
Edit message4_count(int delta) {
  return [delta](crypto::Bytes& p) {
    const std::uint16_t count = static_cast<std::uint16_t>(kMulOtCount + delta);
    p[1] = static_cast<std::uint8_t>(count);
    p[2] = static_cast<std::uint8_t>(count >> 8);
    if (delta < 0) {
      p.resize(p.size() - 64);
    } else {
      const crypto::Bytes last(p.end() - 64, p.end());
      p.insert(p.end(), last.begin(), last.end());
    }
  };
}

// Message 1 with tree 5's vector one word short (its count 26).
Edit message1_short_vector() {
  return [](crypto::Bytes& p) {
    const std::size_t at = 5 * (1 + 27 * 8);
    p[at] = 26;
    p.erase(p.begin() + static_cast<std::ptrdiff_t>(at + 1), p.begin() + static_cast<std::ptrdiff_t>(at + 9));
  };
}

// Message 5 with one value of u more (count c + 1).
Edit message5_extra_u() {
  return [](crypto::Bytes& p) {
    p[kMulBlock * 32] = static_cast<std::uint8_t>(kMulBatch + 1);
    const crypto::Bytes last(p.end() - 32, p.end());
    p.insert(p.end(), last.begin(), last.end());
  };
}

// Masked inputs of N − 1 or N + 1 scalars.
Edit masked_count(int delta) {
  return [delta](crypto::Bytes& p) {
    p[0] = static_cast<std::uint8_t>(p[0] + delta);
    if (delta < 0) p.resize(p.size() - 32);
    else p.insert(p.end(), p.end() - 32, p.end());
  };
}

struct Deviation {
  const char* name;
  PartyId tapped;
  Msg message;
  Edit edit;
  // Who must fail with which text; an empty text: both sides complete.
  PartyId detector;
  const char* text;
};

constexpr const char* kOutOfBounds = "Out of bounds";
constexpr const char* kPprf = "The received PPRF hashes are not consistent with the computed ones";
constexpr const char* kChallenge = "The received consistency check response is not consistent with the computed one";
constexpr const char* kBadSize = "Failed extending: Received message of invalid size";
constexpr const char* kInvalidValue = "Received invalid value from alice";

TEST(TwoPartyMulSession, Deviations) {
  const Deviation cases[] = {
      {"tree message one byte short", kBob, Msg::Tree, shorter(), kAlice, kOutOfBounds},
      {"tree message one byte long", kBob, Msg::Tree, longer(), kAlice, ""},
      {"tree hash 5 altered", kBob, Msg::Tree, flip(5 * 32), kAlice, kPprf},
      {"message 1 one byte short", kBob, Msg::M1, shorter(), kAlice, kOutOfBounds},
      {"message 1 one byte long", kBob, Msg::M1, longer(), kAlice, ""},
      {"message 1 tree 5 one word short", kBob, Msg::M1, message1_short_vector(), kAlice, kPprf},
      {"message 2 one byte short", kAlice, Msg::M2, shorter(), kBob, "Failed extending: Out of bounds"},
      {"message 2 one byte long", kAlice, Msg::M2, longer(), kBob, ""},
      {"message 3 one byte short", kBob, Msg::M3, shorter(), kAlice, kOutOfBounds},
      {"message 3 one byte long", kBob, Msg::M3, longer(), kAlice, ""},
      {"check response digest altered", kBob, Msg::M3, flip(20), kAlice, kChallenge},
      {"check response xi altered", kBob, Msg::M3, flip(0), kAlice, kChallenge},
      {"message 4 one byte short", kAlice, Msg::M4, shorter(), kBob, "Failed extending: Out of bounds"},
      {"message 4 one byte long", kAlice, Msg::M4, longer(), kBob, ""},
      {"message 4 with l - 1 pairs", kAlice, Msg::M4, message4_count(-1), kBob, kBadSize},
      {"message 4 with l + 1 pairs", kAlice, Msg::M4, message4_count(+1), kBob, kBadSize},
      {"message 4 scalar equal to n", kAlice, Msg::M4, set_scalar_n(3), kBob, "Failed extending: Invalid Scalar"},
      {"message 4 correction altered", kAlice, Msg::M4, flip(3 + 64 * 1500 + 31), kBob, kInvalidValue},
      {"message 5 one byte short", kAlice, Msg::M5, shorter(), kBob, "Communication Error: `Out of bounds`"},
      {"message 5 one byte long", kAlice, Msg::M5, longer(), kBob, ""},
      {"message 5 r_9 altered", kAlice, Msg::M5, flip(9 * 32 + 31), kBob, kInvalidValue},
      {"message 5 with c + 1 values of u", kAlice, Msg::M5, message5_extra_u(), kBob, kInvalidValue},
      {"message 5 scalar equal to n", kAlice, Msg::M5, set_scalar_n(32 * kMulBlock + 1), kBob,
       "Communication Error: `Invalid Scalar`"},
      {"alice's masked inputs one short", kAlice, Msg::Masked, masked_count(-1), kBob,
       "Received invalid value from other party"},
      {"alice's masked inputs one more", kAlice, Msg::Masked, masked_count(+1), kBob,
       "Received invalid value from other party"},
      {"bob's masked inputs one short", kBob, Msg::Masked, masked_count(-1), kAlice,
       "Received invalid value from other party"},
      {"bob's masked inputs one byte short", kBob, Msg::Masked, shorter(), kAlice,
       "Communication error: `Out of bounds`"},
      {"bob's masked inputs scalar equal to n", kBob, Msg::Masked, set_scalar_n(1), kAlice,
       "Communication error: `Invalid Scalar`"},
  };
  async::Runtime rt(2);
  for (const Deviation& c : cases) {
    SCOPED_TRACE(c.name);
    const auto seen = run_tapped<Seen>(
        rt, kPair, [](PartyId me, ProtocolExecutor root) { return mul_party(me, std::move(root)); }, c.tapped,
        rewrite_of(c.message, c.edit, c.message == Msg::Masked));
    if (std::string(c.text).empty()) {
      expect_honest_outcome(seen[0], seen[1]);
      continue;
    }
    const Seen& detector = seen[c.detector == kAlice ? 0 : 1];
    EXPECT_EQ(detector.error, c.text);
  }
}

}  // namespace
}  // namespace velto::ecdsa::legacy::testing
