// ECDSA key generation, signing and full-key export driven exactly as a C
// caller drives them: every party is a set of calls in this process with its
// own keygen identity and callback recorder, all meeting in rooms of the
// local relay on loopback. Signatures and keys are checked with libsecp256k1
// and an independent BIP32 public derivation (OpenSSL HMAC-SHA512), not with
// the library's own verifier.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/velto.h"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/refusals.hpp"
#include "velto-ecdsa/keys.hpp"

namespace velto::executor {
namespace {

using ::testing::HasSubstr;
using testing::CallbackRecorder;
using testing::cstrs;
using testing::expect_refusals;
using testing::Refusal;
using testing::wait_one;
using testing::local_text;
using namespace testing::refusal_texts;
using testing::Completion;
using testing::cstr;
using testing::LocalRelay;
using testing::take;
using testing::Identity;
using testing::kExecutorError;
using testing::new_identity;

// ------------------------------------------------------------ parties

struct KeygenParty {
  const Identity* self;
  std::vector<std::string> keygen_ids;  // as the party passes them
  std::uint16_t n;
  std::uint16_t t;
};

// Every party's key generation in one new room, side by side.
std::vector<Completion> run_keygen(LocalRelay& relay, const std::vector<KeygenParty>& parties) {
  const std::string room = relay.new_room(static_cast<std::uint16_t>(parties.size()));
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (const auto& p : parties) {
    recs.push_back(std::make_unique<CallbackRecorder>());
    const auto ids = cstrs(p.keygen_ids);
    const auto r = take(velto_ecdsa_keygen(p.n, p.t, cstr(p.self->secret), cstr(room), cstr(relay.host()),
                                           ConstStrArray{ids.data(), ids.size()}, &CallbackRecorder::double_cb,
                                           recs.back().get()));
    EXPECT_EQ(r.code, 0) << r.message;
  }
  std::vector<Completion> out;
  for (auto& rec : recs) out.push_back(wait_one(*rec));
  return out;
}

struct SignParty {
  std::string share;
  std::string hash;
  std::vector<std::uint32_t> path;
};

std::vector<Completion> run_sign(LocalRelay& relay, const std::vector<SignParty>& parties) {
  const std::string room = relay.new_room(static_cast<std::uint16_t>(parties.size()));
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (const auto& p : parties) {
    recs.push_back(std::make_unique<CallbackRecorder>());
    const auto r = take(velto_ecdsa_sign(cstr(p.share), cstr(p.hash), cstr(room), cstr(relay.host()),
                                         U32Array{p.path.data(), p.path.size()}, &CallbackRecorder::single_cb,
                                         recs.back().get()));
    EXPECT_EQ(r.code, 0) << r.message;
  }
  std::vector<Completion> out;
  for (auto& rec : recs) out.push_back(wait_one(*rec));
  return out;
}

std::vector<Completion> run_export(LocalRelay& relay, const std::vector<std::string>& shares,
                                   const std::string& export_to) {
  const std::string room = relay.new_room(static_cast<std::uint16_t>(shares.size()));
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (const auto& s : shares) {
    recs.push_back(std::make_unique<CallbackRecorder>());
    const auto r = take(velto_ecdsa_export_full_private_key(cstr(s), cstr(export_to), cstr(room), cstr(relay.host()),
                                                            &CallbackRecorder::single_cb, recs.back().get()));
    EXPECT_EQ(r.code, 0) << r.message;
  }
  std::vector<Completion> out;
  for (auto& rec : recs) out.push_back(wait_one(*rec));
  return out;
}


// ------------------------------------------------------------ independent checks

crypto::Bytes unhex(const std::string& text) {
  auto b = crypto::hex_decode(text);
  EXPECT_TRUE(b.has_value()) << text;
  return b.value_or(crypto::Bytes{});
}

secp256k1_pubkey parse_pubkey(const crypto::Bytes& sec1) {
  secp256k1_pubkey key;
  EXPECT_EQ(secp256k1_ec_pubkey_parse(crypto::secp256k1_ctx(), &key, sec1.data(), sec1.size()), 1);
  return key;
}

std::array<std::uint8_t, 33> compressed(const secp256k1_pubkey& key) {
  std::array<std::uint8_t, 33> out{};
  std::size_t len = out.size();
  secp256k1_ec_pubkey_serialize(crypto::secp256k1_ctx(), out.data(), &len, &key, SECP256K1_EC_COMPRESSED);
  return out;
}

// BIP32 public (non-hardened) child derivation along `path`.
secp256k1_pubkey bip32_public_child(secp256k1_pubkey key, std::array<std::uint8_t, 32> chain,
                                    const std::vector<std::uint32_t>& path) {
  for (const std::uint32_t index : path) {
    std::array<std::uint8_t, 37> data{};
    const auto ser = compressed(key);
    std::copy(ser.begin(), ser.end(), data.begin());
    for (int i = 0; i < 4; ++i) data[33 + i] = static_cast<std::uint8_t>(index >> (24 - 8 * i));
    std::array<std::uint8_t, 64> i64{};
    unsigned int len = 0;
    HMAC(EVP_sha512(), chain.data(), static_cast<int>(chain.size()), data.data(), data.size(), i64.data(), &len);
    EXPECT_EQ(secp256k1_ec_pubkey_tweak_add(crypto::secp256k1_ctx(), &key, i64.data()), 1);
    std::copy(i64.begin() + 32, i64.end(), chain.begin());
  }
  return key;
}

// The signature text: r ‖ s ‖ v (27 + recovery id) ‖ DER(r, s). It must
// verify under `key`, recover `key`, and its DER part must parse to r ‖ s.
void expect_signature_text(const std::string& text, const secp256k1_pubkey& key, const crypto::Bytes& hash) {
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  ASSERT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
  const crypto::Bytes sig = unhex(text);
  ASSERT_GE(sig.size(), 73u);
  ASSERT_LE(sig.size(), 137u);
  ASSERT_GE(sig[64], 27);
  ASSERT_LE(sig[64], 30);

  secp256k1_ecdsa_signature compact;
  ASSERT_EQ(secp256k1_ecdsa_signature_parse_compact(ctx, &compact, sig.data()), 1);
  EXPECT_EQ(secp256k1_ecdsa_verify(ctx, &compact, hash.data(), &key), 1);

  secp256k1_ecdsa_recoverable_signature rsig;
  ASSERT_EQ(secp256k1_ecdsa_recoverable_signature_parse_compact(ctx, &rsig, sig.data(), sig[64] - 27), 1);
  secp256k1_pubkey recovered;
  ASSERT_EQ(secp256k1_ecdsa_recover(ctx, &recovered, &rsig, hash.data()), 1);
  EXPECT_EQ(secp256k1_ec_pubkey_cmp(ctx, &recovered, &key), 0);

  secp256k1_ecdsa_signature der;
  ASSERT_EQ(secp256k1_ecdsa_signature_parse_der(ctx, &der, sig.data() + 65, sig.size() - 65), 1);
  std::array<std::uint8_t, 64> der_compact{};
  secp256k1_ecdsa_signature_serialize_compact(ctx, der_compact.data(), &der);
  EXPECT_TRUE(std::equal(der_compact.begin(), der_compact.end(), sig.begin()));
  // The DER form is exactly the rest of the text.
  std::array<std::uint8_t, 72> reencoded{};
  std::size_t der_len = reencoded.size();
  secp256k1_ecdsa_signature_serialize_der(ctx, reencoded.data(), &der_len, &der);
  EXPECT_EQ(der_len, sig.size() - 65);
}

EcdsaStorableSecretShare decode_share(const std::string& text) {
  auto share = ecdsa_share_decode(text);
  EXPECT_TRUE(share.has_value()) << share.error().display();
  return std::move(share).value();
}

std::array<std::uint8_t, 32> chain_code_of(const std::string& share_text) {
  const auto share = decode_share(share_text);
  std::array<std::uint8_t, 32> out{};
  const auto& code = std::get<3>(share.key_share).chain_code;
  std::copy(code.begin(), code.end(), out.begin());
  return out;
}

std::string hash_hex(std::uint8_t salt) {
  crypto::Bytes h(32);
  for (std::size_t i = 0; i < h.size(); ++i) h[i] = static_cast<std::uint8_t>(i * 13 + salt);
  return crypto::hex_encode(h);
}

// ------------------------------------------------------------ fixture

// One relay and one (2, 3) key for the whole suite: key generation through
// the relay is the expensive step, and every later test only reads the
// shares.
class EcdsaOps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    relay_ = new LocalRelay();
    for (int i = 0; i < 3; ++i) ids_.push_back(new_identity());
    // Party 0 also names itself and repeats an id: neither changes the set.
    keygen_ = run_keygen(*relay_, {{&ids_[0], {ids_[1].id, ids_[2].id, ids_[0].id, ids_[1].id}, 3, 2},
                                   {&ids_[1], {ids_[0].id, ids_[2].id}, 3, 2},
                                   {&ids_[2], {ids_[1].id, ids_[0].id}, 3, 2}});
  }
  static void TearDownTestSuite() {
    delete relay_;
    relay_ = nullptr;
    ids_.clear();
    keygen_.clear();
  }

