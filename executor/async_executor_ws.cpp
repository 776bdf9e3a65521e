#include "velto-mpc-infra/async/asio.hpp"

#include "executor/async_executor_ws.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <set>

#include "sised/decoder.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::executor {

namespace asio = boost::asio;

// ---------------------------------------------------------------------------
// Room wait

asio::awaitable<std::expected<RoomParties, WsRoomError>> read_room_parties(RelayConnection& connection,
                                                                         async::Duration per_message) {
  auto item = co_await connection.timed_receive();
  if (!item) {
    WsRoomError::OperationTimedOut e{std::move(item.error())};
    co_return std::unexpected(WsRoomError(std::move(e)));
  }
  if (std::holds_alternative<EndOfStream>(*item)) co_return std::unexpected(WsRoomError(WsRoomError::SocketClosed{}));
  if (auto* error = std::get_if<RelayError>(&*item)) {
    WsRoomError::WebsocketError e{box_error<RelayError>(std::move(*error))};
    co_return std::unexpected(WsRoomError(std::move(e)));
  }
  RelayFrame& frame = std::get<RelayFrame>(*item);
  if (frame.from != SERVER_RELAY_ID) co_return std::unexpected(WsRoomError(WsRoomError::ReceivedMessageFromSelf{}));
  auto room = decode_room_parties_payload(frame.payload);
  if (!room) {
    WsRoomError::DeserializeFailed e{std::move(room.error())};
    co_return std::unexpected(WsRoomError(std::move(e)));
  }
  connection.set_duration(per_message);
  RoomParties out{frame.to, std::move(*room)};
  co_return out;
}

namespace {

std::map<PartyId, noise::PublicKey> session_map(const EncryptedChannelSetup& setup) {
  const auto& ids = setup.party_ids();
  const auto& keys = setup.keys();
  if (ids.size() != keys.size()) panic("assertion `left == right` failed: party ids and keys differ in length");
  std::map<PartyId, noise::PublicKey> out;
  for (std::size_t i = 0; i < ids.size(); ++i) out.emplace(ids[i], keys[i]);
  return out;
}

void append_n_t(EncryptedChannelSetup& setup, std::uint16_t n, std::uint16_t t) {
  const std::array<std::uint8_t, 4> bytes = {static_cast<std::uint8_t>(n & 0xff), static_cast<std::uint8_t>(n >> 8),
                                             static_cast<std::uint8_t>(t & 0xff), static_cast<std::uint8_t>(t >> 8)};
  setup.session_hasher().update(crypto::ByteSpan(bytes.data(), 2));
  setup.session_hasher().update(crypto::ByteSpan(bytes.data() + 2, 2));
}

}  // namespace

asio::awaitable<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, WsRoomError>>
await_room_keygen_type(std::unique_ptr<WebSocket> ws, std::span<const noise::PublicKey> expected,
                       const noise::NoiseKeyPair& own, const RelayTimings& timings) {
  std::vector<noise::PublicKey> keys(expected.begin(), expected.end());
  keys.push_back(own.public_key());
  auto connection = std::make_unique<RelayConnection>(std::move(ws), timings.room_wait);
  auto parties = co_await read_room_parties(*connection, timings.per_message);
  if (!parties) co_return std::unexpected(std::move(parties.error()));
  EncryptedChannelSetup setup = encrypted_channels_setup(keys);
  auto map = session_map(setup);
  JoinedRoom joined{std::move(connection), parties->own_relay_id, std::move(parties->room), own, std::move(setup)};
  co_return std::pair(std::move(joined), std::move(map));
}

asio::awaitable<std::expected<JoinedRoom, WsRoomError>> await_room_sign_type(
    std::unique_ptr<WebSocket> ws, const std::map<PartyId, noise::PublicKey>& parties,
    const noise::NoiseKeyPair& own, const RelayTimings& timings) {
  auto connection = std::make_unique<RelayConnection>(std::move(ws), timings.room_wait);
  auto read = co_await read_room_parties(*connection, timings.per_message);
  if (!read) co_return std::unexpected(std::move(read.error()));
  std::set<crypto::ByteArray<32>> present;
  for (const auto& [id, key] : read->room) present.insert(key);
  std::map<PartyId, noise::PublicKey> restricted;
  for (const auto& [id, key] : parties)
    if (present.contains(key.bytes())) restricted.emplace(id, key);
  EncryptedChannelSetup setup = encrypted_channels_setup_2(restricted);
  JoinedRoom joined{std::move(connection), read->own_relay_id, std::move(read->room), own, std::move(setup)};
  co_return joined;
}

// ---------------------------------------------------------------------------
// Join

