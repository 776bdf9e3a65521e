// The exportable Ed25519 operations driven as a C caller drives them: every
// party is a call in this process with its own identity and callback
// recorder, all meeting in rooms of the local relay on loopback. Keys,
// signatures and seeds are checked with libsodium (RFC 8032 key of a seed,
// signature verification), the BLAKE3 reference library (the seed mask) and
// libsecp256k1 (the commitment of the masked seed), not with the library's
// own code.
#include <blake3.h>
#include <gtest/gtest.h>
#include <secp256k1.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "executor/bindings/velto.h"
#include "executor/ed25519_share.hpp"
#include "executor/tests/announce_seam.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "executor/tests/refusals.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::Completion;
using testing::cstr;
using testing::cstrs;
using testing::Identity;
using testing::kExecutorError;
using testing::local_text;
using testing::LocalRelay;
using testing::new_identity;
using testing::take;

// ------------------------------------------------------------ parties

// Starts one party's call in `room`, reporting to `rec`; returns the call's
// result record.
using Start = std::function<ResultFFI(const std::string& room, CallbackRecorder* rec)>;

// Every party's call in one new room, side by side; each accepted.
std::vector<Completion> run_room(LocalRelay& relay, const std::vector<Start>& parties) {
  const std::string room = relay.new_room(static_cast<std::uint16_t>(parties.size()));
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (const auto& start : parties) {
    recs.push_back(std::make_unique<CallbackRecorder>());
    const auto r = take(start(room, recs.back().get()));
    EXPECT_EQ(r.code, 0) << r.message;
  }
  std::vector<Completion> out;
  for (auto& rec : recs) out.push_back(testing::wait_one(*rec));
  return out;
}

std::vector<std::string> ids_of(const std::vector<Identity>& parties) {
  std::vector<std::string> out;
  for (const auto& p : parties) out.push_back(p.id);
  return out;
}

Start keygen_call(LocalRelay& relay, bool sampler, const Identity& self, std::vector<std::string> ids,
                  std::uint16_t n, std::uint16_t t) {
  return [&relay, sampler, &self, ids = std::move(ids), n, t](const std::string& room, CallbackRecorder* rec) {
    const auto list = cstrs(ids);
    const ConstStrArray array{list.data(), list.size()};
    auto fn = sampler ? &velto_exportable_ed25519_sample_key : &velto_exportable_ed25519_receive_key;
    return fn(n, t, cstr(self.secret), cstr(room), cstr(relay.host()), array, &CallbackRecorder::double_cb, rec);
  };
}

Start sign_call(LocalRelay& relay, const std::string& share, std::string message) {
  return [&relay, &share, message = std::move(message)](const std::string& room, CallbackRecorder* rec) {
    return velto_exportable_ed25519_sign(cstr(share), cstr(message), cstr(room), cstr(relay.host()),
                                         &CallbackRecorder::single_cb, rec);
  };
}

Start export_call(LocalRelay& relay, const std::string& share, std::string to) {
  return [&relay, &share, to = std::move(to)](const std::string& room, CallbackRecorder* rec) {
    return velto_exportable_ed25519_export_full_private_key(cstr(share), cstr(to), cstr(room), cstr(relay.host()),
                                                            &CallbackRecorder::single_cb, rec);
  };
}

Start refresh_call(LocalRelay& relay, const std::string& share) {
  return [&relay, &share](const std::string& room, CallbackRecorder* rec) {
    return velto_exportable_ed25519_refresh(cstr(share), &CallbackRecorder::double_cb, rec, cstr(room),
                                            cstr(relay.host()));
  };
}

std::string export_id(const std::string& share) { return local_text(&velto_exportable_ed25519_get_export_id, share); }
std::string pubkey(const std::string& share) { return local_text(&velto_exportable_ed25519_get_pubkey, share); }

// The offline export of `shares` in the given order: (result, text).
std::pair<testing::Result, std::string> offline_export(const std::vector<std::string>& shares) {
  const auto list = cstrs(shares);
  HeapString out{nullptr, 0};
  const auto r = take(velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray{list.data(), list.size()},
                                                                              &out));
  std::string text(reinterpret_cast<const char*>(out.ptr), out.len);
  velto_dealloc_heap_string(out.ptr, out.len);
  return {r, text};
}

