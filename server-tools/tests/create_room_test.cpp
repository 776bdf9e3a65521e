// Room creation against the local relay (loopback only).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wnull-dereference"  // Asio false positives
#endif

#include "server-tools/create_room.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/asio/write.hpp>

#include "server-tools/tests/support/test_pki.hpp"
#include "server-tools/tls.hpp"
#include "tools/relay/server/relay_server.hpp"

namespace velto::server_tools {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using relay::RelayServer;
using relay::ScriptedReply;

constexpr const char* kProxyVars[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                      "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

class CreateRoomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The environment's proxies are honoured; start every case without any.
    for (const char* v : kProxyVars) {
      if (const char* value = std::getenv(v)) saved_env_.emplace_back(v, value);
      unsetenv(v);
    }
    testing::test_pki();
  }
  void TearDown() override {
    for (const char* v : kProxyVars) unsetenv(v);
    for (const auto& [k, v] : saved_env_) setenv(k.c_str(), v.c_str(), 1);
  }

  RelayServer& start_relay(std::optional<std::string> api_key = std::nullopt, bool trusted = true) {
    const auto& pki = testing::test_pki();
    const auto& cert = trusted ? pki.trusted : pki.untrusted;
    relay_ = std::make_unique<RelayServer>(relay::RelayConfig{"127.0.0.1", 0, cert.cert_file, cert.key_file, api_key});
    auto started = relay_->start();
    EXPECT_TRUE(started.has_value()) << started.error();
    return *relay_;
  }

  HostAuthority host() const { return HostAuthority::with_tls("127.0.0.1:" + std::to_string(relay_->port())); }
  std::string url(std::uint16_t n) const { return "https://127.0.0.1:" + std::to_string(relay_->port()) + "/create_room/" + std::to_string(n); }

  static std::expected<RoomUuid, ServerToolsError> create(HostAuthority h, std::uint16_t n, std::string key,
                                                          CreateRoomOptions options = {}) {
    asio::io_context ioc;
    auto result = asio::co_spawn(ioc, create_room(std::move(h), n, std::move(key), std::move(options)), asio::use_future);
    ioc.run();
    return result.get();
  }

  // A short schedule with the production shape, so retry cases take
  // milliseconds; records every wait.
  CreateRoomOptions fast(unsigned retries = 10) {
    CreateRoomOptions o;
    o.backoff = Backoff{Millis(1), 2.0, Millis(4), retries, true};
    o.attempt_timeout = Millis(3000);
    o.on_wait = [this](std::chrono::nanoseconds d) { waits_.push_back(d); };
    return o;
  }

  std::unique_ptr<RelayServer> relay_;
  std::vector<std::chrono::nanoseconds> waits_;
  std::vector<std::pair<std::string, std::string>> saved_env_;
};

TEST_F(CreateRoomTest, RequestAndReply) {
  RelayServer& r = start_relay("secret-key");
  const auto id = create(host(), 3, "secret-key");
  ASSERT_TRUE(id.has_value()) << id.error().display();

  const auto reqs = r.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].method, "GET");
  EXPECT_EQ(reqs[0].target, "/create_room/3");
  EXPECT_NE(reqs[0].head.find("\r\nAuthorization: Bearer secret-key\r\n"), std::string::npos) << reqs[0].head;
  // HTTP/2 is offered by ALPN next to HTTP/1.1 (this relay speaks 1.1).
  EXPECT_EQ(reqs[0].alpn, "h2,http/1.1");
  // The id is the relay's: joining it is possible (the room exists).
  EXPECT_EQ(room_uuid_hex(*id).size(), 32u);
}

TEST_F(CreateRoomTest, EmptyKeyStillSendsTheHeader) {
  RelayServer& r = start_relay(std::string());
  const auto id = create(host(), 2, "");
  ASSERT_TRUE(id.has_value()) << id.error().display();
  const auto reqs = r.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_NE(reqs[0].head.find("\r\nAuthorization: Bearer \r\n"), std::string::npos) << reqs[0].head;
}

TEST_F(CreateRoomTest, PathCarriesN) {
  RelayServer& r = start_relay();
  for (const std::uint16_t n : {1, 8192}) {
    ASSERT_TRUE(create(host(), n, "k").has_value());
  }
  const auto reqs = r.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].target, "/create_room/1");
  EXPECT_EQ(reqs[1].target, "/create_room/8192");
}

