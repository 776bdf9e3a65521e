#include "velto-mpc-infra/manager.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include "velto-mpc-infra/async/duration.hpp"

namespace asio = boost::asio;

namespace velto {

// ---------------------------------------------------------------------------
// ManagerError

std::string ManagerError::display() const {
  switch (kind_) {
    case Kind::CommunicationError: return inner_ ? inner_->display() : std::string();
    case Kind::ReceivedAnUnexpectedMessage: return "Received an unexpected message from the communicator";
    case Kind::FailedToSendToExecutor:
      return "Failed to send ProtocolReceivedMessage to executor, channel full, timeout: " +
             async::format_duration(kHandOffTimeout);
    case Kind::TooManyPendingUCTags: return "Too many pending messages with unregistered UC tag";
    case Kind::TooManyPendingMessagesPerTag: return "Too many pending messages for a single unregistered UC tag";
  }
  return {};
}

std::string ManagerError::debug() const {
  switch (kind_) {
    case Kind::CommunicationError: return "CommunicationError(" + (inner_ ? inner_->debug() : std::string()) + ")";
    case Kind::ReceivedAnUnexpectedMessage: return "ReceivedAnUnexpectedMessage";
    case Kind::FailedToSendToExecutor: return "FailedToSendToExecutor";
    case Kind::TooManyPendingUCTags: return "TooManyPendingUCTags";
    case Kind::TooManyPendingMessagesPerTag: return "TooManyPendingMessagesPerTag";
  }
  return {};
}

// ---------------------------------------------------------------------------

namespace {

ManagerResult fail(ManagerError::Kind kind) { return std::unexpected(ManagerError(kind)); }

// Reads the link one message ahead of the manager: each message (or the
// link's error, after which it stops) waits in `out` until the manager takes
// it. Stopped by the manager through cancellation.
asio::awaitable<void> read_link(std::shared_ptr<Communicator> link,
                                async::Sender<std::expected<ReceivedPlaintext, BoxedError>> out) {
  for (;;) {
    auto next = co_await link->receive_next();
    const bool failed = !next.has_value();
    const bool taken = co_await out.send(std::move(next));
    if (!taken || failed) co_return;
  }
}

}  // namespace

ExecutorManager::ExecutorManager(std::shared_ptr<Communicator> link, async::Receiver<ManagerMessage> commands,
                                 ExecutorLimits limits)
    : link_(std::move(link)),
      commands_(std::move(commands)),
      limits_(limits),
      account_(budgeted_account(*link_, limits_.max_held_bytes)),
      my_party_id_(link_->my_party_id()) {}

ExecutorManager ExecutorManager::launch(ExecutorBuilder& builder) {
  if (builder.state_ != ExecutorBuilder::State::Built) panic("build_executor must be called before launch! Bug!");
  builder.state_ = ExecutorBuilder::State::Launched;
  const ExecutorLimits limits = builder.limits();
  return ExecutorManager(std::move(builder.communicator), std::move(builder.manager_receiver), limits);
}

asio::awaitable<ManagerResult> ExecutorManager::run() {
  auto wake = async::Notify::create();
  commands_.set_notify(wake);
  auto [incoming_tx, incoming_rx] = async::channel<Incoming>(1);
  incoming_rx.set_notify(wake);

  // The reader shares this task's strand; its end is reported through
  // `reader_done` so that the link outlives it.
  auto [reader_done_tx, reader_done_rx] = async::oneshot<bool>();
  asio::cancellation_signal stop_reader;
  auto on_reader_end = [done = std::move(reader_done_tx)](std::exception_ptr) mutable { done.send(true); };
  auto ex = co_await asio::this_coro::executor;
  asio::co_spawn(ex, read_link(link_, std::move(incoming_tx)),
                 asio::bind_cancellation_slot(stop_reader.slot(), std::move(on_reader_end)));

  std::optional<ManagerResult> result;
  std::exception_ptr panicked;
  try {
    result = co_await loop(*wake, incoming_rx);
  } catch (...) {
    panicked = std::current_exception();
  }

  // Stop the reader: a reader waiting to hand over a message finds the
  // channel closed, one waiting on the link is cancelled.
  incoming_rx.reset();
  stop_reader.emit(asio::cancellation_type::terminal);
  (void)co_await reader_done_rx.receive();

  if (panicked) {
    release_state();
    std::rethrow_exception(panicked);
  }
  // Close the link after a failure too, so that the relay sees the
  // connection end cleanly (bounded by the link's own deadline); what is
  // still held is dropped first.
  pending_.clear();
  co_await link_->close();
  if (*result) {
    // Every command, and so every send, had been handled before the close.
    if (!routes_.empty()) panic("Not all parties were deregistered! Bug!");
    // Messages still held were sent for tags this party never registered or
    // had already released (late or extra messages of peers): dropped.
  }
  release_state();
  co_return std::move(*result);
}

asio::awaitable<ManagerResult> ExecutorManager::loop(async::Notify& wake, async::Receiver<Incoming>& incoming) {
  for (;;) {
    auto command = commands_.try_receive();
    if (command) {
      auto handled = co_await handle(std::move(*command));
      if (!handled) co_return handled;
      continue;
    }
    // The end of the manager channel: every executor has been released.
    if (command.error() == async::RecvFailure::Closed) co_return ManagerResult{};

    auto frame = incoming.try_receive();
    if (frame) {
      if (!*frame) co_return std::unexpected(ManagerError::communication(std::move(frame->error())));
      auto handled = co_await receive(std::move(**frame));
      if (!handled) co_return handled;
      continue;
    }
    if (frame.error() == async::RecvFailure::Closed) {
      // The reader ended without reporting an error (the link threw).
      co_return std::unexpected(ManagerError::communication(box_error<TextError>("The link's reader ended")));
    }
    co_await wake.wait();
  }
}

asio::awaitable<ManagerResult> ExecutorManager::handle(ManagerMessage command) {
  if (auto* r = std::get_if<manager_message::Register>(&command)) {
    auto out = co_await register_executor(std::move(*r));
    co_return out;
  }
  if (auto* d = std::get_if<manager_message::Deregister>(&command)) {
    deregister(d->tag);
    co_return ManagerResult{};
  }
  if (auto* s = std::get_if<manager_message::Send>(&command)) {
    auto out = co_await send(std::move(*s));
    co_return out;
  }
  auto out = co_await send_to_all(std::move(std::get<manager_message::SendToAll>(command)));
  co_return out;
}

asio::awaitable<ManagerResult> ExecutorManager::hand_off(async::Sender<ProtocolReceivedMessage>& route,
                                                         ProtocolReceivedMessage message, bool& delivered) {
  const auto outcome = co_await route.send_timeout(std::move(message), kHandOffTimeout);
  delivered = outcome == async::SendOutcome::Sent;
  if (outcome == async::SendOutcome::TimedOut) co_return fail(ManagerError::Kind::FailedToSendToExecutor);
  // Closed: the executor was released and its Deregister is still queued;
  // the message cannot be delivered and is dropped.
  co_return ManagerResult{};
}

asio::awaitable<ManagerResult> ExecutorManager::receive(ReceivedPlaintext in) {
  if (in.plaintext.size() < kTagSize) co_return fail(ManagerError::Kind::ReceivedAnUnexpectedMessage);
  const std::size_t payload_size = in.plaintext.size() - kTagSize;
  crypto::ByteArray<32> tag_bytes;
  std::copy_n(in.plaintext.begin() + static_cast<std::ptrdiff_t>(payload_size), kTagSize, tag_bytes.begin());
  const UcTag tag(tag_bytes);
  in.plaintext.resize(payload_size);
  if (in.sender == my_party_id_) co_return fail(ManagerError::Kind::ReceivedAnUnexpectedMessage);

  HeldBytes held(account_, payload_size);
  const bool over_budget = held.over_budget();
  ProtocolReceivedMessage message{std::move(in.plaintext), in.sender, std::move(held)};
  if (auto route = routes_.find(tag); route != routes_.end()) {
    if (over_budget) co_return fail(ManagerError::Kind::FailedToSendToExecutor);
    bool delivered = false;
    auto out = co_await hand_off(route->second, std::move(message), delivered);
    co_return out;
  }
  if (auto held = pending_.find(tag); held != pending_.end()) {
    if (held->second.size() >= limits_.max_pending_messages_per_tag || over_budget)
      co_return fail(ManagerError::Kind::TooManyPendingMessagesPerTag);
    held->second.push_back(std::move(message));
    co_return ManagerResult{};
  }
  if (pending_.size() >= limits_.max_pending_uc_tags || over_budget)
    co_return fail(ManagerError::Kind::TooManyPendingUCTags);
  pending_[tag].push_back(std::move(message));
  co_return ManagerResult{};
}

asio::awaitable<ManagerResult> ExecutorManager::register_executor(manager_message::Register command) {
  if (auto known = party_lists_.find(command.tag); known != party_lists_.end()) {
    if (known->second != command.parties && *known->second != *command.parties)
      panic("Parties should be the same! Bug!");
  } else {
    party_lists_.emplace(command.tag, command.parties);
  }
  auto [route, inserted] = routes_.emplace(command.tag, std::move(command.inbound));
  if (!inserted) panic("Already registered! Bug!");

  auto held = pending_.find(command.tag);
  if (held == pending_.end()) co_return ManagerResult{};
  std::deque<ProtocolReceivedMessage> messages = std::move(held->second);
  pending_.erase(held);
  for (auto& message : messages) {
    bool delivered = false;
    auto out = co_await hand_off(route->second, std::move(message), delivered);
    if (!out) co_return out;
    // Released right after registering: the rest cannot be delivered either.
    if (!delivered) break;
  }
  co_return ManagerResult{};
}

void ExecutorManager::deregister(const UcTag& tag) {
  auto route = routes_.find(tag);
  if (route == routes_.end()) panic("Deregister non existing! Bug!");
  routes_.erase(route);
  if (pending_.contains(tag)) panic("Deregistered party with pending messages! Bug!");
}

asio::awaitable<ManagerResult> ExecutorManager::send(manager_message::Send command) {
  if (command.to == my_party_id_) panic("Can't send message to self! Bug!");
  command.payload.insert(command.payload.end(), command.tag.bytes().begin(), command.tag.bytes().end());
  auto sent = co_await link_->send(std::move(command.payload), command.to);
  if (!sent) co_return std::unexpected(ManagerError::communication(std::move(sent.error())));
  co_return ManagerResult{};
}

asio::awaitable<ManagerResult> ExecutorManager::send_to_all(manager_message::SendToAll command) {
  command.payload.insert(command.payload.end(), command.tag.bytes().begin(), command.tag.bytes().end());
  auto list = party_lists_.find(command.tag);
  if (list == party_lists_.end()) panic("no entry found for key");
  const PartyList parties = list->second;
  // The last recipient gets the buffer itself, the others a copy each.
  std::size_t remaining = parties->size() - (std::binary_search(parties->begin(), parties->end(), my_party_id_) ? 1 : 0);
  for (const PartyId to : *parties) {
    if (to == my_party_id_) continue;
    crypto::Bytes plaintext = --remaining == 0 ? std::move(command.payload) : command.payload;
    auto sent = co_await link_->send(std::move(plaintext), to);
    if (!sent) co_return std::unexpected(ManagerError::communication(std::move(sent.error())));
  }
  co_return ManagerResult{};
}

void ExecutorManager::release_state() {
  routes_.clear();
  pending_.clear();
  party_lists_.clear();
  commands_.reset();
  link_.reset();
}

// ---------------------------------------------------------------------------

namespace {

asio::awaitable<ManagerResult> manager_task(ExecutorBuilder builder) {
  auto manager = ExecutorManager::launch(builder);
  auto result = co_await manager.run();
  co_return result;
}

}  // namespace

async::JoinHandle<ManagerResult> spawn_executor_manager(ExecutorBuilder builder) {
  return async::spawn_task(manager_task(std::move(builder)));
}

async::JoinHandle<ManagerResult> spawn_executor_manager(const asio::any_io_executor& ex, ExecutorBuilder builder) {
  return async::spawn_task(ex, manager_task(std::move(builder)));
}

}  // namespace velto
