#include "executor/lib/version.hpp"

#include <utility>

#include "sised/codec.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::executor {

namespace asio = boost::asio;

namespace detail {

std::uint8_t announced_code(const crypto::ByteArray<32>& own_public_key) {
  if (&test_seam::announced_version_code != nullptr) {
    if (const auto code = test_seam::announced_version_code(own_public_key)) return *code;
  }
  return wire_code(kAnnouncedVersion);
}

asio::awaitable<std::expected<Version, ExecutorFailure>> negotiate_version_announcing(ProtocolExecutor version_executor,
                                                                                     std::uint8_t own_code) {
  // The executor is a parameter of this coroutine: it is released with the
  // coroutine's frame, on every path.
  const auto channel_failure = [](BoxedError e) {
    return ExecutorFailure(ExecutorErrorKind(ExecutorErrorKind::Executor{std::move(e)}));
  };

  const std::uint8_t announced[] = {own_code};
  if (auto sent = version_executor.send_payload_to_all(outgoing_payload(announced)); !sent)
    co_return std::unexpected(channel_failure(std::move(sent.error())));

  Version agreed = version_from_wire(own_code);
  auto poll = BufferedPoll::start(version_executor, version_executor.parties());
  for (;;) {
    auto received = co_await poll.next<std::uint8_t>();
    if (!received) co_return std::unexpected(channel_failure(std::move(received.error())));
    if (!*received) break;
    const Version theirs = version_from_wire((*received)->value);
    if (theirs <= agreed) agreed = theirs;
  }
  if (agreed < kMinimumVersion)
    co_return std::unexpected(ExecutorFailure(ExecutorErrorKind(ExecutorErrorKind::DeprecatedVersion{agreed})));
  co_return agreed;
}

}  // namespace detail

asio::awaitable<std::expected<Version, ExecutorFailure>> negotiate_version(ProtocolExecutor version_executor) {
  return detail::negotiate_version_announcing(std::move(version_executor), wire_code(kAnnouncedVersion));
}

}  // namespace velto::executor
