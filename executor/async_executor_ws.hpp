// A party's session over the relay: the wait for the room's party list, the
// join of an operation (address, connection, room wait, session-wide
// checks), the relay link that carries the session's frames between
// PartyIds, and the encrypted executor built on that link.
//
// Road of one operation: join_room_keygen_type / join_room_sign_type give a
// JoinedRoom; the operation body appends its own bytes to the session hasher;
// build_encrypted_executor checks the room against the session's keys, runs
// the pairwise Noise handshakes over the relay link and yields the executor
// builder (for the manager task) and the root executor.
//
// Relay ids are the relay's addresses of the room's connections; PartyIds
// are the session's. The two are paired through the transport public keys
// that both the room map and the session hold.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "executor/error.hpp"
#include "executor/ws.hpp"
#include "executor/ws_frames.hpp"
#include "noise-kk/keys.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"
#include "velto-mpc-infra/executor/encrypted.hpp"

namespace velto::executor {

// ---------------------------------------------------------------------------
// Room wait

struct RoomParties {
  RelayId own_relay_id = 0;  // the recipient of the party-list frame
  RoomMap room;
};

// Reads exactly one item under the connection's current duration: the party
// list, a relay frame from 65535 addressed to this party. Errors:
// OperationTimedOut, SocketClosed (end of stream), WebsocketError (the
// RelayError of a bad frame, a server error frame or a websocket failure),
// ReceivedMessageFromSelf (a relay frame from anyone else), DeserializeFailed
// (a payload that is not a party list). On success the connection's duration
// becomes `per_message`.
boost::asio::awaitable<std::expected<RoomParties, WsRoomError>> read_room_parties(
    RelayConnection& connection, async::Duration per_message = kPerMessageDuration);

// A joined relay session.
struct JoinedRoom {
  std::unique_ptr<RelayConnection> connection;
  RelayId own_relay_id = 0;
  RoomMap room;
  noise::NoiseKeyPair static_keys;
  // The session's PartyIds and keys (in key order) and the session hasher,
  // fed the ids and keys and, after a join, n and t (2 bytes little-endian
  // each).
  EncryptedChannelSetup setup;
};

// Keygen-type room wait: the expected keys (the keygen ids; the own key is
// added, a key given twice counts once) are numbered 1 to n in key order.
// Returns the room and the session map PartyId to key. The connection
// waits timings.room_wait for the list, then timings.per_message.
boost::asio::awaitable<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, WsRoomError>>
await_room_keygen_type(std::unique_ptr<WebSocket> ws, std::span<const noise::PublicKey> expected,
                       const noise::NoiseKeyPair& own, const RelayTimings& timings = {});

// Sign-type room wait: the share's parties, restricted to the keys the room
// holds, keep their PartyIds.
boost::asio::awaitable<std::expected<JoinedRoom, WsRoomError>> await_room_sign_type(
    std::unique_ptr<WebSocket> ws, const std::map<PartyId, noise::PublicKey>& parties,
    const noise::NoiseKeyPair& own, const RelayTimings& timings = {});

// ---------------------------------------------------------------------------
// Join

// What the operation driver knows before it joins.
struct JoinRequest {
  server_tools::HostAuthority host;
  server_tools::RoomUuid room;
  std::string op;  // the relay operation name, e.g. "ecdsa_sign"
  std::uint16_t t = 0;
  std::uint16_t n = 0;
  RelayTimings timings{};
};

// How a relay failure leaves an operation: a handshake that failed on a
// message that did not decrypt is the DecryptionError kind, every other
// failure the Plugin kind carrying the WsRoomError.
ExecutorFailure room_error_to_failure(WsRoomError error);

// Address, connection with retry, keygen-type room wait, then the count
// check (the distinct keys, the own key included, must number n, else
// InvalidNumberOfParties {n, count}); appends n and t to the hasher.
boost::asio::awaitable<std::expected<std::pair<JoinedRoom, std::map<PartyId, noise::PublicKey>>, ExecutorFailure>>
join_room_keygen_type(JoinRequest request, noise::NoiseKeyPair own, std::vector<noise::PublicKey> keygen_ids);

// Address, connection with retry, sign-type room wait (no count check);
// appends n and t to the hasher.
boost::asio::awaitable<std::expected<JoinedRoom, ExecutorFailure>> join_room_sign_type(
    JoinRequest request, noise::NoiseKeyPair own, std::map<PartyId, noise::PublicKey> parties);

// ---------------------------------------------------------------------------
// The relay link

struct PeerTables {
  std::map<RelayId, PartyId> relay_to_party;
  std::map<PartyId, RelayId> party_to_relay;
};

// Pairs every room member but this party (by relay id) with the session's
// PartyId of its key. A key the session does not hold is a broken invariant
// after check_room_keys (panic "Can't fail, pubkeys and identifiers are the
// same").
PeerTables index_peers_by_party_id(const RoomMap& room, RelayId own_relay_id, std::span<const PartyId> ids,
                                   std::span<const noise::PublicKey> keys);

// The room must hold exactly the session's keys: as many entries, each key
// one of the expected ones (sorted ascending), no key twice. Otherwise
// PublicKeyMismatch.
std::expected<void, WsRoomError> check_room_keys(const RoomMap& room, std::span<const noise::PublicKey> expected);

// The relay side of a session: opaque payloads between PartyIds, one relay
// frame each. Errors are WsClientError values (boxed through the
// Communicator interface). Every receive, send and close has its own
// deadline of the connection's duration.
class RelayTransport final : public Communicator {
 public:
  RelayTransport(std::unique_ptr<RelayConnection> connection, RelayId own_relay_id, PartyId own_party_id,
                 PeerTables tables);

