// The websocket connection to the relay: attempts and their schedule, the
// handshake request, the stream's refusals, and the joined connection's
// receive, send and deadlines, against the local relay on loopback.
#include "velto-mpc-infra/async/asio.hpp"

#include "executor/ws.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "executor/async_executor_ws.hpp"
#include "server-tools/create_room.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/tests/support/test_pki.hpp"
#include "tools/relay/server/relay_server.hpp"
#include "velto-mpc-infra/async/runtime.hpp"

namespace velto::executor {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using server_tools::HostAuthority;
using server_tools::RoomUuid;
using namespace std::string_literals;

crypto::ByteArray<32> key_of(std::uint8_t b) {
  crypto::ByteArray<32> k;
  k.fill(b);
  return k;
}

std::string as_string(crypto::ByteSpan b) { return std::string(b.begin(), b.end()); }

// A TCP listener on loopback that counts connections and records when each
// arrived. The first `refuse` connections are closed at once (the attempt
// fails in the TLS handshake); later ones are piped to `forward_port`.
class CountingListener {
 public:
  CountingListener(std::size_t refuse, std::uint16_t forward_port)
      : acceptor_(ioc_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
        refuse_(refuse),
        forward_port_(forward_port) {
    accept();
    thread_ = std::thread([this] { ioc_.run(); });
  }
  ~CountingListener() {
    ioc_.stop();
    thread_.join();
  }

  std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
  std::vector<Clock::time_point> arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }

 private:
  void accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
      if (ec) return;
      std::size_t index;
      {
        std::lock_guard lock(mutex_);
        arrivals_.push_back(Clock::now());
        index = arrivals_.size();
      }
      if (index > refuse_) forward(std::make_shared<tcp::socket>(std::move(socket)));
      accept();
    });
  }

  void forward(std::shared_ptr<tcp::socket> client) {
    auto server = std::make_shared<tcp::socket>(ioc_);
    server->connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), forward_port_));
    pipe(client, server);
    pipe(server, client);
  }

  void pipe(std::shared_ptr<tcp::socket> from, std::shared_ptr<tcp::socket> to) {
    auto buffer = std::make_shared<std::array<char, 16384>>();
    from->async_read_some(asio::buffer(*buffer), [this, from, to, buffer](boost::system::error_code ec, std::size_t n) {
      if (ec) {
        boost::system::error_code ignored;
        to->shutdown(tcp::socket::shutdown_send, ignored);
        return;
      }
      asio::async_write(*to, asio::buffer(buffer->data(), n),
                        [this, from, to, buffer](boost::system::error_code wec, std::size_t) {
                          if (!wec) pipe(from, to);
                        });
    });
  }

  asio::io_context ioc_;
  tcp::acceptor acceptor_;
  std::size_t refuse_;
  std::uint16_t forward_port_;
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> arrivals_;
  std::thread thread_;
};

// Shortened timings; the schedule keeps its production shape.
RelayTimings fast_timings() {
  RelayTimings t;
  t.connect_first_delay = std::chrono::milliseconds(4);
  t.connect_final_delay = std::chrono::milliseconds(4 * 256);
  t.connect_attempt_timeout = std::chrono::milliseconds(300);
  t.room_wait = std::chrono::milliseconds(500);
  t.per_message = std::chrono::milliseconds(300);
  return t;
}

class WsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& pki = server_tools::testing::test_pki();
    relay_ = std::make_unique<relay::RelayServer>(
        relay::RelayConfig{"127.0.0.1", 0, pki.trusted.cert_file, pki.trusted.key_file, std::nullopt});
    auto started = relay_->start();
    ASSERT_TRUE(started.has_value()) << started.error();
  }

  HostAuthority host(std::uint16_t port = 0) const {
    return HostAuthority::with_tls("127.0.0.1:" + std::to_string(port ? port : relay_->port()));
  }

  RoomUuid new_room(std::uint16_t n) {
    auto id = rt_.block_on(server_tools::create_room(host(), n, ""));
    EXPECT_TRUE(id.has_value()) << id.error().display();
    return id.value_or(RoomUuid{});
  }

  server_tools::Uri address(const RoomUuid& room, std::uint8_t key, std::uint16_t port = 0, std::uint16_t n = 1) {
    return server_tools::join_room_uri(host(port), room, key_of(key), {"ecdsa_keygen", "ec", 1, n});
  }

  // A joined one-party room: the connection after the party list.
  std::unique_ptr<RelayConnection> joined(const RoomUuid& room, async::Duration per_message) {
    auto ws = rt_.block_on(connect_with_retry(address(room, 7), fast_timings()));
    EXPECT_TRUE(ws.has_value()) << ws.error().display();
    if (!ws) return nullptr;
    auto conn = std::make_unique<RelayConnection>(std::move(*ws), per_message);
    auto list = rt_.block_on(conn->timed_receive());
    EXPECT_TRUE(list.has_value() && std::holds_alternative<RelayFrame>(*list));
    return conn;
  }

  // n connections in one room, in relay id order, each after its party list.
  std::vector<std::unique_ptr<RelayConnection>> members(const RoomUuid& room, std::uint16_t n,
                                                        async::Duration per_message) {
    std::vector<std::unique_ptr<RelayConnection>> out;
    for (std::uint16_t i = 0; i < n; ++i) {
      auto ws = rt_.block_on(connect_with_retry(address(room, static_cast<std::uint8_t>(20 + i), 0, n), fast_timings()));
      EXPECT_TRUE(ws.has_value()) << ws.error().display();
      if (!ws) return {};
      out.push_back(std::make_unique<RelayConnection>(std::move(*ws), per_message));
    }
    for (auto& conn : out) {
      auto list = rt_.block_on(conn->timed_receive());
      EXPECT_TRUE(list.has_value() && std::holds_alternative<RelayFrame>(*list));
    }
    return out;
  }

  async::Runtime rt_{2};
  std::unique_ptr<relay::RelayServer> relay_;
};

