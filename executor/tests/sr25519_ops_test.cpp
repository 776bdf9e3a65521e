// The sr25519 operations driven exactly as a C caller drives them: every
// party is a set of calls in this process with its own keygen identity and
// callback recorder, all meeting in rooms of the local relay on loopback.
// Public keys are recomputed from rebuilt secrets with libsodium
// (crypto_scalarmult_ristretto255_base) and seed expansion with libsodium's
// SHA-512, not with the library's own code; signatures are checked with the
// library's sr25519 verifier here (its own tests hold it to published
// vectors) and with an independent verifier by the Python oracle check.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/ristretto255.hpp"
#include "executor/bindings/velto.h"
#include "executor/lib/version.hpp"
#include "executor/sr25519_share.hpp"
#include "executor/tests/announce_seam.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/party_calls.hpp"
#include "executor/tests/refusals.hpp"
#include "velto-frost-sr25519/sign.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::Completion;
using testing::cstr;
using testing::cstrs;
using testing::expect_all_failed;
using testing::expect_all_succeeded;
using testing::ids_of;
using testing::expect_refusals;
using testing::Identity;
using testing::kExecutorError;
using testing::local;
using testing::message_hex;
using testing::LocalOut;
using testing::LocalRelay;
using testing::new_identity;
using testing::PartyCall;
using testing::run_room;
using testing::run_rooms;
using testing::take;
using testing::Texts;
using testing::unhex;
using testing::wait_one;
using namespace testing::refusal_texts;

using Path = std::vector<std::string>;

// ------------------------------------------------------------ parties

PartyCall keygen_call(const Identity& self, std::vector<std::string> ids, std::uint16_t n, std::uint16_t t) {
  return [&self, ids, n, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_sr25519_keygen(n, t, cstr(self.secret), cstr(room), cstr(host), texts.array(),
                                &CallbackRecorder::double_cb, rec);
  };
}

PartyCall sign_call(const std::string& share, const std::string& message_hex, Path path) {
  return [&share, message_hex, path](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts junctions{path, {}};
    return velto_sr25519_sign(cstr(share), cstr(message_hex), cstr(room), cstr(host), junctions.array(),
                              &CallbackRecorder::single_cb, rec);
  };
}

PartyCall export_call(const std::string& share, const std::string& export_to) {
  return [&share, export_to](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_sr25519_export_full_private_key(cstr(share), cstr(export_to), cstr(room), cstr(host),
                                                 &CallbackRecorder::single_cb, rec);
  };
}

PartyCall refresh_call(const std::string& share) {
  return [&share](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_sr25519_refresh(cstr(share), &CallbackRecorder::double_cb, rec, cstr(room), cstr(host));
  };
}

PartyCall reshare_remaining_call(const std::string& share, std::vector<std::string> ids, std::uint16_t t) {
  return [&share, ids, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_sr25519_reshare_remaining_party(t, cstr(share), texts.array(), cstr(room), cstr(host),
                                                 &CallbackRecorder::double_cb, rec);
  };
}

PartyCall reshare_new_call(const Identity& self, std::vector<std::string> ids, std::uint16_t t) {
  return [&self, ids, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_sr25519_reshare_new_party(t, cstr(self.secret), texts.array(), cstr(room), cstr(host),
                                           &CallbackRecorder::double_cb, rec);
  };
}

PartyCall import_recipient_call(const Identity& self, std::vector<std::string> ids, std::uint16_t t) {
  return [&self, ids, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_sr25519_import_private_key_recipient(t, cstr(self.secret), texts.array(), cstr(room), cstr(host),
                                                      &CallbackRecorder::double_cb, rec);
  };
}

PartyCall import_importer_call(const Identity& self, std::vector<std::string> ids, std::uint16_t t,
                               std::string key_hex, std::uint8_t is_raw) {
  return [&self, ids, t, key_hex, is_raw](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_sr25519_import_private_key_importer(t, cstr(key_hex), cstr(self.secret), cstr(room), cstr(host),
                                                     texts.array(), is_raw, &CallbackRecorder::double_cb, rec);
  };
}

// ------------------------------------------------------------ local functions

LocalOut derive_pubkey_out(const std::string& share, const Path& path) {
  Texts junctions{path, {}};
  return local([&](HeapString* out) { return velto_sr25519_derive_pubkey(cstr(share), junctions.array(), out); });
}

std::string derive_pubkey(const std::string& share, const Path& path) {
  const auto r = derive_pubkey_out(share, path);
  EXPECT_EQ(r.result.code, 0) << r.result.message;
  return r.text;
}

LocalOut derive_from_pubkey(const std::string& key, const Path& path) {
  Texts junctions{path, {}};
  return local(
      [&](HeapString* out) { return velto_sr25519_derive_pubkey_from_pubkey(cstr(key), junctions.array(), out); });
}

LocalOut derive_private(const std::string& key, std::uint8_t is_raw, const Path& path) {
  Texts junctions{path, {}};
  return local([&](HeapString* out) {
    return velto_sr25519_derive_private_key_from_private_key(cstr(key), is_raw, junctions.array(), out);
  });
}

std::string get_pubkey(const std::string& share) {
  const auto r = local([&](HeapString* out) { return velto_sr25519_get_pubkey(cstr(share), out); });
  EXPECT_EQ(r.result.code, 0) << r.result.message;
  return r.text;
}

std::string export_id(const std::string& share) {
  const auto r = local([&](HeapString* out) { return velto_sr25519_get_export_id(cstr(share), out); });
  EXPECT_EQ(r.result.code, 0) << r.result.message;
  return r.text;
}

