#include "velto-mpc-infra/async/asio.hpp"

#include "executor/ws.hpp"

#include <charconv>
#include <memory>
#include <string_view>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "server-tools/tls.hpp"
#include "velto-mpc-infra/async/channel.hpp"

namespace velto::executor {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// ---------------------------------------------------------------------------
// Errors

WebSocketClientError::WebSocketClientError(error_code ec) : ec_(ec), text_(ec.message()) {}

std::string WebSocketClientError::debug() const {
  if (!ec_) return "Error { text: " + debug_string(text_) + " }";
  return "Error { code: " + debug_string(std::string(ec_.category().name()) + ":" + std::to_string(ec_.value())) +
         ", text: " + debug_string(text_) + " }";
}

std::string WsClientError::display() const {
  switch (kind_) {
    case Kind::Websocket: return relay_ ? relay_->display() : std::string();
    case Kind::SocketClosed: return "Socket closed too early";
    case Kind::TooManyUnexpectedMessages: return "Too many messages have came from unexpected parties";
    case Kind::OperationTimedOut: return "The operation has timed out";
    case Kind::UnknownClient: return "The client ClientId(" + std::to_string(id_) + ") is unknown";
    case Kind::UnknownParty: return "The party PartyId(" + std::to_string(id_) + ") is unknown";
  }
  return {};
}

std::string WsClientError::debug() const {
  switch (kind_) {
    case Kind::Websocket: return "Websocket(" + (relay_ ? relay_->debug() : std::string()) + ")";
    case Kind::SocketClosed: return "SocketClosed";
    case Kind::TooManyUnexpectedMessages: return "TooManyUnexpectedMessages";
    case Kind::OperationTimedOut: return "OperationTimedOut(" + async::TimeoutError(waited_).debug() + ")";
    case Kind::UnknownClient: return "UnknownClient(ClientId(" + std::to_string(id_) + "))";
    case Kind::UnknownParty: return "UnknownParty(PartyId(" + std::to_string(id_) + "))";
  }
  return {};
}

bool WsRoomError::is_decryption_failure() const noexcept {
  const auto* hs = get_if<HandShakeFailed>();
  if (hs == nullptr) return false;
  const auto* noise = hs->error.noise();
  return noise != nullptr && noise->kind() == noise::NoiseError::Kind::DecryptionError;
}

std::string WsRoomError::display() const {
  struct V {
    std::string operator()(const SocketClosed&) const { return "Socket closed too early"; }
    std::string operator()(const ReceivedMessageFromSelf&) const { return "Received message from self"; }
    std::string operator()(const WebsocketError& e) const { return e.error ? e.error->display() : std::string(); }
    std::string operator()(const DeserializeFailed& e) const {
      return "Failed to deserialize message: `" + e.error.display() + "`";
    }
    std::string operator()(const HandShakeFailed& e) const {
      return "Failed to perform handshake: `" + e.error.display() + "`";
    }
    std::string operator()(const OperationTimedOut&) const { return "The operation has timed out"; }
    std::string operator()(const PublicKeyMismatch&) const {
      return "Mismatch between the public keys of the server and the ones provided";
    }
  };
  return std::visit(V{}, value_);
}

std::string WsRoomError::debug() const {
  struct V {
    std::string operator()(const SocketClosed&) const { return "SocketClosed"; }
    std::string operator()(const ReceivedMessageFromSelf&) const { return "ReceivedMessageFromSelf"; }
    std::string operator()(const WebsocketError& e) const {
      return "WebsocketError(" + (e.error ? e.error->debug() : std::string()) + ")";
    }
    std::string operator()(const DeserializeFailed& e) const { return "DeserializeFailed(" + e.error.debug() + ")"; }
    std::string operator()(const HandShakeFailed& e) const { return "HandShakeFailed(" + e.error.debug() + ")"; }
    std::string operator()(const OperationTimedOut& e) const { return "OperationTimedOut(" + e.error.debug() + ")"; }
    std::string operator()(const PublicKeyMismatch&) const { return "PublicKeyMismatch"; }
  };
  return std::visit(V{}, value_);
}

const Error* WsRoomError::source() const noexcept {
  struct V {
    const Error* operator()(const WebsocketError& e) const noexcept { return e.error ? e.error->source() : nullptr; }
    const Error* operator()(const DeserializeFailed& e) const noexcept { return &e.error; }
    const Error* operator()(const HandShakeFailed& e) const noexcept { return &e.error; }
    const Error* operator()(const OperationTimedOut& e) const noexcept { return &e.error; }
    const Error* operator()(const SocketClosed&) const noexcept { return nullptr; }
    const Error* operator()(const ReceivedMessageFromSelf&) const noexcept { return nullptr; }
    const Error* operator()(const PublicKeyMismatch&) const noexcept { return nullptr; }
  };
  return std::visit(V{}, value_);
}

// ---------------------------------------------------------------------------
// The websocket

namespace {

constexpr auto kNoThrow = asio::as_tuple(asio::use_awaitable);

// Operations report their errors as values, except their cancellation: that
// is thrown, as the time-limit helper (async/timeout.hpp) and the manager's
// reader expect of a cancelled operation. The stream also gives
// operation_aborted for operations on a stream that is already closed or
// failed (the relay closed it, or an earlier operation failed): that is the
// end of the connection, reported as `closed`. Only the awaiting coroutine's
// cancellation state tells the two apart.
asio::awaitable<error_code> settle(error_code ec) {
  if (ec != asio::error::operation_aborted) co_return ec;
  const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
  if (state.cancelled() != asio::cancellation_type::none) throw boost::system::system_error(ec);
  co_return error_code(websocket::error::closed);
}

// The end of the connection as the relay made it: a close frame, or the end
// of the TCP or TLS stream.
bool is_connection_end(const error_code& ec) {
  return ec == websocket::error::closed || ec == asio::error::eof || ec == ssl::error::stream_truncated;
}

// The TLS client context of every relay connection: one per process, shared
// by the streams (OpenSSL contexts are safe to share once configured). It
// keeps no client sessions, so every connection makes a full handshake as
// before.
std::shared_ptr<ssl::context> shared_tls_client_context() {
  static const std::shared_ptr<ssl::context> ctx = [] {
    auto fresh = std::make_shared<ssl::context>(ssl::context::tls_client);
    server_tools::configure_tls_client(fresh->native_handle());
    return fresh;
  }();
  return ctx;
}

// The Beast stream over `Next` (a TLS stream or the bare socket). The TLS
// context is kept beside it for the stream's life.
//
// Reads run in a coroutine of their own, on the strand of the caller that
// started them: a caller that is cancelled (a deadline, the manager stopping
// its reader) stops waiting, but the read goes on, and the next read() takes
// its message. A cancelled Beast read would fail the stream for good; left
// running, it lets close() still exchange close frames (Beast hands the
// pending read's bytes to the close) and shut TLS down. A read still in
// flight when the object goes away is ended by closing the socket.
template <class Next>
class BeastWebSocket final : public WebSocket {
  // The stream, and the slot through which the read in flight hands its
  // outcome to the caller (at most one read is in flight at a time).
  struct State {
    State(const asio::any_io_executor& ex, std::shared_ptr<ssl::context> c) : ctx(std::move(c)), ws(ex, *ctx) {}
    explicit State(const asio::any_io_executor& ex) : ws(ex) {}
    std::shared_ptr<ssl::context> ctx;
    websocket::stream<Next> ws;
    std::optional<std::expected<Message, error_code>> result;
    std::shared_ptr<async::Notify> done = async::Notify::create();
  };

