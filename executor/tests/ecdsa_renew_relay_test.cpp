// Refresh, reshare and import driven through the function interface as C
// callers drive them: every party is a call in this process with its own
// callback recorder, and all of them meet in a room of the local relay on
// loopback. Group keys are checked with libsecp256k1, and the new shares
// must sign.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>
#include <secp256k1.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/velto.h"
#include "executor/tests/ecdsa_latest_util.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/refusals.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::Completion;
using testing::cstr;
using testing::LocalRelay;
using testing::take;
using testing::Identity;
using testing::kExecutorError;
using testing::new_identity;

// A list of keygen ids as the C caller passes it; keeps the texts alive.
class IdArray {
 public:
  explicit IdArray(std::vector<std::string> ids) : ids_(std::move(ids)) {
    for (const auto& s : ids_) texts_.push_back(cstr(s));
  }
  ConstStrArray get() const { return ConstStrArray{texts_.data(), texts_.size()}; }

 private:
  std::vector<std::string> ids_;
  std::vector<ConstStr> texts_;
};

// The keygen id under which the holder of a share is known: its transport
// public key in Base58.
std::string keygen_id_of(const EcdsaStorableSecretShare& share) {
  return share.transport_keypair.public_key().display();
}

EcdsaStorableSecretShare decode(const std::string& text) {
  auto share = ecdsa_share_decode(text);
  EXPECT_TRUE(share.has_value());
  return std::move(*share);
}

// libsecp256k1's uncompressed form of a point, in lowercase hex.
std::string uncompressed_hex(const secp256k1_pubkey& key) {
  crypto::ByteArray<65> out{};
  std::size_t len = out.size();
  EXPECT_EQ(secp256k1_ec_pubkey_serialize(crypto::secp256k1_ctx(), out.data(), &len, &key, SECP256K1_EC_UNCOMPRESSED),
            1);
  return crypto::hex_encode(out);
}

// The one completion of an accepted call. A second one arriving while the
// others are awaited is reported by expect_single().
class Party {
 public:
  CallbackRecorder* ctx() { return &rec_; }
  Completion wait() {
    auto calls = rec_.wait_for(1);
    if (calls.empty()) {
      ADD_FAILURE() << "no callback";
      return {};
    }
    return calls.front();
  }
  void expect_single() const { EXPECT_EQ(rec_.calls().size(), 1u); }

 private:
  CallbackRecorder rec_;
};

// Every party's completion, once each has come.
std::vector<Completion> wait_all(std::vector<Party>& parties) {
  std::vector<Completion> out;
  for (auto& p : parties) out.push_back(p.wait());
  for (const auto& p : parties) p.expect_single();
  return out;
}

void expect_accepted(ResultFFI r) {
  const auto result = take(r);
  EXPECT_EQ(result.code, 0) << result.message;
}

// A success: the given group key and a share text that decodes.
std::vector<EcdsaStorableSecretShare> expect_new_shares(const std::vector<Completion>& done,
                                                        const std::string& key_hex) {
  std::vector<EcdsaStorableSecretShare> out;
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, 0) << c.result.message;
    EXPECT_TRUE(c.result.message_null);
    EXPECT_EQ(c.first, key_hex);
    if (!c.second) {
      ADD_FAILURE() << "no share text";
      continue;
    }
    out.push_back(decode(*c.second));
  }
  return out;
}

// The same failure at every party: no outputs, code -8, the message.
void expect_failed(const std::vector<Completion>& done, const std::string& context) {
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, -8);
    EXPECT_EQ(c.result.message, kExecutorError + context);
    EXPECT_EQ(c.first, std::nullopt);
    EXPECT_EQ(c.second, std::nullopt);
  }
}

// Every new share holds a fresh transport key, and all of them carry the
// same party map, which names each holder's new key under its own id.
void expect_rotated_transport_keys(const std::vector<EcdsaStorableSecretShare>& shares,
                                   const std::set<std::string>& old_ids) {
  ASSERT_FALSE(shares.empty());
  for (const auto& s : shares) {
    EXPECT_EQ(s.partyid_pubkey_map, shares.front().partyid_pubkey_map);
    EXPECT_EQ(old_ids.count(keygen_id_of(s)), 0u);
    const auto& key = test::latest_key(s);
    EXPECT_EQ(s.partyid_pubkey_map.at(key.party_id), s.transport_keypair.public_key());
  }
  EXPECT_EQ(shares.front().partyid_pubkey_map.size(), shares.size());
}

class EcdsaRenewRelay : public ::testing::Test {
 protected:
  async::Runtime rt_{4};
  LocalRelay relay_;
};