LocalOut offline_export(const std::vector<std::string>& shares) {
  const auto views = cstrs(shares);
  return local([&](HeapString* out) {
    return velto_sr25519_offline_export_full_private_key(ConstStrArray{views.data(), views.size()}, out);
  });
}

// ------------------------------------------------------------ independent checks

// s·B on ristretto255 for a 64-hex little-endian scalar (libsodium).
std::string base_mul_hex(const std::string& scalar_hex) {
  const crypto::Bytes scalar = unhex(scalar_hex);
  if (scalar.size() != 32) {
    ADD_FAILURE() << "not a 32-byte scalar: " << scalar_hex;
    return {};
  }
  std::array<std::uint8_t, 32> point{};
  EXPECT_EQ(crypto_scalarmult_ristretto255_base(point.data(), scalar.data()), 0);
  return crypto::hex_encode(point);
}

// The secret scalar of a 32-byte seed: SHA-512, the first half clamped as
// for Ed25519 and divided by the cofactor 8 (a right shift of 3 bits).
std::string expanded_seed_hex(const std::string& seed_hex) {
  const crypto::Bytes seed = unhex(seed_hex);
  std::array<std::uint8_t, 64> h{};
  crypto_hash_sha512(h.data(), seed.data(), seed.size());
  h[0] &= 248;
  h[31] &= 63;
  h[31] |= 64;
  std::array<std::uint8_t, 32> s{};
  for (int i = 0; i < 32; ++i) {
    const unsigned high = i + 1 < 32 ? h[i + 1] : 0;
    s[i] = static_cast<std::uint8_t>((h[i] >> 3) | (high << 5));
  }
  return crypto::hex_encode(s);
}

// The signature text is 128 lowercase hex digits of an sr25519 signature of
// the message under the 64-hex public key.
void expect_valid_signature(const std::string& signature_hex, const std::string& message, const std::string& key_hex) {
  ASSERT_EQ(signature_hex.size(), 128u);
  EXPECT_EQ(signature_hex.find_first_not_of("0123456789abcdef"), std::string::npos);
  const crypto::Bytes sig = unhex(signature_hex);
  const auto key = crypto::RistrettoPoint::from_bytes(unhex(key_hex));
  ASSERT_TRUE(key.has_value()) << key_hex;
  crypto::ByteArray<64> s{};
  std::copy(sig.begin(), sig.end(), s.begin());
  EXPECT_TRUE(frost::sr25519_verify(*key, unhex(message), s)) << "signature " << signature_hex << " key " << key_hex;
}

Sr25519StorableSecretShare decode_share(const std::string& text) {
  auto share = sr25519_share_decode(text);
  EXPECT_TRUE(share.has_value()) << share.error().display();
  return std::move(share).value();
}

// ------------------------------------------------------------ fixture

// One relay and one (2, 3) key for the whole suite.
class Sr25519Ops : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    relay_ = new LocalRelay();
    for (int i = 0; i < 3; ++i) ids_.push_back(new_identity());
    keygen_ = run_room(*relay_, {keygen_call(ids_[0], {ids_[1].id, ids_[2].id, ids_[0].id}, 3, 2),
                                 keygen_call(ids_[1], {ids_[0].id, ids_[2].id}, 3, 2),
                                 keygen_call(ids_[2], {ids_[1].id, ids_[0].id, ids_[1].id}, 3, 2)});
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
  static const std::string& group_key() { return *keygen_[0].first; }

  static LocalRelay* relay_;
  static std::vector<Identity> ids_;
  static std::vector<Completion> keygen_;
};

LocalRelay* Sr25519Ops::relay_ = nullptr;
std::vector<Identity> Sr25519Ops::ids_;
std::vector<Completion> Sr25519Ops::keygen_;

// ------------------------------------------------------------ key generation

TEST_F(Sr25519Ops, KeygenForEveryThresholdGivesOneKeyThatAnyThresholdOfSharesRebuilds) {
  struct Case {
    std::uint16_t n, t;
    std::vector<Identity> parties;
  };
  std::vector<Case> cases;
  for (std::uint16_t n = 1; n <= 5; ++n) {
    for (std::uint16_t t = 1; t <= n; ++t) {
      Case c{n, t, {}};
      for (int i = 0; i < n; ++i) c.parties.push_back(new_identity());
      cases.push_back(std::move(c));
    }
  }
  std::vector<std::vector<PartyCall>> rooms;
  for (const Case& c : cases) {
    std::vector<PartyCall> calls;
    for (const auto& p : c.parties) calls.push_back(keygen_call(p, ids_of(c.parties), c.n, c.t));
    rooms.push_back(std::move(calls));
  }
  const auto all = run_rooms(*relay_, rooms);
  ASSERT_EQ(all.size(), cases.size());

  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    const auto& done = all[k];
    SCOPED_TRACE(::testing::Message() << "n " << c.n << " t " << c.t);
    expect_all_succeeded(done);
    if (HasFailure()) return;

    const std::string& key = *done[0].first;
    ASSERT_EQ(key.size(), 64u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    std::set<std::uint16_t> own_ids;
    for (std::size_t i = 0; i < done.size(); ++i) {
      EXPECT_EQ(*done[i].first, key);
      EXPECT_EQ(get_pubkey(*done[i].second), key);
      const auto s = decode_share(*done[i].second);
      EXPECT_EQ(s.key_share.threshold, c.t);
      EXPECT_EQ(s.key_share.num_parties, c.n);
      EXPECT_EQ(s.partyid_pubkey_map.size(), c.n);
      EXPECT_EQ(export_id(*done[i].second), c.parties[i].id);
      own_ids.insert(s.key_share.own_id.value());
    }
    EXPECT_EQ(own_ids.size(), c.n);

    // The first t shares and the last t shares rebuild one scalar whose
    // multiple of B is the group key.
    std::vector<std::string> first, last;
    for (std::size_t i = 0; i < c.t; ++i) {
      first.push_back(*done[i].second);
      last.push_back(*done[done.size() - 1 - i].second);
    }
    const auto a = offline_export(first);
    const auto b = offline_export(last);
    ASSERT_EQ(a.result.code, 0) << a.result.message;
    ASSERT_EQ(b.result.code, 0) << b.result.message;
    EXPECT_EQ(a.text, b.text);
    EXPECT_EQ(base_mul_hex(a.text), key);
  }
}

