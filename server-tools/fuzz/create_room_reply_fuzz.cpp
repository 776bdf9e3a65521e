// The room-creation reply: its body read as text by the declared charset
// (any Content-Type, any bytes), then as a room id. The text is always
// well-formed UTF-8, a body in plain ASCII (so without a byte-order mark)
// reads as itself under UTF-8 and windows-1252, and a reply whose text is
// a room id parses as one.
//
// Input: a length byte and that many bytes of Content-Type (0: no header;
// the length is one more than the header's), then the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cmake/fuzz/fuzz_check.hpp"
#include "server-tools/http_text.hpp"
#include "server-tools/room_uuid.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t header_len = in.u8();
  std::optional<std::string_view> content_type;
  if (header_len != 0) content_type = velto::fuzz::FuzzInput::text(in.bytes(header_len - 1u));
  const auto body = in.rest();

  const std::string text = velto::server_tools::decode_body(body, content_type);
  VELTO_FUZZ_CHECK(velto::fuzz::well_formed_utf8(text));

  const auto encoding = velto::server_tools::content_type_encoding(content_type);
  const std::string_view raw = velto::fuzz::FuzzInput::text(body);
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const bool ascii_encoding = !encoding || *encoding == "utf-8" || *encoding == "windows-1252";
  if (ascii && ascii_encoding) VELTO_FUZZ_CHECK(text == raw);

  auto id = velto::server_tools::parse_room_uuid(text);
  if (id) VELTO_FUZZ_CHECK(text.size() == 32);
  return 0;
}
