#include "tools/relay/server/relay_server.hpp"

// GCC 12 reports -Wnull-dereference inside Asio's own executor code after
// inlining (a false positive that the system-header exemption misses).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wnull-dereference"
#endif

#include <charconv>
#include <chrono>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <openssl/rand.h>
#include <openssl/ssl.h>

namespace velto::relay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;
using WsStream = websocket::stream<TlsStream>;

namespace {

constexpr auto use_tuple = asio::as_tuple(asio::use_awaitable);
constexpr std::size_t kMaxHead = 16 * 1024;

void put_varint(std::string& out, std::uint32_t v) {
  auto put_le = [&](int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  if (v <= 251) {
    out += static_cast<char>(v);
  } else if (v <= 0xFF) {
    out += static_cast<char>(0xFC);
    put_le(1);
  } else if (v <= 0xFFFF) {
    out += static_cast<char>(0xFD);
    put_le(2);
  } else if (v <= 0xFFFFFF) {
    out += static_cast<char>(0xFE);
    put_le(3);
  } else {
    out += static_cast<char>(0xFF);
    put_le(4);
  }
}

void put_u16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

// Reads a varint at `pos` (any form); false when the input ends early.
bool get_varint(std::string_view in, std::size_t& pos, std::uint32_t& v) {
  if (pos >= in.size()) return false;
  const auto marker = static_cast<std::uint8_t>(in[pos++]);
  if (marker <= 251) {
    v = marker;
    return true;
  }
  const std::size_t bytes = marker - 251u;
  if (in.size() - pos < bytes) return false;
  v = 0;
  for (std::size_t i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(in[pos + i])) << (8 * i);
  pos += bytes;
  return true;
}

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex of exactly `bytes` bytes, either case; the decoded bytes or nothing.
std::optional<std::string> parse_hex(std::string_view s, std::size_t bytes) {
  if (s.size() != 2 * bytes) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < bytes; ++i) {
    const int hi = hex_value(s[2 * i]);
    const int lo = hex_value(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::string to_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char ch : bytes) {
    const auto b = static_cast<std::uint8_t>(ch);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::optional<unsigned> parse_decimal(std::string_view s, unsigned max) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  unsigned v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v > max) return std::nullopt;
  return v;
}

int alpn_index() {
  static const int idx = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return idx;
}

// Records the client's offered protocols and picks http/1.1 when offered.
int on_alpn(SSL* ssl, const unsigned char** out, unsigned char* outlen, const unsigned char* in, unsigned inlen,
            void*) {
  auto* record = static_cast<std::string*>(SSL_get_ex_data(ssl, alpn_index()));
  int result = SSL_TLSEXT_ERR_NOACK;
  for (unsigned i = 0; i < inlen;) {
    const unsigned len = in[i];
    if (i + 1 + len > inlen) break;
    const std::string_view proto(reinterpret_cast<const char*>(in + i + 1), len);
    if (record != nullptr) {
      if (!record->empty()) *record += ',';
      *record += proto;
    }
    if (proto == "http/1.1" && result == SSL_TLSEXT_ERR_NOACK) {
      *out = in + i + 1;
      *outlen = static_cast<unsigned char>(len);
      result = SSL_TLSEXT_ERR_OK;
    }
    i += 1 + len;
  }
  return result;
}

struct Outgoing {
  enum class Kind { Binary, Text, Ping, Close, Raw } kind;
  std::string bytes;
};

struct Member {
  explicit Member(WsStream s) : ws(std::move(s)) {}
  WsStream ws;
  std::uint16_t id = 0;
  std::string key;
  std::deque<Outgoing> queue;
  bool writing = false;
  bool closed = false;
};

struct Room {
  std::uint16_t n = 0;
  std::uint16_t next_id = 1;
  bool complete = false;
  std::map<std::uint16_t, std::shared_ptr<Member>> members;
};

struct JoinTarget {
  std::string room_hex;  // lower case
  std::string key;       // 32 bytes
};

// /join_room/{32 hex}/{64 hex}?op=..&s=..&t=..&n=..&v=..; an error text when
// the target is not a join address.
std::expected<JoinTarget, std::string> parse_join_target(std::string_view target) {
  const auto q = target.find('?');
  std::string_view path = target.substr(0, q);
  const std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
  constexpr std::string_view prefix = "/join_room/";
  if (!path.starts_with(prefix)) return std::unexpected("not a join address");
  path.remove_prefix(prefix.size());
  const auto slash = path.find('/');
  if (slash == std::string_view::npos) return std::unexpected("missing public key");
  auto room = parse_hex(path.substr(0, slash), 16);
  if (!room) return std::unexpected("invalid room id");
  auto key = parse_hex(path.substr(slash + 1), 32);
  if (!key) return std::unexpected("invalid public key");
  std::map<std::string, std::string, std::less<>> params;
  std::string_view rest = query;
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const auto eq = pair.find('=');
    if (eq == std::string_view::npos) return std::unexpected("malformed query");
    params.emplace(std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1)));
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
  }
  for (const char* k : {"op", "s", "t", "n", "v"})
    if (!params.contains(k)) return std::unexpected(std::string("missing query key ") + k);
  if (params["op"].empty()) return std::unexpected("empty operation name");
  if (!parse_decimal(params["t"], 65535) || !parse_decimal(params["n"], 65535))
    return std::unexpected("t and n must be 16-bit numbers");
  return JoinTarget{to_hex(*room), std::move(*key)};
}

}  // namespace