ExportableEd25519StorableSecretShare decode(const std::string& text) {
  auto s = exportable_ed25519_share_decode(text);
  EXPECT_TRUE(s.has_value()) << text;
  return std::move(*s);
}

// ------------------------------------------------------------ independent checks

crypto::Bytes unhex(const std::string& text) {
  auto b = crypto::hex_decode(text);
  EXPECT_TRUE(b.has_value()) << text;
  return b.value_or(crypto::Bytes{});
}

// RFC 8032 public key of a seed (libsodium).
std::string sodium_public_key(const crypto::Bytes& seed) {
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> pk{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> sk{};
  EXPECT_EQ(seed.size(), 32u);
  EXPECT_EQ(crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data()), 0);
  return crypto::hex_encode(crypto::ByteSpan(pk.data(), pk.size()));
}

bool sodium_verifies(const std::string& signature_hex, const crypto::Bytes& message, const std::string& key_hex) {
  const crypto::Bytes sig = unhex(signature_hex);
  const crypto::Bytes key = unhex(key_hex);
  if (sig.size() != 64 || key.size() != 32) return false;
  return crypto_sign_verify_detached(sig.data(), message.data(), message.size(), key.data()) == 0;
}

// (seed XOR BLAKE3-derive-key(context, public key))·G, compressed
// (libsecp256k1 and the BLAKE3 reference library).
std::string masked_seed_commitment(const crypto::Bytes& seed, const crypto::Bytes& public_key) {
  blake3_hasher h;
  blake3_hasher_init_derive_key(&h, "Dhxpu thjp lgluipys C7");
  blake3_hasher_update(&h, public_key.data(), public_key.size());
  std::array<std::uint8_t, 32> masked{};
  blake3_hasher_finalize(&h, masked.data(), masked.size());
  for (std::size_t i = 0; i < 32; ++i) masked[i] ^= seed[i];
  secp256k1_pubkey point;
  EXPECT_EQ(secp256k1_ec_pubkey_create(crypto::secp256k1_ctx(), &point, masked.data()), 1);
  std::array<std::uint8_t, 33> out{};
  std::size_t len = out.size();
  secp256k1_ec_pubkey_serialize(crypto::secp256k1_ctx(), out.data(), &len, &point, SECP256K1_EC_COMPRESSED);
  return crypto::hex_encode(crypto::ByteSpan(out.data(), out.size()));
}

// The exported text: seed ‖ public key, whose seed gives that key (libsodium),
// which is `key_hex`, and whose masked seed is committed in `share`.
void expect_exported_key(const std::string& text, const std::string& key_hex, const std::string& share) {
  ASSERT_EQ(text.size(), 128u) << text;
  ASSERT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
  const crypto::Bytes seed = unhex(text.substr(0, 64));
  EXPECT_EQ(text.substr(64), key_hex);
  EXPECT_EQ(sodium_public_key(seed), key_hex);
  const auto decoded = decode(share);
  EXPECT_EQ(crypto::hex_encode(decoded.key_share.preimage_share.commitment.to_compressed()),
            masked_seed_commitment(seed, unhex(key_hex)));
}

// ------------------------------------------------------------ fixture