ExecutorFailure room_error_to_failure(WsRoomError error) {
  if (error.is_decryption_failure()) return ExecutorFailure(ExecutorErrorKind(ExecutorErrorKind::DecryptionError{}));
  ExecutorErrorKind::Plugin plugin{box_error<WsRoomError>(std::move(error))};
  return ExecutorFailure(ExecutorErrorKind(std::move(plugin)));
}

namespace {

// The join address, or the failed connection of an authority the address
// cannot hold (the host check does not read the port's digits, so "relay:abc"
// arrives here). Such an address never connects, so it is not retried.
std::expected<server_tools::Uri, ExecutorFailure> join_address(const JoinRequest& request,
                                                               const noise::NoiseKeyPair& own) {
  server_tools::JoinRoomQuery query;
  query.op = request.op;
  query.t = request.t;
  query.n = request.n;
  auto address = server_tools::try_join_room_uri(request.host, request.room, own.public_key().bytes(), std::move(query));
  if (!address) {
    WebSocketClientError error("URL error: invalid authority `" + request.host.authority + "`");
    WsRoomError::WebsocketError e{box_error<WebSocketClientError>(std::move(error))};
    return std::unexpected(room_error_to_failure(WsRoomError(std::move(e))));
  }
  return std::move(*address);
}

}  // namespace

asio::awaitable<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>>
join_room_keygen_type(JoinRequest request, noise::NoiseKeyPair own, std::vector<noise::PublicKey> keygen_ids) {
  auto address = join_address(request, own);
  if (!address) co_return std::unexpected(std::move(address.error()));
  auto ws = co_await connect_with_retry(*address, request.timings);
  if (!ws) co_return std::unexpected(room_error_to_failure(std::move(ws.error())));
  auto waited = co_await await_room_keygen_type(std::move(*ws), keygen_ids, own, request.timings);
  if (!waited) co_return std::unexpected(room_error_to_failure(std::move(waited.error())));
  const std::size_t count = waited->first.setup.party_ids().size();
  if (count != request.n) {
    ExecutorErrorKind::InvalidNumberOfParties kind{request.n, count};
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind(std::move(kind))));
  }
  append_n_t(waited->first.setup, request.n, request.t);
  co_return std::move(*waited);
}

asio::awaitable<std::expected<JoinedRoom, ExecutorFailure>> join_room_sign_type(
    JoinRequest request, noise::NoiseKeyPair own, std::map<PartyId, noise::PublicKey> parties) {
  auto address = join_address(request, own);
  if (!address) co_return std::unexpected(std::move(address.error()));
  auto ws = co_await connect_with_retry(*address, request.timings);
  if (!ws) co_return std::unexpected(room_error_to_failure(std::move(ws.error())));
  auto waited = co_await await_room_sign_type(std::move(*ws), parties, own, request.timings);
  if (!waited) co_return std::unexpected(room_error_to_failure(std::move(waited.error())));
  append_n_t(waited->setup, request.n, request.t);
  co_return std::move(*waited);
}

// ---------------------------------------------------------------------------
// The relay link

PeerTables index_peers_by_party_id(const RoomMap& room, RelayId own_relay_id, std::span<const PartyId> ids,
                                   std::span<const noise::PublicKey> keys) {
  if (ids.size() != keys.size()) panic("assertion `left == right` failed: party ids and keys differ in length");
  PeerTables out;
  for (const auto& [relay_id, key] : room) {
    if (relay_id == own_relay_id) continue;
    auto it = std::find_if(keys.begin(), keys.end(), [&](const noise::PublicKey& k) { return k.bytes() == key; });
    if (it == keys.end()) panic("Can't fail, pubkeys and identifiers are the same");
    const PartyId party = ids[static_cast<std::size_t>(it - keys.begin())];
    out.relay_to_party.emplace(relay_id, party);
    out.party_to_relay.emplace(party, relay_id);
  }
  return out;
}

std::expected<void, WsRoomError> check_room_keys(const RoomMap& room, std::span<const noise::PublicKey> expected) {
  const auto mismatch = [] { return std::unexpected(WsRoomError(WsRoomError::PublicKeyMismatch{})); };
  if (room.size() != expected.size()) return mismatch();
  std::set<crypto::ByteArray<32>> seen;
  for (const auto& [relay_id, key] : room) {
    const auto it = std::lower_bound(expected.begin(), expected.end(), key,
                                     [](const noise::PublicKey& a, const crypto::ByteArray<32>& b) { return a.bytes() < b; });
    const bool known = it != expected.end() && it->bytes() == key;
    if (!known || !seen.insert(key).second) return mismatch();
  }
  return {};
}

RelayTransport::RelayTransport(std::unique_ptr<RelayConnection> connection, RelayId own_relay_id,
                               PartyId own_party_id, PeerTables tables)
    : connection_(std::move(connection)),
      own_relay_id_(own_relay_id),
      own_party_id_(own_party_id),
      tables_(std::move(tables)) {}