TEST(WsErrors, ClientErrorTexts) {
  const RelayError server_error(RelayError::ServerError{"room is full"});
  struct Case {
    WsClientError error;
    std::string display;
    std::string debug;
  };
  const std::vector<Case> cases = {
      {WsClientError::websocket(server_error), "Received an error message from the server: room is full",
       "Websocket(ServerError(\"room is full\"))"},
      // No source of its own, even over a RelayError that has one.
      {WsClientError::websocket(RelayError::from_decode_error(sised::SisedError::custom("Invalid discriminant"))),
       "Failed deserializing `WebSocketMessage`: Sised deserialization failed: Invalid discriminant",
       "Websocket(DeserializationError(Sised(Custom(\"Invalid discriminant\"))))"},
      {WsClientError::socket_closed(), "Socket closed too early", "SocketClosed"},
      {WsClientError::too_many_unexpected_messages(), "Too many messages have came from unexpected parties",
       "TooManyUnexpectedMessages"},
      {WsClientError::operation_timed_out(std::chrono::seconds(30)), "The operation has timed out",
       "OperationTimedOut(TimedOut(30s))"},
      {WsClientError::unknown_client(7), "The client ClientId(7) is unknown", "UnknownClient(ClientId(7))"},
      {WsClientError::unknown_party(PartyId::unchecked(3)), "The party PartyId(3) is unknown",
       "UnknownParty(PartyId(3))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
    EXPECT_EQ(c.error.source(), nullptr);
  }
}

// Every WsRoomError variant: display, debug form, source, and how the relay
// join reports it (only a handshake that failed to decrypt is the
// DecryptionError kind).
TEST(WsErrors, RoomErrorTextsSourcesAndKind) {
  const RelayError server_error(RelayError::ServerError{"room is full"});
  const RelayError undecodable = RelayError::from_decode_error(sised::SisedError::custom("Invalid discriminant"));
  const auto decryption = HandshakeSetupError::noise_error(noise::NoiseError(noise::NoiseError::Kind::DecryptionError));
  const auto peer_gone = HandshakeSetupError::communication_error(
      ChannelError::receive(box_error<WsClientError>(WsClientError::socket_closed())));
  struct Case {
    WsRoomError error;
    std::string display;
    std::string debug;
    std::optional<std::string> source;  // the source's display, if any
    bool decryption = false;
  };
  const std::vector<Case> cases = {
      {WsRoomError::SocketClosed{}, "Socket closed too early", "SocketClosed", std::nullopt},
      {WsRoomError::ReceivedMessageFromSelf{}, "Received message from self", "ReceivedMessageFromSelf", std::nullopt},
      // Transparent: the RelayError's text, debug inside, and its source.
      {WsRoomError::WebsocketError{box_error<RelayError>(server_error)},
       "Received an error message from the server: room is full", "WebsocketError(ServerError(\"room is full\"))",
       std::nullopt},
      {WsRoomError::WebsocketError{box_error<RelayError>(undecodable)},
       "Failed deserializing `WebSocketMessage`: Sised deserialization failed: Invalid discriminant",
       "WebsocketError(DeserializationError(Sised(Custom(\"Invalid discriminant\"))))",
       "Sised deserialization failed: Invalid discriminant"},
      {WsRoomError::DeserializeFailed{sised::SisedError::custom("Collection is not sorted")},
       "Failed to deserialize message: `Collection is not sorted`",
       "DeserializeFailed(Custom(\"Collection is not sorted\"))", "Collection is not sorted"},
      // The back-ticks nest.
      {WsRoomError::HandShakeFailed{decryption},
       "Failed to perform handshake: `The noise protocol failed: `Unsuccesful decryption.``",
       "HandShakeFailed(NoiseError(DecryptionError))", "The noise protocol failed: `Unsuccesful decryption.`", true},
      // A relay failure during the handshakes reaches the room error through
      // the channel's direction.
      {WsRoomError::HandShakeFailed{peer_gone},
       "Failed to perform handshake: `Error while receiving: `Socket closed too early``",
       "HandShakeFailed(CommunicationError(Receive(SocketClosed)))", "Error while receiving: `Socket closed too early`"},
      // The waited duration shows in the debug form and the source only.
      {WsRoomError::OperationTimedOut{async::TimeoutError(std::chrono::seconds(900))}, "The operation has timed out",
       "OperationTimedOut(TimedOut(900s))", "The operation has timed out, waited for 900s"},
      {WsRoomError::PublicKeyMismatch{}, "Mismatch between the public keys of the server and the ones provided",
       "PublicKeyMismatch", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
    const Error* source = c.error.source();
    ASSERT_EQ(source != nullptr, c.source.has_value());
    if (source) {
      EXPECT_EQ(source->display(), *c.source);
    }
    EXPECT_EQ(c.error.is_decryption_failure(), c.decryption);
    const ExecutorFailure failure = room_error_to_failure(c.error);
    if (c.decryption) {
      EXPECT_NE(failure.inner().get_if<ExecutorErrorKind::DecryptionError>(), nullptr);
    } else {
      const auto* plugin = failure.inner().get_if<ExecutorErrorKind::Plugin>();
      ASSERT_NE(plugin, nullptr);
      EXPECT_EQ(plugin->error->debug(), c.debug);
      EXPECT_EQ(failure.display(), c.display);
    }
  }
}

TEST_F(WsTest, NineAttemptsWithDoublingWaitsThenTheLastError) {
  CountingListener refusing(1000, 0);
  auto timings = fast_timings();
  timings.connect_first_delay = std::chrono::milliseconds(10);
  timings.connect_final_delay = timings.connect_first_delay * 256;
  auto ws = rt_.block_on(connect_with_retry(address(RoomUuid{}, 1, refusing.port()), timings));
  const auto returned = Clock::now();
  ASSERT_FALSE(ws.has_value());
  ASSERT_TRUE(ws.error().is<WsRoomError::WebsocketError>()) << ws.error().debug();
  EXPECT_FALSE(ws.error().display().empty());

  // An attempt can end at its time limit before the listener's thread has
  // recorded its arrival: wait for the ninth one.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (refusing.arrivals().size() < 9 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto arrivals = refusing.arrivals();
  ASSERT_EQ(arrivals.size(), 9u);
  // Waits of 10, 20, ..., 1280 ms between the attempts: at least that long,
  // and no wait after the ninth failure (it would be 2560 ms).
  auto wait = timings.connect_first_delay;
  for (std::size_t i = 1; i < arrivals.size(); ++i, wait *= 2)
    EXPECT_GE(arrivals[i] - arrivals[i - 1], wait) << "before attempt " << i + 1;
  EXPECT_EQ(wait, timings.connect_final_delay);
  EXPECT_LT(returned - arrivals.back(), timings.connect_final_delay);
}

TEST_F(WsTest, RelayAcceptingOnTheThirdAttempt) {
  const RoomUuid room = new_room(1);
  CountingListener flaky(2, relay_->port());
  auto ws = rt_.block_on(connect_with_retry(address(room, 1, flaky.port()), fast_timings()));
  ASSERT_TRUE(ws.has_value()) << ws.error().display();
  const auto arrivals = flaky.arrivals();
  ASSERT_EQ(arrivals.size(), 3u);
  EXPECT_GE(arrivals[1] - arrivals[0], std::chrono::milliseconds(4));
  EXPECT_GE(arrivals[2] - arrivals[1], std::chrono::milliseconds(8));
  // The connection works: the one-party room's list arrives.
  RelayConnection conn(std::move(*ws), std::chrono::seconds(5));
  auto list = rt_.block_on(conn.timed_receive());
  ASSERT_TRUE(list.has_value());
  ASSERT_TRUE(std::holds_alternative<RelayFrame>(*list));
  EXPECT_EQ(std::get<RelayFrame>(*list).from, SERVER_RELAY_ID);
}

// An operation dropped while it waits between attempts makes no further
// attempt. The drop comes once the first attempt has reached the listener
// and been refused; the wait before the next attempt is long, so a wait that
// ignored the drop would show as a task that does not end and a second
// arrival.
TEST_F(WsTest, DroppedDuringTheWaitMakesNoFurtherAttempt) {
  CountingListener refusing(1000, 0);
  auto timings = fast_timings();
  timings.connect_first_delay = std::chrono::seconds(2);
  timings.connect_final_delay = timings.connect_first_delay * 256;
  auto strand = asio::make_strand(rt_.executor());
  asio::cancellation_signal drop;
  std::promise<void> ended;
  auto ended_future = ended.get_future();
  auto attempts = [](server_tools::Uri to, RelayTimings t) -> asio::awaitable<void> {
    (void)co_await connect_with_retry(std::move(to), t);
  };
  asio::co_spawn(strand, attempts(address(RoomUuid{}, 1, refusing.port()), timings),
                 asio::bind_cancellation_slot(drop.slot(), [&](const std::exception_ptr&) { ended.set_value(); }));

  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (refusing.arrivals().empty() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(refusing.arrivals().size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the refusal ends the attempt
  asio::post(strand, [&] { drop.emit(asio::cancellation_type::terminal); });
  ASSERT_EQ(ended_future.wait_for(std::chrono::milliseconds(1500)), std::future_status::ready)
      << "the dropped operation went on waiting";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(refusing.arrivals().size(), 1u);
}

// A relay that answers the upgrade with an HTTP error (here: no such room)
// fails the attempt, which is retried like any other failure.
TEST_F(WsTest, UpgradeRefusedByTheRelayIsRetried) {
  const auto timings = fast_timings();
  const auto target = address(RoomUuid{}, 1).path_and_query;
  auto ws = rt_.block_on(connect_with_retry(address(RoomUuid{}, 1), timings));
  ASSERT_FALSE(ws.has_value());
  ASSERT_TRUE(ws.error().is<WsRoomError::WebsocketError>()) << ws.error().debug();
  const auto requests = relay_->requests();
  const auto joins = std::count_if(requests.begin(), requests.end(),
                                   [&](const relay::RecordedRequest& r) { return r.target == target; });
  EXPECT_EQ(joins, 9);
}

// A relay that accepts TCP and then says nothing: each attempt ends at its
// own limit, the schedule stays nine attempts, the result is a time-out.
TEST_F(WsTest, SilentRelayEndsEveryAttemptAtItsLimit) {
  relay_->set_silent(true);
  auto timings = fast_timings();
  timings.connect_first_delay = std::chrono::milliseconds(1);
  timings.connect_final_delay = std::chrono::milliseconds(256);
  // Long enough for every attempt to reach the listener on a loaded machine;
  // the silent relay never lets one finish.
  timings.connect_attempt_timeout = std::chrono::milliseconds(1000);
  CountingListener counter(0, relay_->port());
  const auto start = Clock::now();
  auto ws = rt_.block_on(connect_with_retry(address(RoomUuid{}, 1, counter.port()), timings));
  const auto elapsed = Clock::now() - start;
  ASSERT_FALSE(ws.has_value());
  ASSERT_TRUE(ws.error().is<WsRoomError::WebsocketError>());
  const auto* inner = dynamic_cast<const WebSocketClientError*>(ws.error().get_if<WsRoomError::WebsocketError>()->error.get());
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->code(), boost::asio::error::timed_out);
  EXPECT_GE(elapsed, std::chrono::milliseconds(9 * 1000 + 255));
  // The listener's thread records an arrival on its own time: wait for the
  // ninth, then make sure no tenth follows.
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (counter.arrivals().size() < 9 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(counter.arrivals().size(), 9u);
}

TEST_F(WsTest, HandshakeCarriesTheStandardHeadersOnly) {
  const RoomUuid room = new_room(1);
  auto conn = joined(room, std::chrono::seconds(5));
  ASSERT_NE(conn, nullptr);
  const auto requests = relay_->requests();
  ASSERT_FALSE(requests.empty());
  const auto& join = requests.back();
  EXPECT_EQ(join.method, "GET");
  EXPECT_EQ(join.target, address(room, 7).path_and_query);
  std::vector<std::string> names;
  std::size_t line_start = join.head.find("\r\n") + 2;
  while (line_start < join.head.size()) {
    const auto line_end = join.head.find("\r\n", line_start);
    const std::string line = join.head.substr(line_start, line_end - line_start);
    if (line.empty()) break;
    std::string name = line.substr(0, line.find(':'));
    for (auto& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    names.push_back(name);
    if (line_end == std::string::npos) break;
    line_start = line_end + 2;
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"connection", "host", "sec-websocket-key", "sec-websocket-version",
                                             "upgrade"}));
}

TEST_F(WsTest, ReceiveSkipsTextAndStopsAtClose) {
  const RoomUuid room = new_room(1);
  auto conn = joined(room, std::chrono::seconds(5));
  ASSERT_NE(conn, nullptr);
  const std::string hex = server_tools::room_uuid_hex(room);
  const auto relayed = encode_relay_frame(1, 1, crypto::Bytes{0x41});
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Text, "ignored"));
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Ping, ""));
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Binary, as_string(relayed)));
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Binary, "\x00\x02ok"s));
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Binary, "\x02"));
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Close, ""));

  auto frame = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(frame.has_value());
  ASSERT_TRUE(std::holds_alternative<RelayFrame>(*frame));
  EXPECT_EQ(std::get<RelayFrame>(*frame).payload, crypto::Bytes{0x41});

  auto server_error = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(server_error.has_value() && std::holds_alternative<RelayError>(*server_error));
  EXPECT_EQ(std::get<RelayError>(*server_error).display(), "Received an error message from the server: ok");

  auto undecodable = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(undecodable.has_value() && std::holds_alternative<RelayError>(*undecodable));
  EXPECT_TRUE(std::get<RelayError>(*undecodable).get_if<RelayError::DeserializationError>() != nullptr);
  EXPECT_THAT(std::get<RelayError>(*undecodable).display(),
              ::testing::AllOf(::testing::StartsWith("Failed deserializing `WebSocketMessage`: "),
                               ::testing::EndsWith("Invalid discriminant")));

  for (int i = 0; i < 2; ++i) {
    auto end = rt_.block_on(conn->timed_receive());
    ASSERT_TRUE(end.has_value());
    EXPECT_TRUE(std::holds_alternative<EndOfStream>(*end));
  }
}

