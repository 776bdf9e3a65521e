// The Ed25519 scheme object of the binding: the relay host text and the
// library calls that are not protocol runs (keygen identity, room creation,
// public-key derivation and the export id).
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "velto-mpc/error.hpp"
#include "velto-mpc/schemes/common.hpp"

namespace velto::mpc {

// The 32-byte compressed Edwards point of an Ed25519 key.
struct Ed25519PublicKey {
  std::array<std::uint8_t, 32> bytes;
  static Ed25519PublicKey parse_ffi(std::string_view text);
};

class Ed25519 {
 public:
  explicit Ed25519(std::string host_url) : host_url_(std::move(host_url)) {}
  const std::string& host_url() const noexcept { return host_url_; }

  std::expected<KeygenIdentity, VeltoError> init_keygen() const { return mpc::init_keygen(); }
  boost::asio::awaitable<std::expected<std::string, VeltoError>> create_room(std::uint16_t n,
                                                                            std::string api_key) const {
    return mpc::create_room(host_url_, n, std::move(api_key));
  }
  std::expected<Ed25519PublicKey, VeltoError> derive_pubkey(const std::string& secret_share,
                                                            const std::vector<std::uint32_t>& path) const;
  std::expected<std::string, VeltoError> export_id(const std::string& secret_share) const;

 private:
  std::string host_url_;
};

}  // namespace velto::mpc
