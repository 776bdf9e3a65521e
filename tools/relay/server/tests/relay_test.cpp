// The relay server against plain Beast clients and the SDK's own relay
// code (room creation, join address, frame codec), all on loopback.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wnull-dereference"  // Asio false positives
#endif

#include "tools/relay/server/relay_server.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "executor/ws_frames.hpp"
#include "server-tools/create_room.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/tests/support/test_pki.hpp"
#include "server-tools/tls.hpp"

namespace velto::relay {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using namespace std::chrono_literals;

std::string bytes_to_string(const crypto::Bytes& b) { return std::string(b.begin(), b.end()); }
crypto::Bytes string_to_bytes(const std::string& s) { return crypto::Bytes(s.begin(), s.end()); }

crypto::ByteArray<32> key_of(std::uint8_t b) {
  crypto::ByteArray<32> k;
  k.fill(b);
  return k;
}

// A websocket client of the relay: Beast over TLS, trusting what the SDK
// trusts (the compiled-in roots and, in this test binary, the test CA).
class WsClient {
 public:
  WsClient() : ctx_(ssl::context::tls_client), ws_(ioc_, ctx_) {
    server_tools::configure_tls_client(ctx_.native_handle());
  }

  // Connects and asks to upgrade; the reply's status (101 when joined).
  unsigned join(std::uint16_t port, const std::string& target) {
    beast::get_lowest_layer(ws_).connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    EXPECT_TRUE(server_tools::set_tls_peer_host(ws_.next_layer().native_handle(), "127.0.0.1"));
    ws_.next_layer().handshake(ssl::stream_base::client);
    websocket::response_type res;
    beast::error_code ec;
    ws_.handshake(res, "127.0.0.1:" + std::to_string(port), target, ec);
    ws_.read_message_max(4 * 1024 * 1024);
    return res.result_int();
  }

  void send(const std::string& bytes, bool binary = true) {
    ws_.binary(binary);
    ws_.write(asio::buffer(bytes));
  }

  struct Message {
    bool binary;
    std::string data;
  };

  // The next message, or nothing when the connection failed or nothing came
  // within the limit (last_error tells which).
  std::optional<Message> read(std::chrono::milliseconds limit = 10s) {
    beast::flat_buffer buffer;
    bool done = false;
    last_error_ = {};
    ws_.async_read(buffer, [&](beast::error_code ec, std::size_t) {
      done = true;
      last_error_ = ec;
    });
    ioc_.restart();
    ioc_.run_for(limit);
    if (!done) {
      beast::get_lowest_layer(ws_).cancel();
      ioc_.restart();
      ioc_.run();
      last_error_ = asio::error::timed_out;
      return std::nullopt;
    }
    if (last_error_) return std::nullopt;
    return Message{ws_.got_binary(), beast::buffers_to_string(buffer.data())};
  }

  // The next message as a relay frame.
  executor::RelayFrame read_frame() {
    auto m = read();
    EXPECT_TRUE(m.has_value()) << last_error_.message();
    if (!m) return {};
    EXPECT_TRUE(m->binary);
    auto frame = executor::read_relay_frame(string_to_bytes(m->data));
    EXPECT_TRUE(frame.has_value()) << frame.error().display();
    return frame.value_or(executor::RelayFrame{});
  }

  // The next message as the relay's error text.
  std::string read_error() {
    auto m = read();
    EXPECT_TRUE(m.has_value()) << last_error_.message();
    if (!m) return {};
    auto frame = executor::read_relay_frame(string_to_bytes(m->data));
    EXPECT_FALSE(frame.has_value());
    if (frame) return {};
    const auto* server = frame.error().get_if<executor::RelayError::ServerError>();
    EXPECT_NE(server, nullptr) << frame.error().display();
    return server ? server->text : std::string();
  }

  void close() {
    beast::error_code ec;
    ws_.close(websocket::close_code::normal, ec);
  }

  const beast::error_code& last_error() const { return last_error_; }

