// The websocket connection to the relay: one attempt (resolve, TCP, TLS,
// websocket handshake), the attempts with back-off, and the joined
// connection that carries relay frames with a deadline per operation.
//
// Every connection uses Boost.Beast over OpenSSL with the standard client
// handshake headers only, TCP_NODELAY, 4 MiB limits on received messages
// (and so on frames), each message written at once as one frame, pings
// answered by the client, and masked frames from the server refused as a
// protocol error (servers never mask, RFC 6455 5.1).
//
// Deadlines: every send and the close gets its own deadline, counted from its
// own start; a receive's deadline counts from the operation's last progress
// (see RelayConnection::timed_receive), which a completed send moves too.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <boost/system/error_code.hpp>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "executor/ws_frames.hpp"
#include "sised/error.hpp"
#include "sised/party_id.hpp"
#include "server-tools/relay_uri.hpp"
#include "velto-mpc-infra/async/duration.hpp"
#include "velto-mpc-infra/async/timeout.hpp"
#include "velto-mpc-infra/executor/encrypted.hpp"
#include "velto-mpc-infra/inbound_account.hpp"

namespace velto::executor {

using namespace std::chrono_literals;

// Stream configuration.
inline constexpr std::size_t kWsMaxMessage = 4 * 1024 * 1024;
inline constexpr std::size_t kWsMaxFrame = 4 * 1024 * 1024;
inline constexpr std::size_t kWsMaxWriteBuffer = 128 * 1024 * 1024;

// Attempts: waits of 64 ms doubling; the failure seen when the next wait
// would be 16,384 ms is final (nine attempts, 16,320 ms of waiting). Each
// attempt is bounded on its own.
inline constexpr async::Duration kConnectFirstDelay = 64ms;
inline constexpr async::Duration kConnectFinalDelay = 16384ms;
inline constexpr async::Duration kConnectAttemptTimeout = 30s;
// The wait for the room's party list, then the limit of every later receive,
// send and close.
inline constexpr async::Duration kRoomWaitDuration = 900s;
inline constexpr async::Duration kPerMessageDuration = 30s;

// The timings of one relay session. Production code uses the defaults; tests
// shorten them. Each wait is double the one before and the failure seen when
// the next wait would be connect_final_delay is final: the schedule keeps its
// production shape of nine attempts while connect_final_delay is 256 times
// connect_first_delay.
struct RelayTimings {
  async::Duration connect_first_delay = kConnectFirstDelay;
  async::Duration connect_final_delay = kConnectFinalDelay;
  async::Duration connect_attempt_timeout = kConnectAttemptTimeout;
  async::Duration room_wait = kRoomWaitDuration;
  async::Duration per_message = kPerMessageDuration;
};

// ---------------------------------------------------------------------------
// Errors

// An error of the websocket client, the TLS client, the resolver or the
// socket: the library's own text. Debug: Error { code: "asio.ssl:1", text: "..." }
// (without a code for the errors this client makes itself).
class WebSocketClientError final : public velto::Error {
 public:
  explicit WebSocketClientError(boost::system::error_code ec);
  explicit WebSocketClientError(std::string text) : text_(std::move(text)) {}

  const boost::system::error_code& code() const noexcept { return ec_; }
  std::string display() const override { return text_; }
  std::string debug() const override;

 private:
  boost::system::error_code ec_;
  std::string text_;
};

inline constexpr std::string_view kNoAddressText = "could not resolve to any address";

// The error of one send or receive on the joined connection.
//   Websocket(RelayError)       the RelayError's text
//   SocketClosed                "Socket closed too early"
//   TooManyUnexpectedMessages   "Too many messages have came from unexpected parties"
//   OperationTimedOut(d)        "The operation has timed out"
//   UnknownClient(relay id)     "The client ClientId(7) is unknown"
//   UnknownParty(PartyId)       "The party PartyId(3) is unknown"
// No source of its own.
class WsClientError final : public velto::Error {
 public:
  enum class Kind : std::uint8_t {
    Websocket,
    SocketClosed,
    TooManyUnexpectedMessages,
    OperationTimedOut,
    UnknownClient,
    UnknownParty,
  };

  static WsClientError websocket(RelayError e) { return WsClientError(Kind::Websocket, std::move(e)); }
  static WsClientError socket_closed() { return WsClientError(Kind::SocketClosed); }
  static WsClientError too_many_unexpected_messages() { return WsClientError(Kind::TooManyUnexpectedMessages); }
  static WsClientError operation_timed_out(async::Duration d) {
    WsClientError e(Kind::OperationTimedOut);
    e.waited_ = d;
    return e;
  }
  static WsClientError unknown_client(RelayId id) {
    WsClientError e(Kind::UnknownClient);
    e.id_ = id;
    return e;
  }
  static WsClientError unknown_party(PartyId id) {
    WsClientError e(Kind::UnknownParty);
    e.id_ = id.value();
    return e;
  }

  Kind kind() const noexcept { return kind_; }
  const RelayError* relay_error() const noexcept { return relay_ ? &*relay_ : nullptr; }
  async::Duration waited() const noexcept { return waited_; }
  std::uint16_t id() const noexcept { return id_; }

  std::string display() const override;
  // Websocket(<RelayError debug>), SocketClosed, OperationTimedOut(TimedOut(30s)),
  // UnknownClient(ClientId(7)), UnknownParty(PartyId(3)), ...
  std::string debug() const override;

 private:
  explicit WsClientError(Kind kind) : kind_(kind) {}
  WsClientError(Kind kind, RelayError e) : kind_(kind), relay_(std::move(e)) {}