TEST_F(Sr25519Ops, KeygenReadsANullIdArrayWithACountAsNoIds) {
  const Identity solo = new_identity();
  const auto done = run_room(*relay_, {[&](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_sr25519_keygen(1, 1, cstr(solo.secret), cstr(room), cstr(host), ConstStrArray{nullptr, 3},
                                &CallbackRecorder::double_cb, rec);
  }});
  expect_all_succeeded(done);
}

// ------------------------------------------------------------ signing

TEST_F(Sr25519Ops, SignaturesOfThresholdAndOfAllPartiesVerifyUnderTheDerivedKey) {
  struct Case {
    const char* name;
    std::vector<std::size_t> signers;
    std::size_t message_size;
    Path path;
  };
  const std::vector<Case> cases = {
      {"t signers, empty message, no path", {0, 2}, 0, {}},
      {"n signers, derived", {0, 1, 2}, 32, {"1", "hello"}},
      {"t signers, long message, empty junction", {1, 2}, 1000, {"", "polkadot"}},
  };
  std::vector<std::vector<PartyCall>> rooms;
  std::vector<std::string> messages;
  for (const Case& c : cases) {
    messages.push_back(message_hex(c.message_size, static_cast<std::uint8_t>(c.message_size)));
    std::vector<PartyCall> calls;
    for (const std::size_t i : c.signers) calls.push_back(sign_call(share(i), messages.back(), c.path));
    rooms.push_back(std::move(calls));
  }
  const auto all = run_rooms(*relay_, rooms);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    expect_all_succeeded(all[k]);
    if (HasFailure()) continue;
    for (const auto& c : all[k]) EXPECT_EQ(*c.first, *all[k][0].first);
    const std::string key = derive_pubkey(share(1), cases[k].path);
    if (cases[k].path.empty()) {
      EXPECT_EQ(key, group_key());
    }
    expect_valid_signature(*all[k][0].first, messages[k], key);
  }
}

TEST_F(Sr25519Ops, AHardJunctionFailsThroughTheCallbackBeforeTheRelay) {
  struct Case {
    Path path;
    std::string named;
  };
  for (const Case& c : {Case{{"/hard"}, "/hard"}, Case{{"soft", "/hard"}, "soft//hard"}}) {
    SCOPED_TRACE(c.named);
    // Nobody else joins: the operation never reaches the room.
    const std::string room = relay_->new_room(2);
    CallbackRecorder rec;
    Texts junctions{c.path, {}};
    const std::string message = message_hex(8, 1);
    const auto r = take(velto_sr25519_sign(cstr(share(0)), cstr(message), cstr(room), cstr(relay_->host()),
                                           junctions.array(), &CallbackRecorder::single_cb, &rec));
    ASSERT_EQ(r.code, 0) << r.message;
    expect_all_failed({wait_one(rec)}, "The derivation path contains an invalid derivation: `" + c.named + "`");
  }
}

TEST_F(Sr25519Ops, FewerSignersThanTheThresholdNeverSucceed) {
  const auto done = run_room(*relay_, {sign_call(share(1), message_hex(32, 9), {})});
  expect_all_failed(done);
}

// ------------------------------------------------------------ local functions

TEST_F(Sr25519Ops, LocalDerivationsAgree) {
  EXPECT_EQ(get_pubkey(share(2)), group_key());
  EXPECT_EQ(derive_pubkey(share(0), {}), group_key());
  // A null path with a count of 0 is the empty path.
  const auto null_empty = local(
      [&](HeapString* out) { return velto_sr25519_derive_pubkey(cstr(share(0)), ConstStrArray{nullptr, 0}, out); });
  EXPECT_EQ(null_empty.text, group_key());

  const auto secret = offline_export({share(0), share(1)});
  ASSERT_EQ(secret.result.code, 0) << secret.result.message;
  for (const Path& path : {Path{}, Path{"1"}, Path{"alice", "2", ""}}) {
    SCOPED_TRACE(path.size());
    const std::string key = derive_pubkey(share(0), path);
    const auto from_key = derive_from_pubkey(group_key(), path);
    ASSERT_EQ(from_key.result.code, 0) << from_key.result.message;
    EXPECT_EQ(from_key.text, key);
    const auto child = derive_private(secret.text, 1, path);
    ASSERT_EQ(child.result.code, 0) << child.result.message;
    EXPECT_EQ(base_mul_hex(child.text), key);
  }
  // Junctions that read as one decimal number derive one key; a sign makes
  // the text a text.
  const std::string seven = derive_pubkey(share(0), {"7"});
  EXPECT_EQ(derive_pubkey(share(0), {"+7"}), seven);
  EXPECT_EQ(derive_pubkey(share(0), {"007"}), seven);
  EXPECT_NE(derive_pubkey(share(0), {"-7"}), seven);
}

