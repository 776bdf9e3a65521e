// The function-interface calls on xpub and xprv texts: never a panic,
// nothing stored on failure, the xprv text never in an error message, and
// success only for texts their parsers accept.
//
// Input: see cmake/fuzz/key_text.hpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "cmake/fuzz/key_text.hpp"
#include "executor/bindings/velto.h"
#include "executor/fuzz/ffi_check.hpp"
#include "velto-ecdsa/bip32.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const velto::fuzz::KeyTextInput key = velto::fuzz::read_key_text(in);
  const std::string& text = key.text;
  const ConstStr arg = velto::fuzz::const_str(text);
  const U32Array p{key.path.data(), key.path.size()};
  if (key.private_form) {
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
