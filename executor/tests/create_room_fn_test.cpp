// velto_create_room driven as a C caller drives it: the order of its checks
// with their codes and texts, and the one callback of an accepted call against
// the local relay on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/log.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "server-tools/tests/support/test_pki.hpp"
#include "tools/relay/server/relay_server.hpp"

namespace velto::executor {
namespace {

using testing::CallbackRecorder;
using testing::cstr;
using testing::take;

constexpr const char* kProxyVars[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                      "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

TEST(CreateRoomFn, ChecksInOrder) {
  static const std::string good_host = "127.0.0.1:1";
  static const std::string scheme_host = "https://relay.example";
  static const std::string slash_host = "relay.example/";
  static const std::string bad_utf8 = "\xff\xfe";
  static const std::string key = "key";
  const ConstStr null5{nullptr, 5};
  const std::string kind2 = "Error Kind: Invalid host URL, Context: ";
  const std::string kind8 = "Error Kind: Error in MPC Executor, Context: ";
  const std::string kind14 = "Error Kind: Invalid API key, Context: ";
  const std::string utf8 = "Received a str expected to be UTF8 but invalid: invalid utf-8 sequence of 1 bytes from index 0";
  struct Case {
    const char* name;
    ConstStr host;
    std::uint16_t n;
    ConstStr api_key;
    bool null_callback;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"empty host", ConstStr{nullptr, 0}, 3, cstr(key), false, -2, kind2 + "Invalid host address: empty string"},
      {"host with scheme", cstr(scheme_host), 3, cstr(key), false, -2,
       kind2 + "Invalid host address: invalid uri character"},
      {"host with trailing slash", cstr(slash_host), 3, cstr(key), false, -2,
       kind2 + "Invalid host address: invalid uri character"},
      {"host null pointer", null5, 3, cstr(key), false, -2,
       kind2 + "Received a slice with null pointer, but length: 5"},
      {"host not UTF-8", cstr(bad_utf8), 3, cstr(key), false, -2, kind2 + utf8},
      {"n 0", cstr(good_host), 0, cstr(key), false, -8,
       kind8 + "invalid number of parties: 0 (must be between 1..=8192)"},
      {"n 8193", cstr(good_host), 8193, cstr(key), false, -8,
       kind8 + "invalid number of parties: 8193 (must be between 1..=8192)"},
      {"bad host before bad n", ConstStr{nullptr, 0}, 0, cstr(key), false, -2,
       kind2 + "Invalid host address: empty string"},
      {"bad n before bad key", cstr(good_host), 0, null5, false, -8,
       kind8 + "invalid number of parties: 0 (must be between 1..=8192)"},
      {"key null pointer", cstr(good_host), 3, null5, false, -14,
       kind14 + "Received a slice with null pointer, but length: 5"},
      {"key not UTF-8", cstr(good_host), 3, cstr(bad_utf8), false, -14, kind14 + utf8},
      {"null callback", cstr(good_host), 3, cstr(key), true, -253, "Error Kind: Null pointer"},
      {"bad key before null callback", cstr(good_host), 3, null5, true, -14,
       kind14 + "Received a slice with null pointer, but length: 5"},
  };
  for (const auto& c : cases) {
    CapturedLog log;
    CallbackRecorder rec;
    const auto r = take(velto_create_room(c.host, c.n, c.api_key,
                                          c.null_callback ? nullptr : &CallbackRecorder::single_cb, &rec));
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.message, c.message) << c.name;
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_TRUE(lines[0].starts_with("Logic Error: display: " + c.message + ", debug: Error { kind: ")) << lines[0];
    EXPECT_TRUE(rec.calls().empty()) << c.name;  // nothing was started
  }
}

// The host check does not read the port, so "h:abc" is accepted; the task
// then fails in order (-8 through the callback), nothing is sent, no panic.
TEST(CreateRoomFn, PortThatIsNoNumberFailsThroughTheCallback) {
  CapturedLog log;
  CallbackRecorder rec;
  const auto r = take(velto_create_room(cstr("h:abc"), 3, cstr("key"), &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0) << r.message;
  const auto calls = rec.wait_for(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_FALSE(calls[0].first.has_value());
  EXPECT_EQ(calls[0].result.code, -8);
  const std::string message =
      "Error Kind: Error in MPC Executor, Context: Failed creating a room: `Failed connecting to server: `could not "
      "build the request for https://h:abc/create_room/3: invalid authority``";
  EXPECT_EQ(calls[0].result.message, message);
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("Logic Error: display: " + message + ", debug: ")) << lines[0];
}

class CreateRoomFnRelay : public ::testing::Test {
 protected:
  void SetUp() override {
    // The environment's proxies are honoured; run without any.
    for (const char* v : kProxyVars) {
      if (const char* value = std::getenv(v)) saved_env_.emplace_back(v, value);
      unsetenv(v);
    }
    server_tools::testing::test_pki();
  }
  void TearDown() override {
    if (relay_) relay_->stop();
    for (const char* v : kProxyVars) unsetenv(v);
    for (const auto& [k, v] : saved_env_) setenv(k.c_str(), v.c_str(), 1);
  }

  relay::RelayServer& start_relay(std::optional<std::string> api_key) {
    const auto& pki = server_tools::testing::test_pki();
    relay_ = std::make_unique<relay::RelayServer>(
        relay::RelayConfig{"127.0.0.1", 0, pki.trusted.cert_file, pki.trusted.key_file, std::move(api_key)});
    auto started = relay_->start();
    EXPECT_TRUE(started.has_value()) << started.error();
    host_ = "127.0.0.1:" + std::to_string(relay_->port());
    return *relay_;
  }

  std::unique_ptr<relay::RelayServer> relay_;
  std::string host_;
  std::vector<std::pair<std::string, std::string>> saved_env_;
};

TEST_F(CreateRoomFnRelay, RoomIdThroughTheCallback) {
  relay::RelayServer& relay = start_relay(std::string("api-key"));
  const std::string key = "api-key";
  for (const std::uint16_t n : {std::uint16_t{1}, std::uint16_t{8192}}) {
    CapturedLog log;
    CallbackRecorder rec;
    const auto r = take(velto_create_room(cstr(host_), n, cstr(key), &CallbackRecorder::single_cb, &rec));
    ASSERT_EQ(r.code, 0) << n;
    EXPECT_TRUE(r.message_null);
    const auto calls = rec.wait_for(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].result.code, 0);
    EXPECT_TRUE(calls[0].result.message_null);
    ASSERT_TRUE(calls[0].first.has_value());
    EXPECT_EQ(calls[0].first->size(), 32u);
    EXPECT_EQ(calls[0].first->find_first_not_of("0123456789abcdef"), std::string::npos) << *calls[0].first;
    EXPECT_TRUE(log.lines().empty());
    const auto requests = relay.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().target, "/create_room/" + std::to_string(n));
  }
}