std::string encode_room_parties(const std::vector<std::pair<std::uint16_t, std::string>>& members) {
  std::string out;
  put_varint(out, static_cast<std::uint32_t>(members.size()));
  for (const auto& [id, key] : members) {
    put_u16(out, id);
    out += key;
  }
  return out;
}

std::string encode_relay_frame(std::uint16_t from, std::uint16_t to, const std::string& payload) {
  std::string out;
  out += '\x01';
  put_u16(out, from);
  put_u16(out, to);
  put_varint(out, static_cast<std::uint32_t>(payload.size()));
  out += payload;
  return out;
}

std::string encode_error_frame(const std::string& text) {
  std::string out;
  out += '\x00';
  put_varint(out, static_cast<std::uint32_t>(text.size()));
  out += text;
  return out;
}

struct RelayServer::Impl : std::enable_shared_from_this<RelayServer::Impl> {
  explicit Impl(RelayConfig c) : config(std::move(c)) {}

  RelayConfig config;
  // Declared before the context so that it outlives every stream.
  ssl::context tls{ssl::context::tls_server};
  asio::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  std::thread thread;
  std::uint16_t port = 0;
  bool running = false;

  // Touched only on the server's thread.
  std::map<std::string, Room> rooms;
  std::vector<tcp::socket> silent_sockets;
  std::vector<std::weak_ptr<TlsStream>> open_streams;

  // Shared with the test hooks.
  mutable std::mutex mutex;
  std::deque<ScriptedReply> script;
  std::vector<RecordedRequest> log;
  bool silent = false;
  bool allow_duplicate_keys = false;
  Forwarding forwarding = Forwarding::Forward;
  // Touched only on the server's thread.
  std::map<std::string, std::vector<std::pair<std::uint16_t, std::string>>> stored;
  std::map<std::string, std::vector<ClosedMember>> closed;