 private:
  asio::io_context ioc_;
  ssl::context ctx_;
  websocket::stream<beast::ssl_stream<tcp::socket>> ws_;
  beast::error_code last_error_;
};

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& pki = server_tools::testing::test_pki();
    relay_ = std::make_unique<RelayServer>(RelayConfig{"127.0.0.1", 0, pki.trusted.cert_file, pki.trusted.key_file,
                                                       std::string("relay-key")});
    auto started = relay_->start();
    ASSERT_TRUE(started.has_value()) << started.error();
  }

  server_tools::HostAuthority host() const {
    return server_tools::HostAuthority::with_tls("127.0.0.1:" + std::to_string(relay_->port()));
  }

  // A room through the SDK's own room creation.
  server_tools::RoomUuid new_room(std::uint16_t n) {
    asio::io_context ioc;
    auto f = asio::co_spawn(ioc, server_tools::create_room(host(), n, "relay-key"), asio::use_future);
    ioc.run();
    auto id = f.get();
    EXPECT_TRUE(id.has_value()) << id.error().display();
    return id.value_or(server_tools::RoomUuid{});
  }

  // The join address's path and query, as the SDK builds it.
  static std::string join_target(const server_tools::RoomUuid& room, const crypto::ByteArray<32>& key,
                                 std::uint16_t n = 3) {
    return server_tools::join_room_uri(server_tools::HostAuthority::with_tls("relay"), room, key,
                                       {"ecdsa_keygen", "ec", 2, n})
        .path_and_query;
  }

  // n clients in one room, each having read the party list; returns their
  // relay ids in order.
  std::vector<std::unique_ptr<WsClient>> fill_room(const server_tools::RoomUuid& room, std::size_t n,
                                                   std::vector<executor::RelayId>& ids) {
    std::vector<std::unique_ptr<WsClient>> clients;
    for (std::size_t i = 0; i < n; ++i) {
      clients.push_back(std::make_unique<WsClient>());
      EXPECT_EQ(clients.back()->join(relay_->port(), join_target(room, key_of(static_cast<std::uint8_t>(0x10 + i)),
                                                                   static_cast<std::uint16_t>(n))),
                101u);
    }
    ids.clear();
    for (std::size_t i = 0; i < n; ++i) {
      const auto list = clients[i]->read_frame();
      EXPECT_EQ(list.from, executor::SERVER_RELAY_ID);
      ids.push_back(list.to);
    }
    return clients;
  }

  std::unique_ptr<RelayServer> relay_;
};

class RelayRoomTest : public RelayTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RelayRoomTest, PartiesReceiveThePartyListAndExchangeFramesByRecipient) {
  const std::size_t n = GetParam();
  const auto room = new_room(static_cast<std::uint16_t>(n));
  std::vector<std::unique_ptr<WsClient>> clients;
  for (std::size_t i = 0; i < n; ++i) {
    clients.push_back(std::make_unique<WsClient>());
    ASSERT_EQ(clients.back()->join(relay_->port(), join_target(room, key_of(static_cast<std::uint8_t>(0x10 + i)),
                                                                 static_cast<std::uint16_t>(n))),
              101u);
  }
  // Every member's first message: the party list, from the relay, to itself.
  executor::RoomMap expected_room;
  for (std::size_t i = 0; i < n; ++i)
    expected_room[static_cast<executor::RelayId>(i + 1)] = key_of(static_cast<std::uint8_t>(0x10 + i));
  std::vector<executor::RelayId> ids;
  for (std::size_t i = 0; i < n; ++i) {
    const auto list = clients[i]->read_frame();
    EXPECT_EQ(list.from, executor::SERVER_RELAY_ID);
    EXPECT_EQ(list.to, i + 1) << "ids follow the order of joining";
    auto parties = executor::decode_room_parties_payload(list.payload);
    ASSERT_TRUE(parties.has_value()) << parties.error().display();
    EXPECT_EQ(*parties, expected_room);
    ids.push_back(list.to);
  }

