// What the scheme objects of the binding share: the keygen identity and room
// creation, neither of which depends on the scheme.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <array>
#include <cstdint>
#include <expected>
#include <string>

#include "velto-mpc/error.hpp"

namespace velto::mpc {

struct KeygenIdentity {
  std::string keygen_id;
  std::array<std::uint8_t, 32> keygen_secret;
};

// Shared by both schemes: a fresh keygen identity (the host is not used).
std::expected<KeygenIdentity, VeltoError> init_keygen();
// A new room of n parties on the relay at `host`; the room id as delivered.
boost::asio::awaitable<std::expected<std::string, VeltoError>> create_room(std::string host, std::uint16_t n,
                                                                          std::string api_key);

}  // namespace velto::mpc
