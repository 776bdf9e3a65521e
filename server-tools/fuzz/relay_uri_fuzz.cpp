// Relay addresses from any authority text: the fallible builders never
// panic, agree with each other on what they refuse, and build exactly the
// documented texts; the panicking builders agree with them wherever those
// succeed.
//
// Input: the party count (2 bytes), then the authority text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cmake/fuzz/fuzz_check.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace st = velto::server_tools;
  velto::fuzz::FuzzInput in(data, size);
  const std::uint16_t n = in.u16();
  const st::HostAuthority host = st::HostAuthority::with_tls(std::string(velto::fuzz::FuzzInput::text(in.rest())));
  const st::RoomUuid room{{0xAB, 0xCD}};
  const velto::crypto::ByteArray<32> client{0x01};

  const auto create = st::try_create_room_uri(host, n);
  const auto join = st::try_join_room_uri(host, room, client, {.op = "ecdsa_sign", .t = 2, .n = n});
  VELTO_FUZZ_CHECK(create.has_value() == join.has_value());
  if (!create) return 0;
  VELTO_FUZZ_CHECK(create->text() == "https://" + host.authority + "/create_room/" + std::to_string(n));
  VELTO_FUZZ_CHECK(join->text() == "wss://" + host.authority + "/join_room/" + st::room_uuid_hex(room) + "/01" +
                                       std::string(62, '0') + "?op=ecdsa_sign&s=ec&t=2&n=" + std::to_string(n) +
                                       "&v=v1.0.3");
  VELTO_FUZZ_CHECK(st::create_room_uri(host, n).text() == create->text());
  VELTO_FUZZ_CHECK(st::join_room_uri(host, room, client, {.op = "ecdsa_sign", .t = 2, .n = n}).text() == join->text());
  return 0;
}
