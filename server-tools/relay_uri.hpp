// Addresses on the relay server: the create-room address (https) and the
// websocket join address (wss) with its query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"
#include "server-tools/room_uuid.hpp"

namespace velto::server_tools {

// The relay's authority text (host and optional port, already validated by the
// host check of the function interface) and the TLS flag. Every HostAuthority
// the library builds has the flag set, so the relay is reached over https and
// wss; the flag exists so that the address builders do not hard-code it.
struct HostAuthority {
  std::string authority;
  bool tls = true;

  static HostAuthority with_tls(std::string authority) { return {std::move(authority), true}; }
};

// An absolute address: scheme, authority and path-and-query, each validated
// against the URI grammar when built.
struct Uri {
  std::string scheme;
  std::string authority;
  std::string path_and_query;

  // scheme "://" authority path-and-query
  std::string text() const { return scheme + "://" + authority + path_and_query; }
};

// The operation parameters of a join, sent as the query. The texts are
// written byte for byte, without escaping.
struct JoinRoomQuery {
  std::string op;           // relay operation name, e.g. "ecdsa_sign"
  std::string s = "ec";     // always "ec"
  std::uint16_t t = 0;      // threshold
  std::uint16_t n = 0;      // number of parties
  std::string v = "v1.0.3"; // fixed label of the join request (not the agreed protocol version)
};

// "op={op}&s={s}&t={t}&n={n}&v={v}"
void fmt_join_query(std::string& out, const JoinRoomQuery& query);
std::string join_query_text(const JoinRoomQuery& query);

// wss://{authority}/join_room/{room id hex}/{client id hex}?{query}
// ("ws" when the TLS flag is clear). A part that the URI grammar refuses is a
// broken invariant and panics: the library only ever passes validated
// authorities and hexadecimal ids.
Uri join_room_uri(const HostAuthority& host, const RoomUuid& room, const crypto::ByteArray<32>& client_id,
                  JoinRoomQuery query);

// https://{authority}/create_room/{n} ("http" when the TLS flag is clear).
Uri create_room_uri(const HostAuthority& host, std::uint16_t n);

// The same addresses, or nothing when the URI grammar refuses a part. The host
// check of the function interface does not look at the port's digits, so an
// authority such as "relay:abc" reaches the operations: they report it as a
// failed connection instead of panicking.
std::optional<Uri> try_join_room_uri(const HostAuthority& host, const RoomUuid& room,
                                     const crypto::ByteArray<32>& client_id, JoinRoomQuery query);
std::optional<Uri> try_create_room_uri(const HostAuthority& host, std::uint16_t n);

inline constexpr std::string_view kInvalidUriPanic =
    "We use a valid authority, valid scheme, and a valid path so should never fail";

}  // namespace velto::server_tools