TEST_F(EcdsaRenewRelay, RefreshKeepsKeyAndChainCodeAndRenewsEveryShare) {
  const auto old = test::fresh_shares(rt_, 2, 3);
  const ecdsa::KeyPair& old_key = test::latest_key(old[0]);
  const std::string key_hex = uncompressed_hex(old_key.public_key.raw());
  const std::string room = relay_.new_room(3);

  std::vector<std::string> old_texts;
  std::set<std::string> old_ids;
  std::vector<Party> parties(3);
  for (std::size_t i = 0; i < old.size(); ++i) {
    old_texts.push_back(ecdsa_share_encode(old[i]));
    old_ids.insert(keygen_id_of(old[i]));
    expect_accepted(velto_ecdsa_refresh(cstr(old_texts[i]), &CallbackRecorder::double_cb, parties[i].ctx(),
                                        cstr(room), cstr(relay_.host())));
  }
  const auto done = wait_all(parties);
  const auto renewed = expect_new_shares(done, key_hex);
  ASSERT_EQ(renewed.size(), 3u);

  std::vector<ecdsa::KeyPair> keys;
  for (std::size_t i = 0; i < renewed.size(); ++i) {
    EXPECT_NE(*done[i].second, old_texts[i]);
    const ecdsa::KeyPair& before = test::latest_key(old[i]);
    const ecdsa::KeyPair& after = test::latest_key(renewed[i]);
    EXPECT_TRUE(after.public_key == before.public_key);
    EXPECT_EQ(after.chain_code, before.chain_code);
    EXPECT_EQ(after.party_id, before.party_id);
    EXPECT_EQ(after.threshold, 2);
    EXPECT_EQ(after.num_parties, 3);
    EXPECT_FALSE(after.secret_share == before.secret_share);
    keys.push_back(after);
  }
  expect_rotated_transport_keys(renewed, old_ids);
  test::expect_keys_sign(rt_, {keys[0], keys[2]}, 11);
}

TEST_F(EcdsaRenewRelay, ReshareTwoOfThreeToThreeOfFive) {
  const auto old = test::fresh_shares(rt_, 2, 3);
  const ecdsa::KeyPair& old_key = test::latest_key(old[0]);
  const std::string key_hex = uncompressed_hex(old_key.public_key.raw());
  const std::string room = relay_.new_room(5);

  // Old parties 0 and 1 stay; old party 2 leaves; three new parties join.
  const std::vector<Identity> joining = {new_identity(), new_identity(), new_identity()};
  std::vector<std::string> ids = {keygen_id_of(old[0]), keygen_id_of(old[1])};
  for (const auto& j : joining) ids.push_back(j.id);
  const IdArray id_array(ids);

  const std::vector<std::string> texts = {ecdsa_share_encode(old[0]), ecdsa_share_encode(old[1])};
  std::vector<Party> parties(5);
  for (std::size_t i = 0; i < 2; ++i) {
    expect_accepted(velto_ecdsa_reshare_remaining_party(3, cstr(texts[i]), id_array.get(), cstr(room),
                                                        cstr(relay_.host()), &CallbackRecorder::double_cb,
                                                        parties[i].ctx()));
  }
  for (std::size_t i = 0; i < joining.size(); ++i) {
    expect_accepted(velto_ecdsa_reshare_new_party(3, cstr(joining[i].secret), id_array.get(), cstr(room),
                                                  cstr(relay_.host()), &CallbackRecorder::double_cb,
                                                  parties[2 + i].ctx()));
  }
  const auto reshared = expect_new_shares(wait_all(parties), key_hex);
  ASSERT_EQ(reshared.size(), 5u);

  std::vector<ecdsa::KeyPair> keys;
  std::set<PartyId> new_ids;
  for (const auto& s : reshared) {
    const ecdsa::KeyPair& k = test::latest_key(s);
    EXPECT_EQ(k.threshold, 3);
    EXPECT_EQ(k.num_parties, 5);
    EXPECT_EQ(k.chain_code, old_key.chain_code);
    new_ids.insert(k.party_id);
    keys.push_back(k);
  }
  EXPECT_EQ(new_ids.size(), 5u);
  std::set<std::string> old_ids(ids.begin(), ids.end());
  expect_rotated_transport_keys(reshared, old_ids);
  test::expect_keys_sign(rt_, {keys[1], keys[2], keys[4]}, 23);
}

