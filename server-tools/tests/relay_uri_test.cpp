#include "server-tools/relay_uri.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velto::server_tools {
namespace {

crypto::ByteArray<32> key_of(std::uint8_t b) {
  crypto::ByteArray<32> k;
  k.fill(b);
  return k;
}

TEST(JoinQuery, Text) {
  struct Case {
    JoinRoomQuery query;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{"ecdsa_sign", "ec", 1, 3, "v1.0.3"}, "op=ecdsa_sign&s=ec&t=1&n=3&v=v1.0.3"},
      {{"ecdsa_keygen", "ec", 0, 65535, "v1.0.3"}, "op=ecdsa_keygen&s=ec&t=0&n=65535&v=v1.0.3"},
      // Written byte for byte: no escaping.
      {{"exportable_ed25519_sample_key", "ec", 10, 100, "v1.0.3"},
       "op=exportable_ed25519_sample_key&s=ec&t=10&n=100&v=v1.0.3"},
  };
  for (const auto& c : cases) EXPECT_EQ(join_query_text(c.query), c.text);
  EXPECT_EQ(join_query_text({"ecdsa_sign", "ec", 1, 3, "v1.0.3"}).size(), 35u);
  // The defaults are the fixed values of the join.
  const JoinRoomQuery defaults{"ecdsa_refresh"};
  EXPECT_EQ(defaults.s, "ec");
  EXPECT_EQ(defaults.v, "v1.0.3");
}

TEST(JoinRoomUri, Layout) {
  auto room = parse_room_uuid("00112233445566778899aabbccddeeff");
  ASSERT_TRUE(room.has_value());
  const JoinRoomQuery q{"ecdsa_sign", "ec", 2, 3};
  const std::string path = "/join_room/00112233445566778899aabbccddeeff/" + std::string(64, 'a') +
                           "?op=ecdsa_sign&s=ec&t=2&n=3&v=v1.0.3";

  const Uri with_port = join_room_uri(HostAuthority::with_tls("relay.example.com:8443"), *room, key_of(0xAA), q);
  EXPECT_EQ(with_port.scheme, "wss");
  EXPECT_EQ(with_port.authority, "relay.example.com:8443");
  EXPECT_EQ(with_port.path_and_query, path);
  EXPECT_EQ(with_port.text(), "wss://relay.example.com:8443" + path);

  // No port given, none added.
  EXPECT_EQ(join_room_uri(HostAuthority::with_tls("relay.example.com"), *room, key_of(0xAA), q).text(),
            "wss://relay.example.com" + path);
  // Without TLS: "ws", same path and query.
  EXPECT_EQ(join_room_uri(HostAuthority{"127.0.0.1:80", false}, *room, key_of(0xAA), q).text(),
            "ws://127.0.0.1:80" + path);
  // IPv6 literal and user information pass unchanged.
  std::string ones;
  for (int i = 0; i < 32; ++i) ones += "01";
  EXPECT_EQ(join_room_uri(HostAuthority::with_tls("user@[::1]:9000"), RoomUuid{}, key_of(0x01), q).text(),
            "wss://user@[::1]:9000/join_room/" + std::string(32, '0') + "/" + ones +
                "?op=ecdsa_sign&s=ec&t=2&n=3&v=v1.0.3");
}

TEST(CreateRoomUri, Paths) {
  EXPECT_EQ(create_room_uri(HostAuthority::with_tls("relay.example.com"), 3).text(),
            "https://relay.example.com/create_room/3");
  EXPECT_EQ(create_room_uri(HostAuthority::with_tls("127.0.0.1:4443"), 1).path_and_query, "/create_room/1");
  EXPECT_EQ(create_room_uri(HostAuthority::with_tls("127.0.0.1:4443"), 8192).path_and_query, "/create_room/8192");
  EXPECT_EQ(create_room_uri(HostAuthority{"localhost", false}, 2).text(), "http://localhost/create_room/2");
}

TEST(RelayUris, PartsTheGrammarRefusesAreBrokenInvariants) {
  const std::string text = std::string(kInvalidUriPanic);
  auto expect_panic = [&](auto f) {
    try {
      f();
      ADD_FAILURE() << "no panic";
    } catch (const Panic& p) {
      EXPECT_EQ(p.message(), text);
    }
  };
  expect_panic([] { create_room_uri(HostAuthority::with_tls(""), 1); });
  expect_panic([] { create_room_uri(HostAuthority::with_tls("relay/path"), 1); });
  expect_panic([] { create_room_uri(HostAuthority::with_tls("[::1"), 1); });
  expect_panic([] { create_room_uri(HostAuthority::with_tls("host:port"), 1); });
  expect_panic([] { join_room_uri(HostAuthority::with_tls("relay"), RoomUuid{}, key_of(1), {"bad op"}); });
  expect_panic([] { join_room_uri(HostAuthority::with_tls("relay"), RoomUuid{}, key_of(1), {"op#frag"}); });
}

// The operations build their addresses from authorities whose port the host
// check never read: a port that is no number is refused without a panic.
TEST(RelayUris, FallibleBuildersRefuseWhatTheGrammarRefuses) {
  for (const char* authority : {"h:abc", "relay:44a", "user@h:-1", "[::1]:x", ""}) {
    SCOPED_TRACE(authority);
    EXPECT_FALSE(try_create_room_uri(HostAuthority::with_tls(authority), 2).has_value());
    EXPECT_FALSE(try_join_room_uri(HostAuthority::with_tls(authority), RoomUuid{}, key_of(1), {"ecdsa_sign"}).has_value());
  }
  const auto room = try_create_room_uri(HostAuthority::with_tls("h:8443"), 2);
  ASSERT_TRUE(room.has_value());
  EXPECT_EQ(room->text(), "https://h:8443/create_room/2");
  const auto join = try_join_room_uri(HostAuthority::with_tls("h:8443"), RoomUuid{}, key_of(1), {"ecdsa_sign"});
  ASSERT_TRUE(join.has_value());
  EXPECT_EQ(join->text(), join_room_uri(HostAuthority::with_tls("h:8443"), RoomUuid{}, key_of(1), {"ecdsa_sign"}).text());
}

}  // namespace
}  // namespace velto::server_tools