TEST_F(CreateRoomFnRelay, EmptyKeyStillSendsTheBearerHeader) {
  relay::RelayServer& relay = start_relay(std::string());
  CallbackRecorder rec;
  const auto r = take(velto_create_room(cstr(host_), 2, ConstStr{nullptr, 0}, &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0);
  const auto calls = rec.wait_for(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].result.code, 0) << calls[0].result.message;
  const auto requests = relay.requests();
  ASSERT_EQ(requests.size(), 1u);
  std::string head = requests[0].head;
  for (char& ch : head) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_NE(head.find("\r\nauthorization: bearer \r\n"), std::string::npos) << requests[0].head;
}

TEST_F(CreateRoomFnRelay, RefusedRequestIsCode8ThroughTheCallback) {
  start_relay(std::string("right"));
  const std::string wrong = "wrong";
  CapturedLog log;
  CallbackRecorder rec;
  const auto r = take(velto_create_room(cstr(host_), 3, cstr(wrong), &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0);
  const auto calls = rec.wait_for(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_FALSE(calls[0].first.has_value());
  EXPECT_EQ(calls[0].result.code, -8);
  const std::string prefix =
      "Error Kind: Error in MPC Executor, Context: Failed creating a room: `Failed connecting to server: `";
  EXPECT_TRUE(calls[0].result.message.starts_with(prefix)) << calls[0].result.message;
  EXPECT_NE(calls[0].result.message.find("401"), std::string::npos) << calls[0].result.message;
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("Logic Error: display: " + calls[0].result.message + ", debug: ")) << lines[0];
}

// The caller may release its texts as soon as the call returns.
TEST_F(CreateRoomFnRelay, InputsAreCopiedBeforeReturning) {
  start_relay(std::string("secret"));
  std::string host = host_;
  std::string key = "secret";
  CallbackRecorder rec;
  const auto r = take(velto_create_room(cstr(host), 4, cstr(key), &CallbackRecorder::single_cb, &rec));
  ASSERT_EQ(r.code, 0);
  host.assign(host.size(), 'X');
  key.assign(key.size(), 'X');
  const auto calls = rec.wait_for(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].result.code, 0) << calls[0].result.message;
}

}  // namespace
}  // namespace velto::executor