 public:
  // TLS: the stream uses `ctx`, which it keeps.
  BeastWebSocket(const asio::any_io_executor& ex, std::shared_ptr<ssl::context> ctx)
    requires std::is_same_v<Next, beast::ssl_stream<tcp::socket>>
      : state_(std::make_shared<State>(ex, std::move(ctx))) {}
  explicit BeastWebSocket(const asio::any_io_executor& ex)
    requires std::is_same_v<Next, tcp::socket>
      : state_(std::make_shared<State>(ex)) {}
  ~BeastWebSocket() override {
    // A read started and not taken may still be pending: closing the socket
    // ends it (harmless when it has finished).
    if (!reading_) return;
    asio::post(read_ex_, [state = state_] {
      error_code ignored;
      beast::get_lowest_layer(state->ws).close(ignored);
    });
  }
  BeastWebSocket(const BeastWebSocket&) = delete;
  BeastWebSocket& operator=(const BeastWebSocket&) = delete;

  websocket::stream<Next>& stream() noexcept { return state_->ws; }

  asio::awaitable<std::expected<Message, error_code>> read() override {
    if (!reading_) {
      reading_ = true;
      read_ex_ = co_await asio::this_coro::executor;
      auto on_end = [](const std::exception_ptr&) {};
      asio::co_spawn(read_ex_, read_message(state_), std::move(on_end));
    }
    // Only this wait honours the caller's cancellation.
    while (!state_->result) co_await state_->done->wait();
    std::expected<Message, error_code> out = std::move(*state_->result);
    state_->result.reset();
    reading_ = false;
    co_return out;
  }

