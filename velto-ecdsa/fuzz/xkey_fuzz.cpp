// xpub and xprv texts: an accepted xpub is exactly the text its writer makes
// (strict compressed key), an accepted xprv reads back from its writer's
// text, public derivation from a parsed xpub never panics and keeps the
// depth count, and the function-interface calls on such texts follow their
// parsers.
//
// Input: see cmake/fuzz/key_text.hpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "cmake/fuzz/key_text.hpp"
#include "velto-ecdsa/bip32.hpp"

namespace {

namespace ecdsa = velto::ecdsa;

void check_xpub(const std::string& text, const std::vector<std::uint32_t>& path) {
  auto xpub = ecdsa::parse_xpub(text);
  if (!xpub) return;
  VELTO_FUZZ_CHECK(ecdsa::xpub_to_string(*xpub) == text);
  auto derived = ecdsa::derive_child_pubkey_path(*xpub, path);
  if (!derived) return;
  VELTO_FUZZ_CHECK(derived->xpub.depth == xpub->depth + path.size());
  if (path.empty()) VELTO_FUZZ_CHECK(derived->xpub == *xpub);
  // A derived key writes and reads back.
  auto again = ecdsa::parse_xpub(ecdsa::xpub_to_string(derived->xpub));
  VELTO_FUZZ_CHECK(again && *again == derived->xpub);
}

void check_xpriv(const std::string& text) {
  auto xpriv = ecdsa::parse_xpriv(text);
  if (!xpriv) return;
  const std::string written = ecdsa::xprv_to_string(*xpriv);
  VELTO_FUZZ_CHECK(written.size() <= 112);
  auto again = ecdsa::parse_xpriv(written);
  VELTO_FUZZ_CHECK(again && *again == *xpriv);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const velto::fuzz::KeyTextInput key = velto::fuzz::read_key_text(in);
  if (key.private_form) {
    check_xpriv(key.text);
  } else {
    check_xpub(key.text, key.path);
  }
  return 0;
}
