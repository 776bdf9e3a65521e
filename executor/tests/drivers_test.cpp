// Both operation drivers and the dispatch through the local relay, parties
// as tasks of one process: the dummy two-round protocol from the join to its
// result, the join query, the version agreement with one party announcing
// another version, the keygen-type size check and parties whose parameters
// differ.
#include "velto-mpc-infra/async/asio.hpp"

#include "executor/lib/drivers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "executor/tests/announce_seam.hpp"
#include "executor/tests/dispatch_fixtures.hpp"
#include "server-tools/create_room.hpp"
#include "executor/tests/local_relay.hpp"
#include "tools/relay/server/relay_server.hpp"

namespace velto::executor {
namespace {

using namespace velto::executor::testing;
using server_tools::HostAuthority;
using server_tools::RoomUuid;

// How one party's run ended.
struct PartyEnd {
  std::string text;  // summary() of the outcome
  bool decryption_error = false;
  bool plugin = false;
  std::optional<std::size_t> party_keys;  // entries of the driver's session map
  std::vector<PartyId> parties;           // the session, as the handler saw it
};

PartyEnd end_of(const HandlerOutcome<Ran>& outcome, std::optional<std::size_t> party_keys) {
  PartyEnd end;
  end.text = summary(outcome);
  end.party_keys = party_keys;
  if (outcome) end.parties = outcome->parties;
  if (!outcome) {
    end.decryption_error = outcome.error().inner().get_if<ExecutorErrorKind::DecryptionError>() != nullptr;
    end.plugin = outcome.error().inner().get_if<ExecutorErrorKind::Plugin>() != nullptr;
  }
  return end;
}

// What an operation body does after its driver: append its label, register
// its handlers, dispatch.
asio::awaitable<PartyEnd> body(std::expected<VersionedHandlers<Ran>, ExecutorFailure> driven,
                               std::vector<Version> registered) {
  if (!driven) co_return end_of(std::unexpected(std::move(driven.error())), std::nullopt);
  const std::optional<std::size_t> keys =
      driven->party_keys ? std::optional<std::size_t>(driven->party_keys->size()) : std::nullopt;
  const std::string label = "DUMMY TWO ROUNDS";
  driven->session.setup.session_hasher().update(crypto::as_bytes(label));
  for (const Version v : registered) register_handler(*driven, v, two_round_handler(v));
  auto outcome = co_await dispatch_versioned(std::move(*driven));
  co_return end_of(outcome, keys);
}

struct KeygenParty {
  std::uint8_t seed;
  std::vector<std::uint8_t> keygen_ids;  // seeds of the keys the party names
  std::uint16_t t = 2;
};

asio::awaitable<PartyEnd> keygen_party(HostAuthority host, RoomUuid room, KeygenParty party, std::uint16_t n,
                                       std::vector<Version> registered, RelayTimings timings) {
  std::vector<noise::PublicKey> ids;
  for (const std::uint8_t s : party.keygen_ids) ids.push_back(keypair(s).public_key());
  auto driven = co_await drive_keygen_type<Ran>(std::move(host), std::move(room), keypair(party.seed), std::move(ids),
                                                n, party.t, "ecdsa_keygen", timings);
  co_return co_await body(std::move(driven), std::move(registered));
}

asio::awaitable<PartyEnd> sign_party(HostAuthority host, RoomUuid room, std::uint8_t seed, PartyKeys share,
                                     std::uint16_t n, std::uint16_t t, RelayTimings timings) {
  auto driven = co_await drive_sign_type<Ran>(std::move(host), std::move(room), keypair(seed), std::move(share), n, t,
                                              "ecdsa_sign", timings);
  std::vector<Version> registered = {Version::V1_5_0, Version::V1_1_0};
  co_return co_await body(std::move(driven), std::move(registered));
}

const std::vector<Version> kEcdsaVersions = {Version::V1_5_0, Version::V1_1_0};

class DriverTest : public ::testing::Test {
 protected:
  HostAuthority host() const { return HostAuthority::with_tls(relay_.host()); }

