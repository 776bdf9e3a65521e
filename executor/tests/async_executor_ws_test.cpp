// Sessions over the local relay: the room wait and its failures, the joins
// and their checks, executors exchanging messages through the relay link
// (plain and end-to-end encrypted) among 2, 3 and 8 parties.
#include "velto-mpc-infra/async/asio.hpp"

#include "executor/async_executor_ws.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/blake3.hpp"
#include "executor/tests/dispatch_fixtures.hpp"
#include "executor/tests/local_relay.hpp"
#include "server-tools/create_room.hpp"
#include "tools/relay/server/relay_server.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/manager.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::executor {
namespace {

namespace asio = boost::asio;
using server_tools::HostAuthority;
using server_tools::RoomUuid;
using namespace std::string_literals;

using testing::block;
using testing::keypair;

template <class T>
T join_task(async::Runtime& rt, async::JoinHandle<T>& h) {
  auto r = block(rt, h.join());
  if (!r) throw std::runtime_error(r.error().display());
  return std::move(*r);
}

class RelaySessionTest : public ::testing::Test {
 protected:
  HostAuthority host() const { return HostAuthority::with_tls(relay_.host()); }

  RoomUuid new_room(std::uint16_t n) {
    auto id = block(rt_, server_tools::create_room(host(), n, ""));
    EXPECT_TRUE(id.has_value()) << id.error().display();
    return id.value_or(RoomUuid{});
  }

  JoinRequest request(const RoomUuid& room, std::uint16_t n, std::uint16_t t) const {
    JoinRequest r;
    r.host = host();
    r.room = room;
    r.op = "ecdsa_keygen";
    r.n = n;
    r.t = t;
    r.timings = testing::fast_relay_timings();
    return r;
  }

  // Keygen-type joins of n parties (keys from seeds 1..n) to one room, run
  // side by side.
  std::vector<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>> join_all(
      const RoomUuid& room, std::uint16_t n) {
    std::vector<noise::PublicKey> keys;
    for (std::uint16_t i = 1; i <= n; ++i) keys.push_back(keypair(static_cast<std::uint8_t>(i)).public_key());
    std::vector<async::JoinHandle<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>>>
        handles;
    for (std::uint16_t i = 1; i <= n; ++i)
      handles.push_back(async::spawn_task(
          rt_.executor(), join_room_keygen_type(request(room, n, 2), keypair(static_cast<std::uint8_t>(i)), keys)));
    std::vector<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>> out;
    for (auto& h : handles) out.push_back(join_task(rt_, h));
    return out;
  }

