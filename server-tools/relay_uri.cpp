#include "server-tools/relay_uri.hpp"

#include <string>

#include "crypto/error.hpp"
#include "server-tools/uri_chars.hpp"

namespace velto::server_tools {

namespace {

using uri::is_hex_digit;
using uri::is_sub_delim;
using uri::is_unreserved;

// Every character is allowed by `allowed` or starts a complete %XX escape.
template <class Pred>
bool valid_chars(std::string_view s, Pred allowed) noexcept {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '%') {
      if (i + 2 >= s.size()) return false;
      if (!is_hex_digit(static_cast<unsigned char>(s[i + 1])) || !is_hex_digit(static_cast<unsigned char>(s[i + 2])))
        return false;
      i += 2;
      continue;
    }
    if (!allowed(c)) return false;
  }
  return true;
}

// userinfo@host:port with host a name, an IPv4 address or a bracketed IPv6
// literal. Only the character set and the bracket shape are checked.
bool valid_authority(std::string_view a) noexcept {
  if (a.empty()) return false;
  const auto at = a.rfind('@');
  if (at != std::string_view::npos) {
    if (!valid_chars(a.substr(0, at), [](unsigned char c) { return is_unreserved(c) || is_sub_delim(c) || c == ':'; }))
      return false;
    a = a.substr(at + 1);
  }
  std::string_view host = a;
  std::string_view port;
  if (!a.empty() && a.front() == '[') {
    const auto close = a.find(']');
    if (close == std::string_view::npos) return false;
    if (!valid_chars(a.substr(1, close - 1),
                     [](unsigned char c) { return is_hex_digit(c) || c == ':' || c == '.'; }))
      return false;
    host = a.substr(0, close + 1);
    const std::string_view rest = a.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
    }
  } else {
    const auto colon = a.find(':');
    if (colon != std::string_view::npos) {
      host = a.substr(0, colon);
      port = a.substr(colon + 1);
    }
    if (host.empty() || !valid_chars(host, [](unsigned char c) { return is_unreserved(c) || is_sub_delim(c); }))
      return false;
  }
  for (const char c : port)
    if (c < '0' || c > '9') return false;
  return true;
}

bool valid_path_and_query(std::string_view pq) noexcept {
  if (pq.empty() || pq.front() != '/') return false;
  return valid_chars(pq, [](unsigned char c) {
    return is_unreserved(c) || is_sub_delim(c) || c == ':' || c == '@' || c == '/' || c == '?';
  });
}

std::optional<Uri> build_uri(const HostAuthority& host, std::string_view secure, std::string_view plain,
                             std::string path_and_query) {
  if (!valid_authority(host.authority) || !valid_path_and_query(path_and_query)) return std::nullopt;
  return Uri{std::string(host.tls ? secure : plain), host.authority, std::move(path_and_query)};
}

Uri expect_valid(std::optional<Uri> uri) {
  if (!uri) panic(std::string(kInvalidUriPanic));
  return std::move(*uri);
}

}  // namespace

void fmt_join_query(std::string& out, const JoinRoomQuery& query) {
  out += "op=";
  out += query.op;
  out += "&s=";
  out += query.s;
  out += "&t=";
  out += std::to_string(query.t);
  out += "&n=";
  out += std::to_string(query.n);
  out += "&v=";
  out += query.v;
}

std::string join_query_text(const JoinRoomQuery& query) {
  std::string out;
  fmt_join_query(out, query);
  return out;
}

std::optional<Uri> try_join_room_uri(const HostAuthority& host, const RoomUuid& room,
                                     const crypto::ByteArray<32>& client_id, JoinRoomQuery query) {
  std::string pq;
  pq.reserve(11 + 32 + 1 + 64 + 1 + 48);
  pq += "/join_room/";
  fmt_room_uuid_hex(pq, room);
  pq += '/';
  fmt_client_id_hex(pq, client_id);
  pq += '?';
  fmt_join_query(pq, query);
  return build_uri(host, "wss", "ws", std::move(pq));
}

std::optional<Uri> try_create_room_uri(const HostAuthority& host, std::uint16_t n) {
  return build_uri(host, "https", "http", "/create_room/" + std::to_string(n));
}

Uri join_room_uri(const HostAuthority& host, const RoomUuid& room, const crypto::ByteArray<32>& client_id,
                  JoinRoomQuery query) {
  return expect_valid(try_join_room_uri(host, room, client_id, std::move(query)));
}

Uri create_room_uri(const HostAuthority& host, std::uint16_t n) { return expect_valid(try_create_room_uri(host, n)); }

}  // namespace velto::server_tools
