#include "velto-ot/base_ot_run.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <type_traits>
#include <utility>

#include <boost/asio/thread_pool.hpp>

#include "velto-mpc-infra/buffered_poll.hpp"

namespace velto::ot {
namespace {

namespace asio = boost::asio;

BaseOtError communication(BoxedError e) { return BaseOtError(BaseOtError::CommunicationError{std::move(e)}); }

// The threads that run the batches' ladders, apart from the runtime's: a
// party's batches (two per peer) are pure computations, so they run in
// parallel while their tasks wait, and a one-thread runtime keeps serving
// messages meanwhile. Built on first use and never shut down, as the runtime.
asio::thread_pool& ladder_pool() {
  static asio::thread_pool* const pool =
      new asio::thread_pool(std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8));
  return *pool;
}

// The pool jobs of one execution context that have not yet handed their
// completion back to it. The context's shutdown waits for them: a job never
// posts to a context that is gone, and never runs while the task frame it
// refers to is destroyed (a completion it posted is destroyed with the
// context's other pending handlers). The jobs are short computations.
class PendingPoolJobs final : public asio::execution_context::service {
 public:
  static inline asio::execution_context::id id;
  explicit PendingPoolJobs(asio::execution_context& ctx) : service(ctx) {}

  void begin() {
    const std::lock_guard lock(mutex_);
    ++count_;
  }
  void end() {
    {
      const std::lock_guard lock(mutex_);
      --count_;
    }
    idle_.notify_all();
  }

 private:
  void shutdown() override {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return count_ == 0; });
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  std::size_t count_ = 0;
};

// Runs f on the ladder pool and resumes the awaiting task on its own
// executor with the result; a panic inside f reaches the task as if f had
// run there. The task's other branches run meanwhile. The wait ignores
// cancellation (f is short and cannot be stopped): a cancelled task notices
// at its next wait. f may refer to the task's locals: the task stays
// suspended until f has returned.
template <class F>
asio::awaitable<std::invoke_result_t<F&>> off_task(F f) {
  using R = std::invoke_result_t<F&>;
  std::optional<R> result;
  std::exception_ptr thrown;
  auto initiate = [&f, &result, &thrown](auto handler) {
    // Keeps the task's executor from running out of work while f runs.
    auto home = asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
    PendingPoolJobs& pending = asio::use_service<PendingPoolJobs>(asio::query(home, asio::execution::context));
    pending.begin();
    asio::post(ladder_pool(), [&f, &result, &thrown, &pending, home, handler = std::move(handler)]() mutable {
      try {
        result.emplace(f());
      } catch (...) {
        thrown = std::current_exception();
      }
      {
        // The executor and its work count are released before the context
        // may go.
        auto to = std::move(home);
        asio::post(to, std::move(handler));
      }
      pending.end();
    });
  };
  co_await asio::async_initiate<const asio::use_awaitable_t<>&, void()>(std::move(initiate), asio::use_awaitable);
  if (thrown) std::rethrow_exception(thrown);
  co_return std::move(*result);
}

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

  auto derive = [&sender, &tag, &message] { return sender.derive_keys(tag, message->values); };
  auto output = co_await off_task(std::move(derive));
  if (!output) co_return std::unexpected(std::move(output.error()));
  std::optional<crypto::ByteArray<32>> batch_key;
  if (transcript == nullptr) batch_key = batch_ot_key(sender.message().bytes(), message->values);
  co_return std::pair(std::move(*output), batch_key);
}

// Both versions of the receiver; with a transcript there is no batch key.
asio::awaitable<std::expected<std::pair<BaseOtReceiverOutput, std::optional<crypto::ByteArray<32>>>, BaseOtError>>
run_receiver(PeerExecutor& executor, Transcript* transcript) {
  // The draws in the task, in their order; the ladders off it. On the heap:
  // the secrets would make the coroutine frame large.
  const UcTag tag = executor.executor().tag();
  const auto draws = std::make_unique<const BaseOtReceiverDraws>(BaseOtReceiverDraws::random(executor.executor().rng()));
  auto build = [&tag, &draws] { return std::make_unique<const BaseOtReceiver>(tag, *draws); };
  const std::unique_ptr<const BaseOtReceiver> receiver = co_await off_task(std::move(build));
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

  auto derive = [&receiver, &sender_message] { return receiver->derive_keys(*sender_message); };
  BaseOtReceiverOutput output = co_await off_task(std::move(derive));
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
