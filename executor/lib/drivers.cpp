#include "executor/lib/drivers.hpp"

#include <string>

namespace velto::executor {

namespace asio = boost::asio;

namespace detail {

namespace {

JoinRequest join_request(server_tools::HostAuthority host, server_tools::RoomUuid room, std::string_view operation,
                         std::uint16_t n, std::uint16_t t, RelayTimings timings) {
  JoinRequest request;
  request.host = std::move(host);
  request.room = std::move(room);
  request.op = std::string(operation);
  request.n = n;
  request.t = t;
  request.timings = timings;
  return request;
}

}  // namespace

asio::awaitable<std::expected<KeygenTypeJoin, ExecutorFailure>> join_keygen_type(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own,
    std::vector<noise::PublicKey> keygen_ids, std::uint16_t n, std::uint16_t t, std::string_view operation,
    RelayTimings timings) {
  JoinRequest request = join_request(std::move(host), std::move(room), operation, n, t, timings);
  auto joined = co_await join_room_keygen_type(std::move(request), std::move(own), std::move(keygen_ids));
  if (!joined) co_return std::unexpected(std::move(joined.error()));
  KeygenTypeJoin out{std::move(joined->first), std::move(joined->second)};
  co_return out;
}

asio::awaitable<std::expected<JoinedRoom, ExecutorFailure>> join_sign_type(
    server_tools::HostAuthority host, server_tools::RoomUuid room, noise::NoiseKeyPair own, PartyKeys parties,
    std::uint16_t n, std::uint16_t t, std::string_view operation, RelayTimings timings) {
  JoinRequest request = join_request(std::move(host), std::move(room), operation, n, t, timings);
  co_return co_await join_room_sign_type(std::move(request), std::move(own), std::move(parties));
}

}  // namespace detail

}  // namespace velto::executor