  PartyId my_party_id() const override { return own_party_id_; }
  boost::asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override;
  boost::asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes payload, PartyId to) override;
  boost::asio::awaitable<void> close() override;
  // The connection's.
  std::shared_ptr<InboundAccount> inbound_account() const override { return connection_->account(); }

  // The next relay frame as (payload, sender): OperationTimedOut,
  // SocketClosed, Websocket (bad frame, server error, websocket failure) or
  // UnknownClient (a sender that is no other member of the room).
  boost::asio::awaitable<std::expected<ReceivedPlaintext, WsClientError>> receive_ws_message();
  // One relay frame to `to`, written and flushed: UnknownParty (nothing
  // written), OperationTimedOut or Websocket.
  boost::asio::awaitable<std::expected<void, WsClientError>> send_ws_message(crypto::Bytes payload, PartyId to);
  boost::asio::awaitable<std::expected<void, WsClientError>> close_relay_connection();

  RelayId own_relay_id() const noexcept { return own_relay_id_; }
  const PeerTables& tables() const noexcept { return tables_; }
  RelayConnection& connection() noexcept { return *connection_; }

 private:
  std::unique_ptr<RelayConnection> connection_;
  RelayId own_relay_id_;
  PartyId own_party_id_;
  PeerTables tables_;
};

// The unencrypted link of a joined room (the key-set check, then the peer
// tables): for sessions whose frames need no end-to-end protection, and for
// tests. Consumes the room's connection.
std::expected<std::shared_ptr<RelayTransport>, WsRoomError> open_relay_transport(JoinedRoom room);

// ---------------------------------------------------------------------------
// Encrypted executor

// Limits of the executor built over the relay.
inline constexpr ExecutorLimits kRelayExecutorLimits{256, 512, 256};

// Key-set check (PublicKeyMismatch, nothing sent but the close), the Noise channels from
// the set-up's finished hasher, the relay link, every pairwise handshake
// (HandShakeFailed), the root executor on the root tag. When the key-set
// check or the handshakes fail, the connection is closed (close frame,
// bounded by its deadline). Returns the builder
// (for the manager task) and the root executor.
boost::asio::awaitable<std::expected<std::pair<ExecutorBuilder, ProtocolExecutor>, WsRoomError>>
build_encrypted_executor(JoinedRoom room);

}  // namespace velto::executor
