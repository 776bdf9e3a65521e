// Joint UC-tag generation: every party contributes 32 random bytes and all
// derive the same fresh tag from the parent tag and every contribution.
#pragma once

#include <expected>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto {

inline constexpr std::string_view kGenerateUcTagContext = "VELTO Generating UCTag V0";

// Runs the generation with every party of `executor` under its tag and
// yields a new executor (same parties, own id, manager link, seed key and
// capacity) on the generated tag:
//   J   = BLAKE3 derive-key "VELTO Generating UCTag V0" over, for every party
//         in ascending id order, id (2 bytes LE) ‖ its 32 bytes;
//   tag = joint_uc_tag(parent, J).
// Each party's 32 bytes are drawn from the executor's generator and sent raw
// to all others; a received value is the first 32 bytes of the message.
// The given executor is released at the end, on success and on failure.
// Errors (boxed): ExecutorChannelError, or SisedError OutOfBounds for a value
// shorter than 32 bytes.
boost::asio::awaitable<std::expected<ProtocolExecutor, BoxedError>> generate_uc_tag(ProtocolExecutor executor);

}  // namespace velto
