// The executor manager: the one task per operation between the operation's
// executors and its link to the other parties.
//
// It reads the executors' commands (ManagerMessage) and the messages that
// arrive over the link, and
// - routes every incoming message by its UcTag to the executor registered for
//   it, holding messages whose tag nobody has registered (yet);
// - turns every outgoing command into one link send per recipient, with the
//   tag appended to the payload;
// - keeps the tag registry consistent.
// Commands have priority over incoming messages. Each command or message is
// handled completely (hand-offs and sends awaited) before the next one is
// read, so every frame queued by an executor has been sent and flushed
// before the manager closes the link. The manager ends with success once
// every executor is released, or at the first ManagerError.
//
// Every message held (for an unregistered tag, or handed to an executor and
// not yet taken) is charged to the operation's inbound account; a message
// that takes it over its byte budget ends the run with the limit error of
// where it would go: TooManyPendingUCTags / TooManyPendingMessagesPerTag for
// an unregistered tag, FailedToSendToExecutor for a registered one (its
// executor holds more than the operation may).
//
// Outcomes a peer can cause are never crashes: a message for an executor that
// has just been released (its inbound channel closed) is dropped; messages
// still held for tags nobody registered are dropped when the operation ends
// normally, which stays a success.
#pragma once

#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <string>
#include <unordered_map>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto {

// Why a manager ended. Debug form: the variant name; CommunicationError
// shows the wrapped error's debug form in parentheses.
class ManagerError final : public Error {
 public:
  enum class Kind : std::uint8_t {
    CommunicationError,            // the link failed; display = the link error's display
    ReceivedAnUnexpectedMessage,   // a plaintext shorter than a tag, or from ourselves
    FailedToSendToExecutor,        // an inbound channel stayed full for 100 ms
    TooManyPendingUCTags,          // a message for one unregistered tag too many
    TooManyPendingMessagesPerTag,  // one message too many for an unregistered tag
  };

  static ManagerError communication(BoxedError inner) { return ManagerError(Kind::CommunicationError, std::move(inner)); }
  // Any kind but CommunicationError.
  explicit ManagerError(Kind kind) : kind_(kind) {}

  Kind kind() const noexcept { return kind_; }
  const BoxedError& inner() const noexcept { return inner_; }

  std::string display() const override;
  std::string debug() const override;
  const Error* source() const noexcept override { return inner_.get(); }

 private:
  ManagerError(Kind kind, BoxedError inner) : kind_(kind), inner_(std::move(inner)) {}

  Kind kind_;
  BoxedError inner_;
};

using ManagerResult = std::expected<void, ManagerError>;

class ExecutorManager {
 public:
  // Takes over the builder's link, manager channel and limits (the limits in
  // force for its party count). An unbuilt builder is a programming error
  // (panic "build_executor must be called before launch! Bug!").
  static ExecutorManager launch(ExecutorBuilder& builder);

  ExecutorManager(ExecutorManager&&) noexcept = default;
  ExecutorManager(const ExecutorManager&) = delete;

  // The manager loop. Await it once, on a strand (spawn_executor_manager
  // does both); the manager must stay alive until it completes.
  boost::asio::awaitable<ManagerResult> run();

 private:
  using Incoming = std::expected<ReceivedPlaintext, BoxedError>;

  ExecutorManager(std::shared_ptr<Communicator> link, async::Receiver<ManagerMessage> commands,
                  ExecutorLimits limits);

  boost::asio::awaitable<ManagerResult> loop(async::Notify& wake, async::Receiver<Incoming>& incoming);
  boost::asio::awaitable<ManagerResult> handle(ManagerMessage command);
  boost::asio::awaitable<ManagerResult> receive(ReceivedPlaintext in);
  boost::asio::awaitable<ManagerResult> register_executor(manager_message::Register command);
  void deregister(const UcTag& tag);
  boost::asio::awaitable<ManagerResult> send(manager_message::Send command);
  boost::asio::awaitable<ManagerResult> send_to_all(manager_message::SendToAll command);
  boost::asio::awaitable<ManagerResult> hand_off(async::Sender<ProtocolReceivedMessage>& route,
                                                 ProtocolReceivedMessage message, bool& delivered);
  void release_state();

  std::shared_ptr<Communicator> link_;
  async::Receiver<ManagerMessage> commands_;
  ExecutorLimits limits_;
  std::shared_ptr<InboundAccount> account_;
  PartyId my_party_id_;
  std::unordered_map<UcTag, PartyList> party_lists_;
  std::unordered_map<UcTag, std::deque<ProtocolReceivedMessage>> pending_;
  std::unordered_map<UcTag, async::Sender<ProtocolReceivedMessage>> routes_;
};

// Starts the manager task of an operation: it takes the builder, launches
// the manager on its first run and runs it; the handle yields the manager's
// result (or the join error of a panic). The first overload runs on the
// runtime of the calling worker thread.
async::JoinHandle<ManagerResult> spawn_executor_manager(ExecutorBuilder builder);
async::JoinHandle<ManagerResult> spawn_executor_manager(const boost::asio::any_io_executor& ex,
                                                        ExecutorBuilder builder);

}  // namespace velto