  asio::awaitable<error_code> write(crypto::ByteSpan message) override {
    auto& ws = state_->ws;
    ws.binary(true);
    auto [ec, n] = co_await ws.async_write(asio::buffer(message.data(), message.size()), kNoThrow);
    (void)n;
    co_return co_await settle(ec);
  }

  asio::awaitable<error_code> close() override {
    // A stream that has failed or closed before refuses with
    // operation_aborted; so does a close that finished through a pending
    // read. Either way the connection is closed: reported as a value, never
    // thrown.
    auto [ec] = co_await state_->ws.async_close(websocket::close_code::normal, kNoThrow);
    co_return ec;
  }

 private:
  // One data message, at most kWsMaxMessage bytes: the limit is applied
  // while reading (Beast's own limit would fail the connection and report
  // the failure of the TLS shutdown that follows, not the size).
  static asio::awaitable<void> read_message(std::shared_ptr<State> state) {
    auto& ws = state->ws;
    beast::flat_buffer buffer;
    error_code ec;
    for (;;) {
      auto [rec, n] = co_await ws.async_read_some(buffer, kWsMaxMessage + 1 - buffer.size(), kNoThrow);
      (void)n;
      // This coroutine is never cancelled: operation_aborted is a closed stream.
      if (rec == asio::error::operation_aborted) rec = websocket::error::closed;
      ec = rec;
      if (ec) break;
      if (buffer.size() > kWsMaxMessage) {
        ec = websocket::error::message_too_big;
        break;
      }
      if (ws.is_message_done()) break;
    }
    if (ec) {
      state->result.emplace(std::unexpected(ec));
    } else {
      const auto data = buffer.cdata();
      const auto* p = static_cast<const std::uint8_t*>(data.data());
      state->result.emplace(Message{ws.got_binary(), crypto::Bytes(p, p + data.size())});
    }
    state->done->notify();
  }