TEST_F(Sr25519Ops, PrivateKeyDerivationReadsTheKeyByItsFlag) {
  const std::string bytes = "0101010101010101010101010101010101010101010101010101010101010101";
  const auto raw = derive_private(bytes, 1, {});
  const auto seed = derive_private(bytes, 0, {});
  const auto seed_other_flag = derive_private(bytes, 7, {});
  ASSERT_EQ(raw.result.code, 0) << raw.result.message;
  ASSERT_EQ(seed.result.code, 0) << seed.result.message;
  EXPECT_EQ(raw.text, bytes);
  EXPECT_EQ(seed.text, expanded_seed_hex(bytes));
  EXPECT_EQ(seed_other_flag.text, seed.text);

  // The derived secret of a seed is the secret of the key derived from its
  // expanded scalar's public key.
  const auto child = derive_private(bytes, 0, {"x", "9"});
  const auto child_pub = derive_from_pubkey(base_mul_hex(expanded_seed_hex(bytes)), {"x", "9"});
  ASSERT_EQ(child.result.code, 0) << child.result.message;
  EXPECT_EQ(base_mul_hex(child.text), child_pub.text);
}

TEST_F(Sr25519Ops, LocalFunctionRefusals) {
  const std::string kPathCtx = "Error Kind: Invalid derivation path: elements must be between 0 and ((2^31) - 1), Context: ";
  // The group order l, little-endian.
  const std::string order = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";
  const std::string not_a_point(64, 'f');
  const Path hard = {"a", "/b"};
  const std::string bad_utf8 = "\xff";
  const std::vector<ConstStr> with_bad_utf8 = {cstr("a"), cstr(bad_utf8)};
  const std::vector<ConstStr> with_null = {ConstStr{nullptr, 3}};
  struct Case {
    const char* name;
    LocalOut out;
    std::int32_t code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"derive: hard junction", derive_pubkey_out(share(0), hard), -11,
       kPathCtx + "The derivation path contains an invalid derivation: `a//b`"},
      {"derive from key: hard junction", derive_from_pubkey(group_key(), hard), -11,
       kPathCtx + "Invalid derivation path, hard(starting with '//') derivation junctions are not allowed"},
      {"derive private: hard junction", derive_private(order, 0, hard), -11,
       kPathCtx + "The derivation path contains an invalid derivation: `a//b`"},
      {"derive: null path with a count",
       local([&](HeapString* out) {
         return velto_sr25519_derive_pubkey(cstr(share(0)), ConstStrArray{nullptr, 2}, out);
       }),
       -11, kPathCtx + "Received a slice with null pointer, but length: 2"},
      {"derive from key: null path with a count",
       local([&](HeapString* out) {
         return velto_sr25519_derive_pubkey_from_pubkey(cstr(group_key()), ConstStrArray{nullptr, 1}, out);
       }),
       -11, kPathCtx + "Received a slice with null pointer, but length: 1"},
      {"derive private: null path with a count",
       local([&](HeapString* out) {
         return velto_sr25519_derive_private_key_from_private_key(cstr(order), 0, ConstStrArray{nullptr, 4}, out);
       }),
       -11, kPathCtx + "Received a slice with null pointer, but length: 4"},
      {"derive: a junction that is no UTF-8",
       local([&](HeapString* out) {
         return velto_sr25519_derive_pubkey(cstr(share(0)), ConstStrArray{with_bad_utf8.data(), 2}, out);
       }),
       -11, kPathCtx + "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 0"},
      {"derive: a null junction with a length",
       local([&](HeapString* out) {
         return velto_sr25519_derive_pubkey(cstr(share(0)), ConstStrArray{with_null.data(), 1}, out);
       }),
       -11, kPathCtx + "Received a slice with null pointer, but length: 3"},
      {"derive: bad share before a bad path",
       local([&](HeapString* out) {
         return velto_sr25519_derive_pubkey(cstr("zz"), ConstStrArray{nullptr, 2}, out);
       }),
       -3, kShareErr + "Invalid hex encoding"},
      {"derive from key: not a point", derive_from_pubkey(not_a_point, {}), -19,
       "Error Kind: Invalid Public Key, Context: Invalid sr25519 Public Key"},
      {"derive from key: 63 digits", derive_from_pubkey(group_key().substr(1), {}), -19,
       "Error Kind: Invalid Public Key, Context: Invalid Hex length, expected 64 hex chars, found: 63"},
      {"derive private: scalar l", derive_private(order, 1, {}), -15,
       "Error Kind: Invalid private key: must be a hex string of length exactly 64, Context: Received an error from "
       "new_full_private_key"},
      {"derive private: a bad path before a scalar l",
       local([&](HeapString* out) {
         return velto_sr25519_derive_private_key_from_private_key(cstr(order), 1, ConstStrArray{nullptr, 1}, out);
       }),
       -11, kPathCtx + "Received a slice with null pointer, but length: 1"},
      {"get pubkey: null out", local([&](HeapString*) { return velto_sr25519_get_pubkey(cstr(share(0)), nullptr); }),
       -253, "Error Kind: Null pointer"},
      {"export id: bad share", local([&](HeapString* out) { return velto_sr25519_get_export_id(cstr("0000000000000000"), out); }),
       -3, kShareErr + "Invalid secret share: Invalid StorableSecretShare tag"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.out.result.code, c.code);
    EXPECT_EQ(c.out.result.message, c.message);
    EXPECT_TRUE(c.out.text.empty());
  }
}

