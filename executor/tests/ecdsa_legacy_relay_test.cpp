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

INSTANTIATE_TEST_SUITE_P(AnnouncedCodes, MixedVersionLifecycle, ::testing::Values(4, 5, 6, 7, 8),
                         [](const ::testing::TestParamInfo<std::uint8_t>& info) {
                           return "code_" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace velto::executor