  std::shared_ptr<State> state_;
  // Whether a read has been started and its outcome not yet taken; the
  // strand it runs on.
  bool reading_ = false;
  asio::any_io_executor read_ex_;
};

struct HostPort {
  std::string host;  // without brackets
  std::uint16_t port = 0;
};

std::optional<HostPort> split_authority(std::string_view authority, std::uint16_t default_port) {
  HostPort out;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = std::string(authority.substr(1, close - 1));
    rest = authority.substr(close + 1);
  } else {
    const auto colon = authority.rfind(':');
    out.host = std::string(authority.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
  }
  if (out.host.empty()) return std::nullopt;
  if (rest.empty()) {
    out.port = default_port;
    return out;
  }
  if (rest.front() != ':' || rest.size() < 2) return std::nullopt;
  rest.remove_prefix(1);
  unsigned port = 0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
  if (ec != std::errc() || end != rest.data() + rest.size() || port > 65535) return std::nullopt;
  out.port = static_cast<std::uint16_t>(port);
  return out;
}

// The stream configuration of every connection.
template <class Stream>
void configure(websocket::stream<Stream>& ws) {
  // No limit of Beast's own: the read applies kWsMaxMessage (see read_message).
  ws.read_message_max(0);
  ws.auto_fragment(false);
  ws.set_option(websocket::stream_base::timeout{websocket::stream_base::none(), websocket::stream_base::none(),
                                                false});
  // Beast adds a User-Agent of its own; the handshake carries the standard
  // headers only.
  ws.set_option(websocket::stream_base::decorator(
      [](websocket::request_type& req) { req.erase(beast::http::field::user_agent); }));
}

using Attempt = std::expected<std::unique_ptr<WebSocket>, WebSocketClientError>;

asio::awaitable<std::expected<void, WebSocketClientError>> connect_tcp(tcp::socket& socket, const HostPort& hp) {
  auto ex = co_await asio::this_coro::executor;
  tcp::resolver resolver(ex);
  auto [rec, endpoints] = co_await resolver.async_resolve(hp.host, std::to_string(hp.port), kNoThrow);
  if (const auto settled = co_await settle(rec)) co_return std::unexpected(WebSocketClientError(settled));
  if (endpoints.empty()) co_return std::unexpected(WebSocketClientError(std::string(kNoAddressText)));
  auto [cec, ep] = co_await asio::async_connect(socket, endpoints, kNoThrow);
  (void)ep;
  if (const auto settled = co_await settle(cec)) co_return std::unexpected(WebSocketClientError(settled));
  error_code ec;
  socket.set_option(tcp::no_delay(true), ec);
  if (ec) co_return std::unexpected(WebSocketClientError(ec));
  co_return std::expected<void, WebSocketClientError>();
}

}  // namespace

asio::awaitable<Attempt> connect_websocket(server_tools::Uri address) {
  auto ex = co_await asio::this_coro::executor;
  bool tls = false;
  if (address.scheme == "wss") {
    tls = true;
  } else if (address.scheme != "ws") {
    co_return std::unexpected(WebSocketClientError("URL error: unsupported URL scheme `" + address.scheme + "`"));
  }
  auto hp = split_authority(address.authority, tls ? 443 : 80);
  if (!hp) co_return std::unexpected(WebSocketClientError("URL error: invalid authority `" + address.authority + "`"));
  const std::string target = address.path_and_query.empty() ? std::string("/") : address.path_and_query;

  if (tls) {
    auto ws = std::make_unique<BeastWebSocket<beast::ssl_stream<tcp::socket>>>(ex, shared_tls_client_context());
    auto& stream = ws->stream();
    auto tcp_ok = co_await connect_tcp(beast::get_lowest_layer(stream), *hp);
    if (!tcp_ok) co_return std::unexpected(std::move(tcp_ok.error()));
    if (!server_tools::set_tls_peer_host(stream.next_layer().native_handle(), hp->host))
      co_return std::unexpected(WebSocketClientError(std::string("TLS error: the relay's host name is refused")));
    auto [tec] = co_await stream.next_layer().async_handshake(ssl::stream_base::client, kNoThrow);
    if (const auto settled = co_await settle(tec)) co_return std::unexpected(WebSocketClientError(settled));
    configure(stream);
    websocket::response_type reply;
    auto [hec] = co_await stream.async_handshake(reply, address.authority, target, kNoThrow);
    if (const auto settled = co_await settle(hec)) co_return std::unexpected(WebSocketClientError(settled));
    co_return std::unique_ptr<WebSocket>(std::move(ws));
  }
  auto ws = std::make_unique<BeastWebSocket<tcp::socket>>(ex);
  auto& stream = ws->stream();
  auto tcp_ok = co_await connect_tcp(stream.next_layer(), *hp);
  if (!tcp_ok) co_return std::unexpected(std::move(tcp_ok.error()));
  configure(stream);
  websocket::response_type reply;
  auto [hec] = co_await stream.async_handshake(reply, address.authority, target, kNoThrow);
  if (const auto settled = co_await settle(hec)) co_return std::unexpected(WebSocketClientError(settled));
  co_return std::unique_ptr<WebSocket>(std::move(ws));
}

asio::awaitable<std::expected<std::unique_ptr<WebSocket>, WsRoomError>> connect_with_retry(
    const server_tools::Uri& address, const RelayTimings& timings) {
  auto ex = co_await asio::this_coro::executor;
  async::Duration delay = timings.connect_first_delay;
  for (;;) {
    auto attempt = co_await async::timeout(timings.connect_attempt_timeout, connect_websocket(address));
    std::optional<WebSocketClientError> failure;
    if (!attempt) {
      failure.emplace(error_code(asio::error::timed_out));
    } else if (!*attempt) {
      failure.emplace(std::move(attempt->error()));
    } else {
      co_return std::move(**attempt);
    }
    if (delay >= timings.connect_final_delay) {
      WsRoomError::WebsocketError e{box_error<WebSocketClientError>(std::move(*failure))};
      co_return std::unexpected(WsRoomError(std::move(e)));
    }
    asio::steady_timer timer(ex);
    timer.expires_after(delay);
    (void)co_await timer.async_wait(kNoThrow);
    delay *= 2;
  }
}

// ---------------------------------------------------------------------------
// The joined connection

RelayConnection::RelayConnection(std::unique_ptr<WebSocket> ws, async::Duration per_message)
    : ws_(std::move(ws)), duration_(per_message) {}

asio::awaitable<RelayItem> RelayConnection::receive() {
  for (;;) {
    if (eos_) co_return RelayItem(std::in_place_type<EndOfStream>);
    auto message = co_await ws_->read();
    if (!message) {
      eos_ = true;
      const error_code ec = message.error();
      if (is_connection_end(ec)) co_return RelayItem(std::in_place_type<EndOfStream>);
      RelayError::WebSocketError e{box_error<WebSocketClientError>(ec)};
      co_return RelayItem(RelayError(std::move(e)));
    }
    if (!message->binary) continue;
    auto frame = read_relay_frame(message->data);
    if (!frame) co_return RelayItem(std::move(frame.error()));
    co_return RelayItem(std::move(*frame));
  }
}

asio::awaitable<std::expected<RelayItem, async::TimeoutError>> RelayConnection::timed_receive() {
  auto deadline = [account = account_, limit = duration_] { return account->last_progress() + limit; };
  auto item = co_await async::timeout_at(std::move(deadline), duration_, receive());
  // A receive cut off by its deadline ends the stream for this connection:
  // later receives yield EndOfStream (a message the cut-off read still
  // brings is never handed out).
  if (!item) eos_ = true;
  co_return item;
}

asio::awaitable<std::expected<void, WsClientError>> RelayConnection::send_message(crypto::ByteSpan message) {
  // Sends are awaited one at a time, so the client is ready at once: the
  // one deadline covers the write and its flush.
  auto written = co_await async::timeout(duration_, ws_->write(message));
  if (!written) co_return std::unexpected(WsClientError::operation_timed_out(duration_));
  const error_code ec = *written;
  // The relay closed the connection (seen by the reader, or by this write).
  if (is_connection_end(ec)) co_return std::unexpected(WsClientError::socket_closed());
  if (ec) {
    RelayError::WebSocketError e{box_error<WebSocketClientError>(ec)};
    co_return std::unexpected(WsClientError::websocket(RelayError(std::move(e))));
  }
  // A party that is sending is not stalled: the receive limit counts from
  // here too.
  account_->mark_progress();
  co_return std::expected<void, WsClientError>();
}

asio::awaitable<std::expected<void, WsClientError>> RelayConnection::close() {
  auto closed = co_await async::timeout(duration_, ws_->close());
  if (!closed) co_return std::unexpected(WsClientError::operation_timed_out(duration_));
  const error_code ec = *closed;
  if (ec && !is_connection_end(ec) && ec != asio::error::operation_aborted) {
    RelayError::WebSocketError e{box_error<WebSocketClientError>(ec)};
    co_return std::unexpected(WsClientError::websocket(RelayError(std::move(e))));
  }
  eos_ = true;
  co_return std::expected<void, WsClientError>();
}

}  // namespace velto::executor
