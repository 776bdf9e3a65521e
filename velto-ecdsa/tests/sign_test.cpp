#include "velto-mpc-infra/async/asio.hpp"

#include "velto-ecdsa/sign.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-ecdsa/tests/signature_oracle.hpp"
#include "velto-ecdsa/tests/signing_session.hpp"
#include "velto-mpc-infra/commit.hpp"

namespace velto::ecdsa {
namespace {

namespace asio = boost::asio;
using crypto::Point;
using crypto::Scalar;
using signing_test::deal_key;
using signing_test::expect_valid_output;
using signing_test::PartyFn;
using signing_test::pid;
using signing_test::run_session;
using signing_test::SessionOptions;

using SignResult = std::expected<crypto::Bytes, BoxedError>;

crypto::ByteArray<32> hash_of(const std::string& text) {
  return crypto::Blake3::hasher().update(crypto::as_bytes(text)).finalize();
}

crypto::ByteArray<32> hex32(const char* hex) {
  crypto::ByteArray<32> out{};
  const auto b = *crypto::hex_decode(hex);
  std::copy_n(b.begin(), 32, out.begin());
  return out;
}

// ---------------------------------------------------------------- sessions

PartyFn<SignResult> handler_for(std::vector<KeyPair> keys, crypto::ByteArray<32> hash) {
  return [keys = std::move(keys), hash](ProtocolExecutor root, std::size_t i) {
    return ecdsa_sign_handler_latest(std::move(root), keys[i], hash);
  };
}

std::vector<PartyId> ids_of(const std::vector<std::uint16_t>& v) {
  std::vector<PartyId> out;
  for (auto x : v) out.push_back(pid(x));
  return out;
}

std::vector<KeyPair> keys_of(const signing_test::DealtKey& dealt, const std::vector<std::uint16_t>& signers) {
  std::vector<KeyPair> out;
  for (auto s : signers) out.push_back(dealt.shares[s - 1]);
  return out;
}

std::string error_text(const SignResult& r) { return r ? std::string("<signature>") : r.error()->display(); }

struct SigningCase {
  std::uint16_t t;
  std::uint16_t n;
  std::vector<std::uint16_t> signers;
  const char* hash_hex;  // nullptr: a hash of the case name
};

class SignHandlerTest : public ::testing::TestWithParam<SigningCase> {};

TEST_P(SignHandlerTest, EverySignerOutputsTheSameValidSignature) {
  const SigningCase& c = GetParam();
  const auto dealt = deal_key(c.t, c.n, static_cast<std::uint8_t>(c.n * 16 + c.signers.front()));
  const auto hash = c.hash_hex ? hex32(c.hash_hex) : hash_of("sign " + std::to_string(c.signers.size()));
  const auto outcome = run_session(ids_of(c.signers), handler_for(keys_of(dealt, c.signers), hash));
  ASSERT_EQ(outcome.parties.size(), c.signers.size());
  for (const auto& p : outcome.parties) {
    ASSERT_TRUE(p.result.has_value()) << p.result.error()->display();
    EXPECT_TRUE(p.manager_ok);
    EXPECT_EQ(*p.result, *outcome.parties.front().result);
  }
  expect_valid_output(*outcome.parties.front().result, Point::base_mul(dealt.secret), hash);
}

INSTANTIATE_TEST_SUITE_P(
    Subsets, SignHandlerTest,
    ::testing::Values(SigningCase{1, 1, {1}, nullptr}, SigningCase{2, 2, {1, 2}, nullptr},
                      SigningCase{2, 3, {1, 3}, nullptr}, SigningCase{2, 3, {2, 3}, nullptr},
                      SigningCase{3, 5, {1, 2, 3}, nullptr}, SigningCase{3, 5, {2, 4, 5}, nullptr},
                      // A hash above n: m is the hash minus n.
                      SigningCase{2, 3, {1, 2}, "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"}));

TEST(SignHandlerTest, Bip32ChildKeyVerifiesUnderTheChildPublicKey) {
  const auto dealt = deal_key(2, 3, 77);
  const Xpub parent{dealt.shares[0].chain_code, dealt.shares[0].public_key, 0, {}, 0};
  const std::uint32_t path[] = {1, 42, 7};
  const auto child = derive_child_pubkey_path(parent, path);
  ASSERT_TRUE(child.has_value());
  std::vector<KeyPair> keys = keys_of(dealt, {1, 3});
  for (KeyPair& k : keys) {
    k.secret_share += child->tweak_sum;
    k.public_key = child->xpub.public_key;
    k.chain_code = child->xpub.chain_code;
  }
  const auto hash = hash_of("child");
  const auto outcome = run_session(ids_of({1, 3}), handler_for(keys, hash));
  for (const auto& p : outcome.parties) ASSERT_TRUE(p.result.has_value()) << p.result.error()->display();
  expect_valid_output(*outcome.parties[0].result, child->xpub.public_key, hash);
  EXPECT_TRUE(child->xpub.public_key == Point::base_mul(dealt.secret + child->tweak_sum));
}

// Refusals that every signer reports and that never yield a signature.
TEST(SignHandlerTest, MessageHashesThatReduceToZeroAreRefused) {
  const auto dealt = deal_key(2, 2, 5);
  for (const char* hex : {"0000000000000000000000000000000000000000000000000000000000000000",
                          "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141"}) {
    SCOPED_TRACE(hex);
    const auto outcome = run_session(ids_of({1, 2}), handler_for(keys_of(dealt, {1, 2}), hex32(hex)));
    for (const auto& p : outcome.parties) {
      ASSERT_FALSE(p.result.has_value());
      const auto* e = dynamic_cast<const EcdsaSignError*>(p.result.error().get());
      ASSERT_NE(e, nullptr);
      EXPECT_TRUE(e->is<EcdsaSignError::Unknown>());
      EXPECT_EQ(e->display(), "Unknown error in signing");
    }
  }
}

TEST(SignHandlerTest, SignerWithWrongKeyShareFailsTheGlobalCheck) {
  const auto dealt = deal_key(2, 3, 9);
  std::vector<KeyPair> keys = keys_of(dealt, {2, 3});
  keys[1].secret_share += Scalar::one();
  const auto outcome = run_session(ids_of({2, 3}), handler_for(keys, hash_of("wrong share")));
  for (const auto& p : outcome.parties) {
    ASSERT_FALSE(p.result.has_value());
    const auto* e = dynamic_cast<const EcdsaPresignError*>(p.result.error().get());
    ASSERT_NE(e, nullptr) << p.result.error()->debug();
    EXPECT_EQ(e->display(), "Global check failed");
  }
}

// Payload sizes on the wire (each followed by the 32-byte tag): one
// presign-record message for Q = 1 and one partial signature.
constexpr std::size_t kRecordMessage = 1 + kPresignPairRecordSize + kTagSize;
constexpr std::size_t kPartialMessage = kPartialSignatureSize + kTagSize;
// The deviating party waits for signers that have refused it; this ends it.
constexpr std::chrono::seconds kDeviatorTimeout{3};

struct TamperCase {
  const char* name;
  std::size_t message_size;                   // which message of party 1 to rewrite
  std::function<void(crypto::Bytes&)> tamper;  // over the payload and tag
  std::string honest_error;                   // what the other signers report
};

class TamperTest : public ::testing::TestWithParam<std::size_t> {};

const std::vector<TamperCase>& tamper_cases() {
  static const std::vector<TamperCase> cases = {
      {"w changed", kPartialMessage, [](crypto::Bytes& m) { m[31] ^= 1; }, "Unknown error in signing"},
      {"u changed", kPartialMessage, [](crypto::Bytes& m) { m[63] ^= 1; }, "Unknown error in signing"},
      {"another public key", kPartialMessage, [](crypto::Bytes& m) { m[97] ^= 1; },
       "Error signing from partial signatures: `Public key mismatch`"},
      {"another message hash", kPartialMessage, [](crypto::Bytes& m) { m[161] ^= 1; },
       "Error signing from partial signatures: `Message hash mismatch`"},
      {"another public nonce", kPartialMessage,
       [](crypto::Bytes& m) {
         const auto g = Point::generator().to_compressed();
         std::copy(g.begin(), g.end(), m.begin() + 64);
       },
       "Error signing from partial signatures: `Public nonce mismatch`"},
      {"another required count", kPartialMessage, [](crypto::Bytes& m) { m[162] = 4; },
       "Error signing from partial signatures: `Partial signatures required mismatch`"},
      {"required count 0", kPartialMessage, [](crypto::Bytes& m) { m[162] = 0; },
       "Communication error: `Invalid number of parties`"},
      {"163 bytes", kPartialMessage, [](crypto::Bytes& m) { m.erase(m.begin() + 163); },
       "Communication error: `Out of bounds`"},
      {"gamma_u of another value", kRecordMessage,
       [](crypto::Bytes& m) {
         const auto g = Point::generator().to_compressed();
         std::copy(g.begin(), g.end(), m.begin() + 1);
       },
       "Malicious message from 1"},
      {"public share of another value", kRecordMessage,
       [](crypto::Bytes& m) {
         const auto g = Point::generator().to_compressed();
         std::copy(g.begin(), g.end(), m.begin() + 1 + 66);
       },
       "Malicious message from 1"},
      {"no records", kRecordMessage, [](crypto::Bytes& m) { m.erase(m.begin(), m.begin() + 131); m[0] = 0; },
       "Malicious message from 1"},
      // Passes the pairwise checks but breaks the shares: the final check
      // of the combination catches it.
      {"psi changed", kRecordMessage, [](crypto::Bytes& m) { m[131] ^= 1; }, "Unknown error in signing"},
  };
  return cases;
}

// Party 1 deviates on the wire in one message; the other signers fail with
// the specified error and never output a signature.
TEST_P(TamperTest, HonestSignersRefuse) {
  const TamperCase& c = tamper_cases()[GetParam()];
  SCOPED_TRACE(c.name);
  const auto dealt = deal_key(2, 3, 21);
  SessionOptions options;
  options.receive_timeout = kDeviatorTimeout;
  options.rewrite = [&c](PartyId from, PartyId, crypto::Bytes& plaintext) {
    if (from == pid(1) && plaintext.size() == c.message_size) c.tamper(plaintext);
  };
  const auto outcome = run_session(ids_of({1, 2, 3}), handler_for(keys_of(dealt, {1, 2, 3}), hash_of(c.name)), options);
  for (std::size_t i = 1; i < 3; ++i) {
    const auto& r = outcome.parties[i].result;
    EXPECT_EQ(error_text(r), c.honest_error) << "party " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TamperTest, ::testing::Range<std::size_t>(0, 12));

// A changed opening of the nonce commitment.
TEST(SignHandlerTest, OpeningThatDoesNotMatchItsCommitmentIsRefused) {
  const auto dealt = deal_key(2, 2, 31);
  SessionOptions options;
  options.receive_timeout = kDeviatorTimeout;
  // The opening of one point: varint 1 and 33 bytes, then the tag.
  options.rewrite = [](PartyId from, PartyId, crypto::Bytes& plaintext) {
    if (from == pid(2) && plaintext.size() == 1 + 33 + kTagSize && plaintext[0] == 1) {
      const auto g = Point::generator().to_compressed();
      std::copy(g.begin(), g.end(), plaintext.begin() + 1);
    }
  };
  const auto outcome = run_session(ids_of({1, 2}), handler_for(keys_of(dealt, {1, 2}), hash_of("open")), options);
  const auto& r = outcome.parties[0].result;
  ASSERT_FALSE(r.has_value());
  const auto* e = dynamic_cast<const EcdsaPresignError*>(r.error().get());
  ASSERT_NE(e, nullptr) << r.error()->debug();
  EXPECT_TRUE(e->is<EcdsaPresignError::DecommitError>());
  EXPECT_EQ(e->display(), "Received an invalid commitment");
}

// ---------------------------------------------------------------- presigning

using PresignRun = std::expected<std::vector<PreSignature>, PresignFailure>;

struct PresignAndSign {
  PresignRun presignatures = std::vector<PreSignature>{};
  std::optional<std::expected<RecoverableSignature, EcdsaSignError>> signature;
};

asio::awaitable<PresignAndSign> presign_then_sign(ProtocolExecutor root, KeyPair key, std::size_t count,
                                                  crypto::ByteArray<32> hash) {
  PresignAndSign out;
  out.presignatures = co_await ecdsa_presign(root, key, count);
  if (out.presignatures && !out.presignatures->empty()) {
    out.signature.emplace(co_await ecdsa_sign_from_presignature(root, out.presignatures->back(), key, hash));
  }
  co_return out;
}

// Three presignatures among 3 of 5: the shares add up to k·phi and x·phi,
// the public nonce is k·G everywhere, and the last one signs.
TEST(PresignTest, SharesAddUpAndOnePresignatureSigns) {
  const auto dealt = deal_key(3, 5, 41);
  const std::vector<std::uint16_t> signers = {1, 4, 5};
  const auto keys = keys_of(dealt, signers);
  const auto hash = hash_of("presign");
  const PartyFn<PresignAndSign> fn = [&keys, hash](ProtocolExecutor root, std::size_t i) {
    return presign_then_sign(std::move(root), keys[i], 3, hash);
  };
  const auto outcome = run_session(ids_of(signers), fn);
  for (const auto& p : outcome.parties) {
    ASSERT_TRUE(p.result.presignatures.has_value());
    ASSERT_EQ(p.result.presignatures->size(), 3u);
  }
  for (std::size_t b = 0; b < 3; ++b) {
    Scalar k, phi, u, v;
    for (std::size_t i = 0; i < signers.size(); ++i) {
      const PreSignature& pre = (*outcome.parties[i].result.presignatures)[b];
      k += pre.nonce_share;
      phi += pre.mask_share;
      u += pre.nonce_mask_share;
      v += pre.key_mask_share;
      EXPECT_EQ(pre.keyshare_hash, keyshare_hash(keys[i]));
      EXPECT_EQ(pre.signers, 3);
    }
    EXPECT_EQ(u, k * phi) << "index " << b;
    EXPECT_EQ(v, dealt.secret * phi) << "index " << b;
    for (const auto& p : outcome.parties) EXPECT_TRUE((*p.result.presignatures)[b].public_nonce == Point::base_mul(k));
  }
  // Different indices hold different nonces.
  EXPECT_FALSE((*outcome.parties[0].result.presignatures)[0].public_nonce ==
               (*outcome.parties[0].result.presignatures)[1].public_nonce);
  for (const auto& p : outcome.parties) {
    ASSERT_TRUE(p.result.signature && p.result.signature->has_value());
    expect_valid_output(signature_output_bytes(**p.result.signature), Point::base_mul(dealt.secret), hash);
  }
}

TEST(PresignTest, MoreThanOneHundredPresignaturesAreRefused) {
  const auto dealt = deal_key(2, 2, 43);
  const auto keys = keys_of(dealt, {1, 2});
  const PartyFn<PresignAndSign> fn = [&keys](ProtocolExecutor root, std::size_t i) {
    return presign_then_sign(std::move(root), keys[i], 101, crypto::ByteArray<32>{1});
  };
  const auto outcome = run_session(ids_of({1, 2}), fn);
  for (const auto& p : outcome.parties) {
    ASSERT_FALSE(p.result.presignatures.has_value());
    const auto* e = std::get_if<EcdsaPresignError>(&p.result.presignatures.error());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->display(), "Requested pre-signatures exceeds the supported amount");
  }
}

// ---------------------------------------------------------------- pure parts

PreSignature sample_presignature(const KeyPair& key) {
  PreSignature p;
  p.nonce_share = Scalar::from_u64(11);
  p.mask_share = Scalar::from_u64(13);
  p.key_mask_share = Scalar::from_u64(17);
  p.nonce_mask_share = Scalar::from_u64(19);
  p.public_nonce = Point::base_mul(Scalar::from_u64(23));
  p.keyshare_hash = keyshare_hash(key);
  p.signers = 2;
  return p;
}

TEST(PartialSignatureFromPresignatureTest, RefusalsBeforeAnythingIsSent) {
  const auto dealt = deal_key(2, 2, 51);
  const KeyPair& key = dealt.shares[0];
  const PreSignature pre = sample_presignature(key);
  const auto zero = crypto::ByteArray<32>{};
  const auto n = hex32("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");

  auto r = make_partial_signature(pre, dealt.shares[1], hash_of("x"));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "The provided KeyPair does not match the one used to create the pre-signature");
  // The key check comes first.
  r = make_partial_signature(pre, dealt.shares[1], zero);
  EXPECT_TRUE(r.error().is<EcdsaSignError::KeyPairDoesNotMatchPreSignature>());
  for (const auto& h : {zero, n}) {
    r = make_partial_signature(pre, key, h);
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().is<EcdsaSignError::Unknown>());
  }
}

