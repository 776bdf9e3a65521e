// Mixed-version sessions over the local relay: one party announces each of
// v1.1.0 to v1.4.0 (the test-only announcement), and v1.5.0 as the control.
// A whole key lifecycle runs through the function interface: keygen, refresh,
// reshare (both roles), export, offline export, and import with and without
// a chain code. Below v1.5.0 every share written is of tag 2; all of them are
// shares of the same key.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/secp256k1.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/velto.h"
#include "executor/ecdsa_share.hpp"
#include "executor/tests/announce_seam.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "executor/tests/local_relay.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/tests/signature_oracle.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::Completion;
using testing::cstr;
using testing::Identity;
using testing::LocalRelay;
using testing::new_identity;
using testing::ScopedAnnouncedVersion;
using testing::take;

crypto::ByteArray<32> key_of_id(const std::string& id) {
  crypto::ByteArray<32> out{};
  const auto bytes = crypto::base58_decode(id);
  EXPECT_TRUE(bytes && bytes->size() == 32);
  if (bytes && bytes->size() == 32) std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

std::string id_of(const EcdsaStorableSecretShare& share) { return share.transport_keypair.public_key().display(); }

// Borrowed texts for a ConstStrArray.
struct Texts {
  explicit Texts(std::vector<std::string> s) : owned(std::move(s)) {
    for (const auto& t : owned) views.push_back(cstr(t));
  }
  ConstStrArray array() const { return ConstStrArray{views.data(), views.size()}; }
  std::vector<std::string> owned;
  std::vector<ConstStr> views;
};

// Starts one call per party and waits for every completion.
template <class Start>
std::vector<Completion> run_calls(std::size_t count, Start start) {
  std::vector<std::unique_ptr<CallbackRecorder>> recs;
  for (std::size_t i = 0; i < count; ++i) {
    recs.push_back(std::make_unique<CallbackRecorder>());
    const auto r = take(start(i, recs.back().get()));
    EXPECT_EQ(r.code, 0) << r.message;
  }
  std::vector<Completion> out;
  for (auto& rec : recs) {
    auto calls = rec->wait_for(1);
    if (calls.empty()) {
      ADD_FAILURE() << "no callback";
      out.emplace_back();
      continue;
    }
    out.push_back(calls.front());
  }
  return out;
}

// Signs `hash_hex` with the given shares along `path` in one room, the first
// signer announcing `code`; the completions.
std::vector<Completion> sign_with(LocalRelay& relay, const std::vector<EcdsaStorableSecretShare>& signers,
                                  const std::string& hash_hex, std::vector<std::uint32_t> path, std::uint8_t code) {
  ScopedAnnouncedVersion announce(signers[0].transport_keypair.public_key().bytes(), code);
  const std::string room = relay.new_room(static_cast<std::uint16_t>(signers.size()));
  std::vector<std::string> texts;
  for (const auto& s : signers) texts.push_back(ecdsa_share_encode(s));
  const std::string host = relay.host();
  return run_calls(signers.size(), [&](std::size_t i, CallbackRecorder* rec) {
    return velto_ecdsa_sign(cstr(texts[i]), cstr(hash_hex), cstr(room), cstr(host), U32Array{path.data(), path.size()},
                            &CallbackRecorder::single_cb, rec);
  });
}

// Every signer wrote the same text r ‖ s ‖ 27 + recovery id ‖ DER (hex), a
// valid signature of the key `share` derives along `path`.
void expect_signature_text(const std::vector<Completion>& done, const EcdsaStorableSecretShare& share,
                           const std::string& hash_hex, const std::vector<std::uint32_t>& path) {
  for (const auto& c : done) {
    ASSERT_EQ(c.result.code, 0) << c.result.message;
    ASSERT_TRUE(c.first.has_value());
    EXPECT_EQ(*c.first, *done[0].first);
  }
  auto bytes = crypto::hex_decode(*done[0].first);
  ASSERT_TRUE(bytes && bytes->size() > 65);
  ASSERT_GE((*bytes)[64], 27);
  (*bytes)[64] = static_cast<std::uint8_t>((*bytes)[64] - 27);
  const auto derived = ecdsa_share_derive_child(share, path);
  ASSERT_TRUE(derived);
  crypto::ByteArray<32> hash{};
  const auto h = crypto::hex_decode(hash_hex);
  std::copy(h->begin(), h->end(), hash.begin());
  ecdsa::signing_test::expect_valid_output(*bytes, derived->key_pair.public_key, hash);
}

class MixedVersionLifecycle : public ::testing::TestWithParam<std::uint8_t> {
 protected:
  // Every completion a success with `key_hex` and a share of the expected
  // tag; the shares.
  std::vector<EcdsaStorableSecretShare> shares_of(const std::vector<Completion>& done, const std::string& key_hex) {
    std::vector<EcdsaStorableSecretShare> out;
    for (const auto& c : done) {
      EXPECT_EQ(c.result.code, 0) << c.result.message;
      EXPECT_EQ(c.first, key_hex);
      if (!c.second) {
        ADD_FAILURE() << "no share";
        continue;
      }
      auto share = ecdsa_share_decode(*c.second);
      if (!share) {
        ADD_FAILURE() << "share does not decode";
        continue;
      }
      EXPECT_EQ(share->tag(), expected_tag());
      out.push_back(std::move(*share));
    }
    return out;
  }
  EcdsaShareTag expected_tag() const { return GetParam() == 8 ? EcdsaShareTag::Latest : EcdsaShareTag::V1_1_0; }

  LocalRelay relay_;
};

TEST_P(MixedVersionLifecycle, KeyLifecycleWithAnOlderPeer) {
  const std::uint8_t code = GetParam();
  const std::string host = relay_.host();

  // Keygen 2-of-3; party 0 announces the older version.
  const std::vector<Identity> first = {new_identity(), new_identity(), new_identity()};
  const Texts first_ids({first[0].id, first[1].id, first[2].id});
  std::vector<EcdsaStorableSecretShare> shares;
  std::string key_hex;
  {
    ScopedAnnouncedVersion announce(key_of_id(first[0].id), code);
    const std::string room = relay_.new_room(3);
    const auto done = run_calls(3, [&](std::size_t i, CallbackRecorder* rec) {
      return velto_ecdsa_keygen(3, 2, cstr(first[i].secret), cstr(room), cstr(host), first_ids.array(),
                                &CallbackRecorder::double_cb, rec);
    });
    ASSERT_TRUE(done[0].first.has_value()) << done[0].result.message;
    key_hex = *done[0].first;
    shares = shares_of(done, key_hex);
    ASSERT_EQ(shares.size(), 3u);
  }

  // Parties 0 and 2 sign along a path.
  {
    const std::string hash = std::string(62, '3') + "01";
    const std::vector<std::uint32_t> path = {1, 0x7fffffffu};
    expect_signature_text(sign_with(relay_, {shares[0], shares[2]}, hash, path, code), shares[0], hash, path);
  }

  // Refresh.
  {
    ScopedAnnouncedVersion announce(shares[0].transport_keypair.public_key().bytes(), code);
    const std::string room = relay_.new_room(3);
    const Texts texts({ecdsa_share_encode(shares[0]), ecdsa_share_encode(shares[1]), ecdsa_share_encode(shares[2])});
    const auto done = run_calls(3, [&](std::size_t i, CallbackRecorder* rec) {
      return velto_ecdsa_refresh(texts.views[i], &CallbackRecorder::double_cb, rec, cstr(room), cstr(host));
    });
    shares = shares_of(done, key_hex);
    ASSERT_EQ(shares.size(), 3u);
  }

  // Reshare: parties 0 and 1 remain, a new party joins (2-of-3 again).
  {
    const Identity joining = new_identity();
    ScopedAnnouncedVersion announce(shares[0].transport_keypair.public_key().bytes(), code);
    const std::string room = relay_.new_room(3);
    const Texts ids({id_of(shares[0]), id_of(shares[1]), joining.id});
    const Texts texts({ecdsa_share_encode(shares[0]), ecdsa_share_encode(shares[1])});
    const auto done = run_calls(3, [&](std::size_t i, CallbackRecorder* rec) {
      if (i < 2) {
        return velto_ecdsa_reshare_remaining_party(2, texts.views[i], ids.array(), cstr(room), cstr(host),
                                                   &CallbackRecorder::double_cb, rec);
      }
      return velto_ecdsa_reshare_new_party(2, cstr(joining.secret), ids.array(), cstr(room), cstr(host),
                                           &CallbackRecorder::double_cb, rec);
    });
    shares = shares_of(done, key_hex);
    ASSERT_EQ(shares.size(), 3u);
  }

  // Export to party 1 with parties 1 and 2; the xprv's key is the group key.
  std::string exported;
  {
    ScopedAnnouncedVersion announce(shares[2].transport_keypair.public_key().bytes(), code);
    const std::string room = relay_.new_room(2);
    const Texts texts({ecdsa_share_encode(shares[1]), ecdsa_share_encode(shares[2])});
    const std::string to = id_of(shares[1]);
    const auto done = run_calls(2, [&](std::size_t i, CallbackRecorder* rec) {
      return velto_ecdsa_export_full_private_key(texts.views[i], cstr(to), cstr(room), cstr(host),
                                                 &CallbackRecorder::single_cb, rec);
    });
    for (const auto& c : done) EXPECT_EQ(c.result.code, 0) << c.result.message;
    ASSERT_TRUE(done[0].first.has_value());
    exported = *done[0].first;
    EXPECT_EQ(done[1].first.value_or(""), "");
    const auto xprv = ecdsa::parse_xpriv(exported);
    ASSERT_TRUE(xprv.has_value());
    EXPECT_EQ(crypto::hex_encode(ecdsa::pubkey_to_uncompressed(crypto::Point::base_mul(xprv->private_key))), key_hex);
    EXPECT_EQ(xprv->chain_code, ecdsa_share_to_keypair(shares[0]).get().chain_code);
  }

  // Any two shares rebuild the same key offline.
  for (const auto& [a, b] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}}) {
    const Texts pair({ecdsa_share_encode(shares[a]), ecdsa_share_encode(shares[b])});
    HeapString out{nullptr, 0};
    const auto r = take(velto_ecdsa_offline_export_full_private_key(pair.array(), &out));
    ASSERT_EQ(r.code, 0) << r.message;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.ptr), out.len), exported) << a << "," << b;
    velto_dealloc_heap_string(out.ptr, out.len);
  }

  // Import, with and without a chain code; the importer announces.
  const std::string private_key = "e8f32e723decf4051aefac8e2c93c9c5b214313817cdb01a1494b917c8436b35";
  const auto key_bytes = crypto::hex_decode(private_key);
  ASSERT_TRUE(key_bytes.has_value());
  const std::string imported_hex = crypto::hex_encode(
      ecdsa::pubkey_to_uncompressed(crypto::Point::base_mul(*ecdsa::scalar_from_be_bytes(*key_bytes))));
  for (const std::string chain_code : {std::string(64, '7'), std::string()}) {
    SCOPED_TRACE(chain_code.empty() ? "without chain code" : "with chain code");
    const Identity importer = new_identity();
    const std::vector<Identity> recipients = {new_identity(), new_identity()};
    ScopedAnnouncedVersion announce(key_of_id(importer.id), code);
    const Texts importer_ids({recipients[0].id, recipients[1].id});
    const Texts all_ids({importer.id, recipients[0].id, recipients[1].id});
    const std::string room = relay_.new_room(3);
    const auto done = run_calls(3, [&](std::size_t i, CallbackRecorder* rec) {
      if (i == 0) {
        return velto_ecdsa_import_private_key_importer(2, cstr(private_key), cstr(importer.secret), cstr(room),
                                                       cstr(host), importer_ids.array(), cstr(chain_code),
                                                       &CallbackRecorder::double_cb, rec);
      }
      return velto_ecdsa_import_private_key_recipient(2, cstr(recipients[i - 1].secret), all_ids.array(), cstr(room),
                                                      cstr(host), &CallbackRecorder::double_cb, rec);
    });
    const auto imported = shares_of(done, imported_hex);
    ASSERT_EQ(imported.size(), 3u);
    crypto::ByteArray<32> expected_cc{};
    if (!chain_code.empty()) expected_cc.fill(0x77);
    for (const auto& s : imported) EXPECT_EQ(ecdsa_share_to_keypair(s).get().chain_code, expected_cc);
  }
}

