// The version 1.1.0 ECDSA handlers in one process: the shares they write
// (tag 2, no set-up states), the stored forms they accept (tags 0 to 2) and
// refuse (tag 3, before any message), the export's refusal of a receiver
// outside the session, the reshare without any remaining party, and a key of
// this version signing with the current engine.
#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/common/transport_key.hpp"
#include "executor/ecdsa/legacy/handlers.hpp"
#include "executor/ecdsa/latest/renewal.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/uc_tag_generate.hpp"
#include "executor/ecdsa_share.hpp"
#include "executor/tests/ecdsa_latest_util.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-ecdsa/tests/signature_oracle.hpp"

namespace velto::executor {
namespace {

using test::asio::awaitable;
using ExtractResult = std::expected<std::optional<ecdsa::Xpriv>, ExecutorFailure>;
using KeygenResult = std::expected<EcdsaKeyShare, ExecutorFailure>;
using SignResult = std::expected<crypto::Bytes, ExecutorFailure>;

constexpr const char* kTooNew = "The secret share is too new for this version";

// The version 1.1.0 key pair of a share written by these handlers.
const ecdsa::KeyPair& v1_1_0_key(const EcdsaStorableSecretShare& share) {
  EXPECT_EQ(share.tag(), EcdsaShareTag::V1_1_0);
  const auto& stored = std::get<2>(share.key_share);
  EXPECT_FALSE(stored.setup_states.has_value());
  return stored.key_pair;
}

std::vector<ecdsa::KeyPair> v1_1_0_keys(const std::vector<ShareResult>& results) {
  return test::keys_of_shares(results, &v1_1_0_key);
}

// Every party's result is a failure with the display text `text`.
template <class R>
void expect_every_party_fails_with(const std::vector<R>& results, const std::string& text) {
  for (const auto& r : results) {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), text);
  }
}

awaitable<KeygenResult> keygen_party(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa_keygen_handler_v1_1_0(std::move(root), t);
}

awaitable<SignResult> sign_party(ProtocolExecutor root, EcdsaStorableSecretShare share,
                                 std::vector<std::uint32_t> path, crypto::ByteArray<32> hash) {
  co_return co_await ecdsa_sign_handler_v1_1_0(std::move(root), share, path, hash);
}

awaitable<ShareResult> refresh_party(ProtocolExecutor root, EcdsaStorableSecretShare share) {
  co_return co_await ecdsa_refresh_handler_v1_1_0(std::move(root), share);
}

awaitable<ExtractResult> extract_party(ProtocolExecutor root, EcdsaStorableSecretShare share, PartyId receiver) {
  co_return co_await ecdsa_extract_handler_v1_1_0(std::move(root), share, receiver);
}

awaitable<ShareResult> remaining_party(ProtocolExecutor root, EcdsaStorableSecretShare share,
                                       std::vector<PartyId> ids, std::uint16_t t) {
  co_return co_await ecdsa_reshare_remaining_handler_v1_1_0(std::move(root), share, std::move(ids), t);
}

awaitable<ShareResult> new_party(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa_reshare_new_handler_v1_1_0(std::move(root), t);
}

awaitable<ShareResult> importer_party(ProtocolExecutor root, crypto::SecretArray<32> key,
                                      std::optional<crypto::ByteArray<32>> chain_code, std::uint16_t t) {
  co_return co_await ecdsa_import_importer_handler_v1_1_0(std::move(root), t, std::move(key), chain_code);
}

awaitable<ShareResult> recipient_party(ProtocolExecutor root, std::uint16_t t) {
  co_return co_await ecdsa_import_recipient_handler_v1_1_0(std::move(root), t);
}

