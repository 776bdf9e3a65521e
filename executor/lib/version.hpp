// Protocol versions and their agreement.
//
// Parties of one session may run different releases of the library. Before a
// protocol starts every party announces the version it speaks as one byte on
// the "Velto Version" child executor; all parties agree on the lowest
// announced version, and the versioned dispatch (dispatch.hpp) runs the
// handler registered for it.
//
// The Version type itself (its codes, display and debug texts) lives with
// the executor failures that print it (executor/error.hpp); the order of
// versions is the order of their wire codes, so a code this build does not
// know (1, 9 to 255) is kept as it is and sorts by its value.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "crypto/bytes.hpp"
#include "executor/error.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

// What this build announces, and the lowest version a session may agree on.
inline constexpr Version kAnnouncedVersion = Version::V1_5_0;
inline constexpr Version kMinimumVersion = Version::V1_1_0;
// The label of the child executor that carries the version bytes.
inline constexpr std::string_view kVersionLabel = "Velto Version";

constexpr std::uint8_t wire_code(Version v) noexcept { return static_cast<std::uint8_t>(v); }
// Every byte decodes: the named codes to their variants, every other code
// (1, 9 to 255) to an unknown version that keeps it.
constexpr Version version_from_wire(std::uint8_t code) noexcept { return static_cast<Version>(code); }

// Agrees the session's version over the "Velto Version" child executor
// (consumed; released, and its tag deregistered, whatever the outcome).
// Sends this build's code to every other party, collects exactly one byte
// from each of them and keeps the lowest (a peer announcing a newer code is
// served at this build's version). Failures: the Executor kind carrying the
// channel error ("The manager channel was closed", "Too many messages have
// came from unexpected parties") or the decoder's error for an empty payload
// ("Out of bounds"); DeprecatedVersion when the lowest code is below
// kMinimumVersion. No timer of its own: it ends when every byte has arrived
// or the manager link closes.
boost::asio::awaitable<std::expected<Version, ExecutorFailure>> negotiate_version(ProtocolExecutor version_executor);

namespace detail {
// The agreement announcing `own_code` (the fold starts from it). Production
// code announces kAnnouncedVersion; the dispatch passes what
// announced_code() gives.
boost::asio::awaitable<std::expected<Version, ExecutorFailure>> negotiate_version_announcing(
    ProtocolExecutor version_executor, std::uint8_t own_code);

// The code a party with this transport public key announces:
// kAnnouncedVersion, unless a test binary has asked otherwise through the
// seam below.
std::uint8_t announced_code(const crypto::ByteArray<32>& own_public_key);
}  // namespace detail

namespace test_seam {
// Defined only by test binaries (executor/tests/announce_seam.cpp): the code
// the party with this transport public key announces instead of this build's
// own, or nothing. Production programs do not define it; the library only
// declares it, weakly and with hidden visibility, so nothing outside the
// program being linked can provide it.
[[gnu::weak, gnu::visibility("hidden")]] std::optional<std::uint8_t> announced_version_code(
    const crypto::ByteArray<32>& own_public_key);
}  // namespace test_seam

}  // namespace velto::executor