// A 3-of-5 key generated with the first party announcing `code`: its shares.
std::vector<EcdsaStorableSecretShare> keygen_3_of_5(LocalRelay& relay, std::optional<std::uint8_t> code) {
  std::vector<Identity> ids;
  for (int i = 0; i < 5; ++i) ids.push_back(new_identity());
  const Texts id_texts({ids[0].id, ids[1].id, ids[2].id, ids[3].id, ids[4].id});
  std::optional<ScopedAnnouncedVersion> announce;
  if (code) announce.emplace(key_of_id(ids[0].id), *code);
  const std::string room = relay.new_room(5);
  const std::string host = relay.host();
  const auto done = run_calls(5, [&](std::size_t i, CallbackRecorder* rec) {
    return velto_ecdsa_keygen(5, 3, cstr(ids[i].secret), cstr(room), cstr(host), id_texts.array(),
                              &CallbackRecorder::double_cb, rec);
  });
  std::vector<EcdsaStorableSecretShare> shares;
  for (const auto& c : done) {
    EXPECT_EQ(c.result.code, 0) << c.result.message;
    if (!c.second) continue;
    auto share = ecdsa_share_decode(*c.second);
    if (share) shares.push_back(std::move(*share));
  }
  EXPECT_EQ(shares.size(), 5u);
  return shares;
}