  void SetUp() override {
    ASSERT_EQ(keygen_.size(), 3u);
    for (const auto& c : keygen_) {
      ASSERT_EQ(c.result.code, 0) << c.result.message;
      ASSERT_TRUE(c.first && c.second);
    }
  }

  static const std::string& share(std::size_t i) { return *keygen_[i].second; }
  static const std::string& group_key_hex() { return *keygen_[0].first; }
  static secp256k1_pubkey group_key() { return parse_pubkey(unhex(group_key_hex())); }

  static LocalRelay* relay_;
  static std::vector<Identity> ids_;
  static std::vector<Completion> keygen_;
};

LocalRelay* EcdsaOps::relay_ = nullptr;
std::vector<Identity> EcdsaOps::ids_;
std::vector<Completion> EcdsaOps::keygen_;

TEST_F(EcdsaOps, KeygenGivesEveryPartyTheSameKeyAndItsOwnShare) {
  const std::string& key = group_key_hex();
  EXPECT_EQ(key.size(), 130u);
  EXPECT_TRUE(key.starts_with("04"));
  EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
  (void)group_key();  // a point on the curve

  // The session numbers the parties by the bytewise order of their keys.
  std::vector<crypto::ByteArray<32>> sorted;
  for (const auto& id : ids_) {
    auto raw = crypto::base58_decode(id.id);
    ASSERT_TRUE(raw.has_value());
    crypto::ByteArray<32> k{};
    std::copy(raw->begin(), raw->end(), k.begin());
    sorted.push_back(k);
  }
  std::sort(sorted.begin(), sorted.end());

  std::set<std::uint16_t> own_ids;
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(*keygen_[i].first, key);
    const auto s = decode_share(share(i));
    ASSERT_EQ(s.tag(), EcdsaShareTag::Latest);
    const auto& kp = std::get<3>(s.key_share);
    EXPECT_EQ(kp.threshold, 2);
    EXPECT_EQ(kp.num_parties, 3);
    EXPECT_EQ(crypto::hex_encode(ecdsa::pubkey_to_uncompressed(kp.public_key)), key);
    ASSERT_EQ(s.partyid_pubkey_map.size(), 3u);
    std::uint16_t pid = 1;
    for (const auto& [id, pk] : s.partyid_pubkey_map) {
      EXPECT_EQ(id.value(), pid++);
      EXPECT_EQ(pk.bytes(), sorted[id.value() - 1u]);
    }
    // The share holds the caller's transport key, under its own party id.
    EXPECT_EQ(crypto::base58_encode(s.transport_keypair.public_key().bytes()), ids_[i].id);
    EXPECT_EQ(s.partyid_pubkey_map.at(kp.party_id), s.transport_keypair.public_key());
    own_ids.insert(kp.party_id.value());
  }
  EXPECT_EQ(own_ids.size(), 3u);
}