// Servers never mask: a masked frame is a protocol error of the read, not
// something to wait past.
TEST_F(WsTest, MaskedServerFrameIsAProtocolError) {
  const RoomUuid room = new_room(1);
  auto conn = joined(room, std::chrono::seconds(5));
  ASSERT_NE(conn, nullptr);
  const std::string hex = server_tools::room_uuid_hex(room);
  const auto frame = as_string(encode_relay_frame(1, 1, crypto::Bytes{0x41}));
  ASSERT_EQ(frame.size(), 7u);
  // The same frame unmasked, then masked (key 01 02 03 04).
  ASSERT_TRUE(relay_->send_raw_to_member(hex, 1, std::string("\x82\x07", 2) + frame));
  std::string masked = std::string("\x82\x87\x01\x02\x03\x04", 6);
  for (std::size_t i = 0; i < frame.size(); ++i) masked += static_cast<char>(frame[i] ^ (1 + i % 4));
  ASSERT_TRUE(relay_->send_raw_to_member(hex, 1, masked));

  auto plain = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(plain.has_value() && std::holds_alternative<RelayFrame>(*plain));
  auto refused = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(refused.has_value()) << "refused, not waited for";
  ASSERT_TRUE(std::holds_alternative<RelayError>(*refused));
  const auto* ws_error = std::get<RelayError>(*refused).get_if<RelayError::WebSocketError>();
  ASSERT_NE(ws_error, nullptr);
  EXPECT_NE(dynamic_cast<const WebSocketClientError*>(ws_error->error.get()), nullptr);
  // The connection is finished after it.
  auto after = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(after.has_value());
  EXPECT_TRUE(std::holds_alternative<EndOfStream>(*after));
}