TEST_F(CreateRoomTest, WrongKeyIsNotRetried) {
  RelayServer& r = start_relay("right");
  const auto id = create(host(), 3, "wrong", fast());
  ASSERT_FALSE(id.has_value());
  EXPECT_EQ(id.error().display(),
            "Failed connecting to server: `the server answered " + url(3) + " with status 401`");
  EXPECT_EQ(r.requests().size(), 1u);
  EXPECT_TRUE(waits_.empty());
}

TEST_F(CreateRoomTest, ServerErrorsOtherThan501AreRetried) {
  RelayServer& r = start_relay();
  r.script_create_room({{503, "text/plain", "busy"}, {503, "text/plain", "busy"}});
  CreateRoomOptions production;  // the real schedule: two waits of about 0.1 and 0.2 s
  production.on_wait = [this](std::chrono::nanoseconds d) { waits_.push_back(d); };
  const auto id = create(host(), 3, "k", production);
  ASSERT_TRUE(id.has_value()) << id.error().display();
  EXPECT_EQ(r.requests().size(), 3u);
  ASSERT_EQ(waits_.size(), 2u);
  EXPECT_GE(waits_[0], 100ms);
  EXPECT_LT(waits_[0], 200ms);
  EXPECT_GE(waits_[1], 200ms);
  EXPECT_LT(waits_[1], 400ms);
}

TEST_F(CreateRoomTest, ClientErrorsAnd501EndAtOnce) {
  for (const unsigned status : {400u, 404u, 429u, 501u}) {
    SCOPED_TRACE(status);
    RelayServer& r = start_relay();
    r.script_create_room({{status, "text/plain", "no"}});
    waits_.clear();
    const auto id = create(host(), 3, "k", fast());
    ASSERT_FALSE(id.has_value());
    const auto* conn = id.error().get_if<ServerToolsError::Connection>();
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(conn->error.status(), status);
    EXPECT_EQ(r.requests().size(), 1u);
    EXPECT_TRUE(waits_.empty());
  }
}

TEST_F(CreateRoomTest, GivesUpAfterTenRetries) {
  RelayServer& r = start_relay();
  r.script_create_room(std::vector<ScriptedReply>(11, ScriptedReply{500, "text/plain", "down"}));
  const auto id = create(host(), 3, "k", fast());
  ASSERT_FALSE(id.has_value());
  EXPECT_EQ(id.error().display(),
            "Failed connecting to server: `the server answered " + url(3) + " with status 500`");
  EXPECT_EQ(r.requests().size(), 11u);
  // Each wait is its base delay times (1 + u), u in [0, 1).
  const std::vector<Millis> bases = backoff_delays(fast().backoff);
  ASSERT_EQ(waits_.size(), bases.size());
  for (std::size_t i = 0; i < bases.size(); ++i) {
    EXPECT_GE(waits_[i], bases[i]);
    EXPECT_LT(waits_[i], 2 * bases[i]);
  }
}

TEST(CreateRoomBackoff, ProductionSchedule) {
  const std::vector<Millis> expected = {Millis(100),  Millis(200),  Millis(400),  Millis(800),  Millis(1600),
                                        Millis(3200), Millis(5000), Millis(5000), Millis(5000), Millis(5000)};
  const auto delays = backoff_delays(kCreateRoomBackoff);
  EXPECT_EQ(delays, expected);
  EXPECT_EQ(std::accumulate(delays.begin(), delays.end(), Millis(0)), Millis(26300));
  EXPECT_EQ(kCreateRoomAttemptTimeout, Millis(10000));
  // Jitter multiplies by (1 + u).
  EXPECT_EQ(jittered(Millis(100), 0.0), 100ms);
  EXPECT_EQ(jittered(Millis(100), 0.5), 150ms);
  // The delay is cut at the maximum and the cut value is the next base.
  EXPECT_EQ(backoff_delays(Backoff{Millis(3), 3.0, Millis(10), 4, false}),
            (std::vector<Millis>{Millis(3), Millis(9), Millis(10), Millis(10)}));
}

TEST_F(CreateRoomTest, StatusAbove599IsAnAnswer) {
  RelayServer& r = start_relay();
  r.script_create_room({{600, "text/plain", "00112233445566778899aabbccddeeff"}});
  const auto id = create(host(), 3, "k", fast());
  ASSERT_TRUE(id.has_value()) << id.error().display();
  EXPECT_EQ(room_uuid_hex(*id), "00112233445566778899aabbccddeeff");
}

