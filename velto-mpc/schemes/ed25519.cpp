#include "velto-mpc/schemes/ed25519.hpp"

#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/ffi/mod.hpp"

namespace velto::mpc {

Ed25519PublicKey Ed25519PublicKey::parse_ffi(std::string_view text) { return {parse_fixed<32>(text)}; }

std::expected<Ed25519PublicKey, VeltoError> Ed25519::derive_pubkey(const std::string& secret_share,
                                                                   const std::vector<std::uint32_t>& path) const {
  HeapOutput out;
  const ResultFFI r = velto_ed25519_derive_pubkey(const_str(secret_share), u32_array(path), out.out());
  return ok_and(r, out, [](const std::string& t) { return Ed25519PublicKey::parse_ffi(t); });
}

std::expected<std::string, VeltoError> Ed25519::export_id(const std::string& secret_share) const {
  HeapOutput out;
  const ResultFFI r = velto_ed25519_get_export_id(const_str(secret_share), out.out());
  return ok_and(r, out, [](std::string t) { return t; });
}

}  // namespace velto::mpc