// 3-of-5: tag-3 shares are refused by the older signing at every signer,
// with no signature; tag-2 shares of a key made under v1.1.0 sign.
TEST(MixedVersionSign, ThreeOfFiveAndTag3Refusal) {
  LocalRelay relay;
  const std::string hash = std::string(60, 'a') + "0b0c";
  {
    const auto latest = keygen_3_of_5(relay, std::nullopt);
    ASSERT_EQ(latest.size(), 5u);
    ASSERT_EQ(latest[0].tag(), EcdsaShareTag::Latest);
    for (const auto& c : sign_with(relay, {latest[0], latest[2], latest[4]}, hash, {}, 4)) {
      EXPECT_EQ(c.result.code, -8);
      EXPECT_NE(c.result.message.find("The secret share is too new for this version"), std::string::npos)
          << c.result.message;
      EXPECT_FALSE(c.first.has_value());
    }
  }
  const auto older = keygen_3_of_5(relay, 4);
  ASSERT_EQ(older.size(), 5u);
  ASSERT_EQ(older[0].tag(), EcdsaShareTag::V1_1_0);
  const std::vector<std::uint32_t> path = {0};
  expect_signature_text(sign_with(relay, {older[1], older[3], older[4]}, hash, path, 5), older[1], hash, path);
}

INSTANTIATE_TEST_SUITE_P(AnnouncedCodes, MixedVersionLifecycle, ::testing::Values(4, 5, 6, 7, 8),
                         [](const ::testing::TestParamInfo<std::uint8_t>& info) {
                           return "code_" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace velto::executor