class ExportableOps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { relay_ = new LocalRelay(); }
  static void TearDownTestSuite() {
    delete relay_;
    relay_ = nullptr;
  }
  static LocalRelay& relay() { return *relay_; }

  // A fresh key: party 0 samples, the others receive; all pass every id.
  struct Key {
    std::vector<Identity> parties;
    std::vector<Completion> results;
    std::vector<std::string> shares;
    std::string public_key;
  };
  static Key keygen(std::uint16_t n, std::uint16_t t) {
    Key key;
    for (std::uint16_t i = 0; i < n; ++i) key.parties.push_back(new_identity());
    std::vector<Start> calls;
    for (std::uint16_t i = 0; i < n; ++i)
      calls.push_back(keygen_call(relay(), i == 0, key.parties[i], ids_of(key.parties), n, t));
    key.results = run_room(relay(), calls);
    for (const auto& r : key.results) {
      EXPECT_EQ(r.result.code, 0) << r.result.message;
      key.shares.push_back(r.second.value_or(""));
    }
    key.public_key = key.results[0].first.value_or("");
    return key;
  }

  static std::vector<Completion> sign(const std::vector<std::string>& shares, const std::string& message) {
    std::vector<Start> calls;
    for (const auto& s : shares) calls.push_back(sign_call(relay(), s, message));
    return run_room(relay(), calls);
  }

  static std::vector<Completion> export_to(const std::vector<std::string>& shares, const std::string& to) {
    std::vector<Start> calls;
    for (const auto& s : shares) calls.push_back(export_call(relay(), s, to));
    return run_room(relay(), calls);
  }

  // The exported text at the receiver `to` (every other party gets none).
  static std::string exported(const std::vector<std::string>& shares, const std::string& to) {
    std::string text;
    for (const auto& c : export_to(shares, to)) {
      EXPECT_EQ(c.result.code, 0) << c.result.message;
      if (c.first) {
        EXPECT_TRUE(text.empty()) << "two receivers";
        text = *c.first;
      }
    }
    return text;
  }

  static LocalRelay* relay_;
};

LocalRelay* ExportableOps::relay_ = nullptr;

// ------------------------------------------------------------ key generation, signing, export

TEST_F(ExportableOps, SampledKeySignsAndExportsItsSeed) {
  const std::pair<std::uint16_t, std::uint16_t> cases[] = {{1, 1}, {2, 2}, {3, 2}, {5, 3}};
  for (const auto& [n, t] : cases) {
    SCOPED_TRACE("n=" + std::to_string(n) + " t=" + std::to_string(t));
    const Key key = keygen(n, t);
    ASSERT_EQ(key.public_key.size(), 64u);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(key.results[i].first.value_or(""), key.public_key);
      EXPECT_EQ(pubkey(key.shares[i]), key.public_key);
      // Right after key generation the export id is the keygen id.
      EXPECT_EQ(export_id(key.shares[i]), key.parties[i].id);
      const auto s = decode(key.shares[i]);
      EXPECT_EQ(s.key_share.key_share.chain_code, crypto::ByteArray<32>{});
      EXPECT_EQ(s.key_share.key_share.threshold, t);
      EXPECT_EQ(s.key_share.key_share.num_parties, n);
      EXPECT_EQ(s.key_share.preimage_share.party_id, s.key_share.key_share.party_id);
      EXPECT_EQ(s.partyid_pubkey_map.size(), n);
    }

    // The first t and the last t shares sign; libsodium verifies.
    const std::string message = "48656c6c6f2c20" + std::to_string(n) + "0";
    for (const bool last : {false, true}) {
      const std::vector<std::string> signers(last ? key.shares.end() - t : key.shares.begin(),
                                             last ? key.shares.end() : key.shares.begin() + t);
      const auto sigs = sign(signers, message);
      for (const auto& c : sigs) {
        ASSERT_EQ(c.result.code, 0) << c.result.message;
        ASSERT_TRUE(c.first.has_value());
        EXPECT_EQ(c.first->size(), 128u);
        EXPECT_TRUE(sodium_verifies(*c.first, unhex(message), key.public_key)) << *c.first;
      }
    }

    // Export to each party in turn: the same seed, whose key is the group key.
    std::set<std::string> texts;
    for (std::size_t i = 0; i < n; ++i) {
      const std::string text = exported(key.shares, key.parties[i].id);
      expect_exported_key(text, key.public_key, key.shares[i]);
      texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 1u);

    // Offline export of t shares, in two orders, gives the same text.
    std::vector<std::string> some(key.shares.end() - t, key.shares.end());
    const auto forward = offline_export(some);
    std::reverse(some.begin(), some.end());
    const auto backward = offline_export(some);
    EXPECT_EQ(forward.first.code, 0) << forward.first.message;
    EXPECT_EQ(backward.first.code, 0) << backward.first.message;
    EXPECT_EQ(forward.second, *texts.begin());
    EXPECT_EQ(backward.second, *texts.begin());
  }
}