// A message above the limit is refused for its size, whatever size it
// announces, and the connection still closes in time.
TEST_F(WsTest, OversizedMessagesAreRefusedForTheirSize) {
  for (const std::size_t size : {kWsMaxMessage + 1, std::size_t{5} << 20, std::size_t{64} << 20}) {
    SCOPED_TRACE(size);
    const RoomUuid room = new_room(1);
    auto conn = joined(room, std::chrono::seconds(10));
    ASSERT_NE(conn, nullptr);
    const std::string hex = server_tools::room_uuid_hex(room);
    ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Binary, std::string(size, '\x01')));
    auto refused = rt_.block_on(conn->timed_receive());
    ASSERT_TRUE(refused.has_value());
    ASSERT_TRUE(std::holds_alternative<RelayError>(*refused));
    EXPECT_EQ(std::get<RelayError>(*refused).display(), "The WebSocket message exceeded the locally configured limit");
    (void)rt_.block_on(conn->close());
  }
}

// The relay closing the connection ends later sends as a closed socket, not
// as a cancellation (which would escape as an exception and end the task).
TEST_F(WsTest, SendsAfterTheRelayClosedReportTheClosedSocket) {
  const RoomUuid room = new_room(1);
  auto conn = joined(room, std::chrono::seconds(5));
  ASSERT_NE(conn, nullptr);
  ASSERT_TRUE(relay_->send_to_member(server_tools::room_uuid_hex(room), 1, relay::MessageKind::Close, ""));
  auto end = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(end.has_value());
  EXPECT_TRUE(std::holds_alternative<EndOfStream>(*end));
  for (int i = 0; i < 2; ++i) {
    const crypto::Bytes frame = encode_relay_frame(1, 1, crypto::Bytes{1});
    std::optional<std::expected<void, WsClientError>> sent;
    try {
      sent = rt_.block_on(conn->send_message(frame));
    } catch (const std::exception& e) {
      FAIL() << "the send threw: " << e.what();
    }
    ASSERT_FALSE(sent->has_value());
    EXPECT_EQ(sent->error().kind(), WsClientError::Kind::SocketClosed);
    EXPECT_EQ(sent->error().display(), "Socket closed too early");
  }
}