TEST_F(EcdsaOps, TwoOfThreeSignWithTheGroupKey) {
  const std::string hash = hash_hex(1);
  const auto done = run_sign(*relay_, {{share(0), hash, {}}, {share(2), hash, {}}});
  for (const auto& c : done) {
    ASSERT_EQ(c.result.code, 0) << c.result.message;
    ASSERT_TRUE(c.first.has_value());
    EXPECT_EQ(c.first->size() % 2, 0u);
    expect_signature_text(*c.first, group_key(), unhex(hash));
  }
  EXPECT_EQ(*done[0].first, *done[1].first);
}

TEST_F(EcdsaOps, SigningAlongAPathUsesTheBip32ChildKey) {
  const std::string hash = hash_hex(2);
  const std::vector<std::uint32_t> path = {0, 7, 2147483647};
  const auto done = run_sign(*relay_, {{share(1), hash, path}, {share(2), hash, path}});

  // The child key, derived here from the share's xpub: it must be the key the
  // library reports for the path, and the key the signature verifies under.
  const std::string xpub = local_text(velto_ecdsa_get_xpub, share(1));
  auto raw = crypto::base58check_decode(xpub);
  ASSERT_TRUE(raw.has_value());
  ASSERT_EQ(raw->size(), 78u);
  EXPECT_EQ(crypto::hex_encode(crypto::ByteSpan(raw->data(), 4)), "0488b21e");
  std::array<std::uint8_t, 32> chain{};
  std::copy(raw->begin() + 13, raw->begin() + 45, chain.begin());
  EXPECT_EQ(chain, chain_code_of(share(1)));
  const secp256k1_pubkey master = parse_pubkey(crypto::Bytes(raw->begin() + 45, raw->end()));
  const secp256k1_pubkey key = group_key();
  EXPECT_EQ(secp256k1_ec_pubkey_cmp(crypto::secp256k1_ctx(), &master, &key), 0);
  const secp256k1_pubkey child = bip32_public_child(master, chain, path);

  HeapString derived{nullptr, 0};
  const auto r = take(velto_ecdsa_derive_pubkey(cstr(share(2)), U32Array{path.data(), path.size()}, &derived));
  ASSERT_EQ(r.code, 0) << r.message;
  const std::string derived_hex(reinterpret_cast<const char*>(derived.ptr), derived.len);
  velto_dealloc_heap_string(derived.ptr, derived.len);
  const secp256k1_pubkey reported = parse_pubkey(unhex(derived_hex));
  EXPECT_EQ(secp256k1_ec_pubkey_cmp(crypto::secp256k1_ctx(), &reported, &child), 0);

  for (const auto& c : done) {
    ASSERT_EQ(c.result.code, 0) << c.result.message;
    ASSERT_TRUE(c.first.has_value());
    expect_signature_text(*c.first, child, unhex(hash));
  }
}

