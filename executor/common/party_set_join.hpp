// The keygen-type join of the operations whose party set is named by keygen
// ids (reshare and import of every scheme).
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "executor/bindings/keygen.hpp"
#include "executor/error.hpp"
#include "executor/lib/dispatch.hpp"
#include "executor/lib/drivers.hpp"
#include "executor/ws.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::executor {

// A keygen-type driver given keygen ids always returns the session's party map.
inline constexpr std::string_view kNoPartyMapPanic = "Bug! We passed a Set, so we should have a map ready";

// Joins the room of the party set `keygen_ids` (`n` of them, counted and
// checked by the caller) with threshold `t` under `operation`, and appends
// `binding` (the scheme's label or the operation name) to the session
// hasher: the run, ready for its handlers.
template <class T>
boost::asio::awaitable<std::expected<VersionedHandlers<T>, ExecutorFailure>> join_party_set(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own,
    const KeygenIdSet& keygen_ids, std::uint16_t n, std::uint16_t t, std::string_view operation,
    std::string_view binding, RelayTimings timings) {
  std::vector<noise::PublicKey> keys(keygen_ids.begin(), keygen_ids.end());
  auto driven = co_await drive_keygen_type<T>(std::move(host), room, std::move(own), std::move(keys), n, t, operation,
                                              timings);
  if (!driven) co_return std::unexpected(std::move(driven.error()));
  if (!driven->party_keys) panic(std::string(kNoPartyMapPanic));
  driven->session.setup.session_hasher().update(crypto::as_bytes(binding));
  co_return std::move(*driven);
}

}  // namespace velto::executor