TEST_F(ExportableOps, MessagesOfAnyEvenLengthAndEitherCase) {
  const Key key = keygen(2, 2);
  const std::pair<std::string, std::string> cases[] = {{"", ""}, {"ABCDEF00", "abcdef00"}};
  for (const auto& [given, bytes] : cases) {
    SCOPED_TRACE(given);
    for (const auto& c : sign(key.shares, given)) {
      ASSERT_EQ(c.result.code, 0) << c.result.message;
      EXPECT_TRUE(sodium_verifies(c.first.value_or(""), unhex(bytes), key.public_key));
    }
  }
}

TEST_F(ExportableOps, KeyGenerationNeedsExactlyOneSamplerAndAThresholdThatFits) {
  struct Case {
    const char* name;
    std::vector<bool> samplers;
    std::uint16_t t;
    std::string context;
  };
  const Case cases[] = {
      {"no sampler", {false, false, false}, 2, "Executor Failed: `Insufficient shares`"},
      {"two samplers", {true, true, false}, 2, "Executor Failed: `Error in broadcast: Cheating detected`"},
      {"threshold above the party count", {true, false}, 3,
       "Executor Failed: `Threshold 3 is greater than the number of parties 2`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<std::uint16_t>(c.samplers.size());
    std::vector<Identity> parties;
    for (std::uint16_t i = 0; i < n; ++i) parties.push_back(new_identity());
    std::vector<Start> calls;
    for (std::uint16_t i = 0; i < n; ++i)
      calls.push_back(keygen_call(relay(), c.samplers[i], parties[i], ids_of(parties), n, c.t));
    for (const auto& r : run_room(relay(), calls)) {
      EXPECT_EQ(r.result.code, -8);
      EXPECT_EQ(r.result.message, kExecutorError + c.context);
      EXPECT_FALSE(r.first.has_value());
      EXPECT_FALSE(r.second.has_value());
    }
  }
}

// ------------------------------------------------------------ export failures

TEST_F(ExportableOps, ExportFailures) {
  const Key key = keygen(3, 2);
  {
    SCOPED_TRACE("receiver outside the room");
    const std::string absent = key.parties[2].id;
    for (const auto& c : export_to({key.shares[0], key.shares[1]}, absent)) {
      EXPECT_EQ(c.result.code, -8);
      EXPECT_EQ(c.result.message,
                kExecutorError + "The provided public key(`" + absent + "`) doesn't exist in the party list");
    }
  }
  {
    SCOPED_TRACE("receiver of no share: refused before any room");
    const Identity stranger = new_identity();
    CallbackRecorder rec;
    const auto r = take(velto_exportable_ed25519_export_full_private_key(
        cstr(key.shares[0]), cstr(stranger.id), cstr("00000000000000000000000000000000"), cstr(relay().host()),
        &CallbackRecorder::single_cb, &rec));
    ASSERT_EQ(r.code, 0) << r.message;
    const auto calls = rec.wait_for(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].result.message,
              kExecutorError + "The provided public key(`" + stranger.id + "`) doesn't exist in the party list");
  }
  {
    SCOPED_TRACE("one holder of a 2-of-3 key");
    const auto alone = export_to({key.shares[0]}, key.parties[0].id);
    EXPECT_EQ(alone[0].result.code, -8);
    EXPECT_EQ(alone[0].result.message, kExecutorError + "Executor Failed: `Insufficient shares to reconstruct`");
  }
}

// ------------------------------------------------------------ refresh, reshare, import