TEST_F(EcdsaOps, HardenedIndexFailsThroughTheCallback) {
  // Accepted by the call; the operation refuses the path before it contacts
  // the relay, so nobody else has to join.
  const std::string room = relay_->new_room(2);
  const std::string hash = hash_hex(3);
  const std::vector<std::uint32_t> path = {0, 2147483648u};
  CallbackRecorder rec;
  const auto r = take(velto_ecdsa_sign(cstr(share(0)), cstr(hash), cstr(room), cstr(relay_->host()),
                                       U32Array{path.data(), path.size()}, &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  const Completion c = wait_one(rec);
  EXPECT_EQ(c.result.code, -8);
  EXPECT_EQ(c.result.message,
            kExecutorError + "The derivation path contains an invalid derivation: `0/2147483648`");
  EXPECT_FALSE(c.first.has_value());
}

TEST_F(EcdsaOps, SignersWithDifferentHashesAllFail) {
  const auto done = run_sign(*relay_, {{share(0), hash_hex(4), {}}, {share(1), hash_hex(5), {}}});
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, -8);
    EXPECT_THAT(c.result.message, ::testing::StartsWith(kExecutorError));
    EXPECT_FALSE(c.first.has_value());
  }
  // The party whose channel set-up met the other's message names the cause.
  EXPECT_TRUE(done[0].result.message.find("mismatched parameters") != std::string::npos ||
              done[1].result.message.find("mismatched parameters") != std::string::npos)
      << done[0].result.message << "\n" << done[1].result.message;
}

