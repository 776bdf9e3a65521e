// Stored Ed25519 shares (tags 0 to 2) and exportable Ed25519 shares: whatever
// decodes survives its own encoding, V1 and V2 shares upgrade to a usable
// FROST key share or fail with an error, and child derivation of a decoded
// share never panics.
//
// Input: a mode byte (bit 0: exportable record), a derivation path (a count
// byte, then 4 bytes per index), then the record bytes (hex-encoded for the
// reader).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/codec.hpp"
#include "executor/ed25519_share.hpp"

namespace {

namespace ex = velto::executor;

void check_ed25519(const std::string& text, const std::vector<std::uint32_t>& path) {
  auto share = ex::ed25519_share_decode(text);
  if (!share) return;
  const std::string encoded = ex::ed25519_share_encode(*share);
  auto again = ex::ed25519_share_decode(encoded);
  VELTO_FUZZ_CHECK(again && *again == *share && again->tag() == share->tag());
  VELTO_FUZZ_CHECK(ex::ed25519_share_encode(*again) == encoded);

  auto key_share = ex::ed25519_share_to_keypair(*share);
  // Only the fixed-width records can hold party counts no key share holds.
  if (share->tag() == ex::Ed25519ShareTag::Latest) VELTO_FUZZ_CHECK(key_share.has_value());
  if (share->tag() == ex::Ed25519ShareTag::V1) {
    const auto& v1 = std::get<ex::Ed25519SecretShareV1>(share->key_share);
    const auto v2 = ex::ed25519_share_upgrade_v1_v2(v1);
    VELTO_FUZZ_CHECK(v2.public_key == v1.public_key && v2.party_id == v1.party_id);
  }
  auto child = ex::ed25519_share_derive_child(*share, path);
  if (child && key_share && path.empty()) VELTO_FUZZ_CHECK(child->key_share == **key_share);
}

void check_exportable(const std::string& text) {
  auto share = ex::exportable_ed25519_share_decode(text);
  if (!share) return;
  const std::string encoded = ex::exportable_ed25519_share_encode(*share);
  auto again = ex::exportable_ed25519_share_decode(encoded);
  VELTO_FUZZ_CHECK(again && *again == *share);
  VELTO_FUZZ_CHECK(ex::exportable_ed25519_share_encode(*again) == encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t mode = in.u8();
  const std::vector<std::uint32_t> path = in.path(4);
  const std::string text = velto::crypto::hex_encode(in.rest());
  if (mode & 1) {
    check_exportable(text);
  } else {
    check_ed25519(text, path);
  }
  return 0;
}
