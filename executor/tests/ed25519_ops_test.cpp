// The Ed25519 operations driven exactly as a C caller drives them: every party
// is a set of calls in this process with its own keygen identity and
// callback recorder, all meeting in rooms of the local relay on loopback.
// Signatures are verified and keys recomputed with libsodium
// (crypto_sign_verify_detached, crypto_scalarmult_ed25519_base_noclamp), not
// with the library's own code; imports are checked against RFC 8032.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "executor/bindings/velto.h"
#include "executor/ed25519_share.hpp"
#include "executor/lib/version.hpp"
#include "executor/tests/announce_seam.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/party_calls.hpp"
#include "executor/tests/refusals.hpp"
#include "executor/tests/share_fixtures.hpp"

namespace velto::executor {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::CallbackRecorder;
using testing::Completion;
using testing::cstr;
using testing::cstrs;
using testing::expect_refusals;
using testing::Identity;
using testing::kExecutorError;
using testing::LocalRelay;
using testing::new_identity;
using testing::take;
using testing::wait_one;
using testing::local;
using testing::message_hex;
using testing::LocalOut;
using testing::PartyCall;
using testing::run_room;
using testing::run_rooms;
using testing::Texts;
using testing::unhex;
using testing::expect_all_failed;
using testing::expect_all_succeeded;
using testing::ids_of;
using namespace testing::refusal_texts;

using Path = std::vector<std::uint32_t>;

// ------------------------------------------------------------ parties

PartyCall keygen_call(const Identity& self, std::vector<std::string> ids, std::uint16_t n, std::uint16_t t) {
  return [&self, ids, n, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_ed25519_keygen(n, t, cstr(self.secret), cstr(room), cstr(host), texts.array(),
                                &CallbackRecorder::double_cb, rec);
  };
}

PartyCall sign_call(const std::string& share, const std::string& message_hex, Path path) {
  return [&share, message_hex, path](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_ed25519_sign(cstr(share), cstr(message_hex), cstr(room), cstr(host), U32Array{path.data(), path.size()},
                              &CallbackRecorder::single_cb, rec);
  };
}

PartyCall export_call(const std::string& share, const std::string& export_to) {
  return [&share, export_to](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_ed25519_export_full_private_key(cstr(share), cstr(export_to), cstr(room), cstr(host),
                                                 &CallbackRecorder::single_cb, rec);
  };
}

PartyCall refresh_call(const std::string& share) {
  return [&share](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_ed25519_refresh(cstr(share), &CallbackRecorder::double_cb, rec, cstr(room), cstr(host));
  };
}

PartyCall reshare_remaining_call(const std::string& share, std::vector<std::string> ids, std::uint16_t t) {
  return [&share, ids, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_ed25519_reshare_remaining_party(t, cstr(share), texts.array(), cstr(room), cstr(host),
                                                 &CallbackRecorder::double_cb, rec);
  };
}

PartyCall reshare_new_call(const Identity& self, std::vector<std::string> ids, std::uint16_t t) {
  return [&self, ids, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_ed25519_reshare_new_party(t, cstr(self.secret), texts.array(), cstr(room), cstr(host),
                                           &CallbackRecorder::double_cb, rec);
  };
}

PartyCall import_recipient_call(const Identity& self, std::vector<std::string> ids, std::uint16_t t) {
  return [&self, ids, t](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_ed25519_import_private_key_recipient(t, cstr(self.secret), texts.array(), cstr(room), cstr(host),
                                                      &CallbackRecorder::double_cb, rec);
  };
}

PartyCall import_importer_call(const Identity& self, std::vector<std::string> ids, std::uint16_t t,
                               std::string key_hex, std::uint8_t is_raw) {
  return [&self, ids, t, key_hex, is_raw](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    Texts texts{ids, {}};
    return velto_ed25519_import_private_key_importer(t, cstr(key_hex), cstr(self.secret), cstr(room), cstr(host),
                                                     texts.array(), is_raw, &CallbackRecorder::double_cb, rec);
  };
}

std::string derive_pubkey(const std::string& share, const Path& path) {
  const auto r = local([&](HeapString* out) {
    return velto_ed25519_derive_pubkey(cstr(share), U32Array{path.data(), path.size()}, out);
  });
  EXPECT_EQ(r.result.code, 0) << r.result.message;
  return r.text;
}

std::string export_id(const std::string& share) {
  const auto r = local([&](HeapString* out) { return velto_ed25519_get_export_id(cstr(share), out); });
  EXPECT_EQ(r.result.code, 0) << r.result.message;
  return r.text;
}

LocalOut offline_export(const std::vector<std::string>& shares) {
  const auto views = cstrs(shares);
  return local([&](HeapString* out) {
    return velto_ed25519_offline_export_full_private_key(ConstStrArray{views.data(), views.size()}, out);
  });
}

// ------------------------------------------------------------ independent checks

// The signature text verifies with libsodium over the message under the
// 64-hex public key.
void expect_valid_signature(const std::string& signature_hex, const std::string& message, const std::string& key_hex) {
  ASSERT_EQ(signature_hex.size(), 128u);
  EXPECT_EQ(signature_hex.find_first_not_of("0123456789abcdef"), std::string::npos);
  const crypto::Bytes sig = unhex(signature_hex);
  const crypto::Bytes msg = unhex(message);
  const crypto::Bytes key = unhex(key_hex);
  ASSERT_EQ(key.size(), 32u);
  EXPECT_EQ(crypto_sign_verify_detached(sig.data(), msg.data(), msg.size(), key.data()), 0)
      << "signature " << signature_hex << " key " << key_hex;
}

// s·B for a little-endian scalar (libsodium, no clamping), as 64 hex digits.
std::string base_mul_hex(const std::uint8_t* scalar) {
  std::array<std::uint8_t, 32> point{};
  EXPECT_EQ(crypto_scalarmult_ed25519_base_noclamp(point.data(), scalar), 0);
  return crypto::hex_encode(point);
}

// The 78 bytes of an spriv or spub text (Base58Check).
crypto::Bytes extended_key_bytes(const std::string& text) {
  auto raw = crypto::base58check_decode(text);
  EXPECT_TRUE(raw.has_value()) << text;
  if (!raw || raw->size() != 78) {
    ADD_FAILURE() << "not a 78-byte extended key: " << text;
    return crypto::Bytes(78);
  }
  return *raw;
}

// The spriv's scalar times B.
std::string spriv_public_key_hex(const std::string& spriv) {
  const crypto::Bytes raw = extended_key_bytes(spriv);
  EXPECT_EQ(crypto::hex_encode(crypto::ByteSpan(raw.data(), 4)), "0420b900");
  return base_mul_hex(raw.data() + 46);
}

Ed25519StorableSecretShare decode_share(const std::string& text) {
  auto share = ed25519_share_decode(text);
  EXPECT_TRUE(share.has_value()) << share.error().display();
  return std::move(share).value();
}

const frost::FrostKeyShare& key_share_of(const Ed25519StorableSecretShare& share) {
  return std::get<frost::FrostKeyShare>(share.key_share);
}

// ------------------------------------------------------------ fixture

// One relay and one (2, 3) key for the whole suite.
class Ed25519Ops : public ::testing::Test {
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

LocalRelay* Ed25519Ops::relay_ = nullptr;
std::vector<Identity> Ed25519Ops::ids_;
std::vector<Completion> Ed25519Ops::keygen_;

// ------------------------------------------------------------ key generation

TEST_F(Ed25519Ops, KeygenGivesOneKeyThatAnyThresholdOfSharesRebuilds) {
  struct Case {
    std::uint16_t n, t;
  };
  for (const Case c : {Case{1, 1}, Case{2, 2}, Case{3, 2}, Case{5, 3}}) {
    SCOPED_TRACE(::testing::Message() << "n " << c.n << " t " << c.t);
    std::vector<Identity> parties;
    for (int i = 0; i < c.n; ++i) parties.push_back(new_identity());
    std::vector<PartyCall> calls;
    for (const auto& p : parties) calls.push_back(keygen_call(p, ids_of(parties), c.n, c.t));
    const auto done = run_room(*relay_, calls);
    expect_all_succeeded(done);
    if (HasFailure()) continue;

    const std::string& key = *done[0].first;
    ASSERT_EQ(key.size(), 64u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    std::set<std::uint16_t> own_ids;
    for (std::size_t i = 0; i < done.size(); ++i) {
      EXPECT_EQ(*done[i].first, key);
      const auto s = decode_share(*done[i].second);
      ASSERT_EQ(s.tag(), Ed25519ShareTag::Latest);
      EXPECT_EQ(key_share_of(s).threshold, c.t);
      EXPECT_EQ(key_share_of(s).num_parties, c.n);
      EXPECT_EQ(s.partyid_pubkey_map.size(), c.n);
      EXPECT_EQ(export_id(*done[i].second), parties[i].id);
      own_ids.insert(key_share_of(s).party_id.value());
    }
    EXPECT_EQ(own_ids.size(), c.n);

    // The first t shares and the last t shares rebuild one key whose scalar
    // times B is the group key.
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
    EXPECT_EQ(spriv_public_key_hex(a.text), key);
  }
}

TEST_F(Ed25519Ops, KeygenReadsANullIdArrayWithACountAsNoIds) {
  const Identity solo = new_identity();
  const auto done = run_room(*relay_, {[&](const std::string& room, const std::string& host, CallbackRecorder* rec) {
    return velto_ed25519_keygen(1, 1, cstr(solo.secret), cstr(room), cstr(host), ConstStrArray{nullptr, 3},
                                &CallbackRecorder::double_cb, rec);
  }});
  expect_all_succeeded(done);
}

// ------------------------------------------------------------ signing

TEST_F(Ed25519Ops, SignaturesVerifyUnderTheDerivedKey) {
  struct Case {
    std::size_t message_size;
    Path path;
  };
  for (const Case& c : {Case{0, {}}, Case{32, {1, 7}}, Case{1000, {0, 2147483647u}}}) {
    SCOPED_TRACE(c.message_size);
    const std::string message = message_hex(c.message_size, static_cast<std::uint8_t>(c.message_size));
    const auto done = run_room(*relay_, {sign_call(share(0), message, c.path), sign_call(share(2), message, c.path)});
    expect_all_succeeded(done);
    if (HasFailure()) continue;
    EXPECT_EQ(*done[0].first, *done[1].first);
    const std::string key = derive_pubkey(share(1), c.path);
    if (c.path.empty()) EXPECT_EQ(key, group_key());
    expect_valid_signature(*done[0].first, message, key);
  }
}

TEST_F(Ed25519Ops, AHardenedIndexFailsThroughTheCallbackBeforeTheRelay) {
  // Nobody else joins: the operation never reaches the room.
  const std::string room = relay_->new_room(2);
  const Path path = {0, 2147483648u};
  CallbackRecorder rec;
  const std::string message = message_hex(8, 1);
  const auto r = take(velto_ed25519_sign(cstr(share(0)), cstr(message), cstr(room), cstr(relay_->host()),
                                         U32Array{path.data(), path.size()}, &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  expect_all_failed({wait_one(rec)}, "The derivation path contains an invalid derivation: `0/2147483648`");
}

TEST_F(Ed25519Ops, FewerSignersThanTheThresholdNeverSucceed) {
  const auto done = run_room(*relay_, {sign_call(share(1), message_hex(32, 9), {})});
  expect_all_failed(done);
}

// A party of a disagreeing room waits out the relay's limit for messages
// that never come, so the rooms run side by side.
TEST_F(Ed25519Ops, PartiesThatDisagreeAllFail) {
  const std::string m1 = message_hex(32, 1);
  const std::string m2 = message_hex(32, 2);
  const Identity a = new_identity();
  const Identity b = new_identity();
  const std::vector<const char*> names = {"message", "path", "receiver", "threshold"};
  const auto done = run_rooms(
      *relay_, {{sign_call(share(0), m1, {}), sign_call(share(1), m2, {})},
                {sign_call(share(0), m1, {1}), sign_call(share(1), m1, {2})},
                {export_call(share(0), ids_[0].id), export_call(share(1), ids_[1].id)},
                {keygen_call(a, {b.id}, 2, 1), keygen_call(b, {a.id}, 2, 2)}});
  ASSERT_EQ(done.size(), names.size());
  for (std::size_t i = 0; i < done.size(); ++i) {
    SCOPED_TRACE(names[i]);
    expect_all_failed(done[i]);
  }
}

// ------------------------------------------------------------ export

TEST_F(Ed25519Ops, ExportRebuildsTheKeyAtTheReceiverOnly) {
  const auto done = run_room(*relay_, {export_call(share(0), ids_[1].id), export_call(share(1), ids_[1].id)});
  ASSERT_EQ(done[0].result.code, 0) << done[0].result.message;
  EXPECT_TRUE(done[0].result.message_null);
  EXPECT_FALSE(done[0].first.has_value());
  ASSERT_EQ(done[1].result.code, 0) << done[1].result.message;
  ASSERT_TRUE(done[1].first.has_value());

  const std::string& spriv = *done[1].first;
  const crypto::Bytes raw = extended_key_bytes(spriv);
  // Version, depth 0, no parent, child number 0, the share's chain code, 00.
  EXPECT_EQ(crypto::hex_encode(crypto::ByteSpan(raw.data(), 13)), "0420b900000000000000000000");
  const auto chain = key_share_of(decode_share(share(1))).chain_code;
  EXPECT_TRUE(std::equal(chain.begin(), chain.end(), raw.begin() + 13));
  EXPECT_EQ(raw[45], 0);
  EXPECT_EQ(spriv_public_key_hex(spriv), group_key());
  EXPECT_EQ(offline_export({share(2), share(0)}).text, spriv);
}

// ------------------------------------------------------------ local functions

TEST_F(Ed25519Ops, LocalDerivationsAgree) {
  const Path path = {1, 2};
  const auto spub = local([&](HeapString* out) { return velto_ed25519_get_spub(cstr(share(0)), out); });
  ASSERT_EQ(spub.result.code, 0) << spub.result.message;
  const crypto::Bytes spub_raw = extended_key_bytes(spub.text);
  EXPECT_EQ(crypto::hex_encode(crypto::ByteSpan(spub_raw.data(), 4)), "0420bd3a");
  EXPECT_EQ(crypto::hex_encode(crypto::ByteSpan(spub_raw.data() + 46, 32)), group_key());

  const auto from_spub = local([&](HeapString* out) {
    return velto_ed25519_derive_pubkey_from_spub(cstr(spub.text), U32Array{path.data(), path.size()}, out);
  });
  ASSERT_EQ(from_spub.result.code, 0) << from_spub.result.message;
  EXPECT_EQ(from_spub.text, derive_pubkey(share(2), path));

  // The private derivation of the rebuilt key, times B, is the public one.
  const std::string spriv = offline_export({share(0), share(1)}).text;
  for (const Path& p : {Path{}, path}) {
    const auto child = local([&](HeapString* out) {
      return velto_ed25519_derive_private_key_from_spriv(cstr(spriv), U32Array{p.data(), p.size()}, out);
    });
    ASSERT_EQ(child.result.code, 0) << child.result.message;
    const crypto::Bytes scalar = unhex(child.text);
    ASSERT_EQ(scalar.size(), 32u);
    EXPECT_EQ(base_mul_hex(scalar.data()), derive_pubkey(share(0), p));
  }
}

TEST_F(Ed25519Ops, LocalFunctionEdgeCases) {
  const Path hardened = {0, 2147483648u};
  const std::string spub = local([&](HeapString* out) { return velto_ed25519_get_spub(cstr(share(0)), out); }).text;
  const std::string spriv = offline_export({share(0), share(1)}).text;
  const std::string kDerivationKind = "Error Kind: Invalid derivation path: elements must be between 0 and ((2^31) - 1)";
  struct Case {
    const char* name;
    std::function<ResultFFI(HeapString*)> call;
    std::int32_t code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"derive_pubkey hardened",
       [&](HeapString* out) {
         return velto_ed25519_derive_pubkey(cstr(share(0)), U32Array{hardened.data(), hardened.size()}, out);
       },
       -11, kDerivationKind + ", Context: The derivation path contains an invalid derivation: `0/2147483648`"},
      {"derive_pubkey null path",
       [&](HeapString* out) { return velto_ed25519_derive_pubkey(cstr(share(0)), U32Array{nullptr, 2}, out); }, -11,
       kPathErr + "Received a slice with null pointer, but length: 2"},
      {"derive from spub hardened",
       [&](HeapString* out) {
         return velto_ed25519_derive_pubkey_from_spub(cstr(spub), U32Array{hardened.data(), hardened.size()}, out);
       },
       -11, kDerivationKind},
      {"spub given an spriv",
       [&](HeapString* out) { return velto_ed25519_derive_pubkey_from_spub(cstr(spriv), U32Array{nullptr, 0}, out); },
       -18,
       "Error Kind: Invalid Extended Public Key(spub) string, Context: Invalid Spub version, expected: 420BD3A, found: "
       "420B900"},
      {"spriv given an spub",
       [&](HeapString* out) {
         return velto_ed25519_derive_private_key_from_spriv(cstr(spub), U32Array{nullptr, 0}, out);
       },
       -13,
       "Error Kind: Invalid Extended Private Key(spriv) string, Context: Executor Failed: `Invalid version: 69254458, "
       "expected: 69253376`"},
      {"spriv hardened",
       [&](HeapString* out) {
         return velto_ed25519_derive_private_key_from_spriv(cstr(spriv), U32Array{hardened.data(), hardened.size()},
                                                            out);
       },
       -11, kDerivationKind},
      {"export id of a bad share", [&](HeapString* out) { return velto_ed25519_get_export_id(cstr("zz"), out); }, -3,
       kShareErr + "Invalid hex encoding"},
      {"null out", [&](HeapString*) { return velto_ed25519_get_spub(cstr(share(0)), nullptr); }, -253,
       kNullCallback},
      {"null out after a bad path",
       [&](HeapString*) { return velto_ed25519_derive_pubkey(cstr(share(0)), U32Array{nullptr, 1}, nullptr); }, -11,
       kPathErr + "Received a slice with null pointer, but length: 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = local(c.call);
    EXPECT_EQ(r.result.code, c.code);
    EXPECT_EQ(r.result.message, c.message);
    EXPECT_TRUE(r.text.empty());
  }
}

TEST_F(Ed25519Ops, OfflineExportRefusals) {
  const std::string too_few = "Executor Failed: `Invalid amount of secret shares for recovery, must provide at least ";
  // Another key, and a share of this key whose secret was moved: same key
  // and chain code, not on the sharing.
  const Identity solo = new_identity();
  const auto other = run_room(*relay_, {keygen_call(solo, {}, 1, 1)});
  expect_all_succeeded(other);
  auto moved = decode_share(share(1));
  std::get<frost::FrostKeyShare>(moved.key_share).secret_share += crypto::EdScalar::one();
  const std::string moved_text = ed25519_share_encode(moved);

  struct Case {
    const char* name;
    std::vector<std::string> shares;
    std::string context;
  };
  const std::vector<Case> cases = {
      {"none", {}, too_few + "1 secret shares, found: 0`"},
      {"the same share twice", {share(0), share(0)},
       "Duplicate secret shares, some of the secret shares provided are the same share."},
      {"t - 1", {share(2)}, too_few + "2 secret shares, found: 1`"},
      {"two keys", {share(0), *other[0].second},
       "Executor Failed: `Incompatible secret shares, provided secret shares are not of the same public key, all "
       "provided secret shares must be from the same keygen operation (be shares of the same public key).`"},
      {"off the sharing", {share(0), moved_text}, "Executor Failed: `The private key is invalid`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = offline_export(c.shares);
    EXPECT_EQ(r.result.code, -8);
    EXPECT_EQ(r.result.message, kExecutorError + c.context);
  }
  const auto null_array = local([](HeapString* out) {
    return velto_ed25519_offline_export_full_private_key(ConstStrArray{nullptr, 3}, out);
  });
  EXPECT_EQ(null_array.result.message, kExecutorError + too_few + "1 secret shares, found: 0`");
  // All n shares give what any t give.
  EXPECT_EQ(offline_export({share(0), share(1), share(2)}).text, offline_export({share(1), share(2)}).text);
}

// ------------------------------------------------------------ renewal

TEST_F(Ed25519Ops, RefreshKeepsKeyAndChainCodeAndRenewsSecretsAndTransportKeys) {
  const auto done = run_room(*relay_, {refresh_call(share(0)), refresh_call(share(1)), refresh_call(share(2))});
  expect_all_succeeded(done);
  if (HasFailure()) return;
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(*done[i].first, group_key());
    const auto before = decode_share(share(i));
    const auto after = decode_share(*done[i].second);
    ASSERT_EQ(after.tag(), Ed25519ShareTag::Latest);
    const auto& k0 = key_share_of(before);
    const auto& k1 = key_share_of(after);
    EXPECT_EQ(k1.chain_code, k0.chain_code);
    EXPECT_EQ(k1.party_id, k0.party_id);
    EXPECT_EQ(k1.threshold, 2);
    EXPECT_EQ(k1.num_parties, 3);
    EXPECT_FALSE(k1.secret_share == k0.secret_share);
    EXPECT_NE(export_id(*done[i].second), export_id(share(i)));
    EXPECT_EQ(after.partyid_pubkey_map.at(k1.party_id), after.transport_keypair.public_key());
    EXPECT_EQ(derive_pubkey(*done[i].second, {3, 4}), derive_pubkey(share(i), {3, 4}));
  }
  // The new generation rebuilds the key; old and new shares do not mix.
  EXPECT_EQ(offline_export({*done[0].second, *done[2].second}).text, offline_export({share(0), share(2)}).text);
  EXPECT_EQ(offline_export({*done[0].second, share(2)}).result.message,
            kExecutorError + "Executor Failed: `The private key is invalid`");
}

TEST_F(Ed25519Ops, ReshareTwoOfThreeToThreeOfFiveKeepsTheKeyAndTheNewSharesSign) {
  std::vector<Identity> fresh;
  for (int i = 0; i < 3; ++i) fresh.push_back(new_identity());
  std::vector<std::string> new_set = {export_id(share(0)), export_id(share(1))};
  for (const auto& f : fresh) new_set.push_back(f.id);

  std::vector<PartyCall> calls = {reshare_remaining_call(share(0), new_set, 3),
                                  reshare_remaining_call(share(1), new_set, 3)};
  for (const auto& f : fresh) calls.push_back(reshare_new_call(f, new_set, 3));
  const auto done = run_room(*relay_, calls);
  expect_all_succeeded(done);
  if (HasFailure()) return;
  const auto old_chain = key_share_of(decode_share(share(0))).chain_code;
  for (const auto& c : done) {
    EXPECT_EQ(*c.first, group_key());
    const auto s = decode_share(*c.second);
    EXPECT_EQ(key_share_of(s).threshold, 3);
    EXPECT_EQ(key_share_of(s).num_parties, 5);
    EXPECT_EQ(key_share_of(s).chain_code, old_chain);
    EXPECT_EQ(s.partyid_pubkey_map.size(), 5u);
  }
  EXPECT_NE(export_id(*done[0].second), export_id(share(0)));

  const std::string message = message_hex(64, 77);
  const auto signed_ = run_room(*relay_, {sign_call(*done[1].second, message, {5}), sign_call(*done[2].second, message, {5}),
                                          sign_call(*done[4].second, message, {5})});
  expect_all_succeeded(signed_);
  if (HasFailure()) return;
  expect_valid_signature(*signed_[0].first, message, derive_pubkey(share(2), {5}));
}

// RFC 8032 test 1, as a seed and as its secret scalar (computed here with
// libsodium: the clamped lower half of SHA-512 of the seed, reduced mod l).
struct Rfc8032Key {
  std::string seed;
  std::string scalar;
  std::string public_key;
};

Rfc8032Key rfc8032_test1() {
  const auto fixtures = test::load_share_fixtures("rfc8032_ed25519.txt");
  Rfc8032Key out{fixtures.at(0).at("seed"), {}, fixtures.at(0).at("public_key")};
  const crypto::Bytes seed = unhex(out.seed);
  std::array<std::uint8_t, 64> h{};
  crypto_hash_sha512(h.data(), seed.data(), seed.size());
  h[0] &= 0xF8;
  h[31] &= 0x3F;
  h[31] |= 0x40;
  std::fill(h.begin() + 32, h.end(), 0);
  std::array<std::uint8_t, 32> reduced{};
  crypto_core_ed25519_scalar_reduce(reduced.data(), h.data());
  out.scalar = crypto::hex_encode(reduced);
  return out;
}

TEST_F(Ed25519Ops, ImportGivesThePublishedPublicKey) {
  const Rfc8032Key key = rfc8032_test1();
  struct Case {
    const char* name;
    std::string key_hex;
    std::uint8_t is_raw;
  };
  for (const Case& c : {Case{"seed", key.seed, 0}, Case{"raw scalar", key.scalar, 1}}) {
    SCOPED_TRACE(c.name);
    const Identity importer = new_identity();
    const Identity recipient = new_identity();
    // The importer leaves itself out of its list: it is added.
    const auto done = run_room(*relay_, {import_importer_call(importer, {recipient.id}, 2, c.key_hex, c.is_raw),
                                         import_recipient_call(recipient, {importer.id, recipient.id}, 2)});
    expect_all_succeeded(done);
    if (HasFailure()) continue;
    for (const auto& d : done) {
      EXPECT_EQ(*d.first, key.public_key);
      const auto s = decode_share(*d.second);
      EXPECT_EQ(key_share_of(s).chain_code, crypto::ByteArray<32>{});
      EXPECT_EQ(key_share_of(s).threshold, 2);
    }
    EXPECT_EQ(spriv_public_key_hex(offline_export({*done[0].second, *done[1].second}).text), key.public_key);
  }
  // Alone, with a flag byte other than 0 and 1: a seed.
  const Identity solo = new_identity();
  const auto alone = run_room(*relay_, {import_importer_call(solo, {}, 1, key.seed, 2)});
  expect_all_succeeded(alone);
  if (!HasFailure()) EXPECT_EQ(*alone[0].first, key.public_key);
}

TEST_F(Ed25519Ops, AnUnusableRawKeyFailsTheImporter) {
  const Identity solo = new_identity();
  const std::string order = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";  // l, LE
  for (const std::string& raw : {order, std::string(64, '0')}) {
    expect_all_failed(run_room(*relay_, {import_importer_call(solo, {}, 1, raw, 1)}),
                      "Received an error from new_full_private_key");
  }
}

// ------------------------------------------------------------ faults that must fail in order

// A share whose own party id is not that of its own map entry, or whose
// threshold exceeds its party count: refused before the room.
std::string crafted(const std::string& share_text, bool wrong_id) {
  auto s = decode_share(share_text);
  auto& key = std::get<frost::FrostKeyShare>(s.key_share);
  if (wrong_id) {
    key.party_id = PartyId::unchecked(key.party_id.value() % 3 + 1);
  } else {
    key.threshold = 4;
  }
  return ed25519_share_encode(s);
}

TEST_F(Ed25519Ops, FaultsFailEveryPartyInOrder) {
  const std::string kThreshold = "Executor Failed: `Threshold 3 is greater than the number of parties 2`";
  const std::string kSync = "Public key and chaincode synchronization failed";
  const std::string kInvalidShare = "The provided serialized key share is invalid";
  const Identity a = new_identity();
  const Identity b = new_identity();
  const Identity c = new_identity();
  const std::string wrong_id = crafted(share(0), true);
  const std::string too_high = crafted(share(0), false);
  const std::string m = message_hex(16, 3);
  const std::vector<std::string> reshare_set = {export_id(share(0)), export_id(share(1)), a.id};

  struct Case {
    const char* name;
    std::vector<PartyCall> parties;
    std::string context;
  };
  const std::vector<Case> cases = {
      {"keygen t > n", {keygen_call(a, {b.id}, 2, 3), keygen_call(b, {a.id}, 2, 3)}, kThreshold},
      {"reshare t' > n'",
       {reshare_remaining_call(share(0), reshare_set, 4), reshare_remaining_call(share(1), reshare_set, 4),
        reshare_new_call(a, reshare_set, 4)},
       "Executor Failed: `Threshold 4 is greater than the number of parties 3`"},
      {"import t > n", {import_importer_call(a, {b.id}, 3, std::string(64, '1'), 0), import_recipient_call(b, {a.id}, 3)},
       kThreshold},
      {"export to a holder outside the session",
       {export_call(share(0), ids_[1].id), export_call(share(2), ids_[1].id)},
       "The provided public key(`" + ids_[1].id + "`) doesn't exist in the party list"},
      {"reshare without a holder of the key", {reshare_new_call(b, {b.id, c.id}, 2), reshare_new_call(c, {b.id, c.id}, 2)},
       kSync},
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

TEST_F(Ed25519Ops, PeersFromVersion110AreServedAndOlderOnesRefused) {
  const Identity a = new_identity();
  const Identity b = new_identity();
  auto key_of = [](const Identity& id) {
    auto raw = crypto::base58_decode(id.id);
    crypto::ByteArray<32> k{};
    if (raw && raw->size() == 32) std::copy(raw->begin(), raw->end(), k.begin());
    return k;
  };
  {
    testing::ScopedAnnouncedVersion old_peer(key_of(b), wire_code(Version::V1_1_0));
    expect_all_succeeded(run_room(*relay_, {keygen_call(a, {b.id}, 2, 2), keygen_call(b, {a.id}, 2, 2)}));
  }
  {
    testing::ScopedAnnouncedVersion older_peer(key_of(b), wire_code(Version::V1_0_3));
    expect_all_failed(run_room(*relay_, {keygen_call(a, {b.id}, 2, 2), keygen_call(b, {a.id}, 2, 2)}),
                      "Another party uses a deprecated version: v1.0.3");
  }
}

// ------------------------------------------------------------ refusals

TEST_F(Ed25519Ops, ArgumentRefusals) {
  const Identity me = new_identity();
  const std::vector<std::string> bad_ids_texts = {me.id, ""};
  const auto bad_ids = cstrs(bad_ids_texts);
  const std::string odd = "abc";
  const std::string bad_char = "0g";
  const std::string key63(63, '1');
  const std::string key64(64, '1');
  const std::string bad_host = "relay.example/x";
  const ConstStrArray no_ids{nullptr, 0};
  const auto single = &CallbackRecorder::single_cb;
  const auto dbl = &CallbackRecorder::double_cb;
  expect_refusals({
      {"sign: odd message",
       [&](void* ctx) {
         return velto_ed25519_sign(cstr("zz"), cstr(odd), cstr(kRoom), cstr(kHost), U32Array{nullptr, 0}, single, ctx);
       },
       -4, kMessageErr + "Odd number of digits"},
      {"sign: bad character before a bad share",
       [&](void* ctx) {
         return velto_ed25519_sign(cstr("zz"), cstr(bad_char), cstr(kRoom), cstr(kHost), U32Array{nullptr, 0}, single,
                                   ctx);
       },
       -4, kMessageErr + "Invalid character 'g' at position 1"},
      {"sign: path null with count 2",
       [&](void* ctx) {
         return velto_ed25519_sign(cstr(share(0)), cstr(""), cstr(kRoom), cstr(kHost), U32Array{nullptr, 2}, single,
                                   ctx);
       },
       -11, kPathErr + "Received a slice with null pointer, but length: 2"},
      {"sign: null callback",
       [&](void*) {
         return velto_ed25519_sign(cstr(share(0)), cstr(""), cstr(kRoom), cstr(kHost), U32Array{nullptr, 0}, nullptr,
                                   nullptr);
       },
       -253, kNullCallback},
      {"keygen: n 0",
       [&](void* ctx) {
         return velto_ed25519_keygen(0, 1, cstr(me.secret), cstr(kRoom), cstr(kHost), no_ids, dbl, ctx);
       },
       -6, kCountErr + "0 (must be between 1..=8192)"},
      {"keygen: bad host and room",
       [&](void* ctx) { return velto_ed25519_keygen(1, 1, cstr(me.secret), cstr(odd), cstr(bad_host), no_ids, dbl, ctx); },
       -2, kHostErr + "invalid uri character"},
      {"importer: a bad id before a bad key",
       [&](void* ctx) {
         return velto_ed25519_import_private_key_importer(1, cstr(key63), cstr(me.secret), cstr(kRoom), cstr(kHost),
                                                          ConstStrArray{bad_ids.data(), bad_ids.size()}, 0, dbl, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"importer: 63 digits",
       [&](void* ctx) {
         return velto_ed25519_import_private_key_importer(1, cstr(key63), cstr(me.secret), cstr(kRoom), cstr(kHost),
                                                          no_ids, 1, dbl, ctx);
       },
       -15,
       "Error Kind: Invalid private key: must be a hex string of length exactly 64, Context: Invalid Hex length, "
       "expected 64 hex chars, found: 63"},
      {"export: empty receiver",
       [&](void* ctx) {
         return velto_ed25519_export_full_private_key(cstr(share(0)), cstr(""), cstr(kRoom), cstr(kHost), single, ctx);
       },
       -10, kKeygenIdErr + "Invalid key length, expected 32 bytes, found: 0"},
      {"refresh: bad share",
       [&](void* ctx) { return velto_ed25519_refresh(cstr("zz"), dbl, ctx, cstr(kRoom), cstr(kHost)); }, -3,
       kShareErr + "Invalid hex encoding"},
      {"reshare remaining: threshold 0",
       [&](void* ctx) {
         return velto_ed25519_reshare_remaining_party(0, cstr(share(0)), no_ids, cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -6, kCountErr + "0 (must be between 1..=8192)"},
      {"reshare new: bad keygen secret",
       [&](void* ctx) {
         return velto_ed25519_reshare_new_party(2, cstr(odd), no_ids, cstr(kRoom), cstr(kHost), dbl, ctx);
       },
       -9, kKeypairErr + "Invalid keypair length, expected 64 hex chars, found: 3"},
      {"recipient: bad room",
       [&](void* ctx) {
         return velto_ed25519_import_private_key_recipient(2, cstr(me.secret), no_ids, cstr(odd), cstr(kHost), dbl,
                                                           ctx);
       },
       -1, kRoomErr + "Odd number of digits"},
      {"importer: null callback",
       [&](void*) {
         return velto_ed25519_import_private_key_importer(1, cstr(key64), cstr(me.secret), cstr(kRoom), cstr(kHost),
                                                          no_ids, 0, nullptr, nullptr);
       },
       -253, kNullCallback},
  });
}

}  // namespace
}  // namespace velto::executor