TEST_F(EcdsaOps, ExportRebuildsTheKeyAtTheReceiverOnly) {
  // Parties 0 and 1 take part; party 1 receives.
  const auto done = run_export(*relay_, {share(0), share(1)}, ids_[1].id);
  ASSERT_EQ(done[0].result.code, 0) << done[0].result.message;
  EXPECT_TRUE(done[0].result.message_null);
  EXPECT_FALSE(done[0].first.has_value());  // {null, 0}
  ASSERT_EQ(done[1].result.code, 0) << done[1].result.message;
  ASSERT_TRUE(done[1].first.has_value());

  // BIP32 extended private key: version, depth 0, no parent, child 0, the
  // share's chain code, 00 ‖ key.
  auto raw = crypto::base58check_decode(*done[1].first);
  ASSERT_TRUE(raw.has_value());
  ASSERT_EQ(raw->size(), 78u);
  const crypto::Bytes& x = *raw;
  EXPECT_EQ(crypto::hex_encode(crypto::ByteSpan(x.data(), 13)), "0488ade4000000000000000000");
  const auto chain = chain_code_of(share(1));
  EXPECT_TRUE(std::equal(chain.begin(), chain.end(), x.begin() + 13));
  EXPECT_EQ(x[45], 0);
  secp256k1_pubkey from_key;
  ASSERT_EQ(secp256k1_ec_pubkey_create(crypto::secp256k1_ctx(), &from_key, x.data() + 46), 1);
  const secp256k1_pubkey key = group_key();
  EXPECT_EQ(secp256k1_ec_pubkey_cmp(crypto::secp256k1_ctx(), &from_key, &key), 0);

  // The offline export of any two shares gives the same text.
  for (const auto& [a, b] : {std::pair{0, 2}, std::pair{2, 1}}) {
    const std::vector<ConstStr> pair = {cstr(share(a)), cstr(share(b))};
    HeapString out{nullptr, 0};
    const auto r = take(velto_ecdsa_offline_export_full_private_key(ConstStrArray{pair.data(), pair.size()}, &out));
    ASSERT_EQ(r.code, 0) << r.message;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.ptr), out.len), *done[1].first) << a << "," << b;
    velto_dealloc_heap_string(out.ptr, out.len);
  }
}

TEST_F(EcdsaOps, ExportToAPartyOutsideTheSessionFailsEverywhere) {
  // Party 1 is a holder of the key but not in the room.
  const auto done = run_export(*relay_, {share(0), share(2)}, ids_[1].id);
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, -8);
    EXPECT_EQ(c.result.message,
              kExecutorError + "The provided public key(`" + ids_[1].id + "`) doesn't exist in the party list");
    EXPECT_FALSE(c.first.has_value());
  }
}

TEST_F(EcdsaOps, ExportToAKeyOfNoHolderFailsBeforeTheRelay) {
  const Identity stranger = new_identity();
  const std::string room = relay_->new_room(2);
  CallbackRecorder rec;
  const auto r = take(velto_ecdsa_export_full_private_key(cstr(share(0)), cstr(stranger.id), cstr(room),
                                                          cstr(relay_->host()), &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  const Completion c = wait_one(rec);
  EXPECT_EQ(c.result.code, -8);
  EXPECT_EQ(c.result.message,
            kExecutorError + "The provided public key(`" + stranger.id + "`) doesn't exist in the party list");
}

TEST_F(EcdsaOps, KeygenWithFewerKnownPartiesThanNFails) {
  // Two parties in a room of two, each naming only the other, but n = 3.
  const Identity a = new_identity();
  const Identity b = new_identity();
  const auto done = run_keygen(*relay_, {{&a, {b.id}, 3, 2}, {&b, {a.id}, 3, 2}});
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, -8);
    EXPECT_EQ(c.result.message, kExecutorError + "Invalid number of parties: expected 3, got 2");
    EXPECT_FALSE(c.first.has_value());
    EXPECT_FALSE(c.second.has_value());
  }
}

// ------------------------------------------------------------ refusals