// The remaining party's own checks come before it connects: the host names
// a port nobody listens on, so only these texts can come back at once.
TEST_F(EcdsaRenewRelay, RemainingPartyRefusesBeforeJoining) {
  const auto old = test::fresh_shares(rt_, 2, 3);
  const std::string text = ecdsa_share_encode(old[0]);
  const std::string own = keygen_id_of(old[0]);
  const std::string room(32, 'a');
  const std::string nowhere = "127.0.0.1:1";
  const std::string too_few_ones = "Insufficient number of remaining parties for reshare: `1`, need at least `2`";
  struct Case {
    const char* name;
    std::vector<std::string> ids;
    bool null_array;
    std::string context;
  };
  const std::vector<Case> cases = {
      {"no keygen ids", {}, false, "invalid number of parties: 0 (must be between 1..=8192)"},
      {"null array with count 3", {}, true, "invalid number of parties: 0 (must be between 1..=8192)"},
      {"own key missing", {keygen_id_of(old[1]), keygen_id_of(old[2])}, false,
       "Current party missing in remaining parties, transport key: `" + own + "`"},
      {"only itself of a 2-of-3 key", {own}, false, too_few_ones},
      {"new parties do not count as remaining", {own, new_identity().id, new_identity().id}, false,
       too_few_ones},
  };
  for (const auto& c : cases) {
    const IdArray ids(c.ids);
    const ConstStrArray array = c.null_array ? ConstStrArray{nullptr, 3} : ids.get();
    std::vector<Party> party(1);
    expect_accepted(velto_ecdsa_reshare_remaining_party(2, cstr(text), array, cstr(room), cstr(nowhere),
                                                        &CallbackRecorder::double_cb, party[0].ctx()));
    SCOPED_TRACE(c.name);
    expect_failed(wait_all(party), c.context);
  }
}

TEST_F(EcdsaRenewRelay, NewPartyMustBeAmongTheKeygenIds) {
  const Identity self = new_identity();
  const std::string room(32, 'b');
  const std::string nowhere = "127.0.0.1:1";
  const std::string missing = "Current party missing in remaining parties, transport key: `" + self.id + "`";
  for (const bool null_array : {true, false}) {
    const IdArray others({new_identity().id});
    std::vector<Party> party(1);
    const ConstStrArray array = null_array ? ConstStrArray{nullptr, 3} : others.get();
    expect_accepted(velto_ecdsa_reshare_new_party(2, cstr(self.secret), array, cstr(room), cstr(nowhere),
                                                  &CallbackRecorder::double_cb, party[0].ctx()));
    SCOPED_TRACE(null_array ? "null array" : "own id left out");
    expect_failed(wait_all(party), missing);
  }
}

// A reshare among new parties only: nobody announces a key, and every party
// ends in an orderly failure.
TEST_F(EcdsaRenewRelay, ReshareWithoutAnyRemainingPartyFailsEverywhere) {
  const std::vector<Identity> joining = {new_identity(), new_identity()};
  const IdArray ids({joining[0].id, joining[1].id});
  const std::string room = relay_.new_room(2);
  std::vector<Party> parties(2);
  for (std::size_t i = 0; i < joining.size(); ++i) {
    expect_accepted(velto_ecdsa_reshare_new_party(2, cstr(joining[i].secret), ids.get(), cstr(room),
                                                  cstr(relay_.host()), &CallbackRecorder::double_cb,
                                                  parties[i].ctx()));
  }
  expect_failed(wait_all(parties), "Public key and chaincode synchronization failed");
}

// BIP32 test vector 1: the master key and chain code of the seed
// 000102030405060708090a0b0c0d0e0f, and the published xpub of m.
constexpr const char* kVector1Key = "e8f32e723decf4051aefac8e2c93c9c5b214313817cdb01a1494b917c8436b35";
constexpr const char* kVector1ChainCode = "873dff81c02f525623fd1fe5167eac3a55a049de3d314bb42ee227ffed37d508";
constexpr const char* kVector1Xpub =
    "xpub661MyMwAqRbcFtXgS5sYJABqqG9YLmC4Q1Rdap9gSE8NqtwybGhePY2gZ29ESFjqJoCu1Rupje8YtGqsefD265TMg7usUDFdp6W1EGMcet8";

std::string xpub_of(const std::string& share_text) { return testing::local_text(velto_ecdsa_get_xpub, share_text); }