  // Everybody sends one frame to everybody else; the payload names sender
  // and recipient so misrouting shows.
  std::map<std::pair<executor::RelayId, executor::RelayId>, crypto::Bytes> sent;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      if (i == j) continue;
      crypto::Bytes payload(i == 0 && j == 1 ? 300000 : 40, static_cast<std::uint8_t>(16 * i + j));
      const auto frame = executor::encode_relay_frame(ids[i], ids[j], payload);
      clients[i]->send(bytes_to_string(frame));
      sent[{ids[i], ids[j]}] = payload;
    }
  for (std::size_t j = 0; j < n; ++j) {
    std::map<executor::RelayId, crypto::Bytes> received;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const auto f = clients[j]->read_frame();
      EXPECT_EQ(f.to, ids[j]);
      received[f.from] = f.payload;
    }
    ASSERT_EQ(received.size(), n - 1);
    for (const auto& [from, payload] : received) EXPECT_EQ(payload, (sent[{from, ids[j]}]));
  }
  for (auto& c : clients) c->close();
}

INSTANTIATE_TEST_SUITE_P(Sizes, RelayRoomTest, ::testing::Values(2, 3, 8));

TEST_F(RelayTest, FramesThatCannotBeRelayedGetErrorFrames) {
  const auto room = new_room(2);
  // Before the room is complete.
  WsClient first;
  ASSERT_EQ(first.join(relay_->port(), join_target(room, key_of(1), 2)), 101u);
  first.send(bytes_to_string(executor::encode_relay_frame(1, 2, crypto::Bytes{1})));
  EXPECT_EQ(first.read_error(), "The room is not complete yet");

  WsClient second;
  ASSERT_EQ(second.join(relay_->port(), join_target(room, key_of(2), 2)), 101u);
  EXPECT_EQ(first.read_frame().from, executor::SERVER_RELAY_ID);
  EXPECT_EQ(second.read_frame().from, executor::SERVER_RELAY_ID);

  struct Case {
    std::string message;
    bool binary;
    std::string error;
  };
  const std::vector<Case> cases = {
      {bytes_to_string(executor::encode_relay_frame(2, 2, crypto::Bytes{1})), true,
       "Frame sender 2 is not this connection's relay id 1"},
      {bytes_to_string(executor::encode_relay_frame(1, 9, crypto::Bytes{1})), true, "Unknown recipient 9"},
      {bytes_to_string(executor::encode_relay_frame(1, 1, crypto::Bytes{1})), true, "Unknown recipient 1"},
      {bytes_to_string(executor::encode_ws_message(executor::ServerErrorFrame{"hi"})), true,
       "Clients may only send relay frames"},
      {std::string("\x01\x01\x00", 3), true, "Malformed frame: too short"},
      {std::string("\x01\x01\x00\x02\x00\x05\x01", 7), true, "Malformed frame: payload length"},
      {std::string("\x07", 1), true, "Malformed frame: unknown kind"},
      {"text", false, "Only binary messages are relayed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    first.send(c.message, c.binary);
    EXPECT_EQ(first.read_error(), c.error);
  }
  // The connection still relays afterwards, and the frame arrives unchanged
  // (trailing bytes included).
  const std::string frame = std::string("\x01\x01\x00\x02\x00\x01\x41\x42", 8);
  first.send(frame);
  auto m = second.read();
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->data, frame);
}