// The nonce is shifted by d = delta / t, and w uses m and r of the shifted
// nonce.
TEST(PartialSignatureFromPresignatureTest, ShiftedShares) {
  const auto dealt = deal_key(2, 2, 53);
  const KeyPair& key = dealt.shares[0];
  const PreSignature pre = sample_presignature(key);
  const auto hash = hex32("ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff00");
  const auto ps = make_partial_signature(pre, key, hash);
  ASSERT_TRUE(ps.has_value());
  const Scalar delta = presign_randomizer(hash, pre.public_nonce, Scalar::zero());
  const Scalar d = delta * Scalar::from_u64(2).invert();
  const Point shifted = pre.public_nonce + Point::base_mul(d);
  const Scalar m = Scalar::from_bytes_reduced(hash);
  EXPECT_TRUE(ps->public_nonce == shifted);
  EXPECT_EQ(ps->u, pre.nonce_mask_share + pre.mask_share * d);
  EXPECT_EQ(ps->w, m * pre.mask_share + shifted.x_scalar() * pre.key_mask_share);
  EXPECT_EQ(ps->message_hash, hash);  // unchanged, although above n
  EXPECT_EQ(ps->public_key, key.public_key.to_compressed());
  EXPECT_EQ(ps->required, 2);
}

// Reference values computed with the Python blake3 package over
// hash (01..20) ‖ G compressed ‖ tweak.
TEST(PresignRandomizerTest, MatchesReference) {
  crypto::ByteArray<32> hash{};
  for (std::size_t i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(presign_randomizer(hash, Point::generator(), Scalar::zero()).to_bytes(),
            hex32("342047b045afeef9be08657d25e353804e5aa97624cdf2408338c5981a5b4f2c"));
  EXPECT_EQ(presign_randomizer(hash, Point::generator(), Scalar::from_u64(5)).to_bytes(),
            hex32("6d2727a69ef14fce619482047adb5497de94d6dd5fd4bbead6e2a281f8e4bd52"));
}

TEST(PresignRecordTest, WireFormAndRefusals) {
  const PresignPairRecord rec{Point::base_mul(Scalar::from_u64(2)), Point::base_mul(Scalar::from_u64(3)),
                              Point::base_mul(Scalar::from_u64(4)), Scalar::from_u64(5)};
  const std::vector<PresignPairRecord> two = {rec, rec};
  const crypto::Bytes wire = *sised::encode(two);
  ASSERT_EQ(wire.size(), 1 + 2 * kPresignPairRecordSize);
  EXPECT_EQ(wire[0], 2);
  EXPECT_TRUE(std::equal(wire.begin() + 1, wire.begin() + 34, rec.gamma_u.to_compressed().begin()));
  EXPECT_EQ(wire[131], 5);  // psi, last byte of the first record

  const auto n = *crypto::hex_decode("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
  struct Case {
    const char* name;
    std::function<void(crypto::Bytes&)> tamper;
    std::optional<std::string> error;
  };
  const Case cases[] = {
      {"as encoded", [](crypto::Bytes&) {}, std::nullopt},
      {"bytes after the records", [](crypto::Bytes& m) { m.push_back(9); }, std::nullopt},
      {"gamma_v not a point", [](crypto::Bytes& m) { m[34] = 0x07; }, "Invalid Compressed AffinePoint"},
      {"psi equal to n", [&](crypto::Bytes& m) { std::copy(n.begin(), n.end(), m.begin() + 100); }, "Invalid Scalar"},
      {"one byte short", [](crypto::Bytes& m) { m.pop_back(); }, "Out of bounds"},
      // 296 bytes charged per record: 14,169 fit in 4 MiB, 14,170 do not.
      {"14,169 announced", [](crypto::Bytes& m) { m = {0xFD, 0x59, 0x37}; }, "Out of bounds"},
      {"14,170 announced", [](crypto::Bytes& m) { m = {0xFD, 0x5A, 0x37}; }, "Heap size limit exceeded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    crypto::Bytes m = wire;
    c.tamper(m);
    const auto direct = decode_presign_records(m);
    const auto generic = sised::decode<std::vector<PresignPairRecord>>(m);
    ASSERT_EQ(direct.has_value(), generic.has_value());
    if (!c.error) {
      ASSERT_TRUE(direct.has_value());
      ASSERT_EQ(direct->size(), 2u);
      EXPECT_TRUE((*direct)[1].public_share == rec.public_share);
      EXPECT_EQ((*direct)[1].psi, rec.psi);
    } else {
      ASSERT_FALSE(direct.has_value());
      EXPECT_EQ(direct.error().display(), *c.error);
      EXPECT_EQ(generic.error().display(), *c.error);
    }
  }
}

// With no peers: S = phi, u = k·phi, v = s·phi, R = R_i.
TEST(CombinePresignatureTest, SingleSigner) {
  const auto dealt = deal_key(1, 1, 61);
  const std::vector<Scalar> k = {Scalar::from_u64(3), Scalar::from_u64(4)};
  const std::vector<Scalar> phi = {Scalar::from_u64(5), Scalar::from_u64(6)};
  const std::vector<Scalar> s = {Scalar::from_u64(7), Scalar::from_u64(8)};
  const std::vector<Point> r = {Point::base_mul(k[0]), Point::base_mul(k[1])};
  PresignCombineInputs in;
  in.own_nonce_points = r;
  in.mask_shares = phi;
  in.nonce_shares = k;
  in.key_shares = s;
  in.key_pair = &dealt.shares[0];
  in.signers = 1;
  in.first = 0;
  in.last = 2;
  const auto out = combine_presignature(in);
  ASSERT_EQ(out.size(), 2u);
  for (std::size_t b = 0; b < 2; ++b) {
    EXPECT_EQ(out[b].nonce_mask_share, k[b] * phi[b]);
    EXPECT_EQ(out[b].key_mask_share, s[b] * phi[b]);
    EXPECT_TRUE(out[b].public_nonce == r[b]);
  }
  in.last = 3;
  EXPECT_THROW((void)combine_presignature(in), Panic);
}

}  // namespace
}  // namespace velto::ecdsa