// The shares of `keys` in the stored form of `tag` (0 to 3).
std::vector<EcdsaStorableSecretShare> stored_as(const std::vector<ecdsa::KeyPair>& keys, EcdsaShareTag tag,
                                                bool with_setup_states = false) {
  auto shares = test::shares_of(keys);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const ecdsa::KeyPair& k = keys[i];
    switch (tag) {
      case EcdsaShareTag::V1:
        shares[i].key_share = EcdsaSecretShareV1{k.secret_share, k.public_key, k.party_id, k.threshold, k.num_parties};
        break;
      case EcdsaShareTag::V2:
        shares[i].key_share =
            EcdsaSecretShareV2{k.secret_share, k.public_key, k.chain_code, k.party_id, k.threshold, k.num_parties};
        break;
      case EcdsaShareTag::V1_1_0: {
        KeyPairV1_1_0 stored{k, std::nullopt};
        if (with_setup_states) {
          PerPeerSetupStates states;
          const crypto::Bytes sender(SenderSetupState::kSize, 0x5a);
          const crypto::Bytes receiver(ReceiverSetupState::kSize, 0xa5);
          states.sender_states.emplace(PartyId::unchecked(k.party_id.value() == 1 ? 2 : 1),
                                       *SenderSetupState::from_bytes(sender));
          states.receiver_states.emplace(PartyId::unchecked(k.party_id.value() == 1 ? 2 : 1),
                                         *ReceiverSetupState::from_bytes(receiver));
          stored.setup_states = std::move(states);
        }
        shares[i].key_share = EcdsaKeyShare(std::in_place_index<2>, std::move(stored));
        break;
      }
      case EcdsaShareTag::Latest:
        break;
    }
  }
  return shares;
}

// A (t, n) key of version 1.1.0 from its keygen handler.
std::vector<ecdsa::KeyPair> keygen_v1_1_0(async::Runtime& rt, std::uint16_t n, std::uint16_t t) {
  auto results = test::run_parties<KeygenResult>(
      rt, test::ids_1_to(n), [t](PartyId, ProtocolExecutor root) { return keygen_party(std::move(root), t); });
  std::vector<ecdsa::KeyPair> keys;
  for (const auto& r : results) {
    if (!r) {
      ADD_FAILURE() << r.error().display();
      continue;
    }
    EXPECT_EQ(r->index(), 2u);
    const auto& stored = std::get<2>(*r);
    EXPECT_FALSE(stored.setup_states.has_value());
    keys.push_back(stored.key_pair);
  }
  EXPECT_EQ(keys.size(), n);
  return keys;
}