TEST_F(CreateRoomTest, ReplyBodyAsText) {
  const std::string digits = "00112233445566778899AABBCCDDEEFF";
  auto utf16 = [&](bool big_endian, bool bom) {
    std::string out;
    if (bom) out += big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : digits) {
      if (big_endian) out += '\0';
      out += c;
      if (!big_endian) out += '\0';
    }
    return out;
  };
  struct Case {
    const char* name;
    unsigned status;
    std::optional<std::string> content_type;
    std::string body;
    std::string result;  // the room id, or the error text
  };
  const std::string ok = "00112233445566778899aabbccddeeff";
  const std::string uuid_error = "Failed parsing UUID response: `";
  const std::vector<Case> cases = {
      {"upper case, reported lower case", 200, "text/plain", digits, ok},
      {"UTF-8 BOM removed", 200, "text/plain", "\xEF\xBB\xBF" + digits, ok},
      {"UTF-16LE with BOM", 200, "text/plain", utf16(false, true), ok},
      {"UTF-16BE by charset", 200, "text/plain; charset=utf-16be", utf16(true, false), ok},
      {"UTF-16LE bytes read as UTF-8", 200, std::nullopt, utf16(false, false),
       uuid_error + "Invalid string length, expected 32 characters, found: 64`"},
      {"line end", 200, "text/plain", digits + "\n", uuid_error + "Odd number of digits`"},
      {"quoted", 200, "application/json", "\"" + digits + "\"",
       uuid_error + "Invalid string length, expected 32 characters, found: 34`"},
      {"empty 200", 200, "text/plain", "", uuid_error + "Invalid string length, expected 32 characters, found: 0`"},
      {"empty 204", 204, std::nullopt, "", uuid_error + "Invalid string length, expected 32 characters, found: 0`"},
      {"Latin-1 byte by charset", 200, "text/plain; charset=iso-8859-1", digits.substr(0, 30) + "\xE9",
       uuid_error + "Invalid character '\xC3\x83' at position 30`"},
      {"malformed UTF-8 becomes U+FFFD", 200, "text/plain", digits.substr(0, 30) + "\xE9",
       uuid_error + "Odd number of digits`"},
  };
  RelayServer& r = start_relay();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    r.script_create_room({{c.status, c.content_type, c.body}});
    const auto id = create(host(), 3, "k", fast(0));
    if (id) {
      EXPECT_EQ(room_uuid_hex(*id), c.result);
    } else {
      EXPECT_EQ(id.error().display(), c.result);
    }
  }
}

TEST_F(CreateRoomTest, AttemptTimeOutIsRetried) {
  RelayServer& r = start_relay();
  ScriptedReply hang;
  hang.hang = true;
  r.script_create_room({hang, hang});
  CreateRoomOptions o = fast(1);
  // Long enough for a TLS handshake on a loaded machine, so that both
  // attempts reach the relay before their limit.
  o.attempt_timeout = Millis(2500);
  const auto id = create(host(), 3, "k", o);
  ASSERT_FALSE(id.has_value());
  const auto* conn = id.error().get_if<ServerToolsError::Connection>();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->error.kind(), HttpError::Kind::Timeout);
  EXPECT_EQ(r.requests().size(), 2u);
  EXPECT_EQ(waits_.size(), 1u);
}

TEST_F(CreateRoomTest, RefusedConnectionIsRetried) {
  std::uint16_t port;
  {
    asio::io_context ioc;
    asio::ip::tcp::acceptor a(ioc, {asio::ip::make_address("127.0.0.1"), 0});
    port = a.local_endpoint().port();
  }  // closed again: nothing listens there
  const auto id = create(HostAuthority::with_tls("127.0.0.1:" + std::to_string(port)), 3, "k", fast(2));
  ASSERT_FALSE(id.has_value());
  const auto* conn = id.error().get_if<ServerToolsError::Connection>();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->error.kind(), HttpError::Kind::Connect);
  EXPECT_EQ(waits_.size(), 2u);
  EXPECT_TRUE(id.error().display().starts_with("Failed connecting to server: `could not connect to https://127.0.0.1:"));
}

