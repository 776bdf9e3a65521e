#include "velto-ot/base_ot_run.hpp"

#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::ot {
namespace {

namespace asio = boost::asio;

BaseOtError communication(BoxedError e) { return BaseOtError(BaseOtError::CommunicationError{std::move(e)}); }

// The peer's one message on this executor, undecoded.
asio::awaitable<std::expected<crypto::Bytes, BoxedError>> receive_from_peer(PeerExecutor& executor) {
  const PartyId peer = executor.peer();
  auto poll = BufferedPoll::start(executor.executor(), std::span<const PartyId>(&peer, 1));
  auto message = co_await poll.next_message();
  if (!message) co_return std::unexpected(std::move(message.error()));
  if (!*message) velto::panic("The base OT peer is the party itself. Bug!");
  co_return std::move((*message)->payload);
}

// Both versions of the sender; with a transcript there is no batch key.
asio::awaitable<std::expected<std::pair<BaseOtSenderOutput, std::optional<crypto::ByteArray<32>>>, BaseOtError>>
run_sender(PeerExecutor& executor, Transcript* transcript) {
  const UcTag tag = executor.executor().tag();
  const BaseOtSender sender = BaseOtSender::random(executor.executor().rng());
  if (auto sent = executor.send(sender.message()); !sent) co_return std::unexpected(communication(sent.error()));
  if (transcript != nullptr) {
    transcript->append(sender.message().curve_point);
    transcript->append(sender.message().twist_point);
  }

  auto payload = co_await receive_from_peer(executor);
  if (!payload) co_return std::unexpected(communication(std::move(payload.error())));
  auto message = decode_receiver_message(*payload);
  if (!message) co_return std::unexpected(std::move(message.error()));
  if (transcript != nullptr) transcript->append(*message);

  auto output = sender.derive_keys(tag, message->values);
  if (!output) co_return std::unexpected(std::move(output.error()));
  std::optional<crypto::ByteArray<32>> batch_key;
  if (transcript == nullptr) batch_key = batch_ot_key(sender.message().bytes(), message->values);
  co_return std::pair(std::move(*output), batch_key);
}

// Both versions of the receiver; with a transcript there is no batch key.
asio::awaitable<std::expected<std::pair<BaseOtReceiverOutput, std::optional<crypto::ByteArray<32>>>, BaseOtError>>
run_receiver(PeerExecutor& executor, Transcript* transcript) {
  // On the heap: the secrets would make the coroutine frame large.
  const auto receiver = std::make_unique<const BaseOtReceiver>(
      BaseOtReceiver::random(executor.executor().tag(), executor.executor().rng()));
  if (auto sent = executor.send(receiver->message()); !sent) co_return std::unexpected(communication(sent.error()));

  auto payload = co_await receive_from_peer(executor);
  if (!payload) co_return std::unexpected(communication(std::move(payload.error())));
  auto sender_message = decode_sender_message(*payload);
  if (!sender_message) co_return std::unexpected(std::move(sender_message.error()));
  if (transcript != nullptr) {
    transcript->append(sender_message->curve_point);
    transcript->append(sender_message->twist_point);
    transcript->append(receiver->message());
  }

  BaseOtReceiverOutput output = receiver->derive_keys(*sender_message);
  std::optional<crypto::ByteArray<32>> batch_key;
  if (transcript == nullptr) batch_key = batch_ot_key(sender_message->bytes(), receiver->values());
  co_return std::pair(std::move(output), batch_key);
}

}  // namespace

PeerExecutor base_ot_subsession(const PeerExecutor& parent) { return parent.child(kBaseOtLabel); }

asio::awaitable<std::expected<BaseOtSenderResult, BaseOtError>> base_ot_sender(PeerExecutor& executor) {
  auto r = co_await run_sender(executor, nullptr);
  if (!r) co_return std::unexpected(std::move(r.error()));
  co_return BaseOtSenderResult{std::move(r->first), *r->second};
}

asio::awaitable<std::expected<BaseOtReceiverResult, BaseOtError>> base_ot_receiver(PeerExecutor& executor) {
  auto r = co_await run_receiver(executor, nullptr);
  if (!r) co_return std::unexpected(std::move(r.error()));
  co_return BaseOtReceiverResult{std::move(r->first), *r->second};
}

asio::awaitable<std::expected<BaseOtSenderOutput, BaseOtError>> base_ot_sender(PeerExecutor& executor,
                                                                             Transcript& transcript) {
  auto r = co_await run_sender(executor, &transcript);
  if (!r) co_return std::unexpected(std::move(r.error()));
  co_return std::move(r->first);
}

asio::awaitable<std::expected<BaseOtReceiverOutput, BaseOtError>> base_ot_receiver(PeerExecutor& executor,
                                                                                 Transcript& transcript) {
  auto r = co_await run_receiver(executor, &transcript);
  if (!r) co_return std::unexpected(std::move(r.error()));
  co_return std::move(r->first);
}

}  // namespace velto::ot