// Keygen under v1.1.0, then signing with the current engine's handler.
TEST(EcdsaV1_1_0Handlers, KeygenThenSignWithTheCurrentEngine) {
  async::Runtime rt(4);
  const auto keys = keygen_v1_1_0(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  ecdsa::testing::check_shares_rebuild_key(keys, 2);
  // Through the stored tag-2 form, as the sign operation reads it.
  const auto shares = stored_as(keys, EcdsaShareTag::V1_1_0);
  test::expect_keys_sign(rt, {ecdsa_share_to_keypair(shares[0]).get(), ecdsa_share_to_keypair(shares[2]).get()}, 5);
}

// Parties 1 and 3 of a 2-of-3 key sign through the handler with each older
// stored form (a tag-2 share with set-up states too: they are not read),
// along three paths; every signer returns the same signature, valid for the
// key derived along the path.
TEST(EcdsaV1_1_0Handlers, SignWithEveryOlderStoredForm) {
  async::Runtime rt(2);
  const auto keys = keygen_v1_1_0(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  const std::vector<PartyId> signers = {PartyId::unchecked(1), PartyId::unchecked(3)};
  struct Form {
    const char* name;
    EcdsaShareTag tag;
    bool with_setup_states;
  };
  const Form forms[] = {{"tag 0", EcdsaShareTag::V1, false},
                        {"tag 1", EcdsaShareTag::V2, false},
                        {"tag 2", EcdsaShareTag::V1_1_0, false},
                        {"tag 2 with set-up states", EcdsaShareTag::V1_1_0, true}};
  const std::vector<std::vector<std::uint32_t>> paths = {{}, {0}, {1, 0x7fffffffu}};
  crypto::ByteArray<32> hash{};
  for (const Form& form : forms) {
    const auto shares = stored_as(keys, form.tag, form.with_setup_states);
    for (const auto& path : paths) {
      SCOPED_TRACE(std::string(form.name) + ", path length " + std::to_string(path.size()));
      hash[0] = static_cast<std::uint8_t>(hash[0] + 1);
      const auto results = test::run_parties<SignResult>(rt, signers, [&shares, path, hash](PartyId id, ProtocolExecutor root) {
        return sign_party(std::move(root), shares[id.value() - 1], path, hash);
      });
      for (const auto& r : results) {
        ASSERT_TRUE(r) << r.error().display();
        EXPECT_EQ(*r, *results[0]);
      }
      // The key the sign operation derives from this stored form (a tag-0
      // share has no chain code of its own).
      const auto derived = ecdsa_share_derive_child(shares[0], path);
      ASSERT_TRUE(derived);
      if (form.tag != EcdsaShareTag::V1) {
        const ecdsa::Xpub root{keys[0].chain_code, keys[0].public_key, 0, {}, 0};
        EXPECT_EQ(derived->key_pair.public_key, ecdsa::derive_child_pubkey_path(root, path)->xpub.public_key);
      }
      ecdsa::signing_test::expect_valid_output(*results[0], derived->key_pair.public_key, hash);
    }
  }
}

// A path the derivation refuses comes back as the derivation's failure.
TEST(EcdsaV1_1_0Handlers, SignReturnsTheDerivationFailure) {
  async::Runtime rt(2);
  const auto keys = keygen_v1_1_0(rt, 2, 2);
  ASSERT_EQ(keys.size(), 2u);
  const auto shares = stored_as(keys, EcdsaShareTag::V1_1_0);
  const std::vector<std::uint32_t> hardened = {0x80000000u};
  const auto expected = ecdsa_share_derive_child(shares[0], hardened);
  ASSERT_FALSE(expected);
  const auto results = test::run_parties<SignResult>(rt, test::ids_1_to(2), [&shares, hardened](PartyId id, ProtocolExecutor root) {
    return sign_party(std::move(root), shares[id.value() - 1], hardened, crypto::ByteArray<32>{1});
  });
  expect_every_party_fails_with(results, expected.error().display());
}

TEST(EcdsaV1_1_0Handlers, KeygenThresholdAboveThePartyCount) {
  async::Runtime rt(2);
  auto results = test::run_parties<KeygenResult>(
      rt, test::ids_1_to(2), [](PartyId, ProtocolExecutor root) { return keygen_party(std::move(root), 3); });
  expect_every_party_fails_with(results, "Executor Failed: `The threshold Is bigger than the number of parties`");
}

// Stored shares of tags 0, 1 and 2 (with set-up states) refresh into tag 2
// with the same key.
TEST(EcdsaV1_1_0Handlers, RefreshOfOlderFormsWritesTag2) {
  async::Runtime rt(4);
  const auto keys = keygen_v1_1_0(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  const crypto::Scalar secret = ecdsa::testing::check_shares_rebuild_key(keys, 2);
  struct Case {
    const char* name;
    EcdsaShareTag tag;
    bool states;
  };
  for (const Case c : {Case{"tag 0", EcdsaShareTag::V1, false}, Case{"tag 1", EcdsaShareTag::V2, false},
                       Case{"tag 2 with set-up states", EcdsaShareTag::V1_1_0, true}}) {
    SCOPED_TRACE(c.name);
    const auto shares = stored_as(keys, c.tag, c.states);
    // Tag 0 has no chain code: its upgrade derives one.
    const crypto::ByteArray<32> chain_code = ecdsa_share_to_keypair_v4(shares[0])->get().key_pair.chain_code;
    auto results = test::run_parties<ShareResult>(rt, test::ids_1_to(3), [&shares](PartyId id, ProtocolExecutor root) {
      return refresh_party(std::move(root), shares[id.value() - 1]);
    });
    const auto renewed = v1_1_0_keys(results);
    ASSERT_EQ(renewed.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(renewed[i].public_key == keys[i].public_key);
      EXPECT_EQ(renewed[i].chain_code, chain_code);
      EXPECT_EQ(renewed[i].party_id, keys[i].party_id);
      EXPECT_FALSE(renewed[i].secret_share == keys[i].secret_share);
      EXPECT_EQ(results[i]->partyid_pubkey_map.size(), 3u);
    }
    EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(renewed, 2) == secret);
  }
}

// Runs `protocol` at every party of `ids`: each must fail with kTooNew, and
// no frame may reach any party.
template <class R, class Protocol>
void expect_too_new_before_any_message(async::Runtime& rt, const std::vector<PartyId>& ids, Protocol protocol) {
  std::shared_ptr<InMemoryNetwork> network;
  auto outcomes = velto::testing::run_session<R>(rt, ids, std::move(protocol), {}, {}, &network);
  for (const auto& o : outcomes) {
    ASSERT_FALSE(o.result.has_value());
    EXPECT_EQ(o.result.error().display(), kTooNew);
  }
  for (const PartyId id : ids) EXPECT_EQ(network->frames_delivered(id), 0u);
}

// A tag-3 share is refused by every handler that takes a share, before any
// message: no party receives anything.
TEST(EcdsaV1_1_0Handlers, Tag3ShareIsRefusedBeforeAnyMessage) {
  async::Runtime rt(2);
  const auto keys = keygen_v1_1_0(rt, 2, 2);
  ASSERT_EQ(keys.size(), 2u);
  const auto shares = stored_as(keys, EcdsaShareTag::Latest);
  const auto ids = test::ids_1_to(2);
  {
    SCOPED_TRACE("refresh");
    expect_too_new_before_any_message<ShareResult>(rt, ids, [&shares](PartyId id, ProtocolExecutor root) {
      return refresh_party(std::move(root), shares[id.value() - 1]);
    });
  }
  {
    SCOPED_TRACE("reshare, remaining party");
    expect_too_new_before_any_message<ShareResult>(rt, ids, [&shares, ids](PartyId id, ProtocolExecutor root) {
      return remaining_party(std::move(root), shares[id.value() - 1], ids, 2);
    });
  }
  {
    SCOPED_TRACE("sign");
    expect_too_new_before_any_message<SignResult>(rt, ids, [&shares](PartyId id, ProtocolExecutor root) {
      return sign_party(std::move(root), shares[id.value() - 1], {}, crypto::ByteArray<32>{1});
    });
  }
  {
    SCOPED_TRACE("export");
    expect_too_new_before_any_message<ExtractResult>(rt, ids, [&shares](PartyId id, ProtocolExecutor root) {
      return extract_party(std::move(root), shares[id.value() - 1], PartyId::unchecked(1));
    });
  }
}

TEST(EcdsaV1_1_0Handlers, ExportGivesTheReceiverTheKey) {
  async::Runtime rt(2);
  const auto keys = keygen_v1_1_0(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  const auto shares = stored_as(keys, EcdsaShareTag::V1_1_0);
  const std::vector<PartyId> session = {PartyId::unchecked(2), PartyId::unchecked(3)};
  auto results = test::run_parties<ExtractResult>(rt, session, [&shares](PartyId id, ProtocolExecutor root) {
    return extract_party(std::move(root), shares[id.value() - 1], PartyId::unchecked(2));
  });
  ASSERT_TRUE(results[0].has_value() && results[0]->has_value()) << results[0].error().display();
  ASSERT_TRUE(results[1].has_value());
  EXPECT_FALSE(results[1]->has_value());
  const ecdsa::Xpriv& x = **results[0];
  EXPECT_TRUE(crypto::Point::base_mul(x.private_key) == keys[0].public_key);
  EXPECT_EQ(x.chain_code, keys[0].chain_code);
  EXPECT_EQ(x.depth, 0);
}

// The receiver is not in the session: every party fails with PartyNotFound
// and nothing is sent after the joint tag.
TEST(EcdsaV1_1_0Handlers, ExportToAPartyOutsideTheSessionFailsEverywhere) {
  async::Runtime rt(2);
  const auto keys = keygen_v1_1_0(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  const auto shares = stored_as(keys, EcdsaShareTag::V1_1_0);
  const std::vector<PartyId> session = {PartyId::unchecked(1), PartyId::unchecked(2)};
  const std::string expected = "The provided public key(`" +
                               shares[0].partyid_pubkey_map.at(PartyId::unchecked(3)).display() +
                               "`) doesn't exist in the party list";
  auto results = test::run_parties<ExtractResult>(rt, session, [&shares](PartyId id, ProtocolExecutor root) {
    return extract_party(std::move(root), shares[id.value() - 1], PartyId::unchecked(3));
  });
  expect_every_party_fails_with(results, expected);
}

TEST(EcdsaV1_1_0Handlers, ReshareWithoutRemainingPartyFailsBeforeAnyTask) {
  async::Runtime rt(2);
  auto results = test::run_parties<ShareResult>(
      rt, test::ids_1_to(2), [](PartyId, ProtocolExecutor root) { return new_party(std::move(root), 2); });
  expect_every_party_fails_with(results, "Public key and chaincode synchronization failed");
}

// Reshare 2-of-3 to 2-of-3 among old parties 1 and 2 and one new party.
TEST(EcdsaV1_1_0Handlers, ReshareToANewParty) {
  async::Runtime rt(4);
  const auto keys = keygen_v1_1_0(rt, 3, 2);
  ASSERT_EQ(keys.size(), 3u);
  const auto shares = stored_as(keys, EcdsaShareTag::V1_1_0);
  const std::vector<PartyId> remaining = {PartyId::unchecked(1), PartyId::unchecked(2)};
  auto results = test::run_parties<ShareResult>(rt, test::ids_1_to(3), [&](PartyId id, ProtocolExecutor root) {
    if (id.value() == 3) return new_party(std::move(root), 2);
    return remaining_party(std::move(root), shares[id.value() - 1], remaining, 2);
  });
  const auto renewed = v1_1_0_keys(results);
  ASSERT_EQ(renewed.size(), 3u);
  for (const auto& k : renewed) {
    EXPECT_TRUE(k.public_key == keys[0].public_key);
    EXPECT_EQ(k.chain_code, keys[0].chain_code);
  }
  EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(renewed, 2) ==
              ecdsa::testing::check_shares_rebuild_key(keys, 2));
}

TEST(EcdsaV1_1_0Handlers, ImportWithAndWithoutChainCode) {
  async::Runtime rt(4);
  crypto::ByteArray<32> raw{};
  raw[31] = 77;
  for (const bool with_chain_code : {true, false}) {
    SCOPED_TRACE(with_chain_code ? "with chain code" : "without chain code");
    std::optional<crypto::ByteArray<32>> chain_code;
    if (with_chain_code) chain_code = crypto::ByteArray<32>{0x11, 0x22};
    auto results = test::run_parties<ShareResult>(rt, test::ids_1_to(3), [&](PartyId id, ProtocolExecutor root) {
      if (id.value() == 1) return importer_party(std::move(root), crypto::SecretArray<32>(raw), chain_code, 2);
      return recipient_party(std::move(root), 2);
    });
    const auto keys = v1_1_0_keys(results);
    ASSERT_EQ(keys.size(), 3u);
    for (const auto& k : keys) EXPECT_EQ(k.chain_code, chain_code.value_or(crypto::ByteArray<32>{}));
    EXPECT_TRUE(ecdsa::testing::check_shares_rebuild_key(keys, 2) == crypto::Scalar::from_u64(77));
  }
}

// A malicious importer announces a real key but deals zero: the group key
// would be the identity. The import tasks return that failure as a value, so
// every party reports Executor (never a failed task, never a panic).
awaitable<ShareResult> zero_dealing_importer(ProtocolExecutor root, std::uint16_t t) {
  auto joint = co_await generate_uc_tag(std::move(root));
  if (!joint) co_return std::unexpected(into_boxed_handler_error(joint.error()));
  auto transport = async::spawn_task(
      transport_key_collector_task(joint->child(kTransportKeyRefreshLabel), joint->shared_parties()));
  const crypto::Point announced = crypto::Point::base_mul(crypto::Scalar::from_u64(99));
  {
    ProtocolExecutor broadcast = joint->child(kImportBroadcastLabel);
    const PublicKeyAndChaincode announcement{ecdsa::pubkey_to_compressed(announced), crypto::ByteArray<32>{}};
    if (auto sent = broadcast.send_to_all(announcement); !sent) {
      co_return std::unexpected(into_boxed_handler_error(std::move(sent.error())));
    }
  }
  ecdsa::KeyPair lie{crypto::Scalar::zero(), crypto::ByteArray<32>{}, announced, PartyId::unchecked(1), 1, 1};
  auto protocol = async::spawn_task(
      ecdsa_import_importer_protocol_task_v1_1_0(joint->child(kImportReshareLabel), std::move(lie), t));
  co_return co_await join_into_renewed_share(std::move(transport), std::move(protocol), EcdsaShareTag::V1_1_0);
}

TEST(EcdsaV1_1_0Handlers, ImportFailuresAreExecutorFailuresAtEveryParty) {
  async::Runtime rt(4);
  auto results = test::run_parties<ShareResult>(rt, test::ids_1_to(3), [](PartyId id, ProtocolExecutor root) {
    if (id.value() == 1) return zero_dealing_importer(std::move(root), 2);
    return recipient_party(std::move(root), 2);
  });
  ASSERT_FALSE(results[0].has_value());
  EXPECT_TRUE(results[0].error().inner().is<ExecutorErrorKind::Executor>());
  EXPECT_EQ(results[0].error().display(),
            "Executor Failed: `Refresh is not of same secret, an outcome of a potentially compromised device in the "
            "group`");
  const std::string expected = "Executor Failed: `Malformed Public Key `[";
  for (std::size_t i = 1; i < 3; ++i) {
    ASSERT_FALSE(results[i].has_value());
    EXPECT_TRUE(results[i].error().inner().is<ExecutorErrorKind::Executor>());
    EXPECT_EQ(results[i].error().display().substr(0, expected.size()), expected);
  }
  // Any threshold refusal comes back the same way.
  auto too_high = test::run_parties<ShareResult>(rt, test::ids_1_to(2), [](PartyId id, ProtocolExecutor root) {
    if (id.value() == 1) {
      return importer_party(std::move(root), crypto::SecretArray<32>(crypto::ByteArray<32>{1}), std::nullopt, 3);
    }
    return recipient_party(std::move(root), 3);
  });
  for (const auto& r : too_high) {
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().inner().is<ExecutorErrorKind::Executor>());
    EXPECT_EQ(r.error().display(), "Executor Failed: `The threshold Is bigger than the number of parties`");
  }
}

TEST(EcdsaV1_1_0Handlers, ImporterRefusesAZeroKeyBeforeAnyMessage) {
  async::Runtime rt(2);
  auto results = test::run_parties<ShareResult>(rt, test::ids_1_to(1), [](PartyId, ProtocolExecutor root) {
    return importer_party(std::move(root), crypto::SecretArray<32>(crypto::ByteArray<32>{}), std::nullopt, 1);
  });
  ASSERT_FALSE(results[0].has_value());
  EXPECT_EQ(results[0].error().display(), "Received an error from new_full_private_key");
}

}  // namespace
}  // namespace velto::executor