  async::Runtime rt_{4};
  testing::LocalRelay relay_;
};

// Every party sends its id to all, and a personal message to each peer, on
// child executors; returns how many messages arrived intact.
asio::awaitable<std::size_t> exchange(ProtocolExecutor root) {
  const std::uint16_t me = root.my_party_id().value();
  std::size_t intact = 0;
  {
    ProtocolExecutor step = root.child("broadcast");
    EXPECT_TRUE(step.send_to_all(me).has_value());
    auto values = co_await collect_map<std::uint16_t>(step);
    EXPECT_TRUE(values.has_value()) << (values ? "" : values.error()->display());
    if (values) {
      for (const auto& [from, v] : *values) intact += v == from.value() ? 1 : 0;
    }
  }
  {
    ProtocolExecutor step = root.child("personal");
    for (const PartyId p : step.parties()) {
      if (p != step.my_party_id()) {
        EXPECT_TRUE(step.send_to(p, std::uint32_t{me * 1000u + p.value()}).has_value());
      }
    }
    auto values = co_await collect_map<std::uint32_t>(step);
    EXPECT_TRUE(values.has_value()) << (values ? "" : values.error()->display());
    if (values) {
      for (const auto& [from, v] : *values) intact += v == from.value() * 1000u + me ? 1 : 0;
    }
  }
  co_return intact;
}

struct Outcome {
  std::size_t intact = 0;
  bool manager_ok = false;
  std::string error;
};

asio::awaitable<Outcome> drive(ExecutorBuilder builder, ProtocolExecutor root) {
  auto manager = spawn_executor_manager(std::move(builder));
  Outcome out;
  out.intact = co_await exchange(std::move(root));
  auto joined = co_await manager.join();
  out.manager_ok = joined.has_value() && joined->has_value();
  if (joined && !*joined) out.error = joined->error().display();
  if (!joined) out.error = joined.error().display();
  co_return out;
}

// Plain executors: the relay link itself is the manager's link.
asio::awaitable<Outcome> run_plain(JoinedRoom room) {
  auto link = open_relay_transport(std::move(room));
  if (!link) {
    Outcome failed{0, false, link.error().display()};
    co_return failed;
  }
  const auto& tables = (*link)->tables();
  std::vector<PartyId> ids{(*link)->my_party_id()};
  for (const auto& [party, relay_id] : tables.party_to_relay) ids.push_back(party);
  ExecutorBuilder builder(*link, kRelayExecutorLimits);
  auto root = build_executor(builder, root_uc_tag(), ids);
  co_return co_await drive(std::move(builder), std::move(*root));
}

asio::awaitable<Outcome> run_encrypted(JoinedRoom room) {
  auto built = co_await build_encrypted_executor(std::move(room));
  if (!built) {
    Outcome failed{0, false, room_error_to_failure(std::move(built.error())).display()};
    co_return failed;
  }
  co_return co_await drive(std::move(built->first), std::move(built->second));
}

class RelaySessions : public RelaySessionTest, public ::testing::WithParamInterface<std::uint16_t> {};

TEST_P(RelaySessions, PlainExecutorsOverTheRelayLink) {
  const std::uint16_t n = GetParam();
  auto joins = join_all(new_room(n), n);
  std::vector<async::JoinHandle<Outcome>> runs;
  for (auto& j : joins) {
    ASSERT_TRUE(j.has_value()) << j.error().display();
    EXPECT_EQ(j->second.size(), n);
    runs.push_back(async::spawn_task(rt_.executor(), run_plain(std::move(j->first))));
  }
  for (auto& h : runs) {
    const Outcome o = join_task(rt_, h);
    EXPECT_EQ(o.intact, 2u * (n - 1u));
    EXPECT_TRUE(o.manager_ok) << o.error;
  }
}

TEST_P(RelaySessions, EncryptedExecutorsOverTheRelay) {
  const std::uint16_t n = GetParam();
  const RoomUuid room = new_room(n);
  auto joins = join_all(room, n);
  std::vector<async::JoinHandle<Outcome>> runs;
  for (auto& j : joins) {
    ASSERT_TRUE(j.has_value()) << j.error().display();
    const std::string label = "ECDSA KEYGEN";
    j->first.setup.session_hasher().update(crypto::as_bytes(label));
    runs.push_back(async::spawn_task(rt_.executor(), run_encrypted(std::move(j->first))));
  }
  for (auto& h : runs) {
    const Outcome o = join_task(rt_, h);
    EXPECT_EQ(o.intact, 2u * (n - 1u));
    EXPECT_TRUE(o.manager_ok) << o.error;
  }
  // Every party ended its connection with a close frame.
  const std::string hex = server_tools::room_uuid_hex(room);
  for (int i = 0; i < 500 && relay_.server().closed_members(hex).size() < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto ends = relay_.server().closed_members(hex);
  ASSERT_EQ(ends.size(), n);
  for (const auto& end : ends) EXPECT_EQ(end.code, 1000) << end.relay_id;
}

INSTANTIATE_TEST_SUITE_P(Parties, RelaySessions, ::testing::Values(2, 3, 8));

// One party hashes another label. Taking the party with the highest key,
// which answers every peer: it fails on the first message it reads with the
// decryption error and its hint; its peers then wait in vain for its answer.
TEST_F(RelaySessionTest, DifferentPrologueInputFailsWithTheDecryptionError) {
  const std::uint16_t n = 3;
  auto joins = join_all(new_room(n), n);
  std::size_t odd = 0;
  for (std::size_t i = 1; i < n; ++i)
    if (keypair(static_cast<std::uint8_t>(i + 1)).public_key() > keypair(static_cast<std::uint8_t>(odd + 1)).public_key())
      odd = i;
  std::vector<async::JoinHandle<Outcome>> runs;
  for (std::size_t i = 0; i < joins.size(); ++i) {
    ASSERT_TRUE(joins[i].has_value());
    const std::string label = i == odd ? "ECDSA SIGNING" : "ECDSA KEYGEN";
    joins[i]->first.setup.session_hasher().update(crypto::as_bytes(label));
    joins[i]->first.connection->set_duration(std::chrono::milliseconds(500));
    runs.push_back(async::spawn_task(rt_.executor(), run_encrypted(std::move(joins[i]->first))));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Outcome o = join_task(rt_, runs[i]);
    EXPECT_FALSE(o.manager_ok);
    if (i == odd) {
      EXPECT_EQ(o.error,
                "End-to-end decryption failed\n"
                "Hint: This is caused due to mismatched parameters among parties, such as:\n"
                "signature scheme, number of parties, threshold, message to sign, derivation path, BIP340 tweak, "
                "keygen IDs, secret shares from different protocols (incorrect shared public key), or keygen ID for "
                "export");
    } else {
      EXPECT_FALSE(o.error.empty());
    }
  }
}

TEST_F(RelaySessionTest, JoinHashesTheSessionThenNAndT) {
  auto joins = join_all(new_room(2), 2);
  ASSERT_TRUE(joins[0].has_value());
  const auto& setup = joins[0]->first.setup;
  // Independent recomputation: ids (2 bytes LE) then keys in key order,
  // then n and t.
  std::vector<noise::PublicKey> keys = {keypair(1).public_key(), keypair(2).public_key()};
  std::sort(keys.begin(), keys.end());
  auto h = crypto::Blake3::derive_key("VELTO Noise_KK prologue V0");
  const std::uint8_t ids[] = {1, 0, 2, 0};
  h.update(crypto::ByteSpan(ids, 4));
  for (const auto& k : keys) h.update(k.span());
  const std::uint8_t n_t[] = {2, 0, 2, 0};
  h.update(crypto::ByteSpan(n_t, 4));
  EXPECT_EQ(setup.session_hasher().finalize(), h.finalize());
  EXPECT_EQ(setup.keys(), keys);
  EXPECT_EQ(joins[0]->second.at(PartyId::unchecked(1)), keys[0]);
}

// Two parties join with n = 3; the count is of distinct keys, the own key
// included once.
TEST_F(RelaySessionTest, KeygenCountCheck) {
  struct Case {
    std::string name;
    bool name_own_key;  // the keygen ids are {own, other}, else {other, other}
  };
  for (const Case& c : {Case{"the other party named twice", false}, Case{"own key among the ids", true}}) {
    SCOPED_TRACE(c.name);
    const RoomUuid room = new_room(2);
    std::vector<async::JoinHandle<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>>>
        handles;
    for (std::uint8_t i = 1; i <= 2; ++i) {
      const auto other = keypair(static_cast<std::uint8_t>(3 - i)).public_key();
      const auto first = c.name_own_key ? keypair(i).public_key() : other;
      handles.push_back(async::spawn_task(
          rt_.executor(), join_room_keygen_type(request(room, 3, 2), keypair(i), std::vector{first, other})));
    }
    for (auto& h : handles) {
      auto r = join_task(rt_, h);
      ASSERT_FALSE(r.has_value());
      const auto* kind = r.error().inner().get_if<ExecutorErrorKind::InvalidNumberOfParties>();
      ASSERT_NE(kind, nullptr) << r.error().display();
      EXPECT_EQ(kind->expected, 3);
      EXPECT_EQ(kind->actual, 2u);
      EXPECT_EQ(r.error().display(), "Invalid number of parties: expected 3, got 2");
    }
  }
}

// Sign-type: a 3-of-5 share's parties, three of which joined, keep their
// share ids.
TEST_F(RelaySessionTest, SignTypeKeepsTheShareIdsOfThePartiesPresent) {
  std::map<PartyId, noise::PublicKey> share;
  for (std::uint8_t i = 1; i <= 5; ++i) share.emplace(PartyId::unchecked(i), keypair(i).public_key());
  const RoomUuid room = new_room(3);
  std::vector<async::JoinHandle<std::expected<JoinedRoom, ExecutorFailure>>> handles;
  for (std::uint8_t i : {2, 4, 5}) {
    auto r = request(room, 5, 3);
    r.op = "ecdsa_sign";
    handles.push_back(async::spawn_task(rt_.executor(), join_room_sign_type(r, keypair(i), share)));
  }
  std::vector<async::JoinHandle<Outcome>> runs;
  for (auto& h : handles) {
    auto joined = join_task(rt_, h);
    ASSERT_TRUE(joined.has_value()) << joined.error().display();
    std::vector<PartyId> ids = joined->setup.party_ids();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<PartyId>{PartyId::unchecked(2), PartyId::unchecked(4), PartyId::unchecked(5)}));
    runs.push_back(async::spawn_task(rt_.executor(), run_encrypted(std::move(*joined))));
  }
  for (auto& h : runs) {
    const Outcome o = join_task(rt_, h);
    EXPECT_EQ(o.intact, 4u);
    EXPECT_TRUE(o.manager_ok) << o.error;
  }
}