TEST(EcdsaOpsRefusals, Keygen) {
  const Identity me = new_identity();
  const Identity other = new_identity();
  const std::vector<std::string> id_texts = {other.id};
  const auto ids = cstrs(id_texts);
  const std::vector<std::string> bad_id_texts = {other.id, "", me.id};
  const auto bad_ids = cstrs(bad_id_texts);
  const std::string short_secret = "abc";
  const std::string bad_host = "relay.example/path";
  const std::string dashed = "01234567-89ab-cdef-0123-456789abcdef";
  const std::string odd = "abc";
  const std::string not_hex = "0123456789abcdef0123456789abcdeg";
  const ConstStr empty_non_null{reinterpret_cast<const std::uint8_t*>(kRoom.data()), 0};

  struct Args {
    std::uint16_t n = 3, t = 2;
    ConstStr secret, room, host;
    ConstStrArray ids;
    bool callback = true;
  };
  const Args good{3, 2, cstr(me.secret), cstr(kRoom), cstr(kHost), ConstStrArray{ids.data(), ids.size()}};
  auto call = [](Args a) {
    return [a](void* ctx) {
      return velto_ecdsa_keygen(a.n, a.t, a.secret, a.room, a.host, a.ids,
                                a.callback ? &CallbackRecorder::double_cb : nullptr, ctx);
    };
  };
  auto with = [&](auto change) {
    Args a = good;
    change(a);
    return call(a);
  };

  expect_refusals({
      {"empty host", with([](Args& a) { a.host = ConstStr{nullptr, 0}; }), -2, kHostErr + "empty string"},
      {"host with a path", with([&](Args& a) { a.host = cstr(bad_host); }), -2, kHostErr + "invalid uri character"},
      {"bad host before bad room", with([&](Args& a) {
         a.host = ConstStr{nullptr, 0};
         a.room = cstr(odd);
       }),
       -2, kHostErr + "empty string"},
      {"empty room, non-null pointer", with([&](Args& a) { a.room = empty_non_null; }), -1,
       kRoomErr + "Invalid string length, expected 32 characters, found: 0"},
      {"room with hyphens", with([&](Args& a) { a.room = cstr(dashed); }), -1,
       kRoomErr + "Invalid string length, expected 32 characters, found: 36"},
      {"odd room", with([&](Args& a) { a.room = cstr(odd); }), -1, kRoomErr + "Odd number of digits"},
      {"room not hex", with([&](Args& a) { a.room = cstr(not_hex); }), -1,
       kRoomErr + "Invalid character 'g' at position 31"},
      {"bad room before bad n", with([&](Args& a) {
         a.room = cstr(odd);
         a.n = 0;
       }),
       -1, kRoomErr + "Odd number of digits"},
      {"n 0", with([](Args& a) { a.n = 0; }), -6, kCountErr + "0 (must be between 1..=8192)"},
      {"n 8193", with([](Args& a) { a.n = 8193; }), -6, kCountErr + "8193 (must be between 1..=8192)"},
      {"t 0 before a bad secret", with([&](Args& a) {
         a.t = 0;
         a.secret = cstr(short_secret);
       }),
       -6, kCountErr + "0 (must be between 1..=8192)"},
      {"short secret", with([&](Args& a) { a.secret = cstr(short_secret); }), -9,
       kKeypairErr + "Invalid keypair length, expected 64 hex chars, found: 3"},
      {"keygen ids null with count 3", with([](Args& a) { a.ids = ConstStrArray{nullptr, 3}; }), -10,
       kKeygenIdErr + "Received a slice with null pointer, but length: 3"},
      {"empty keygen id", with([&](Args& a) { a.ids = ConstStrArray{bad_ids.data(), bad_ids.size()}; }), -10,
       kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      // Refused before the array is read (it holds far fewer elements).
      {"8193 keygen ids", with([&](Args& a) { a.ids = ConstStrArray{ids.data(), 8193}; }), -10,
       kKeygenIdErr + "Received a slice of length 8193, but at most 8192 elements are accepted"},
      {"2^40 keygen ids", with([&](Args& a) { a.ids = ConstStrArray{ids.data(), std::uint64_t{1} << 40}; }), -10,
       kKeygenIdErr + "Received a slice of length 1099511627776, but at most 8192 elements are accepted"},
      {"2^64 - 1 keygen ids", with([&](Args& a) { a.ids = ConstStrArray{ids.data(), ~std::uint64_t{0}}; }), -10,
       kKeygenIdErr + "Received a slice of length 18446744073709551615, but at most 8192 elements are accepted"},
      {"null callback", with([](Args& a) { a.callback = false; }), -253, kNullCallback},
  });
}

TEST(EcdsaOpsRefusals, Sign) {
  const std::string hash = hash_hex(9);
  const std::string short_hash = "abc";
  const std::string bad_share = "zz";
  const std::string slash_host = "relay.example/";
  const std::vector<std::uint32_t> path = {1, 2};
  struct Args {
    ConstStr share, hash, room, host;
    U32Array path;
    bool callback = true;
  };
  const Args good{cstr(bad_share), cstr(hash), cstr(kRoom), cstr(kHost), U32Array{path.data(), path.size()}};
  auto with = [&](auto change) {
    Args a = good;
    change(a);
    return [a](void* ctx) {
      return velto_ecdsa_sign(a.share, a.hash, a.room, a.host, a.path,
                              a.callback ? &CallbackRecorder::single_cb : nullptr, ctx);
    };
  };

  expect_refusals({
      {"host with a slash", with([&](Args& a) { a.host = cstr(slash_host); }), -2,
       kHostErr + "invalid uri character"},
      {"empty room, non-null pointer",
       with([&](Args& a) { a.room = ConstStr{reinterpret_cast<const std::uint8_t*>(kRoom.data()), 0}; }), -1,
       kRoomErr + "Invalid string length, expected 32 characters, found: 0"},
      {"short hash before a bad share", with([&](Args& a) { a.hash = cstr(short_hash); }), -4,
       kMessageErr + "Invalid Hex length, expected 64 hex chars, found: 3"},
      {"hash null pointer", with([](Args& a) { a.hash = ConstStr{nullptr, 64}; }), -4,
       kMessageErr + "Received a slice with null pointer, but length: 64"},
      {"share not hex", with([](Args&) {}), -3, kShareErr + "Invalid hex encoding"},
  });
}

TEST(EcdsaOpsRefusals, Export) {
  const std::string bad_share = "zz";
  const std::string short_key = "1111";  // Base58 of four zero bytes
  const std::string host_path = "relay.example/x";
  struct Args {
    ConstStr share, export_to, room, host;
    bool callback = true;
  };
  const Args good{cstr(bad_share), cstr(short_key), cstr(kRoom), cstr(kHost)};
  auto with = [&](auto change) {
    Args a = good;
    change(a);
    return [a](void* ctx) {
      return velto_ecdsa_export_full_private_key(a.share, a.export_to, a.room, a.host,
                                                 a.callback ? &CallbackRecorder::single_cb : nullptr, ctx);
    };
  };

  expect_refusals({
      {"empty host", with([](Args& a) { a.host = ConstStr{nullptr, 0}; }), -2, kHostErr + "empty string"},
      {"host with a path", with([&](Args& a) { a.host = cstr(host_path); }), -2,
       kHostErr + "invalid uri character"},
      {"room null pointer", with([](Args& a) { a.room = ConstStr{nullptr, 32}; }), -1,
       kRoomErr + "Received a slice with null pointer, but length: 32"},
      {"bad share before a bad receiver", with([](Args&) {}), -3, kShareErr + "Invalid hex encoding"},
  });
}

// Arguments that need a well-formed share: taken from the suite's key.
TEST_F(EcdsaOps, RefusalsAfterTheShare) {
  const std::string hash = hash_hex(10);
  const std::string short_key = "1111";
  const std::string empty;
  expect_refusals({
      {"sign: path null with count 2",
       [&](void* ctx) {
         return velto_ecdsa_sign(cstr(share(0)), cstr(hash), cstr(kRoom), cstr(kHost), U32Array{nullptr, 2},
                                 &CallbackRecorder::single_cb, ctx);
       },
       -11, kPathErr + "Received a slice with null pointer, but length: 2"},
      {"sign: null callback",
       [&](void* ctx) {
         return velto_ecdsa_sign(cstr(share(0)), cstr(hash), cstr(kRoom), cstr(kHost), U32Array{nullptr, 0}, nullptr,
                                 ctx);
       },
       -253, kNullCallback},
      {"export: receiver of the wrong length",
       [&](void* ctx) {
         return velto_ecdsa_export_full_private_key(cstr(share(0)), cstr(short_key), cstr(kRoom), cstr(kHost),
                                                    &CallbackRecorder::single_cb, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 4"},
      {"export: empty receiver",
       [&](void* ctx) {
         return velto_ecdsa_export_full_private_key(cstr(share(0)), cstr(empty), cstr(kRoom), cstr(kHost),
                                                    &CallbackRecorder::single_cb, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"export: null callback",
       [&](void* ctx) {
         return velto_ecdsa_export_full_private_key(cstr(share(0)), cstr(ids_[1].id), cstr(kRoom), cstr(kHost),
                                                    nullptr, ctx);
       },
       -253, kNullCallback},
  });
}

}  // namespace
}  // namespace velto::executor