  template <class F>
  auto on_server_thread(F f) -> decltype(f()) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    asio::post(ioc, [&task] { task(); });
    return result.get();
  }

  void spawn(asio::awaitable<void> a) {
    asio::co_spawn(ioc, std::move(a), [](const std::exception_ptr&) {});
  }

  asio::awaitable<void> accept_loop() {
    for (;;) {
      auto [ec, socket] = co_await acceptor.async_accept(use_tuple);
      if (ec) {
        if (!acceptor.is_open()) co_return;
        continue;
      }
      bool quiet;
      {
        std::lock_guard lock(mutex);
        quiet = silent;
      }
      if (quiet) {
        silent_sockets.push_back(std::move(socket));
        continue;
      }
      spawn(serve(std::move(socket)));
    }
  }

  static http::response<http::string_body> make_response(unsigned status, std::string body,
                                                         std::optional<std::string> content_type, bool keep_alive) {
    http::response<http::string_body> res;
    res.version(11);
    res.result(status);
    if (res.reason().empty()) res.reason("Status");
    if (content_type) res.set(http::field::content_type, *content_type);
    res.keep_alive(keep_alive);
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
  }

  asio::awaitable<void> serve(tcp::socket socket) {
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    auto stream = std::make_shared<TlsStream>(std::move(socket), tls);
    std::erase_if(open_streams, [](const std::weak_ptr<TlsStream>& w) { return w.expired(); });
    open_streams.push_back(stream);
    std::string alpn;
    SSL_set_ex_data(stream->native_handle(), alpn_index(), &alpn);
    beast::get_lowest_layer(*stream).expires_after(std::chrono::seconds(30));
    auto [hs_ec] = co_await stream->async_handshake(ssl::stream_base::server, use_tuple);
    SSL_set_ex_data(stream->native_handle(), alpn_index(), nullptr);
    if (hs_ec) co_return;

    std::string raw;
    for (;;) {
      beast::get_lowest_layer(*stream).expires_after(std::chrono::seconds(60));
      auto [ec, n] = co_await asio::async_read_until(*stream, asio::dynamic_buffer(raw, kMaxHead), "\r\n\r\n", use_tuple);
      if (ec) co_return;
      const std::string head = raw.substr(0, n);
      raw.erase(0, n);

      http::request_parser<http::empty_body> parser;
      beast::error_code pec;
      parser.put(asio::buffer(head), pec);
      if (pec || !parser.is_header_done()) {
        auto res = make_response(400, "malformed request\n", "text/plain", false);
        co_await http::async_write(*stream, res, use_tuple);
        co_return;
      }
      const bool has_body = !parser.is_done();
      auto req = parser.release();
      {
        std::lock_guard lock(mutex);
        log.push_back({std::string(std::string_view(req.method_string())), std::string(std::string_view(req.target())),
                       head, alpn});
      }
      if (has_body) {
        auto res = make_response(400, "requests carry no body here\n", "text/plain", false);
        co_await http::async_write(*stream, res, use_tuple);
        co_return;
      }
      if (websocket::is_upgrade(req)) {
        co_await join(std::move(stream), std::move(req));
        co_return;
      }
      const std::string_view target(req.target());
      std::optional<http::response<http::string_body>> res;
      bool hang = false;
      if (target.starts_with("/create_room/")) {
        std::optional<ScriptedReply> scripted;
        {
          std::lock_guard lock(mutex);
          if (!script.empty()) {
            scripted = std::move(script.front());
            script.pop_front();
          }
        }
        if (scripted) {
          hang = scripted->hang;
          res = make_response(scripted->status, std::move(scripted->body), scripted->content_type, req.keep_alive());
        } else {
          res = create_room(req);
        }
      } else {
        res = make_response(404, "not found\n", "text/plain", req.keep_alive());
      }
      if (hang) {
        // Wait for the client to give up and close.
        std::string sink;
        co_await asio::async_read_until(*stream, asio::dynamic_buffer(sink, kMaxHead), "\r\n\r\n\r\n", use_tuple);
        co_return;
      }
      auto [wec, wn] = co_await http::async_write(*stream, *res, use_tuple);
      if (wec || !res->keep_alive()) {
        co_await stream->async_shutdown(use_tuple);
        co_return;
      }
    }
  }

  http::response<http::string_body> create_room(const http::request<http::empty_body>& req) {
    const bool ka = req.keep_alive();
    if (req.method() != http::verb::get) return make_response(405, "method not allowed\n", "text/plain", ka);
    if (config.api_key) {
      // Header values arrive without trailing blanks, so an empty key reads
      // as "Bearer".
      std::string expected = "Bearer " + *config.api_key;
      while (!expected.empty() && (expected.back() == ' ' || expected.back() == '\t')) expected.pop_back();
      const std::string_view auth = req[http::field::authorization];
      if (auth != expected) return make_response(401, "invalid API key\n", "text/plain", ka);
    }
    std::string_view n_text(req.target());
    n_text.remove_prefix(std::string_view("/create_room/").size());
    const auto n = parse_decimal(n_text, kMaxRoomSize);
    if (!n || *n == 0) return make_response(400, "invalid number of parties\n", "text/plain", ka);
    std::string id(16, '\0');
    do {
      if (RAND_bytes(reinterpret_cast<unsigned char*>(id.data()), 16) != 1)
        return make_response(500, "no randomness\n", "text/plain", ka);
    } while (rooms.contains(to_hex(id)));
    const std::string hex = to_hex(id);
    rooms[hex].n = static_cast<std::uint16_t>(*n);
    return make_response(200, hex, "text/plain", ka);
  }

  asio::awaitable<void> reject(TlsStream& stream, unsigned status, std::string text) {
    auto res = make_response(status, text + "\n", "text/plain", false);
    co_await http::async_write(stream, res, use_tuple);
    co_await stream.async_shutdown(use_tuple);
  }

  // Why this key cannot join this room now, or nothing.
  std::optional<std::pair<unsigned, std::string>> join_refusal(const std::string& room_hex, const std::string& key) {
    const auto it = rooms.find(room_hex);
    if (it == rooms.end()) return std::pair<unsigned, std::string>{404, "unknown room"};
    const Room& room = it->second;
    if (room.members.size() >= room.n) return std::pair<unsigned, std::string>{409, "the room is full"};
    bool duplicates;
    {
      std::lock_guard lock(mutex);
      duplicates = allow_duplicate_keys;
    }
    if (!duplicates)
      for (const auto& [id, m] : room.members)
        if (m->key == key) return std::pair<unsigned, std::string>{409, "this key has already joined the room"};
    return std::nullopt;
  }

  asio::awaitable<void> join(std::shared_ptr<TlsStream> stream, http::request<http::empty_body> req) {
    auto target = parse_join_target(std::string_view(req.target()));
    if (!target) {
      co_await reject(*stream, target.error() == "not a join address" ? 404 : 400, target.error());
      co_return;
    }
    if (auto refusal = join_refusal(target->room_hex, target->key)) {
      co_await reject(*stream, refusal->first, refusal->second);
      co_return;
    }
    auto member = std::make_shared<Member>(WsStream(std::move(*stream)));
    stream.reset();  // moved from; the member owns the connection now
    WsStream& ws = member->ws;
    beast::get_lowest_layer(ws).expires_never();
    ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws.read_message_max(kMaxMessage);
    ws.auto_fragment(false);
    auto [aec] = co_await ws.async_accept(req, use_tuple);
    if (aec) co_return;
    // The room may have changed while the handshake ran.
    if (auto refusal = join_refusal(target->room_hex, target->key)) {
      ws.binary(true);
      const std::string frame = encode_error_frame(refusal->second);
      co_await ws.async_write(asio::buffer(frame), use_tuple);
      co_await ws.async_close(websocket::close_code::policy_error, use_tuple);
      co_return;
    }
    Room& room = rooms[target->room_hex];
    member->id = room.next_id++;
    member->key = target->key;
    room.members[member->id] = member;
    if (!room.complete && room.members.size() == room.n) {
      room.complete = true;
      std::vector<std::pair<std::uint16_t, std::string>> list;
      for (const auto& [id, m] : room.members) list.emplace_back(id, m->key);
      const std::string payload = encode_room_parties(list);
      for (const auto& [id, m] : room.members)
        enqueue(m, {Outgoing::Kind::Binary, encode_relay_frame(kServerRelayId, id, payload)});
    }
    co_await read_loop(target->room_hex, member);
    leave(target->room_hex, member);
  }

  asio::awaitable<void> read_loop(const std::string& room_hex, std::shared_ptr<Member> m) {
    beast::flat_buffer buffer;
    for (;;) {
      auto [ec, n] = co_await m->ws.async_read(buffer, use_tuple);
      if (ec) {
        const std::uint16_t code = ec == websocket::error::closed ? static_cast<std::uint16_t>(m->ws.reason().code)
                                                                  : std::uint16_t{1006};
        closed[room_hex].push_back(ClosedMember{m->id, code});
        co_return;
      }
      std::string data = beast::buffers_to_string(buffer.data());
      buffer.consume(buffer.size());
      if (!m->ws.got_binary()) {
        enqueue(m, {Outgoing::Kind::Binary, encode_error_frame("Only binary messages are relayed")});
        continue;
      }
      relay_frame(room_hex, m, std::move(data));
    }
  }

  void relay_frame(const std::string& room_hex, const std::shared_ptr<Member>& m, std::string data) {
    auto error = [&](std::string text) { enqueue(m, {Outgoing::Kind::Binary, encode_error_frame(text)}); };
    const auto it = rooms.find(room_hex);
    if (it == rooms.end()) return;
    Room& room = it->second;
    if (data.empty()) return error("Malformed frame: empty message");
    if (data[0] == '\x00') return error("Clients may only send relay frames");
    if (data[0] != '\x01') return error("Malformed frame: unknown kind");
    if (data.size() < 5) return error("Malformed frame: too short");
    auto u16 = [&](std::size_t at) {
      return static_cast<std::uint16_t>(static_cast<std::uint8_t>(data[at]) |
                                        (static_cast<std::uint8_t>(data[at + 1]) << 8));
    };
    const std::uint16_t from = u16(1);
    const std::uint16_t to = u16(3);
    std::size_t pos = 5;
    std::uint32_t len = 0;
    if (!get_varint(data, pos, len) || data.size() - pos < len) return error("Malformed frame: payload length");
    if (from != m->id)
      return error("Frame sender " + std::to_string(from) + " is not this connection's relay id " +
                   std::to_string(m->id));
    if (!room.complete) return error("The room is not complete yet");
    const auto target = room.members.find(to);
    if (target == room.members.end() || to == m->id) {
      if (to != m->id && to != 0 && to < room.next_id) return;  // the recipient has left
      return error("Unknown recipient " + std::to_string(to));
    }
    Forwarding policy;
    {
      std::lock_guard lock(mutex);
      policy = forwarding;
    }
    if (policy == Forwarding::Store) {
      stored[room_hex].emplace_back(to, std::move(data));
      return;
    }
    enqueue(target->second, {Outgoing::Kind::Binary, std::move(data)});
  }

  asio::awaitable<void> trickle(std::string room_hex, std::uint16_t id, std::vector<std::string> frames,
                                std::chrono::milliseconds every, std::size_t count) {
    asio::steady_timer timer(ioc);
    for (std::size_t i = 0; i < count; ++i) {
      timer.expires_after(every);
      auto [ec] = co_await timer.async_wait(use_tuple);
      if (ec) co_return;
      auto m = find_member(room_hex, id);
      if (!m) co_return;
      enqueue(m, {Outgoing::Kind::Binary, frames[i % frames.size()]});
    }
  }

  void leave(const std::string& room_hex, const std::shared_ptr<Member>& m) {
    m->closed = true;
    const auto it = rooms.find(room_hex);
    if (it == rooms.end()) return;
    const auto mit = it->second.members.find(m->id);
    if (mit != it->second.members.end() && mit->second == m) it->second.members.erase(mit);
    if (it->second.complete && it->second.members.empty()) rooms.erase(it);
  }

  void enqueue(const std::shared_ptr<Member>& m, Outgoing o) {
    if (m->closed) return;
    m->queue.push_back(std::move(o));
    if (!m->writing) {
      m->writing = true;
      spawn(write_loop(m));
    }
  }

  asio::awaitable<void> write_loop(std::shared_ptr<Member> m) {
    while (!m->queue.empty() && !m->closed) {
      Outgoing o = std::move(m->queue.front());
      m->queue.pop_front();
      beast::error_code ec;
      switch (o.kind) {
        case Outgoing::Kind::Binary:
        case Outgoing::Kind::Text: {
          m->ws.binary(o.kind == Outgoing::Kind::Binary);
          auto [e, n] = co_await m->ws.async_write(asio::buffer(o.bytes), use_tuple);
          ec = e;
          break;
        }
        case Outgoing::Kind::Ping: {
          websocket::ping_data data(o.bytes.substr(0, websocket::ping_data::static_capacity));
          auto [e] = co_await m->ws.async_ping(data, use_tuple);
          ec = e;
          break;
        }
        case Outgoing::Kind::Close: {
          auto [e] = co_await m->ws.async_close(websocket::close_code::normal, use_tuple);
          ec = e;
          break;
        }
        case Outgoing::Kind::Raw: {
          auto [e, n] = co_await asio::async_write(m->ws.next_layer(), asio::buffer(o.bytes), use_tuple);
          ec = e;
          break;
        }
      }
      if (ec) m->closed = true;
    }
    m->writing = false;
  }

  std::shared_ptr<Member> find_member(const std::string& room_hex, std::uint16_t id) {
    std::string lower;
    for (const char c : room_hex) lower += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    const auto it = rooms.find(lower);
    if (it == rooms.end()) return nullptr;
    const auto mit = it->second.members.find(id);
    return mit == it->second.members.end() ? nullptr : mit->second;
  }

  void shutdown_all() {
    beast::error_code ignored;
    acceptor.close(ignored);
    for (auto& s : silent_sockets) s.close(ignored);
    for (auto& [hex, room] : rooms)
      for (auto& [id, m] : room.members) beast::get_lowest_layer(m->ws).socket().close(ignored);
    for (auto& w : open_streams)
      if (auto s = w.lock()) beast::get_lowest_layer(*s).socket().close(ignored);
  }
};