asio::awaitable<std::expected<ReceivedPlaintext, WsClientError>> RelayTransport::receive_ws_message() {
  auto item = co_await connection_->timed_receive();
  if (!item) co_return std::unexpected(WsClientError::operation_timed_out(item.error().waited()));
  if (std::holds_alternative<EndOfStream>(*item)) co_return std::unexpected(WsClientError::socket_closed());
  if (auto* error = std::get_if<RelayError>(&*item)) co_return std::unexpected(WsClientError::websocket(std::move(*error)));
  RelayFrame& frame = std::get<RelayFrame>(*item);
  auto it = tables_.relay_to_party.find(frame.from);
  if (it == tables_.relay_to_party.end()) co_return std::unexpected(WsClientError::unknown_client(frame.from));
  ReceivedPlaintext out{std::move(frame.payload), it->second};
  co_return out;
}

asio::awaitable<std::expected<void, WsClientError>> RelayTransport::send_ws_message(crypto::Bytes payload,
                                                                                   PartyId to) {
  auto it = tables_.party_to_relay.find(to);
  if (it == tables_.party_to_relay.end()) co_return std::unexpected(WsClientError::unknown_party(to));
  const crypto::Bytes frame = encode_relay_frame(own_relay_id_, it->second, payload);
  payload.clear();
  co_return co_await connection_->send_message(frame);
}

asio::awaitable<std::expected<void, WsClientError>> RelayTransport::close_relay_connection() {
  co_return co_await connection_->close();
}

asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> RelayTransport::receive_next() {
  auto received = co_await receive_ws_message();
  if (!received) co_return std::unexpected(box_error<WsClientError>(std::move(received.error())));
  co_return std::move(*received);
}

asio::awaitable<std::expected<void, BoxedError>> RelayTransport::send(crypto::Bytes payload, PartyId to) {
  auto sent = co_await send_ws_message(std::move(payload), to);
  if (!sent) co_return std::unexpected(box_error<WsClientError>(std::move(sent.error())));
  co_return std::expected<void, BoxedError>();
}

asio::awaitable<void> RelayTransport::close() { (void)co_await close_relay_connection(); }

namespace {

std::optional<PartyId> own_party_id(const EncryptedChannelSetup& setup, const noise::NoiseKeyPair& own) {
  const auto& keys = setup.keys();
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (keys[i] == own.public_key()) return setup.party_ids()[i];
  return std::nullopt;
}

}  // namespace

std::expected<std::shared_ptr<RelayTransport>, WsRoomError> open_relay_transport(JoinedRoom room) {
  auto checked = check_room_keys(room.room, room.setup.keys());
  if (!checked) return std::unexpected(std::move(checked.error()));
  const auto own = own_party_id(room.setup, room.static_keys);
  // The room holds exactly the session's keys, the own connection among them.
  if (!own) return std::unexpected(WsRoomError(WsRoomError::PublicKeyMismatch{}));
  auto tables = index_peers_by_party_id(room.room, room.own_relay_id, room.setup.party_ids(), room.setup.keys());
  return std::make_shared<RelayTransport>(std::move(room.connection), room.own_relay_id, *own, std::move(tables));
}

// ---------------------------------------------------------------------------
// Encrypted executor

asio::awaitable<std::expected<std::pair<ExecutorBuilder, ProtocolExecutor>, WsRoomError>> build_encrypted_executor(
    JoinedRoom room) {
  auto checked = check_room_keys(room.room, room.setup.keys());
  if (!checked) {
    (void)co_await room.connection->close();
    co_return std::unexpected(std::move(checked.error()));
  }
  auto tables = index_peers_by_party_id(room.room, room.own_relay_id, room.setup.party_ids(), room.setup.keys());
  auto channels = encrypted_channels_build(std::move(room.setup), room.static_keys);
  if (!channels) co_return std::unexpected(WsRoomError(WsRoomError::PublicKeyMismatch{}));
  const std::vector<PartyId> all_ids = channels->party_ids();
  auto relay =
      std::make_shared<RelayTransport>(std::move(room.connection), room.own_relay_id, channels->my_id(), std::move(tables));
  auto link = co_await open_encrypted_link(relay, std::move(*channels));
  if (!link) {
    // The relay sees the connection end cleanly (bounded by its deadline).
    co_await relay->close();
    WsRoomError::HandShakeFailed e{std::move(link.error())};
    co_return std::unexpected(WsRoomError(std::move(e)));
  }
  ExecutorBuilder builder(std::move(*link), kRelayExecutorLimits);
  auto root = build_executor(builder, root_uc_tag(), all_ids);
  if (!root) panic("We only call `build_executor` once");
  co_return std::pair<ExecutorBuilder, ProtocolExecutor>(std::move(builder), std::move(*root));
}

}  // namespace velto::executor
