#include "velto-mpc/schemes/common.hpp"

#include "velto-mpc/ffi/conversions.hpp"
#include "velto-mpc/ffi/mod.hpp"

namespace velto::mpc {

std::expected<KeygenIdentity, VeltoError> init_keygen() {
  HeapOutput id;
  HeapOutput secret;
  const ResultFFI r = velto_init_keygen(id.out(), secret.out());
  auto ok = result_from_ffi(r);
  if (!ok) return std::unexpected(std::move(ok.error()));
  return KeygenIdentity{id.text(), parse_fixed<32>(secret.text())};
}

boost::asio::awaitable<std::expected<std::string, VeltoError>> create_room(std::string host, std::uint16_t n,
                                                                          std::string api_key) {
  auto call = [&](SingleCallback cb, void* ctx) {
    return velto_create_room(const_str(host), n, const_str(api_key), cb, ctx);
  };
  co_return co_await async_ffi_single(call);
}

}  // namespace velto::mpc