  RoomUuid new_room(std::uint16_t n) {
    auto id = block(rt_, server_tools::create_room(host(), n, ""));
    EXPECT_TRUE(id.has_value()) << id.error().display();
    return id.value_or(RoomUuid{});
  }

  // Keygen-type parties in one new room of their number, side by side.
  std::vector<PartyEnd> run_keygen(const std::vector<KeygenParty>& parties, std::uint16_t n,
                                   const std::vector<Version>& registered,
                                   RelayTimings timings = testing::fast_relay_timings()) {
    const RoomUuid room = new_room(static_cast<std::uint16_t>(parties.size()));
    std::vector<async::JoinHandle<PartyEnd>> handles;
    for (const auto& p : parties)
      handles.push_back(async::spawn_task(rt_.executor(), keygen_party(host(), room, p, n, registered, timings)));
    return join_all(rt_, std::move(handles));
  }

  // The query texts of the join requests the relay received.
  std::vector<std::string> join_queries() const {
    std::vector<std::string> out;
    for (const auto& r : relay_.server().requests())
      if (r.target.starts_with("/join_room/")) out.push_back(r.target.substr(r.target.find('?') + 1));
    return out;
  }

  async::Runtime rt_{4};
  testing::LocalRelay relay_;
};

std::vector<KeygenParty> three_parties() { return {{1, {1, 2, 3}}, {2, {1, 3}}, {3, {2, 1}}}; }

// Party 1 also names itself: its own key counts once.
TEST_F(DriverTest, KeygenTypeRunsTheDummyProtocol) {
  const auto ends = run_keygen(three_parties(), 3, kEcdsaVersions);
  for (const auto& e : ends) {
    EXPECT_EQ(e.text, "ran v1.5.0 total 6");
    EXPECT_EQ(e.party_keys, std::optional<std::size_t>(3));
    EXPECT_EQ(e.parties, (std::vector<PartyId>{pid(1), pid(2), pid(3)}));
  }
  EXPECT_EQ(join_queries(), std::vector<std::string>(3, "op=ecdsa_keygen&s=ec&t=2&n=3&v=v1.0.3"));
}

// A share of five parties, three of which join: the session is those three
// under the ids the share gives them (not their key order).
TEST_F(DriverTest, SignTypeRunsTheDummyProtocolAmongThePartiesPresent) {
  PartyKeys share;
  const std::map<std::uint16_t, std::uint8_t> id_to_seed = {{1, 5}, {2, 3}, {3, 1}, {4, 4}, {5, 2}};
  for (const auto& [id, seed] : id_to_seed) share.emplace(pid(id), keypair(seed).public_key());
  const RoomUuid room = new_room(3);
  std::vector<async::JoinHandle<PartyEnd>> handles;
  for (const std::uint16_t id : {2, 4, 5})
    handles.push_back(async::spawn_task(
        rt_.executor(), sign_party(host(), room, id_to_seed.at(id), share, 3, 2, testing::fast_relay_timings())));
  for (const auto& e : join_all(rt_, std::move(handles))) {
    EXPECT_EQ(e.text, "ran v1.5.0 total 11");
    EXPECT_EQ(e.party_keys, std::nullopt);
    EXPECT_EQ(e.parties, (std::vector<PartyId>{pid(2), pid(4), pid(5)}));
  }
  EXPECT_EQ(join_queries(), std::vector<std::string>(3, "op=ecdsa_sign&s=ec&t=2&n=3&v=v1.0.3"));
}

// A room member whose key is not in the share's party map: the sign-type
// driver lets it through, the encrypted-executor set-up refuses the room
// (the Plugin kind, the relay error's text alone). The stranger, whose own
// map names both, waits in vain for the handshake.
TEST_F(DriverTest, SignTypeRoomWithAStrangerIsRefusedAtSetUp) {
  auto timings = testing::fast_relay_timings();
  timings.per_message = std::chrono::milliseconds(1000);
  const PartyKeys share = {{pid(1), keypair(1).public_key()}, {pid(2), keypair(2).public_key()}};
  const PartyKeys stranger_map = {{pid(1), keypair(1).public_key()}, {pid(9), keypair(9).public_key()}};
  const RoomUuid room = new_room(2);
  std::vector<async::JoinHandle<PartyEnd>> handles;
  handles.push_back(async::spawn_task(rt_.executor(), sign_party(host(), room, 1, share, 2, 2, timings)));
  handles.push_back(async::spawn_task(rt_.executor(), sign_party(host(), room, 9, stranger_map, 2, 2, timings)));
  const auto ends = join_all(rt_, std::move(handles));
  EXPECT_EQ(ends[0].text, "Mismatch between the public keys of the server and the ones provided");
  EXPECT_TRUE(ends[0].plugin);
  EXPECT_FALSE(ends[1].text.starts_with("ran")) << ends[1].text;
}

// Party 2 announces another code; the outcome is the same at every party.
TEST_F(DriverTest, VersionAgreementAmongThreeParties) {
  struct Case {
    std::string name;
    std::uint8_t code;
    std::vector<Version> registered;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"all current", 8, kEcdsaVersions, "ran v1.5.0 total 6"},
      {"one at 1.1.0", 4, kEcdsaVersions, "ran v1.1.0 total 6"},
      {"one at 1.1.0, only a 1.2.0 handler", 4, {Version::V1_2_0}, "Received an unexpected version: v1.1.0"},
      {"one at 1.0.3", 3, kEcdsaVersions, "Another party uses a deprecated version: v1.0.3"},
      {"one unknown old", 1, kEcdsaVersions, "Another party uses a deprecated version: UnknownVersion(1)"},
      {"one newer", 200, kEcdsaVersions, "ran v1.5.0 total 6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedAnnouncedVersion announce(keypair(2).public_key().bytes(), c.code);
    for (const auto& e : run_keygen(three_parties(), 3, c.registered)) EXPECT_EQ(e.text, c.expected);
  }
}

TEST_F(DriverTest, KeygenTypeCountsDistinctSessionKeys) {
  struct Case {
    std::string name;
    std::vector<KeygenParty> parties;
    std::uint16_t n;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"the other's id given twice", {{1, {2, 2}}, {2, {1, 1}}}, 3, "Invalid number of parties: expected 3, got 2"},
      {"own id and one other", {{1, {1, 2}}, {2, {2, 1}}}, 3, "Invalid number of parties: expected 3, got 2"},
      {"alone with no ids", {{1, {}}}, 1, "ran v1.5.0 total 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& e : run_keygen(c.parties, c.n, kEcdsaVersions)) EXPECT_EQ(e.text, c.expected);
  }
}

// Both parties pass their driver; their prologues differ, so the party that
// answers the other's first handshake message (the higher key) cannot
// decrypt it. The other waits in vain for the answer until its receive
// times out.
TEST_F(DriverTest, DifferentThresholdsFailWithTheDecryptionError) {
  auto timings = testing::fast_relay_timings();
  timings.per_message = std::chrono::milliseconds(1500);
  const auto ends = run_keygen({{1, {2}, 2}, {2, {1}, 1}}, 2, kEcdsaVersions, timings);
  const std::size_t responder = keypair(1).public_key() > keypair(2).public_key() ? 0 : 1;
  EXPECT_TRUE(ends[responder].decryption_error) << ends[responder].text;
  EXPECT_TRUE(ends[responder].text.starts_with("End-to-end decryption failed\nHint: "));
  EXPECT_FALSE(ends[1 - responder].text.starts_with("ran")) << ends[1 - responder].text;
}

}  // namespace
}  // namespace velto::executor