  Kind kind_;
  std::optional<RelayError> relay_;
  async::Duration waited_{0};
  std::uint16_t id_ = 0;
};

// The error of joining a room and setting up the session over it.
//   SocketClosed              "Socket closed too early"
//   ReceivedMessageFromSelf   "Received message from self"
//   WebsocketError(boxed)     the boxed error's text (a RelayError, or the
//                             last connection attempt's error); source: its source
//   DeserializeFailed(e)      "Failed to deserialize message: `{e}`"; source: e
//   HandShakeFailed(e)        "Failed to perform handshake: `{e}`"; source: e
//   OperationTimedOut(d)      "The operation has timed out"; source: the TimeoutError
//   PublicKeyMismatch         "Mismatch between the public keys of the server and the ones provided"
class WsRoomError final : public velto::Error {
 public:
  struct SocketClosed {};
  struct ReceivedMessageFromSelf {};
  struct WebsocketError {
    BoxedError error;
  };
  struct DeserializeFailed {
    sised::SisedError error;
  };
  struct HandShakeFailed {
    HandshakeSetupError error;
  };
  struct OperationTimedOut {
    async::TimeoutError error;
  };
  struct PublicKeyMismatch {};

  using Value = std::variant<SocketClosed, ReceivedMessageFromSelf, WebsocketError, DeserializeFailed,
                             HandShakeFailed, OperationTimedOut, PublicKeyMismatch>;

  template <class V>
    requires std::is_constructible_v<Value, V>
  WsRoomError(V v) : value_(std::move(v)) {}

  VELTO_VARIANT_ERROR_ACCESSORS

  // Whether this is a handshake that failed on a message that did not
  // decrypt (the operation reports it as the decryption error kind).
  bool is_decryption_failure() const noexcept;

 private:
  Value value_;
};

// ---------------------------------------------------------------------------
// The websocket

// An open websocket, with the TLS session and socket under it. Reads yield
// data messages only: the client answers pings and drops pongs itself.
// One read and one write may be pending at the same time; all operations of
// one moment must run on one strand.
class WebSocket {
 public:
  struct Message {
    bool binary = true;
    crypto::Bytes data;
  };

  virtual ~WebSocket() = default;
  // A close frame from the relay, or a connection already closed, gives
  // boost::beast::websocket::error::closed.
  virtual boost::asio::awaitable<std::expected<Message, boost::system::error_code>> read() = 0;
  // One binary message, written and flushed.
  virtual boost::asio::awaitable<boost::system::error_code> write(crypto::ByteSpan message) = 0;
  virtual boost::asio::awaitable<boost::system::error_code> close() = 0;
};

// One attempt on the join address ("wss" or "ws"; port from the address,
// else 443 or 80). Not bounded in time (connect_with_retry bounds it).
boost::asio::awaitable<std::expected<std::unique_ptr<WebSocket>, WebSocketClientError>> connect_websocket(
    server_tools::Uri address);

// The attempts with back-off: the first success, or WebsocketError holding
// the last attempt's error. Each attempt that runs longer than
// timings.connect_attempt_timeout fails with "Connection timed out" (and
// counts as a failed attempt like any other).
boost::asio::awaitable<std::expected<std::unique_ptr<WebSocket>, WsRoomError>> connect_with_retry(
    const server_tools::Uri& address, const RelayTimings& timings = {});

// ---------------------------------------------------------------------------
// The joined connection

struct EndOfStream {
  friend bool operator==(EndOfStream, EndOfStream) = default;
};

// What one receive yields: a Relay frame, the RelayError of one message (an
// undecodable frame, the relay's Error frame, a websocket failure), or the
// end of the stream.
using RelayItem = std::variant<RelayFrame, RelayError, EndOfStream>;

class RelayConnection {
 public:
  RelayConnection(std::unique_ptr<WebSocket> ws, async::Duration per_message);

  async::Duration duration() const noexcept { return duration_; }
  // Sets the receive limit and counts it from now (a progress mark).
  void set_duration(async::Duration d) noexcept {
    duration_ = d;
    account_->mark_progress();
  }
  // The operation's inbound account: its last progress starts the receive
  // limit (progress is marked when the connection is made, when the duration
  // is set, by every completed send and by the protocol steps that take a
  // message).
  const std::shared_ptr<InboundAccount>& account() const noexcept { return account_; }
  bool end_of_stream() const noexcept { return eos_; }

  // The next item, untimed. Text messages are dropped; a close, or a
  // connection that failed before, yields EndOfStream (a failure is reported
  // once, as a RelayError, then EndOfStream).
  boost::asio::awaitable<RelayItem> receive();
  // receive() under the deadline duration() after the account's last
  // progress (read again when it comes, so progress made meanwhile moves it):
  // frames that nobody takes (dropped ones, junk, messages under tags no step
  // waits for) never extend the wait.
  boost::asio::awaitable<std::expected<RelayItem, async::TimeoutError>> timed_receive();
  // Writes and flushes one message within duration(): OperationTimedOut,
  // SocketClosed (the connection was closed, by the relay or after an
  // earlier failure) or Websocket on failure. A completed send marks
  // progress (a party that sends is not stalled).
  boost::asio::awaitable<std::expected<void, WsClientError>> send_message(crypto::ByteSpan message);
  // Sends a close and flushes it within duration(); a connection already
  // closed counts as closed.
  boost::asio::awaitable<std::expected<void, WsClientError>> close();

 private:
  std::unique_ptr<WebSocket> ws_;
  async::Duration duration_;
  std::shared_ptr<InboundAccount> account_ = std::make_shared<InboundAccount>();
  bool eos_ = false;
};

}  // namespace velto::executor