// The client ends its connections with a close frame, also after a receive
// was cut off by its deadline (as the manager cuts off its reader).
TEST_F(WsTest, CloseSendsACloseFrameAlsoAfterACutOffReceive) {
  for (const bool cut_off : {false, true}) {
    SCOPED_TRACE(cut_off);
    const RoomUuid room = new_room(1);
    auto conn = joined(room, std::chrono::milliseconds(200));
    ASSERT_NE(conn, nullptr);
    if (cut_off) {
      auto timed_out = rt_.block_on(conn->timed_receive());
      ASSERT_FALSE(timed_out.has_value());
    }
    conn->set_duration(std::chrono::seconds(10));
    auto closed = rt_.block_on(conn->close());
    EXPECT_TRUE(closed.has_value()) << closed.error().display();
    const std::string hex = server_tools::room_uuid_hex(room);
    for (int i = 0; i < 500 && relay_->closed_members(hex).empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto ends = relay_->closed_members(hex);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].code, 1000);
  }
}

// Frames that nobody takes do not extend the wait: with the relay replaying
// a stored frame every 50 ms for 30 s, a receive loop with a 600 ms limit and
// no progress ends with the time-out long before the replays do.
TEST_F(WsTest, ReplayedFramesDoNotExtendTheReceiveLimit) {
  const RoomUuid room = new_room(2);
  const auto limit = std::chrono::milliseconds(600);
  auto conns = members(room, 2, limit);
  ASSERT_EQ(conns.size(), 2u);
  const std::string hex = server_tools::room_uuid_hex(room);
  relay_->set_forwarding(relay::Forwarding::Store);
  ASSERT_TRUE(rt_.block_on(conns[1]->send_message(encode_relay_frame(2, 1, crypto::Bytes{9}))).has_value());
  bool stored = false;
  for (int i = 0; i < 500 && !stored; ++i) {
    stored = relay_->trickle_stored(hex, 1, std::chrono::milliseconds(50), 600);
    if (!stored) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(stored);
  auto loop = [](RelayConnection& c) -> asio::awaitable<std::pair<std::size_t, bool>> {
    std::size_t frames = 0;
    for (;;) {
      auto item = co_await c.timed_receive();
      if (!item) co_return std::pair<std::size_t, bool>(frames, true);
      if (!std::holds_alternative<RelayFrame>(*item)) co_return std::pair<std::size_t, bool>(frames, false);
      ++frames;
    }
  };
  conns[0]->set_duration(limit);
  const auto start = Clock::now();
  const auto [frames, timed_out] = rt_.block_on(loop(*conns[0]));
  const auto waited = Clock::now() - start;
  EXPECT_TRUE(timed_out);
  EXPECT_GE(frames, 1u);
  EXPECT_GE(waited, limit);
  // The replays would go on for 30 s.
  EXPECT_LT(waited, std::chrono::seconds(15));
  // Progress restarts the limit.
  conns[0]->account()->mark_progress();
  EXPECT_GT(conns[0]->account()->last_progress(), start);
}

TEST_F(WsTest, MessagesAboveFourMebibytesAreRefusedOnReceipt) {
  const RoomUuid room = new_room(1);
  auto conn = joined(room, std::chrono::seconds(10));
  ASSERT_NE(conn, nullptr);
  const std::string hex = server_tools::room_uuid_hex(room);
  const crypto::Bytes at_limit(kWsMaxMessage - 9, 0x5a);
  ASSERT_EQ(relay_frame_size(at_limit.size()), kWsMaxMessage);
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Binary, as_string(encode_relay_frame(1, 1, at_limit))));
  crypto::Bytes over = at_limit;
  over.push_back(0x5a);
  ASSERT_TRUE(relay_->send_to_member(hex, 1, relay::MessageKind::Binary, as_string(encode_relay_frame(1, 1, over))));

  auto ok = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(ok.has_value() && std::holds_alternative<RelayFrame>(*ok));
  EXPECT_EQ(std::get<RelayFrame>(*ok).payload.size(), at_limit.size());
  auto refused = rt_.block_on(conn->timed_receive());
  ASSERT_TRUE(refused.has_value());
  ASSERT_TRUE(std::holds_alternative<RelayError>(*refused));
  EXPECT_NE(std::get<RelayError>(*refused).get_if<RelayError::WebSocketError>(), nullptr);
}

