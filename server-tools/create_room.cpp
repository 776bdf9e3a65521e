// GCC 12 reports -Wnull-dereference inside Asio's own executor code and
// -Wmismatched-new-delete on its coroutine frames after inlining (false
// positives that the system-header exemption misses).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include "server-tools/create_room.hpp"

#include <algorithm>
#include <memory>
#include <random>
#include <utility>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <curl/curl.h>
#include <openssl/ssl.h>

#include "server-tools/http_text.hpp"
#include "server-tools/tls.hpp"

namespace velto::server_tools {

namespace asio = boost::asio;

// ---------------------------------------------------------------------------
// Back-off.

std::optional<Millis> BackoffSchedule::next_base() noexcept {
  if (given_ >= b_.max_retries) return std::nullopt;
  ++given_;
  const Millis current = next_;
  if (next_ < b_.max_delay) {
    const double doubled = static_cast<double>(next_.count()) * b_.factor;
    next_ = doubled >= static_cast<double>(b_.max_delay.count()) ? b_.max_delay
                                                                  : Millis(static_cast<Millis::rep>(doubled));
  }
  return current;
}

std::vector<Millis> backoff_delays(const Backoff& b) {
  std::vector<Millis> out;
  BackoffSchedule s(b);
  while (auto d = s.next_base()) out.push_back(*d);
  return out;
}

std::chrono::nanoseconds jittered(Millis d, double u) noexcept {
  const auto base = std::chrono::duration_cast<std::chrono::nanoseconds>(d);
  return base + std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(
                    static_cast<double>(base.count()) * std::clamp(u, 0.0, 1.0)));
}

// ---------------------------------------------------------------------------
// Errors.

namespace {

std::string_view kind_name(HttpError::Kind k) noexcept {
  switch (k) {
    case HttpError::Kind::Builder: return "Builder";
    case HttpError::Kind::Timeout: return "Timeout";
    case HttpError::Kind::Connect: return "Connect";
    case HttpError::Kind::Status: return "Status";
    case HttpError::Kind::Redirect: return "Redirect";
    case HttpError::Kind::Request: return "Request";
    case HttpError::Kind::Body: return "Body";
  }
  return "Unknown";
}

}  // namespace

std::string HttpError::display() const {
  switch (kind_) {
    case Kind::Builder: return "could not build the request for " + url_ + ": " + detail_;
    case Kind::Timeout: return "request to " + url_ + " timed out: " + detail_;
    case Kind::Connect: return "could not connect to " + url_ + ": " + detail_;
    case Kind::Status: return "the server answered " + url_ + " with status " + std::to_string(status_);
    case Kind::Redirect: return "could not follow a redirect from " + url_ + ": " + detail_;
    case Kind::Request: return "request to " + url_ + " failed: " + detail_;
    case Kind::Body: return "could not read the reply body from " + url_ + ": " + detail_;
  }
  return {};
}

std::string HttpError::debug() const {
  std::string out = "HttpError { kind: " + std::string(kind_name(kind_)) + ", url: " + debug_string(url_);
  if (kind_ == Kind::Status) out += ", status: " + std::to_string(status_);
  out += ", detail: " + debug_string(detail_) + " }";
  return out;
}

std::string ServerToolsError::display() const {
  struct V {
    std::string operator()(const Connection& c) const { return "Failed connecting to server: `" + c.error.display() + "`"; }
    std::string operator()(const JsonParsing& j) const {
      return "Failed parsing JSON response: `" + (j.error ? j.error->display() : std::string()) + "`";
    }
    std::string operator()(const UUIDParsing& u) const { return "Failed parsing UUID response: `" + u.error.display() + "`"; }
  };
  return std::visit(V{}, value_);
}

std::string ServerToolsError::debug() const {
  struct V {
    std::string operator()(const Connection& c) const { return "Connection(" + c.error.debug() + ")"; }
    std::string operator()(const JsonParsing& j) const {
      return "JsonParsing(" + (j.error ? j.error->debug() : std::string()) + ")";
    }
    std::string operator()(const UUIDParsing& u) const { return "UUIDParsing(" + u.error.debug() + ")"; }
  };
  return std::visit(V{}, value_);
}

const Error* ServerToolsError::source() const noexcept {
  struct V {
    const Error* operator()(const Connection& c) const noexcept { return &c.error; }
    const Error* operator()(const JsonParsing& j) const noexcept { return j.error.get(); }
    const Error* operator()(const UUIDParsing& u) const noexcept { return &u.error; }
  };
  return std::visit(V{}, value_);
}

bool is_retryable(const HttpError& e) noexcept {
  if (e.is_timeout() || e.is_connect()) return true;
  return e.kind() == HttpError::Kind::Status && e.status() >= 500 && e.status() <= 599 && e.status() != 501;
}