RelayServer::RelayServer(RelayConfig config) : impl_(std::make_shared<Impl>(std::move(config))) {}

RelayServer::~RelayServer() { stop(); }

std::expected<void, std::string> RelayServer::start() {
  Impl& s = *impl_;
  if (s.running) return {};
  try {
    s.tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                      ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    s.tls.use_certificate_chain_file(s.config.cert_file);
    s.tls.use_private_key_file(s.config.key_file, ssl::context::pem);
    SSL_CTX_set_alpn_select_cb(s.tls.native_handle(), &on_alpn, nullptr);
    const tcp::endpoint ep(asio::ip::make_address(s.config.address), s.config.port);
    s.acceptor.open(ep.protocol());
    s.acceptor.set_option(asio::socket_base::reuse_address(true));
    s.acceptor.bind(ep);
    s.acceptor.listen();
    s.port = s.acceptor.local_endpoint().port();
  } catch (const boost::system::system_error& e) {
    return std::unexpected(std::string(e.what()));
  }
  s.spawn(s.accept_loop());
  s.running = true;
  s.thread = std::thread([impl = impl_] { impl->ioc.run(); });
  return {};
}

void RelayServer::stop() {
  Impl& s = *impl_;
  if (!s.running) return;
  s.on_server_thread([&s] {
    s.shutdown_all();
    return 0;
  });
  s.ioc.stop();
  s.thread.join();
  s.running = false;
}

