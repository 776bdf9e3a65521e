// The two operation drivers: how every networked operation joins its room.
//
// drive_keygen_type serves the operations whose parties are named by keygen
// ids (key generation, reshare, import, the exportable scheme's key sampling
// and receiving); drive_sign_type those whose parties come from a stored
// share (signing, refresh, full-key export). Both fill the join query (op,
// s "ec", t, n and the constant v "v1.0.3"), connect with retry, wait for the
// room's party list, bind n and t (2 bytes little-endian each) into the
// session hasher and return the joined room as a VersionedHandlers value with
// an empty handler map, ready for the operation body to append its own bytes,
// register its handlers and dispatch (dispatch.hpp).
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "executor/async_executor_ws.hpp"
#include "executor/error.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/ws.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"
#include "sised/party_id.hpp"

namespace velto::executor {

namespace detail {
struct KeygenTypeJoin {
  JoinedRoom room;
  PartyKeys party_keys;
};

boost::asio::awaitable<std::expected<KeygenTypeJoin, ExecutorFailure>> join_keygen_type(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own,
    std::vector<noise::PublicKey> keygen_ids, std::uint16_t n, std::uint16_t t, std::string_view operation,
    RelayTimings timings);

boost::asio::awaitable<std::expected<JoinedRoom, ExecutorFailure>> join_sign_type(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own, PartyKeys parties,
    std::uint16_t n, std::uint16_t t, std::string_view operation, RelayTimings timings);
}  // namespace detail

// Keygen-type: the session's parties are the keygen ids plus the own public
// key (a key given twice counts once), numbered 1 to k in key order. The
// number of distinct session keys must be n, else InvalidNumberOfParties
// {n, that number}. A relay failure is Plugin (DecryptionError for a
// handshake message that did not decrypt). The result carries the session
// map PartyId to key. `timings` is for tests; operations use the defaults.
template <class T>
boost::asio::awaitable<std::expected<VersionedHandlers<T>, ExecutorFailure>> drive_keygen_type(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own,
    std::vector<noise::PublicKey> keygen_ids, std::uint16_t n, std::uint16_t t, std::string_view operation,
    RelayTimings timings = {}) {
  auto joined = co_await detail::join_keygen_type(std::move(host), std::move(room), std::move(own),
                                                  std::move(keygen_ids), n, t, operation, std::move(timings));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  VersionedHandlers<T> out(std::move(joined->room), std::move(joined->party_keys));
  co_return out;
}

// Sign-type: the share's party map (the own entry included), restricted to
// the parties present in the room, keeps its PartyIds. No count check: who is
// in the room decides; a member whose key is not in the map is refused later
// by the encrypted-executor set-up. No party_keys in the result.
template <class T>
boost::asio::awaitable<std::expected<VersionedHandlers<T>, ExecutorFailure>> drive_sign_type(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own, PartyKeys parties,
    std::uint16_t n, std::uint16_t t, std::string_view operation, RelayTimings timings = {}) {
  auto joined = co_await detail::join_sign_type(std::move(host), std::move(room), std::move(own), std::move(parties),
                                                n, t, operation, std::move(timings));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  VersionedHandlers<T> out(std::move(*joined), std::nullopt);
  co_return out;
}

}  // namespace velto::executor