TEST_F(ExportableOps, RefreshAndReshareKeepTheKeyAndTheSeed) {
  const Key key = keygen(3, 2);
  const std::string seed_text = exported(key.shares, key.parties[0].id);
  ASSERT_EQ(seed_text.size(), 128u);

  std::vector<Start> refresh_calls;
  for (const auto& s : key.shares) refresh_calls.push_back(refresh_call(relay(), s));
  const auto refreshed = run_room(relay(), refresh_calls);
  std::vector<std::string> shares;
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(refreshed[i].result.code, 0) << refreshed[i].result.message;
    EXPECT_EQ(refreshed[i].first.value_or(""), key.public_key);
    shares.push_back(refreshed[i].second.value_or(""));
    const auto before = decode(key.shares[i]);
    const auto after = decode(shares.back());
    EXPECT_EQ(after.key_share.key_share.party_id, before.key_share.key_share.party_id);
    EXPECT_EQ(after.key_share.key_share.threshold, 2);
    EXPECT_FALSE(after.key_share.key_share.secret_share == before.key_share.key_share.secret_share);
    EXPECT_NE(export_id(shares.back()), key.parties[i].id);
    EXPECT_EQ(after.partyid_pubkey_map.at(after.key_share.key_share.party_id),
              after.transport_keypair.public_key());
  }

  // (2 of 3) -> (3 of 5): the three holders remain, two parties are new.
  std::vector<Identity> newcomers{new_identity(), new_identity()};
  std::vector<std::string> ids;
  for (const auto& s : shares) ids.push_back(export_id(s));
  for (const auto& p : newcomers) ids.push_back(p.id);
  std::vector<Start> reshare_calls;
  for (const auto& s : shares) {
    reshare_calls.push_back([&, s](const std::string& room, CallbackRecorder* rec) {
      const auto list = cstrs(ids);
      return velto_exportable_ed25519_reshare_remaining_party(3, cstr(s), ConstStrArray{list.data(), list.size()},
                                                              cstr(room), cstr(relay().host()),
                                                              &CallbackRecorder::double_cb, rec);
    });
  }
  for (const auto& p : newcomers) {
    reshare_calls.push_back([&, &p = p](const std::string& room, CallbackRecorder* rec) {
      const auto list = cstrs(ids);
      return velto_exportable_ed25519_reshare_new_party(3, cstr(p.secret), ConstStrArray{list.data(), list.size()},
                                                        cstr(room), cstr(relay().host()),
                                                        &CallbackRecorder::double_cb, rec);
    });
  }
  const auto reshared = run_room(relay(), reshare_calls);
  std::vector<std::string> new_shares;
  for (const auto& r : reshared) {
    ASSERT_EQ(r.result.code, 0) << r.result.message;
    EXPECT_EQ(r.first.value_or(""), key.public_key);
    new_shares.push_back(r.second.value_or(""));
    const auto s = decode(new_shares.back());
    EXPECT_EQ(s.key_share.key_share.num_parties, 5);
    EXPECT_EQ(s.key_share.key_share.threshold, 3);
    EXPECT_EQ(s.partyid_pubkey_map.size(), 5u);
  }
  EXPECT_EQ(exported(new_shares, export_id(new_shares[4])), seed_text);
  EXPECT_EQ(offline_export({new_shares[4], new_shares[0], new_shares[2]}).second, seed_text);
}

