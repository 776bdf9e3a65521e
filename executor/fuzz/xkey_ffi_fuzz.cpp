// The function-interface calls on xpub and xprv texts: never a panic,
// nothing stored on failure, the xprv text never in an error message, and
// success only for texts their parsers accept.
//
// Input: a mode byte (bit 0: the rest is the text itself; otherwise the
// payload, framed with a valid Base58Check checksum; bit 1: xprv), a
// derivation path, then the text or payload.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/codec.hpp"
#include "executor/bindings/velto.h"
#include "executor/fuzz/ffi_check.hpp"
#include "velto-ecdsa/bip32.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t mode = in.u8();
  const std::vector<std::uint32_t> path = in.path(4);
  const auto rest = in.bytes(200);
  const std::string text = (mode & 1) ? std::string(velto::fuzz::FuzzInput::text(rest))
                                      : velto::crypto::base58check_encode(rest);
  const ConstStr arg = velto::fuzz::const_str(text);
  const U32Array p{path.data(), path.size()};
  if (mode & 2) {
    auto out = velto::fuzz::call_local(
        [&](HeapString* o) { return velto_ecdsa_derive_private_key_from_xpriv(arg, p, o); }, text);
    if (out) VELTO_FUZZ_CHECK(velto::ecdsa::parse_xpriv(text).has_value());
  } else {
    auto out = velto::fuzz::call_local(
        [&](HeapString* o) { return velto_ecdsa_derive_pubkey_from_xpub(arg, p, o); });
    if (out) VELTO_FUZZ_CHECK(velto::ecdsa::parse_xpub(text).has_value());
  }
  return 0;
}
