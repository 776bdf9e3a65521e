// Stored ECDSA shares (tags 0 to 3): whatever decodes survives its own
// encoding (decode, encode, decode gives the same share and the same text),
// the key-pair conversions and child derivation of a decoded share never
// panic, and the local functions that take a share text never report a
// panic, store nothing on failure and keep the share text out of their
// error messages.
//
// Input: a mode byte, a derivation path (a count byte, then 4 bytes per
// index), then the record bytes, hex-encoded for the call (upper case when
// the mode says so), or taken as the text itself in text mode.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/codec.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/velto.h"
#include "executor/ecdsa_share.hpp"
#include "executor/fuzz/ffi_check.hpp"

namespace {

namespace ex = velto::executor;
using velto::fuzz::call_local;
using velto::fuzz::const_str;

void check_share_functions(const std::string& text, const std::vector<std::uint32_t>& path, bool decodes) {
  const ConstStr share = const_str(text);
  const U32Array p{path.data(), path.size()};
  auto xpub = call_local([&](HeapString* out) { return velto_ecdsa_get_xpub(share, out); }, text);
  auto export_id = call_local([&](HeapString* out) { return velto_ecdsa_get_export_id(share, out); }, text);
  auto pubkey = call_local([&](HeapString* out) { return velto_ecdsa_derive_pubkey(share, p, out); }, text);
  // Every share that decodes has an xpub and an export id.
  VELTO_FUZZ_CHECK(xpub.has_value() == decodes);
  VELTO_FUZZ_CHECK(export_id.has_value() == decodes);
  // The uncompressed child key, 130 hex digits.
  if (pubkey) VELTO_FUZZ_CHECK(decodes && pubkey->size() == 130);

  // The offline export of one share alone (a 1-of-1 key only).
  const ConstStr one[] = {share};
  (void)call_local(
      [&](HeapString* out) { return velto_ecdsa_offline_export_full_private_key(ConstStrArray{one, 1}, out); }, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t mode = in.u8();
  const std::vector<std::uint32_t> path = in.path(4);
  const auto record = in.rest();
  std::string text;
  if (mode & 1) {
    text = velto::fuzz::FuzzInput::text(record);
  } else {
    text = velto::crypto::hex_encode(record);
    if (mode & 2) std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  }

  auto share = ex::ecdsa_share_decode(text);
  if (share) {
    const std::string encoded = ex::ecdsa_share_encode(*share);
    auto again = ex::ecdsa_share_decode(encoded);
    VELTO_FUZZ_CHECK(again && *again == *share);
    VELTO_FUZZ_CHECK(ex::ecdsa_share_encode(*again) == encoded);
    VELTO_FUZZ_CHECK(again->tag() == share->tag());

    // Conversions of every tag: the current engine's key pair always, the
    // protocol-1.1.0 one for all but Latest.
    const auto keypair = ex::ecdsa_share_to_keypair(*share);
    VELTO_FUZZ_CHECK(keypair->party_id == ex::ecdsa_share_to_keypair(*again)->party_id);
    const auto v4 = ex::ecdsa_share_to_keypair_v4(*share);
    VELTO_FUZZ_CHECK(v4.has_value() == (share->tag() != ex::EcdsaShareTag::Latest));
    auto child = ex::ecdsa_share_derive_child(*share, path);
    if (path.empty() && child) VELTO_FUZZ_CHECK(child->key_pair == *keypair);
  }
  check_share_functions(text, path, share.has_value());
  return 0;
}
