// The function-interface calls on extended-key texts, the ECDSA ones (xpub,
// xprv) and the Ed25519 ones (spub, spriv) alike: never a panic, nothing
// stored on failure, a private text never in an error message, and success
// only for texts their parsers accept.
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
#include "velto-frost-ed25519/spub.hpp"

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
    auto ed = velto::fuzz::call_local(
        [&](HeapString* o) { return velto_ed25519_derive_private_key_from_spriv(arg, p, o); }, text);
    if (ed) VELTO_FUZZ_CHECK(velto::frost::parse_spriv(text).has_value());
  } else {
    auto out = velto::fuzz::call_local(
        [&](HeapString* o) { return velto_ecdsa_derive_pubkey_from_xpub(arg, p, o); });
    if (out) VELTO_FUZZ_CHECK(velto::ecdsa::parse_xpub(text).has_value());
    auto ed = velto::fuzz::call_local(
        [&](HeapString* o) { return velto_ed25519_derive_pubkey_from_spub(arg, p, o); });
    if (ed) VELTO_FUZZ_CHECK(velto::frost::parse_spub(text).has_value());
  }
  return 0;
}