TEST_F(EcdsaRenewRelay, ImportOfBip32MasterKeyKeepsKeyAndChainCode) {
  const auto key_bytes = crypto::hex_decode(kVector1Key);
  ASSERT_TRUE(key_bytes.has_value());
  secp256k1_pubkey expected;
  ASSERT_EQ(secp256k1_ec_pubkey_create(crypto::secp256k1_ctx(), &expected, key_bytes->data()), 1);
  const std::string key_hex = uncompressed_hex(expected);

  const Identity importer = new_identity();
  const std::vector<Identity> recipients = {new_identity(), new_identity()};
  // The importer leaves its own id out (it is added); the recipients list
  // every party, themselves included.
  const IdArray importer_ids({recipients[0].id, recipients[1].id});
  const IdArray all_ids({importer.id, recipients[0].id, recipients[1].id});
  const std::string room = relay_.new_room(3);

  std::vector<Party> parties(3);
  expect_accepted(velto_ecdsa_import_private_key_importer(2, cstr(kVector1Key), cstr(importer.secret), cstr(room),
                                                          cstr(relay_.host()), importer_ids.get(),
                                                          cstr(kVector1ChainCode), &CallbackRecorder::double_cb,
                                                          parties[0].ctx()));
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    expect_accepted(velto_ecdsa_import_private_key_recipient(2, cstr(recipients[i].secret), all_ids.get(),
                                                             cstr(room), cstr(relay_.host()),
                                                             &CallbackRecorder::double_cb, parties[1 + i].ctx()));
  }
  const auto done = wait_all(parties);
  const auto imported = expect_new_shares(done, key_hex);
  ASSERT_EQ(imported.size(), 3u);
  std::vector<ecdsa::KeyPair> keys;
  for (std::size_t i = 0; i < imported.size(); ++i) {
    EXPECT_EQ(xpub_of(*done[i].second), kVector1Xpub);
    EXPECT_EQ(crypto::hex_encode(test::latest_key(imported[i]).chain_code), kVector1ChainCode);
    EXPECT_EQ(test::latest_key(imported[i]).threshold, 2);
    keys.push_back(test::latest_key(imported[i]));
  }
  std::set<std::string> identities = {importer.id, recipients[0].id, recipients[1].id};
  expect_rotated_transport_keys(imported, identities);
  test::expect_keys_sign(rt_, {keys[0], keys[2]}, 37);
}

// An importer alone: its key is refused by the protocol, and the failure
// comes back as an orderly -8.
TEST_F(EcdsaRenewRelay, ImporterWithKeyOutsideTheGroupOrderFails) {
  // The group order itself.
  const std::string order = "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
  const Identity importer = new_identity();
  const std::string room = relay_.new_room(1);
  std::vector<Party> party(1);
  expect_accepted(velto_ecdsa_import_private_key_importer(1, cstr(order), cstr(importer.secret), cstr(room),
                                                          cstr(relay_.host()), ConstStrArray{nullptr, 0}, cstr(""),
                                                          &CallbackRecorder::double_cb, party[0].ctx()));
  expect_failed(wait_all(party), "Received an error from new_full_private_key");
}

// Parties that disagree on the threshold bind different prologues and never
// open their channels: every one of them fails with -8.
TEST_F(EcdsaRenewRelay, MismatchedThresholdsFailEveryParty) {
  const Identity importer = new_identity();
  const std::vector<Identity> recipients = {new_identity(), new_identity()};
  const IdArray all_ids({importer.id, recipients[0].id, recipients[1].id});
  const std::string room = relay_.new_room(3);
  std::vector<Party> parties(3);
  expect_accepted(velto_ecdsa_import_private_key_importer(2, cstr(kVector1Key), cstr(importer.secret), cstr(room),
                                                          cstr(relay_.host()), all_ids.get(), cstr(""),
                                                          &CallbackRecorder::double_cb, parties[0].ctx()));
  const std::uint16_t thresholds[] = {2, 3};
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    expect_accepted(velto_ecdsa_import_private_key_recipient(thresholds[i], cstr(recipients[i].secret),
                                                             all_ids.get(), cstr(room), cstr(relay_.host()),
                                                             &CallbackRecorder::double_cb, parties[1 + i].ctx()));
  }
  // A party that receives a handshake it cannot decrypt fails at once; one
  // whose peer gave up waits out the handshake's receive timeout.
  const std::string undecryptable =
      kExecutorError +
      "End-to-end decryption failed\n"
      "Hint: This is caused due to mismatched parameters among parties, such as:\n"
      "signature scheme, number of parties, threshold, message to sign, derivation path, BIP340 tweak, keygen IDs, "
      "secret shares from different protocols (incorrect shared public key), or keygen ID for export";
  const std::string timed_out =
      kExecutorError + "Failed to perform handshake: `Error while receiving: `The operation has timed out``";
  std::size_t decryption_failures = 0;
  for (const auto& c : wait_all(parties)) {
    EXPECT_EQ(c.result.code, -8);
    EXPECT_TRUE(c.result.message == undecryptable || c.result.message == timed_out) << c.result.message;
    if (c.result.message == undecryptable) ++decryption_failures;
    EXPECT_EQ(c.first, std::nullopt);
    EXPECT_EQ(c.second, std::nullopt);
  }
  EXPECT_GE(decryption_failures, 1u);
}

}  // namespace
}  // namespace velto::executor