std::optional<std::string> system_proxy_settings() { return std::nullopt; }

// ---------------------------------------------------------------------------
// The HTTPS client.

namespace {

asio::thread_pool& blocking_pool() {
  static asio::thread_pool pool(4);
  return pool;
}

void ensure_curl_initialised() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  if (!done) panic("libcurl could not be initialised");
}

struct Reply {
  long status = 0;
  std::optional<std::string> content_type;
  crypto::Bytes body;
};

bool header_value_ok(std::string_view v) noexcept {
  for (const char ch : v) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c <= 8) || (c >= 10 && c <= 31) || c == 127) return false;
  }
  return true;
}

bool is_connect_failure(CURLcode c) noexcept {
  switch (c) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_PROXY:
      return true;
    default:
      return false;
  }
}

// One client per create_room call: the easy handle keeps its connection
// between attempts of that call and nothing beyond it.
class Client {
 public:
  static std::expected<std::shared_ptr<Client>, HttpError> build(const std::string& url, const std::string& api_key,
                                                                 bool tls, Millis timeout) {
    ensure_curl_initialised();
    auto fail = [&](std::string why) { return std::unexpected(HttpError(HttpError::Kind::Builder, url, std::move(why))); };
    if (!header_value_ok(api_key)) return fail("the API key holds a character that a header value cannot carry");
    auto c = std::shared_ptr<Client>(new Client(url));
    if (c->h_ == nullptr) return fail("libcurl could not create a handle");
    std::string header = "Authorization: Bearer " + api_key;
    c->headers_ = curl_slist_append(nullptr, header.c_str());
    crypto::secure_wipe(header.data(), header.size());
    if (c->headers_ == nullptr) return fail("out of memory");
    const char* protocols = tls ? "https" : "http";
    CURL* h = c->h_;
    bool ok = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS)) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count())) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_HTTPHEADER, c->headers_) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_ERRORBUFFER, c->errbuf_) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Client::on_body) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_WRITEDATA, c.get()) == CURLE_OK &&
              // Trust: only the compiled-in roots, never the system's files.
              curl_easy_setopt(h, CURLOPT_CAINFO, nullptr) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_CAPATH, nullptr) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &Client::on_ssl_ctx) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, nullptr) == CURLE_OK;
    if (!ok) return fail("libcurl refused an option of the request");
    if (auto proxy = system_proxy_settings()) {
      // Only where the system has a proxy setting of its own; the
      // environment's proxies are libcurl's default.
      if (curl_easy_setopt(h, CURLOPT_PROXY, proxy->c_str()) != CURLE_OK) return fail("invalid system proxy");
    }
    return c;
  }

  ~Client() {
    if (h_ != nullptr) curl_easy_cleanup(h_);
    curl_slist_free_all(headers_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // One attempt; blocks for at most the time limit.
  std::expected<Reply, HttpError> attempt() {
    body_.clear();
    body_too_large_ = false;
    errbuf_[0] = '\0';
    const CURLcode rc = curl_easy_perform(h_);
    long status = 0;
    curl_easy_getinfo(h_, CURLINFO_RESPONSE_CODE, &status);
    const bool error_status = status >= 400 && status <= 599;
    auto err = [&](HttpError::Kind k) {
      return std::unexpected(HttpError(k, url_, describe(rc), k == HttpError::Kind::Status ? static_cast<std::uint16_t>(status) : 0));
    };
    if (rc != CURLE_OK) {
      if (error_status) return err(HttpError::Kind::Status);
      if (rc == CURLE_URL_MALFORMAT) return err(HttpError::Kind::Builder);
      if (rc == CURLE_OPERATION_TIMEDOUT) return err(status == 0 ? HttpError::Kind::Timeout : HttpError::Kind::Body);
      if (is_connect_failure(rc)) return err(HttpError::Kind::Connect);
      // A proxy that refused the tunnel: the connection was never made.
      long connect_code = 0;
      curl_easy_getinfo(h_, CURLINFO_HTTP_CONNECTCODE, &connect_code);
      if (status == 0 && connect_code != 0 && (connect_code < 200 || connect_code > 299))
        return err(HttpError::Kind::Connect);
      long redirects = 0;
      curl_easy_getinfo(h_, CURLINFO_REDIRECT_COUNT, &redirects);
      if (rc == CURLE_TOO_MANY_REDIRECTS || (rc == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0))
        return err(HttpError::Kind::Redirect);
      if (status != 0) return err(HttpError::Kind::Body);
      return err(HttpError::Kind::Request);
    }
    if (error_status) return err(HttpError::Kind::Status);
    Reply r;
    r.status = status;
    char* ct = nullptr;
    if (curl_easy_getinfo(h_, CURLINFO_CONTENT_TYPE, &ct) == CURLE_OK && ct != nullptr) r.content_type = std::string(ct);
    r.body = std::move(body_);
    return r;
  }

 private:
  explicit Client(std::string url) : url_(std::move(url)), h_(curl_easy_init()) {}

  std::string describe(CURLcode rc) const {
    if (body_too_large_) return "the reply body is longer than " + std::to_string(kMaxReplyBody) + " bytes";
    std::string d = curl_easy_strerror(rc);
    if (errbuf_[0] != '\0') d += std::string(" (") + errbuf_ + ")";
    return d;
  }

  static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self) {
    auto* c = static_cast<Client*>(self);
    const std::size_t n = size * count;
    if (c->body_.size() + n > kMaxReplyBody) {
      c->body_too_large_ = true;
      return 0;  // aborts the transfer
    }
    c->body_.insert(c->body_.end(), reinterpret_cast<const std::uint8_t*>(data),
                    reinterpret_cast<const std::uint8_t*>(data) + n);
    return n;
  }

  static CURLcode on_ssl_ctx(CURL*, void* ssl_ctx, void*) {
    configure_tls_client(static_cast<SSL_CTX*>(ssl_ctx));
    return CURLE_OK;
  }

  std::string url_;
  CURL* h_;
  curl_slist* headers_ = nullptr;
  char errbuf_[CURL_ERROR_SIZE] = {};
  crypto::Bytes body_;
  bool body_too_large_ = false;
};