TEST_F(Sr25519Ops, OfflineExportRefusals) {
  const Identity a = new_identity();
  const Identity b = new_identity();
  const auto other = run_room(*relay_, {keygen_call(a, {b.id}, 2, 2), keygen_call(b, {a.id}, 2, 2)});
  expect_all_succeeded(other);
  if (HasFailure()) return;
  const std::string kAmount = "Invalid amount of secret shares for recovery, must provide at least ";
  struct Case {
    const char* name;
    std::vector<std::string> shares;
    std::string context;
  };
  const std::vector<Case> cases = {
      {"none", {}, "Executor Failed: `" + kAmount + "1 secret shares, found: 0`"},
      {"one of two", {share(0)}, "Executor Failed: `" + kAmount + "2 secret shares, found: 1`"},
      {"the same share twice", {share(0), share(0)},
       "Duplicate secret shares, some of the secret shares provided are the same share."},
      {"two keys", {share(0), *other[1].second},
       "Executor Failed: `Incompatible secret shares, provided secret shares are not of the same public key, all "
       "provided secret shares must be from the same keygen operation (be shares of the same public key).`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = offline_export(c.shares);
    EXPECT_EQ(r.result.code, -8);
    EXPECT_EQ(r.result.message, kExecutorError + c.context);
    EXPECT_TRUE(r.text.empty());
  }
  const auto null_array = local([&](HeapString* out) {
    return velto_sr25519_offline_export_full_private_key(ConstStrArray{nullptr, 2}, out);
  });
  EXPECT_EQ(null_array.result.message, kExecutorError + cases[0].context);
  const auto bad = offline_export({share(0), "zz"});
  EXPECT_EQ(bad.result.code, -3);
}

// ------------------------------------------------------------ export

TEST_F(Sr25519Ops, ExportRebuildsTheKeyAtTheReceiverOnly) {
  const auto done = run_room(*relay_, {export_call(share(0), ids_[1].id), export_call(share(1), ids_[1].id)});
  ASSERT_EQ(done[0].result.code, 0) << done[0].result.message;
  EXPECT_TRUE(done[0].result.message_null);
  EXPECT_FALSE(done[0].first.has_value());
  ASSERT_EQ(done[1].result.code, 0) << done[1].result.message;
  ASSERT_TRUE(done[1].first.has_value());

  const std::string& secret = *done[1].first;
  ASSERT_EQ(secret.size(), 64u);
  EXPECT_EQ(secret.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(base_mul_hex(secret), group_key());
  // Offline, from another pair of shares in another order.
  EXPECT_EQ(offline_export({share(2), share(0)}).text, secret);
  EXPECT_EQ(offline_export({share(0), share(1), share(2)}).text, secret);
}

TEST_F(Sr25519Ops, AnExportToAKeyOutsideTheShareFailsBeforeTheRelay) {
  const Identity stranger = new_identity();
  // Nobody else joins: the operation never reaches the room.
  const std::string room = relay_->new_room(2);
  CallbackRecorder rec;
  const auto r = take(velto_sr25519_export_full_private_key(cstr(share(0)), cstr(stranger.id), cstr(room),
                                                            cstr(relay_->host()), &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  expect_all_failed({wait_one(rec)},
                    "The provided public key(`" + stranger.id + "`) doesn't exist in the party list");
}

// ------------------------------------------------------------ refresh, reshare, import

TEST_F(Sr25519Ops, RefreshKeepsTheKeyAndRenewsSecretsAndTransportKeys) {
  const auto done = run_room(*relay_, {refresh_call(share(0)), refresh_call(share(1)), refresh_call(share(2))});
  expect_all_succeeded(done);
  if (HasFailure()) return;
  std::set<std::string> new_ids;
  for (std::size_t i = 0; i < done.size(); ++i) {
    EXPECT_EQ(*done[i].first, group_key());
    const auto before = decode_share(share(i));
    const auto after = decode_share(*done[i].second);
    EXPECT_EQ(after.key_share.own_id, before.key_share.own_id);
    EXPECT_EQ(after.key_share.threshold, 2);
    EXPECT_EQ(after.key_share.num_parties, 3);
    EXPECT_FALSE(after.key_share.secret_share == before.key_share.secret_share);
    EXPECT_FALSE(after.transport_keypair.public_key() == before.transport_keypair.public_key());
    ASSERT_EQ(after.partyid_pubkey_map.size(), 3u);
    EXPECT_TRUE(after.partyid_pubkey_map.at(after.key_share.own_id) == after.transport_keypair.public_key());
    new_ids.insert(export_id(*done[i].second));
  }
  EXPECT_EQ(new_ids.size(), 3u);
  EXPECT_EQ(decode_share(*done[0].second).partyid_pubkey_map, decode_share(*done[2].second).partyid_pubkey_map);

  // The new shares rebuild the same secret and sign together; an old share
  // no longer combines with a new one.
  EXPECT_EQ(offline_export({*done[0].second, *done[2].second}).text, offline_export({share(0), share(1)}).text);
  const auto mixed = offline_export({share(0), *done[1].second});
  EXPECT_EQ(mixed.result.message, kExecutorError + "Executor Failed: `The private key is invalid`");
  const std::string message = message_hex(20, 4);
  const auto signed_by = run_room(*relay_, {sign_call(*done[1].second, message, {"a"}),
                                           sign_call(*done[2].second, message, {"a"})});
  expect_all_succeeded(signed_by);
  if (!HasFailure()) expect_valid_signature(*signed_by[0].first, message, derive_pubkey(share(0), {"a"}));
}

TEST_F(Sr25519Ops, ReshareTwoOfThreeToThreeOfFourKeepsTheKeyAndTheNewSharesSign) {
  const Identity a = new_identity();
  const Identity b = new_identity();
  // Parties 0 and 2 remain, a and b join; party 1 leaves.
  const std::vector<std::string> set = {ids_[0].id, ids_[2].id, a.id, b.id};
  const auto done = run_room(*relay_, {reshare_remaining_call(share(0), set, 3), reshare_remaining_call(share(2), set, 3),
                                       reshare_new_call(a, set, 3), reshare_new_call(b, set, 3)});
  expect_all_succeeded(done);
  if (HasFailure()) return;
  for (const auto& c : done) {
    EXPECT_EQ(*c.first, group_key());
    const auto s = decode_share(*c.second);
    EXPECT_EQ(s.key_share.threshold, 3);
    EXPECT_EQ(s.key_share.num_parties, 4);
    EXPECT_EQ(s.partyid_pubkey_map.size(), 4u);
  }
  const auto rebuilt = offline_export({*done[1].second, *done[2].second, *done[3].second});
  ASSERT_EQ(rebuilt.result.code, 0) << rebuilt.result.message;
  EXPECT_EQ(base_mul_hex(rebuilt.text), group_key());
  EXPECT_EQ(offline_export({*done[1].second, *done[2].second}).result.code, -8);

  const std::string message = message_hex(0, 0);
  const auto signed_by = run_room(*relay_, {sign_call(*done[0].second, message, {}),
                                           sign_call(*done[2].second, message, {}),
                                           sign_call(*done[3].second, message, {})});
  expect_all_succeeded(signed_by);
  if (!HasFailure()) expect_valid_signature(*signed_by[0].first, message, group_key());
}

TEST_F(Sr25519Ops, ImportOfASeedAndOfARawScalarGivesTheirPublicKeys) {
  const std::string seed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
  // A canonical scalar (below l).
  const std::string scalar = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcd0e";
  struct Case {
    const char* name;
    std::string key;
    std::uint8_t is_raw;
    std::string expected_secret;
  };
  const std::vector<Case> cases = {
      {"seed", seed, 0, expanded_seed_hex(seed)},
      {"seed, flag 2", seed, 2, expanded_seed_hex(seed)},
      {"raw scalar", scalar, 1, scalar},
      {"the scalar's bytes as a seed", scalar, 0, expanded_seed_hex(scalar)},
  };
  std::vector<std::vector<Identity>> parties;
  std::vector<std::vector<PartyCall>> rooms;
  for (const Case& c : cases) {
    parties.push_back({new_identity(), new_identity(), new_identity()});
    const auto& p = parties.back();
    // The importer lists the others only; a recipient lists itself too.
    rooms.push_back({import_importer_call(p[0], {p[1].id, p[2].id}, 2, c.key, c.is_raw),
                     import_recipient_call(p[1], {p[0].id, p[1].id, p[2].id}, 2),
                     import_recipient_call(p[2], {p[0].id, p[1].id}, 2)});
  }
  const auto all = run_rooms(*relay_, rooms);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].name);
    expect_all_succeeded(all[k]);
    if (HasFailure()) continue;
    const std::string expected_key = base_mul_hex(cases[k].expected_secret);
    for (const auto& c : all[k]) {
      EXPECT_EQ(*c.first, expected_key);
      EXPECT_EQ(decode_share(*c.second).key_share.num_parties, 3);
    }
    const auto rebuilt = offline_export({*all[k][2].second, *all[k][0].second});
    EXPECT_EQ(rebuilt.text, cases[k].expected_secret);
  }
}

TEST_F(Sr25519Ops, AnUnusableRawKeyFailsTheImporter) {
  const std::string order = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";
  const std::vector<std::string> keys = {order, std::string(64, '0')};
  // A recipient waits out the relay's limit for a broadcast that never
  // comes, so the rooms run side by side.
  std::vector<std::vector<Identity>> parties;
  std::vector<std::vector<PartyCall>> rooms;
  for (const std::string& key : keys) {
    parties.push_back({new_identity(), new_identity()});
    const auto& p = parties.back();
    rooms.push_back({import_importer_call(p[0], {p[1].id}, 2, key, 1), import_recipient_call(p[1], {p[0].id}, 2)});
  }
  const auto all = run_rooms(*relay_, rooms);
  for (std::size_t k = 0; k < keys.size(); ++k) {
    SCOPED_TRACE(keys[k]);
    EXPECT_EQ(all[k][0].result.message, kExecutorError + "Received an error from new_full_private_key");
    expect_all_failed(all[k]);
  }
}

// A share whose own party id is not that of its own map entry, or whose
// threshold exceeds its party count: refused before the room.
std::string crafted(const std::string& share_text, bool wrong_id) {
  auto s = decode_share(share_text);
  if (wrong_id) {
    s.key_share.own_id = PartyId::unchecked(s.key_share.own_id.value() % 3 + 1);
  } else {
    s.key_share.threshold = 4;
  }
  return sr25519_share_encode(s);
}

TEST_F(Sr25519Ops, FaultsFailEveryPartyInOrder) {
  const std::string kSync = "Public key and chaincode synchronization failed";
  const std::string kInvalidShare = "The provided serialized key share is invalid";
  const Identity a = new_identity();
  const Identity b = new_identity();
  const Identity c = new_identity();
  const std::string wrong_id = crafted(share(0), true);
  const std::string too_high = crafted(share(0), false);
  const std::string m = message_hex(16, 3);
  const std::vector<std::string> reshare_set = {ids_[0].id, ids_[1].id, a.id};
  // A 1-of-1 key of another party, whose holder joins a reshare of ours.
  const Identity d = new_identity();
  const auto other = run_room(*relay_, {keygen_call(d, {}, 1, 1)});
  expect_all_succeeded(other);
  if (HasFailure()) return;
  const std::string other_share = *other[0].second;
  const std::vector<std::string> other_set = {ids_[0].id, ids_[2].id, d.id};

  struct Case {
    const char* name;
    std::vector<PartyCall> parties;
    std::string context;
  };
  const std::vector<Case> cases = {
      {"reshare t' > n'",
       {reshare_remaining_call(share(0), reshare_set, 4), reshare_remaining_call(share(1), reshare_set, 4),
        reshare_new_call(a, reshare_set, 4)},
       "Executor Failed: `Threshold 4 is greater than the number of parties 3`"},
      {"import t > n",
       {import_importer_call(a, {b.id}, 3, std::string(64, '1'), 0), import_recipient_call(b, {a.id}, 3)},
       "Executor Failed: `Threshold 3 is greater than the number of parties 2`"},
      {"export to a holder outside the session",
       {export_call(share(0), ids_[1].id), export_call(share(2), ids_[1].id)},
       "The provided public key(`" + ids_[1].id + "`) doesn't exist in the party list"},
      {"reshare without a holder of the key",
       {reshare_new_call(b, {b.id, c.id}, 2), reshare_new_call(c, {b.id, c.id}, 2)}, kSync},
      {"a holder of another key",
       {reshare_remaining_call(share(0), other_set, 2), reshare_remaining_call(share(2), other_set, 2),
        reshare_remaining_call(other_share, other_set, 2)},
       kSync},
      {"reshare: remaining party not listed", {reshare_remaining_call(share(0), {ids_[1].id, ids_[2].id}, 2)},
       "Current party missing in remaining parties, transport key: `" + ids_[0].id + "`"},
      {"reshare: too few remaining", {reshare_remaining_call(share(0), {ids_[0].id, a.id}, 2)},
       "Insufficient number of remaining parties for reshare: `1`, need at least `2`"},
      {"sign with a share of the wrong id", {sign_call(wrong_id, m, {})}, kInvalidShare},
      {"sign with t > n", {sign_call(too_high, m, {})}, kInvalidShare},
      {"export with a share of the wrong id", {export_call(wrong_id, ids_[0].id)}, kInvalidShare},
      {"refresh with t > n", {refresh_call(too_high)}, kInvalidShare},
      {"reshare with a share of the wrong id", {reshare_remaining_call(wrong_id, reshare_set, 2)}, kInvalidShare},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    expect_all_failed(run_room(*relay_, k.parties), k.context);
  }
}

// ------------------------------------------------------------ versions

TEST_F(Sr25519Ops, PeersBelowVersion130AreRefused) {
  const Identity a = new_identity();
  const Identity b = new_identity();
  auto key_of = [](const Identity& id) {
    auto raw = crypto::base58_decode(id.id);
    crypto::ByteArray<32> k{};
    if (raw && raw->size() == 32) std::copy(raw->begin(), raw->end(), k.begin());
    return k;
  };
  for (const Version v : {Version::V1_1_0, Version::V1_2_0}) {
    testing::ScopedAnnouncedVersion old_peer(key_of(b), wire_code(v));
    const auto done = run_room(*relay_, {keygen_call(a, {b.id}, 2, 2), keygen_call(b, {a.id}, 2, 2)});
    expect_all_failed(done, "Received an unexpected version: " + std::string(v == Version::V1_1_0 ? "v1.1.0" : "v1.2.0"));
  }
  {
    testing::ScopedAnnouncedVersion peer(key_of(b), wire_code(Version::V1_3_0));
    expect_all_succeeded(run_room(*relay_, {keygen_call(a, {b.id}, 2, 2), keygen_call(b, {a.id}, 2, 2)}));
  }
}

// ------------------------------------------------------------ refusals

TEST_F(Sr25519Ops, ArgumentRefusals) {
  const Identity me = new_identity();
  const std::vector<std::string> bad_ids_texts = {me.id, ""};
  const auto bad_ids = cstrs(bad_ids_texts);
  const std::string odd = "abc";
  const std::string key63(63, '1');
  const std::string key64(64, '1');
  const std::string bad_host = "relay.example/x";
  const ConstStrArray no_ids{nullptr, 0};
  const auto single = &CallbackRecorder::single_cb;
  const auto dbl = &CallbackRecorder::double_cb;
  expect_refusals({
      {"keygen: bad host and room",
       [&](void* ctx) { return velto_sr25519_keygen(1, 1, cstr(me.secret), cstr(odd), cstr(bad_host), no_ids, dbl, ctx); },
       -2, kHostErr + "invalid uri character"},
      {"keygen: bad room and n 0",
       [&](void* ctx) { return velto_sr25519_keygen(0, 1, cstr(me.secret), cstr(odd), cstr(kHost), no_ids, dbl, ctx); },
       -1, kRoomErr + "Odd number of digits"},
      {"keygen: n 8193",
       [&](void* ctx) {
         return velto_sr25519_keygen(8193, 1, cstr(me.secret), cstr(kRoom), cstr(kHost), no_ids, dbl, ctx);
       },
       -6, kCountErr + "8193 (must be between 1..=8192)"},
      {"keygen: t 0 before a bad secret",
       [&](void* ctx) { return velto_sr25519_keygen(2, 0, cstr(odd), cstr(kRoom), cstr(kHost), no_ids, dbl, ctx); },
       -6, kCountErr + "0 (must be between 1..=8192)"},
      {"keygen: bad secret",
       [&](void* ctx) { return velto_sr25519_keygen(2, 2, cstr(odd), cstr(kRoom), cstr(kHost), no_ids, dbl, ctx); },
       -9, kKeypairErr + "Invalid keypair length, expected 64 hex chars, found: 3"},
      {"keygen: bad id",
       [&](void* ctx) {
         return velto_sr25519_keygen(2, 2, cstr(me.secret), cstr(kRoom), cstr(kHost),
                                     ConstStrArray{bad_ids.data(), bad_ids.size()}, dbl, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"keygen: t above n",
       [&](void* ctx) {
         return velto_sr25519_keygen(2, 3, cstr(me.secret), cstr(kRoom), cstr(kHost), no_ids, dbl, ctx);
       },
       -6, "Error Kind: Invalid number of parties, Context: Threshold 3 is greater than the number of parties 2"},
      {"keygen: a bad id before t above n",
       [&](void* ctx) {
         return velto_sr25519_keygen(2, 3, cstr(me.secret), cstr(kRoom), cstr(kHost),
                                     ConstStrArray{bad_ids.data(), bad_ids.size()}, dbl, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"keygen: null callback",
       [&](void*) {
         return velto_sr25519_keygen(1, 1, cstr(me.secret), cstr(kRoom), cstr(kHost), no_ids, nullptr, nullptr);
       },
       -253, kNullCallback},
      {"sign: odd message before a bad share",
       [&](void* ctx) {
         return velto_sr25519_sign(cstr("zz"), cstr(odd), cstr(kRoom), cstr(kHost), ConstStrArray{nullptr, 0}, single,
                                   ctx);
       },
       -4, kMessageErr + "Odd number of digits"},
      {"sign: bad share before a bad path",
       [&](void* ctx) {
         return velto_sr25519_sign(cstr("zz"), cstr(""), cstr(kRoom), cstr(kHost), ConstStrArray{nullptr, 1}, single,
                                   ctx);
       },
       -3, kShareErr + "Invalid hex encoding"},
      {"sign: path null with count 2",
       [&](void* ctx) {
         return velto_sr25519_sign(cstr(share(0)), cstr(""), cstr(kRoom), cstr(kHost), ConstStrArray{nullptr, 2},
                                   single, ctx);
       },
       -11, kPathErr + "Received a slice with null pointer, but length: 2"},
      {"sign: bad room before a bad message",
       [&](void* ctx) {
         return velto_sr25519_sign(cstr(share(0)), cstr(odd), cstr(odd), cstr(kHost), ConstStrArray{nullptr, 0}, single,
                                   ctx);
       },
       -1, kRoomErr + "Odd number of digits"},
      {"export: bad share before an empty receiver",
       [&](void* ctx) {
         return velto_sr25519_export_full_private_key(cstr("zz"), cstr(""), cstr(kRoom), cstr(kHost), single, ctx);
       },
       -3, kShareErr + "Invalid hex encoding"},
      {"export: empty receiver",
       [&](void* ctx) {
         return velto_sr25519_export_full_private_key(cstr(share(0)), cstr(""), cstr(kRoom), cstr(kHost), single, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"refresh: bad host before a bad share",
       [&](void* ctx) { return velto_sr25519_refresh(cstr("zz"), dbl, ctx, cstr(kRoom), cstr(bad_host)); }, -2,
       kHostErr + "invalid uri character"},
      {"refresh: bad share",
       [&](void* ctx) { return velto_sr25519_refresh(cstr("zz"), dbl, ctx, cstr(kRoom), cstr(kHost)); }, -3,
       kShareErr + "Invalid hex encoding"},
      {"reshare remaining: threshold 0 before a bad share",
       [&](void* ctx) {
         return velto_sr25519_reshare_remaining_party(0, cstr("zz"), no_ids, cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -6, kCountErr + "0 (must be between 1..=8192)"},
      {"reshare remaining: bad share before bad ids",
       [&](void* ctx) {
         return velto_sr25519_reshare_remaining_party(2, cstr("zz"), ConstStrArray{bad_ids.data(), bad_ids.size()},
                                                      cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -3, kShareErr + "Invalid hex encoding"},
      {"reshare remaining: bad ids",
       [&](void* ctx) {
         return velto_sr25519_reshare_remaining_party(2, cstr(share(0)), ConstStrArray{bad_ids.data(), bad_ids.size()},
                                                      cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"reshare new: threshold 8193",
       [&](void* ctx) {
         return velto_sr25519_reshare_new_party(8193, cstr(me.secret), no_ids, cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -6, kCountErr + "8193 (must be between 1..=8192)"},
      {"reshare new: bad keygen secret",
       [&](void* ctx) {
         return velto_sr25519_reshare_new_party(2, cstr(odd), no_ids, cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -9, kKeypairErr + "Invalid keypair length, expected 64 hex chars, found: 3"},
      {"recipient: bad room",
       [&](void* ctx) {
         return velto_sr25519_import_private_key_recipient(2, cstr(me.secret), no_ids, cstr(odd), cstr(kHost), dbl,
                                                           ctx);
       },
       -1, kRoomErr + "Odd number of digits"},
      {"recipient: bad ids",
       [&](void* ctx) {
         return velto_sr25519_import_private_key_recipient(2, cstr(me.secret),
                                                           ConstStrArray{bad_ids.data(), bad_ids.size()}, cstr(kRoom),
                                                           cstr(kHost), dbl, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"importer: a bad id before a bad key",
       [&](void* ctx) {
         return velto_sr25519_import_private_key_importer(1, cstr(key63), cstr(me.secret), cstr(kRoom), cstr(kHost),
                                                          ConstStrArray{bad_ids.data(), bad_ids.size()}, 0, dbl, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"importer: 63 digits",
       [&](void* ctx) {
         return velto_sr25519_import_private_key_importer(1, cstr(key63), cstr(me.secret), cstr(kRoom), cstr(kHost),
                                                          no_ids, 1, dbl, ctx);
       },
       -15,
       "Error Kind: Invalid private key: must be a hex string of length exactly 64, Context: Invalid Hex length, "
       "expected 64 hex chars, found: 63"},
      {"importer: null callback",
       [&](void*) {
         return velto_sr25519_import_private_key_importer(1, cstr(key64), cstr(me.secret), cstr(kRoom), cstr(kHost),
                                                          no_ids, 0, nullptr, nullptr);
       },
       -253, kNullCallback},
  });
}

}  // namespace
}  // namespace velto::executor