// A completed send is progress: sends completing while a receive waits never
// end it early and move its deadline to one limit after the last of them;
// once the sends stop, the receive ends at that deadline.
TEST_F(WsTest, SendsMoveAPendingReceiveDeadlineLater) {
  const RoomUuid room = new_room(2);
  const auto limit = std::chrono::milliseconds(400);
  auto conns = members(room, 2, limit);
  ASSERT_EQ(conns.size(), 2u);
  RelayConnection& a = *conns[0];

  // Member 1 waits for a frame that never comes while it sends three frames
  // to member 2 (who never reads), 100 ms apart; the last send starts after
  // 300 ms at the earliest.
  struct Timeline {
    Clock::time_point start;
    Clock::time_point last_send_started;
    Clock::time_point last_send_ended;
    Clock::time_point receive_ended;
    bool timed_out = false;
    int sends_ok = 0;
  };
  auto run = [](RelayConnection& c, Timeline& tl) -> asio::awaitable<void> {
    auto ex = co_await asio::this_coro::executor;
    auto sender = [&c, &tl, ex]() -> asio::awaitable<int> {
      for (int i = 0; i < 3; ++i) {
        asio::steady_timer t(ex);
        t.expires_after(std::chrono::milliseconds(100));
        co_await t.async_wait(asio::use_awaitable);
        const crypto::Bytes frame = encode_relay_frame(1, 2, crypto::Bytes{1});
        tl.last_send_started = Clock::now();
        auto sent = co_await c.send_message(frame);
        tl.last_send_ended = Clock::now();
        tl.sends_ok += sent ? 1 : 0;
      }
      co_return 0;
    };
    auto receiver = [&c, &tl]() -> asio::awaitable<int> {
      // The receive limit counts from the last progress: restart it here.
      c.set_duration(c.duration());
      tl.start = Clock::now();
      auto item = co_await c.timed_receive();
      tl.receive_ended = Clock::now();
      tl.timed_out = !item.has_value();
      co_return 0;
    };
    (void)co_await async::join_both(receiver(), sender());
  };
  Timeline tl;
  rt_.block_on(run(a, tl));
  EXPECT_EQ(tl.sends_ok, 3);
  EXPECT_TRUE(tl.timed_out) << "nothing was sent to member 1";
  EXPECT_GE(tl.receive_ended - tl.start, limit);
  // Not the limit counted from the start (400 ms): from the last send.
  EXPECT_GE(tl.receive_ended - tl.last_send_started, limit);
  EXPECT_GE(tl.receive_ended - tl.start, limit + std::chrono::milliseconds(300));
  // The sends stopped: the receive ended at the limit after the last one.
  EXPECT_LT(tl.receive_ended - tl.last_send_ended, limit + std::chrono::seconds(2));
}

TEST_F(WsTest, SchemeOtherThanWsOrWssFailsTheAttempt) {
  server_tools::Uri uri{"http", "127.0.0.1:" + std::to_string(relay_->port()), "/join_room/x"};
  auto ws = rt_.block_on(connect_websocket(uri));
  ASSERT_FALSE(ws.has_value());
}

}  // namespace
}  // namespace velto::executor