TEST_F(CreateRoomTest, RelayOutsideTheTrustedRootsIsRefused) {
  RelayServer& r = start_relay(std::nullopt, /*trusted=*/false);
  const auto id = create(host(), 3, "k", fast(1));
  ASSERT_FALSE(id.has_value());
  const auto* conn = id.error().get_if<ServerToolsError::Connection>();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->error.kind(), HttpError::Kind::Connect);
  EXPECT_TRUE(r.requests().empty()) << "no request may pass an untrusted TLS handshake";
  EXPECT_EQ(waits_.size(), 1u);
}

TEST_F(CreateRoomTest, HostNameIsVerified) {
  start_relay();
  // The certificate names localhost, 127.0.0.1 and ::1.
  EXPECT_TRUE(create(HostAuthority::with_tls("localhost:" + std::to_string(relay_->port())), 2, "k", fast(0)));
  // A relay on another loopback address with the same certificate: the chain
  // is trusted but the name does not match.
  const auto& pki = testing::test_pki();
  RelayServer other({"127.0.0.2", 0, pki.trusted.cert_file, pki.trusted.key_file, std::nullopt});
  ASSERT_TRUE(other.start().has_value());
  const auto id = create(HostAuthority::with_tls("127.0.0.2:" + std::to_string(other.port())), 2, "k", fast(0));
  ASSERT_FALSE(id.has_value());
  const auto* conn = id.error().get_if<ServerToolsError::Connection>();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->error.kind(), HttpError::Kind::Connect);
  EXPECT_TRUE(other.requests().empty());
}

TEST_F(CreateRoomTest, ProxyFromTheEnvironment) {
  start_relay();
  // A stand-in proxy that records the CONNECT request and refuses it.
  asio::io_context ioc;
  asio::ip::tcp::acceptor proxy(ioc, {asio::ip::make_address("127.0.0.1"), 0});
  std::promise<std::string> seen;
  std::thread proxy_thread([&] {
    asio::ip::tcp::socket s(ioc);
    boost::system::error_code ec;
    proxy.accept(s, ec);
    if (ec) return seen.set_value("");
    std::string head;
    asio::read_until(s, asio::dynamic_buffer(head), "\r\n\r\n", ec);
    asio::write(s, asio::buffer(std::string("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")), ec);
    seen.set_value(head);
  });
  setenv("https_proxy", ("http://127.0.0.1:" + std::to_string(proxy.local_endpoint().port())).c_str(), 1);
  const auto id = create(host(), 3, "k", fast(0));
  proxy_thread.join();
  ASSERT_FALSE(id.has_value());
  const auto* conn = id.error().get_if<ServerToolsError::Connection>();
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->error.kind(), HttpError::Kind::Connect) << conn->error.debug();
  const std::string head = seen.get_future().get();
  EXPECT_TRUE(head.starts_with("CONNECT 127.0.0.1:" + std::to_string(relay_->port()) + " HTTP/1.1\r\n")) << head;
  EXPECT_TRUE(relay_->requests().empty());
  EXPECT_FALSE(system_proxy_settings().has_value());
}

TEST_F(CreateRoomTest, KeyThatCannotBeAHeaderValueSendsNothing) {
  RelayServer& r = start_relay();
  for (const std::string& key : {std::string("a\nb"), std::string("a\rb"), std::string(1, '\0'), std::string("\x7f")}) {
    const auto id = create(host(), 3, key, fast());
    ASSERT_FALSE(id.has_value());
    const auto* conn = id.error().get_if<ServerToolsError::Connection>();
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(conn->error.kind(), HttpError::Kind::Builder);
    EXPECT_EQ(conn->error.debug().find(key), std::string::npos);
  }
  // A tab is allowed.
  EXPECT_TRUE(create(host(), 3, "a\tb", fast()).has_value());
  EXPECT_EQ(r.requests().size(), 1u);
}

// A JSON decoder's error as it renders itself.
class JsonError final : public Error {
 public:
  std::string display() const override { return "expected value at line 1 column 1"; }
  std::string debug() const override { return "Error(\"expected value\", line: 1, column: 1)"; }
};