asio::awaitable<std::expected<Reply, HttpError>> attempt_on_pool(std::shared_ptr<Client> client) {
  auto work = [client]() -> asio::awaitable<std::expected<Reply, HttpError>> { co_return client->attempt(); };
  auto op = asio::co_spawn(blocking_pool().get_executor(), std::move(work), asio::use_awaitable);
  co_return co_await std::move(op);
}

// Sends under the back-off; yields the first reply that is not an error, or
// the error that ended the retries.
asio::awaitable<std::expected<Reply, HttpError>> send_create_room_request(std::shared_ptr<Client> client,
                                                                          const CreateRoomOptions& options) {
  BackoffSchedule schedule(options.backoff);
  std::mt19937_64 rng{std::random_device{}()};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  asio::steady_timer timer(co_await asio::this_coro::executor);
  while (true) {
    auto result = co_await attempt_on_pool(client);
    if (result) co_return result;
    if (!is_retryable(result.error())) co_return result;
    const std::optional<Millis> base = schedule.next_base();
    if (!base) co_return result;
    const auto wait = options.backoff.jitter ? jittered(*base, unit(rng)) : std::chrono::nanoseconds(*base);
    if (options.on_wait) options.on_wait(wait);
    timer.expires_after(wait);
    co_await timer.async_wait(asio::use_awaitable);
  }
}

}  // namespace

asio::awaitable<std::expected<RoomUuid, ServerToolsError>> create_room(HostAuthority host, std::uint16_t n,
                                                                       std::string api_key,
                                                                       CreateRoomOptions options) {
  using R = std::expected<RoomUuid, ServerToolsError>;
  const std::optional<Uri> address = try_create_room_uri(host, n);
  if (!address) {
    // The host check lets any port text through; a port that is no number
    // makes an address no client can be built for. Nothing is sent.
    crypto::secure_wipe(api_key.data(), api_key.size());
    const std::string url = std::string(host.tls ? "https://" : "http://") + host.authority + "/create_room/" +
                            std::to_string(n);
    ServerToolsError e(ServerToolsError::Connection{HttpError(HttpError::Kind::Builder, url, "invalid authority")});
    co_return R(std::unexpect, std::move(e));
  }
  const std::string url = address->text();
  auto client = Client::build(url, api_key, host.tls, options.attempt_timeout);
  crypto::secure_wipe(api_key.data(), api_key.size());
  if (!client) {
    ServerToolsError e(ServerToolsError::Connection{std::move(client.error())});
    co_return R(std::unexpect, std::move(e));
  }
  auto reply = co_await send_create_room_request(std::move(*client), options);
  if (!reply) {
    ServerToolsError e(ServerToolsError::Connection{std::move(reply.error())});
    co_return R(std::unexpect, std::move(e));
  }
  const std::string text = decode_body(reply->body, reply->content_type);
  auto id = parse_room_uuid(text);
  if (!id) {
    ServerToolsError e(ServerToolsError::UUIDParsing{id.error()});
    co_return R(std::unexpect, std::move(e));
  }
  co_return R(*id);
}

}  // namespace velto::server_tools