std::uint16_t RelayServer::port() const noexcept { return impl_->port; }

void RelayServer::script_create_room(std::vector<ScriptedReply> replies) {
  std::lock_guard lock(impl_->mutex);
  for (auto& r : replies) impl_->script.push_back(std::move(r));
}

std::vector<RecordedRequest> RelayServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

void RelayServer::set_silent(bool silent) {
  std::lock_guard lock(impl_->mutex);
  impl_->silent = silent;
}

void RelayServer::set_allow_duplicate_keys(bool allow) {
  std::lock_guard lock(impl_->mutex);
  impl_->allow_duplicate_keys = allow;
}

bool RelayServer::send_to_member(const std::string& room_hex, std::uint16_t relay_id, MessageKind kind,
                                 std::string bytes) {
  Impl& s = *impl_;
  if (!s.running) return false;
  return s.on_server_thread([&]() {
    auto m = s.find_member(room_hex, relay_id);
    if (!m) return false;
    Outgoing::Kind k = Outgoing::Kind::Binary;
    switch (kind) {
      case MessageKind::Binary: k = Outgoing::Kind::Binary; break;
      case MessageKind::Text: k = Outgoing::Kind::Text; break;
      case MessageKind::Ping: k = Outgoing::Kind::Ping; break;
      case MessageKind::Close: k = Outgoing::Kind::Close; break;
    }
    s.enqueue(m, {k, std::move(bytes)});
    return true;
  });
}

