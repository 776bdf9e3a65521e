// Room ids as text: parse_room_uuid against a reference reader (accepted
// texts, and the kind and position of every refusal), the lower-case round
// trip, and the join address built from any parsed id.
//
// Input: the text.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cmake/fuzz/fuzz_check.hpp"
#include "server-tools/relay_uri.hpp"
#include "server-tools/room_uuid.hpp"

namespace {

namespace st = velto::server_tools;

bool is_hex(unsigned char c) { return std::isxdigit(c) != 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto id = st::parse_room_uuid(text);

  // Odd length, then a length other than 32, then the first non-digit.
  if (size % 2 != 0) {
    VELTO_FUZZ_CHECK(!id && id.error().kind() == st::RoomUuidParseError::Kind::OddLength);
    return 0;
  }
  if (size != 32) {
    VELTO_FUZZ_CHECK(!id && id.error().kind() == st::RoomUuidParseError::Kind::InvalidStringLength);
    VELTO_FUZZ_CHECK(id.error().length() == size);
    return 0;
  }
  const auto bad = std::find_if(text.begin(), text.end(), [](char c) { return !is_hex(static_cast<unsigned char>(c)); });
  if (bad != text.end()) {
    const auto index = static_cast<std::size_t>(bad - text.begin());
    VELTO_FUZZ_CHECK(!id && id.error().kind() == st::RoomUuidParseError::Kind::InvalidHexCharacter);
    VELTO_FUZZ_CHECK(id.error().index() == index);
    VELTO_FUZZ_CHECK(id.error().character() == static_cast<char32_t>(static_cast<unsigned char>(*bad)));
    VELTO_FUZZ_CHECK(!id.error().display().empty());
    return 0;
  }
  VELTO_FUZZ_CHECK(id.has_value());
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  VELTO_FUZZ_CHECK(st::room_uuid_hex(*id) == lower);
  auto back = st::parse_room_uuid(lower);
  VELTO_FUZZ_CHECK(back && *back == *id);

  const auto uri = st::join_room_uri(st::HostAuthority::with_tls("relay.example:443"), *id, {}, {.op = "ecdsa_sign"});
  VELTO_FUZZ_CHECK(uri.path_and_query.find(lower) != std::string::npos);
  return 0;
}