// The host check of the function interface does not read the port, so an
// authority like "h:abc" reaches the join: both joins fail as a relay failure
// (Plugin), never with a panic from building the address.
TEST_F(RelaySessionTest, AuthorityWithoutANumericPortFailsTheJoin) {
  const std::string text = "URL error: invalid authority `h:abc`";
  auto r = request(RoomUuid{}, 2, 2);
  r.host = HostAuthority::with_tls("h:abc");
  const std::vector<noise::PublicKey> keys = {keypair(1).public_key(), keypair(2).public_key()};
  auto keygen = block(rt_, join_room_keygen_type(r, keypair(1), keys));
  ASSERT_FALSE(keygen.has_value());
  EXPECT_NE(keygen.error().inner().get_if<ExecutorErrorKind::Plugin>(), nullptr);
  EXPECT_EQ(keygen.error().display(), text);

  std::map<PartyId, noise::PublicKey> share;
  for (std::uint8_t i = 1; i <= 2; ++i) share.emplace(PartyId::unchecked(i), keypair(i).public_key());
  r.op = "ecdsa_sign";
  auto sign = block(rt_, join_room_sign_type(r, keypair(1), share));
  ASSERT_FALSE(sign.has_value());
  EXPECT_NE(sign.error().inner().get_if<ExecutorErrorKind::Plugin>(), nullptr);
  EXPECT_EQ(sign.error().display(), text);
}

