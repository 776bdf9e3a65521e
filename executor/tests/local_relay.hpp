// The local relay on loopback for tests that drive operations through the
// function interface: started with the test CA's server certificate (the test
// binaries trust that CA through the TLS test seam), with the environment's
// proxies set aside while it runs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/ws.hpp"
#include "executor/tests/ffi_recorder.hpp"
#include "server-tools/tests/support/test_pki.hpp"
#include "tools/relay/server/relay_server.hpp"

namespace velto::executor::testing {

// Relay timings for parties of one test process on loopback: quick retries,
// generous waits.
inline RelayTimings fast_relay_timings() {
  RelayTimings t;
  t.connect_first_delay = std::chrono::milliseconds(4);
  t.connect_final_delay = std::chrono::milliseconds(4 * 256);
  t.connect_attempt_timeout = std::chrono::seconds(5);
  t.room_wait = std::chrono::seconds(20);
  t.per_message = std::chrono::seconds(20);
  return t;
}

class LocalRelay {
 public:
  explicit LocalRelay(std::optional<std::string> api_key = std::nullopt) {
    static constexpr const char* kProxyVars[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                                 "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
    for (const char* v : kProxyVars) {
      if (const char* value = std::getenv(v)) saved_env_.emplace_back(v, value);
      unsetenv(v);
    }
    const auto& pki = server_tools::testing::test_pki();
    server_ = std::make_unique<relay::RelayServer>(
        relay::RelayConfig{"127.0.0.1", 0, pki.trusted.cert_file, pki.trusted.key_file, std::move(api_key)});
    auto started = server_->start();
    EXPECT_TRUE(started.has_value()) << started.error();
    host_ = "127.0.0.1:" + std::to_string(server_->port());
  }
  ~LocalRelay() {
    server_->stop();
    for (const auto& [k, v] : saved_env_) setenv(k.c_str(), v.c_str(), 1);
  }
  LocalRelay(const LocalRelay&) = delete;
  LocalRelay& operator=(const LocalRelay&) = delete;

  // The relay's authority text, as callers pass it as host_url.
  const std::string& host() const { return host_; }
  relay::RelayServer& server() { return *server_; }
  const relay::RelayServer& server() const { return *server_; }

  // A new room for n parties through velto_create_room; its 32-hex id.
  std::string new_room(std::uint16_t n) {
    CallbackRecorder rec;
    const auto r = take(velto_create_room(cstr(host_), n, cstr(""), &CallbackRecorder::single_cb, &rec));
    EXPECT_EQ(r.code, 0) << r.message;
    const auto calls = rec.wait_for(1);
    if (calls.empty() || !calls[0].first) {
      ADD_FAILURE() << "no room id";
      return {};
    }
    EXPECT_EQ(calls[0].result.code, 0) << calls[0].result.message;
    return *calls[0].first;
  }

 private:
  std::unique_ptr<relay::RelayServer> server_;
  std::string host_;
  std::vector<std::pair<std::string, std::string>> saved_env_;
};

}  // namespace velto::executor::testing