TEST_F(RelayTest, FramesForAMemberThatLeftAreDropped) {
  const auto room = new_room(3);
  std::vector<executor::RelayId> ids;
  auto clients = fill_room(room, 3, ids);
  clients[1]->close();
  clients[1].reset();
  // Wait until the relay has seen the departure.
  for (int i = 0; i < 200 && relay_->member_count(server_tools::room_uuid_hex(room)) != 2; ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(relay_->member_count(server_tools::room_uuid_hex(room)), 2u);
  clients[0]->send(bytes_to_string(executor::encode_relay_frame(ids[0], ids[1], crypto::Bytes{1})));
  clients[0]->send(bytes_to_string(executor::encode_relay_frame(ids[0], ids[2], crypto::Bytes{2})));
  const auto f = clients[2]->read_frame();
  EXPECT_EQ(f.payload, crypto::Bytes{2});
  // Nothing came back for the dropped frame: the next message is the answer
  // to this one.
  clients[0]->send(bytes_to_string(executor::encode_relay_frame(ids[0], 77, crypto::Bytes{3})));
  EXPECT_EQ(clients[0]->read_error(), "Unknown recipient 77");
}

TEST_F(RelayTest, BadJoinRequestsGetHttpErrors) {
  const auto room = new_room(2);
  const std::string hex = server_tools::room_uuid_hex(room);
  const std::string key = std::string(64, 'a');
  const std::string query = "?op=ecdsa_sign&s=ec&t=1&n=2&v=v1.0.3";
  struct Case {
    std::string target;
    unsigned status;
  };
  const std::vector<Case> cases = {
      {"/join_room/" + std::string(32, '0') + "/" + key + query, 404},
      {"/join_room/" + hex.substr(0, 30) + "/" + key + query, 400},
      {"/join_room/" + hex + "/" + key.substr(0, 62) + "zz" + query, 400},
      {"/join_room/" + hex + query, 400},
      {"/join_room/" + hex + "/" + key + "?op=ecdsa_sign&s=ec&t=1&n=2", 400},
      {"/join_room/" + hex + "/" + key + "?op=ecdsa_sign&s=ec&t=x&n=2&v=v1.0.3", 400},
      {"/join_room/" + hex + "/" + key, 400},
      {"/elsewhere", 404},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    WsClient client;
    EXPECT_EQ(client.join(relay_->port(), c.target), c.status);
  }
  // One key joins once; a full room takes nobody.
  WsClient a, b, c, d;
  EXPECT_EQ(a.join(relay_->port(), "/join_room/" + hex + "/" + key + query), 101u);
  EXPECT_EQ(b.join(relay_->port(), "/join_room/" + hex + "/" + key + query), 409u);
  // The query's n and t are the parties' business, not the relay's.
  EXPECT_EQ(c.join(relay_->port(), "/join_room/" + hex + "/" + std::string(64, 'B') +
                                       "?op=ecdsa_sign&s=ec&t=9&n=9&v=v1.0.3"),
            101u);
  EXPECT_EQ(d.join(relay_->port(), "/join_room/" + hex + "/" + std::string(64, 'c') + query), 409u);
}

TEST_F(RelayTest, DuplicateKeysWhenAllowed) {
  relay_->set_allow_duplicate_keys(true);
  const auto room = new_room(2);
  WsClient a, b;
  ASSERT_EQ(a.join(relay_->port(), join_target(room, key_of(5), 2)), 101u);
  ASSERT_EQ(b.join(relay_->port(), join_target(room, key_of(5), 2)), 101u);
  auto parties = executor::decode_room_parties_payload(a.read_frame().payload);
  ASSERT_TRUE(parties.has_value());
  EXPECT_EQ(*parties, (executor::RoomMap{{1, key_of(5)}, {2, key_of(5)}}));
}

// Plain HTTPS requests to the create-room endpoint.
unsigned https_status(std::uint16_t port, http::verb method, const std::string& target,
                      std::optional<std::string> auth, std::string* body = nullptr) {
  asio::io_context ioc;
  ssl::context ctx(ssl::context::tls_client);
  server_tools::configure_tls_client(ctx.native_handle());
  beast::ssl_stream<tcp::socket> s(ioc, ctx);
  s.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
  server_tools::set_tls_peer_host(s.native_handle(), "127.0.0.1");
  s.handshake(ssl::stream_base::client);
  http::request<http::empty_body> req(method, target, 11);
  req.set(http::field::host, "127.0.0.1");
  if (auth) req.set(http::field::authorization, *auth);
  http::write(s, req);
  beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(s, buffer, res);
  if (body) *body = res.body();
  return res.result_int();
}

TEST_F(RelayTest, CreateRoomEndpoint) {
  struct Case {
    http::verb method;
    std::string target;
    std::optional<std::string> auth;
    unsigned status;
  };
  const std::vector<Case> cases = {
      {http::verb::get, "/create_room/3", "Bearer relay-key", 200},
      {http::verb::get, "/create_room/1", "Bearer relay-key", 200},
      {http::verb::get, "/create_room/8192", "Bearer relay-key", 200},
      {http::verb::get, "/create_room/3", std::nullopt, 401},
      {http::verb::get, "/create_room/3", "Bearer other", 401},
      {http::verb::get, "/create_room/3", "relay-key", 401},
      {http::verb::get, "/create_room/0", "Bearer relay-key", 400},
      {http::verb::get, "/create_room/8193", "Bearer relay-key", 400},
      {http::verb::get, "/create_room/x", "Bearer relay-key", 400},
      {http::verb::get, "/create_room/3?x=1", "Bearer relay-key", 400},
      {http::verb::post, "/create_room/3", "Bearer relay-key", 405},
      {http::verb::get, "/other", "Bearer relay-key", 404},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    std::string body;
    EXPECT_EQ(https_status(relay_->port(), c.method, c.target, c.auth, &body), c.status);
    if (c.status == 200) {
      EXPECT_EQ(body.size(), 32u);
      EXPECT_EQ(body.find_first_not_of("0123456789abcdef"), std::string::npos) << body;
    }
  }
}

TEST_F(RelayTest, HooksReachTheMember) {
  const auto room = new_room(1);
  WsClient client;
  ASSERT_EQ(client.join(relay_->port(), join_target(room, key_of(9), 1)), 101u);
  EXPECT_EQ(client.read_frame().to, 1);
  const std::string hex = server_tools::room_uuid_hex(room);
  EXPECT_FALSE(relay_->send_to_member(hex, 2, MessageKind::Text, "x"));
  ASSERT_TRUE(relay_->send_to_member(hex, 1, MessageKind::Text, "hello"));
  auto text = client.read();
  ASSERT_TRUE(text.has_value());
  EXPECT_FALSE(text->binary);
  EXPECT_EQ(text->data, "hello");
  // Hand-made frames on the raw stream: an unmasked one is read as usual...
  ASSERT_TRUE(relay_->send_raw_to_member(hex, 1, std::string("\x82\x01" "A", 3)));
  auto raw = client.read();
  ASSERT_TRUE(raw.has_value()) << client.last_error().message();
  EXPECT_EQ(raw->data, "A");
  // ...the same frame masked is refused: servers must never mask.
  const std::string masked = std::string("\x82\x81\x01\x02\x03\x04", 6) + static_cast<char>('A' ^ 0x01);
  ASSERT_TRUE(relay_->send_raw_to_member(hex, 1, masked));
  EXPECT_FALSE(client.read().has_value());
  EXPECT_NE(client.last_error(), asio::error::timed_out) << "refused, not waited for";
}

TEST_F(RelayTest, SilentRelayAnswersNothing) {
  relay_->set_silent(true);
  server_tools::CreateRoomOptions o;
  o.backoff.max_retries = 0;
  o.attempt_timeout = server_tools::Millis(300);
  asio::io_context ioc;
  auto f = asio::co_spawn(ioc, server_tools::create_room(host(), 2, "relay-key", o), asio::use_future);
  ioc.run();
  auto id = f.get();
  ASSERT_FALSE(id.has_value());
  EXPECT_EQ(id.error().get_if<server_tools::ServerToolsError::Connection>()->error.kind(),
            server_tools::HttpError::Kind::Timeout);
  EXPECT_TRUE(relay_->requests().empty());
}

TEST(RelayProgram, ServesUntilTerminated) {
  const auto& pki = server_tools::testing::test_pki();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl(VELTO_RELAY_BINARY, VELTO_RELAY_BINARY, "--cert", pki.trusted.cert_file.c_str(), "--key",
          pki.trusted.key_file.c_str(), "--port", "0", "--api-key", "k", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  ASSERT_TRUE(line.starts_with("listening on 127.0.0.1:")) << line;
  const std::string port = line.substr(std::string("listening on 127.0.0.1:").size());

  asio::io_context ioc;
  auto f = asio::co_spawn(ioc, server_tools::create_room(server_tools::HostAuthority::with_tls("127.0.0.1:" + port), 4, "k"),
                          asio::use_future);
  ioc.run();
  const auto id = f.get();
  EXPECT_TRUE(id.has_value()) << id.error().display();

  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace velto::relay