// The room wait's failures, each provoked by what the relay sends first to
// the only member of a room of two.
TEST_F(RelaySessionTest, RoomWaitFailures) {
  crypto::Bytes unsorted = {2};
  for (std::uint8_t id : {5, 3}) {
    unsorted.push_back(id);
    unsorted.push_back(0);
    unsorted.insert(unsorted.end(), 32, id);
  }
  const crypto::Bytes truncated = {2, 1, 0};
  struct Case {
    std::string name;
    std::optional<std::pair<relay::MessageKind, std::string>> first;
    std::string text;
  };
  auto bytes = [](const crypto::Bytes& b) { return std::string(b.begin(), b.end()); };
  const std::vector<Case> cases = {
      {"silence", std::nullopt, "The operation has timed out"},
      {"close", std::pair(relay::MessageKind::Close, ""s), "Socket closed too early"},
      {"peer frame", std::pair(relay::MessageKind::Binary, bytes(encode_relay_frame(2, 1, crypto::Bytes{1}))),
       "Received message from self"},
      {"server error", std::pair(relay::MessageKind::Binary, "\x00\x04" "full"s),
       "Received an error message from the server: full"},
      {"unsorted", std::pair(relay::MessageKind::Binary, bytes(encode_relay_frame(SERVER_RELAY_ID, 1, unsorted))),
       "Failed to deserialize message: `Collection is not sorted`"},
      {"short list", std::pair(relay::MessageKind::Binary, bytes(encode_relay_frame(SERVER_RELAY_ID, 1, truncated))),
       "Failed to deserialize message: `Out of bounds`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RoomUuid room = new_room(2);
    auto timings = testing::fast_relay_timings();
    timings.room_wait = std::chrono::milliseconds(300);
    const auto own = keypair(1);
    const auto address = server_tools::join_room_uri(host(), room, own.public_key().bytes(), {"ecdsa_keygen", "ec", 2, 2});
    auto ws = block(rt_, connect_with_retry(address, timings));
    ASSERT_TRUE(ws.has_value());
    // The relay counts the member once its side of the upgrade is done.
    for (int i = 0; i < 200 && relay_.server().member_count(server_tools::room_uuid_hex(room)) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (c.first) {
      ASSERT_TRUE(relay_.server().send_to_member(server_tools::room_uuid_hex(room), 1, c.first->first, c.first->second));
    }
    const std::vector<noise::PublicKey> expected = {keypair(2).public_key()};
    auto waited = block(rt_, await_room_keygen_type(std::move(*ws), expected, own, timings));
    ASSERT_FALSE(waited.has_value());
    EXPECT_EQ(waited.error().display(), c.text);
    const ExecutorFailure failure = room_error_to_failure(waited.error());
    EXPECT_NE(failure.inner().get_if<ExecutorErrorKind::Plugin>(), nullptr);
    EXPECT_EQ(failure.display(), c.text);
  }
}

// Text and ping frames during the wait are no items: they neither end the
// wait nor restart its deadline, which counts from the start of the wait.
TEST_F(RelaySessionTest, FramesThatAreNoItemsDoNotRestartTheRoomWait) {
  const RoomUuid room = new_room(2);
  const std::string hex = server_tools::room_uuid_hex(room);
  auto timings = testing::fast_relay_timings();
  timings.room_wait = std::chrono::milliseconds(400);
  const auto own = keypair(1);
  const auto address = server_tools::join_room_uri(host(), room, own.public_key().bytes(), {"ecdsa_keygen", "ec", 2, 2});
  auto ws = block(rt_, connect_with_retry(address, timings));
  ASSERT_TRUE(ws.has_value());
  for (int i = 0; i < 200 && relay_.server().member_count(hex) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  // Chatter every 50 ms for up to 4 s, ten times the wait: a wait restarted
  // by each frame would outlast it.
  std::atomic<int> sent{0};
  std::atomic<bool> done{false};
  std::thread chatter([&] {
    for (int i = 0; i < 80 && !done; ++i) {
      const auto kind = i % 2 == 0 ? relay::MessageKind::Text : relay::MessageKind::Ping;
      if (relay_.server().send_to_member(hex, 1, kind, "chatter")) ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const std::vector<noise::PublicKey> expected = {keypair(2).public_key()};
  auto waited = block(rt_, await_room_keygen_type(std::move(*ws), expected, own, timings));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  done = true;
  chatter.join();
  // Frames reached the member while it waited.
  EXPECT_GE(sent.load(), 2);
  ASSERT_FALSE(waited.has_value());
  EXPECT_TRUE(waited.error().is<WsRoomError::OperationTimedOut>()) << waited.error().debug();
  EXPECT_GE(elapsed, timings.room_wait);
  EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST(RoomKeyCheck, RoomMustHoldExactlyTheSessionKeys) {
  std::vector<noise::PublicKey> expected = {keypair(1).public_key(), keypair(2).public_key(), keypair(3).public_key()};
  std::sort(expected.begin(), expected.end());
  const auto k = [&](std::size_t i) { return expected[i].bytes(); };
  const auto foreign = keypair(9).public_key().bytes();
  struct Case {
    std::string name;
    RoomMap room;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"exact", {{1, k(2)}, {2, k(0)}, {7, k(1)}}, true},
      {"one short", {{1, k(0)}, {2, k(1)}}, false},
      {"one more", {{1, k(0)}, {2, k(1)}, {3, k(2)}, {4, foreign}}, false},
      {"foreign key", {{1, k(0)}, {2, k(1)}, {3, foreign}}, false},
      {"one key twice, another missing", {{1, k(0)}, {2, k(1)}, {3, k(1)}}, false},
  };
  for (const auto& c : cases) {
    auto r = check_room_keys(c.room, expected);
    EXPECT_EQ(r.has_value(), c.ok) << c.name;
    if (!r) {
      EXPECT_TRUE(r.error().is<WsRoomError::PublicKeyMismatch>()) << c.name;
    }
  }
  const std::vector<noise::PublicKey> one = {keypair(1).public_key()};
  EXPECT_TRUE(check_room_keys({{4, one[0].bytes()}}, one).has_value());
  EXPECT_FALSE(check_room_keys({{4, foreign}}, one).has_value());
}

// Through the relay: the same key joined twice, the other expected key
// missing. The set-up refuses it before anything is sent.
TEST_F(RelaySessionTest, DuplicateKeysInTheRoomAreAPublicKeyMismatch) {
  relay_.server().set_allow_duplicate_keys(true);
  const RoomUuid room = new_room(2);
  const std::vector<noise::PublicKey> ids = {keypair(2).public_key()};
  std::vector<async::JoinHandle<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>>>
      handles;
  for (int i = 0; i < 2; ++i)
    handles.push_back(async::spawn_task(rt_.executor(), join_room_keygen_type(request(room, 2, 2), keypair(1), ids)));
  for (auto& h : handles) {
    auto joined = join_task(rt_, h);
    ASSERT_TRUE(joined.has_value()) << joined.error().display();
    auto built = block(rt_, build_encrypted_executor(std::move(joined->first)));
    ASSERT_FALSE(built.has_value());
    EXPECT_TRUE(built.error().is<WsRoomError::PublicKeyMismatch>()) << built.error().debug();
  }
}

// A set-up that fails leaves the relay with a close frame: a room holding
// one key twice (refused before anything is sent) and handshakes that fail
// (one party hashes another label) end every connection with the normal
// close code, not by dropping it.
TEST_F(RelaySessionTest, FailedSetUpsEndTheirConnectionsWithACloseFrame) {
  struct Case {
    const char* name;
    bool duplicate_keys;
  };
  const Case cases[] = {{"room holding one key twice", true}, {"handshakes that fail", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    relay_.server().set_allow_duplicate_keys(c.duplicate_keys);
    const RoomUuid room = new_room(2);
    std::vector<JoinedRoom> rooms;
    if (c.duplicate_keys) {
      const std::vector<noise::PublicKey> ids = {keypair(2).public_key()};
      std::vector<async::JoinHandle<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>>>
          handles;
      for (int i = 0; i < 2; ++i)
        handles.push_back(async::spawn_task(rt_.executor(), join_room_keygen_type(request(room, 2, 2), keypair(1), ids)));
      for (auto& h : handles) {
        auto joined = join_task(rt_, h);
        ASSERT_TRUE(joined.has_value()) << joined.error().display();
        rooms.push_back(std::move(joined->first));
      }
    } else {
      auto joins = join_all(room, 2);
      for (std::size_t i = 0; i < joins.size(); ++i) {
        ASSERT_TRUE(joins[i].has_value());
        joins[i]->first.setup.session_hasher().update(crypto::as_bytes(i == 0 ? "ECDSA SIGNING"s : "ECDSA KEYGEN"s));
        joins[i]->first.connection->set_duration(std::chrono::milliseconds(500));
        rooms.push_back(std::move(joins[i]->first));
      }
    }
    std::vector<async::JoinHandle<Outcome>> runs;
    for (JoinedRoom& r : rooms) runs.push_back(async::spawn_task(rt_.executor(), run_encrypted(std::move(r))));
    for (auto& run : runs) {
      const Outcome o = join_task(rt_, run);
      EXPECT_FALSE(o.manager_ok);
      EXPECT_FALSE(o.error.empty());
    }
    const std::string hex = server_tools::room_uuid_hex(room);
    for (int i = 0; i < 500 && relay_.server().closed_members(hex).size() < 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto ends = relay_.server().closed_members(hex);
    ASSERT_EQ(ends.size(), 2u);
    for (const auto& end : ends) EXPECT_EQ(end.code, 1000) << end.relay_id;
  }
}

// One party of a session over the relay: builds the encrypted executor over
// `room`, runs `body` (ProtocolExecutor -> awaitable<std::string>, an error
// text or empty) on its root executor beside the manager task, and returns
// the error (the set-up's, else the manager's, else the body's; empty when
// none) and how long the run took from the manager's start.
template <class Body>
asio::awaitable<std::pair<std::string, std::chrono::steady_clock::duration>> run_party(JoinedRoom room, Body body) {
  auto built = co_await build_encrypted_executor(std::move(room));
  if (!built) co_return std::pair(std::string("handshake: ") + built.error().display(), std::chrono::steady_clock::duration{});
  const auto start = std::chrono::steady_clock::now();
  auto manager = spawn_executor_manager(std::move(built->first));
  std::string error = co_await body(std::move(built->second));
  auto joined = co_await manager.join();
  if (!joined) {
    error = joined.error().display();
  } else if (!*joined) {
    error = joined->error().display();
  }
  co_return std::pair(error, std::chrono::steady_clock::now() - start);
}

PartyId other_party(const ProtocolExecutor& root) {
  PartyId other = root.my_party_id();
  for (const PartyId p : root.parties())
    if (p != root.my_party_id()) other = p;
  return other;
}

// A peer that keeps sending validly encrypted messages under a tag this
// party never opens makes no progress: the party waiting for a message that
// never comes ends one receive limit (600 ms) after its last progress, long
// before the peer's 10 s of junk would end.
TEST_F(RelaySessionTest, MessagesNobodyWaitsForDoNotExtendTheReceiveLimit) {
  auto joins = join_all(new_room(2), 2);
  ASSERT_TRUE(joins[0].has_value() && joins[1].has_value());
  joins[0]->first.connection->set_duration(std::chrono::milliseconds(600));

  auto waiting = [](ProtocolExecutor root) -> asio::awaitable<std::string> {
    ProtocolExecutor step = root.child("never answered");
    auto values = co_await collect_map<std::uint16_t>(step);
    co_return values ? "collected" : "";
  };
  auto junk = [](ProtocolExecutor root) -> asio::awaitable<std::string> {
    ProtocolExecutor step = root.child("junk");
    const PartyId other = other_party(root);
    auto ex = co_await asio::this_coro::executor;
    asio::steady_timer timer(ex);
    for (int i = 0; i < 100; ++i) {
      if (!step.send_to(other, std::uint16_t{7})) break;
      timer.expires_after(std::chrono::milliseconds(100));
      co_await timer.async_wait(asio::use_awaitable);
    }
    co_return "";
  };
  auto waiter = async::spawn_task(rt_.executor(), run_party(std::move(joins[0]->first), waiting));
  auto sender = async::spawn_task(rt_.executor(), run_party(std::move(joins[1]->first), junk));
  const auto [error, waited] = join_task(rt_, waiter);
  EXPECT_EQ(error, "Error while receiving: `The operation has timed out`");
  EXPECT_GE(waited, std::chrono::milliseconds(600));
  EXPECT_LT(waited, std::chrono::seconds(6));
  EXPECT_TRUE(block(rt_, sender.join()).has_value());
}

// A party that keeps sending is not stalled: party 1 (receive limit 1.5 s)
// takes no message for 3 s while it sends ten messages to party 2, 300 ms
// apart, then takes party 2's answer. Its sends move the receive limit, so
// its manager does not end at 1.5 s.
TEST_F(RelaySessionTest, APartyThatKeepsSendingOutlastsTheReceiveLimit) {
  auto joins = join_all(new_room(2), 2);
  ASSERT_TRUE(joins[0].has_value() && joins[1].has_value());
  joins[0]->first.connection->set_duration(std::chrono::milliseconds(1500));
  constexpr std::uint16_t kSends = 10;

  auto sending = [](ProtocolExecutor root) -> asio::awaitable<std::string> {
    const PartyId other = other_party(root);
    {
      ProtocolExecutor busy = root.child("busy");
      auto ex = co_await asio::this_coro::executor;
      asio::steady_timer timer(ex);
      for (std::uint16_t i = 0; i < kSends; ++i) {
        if (!busy.send_to(other, i)) co_return "send refused";
        timer.expires_after(std::chrono::milliseconds(300));
        co_await timer.async_wait(asio::use_awaitable);
      }
    }
    ProtocolExecutor answer = root.child("answer");
    auto values = co_await collect_map<std::uint16_t>(answer);
    if (!values) co_return values.error()->display();
    co_return values->at(other) == kSends ? "" : "wrong answer";
  };
  auto answering = [](ProtocolExecutor root) -> asio::awaitable<std::string> {
    const PartyId other = other_party(root);
    std::uint16_t taken = 0;
    {
      ProtocolExecutor busy = root.child("busy");
      for (std::uint16_t i = 0; i < kSends; ++i) {
        auto value = co_await receive_next<std::uint16_t>(busy);
        if (!value) co_return value.error()->display();
        if (value->value != i) co_return "out of order";
        ++taken;
      }
    }
    ProtocolExecutor answer = root.child("answer");
    co_return answer.send_to(other, taken) ? "" : "send refused";
  };
  auto sender = async::spawn_task(rt_.executor(), run_party(std::move(joins[0]->first), sending));
  auto answerer = async::spawn_task(rt_.executor(), run_party(std::move(joins[1]->first), answering));
  const auto [error, took] = join_task(rt_, sender);
  EXPECT_EQ(error, "");
  // It did take longer than its receive limit.
  EXPECT_GE(took, std::chrono::milliseconds(3000));
  EXPECT_EQ(join_task(rt_, answerer).first, "");
}

// A peer that goes silent after the handshakes: the next receive ends at
// the per-message limit with the relay link's time-out.
TEST_F(RelaySessionTest, SilentPeerEndsTheReceiveAtItsDeadline) {
  const RoomUuid room = new_room(2);
  auto joins = join_all(room, 2);
  ASSERT_TRUE(joins[0].has_value() && joins[1].has_value());
  joins[0]->first.connection->set_duration(std::chrono::milliseconds(300));
  auto link = open_relay_transport(std::move(joins[0]->first));
  ASSERT_TRUE(link.has_value());
  auto received = block(rt_, (*link)->receive_ws_message());
  ASSERT_FALSE(received.has_value());
  EXPECT_EQ(received.error().kind(), WsClientError::Kind::OperationTimedOut);
  EXPECT_EQ(received.error().display(), "The operation has timed out");
  // Unknown recipients are refused before anything is written.
  auto sent = block(rt_, (*link)->send_ws_message(crypto::Bytes{1}, PartyId::unchecked(9)));
  ASSERT_FALSE(sent.has_value());
  EXPECT_EQ(sent.error().display(), "The party PartyId(9) is unknown");
}

}  // namespace
}  // namespace velto::executor
