// The executor's own protocol messages: the reshare and import
// announcement (an optional group key and chain code) re-encodes byte for
// byte, and the version byte of the agreement decodes from every value and
// keeps its code.
//
// Input: a selector byte, then the message.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "cmake/fuzz/fuzz_check.hpp"
#include "executor/ecdsa/latest/handlers.hpp"
#include "executor/lib/version.hpp"
#include "sised/fuzz/roundtrip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using velto::fuzz::Encoding;
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t selector = in.u8();
  const velto::crypto::ByteSpan body = in.rest();
  if (selector & 1) {
    velto::fuzz::sised_roundtrip<velto::executor::PublicKeyAndChaincode>(body, Encoding::Canonical);
  } else {
    velto::fuzz::sised_roundtrip<std::optional<velto::executor::PublicKeyAndChaincode>>(body, Encoding::Canonical);
  }
  if (!body.empty()) {
    const auto v = velto::executor::version_from_wire(body[0]);
    VELTO_FUZZ_CHECK(velto::executor::wire_code(v) == body[0]);
  }
  return 0;
}