TEST_F(ExportableOps, ReshareRefusalsBeforeAnyRoom) {
  const Key key = keygen(3, 3);
  const Identity newcomer = new_identity();
  // The room id names no room of the relay: these fail before joining.
  const std::string room = "0123456789abcdef0123456789abcdef";
  auto remaining = [&](const std::vector<std::string>& ids) {
    const auto list = cstrs(ids);
    CallbackRecorder rec;
    const auto r = take(velto_exportable_ed25519_reshare_remaining_party(
        2, cstr(key.shares[0]), ConstStrArray{list.data(), list.size()}, cstr(room), cstr(relay().host()),
        &CallbackRecorder::double_cb, &rec));
    EXPECT_EQ(r.code, 0) << r.message;
    return rec.wait_for(1).at(0).result.message;
  };
  EXPECT_EQ(remaining({key.parties[1].id, newcomer.id}),
            kExecutorError + "Current party missing in remaining parties, transport key: `" + key.parties[0].id + "`");
  EXPECT_EQ(remaining({key.parties[0].id, key.parties[1].id, newcomer.id}),
            kExecutorError + "Insufficient number of remaining parties for reshare: `2`, need at least `3`");

  const std::vector<std::string> others{key.parties[0].id};
  const auto list = cstrs(others);
  CallbackRecorder rec;
  const auto r = take(velto_exportable_ed25519_reshare_new_party(2, cstr(newcomer.secret),
                                                                 ConstStrArray{list.data(), list.size()}, cstr(room),
                                                                 cstr(relay().host()), &CallbackRecorder::double_cb,
                                                                 &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(rec.wait_for(1).at(0).result.message,
            kExecutorError + "Current party missing in remaining parties, transport key: `" + newcomer.id + "`");
}

// RFC 8032 test 1 and the committed mask vector of its seed.
struct SeedVector {
  std::string seed, public_key, masked, commitment;
};

SeedVector rfc8032_test1() {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/exportable_ed25519_vectors.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    SeedVector v;
    fields >> v.seed >> v.public_key >> v.masked >> v.commitment;
    return v;
  }
  ADD_FAILURE() << "no vector";
  return {};
}

TEST_F(ExportableOps, ImportedSeedComesBackFromAnExport) {
  const SeedVector v = rfc8032_test1();
  ASSERT_EQ(v.public_key, "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  std::vector<Identity> parties{new_identity(), new_identity(), new_identity()};
  // The importer lists only the others; the recipients list every id.
  std::string seed_upper = v.seed;
  std::transform(seed_upper.begin(), seed_upper.end(), seed_upper.begin(), ::toupper);
  std::vector<Start> calls;
  calls.push_back([&](const std::string& room, CallbackRecorder* rec) {
    const std::vector<std::string> others{parties[1].id, parties[2].id};
    const auto list = cstrs(others);
    return velto_exportable_ed25519_import_private_key_importer(
        2, cstr(seed_upper), cstr(parties[0].secret), cstr(room), cstr(relay().host()),
        ConstStrArray{list.data(), list.size()}, &CallbackRecorder::double_cb, rec);
  });
  for (std::size_t i = 1; i < 3; ++i) {
    calls.push_back([&, i](const std::string& room, CallbackRecorder* rec) {
      const auto all = ids_of(parties);
      const auto list = cstrs(all);
      return velto_exportable_ed25519_import_private_key_recipient(2, cstr(parties[i].secret),
                                                                   ConstStrArray{list.data(), list.size()},
                                                                   cstr(room), cstr(relay().host()),
                                                                   &CallbackRecorder::double_cb, rec);
    });
  }
  std::vector<std::string> shares;
  for (const auto& r : run_room(relay(), calls)) {
    ASSERT_EQ(r.result.code, 0) << r.result.message;
    EXPECT_EQ(r.first.value_or(""), v.public_key);
    shares.push_back(r.second.value_or(""));
    const auto s = decode(shares.back());
    EXPECT_EQ(crypto::hex_encode(s.key_share.preimage_share.commitment.to_compressed()), v.commitment);
    EXPECT_EQ(s.key_share.key_share.chain_code, crypto::ByteArray<32>{});
    EXPECT_EQ(s.key_share.key_share.num_parties, 3);
    EXPECT_EQ(s.key_share.key_share.threshold, 2);
  }
  EXPECT_EQ(exported(shares, export_id(shares[1])), v.seed + v.public_key);
}

TEST_F(ExportableOps, ImportWithAThresholdAboveThePartyCountFailsEveryParty) {
  std::vector<Identity> parties{new_identity(), new_identity()};
  const std::string seed(64, '7');
  std::vector<Start> calls;
  calls.push_back([&](const std::string& room, CallbackRecorder* rec) {
    const auto all = ids_of(parties);
    const auto list = cstrs(all);
    return velto_exportable_ed25519_import_private_key_importer(
        3, cstr(seed), cstr(parties[0].secret), cstr(room), cstr(relay().host()),
        ConstStrArray{list.data(), list.size()}, &CallbackRecorder::double_cb, rec);
  });
  calls.push_back([&](const std::string& room, CallbackRecorder* rec) {
    const auto all = ids_of(parties);
    const auto list = cstrs(all);
    return velto_exportable_ed25519_import_private_key_recipient(3, cstr(parties[1].secret),
                                                                 ConstStrArray{list.data(), list.size()},
                                                                 cstr(room), cstr(relay().host()),
                                                                 &CallbackRecorder::double_cb, rec);
  });
  for (const auto& r : run_room(relay(), calls)) {
    EXPECT_EQ(r.result.code, -8);
    EXPECT_EQ(r.result.message,
              kExecutorError + "Executor Failed: `Threshold 3 is greater than the number of parties 2`");
  }
}

// ------------------------------------------------------------ disagreement

TEST_F(ExportableOps, PartiesThatDisagreeAllFail) {
  const Key key = keygen(2, 2);
  {
    SCOPED_TRACE("different messages");
    const auto results = run_room(relay(), {sign_call(relay(), key.shares[0], "00"), sign_call(relay(), key.shares[1], "01")});
    for (const auto& r : results) {
      EXPECT_EQ(r.result.code, -8);
      EXPECT_TRUE(r.result.message.starts_with(kExecutorError)) << r.result.message;
    }
    // The party whose channel set-up met the other's message names the cause.
    EXPECT_TRUE(results[0].result.message.find("mismatched parameters") != std::string::npos ||
                results[1].result.message.find("mismatched parameters") != std::string::npos)
        << results[0].result.message << "\n" << results[1].result.message;
  }
  {
    SCOPED_TRACE("a peer announcing v1.1.0");
    const auto peer = decode(key.shares[1]).transport_keypair.public_key();
    testing::ScopedAnnouncedVersion announce(peer.bytes(), 4);
    const auto results = run_room(relay(), {sign_call(relay(), key.shares[0], "00"), sign_call(relay(), key.shares[1], "00")});
    for (const auto& r : results) {
      EXPECT_EQ(r.result.code, -8);
      EXPECT_EQ(r.result.message, kExecutorError + "Received an unexpected version: v1.1.0");
    }
  }
}

TEST_F(ExportableOps, ShareSigningUnderAnotherPartysIdIsRefusedBeforeJoining) {
  const Key key = keygen(2, 2);
  auto share = decode(key.shares[0]);
  const PartyId own = share.key_share.key_share.party_id;
  share.key_share.key_share.party_id = PartyId::unchecked(own.value() == 1 ? 2 : 1);
  const std::string text = exportable_ed25519_share_encode(share);
  CallbackRecorder rec;
  // No room is ever joined: the room id names no room of the relay.
  const auto r = take(velto_exportable_ed25519_sign(cstr(text), cstr("00"), cstr("0123456789abcdef0123456789abcdef"),
                                                    cstr(relay().host()), &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  const auto calls = rec.wait_for(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].result.code, -8);
  EXPECT_EQ(calls[0].result.message, kExecutorError + "The provided serialized key share is invalid");
}

// ------------------------------------------------------------ offline export

TEST_F(ExportableOps, OfflineExportRefusals) {
  const Key key = keygen(3, 2);
  const Key other = keygen(3, 2);
  auto altered = decode(key.shares[1]);
  altered.key_share.preimage_share.share += crypto::Scalar::one();
  const std::string altered_text = exportable_ed25519_share_encode(altered);

  struct Case {
    const char* name;
    std::vector<std::string> shares;
    std::string context;
  };
  const Case cases[] = {
      {"none", {}, "Insufficient shares to reconstruct"},
      {"fewer than t", {key.shares[0]}, "Insufficient shares to reconstruct"},
      // Two records with the same party id and threshold are one share.
      {"the same share twice", {key.shares[0], key.shares[0]},
       "Repeated shares: Same share was given twice to the reconstruction function"},
      {"shares of two keys", {key.shares[0], other.shares[1]},
       "Shares do not match (should have same commitment, threshold, parties...)"},
      {"a share altered in place", {key.shares[0], altered_text},
       "Reconstruction failed - shares mismatch to the public key."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [r, text] = offline_export(c.shares);
    EXPECT_EQ(r.code, -8);
    EXPECT_EQ(r.message, kExecutorError + "Executor Failed: `" + c.context + "`");
    EXPECT_TRUE(text.empty());
  }

  // A null array with a count reads as none.
  HeapString out{nullptr, 0};
  const auto r = take(velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray{nullptr, 3}, &out));
  EXPECT_EQ(r.message, kExecutorError + "Executor Failed: `Insufficient shares to reconstruct`");
  EXPECT_EQ(out.ptr, nullptr);
}

}  // namespace
}  // namespace velto::executor
