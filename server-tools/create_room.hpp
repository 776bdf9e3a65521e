// Room creation over HTTPS.
//
// One party (in practice the service that coordinates an operation) asks the
// relay for a room of n parties: an HTTPS GET of /create_room/{n} with the
// header "Authorization: Bearer {api key}" (always sent, also for an empty
// key). The reply body is the room id as 32 hexadecimal digits. Failed
// attempts are retried with an exponential back-off: time-outs, connections
// that cannot be established and statuses 500 to 599 other than 501; every
// other failure ends the call at once.
//
// The HTTPS client is libcurl, built anew for every call: HTTP/1.1 or HTTP/2
// (by ALPN), https only (redirect targets too), proxies from the environment
// (https_proxy, all_proxy, no_proxy, ...), the compiled-in trusted roots of
// tls.hpp. Each attempt blocks one thread of a small pool of its own while the
// awaiting coroutine is suspended; the waits between attempts are timers of
// the awaiting coroutine's executor.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "crypto/error.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::server_tools {

using Millis = std::chrono::milliseconds;

// An exponential back-off: the first delay, then each delay times `factor`
// while below `max_delay` (cut to it), at most `max_retries` delays. With
// jitter each wait is the delay times (1 + u), u uniform in [0, 1) drawn
// afresh; the next delay is computed from the delay before jitter.
struct Backoff {
  Millis first_delay;
  double factor;
  Millis max_delay;
  unsigned max_retries;
  bool jitter;
};

// The retry policy of room creation: 100 ms doubling to 5 s, 10 retries.
inline constexpr Backoff kCreateRoomBackoff{Millis(100), 2.0, Millis(5000), 10, true};
// The time limit of one attempt (connecting, sending and receiving the reply).
inline constexpr Millis kCreateRoomAttemptTimeout{10000};
// A reply body longer than this is refused as unreadable (a room id is 32
// bytes; this only stops a misbehaving server from filling memory).
inline constexpr std::size_t kMaxReplyBody = 64 * 1024;

// The base delays of a back-off, before jitter, in order.
std::vector<Millis> backoff_delays(const Backoff& b);

// Steps through a back-off.
class BackoffSchedule {
 public:
  explicit BackoffSchedule(const Backoff& b) noexcept : b_(b), next_(b.first_delay) {}
  // The next base delay, or nothing once max_retries delays were given.
  std::optional<Millis> next_base() noexcept;

 private:
  Backoff b_;
  Millis next_;
  unsigned given_ = 0;
};

// The wait for a base delay d and a uniform u in [0, 1): d * (1 + u).
std::chrono::nanoseconds jittered(Millis d, double u) noexcept;

// The failure of the HTTPS client: its kind, the address, the status of a
// status error, and the client's own description.
class HttpError final : public velto::Error {
 public:
  enum class Kind : std::uint8_t {
    Builder,   // the client or the request could not be built; nothing was sent
    Timeout,   // the attempt's time limit passed before the reply
    Connect,   // no connection: name resolution, TCP, TLS or proxy
    Status,    // the reply's status is 400 to 599
    Redirect,  // a redirect could not be followed
    Request,   // the exchange failed after the connection was made
    Body,      // the reply body could not be read
  };

  HttpError(Kind kind, std::string url, std::string detail, std::uint16_t status = 0)
      : kind_(kind), url_(std::move(url)), detail_(std::move(detail)), status_(status) {}

  Kind kind() const noexcept { return kind_; }
  const std::string& url() const noexcept { return url_; }
  const std::string& detail() const noexcept { return detail_; }
  // The status of a Status error (0 otherwise).
  std::uint16_t status() const noexcept { return status_; }
  bool is_timeout() const noexcept { return kind_ == Kind::Timeout; }
  bool is_connect() const noexcept { return kind_ == Kind::Connect; }

  std::string display() const override;
  std::string debug() const override;

 private:
  Kind kind_;
  std::string url_;
  std::string detail_;
  std::uint16_t status_;
};

// The error of room creation. Display: "Failed connecting to server: `{e}`",
// "Failed parsing JSON response: `{e}`", "Failed parsing UUID response: `{e}`".
// Room creation produces only Connection and UUIDParsing.
class ServerToolsError final : public velto::Error {
 public:
  struct Connection {
    HttpError error;
  };
  struct JsonParsing {
    BoxedError error;
  };
  struct UUIDParsing {
    RoomUuidParseError error;
  };
  using Value = std::variant<Connection, JsonParsing, UUIDParsing>;

  template <class V>
    requires std::is_constructible_v<Value, V>
  ServerToolsError(V v) : value_(std::move(v)) {}

  VELTO_VARIANT_ERROR_ACCESSORS

 private:
  Value value_;
};

// Whether a failed attempt is tried again: a time-out, a connection that
// could not be made, or a status 500 to 599 other than 501.
bool is_retryable(const HttpError& e) noexcept;

// The operating system's proxy settings. Only macOS has a system-wide
// setting apart from the environment; elsewhere there is none.
std::optional<std::string> system_proxy_settings();

// Called with each wait before it starts (tests use it to see the schedule).
using WaitObserver = std::function<void(std::chrono::nanoseconds)>;

// The settings of one create_room call. Production code uses the defaults;
// tests shorten the schedule and the time limit so retry cases take seconds.
struct CreateRoomOptions {
  Backoff backoff = kCreateRoomBackoff;
  Millis attempt_timeout = kCreateRoomAttemptTimeout;
  WaitObserver on_wait;
};

// Creates a room for n parties; yields its id. The host, n and the key were
// validated by the caller (authority grammar, 1 <= n <= 8192). An API key
// holding a byte that a header value cannot carry (0 to 8, 10 to 31, 127)
// fails as a Connection error of kind Builder, before anything is sent.
boost::asio::awaitable<std::expected<RoomUuid, ServerToolsError>> create_room(
    HostAuthority host, std::uint16_t n, std::string api_key, CreateRoomOptions options = {});

}  // namespace velto::server_tools
