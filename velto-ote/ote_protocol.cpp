#include "velto-ote/ote_protocol.hpp"

// GCC 12 inlines Asio's coroutine-frame allocation (aligned_alloc for frames
// too large for the per-thread cache) into the coroutines below and then
// reports the matching frame deallocation as a mismatched delete: a false
// positive of the compiler, silenced for this file only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <span>
#include <utility>

#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::ote {
namespace {

namespace asio = boost::asio;

// The payload with room behind it for the tag the manager appends.
std::expected<void, BoxedError> send_raw(PeerExecutor& executor, crypto::ByteSpan bytes) {
  return executor.executor().send_payload_to(executor.peer(), outgoing_payload(bytes));
}

// The peer's next message on this executor, undecoded.
asio::awaitable<std::expected<crypto::Bytes, BoxedError>> receive_raw(PeerExecutor& executor) {
  const PartyId peer = executor.peer();
  auto poll = BufferedPoll::start(executor.executor(), std::span<const PartyId>(&peer, 1));
  auto message = co_await poll.next_message();
  if (!message) co_return std::unexpected(std::move(message.error()));
  if (!*message) velto::panic("The OT extension peer is the party itself. Bug!");
  co_return std::move((*message)->payload);
}

OteError ote_communication(BoxedError e) { return OteError::CommunicationError{std::move(e)}; }
RoteError rote_communication(BoxedError e) { return RoteError::CommunicationError{std::move(e)}; }

}  // namespace

std::expected<RoteReceiverOutput, CoteError> rote_receiver(PeerExecutor& executor, const FullPprfTrees& trees,
                                                          std::size_t ot_count) {
  RoteReceiverRun run = rote_receiver_run(trees, executor.executor().tag().span(), ot_count);
  if (auto sent = send_raw(executor, run.correction_message); !sent) {
    return std::unexpected(CoteError::CommError{std::move(sent.error())});
  }
  if (auto sent = send_raw(executor, run.check_message); !sent) {
    return std::unexpected(CoteError::CommError{std::move(sent.error())});
  }
  return std::move(run.output);
}

asio::awaitable<std::expected<RoteSenderOutput, OteError>> rote_sender(PeerExecutor& executor,
                                                                     const PuncturedPprfTrees& trees,
                                                                     std::size_t ot_count) {
  RoteSender sender(trees, executor.executor().tag().span(), ot_count);
  auto corrections = co_await receive_raw(executor);
  if (!corrections) co_return std::unexpected(ote_communication(std::move(corrections.error())));
  if (auto r = sender.receive_corrections(*corrections); !r) co_return std::unexpected(std::move(r.error()));
  auto check = co_await receive_raw(executor);
  if (!check) co_return std::unexpected(ote_communication(std::move(check.error())));
  co_return sender.receive_check(*check);
}

asio::awaitable<std::expected<CoteReceiverOutput, RoteError>> cote_receiver(PeerExecutor& executor,
                                                                          const FullPprfTrees& trees,
                                                                          std::size_t ot_count,
                                                                          Transcript& transcript) {
  CoteReceiver receiver(trees, executor.executor().tag().span(), ot_count, transcript);
  if (auto sent = send_raw(executor, receiver.correction_message()); !sent) {
    co_return std::unexpected(rote_communication(std::move(sent.error())));
  }
  auto seeds = co_await receive_raw(executor);
  if (!seeds) co_return std::unexpected(rote_communication(std::move(seeds.error())));
  auto response = receiver.receive_seeds(*seeds, transcript);
  if (!response) co_return std::unexpected(std::move(response.error()));
  if (auto sent = send_raw(executor, *response); !sent) {
    co_return std::unexpected(rote_communication(std::move(sent.error())));
  }
  co_return receiver.take_output();
}

asio::awaitable<std::expected<CoteSenderOutput, OteError>> cote_sender(PeerExecutor& executor,
                                                                     const PuncturedPprfTrees& trees,
                                                                     std::size_t ot_count, Transcript& transcript) {
  CoteSender sender(trees, executor.executor().tag().span(), ot_count, transcript);
  auto corrections = co_await receive_raw(executor);
  if (!corrections) co_return std::unexpected(ote_communication(std::move(corrections.error())));
  if (auto r = sender.receive_corrections(*corrections, transcript); !r) {
    co_return std::unexpected(std::move(r.error()));
  }
  const auto seeds = sender.draw_challenge_seeds(executor.executor().rng(), transcript);
  if (auto sent = send_raw(executor, seeds); !sent) co_return std::unexpected(ote_communication(std::move(sent.error())));
  auto response = co_await receive_raw(executor);
  if (!response) co_return std::unexpected(ote_communication(std::move(response.error())));
  co_return sender.receive_response(*response, transcript);
}

}  // namespace velto::ote
