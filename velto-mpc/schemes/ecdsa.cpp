#include "velto-mpc/schemes/ecdsa.hpp"

#include "velto-mpc/ffi/mod.hpp"

namespace velto::mpc {

std::expected<EcdsaPublicKey, VeltoError> Ecdsa::derive_pubkey(const std::string& secret_share,
                                                               const std::vector<std::uint32_t>& path) const {
  HeapOutput out;
  const ResultFFI r = velto_ecdsa_derive_pubkey(const_str(secret_share), u32_array(path), out.out());
  return ok_and(r, out, [](const std::string& t) { return EcdsaPublicKey::parse_ffi(t); });
}

std::expected<std::array<std::uint8_t, 32>, VeltoError> Ecdsa::derive_private_key_from_xpriv(
    const std::string& xpriv, const std::vector<std::uint32_t>& path) const {
  HeapOutput out;
  const ResultFFI r = velto_ecdsa_derive_private_key_from_xpriv(const_str(xpriv), u32_array(path), out.out());
  return ok_and(r, out, [](const std::string& t) { return parse_fixed<32>(t); });
}

std::expected<std::string, VeltoError> Ecdsa::export_id(const std::string& secret_share) const {
  HeapOutput out;
  const ResultFFI r = velto_ecdsa_get_export_id(const_str(secret_share), out.out());
  return ok_and(r, out, [](std::string t) { return t; });
}

}  // namespace velto::mpc
