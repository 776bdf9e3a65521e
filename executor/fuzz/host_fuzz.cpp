// The host check of the function interface (the relay's authority text):
// an accepted text is returned unchanged and holds none of the characters
// that end an authority; every accepted text either builds the relay's
// addresses or is refused by the address builders without a panic; and the
// argument decoder reports a refusal as code -2.
//
// Input: the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cmake/fuzz/fuzz_check.hpp"
#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/fuzz/ffi_check.hpp"
#include "server-tools/relay_uri.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto host = velto::executor::parse_host_authority(text);
  auto arg = velto::executor::ffi::host_arg(velto::fuzz::const_str(text));
  VELTO_FUZZ_CHECK(host.has_value() == arg.has_value());
  if (!host) return 0;
  VELTO_FUZZ_CHECK(*host == text && !text.empty());
  VELTO_FUZZ_CHECK(text.find_first_of("/?# ") == std::string_view::npos);
  VELTO_FUZZ_CHECK(arg->authority == text && arg->tls);
  (void)velto::server_tools::try_create_room_uri(*arg, 3);
  (void)velto::server_tools::try_join_room_uri(*arg, {}, {}, {.op = "ecdsa_keygen", .t = 2, .n = 3});
  return 0;
}