bool RelayServer::send_raw_to_member(const std::string& room_hex, std::uint16_t relay_id, std::string bytes) {
  Impl& s = *impl_;
  if (!s.running) return false;
  return s.on_server_thread([&]() {
    auto m = s.find_member(room_hex, relay_id);
    if (!m) return false;
    s.enqueue(m, {Outgoing::Kind::Raw, std::move(bytes)});
    return true;
  });
}

void RelayServer::set_forwarding(Forwarding forwarding) {
  std::lock_guard lock(impl_->mutex);
  impl_->forwarding = forwarding;
}

bool RelayServer::trickle_stored(const std::string& room_hex, std::uint16_t relay_id, std::chrono::milliseconds every,
                                 std::size_t count) {
  Impl& s = *impl_;
  if (!s.running) return false;
  return s.on_server_thread([&]() {
    std::vector<std::string> frames;
    if (const auto it = s.stored.find(room_hex); it != s.stored.end())
      for (const auto& [to, frame] : it->second)
        if (to == relay_id) frames.push_back(frame);
    if (frames.empty()) return false;
    s.spawn(s.trickle(room_hex, relay_id, std::move(frames), every, count));
    return true;
  });
}

std::vector<ClosedMember> RelayServer::closed_members(const std::string& room_hex) const {
  Impl& s = *impl_;
  if (!s.running) return {};
  return s.on_server_thread([&]() {
    const auto it = s.closed.find(room_hex);
    return it == s.closed.end() ? std::vector<ClosedMember>{} : it->second;
  });
}

std::size_t RelayServer::member_count(const std::string& room_hex) const {
  Impl& s = *impl_;
  if (!s.running) return 0;
  return s.on_server_thread([&]() -> std::size_t {
    const auto it = s.rooms.find(room_hex);
    return it == s.rooms.end() ? 0 : it->second.members.size();
  });
}

}  // namespace velto::relay