TEST(ServerToolsErrorText, VariantsAndSources) {
  struct Case {
    ServerToolsError error;
    std::string display;
    std::string debug;
    std::string source;  // the source's display: every variant has one
  };
  const std::vector<Case> cases = {
      {ServerToolsError::Connection{HttpError(HttpError::Kind::Status, "https://relay/create_room/3",
                                              "HTTP response code said error", 503)},
       "Failed connecting to server: `the server answered https://relay/create_room/3 with status 503`",
       "Connection(HttpError { kind: Status, url: \"https://relay/create_room/3\", status: 503, detail: "
       "\"HTTP response code said error\" })",
       "the server answered https://relay/create_room/3 with status 503"},
      {ServerToolsError::JsonParsing{box_error<JsonError>()},
       "Failed parsing JSON response: `expected value at line 1 column 1`",
       "JsonParsing(Error(\"expected value\", line: 1, column: 1))", "expected value at line 1 column 1"},
      {ServerToolsError::UUIDParsing{RoomUuidParseError::odd_length()},
       "Failed parsing UUID response: `Odd number of digits`", "UUIDParsing(OddLength)", "Odd number of digits"},
      {ServerToolsError::UUIDParsing{RoomUuidParseError::invalid_string_length(34)},
       "Failed parsing UUID response: `Invalid string length, expected 32 characters, found: 34`",
       "UUIDParsing(InvalidStringLength { len: 34 })", "Invalid string length, expected 32 characters, found: 34"},
      {ServerToolsError::UUIDParsing{RoomUuidParseError::invalid_hex_character(U'x', 3)},
       "Failed parsing UUID response: `Invalid character 'x' at position 3`",
       "UUIDParsing(InvalidHexCharacter { c: 'x', index: 3 })", "Invalid character 'x' at position 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.display(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
    ASSERT_NE(c.error.source(), nullptr);
    EXPECT_EQ(c.error.source()->display(), c.source);
  }
}

TEST(RetryRules, WhichFailuresAreRetried) {
  using K = HttpError::Kind;
  struct Case {
    K kind;
    std::uint16_t status;
    bool retried;
  };
  const std::vector<Case> cases = {
      {K::Timeout, 0, true},   {K::Connect, 0, true},   {K::Status, 500, true},  {K::Status, 503, true},
      {K::Status, 599, true},  {K::Status, 501, false}, {K::Status, 400, false}, {K::Status, 404, false},
      {K::Status, 499, false}, {K::Request, 0, false},  {K::Redirect, 0, false}, {K::Body, 0, false},
      {K::Builder, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HttpError(c.kind, "u", "d", c.status).debug());
    EXPECT_EQ(is_retryable(HttpError(c.kind, "u", "d", c.status)), c.retried);
  }
}

TEST(TrustedRoots, CompiledInSetParsesAsCertificateAuthorities) {
  testing::test_pki();  // this binary also trusts the test CA
  EXPECT_GT(compiled_root_count(), 100u);
  auto store = new_trust_store();
  ASSERT_TRUE(store);
  // The store holds the compiled-in roots plus the test CA of this binary.
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store.get());
  EXPECT_EQ(static_cast<std::size_t>(sk_X509_OBJECT_num(objects)), compiled_root_count() + 1);
}

// Every client context gets the one store of the process, with the same
// roots as a new store; a context going away leaves the store to the others.
TEST(TrustedRoots, ContextsShareOneStore) {
  testing::test_pki();
  auto shared = shared_trust_store();
  ASSERT_TRUE(shared);
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(shared.get());
  EXPECT_EQ(static_cast<std::size_t>(sk_X509_OBJECT_num(objects)), compiled_root_count() + 1);

  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> a(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free);
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> b(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free);
  ASSERT_TRUE(a && b);
  configure_tls_client(a.get());
  configure_tls_client(b.get());
  EXPECT_EQ(SSL_CTX_get_cert_store(a.get()), shared.get());
  EXPECT_EQ(SSL_CTX_get_cert_store(b.get()), shared.get());
  EXPECT_EQ(SSL_CTX_get_verify_mode(a.get()), SSL_VERIFY_PEER);
  a.reset();
  EXPECT_EQ(SSL_CTX_get_cert_store(b.get()), shared.get());
  EXPECT_EQ(static_cast<std::size_t>(sk_X509_OBJECT_num(X509_STORE_get0_objects(shared.get()))),
            compiled_root_count() + 1);
  EXPECT_EQ(shared_trust_store().get(), shared.get());
}

}  // namespace
}  // namespace velto::server_tools
