// Channels between tasks: bounded (with a send that can wait, optionally under
// a time limit), unbounded, and one-shot; plus `Notify`, a wake-up permit that
// lets one task wait on several channels at once.
//
// Every handle can be used from any thread. Waits are asynchronous operations
// of Boost.Asio: they suspend the awaiting coroutine and resume it on its own
// executor (the task's strand). A pending wait honours the cancellation of the
// awaiting coroutine (any cancellation type): a cancelled receive takes
// nothing, a cancelled send puts nothing into the channel. This is what makes
// them safe under `timeout`.
//
// Semantics:
// - A channel has any number of senders (copies of a sender count) and one
//   receiver. When the last sender is released, the receiver still gets every
//   value queued before and then the end of the channel.
// - When the receiver is released, the channel is closed for sending: values
//   still queued are destroyed, waiting senders complete with "closed", and
//   later sends fail with `SendFailure::Closed`.
// - Values keep their order per sender; a sender waiting for space is served
//   before later senders (first come, first served).
// - A wait does not count as outstanding work of the executor: the runtime
//   keeps its context running with a work guard of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "velto-mpc-infra/async/timeout.hpp"

namespace velto::async {

enum class RecvFailure : std::uint8_t {
  Empty,   // nothing queued yet, senders remain
  Closed,  // every sender is gone and nothing is left
};

enum class SendFailure : std::uint8_t {
  Full,    // bounded channel at capacity
  Closed,  // the receiver is gone
};

enum class SendOutcome : std::uint8_t { Sent, Closed, TimedOut };

namespace detail {

// A suspended wait. `complete` hands the result to the waiting handler on the
// handler's own executor; the owner calls it exactly once, with no lock held.
template <class... Args>
class Waiter {
 public:
  virtual ~Waiter() = default;
  virtual void complete(Args... args) = 0;
};

template <class Handler, class... Args>
class HandlerWaiter final : public Waiter<Args...> {
 public:
  explicit HandlerWaiter(Handler&& h) : handler_(std::move(h)) {}

  void complete(Args... args) override {
    auto ex = boost::asio::get_associated_executor(handler_);
    auto slot = boost::asio::get_associated_cancellation_slot(handler_);
    boost::asio::post(
        ex, [h = std::move(handler_), slot, ... a = std::move(args)]() mutable {
          // Our cancellation hook must not outlive the wait it belongs to.
          if (slot.is_connected()) slot.clear();
          std::move(h)(std::move(a)...);
        });
  }

 private:
  Handler handler_;
};

template <class... Args, class Handler>
std::shared_ptr<Waiter<Args...>> make_waiter(Handler&& h) {
  return std::make_shared<HandlerWaiter<std::decay_t<Handler>, Args...>>(std::move(h));
}

// Installs `on_cancel` in the handler's cancellation slot, if it has one. Runs
// on the handler's executor (the initiating coroutine's strand), which is also
// where cancellation is emitted.
template <class Handler, class Fn>
void on_cancellation(Handler& h, Fn on_cancel) {
  auto slot = boost::asio::get_associated_cancellation_slot(h);
  if (slot.is_connected()) slot.assign(std::move(on_cancel));
}

}  // namespace detail

// A wake-up permit for one waiting task. `notify` wakes the waiter, or leaves
// the permit for the next `wait` when nobody waits; several notifications
// before a wait leave one permit. A waiter re-checks its sources after waking.
class Notify {
 public:
  void notify() {
    std::shared_ptr<detail::Waiter<boost::system::error_code>> w;
    {
      std::lock_guard lock(mu_);
      if (waiter_) {
        w = std::move(waiter_);
      } else {
        permit_ = true;
      }
    }
    if (w) w->complete({});
  }

  boost::asio::awaitable<void> wait() {
    {
      std::lock_guard lock(mu_);
      if (permit_) {
        permit_ = false;
        co_return;
      }
    }
    auto self = shared_.lock();
    auto initiate = [self](auto handler) { self->start_wait(std::move(handler)); };
    co_await boost::asio::async_initiate<const boost::asio::use_awaitable_t<>&,
                                         void(boost::system::error_code)>(
        std::move(initiate), boost::asio::use_awaitable);
  }

  static std::shared_ptr<Notify> create() {
    auto n = std::shared_ptr<Notify>(new Notify());
    n->shared_ = n;
    return n;
  }

 private:
  Notify() = default;

  template <class Handler>
  void start_wait(Handler&& handler) {
    std::weak_ptr<Notify> weak = shared_;
    detail::on_cancellation(handler, [weak](boost::asio::cancellation_type) {
      if (auto self = weak.lock()) self->cancel_wait();
    });
    auto w = detail::make_waiter<boost::system::error_code>(std::move(handler));
    {
      std::lock_guard lock(mu_);
      if (!permit_) {
        if (waiter_) panic("Notify has a single waiter");
        waiter_ = std::move(w);
        return;
      }
      permit_ = false;
    }
    w->complete({});
  }

  void cancel_wait() {
    std::shared_ptr<detail::Waiter<boost::system::error_code>> w;
    {
      std::lock_guard lock(mu_);
      w = std::move(waiter_);
    }
    if (w) w->complete(boost::asio::error::operation_aborted);
  }

  std::mutex mu_;
  bool permit_ = false;
  std::shared_ptr<detail::Waiter<boost::system::error_code>> waiter_;
  std::weak_ptr<Notify> shared_;
};

namespace detail {

inline constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

template <class T>
class ChannelCore : public std::enable_shared_from_this<ChannelCore<T>> {
 public:
  using RecvWaiter = Waiter<boost::system::error_code, std::optional<T>>;
  using SendWaiter = Waiter<boost::system::error_code, bool>;

  explicit ChannelCore(std::size_t capacity) : capacity_(capacity) {
    if (capacity == 0) panic("channel capacity must be positive");
  }

  std::size_t capacity() const noexcept { return capacity_; }

  void add_sender() {
    std::lock_guard lock(mu_);
    ++senders_;
  }

  void remove_sender() {
    std::shared_ptr<RecvWaiter> w;
    std::shared_ptr<Notify> n;
    {
      std::lock_guard lock(mu_);
      if (--senders_ > 0) return;
      w = std::move(recv_waiter_);  // a waiting receiver implies an empty queue
      n = notify_;
    }
    if (w) w->complete({}, std::nullopt);
    if (n) n->notify();
  }

  // Moves from `value` only when it is accepted.
  std::expected<void, SendFailure> try_send(T&& value) {
    std::shared_ptr<RecvWaiter> w;
    std::shared_ptr<Notify> n;
    {
      std::lock_guard lock(mu_);
      if (!receiver_open_) return std::unexpected(SendFailure::Closed);
      if (recv_waiter_) {
        w = std::move(recv_waiter_);
      } else {
        if (buffer_.size() >= capacity_ || !send_waiters_.empty())
          return std::unexpected(SendFailure::Full);
        buffer_.push_back(std::move(value));
      }
      n = notify_;
    }
    if (w) w->complete({}, std::optional<T>(std::move(value)));
    if (n) n->notify();
    return {};
  }

  // Completes the handler with true once the value is queued (at once when
  // there is room), with false when the receiver is gone.
  template <class Handler>
  void start_send(T&& value, Handler&& handler) {
    auto slot = boost::asio::get_associated_cancellation_slot(handler);
    auto w = make_waiter<boost::system::error_code, bool>(std::move(handler));
    std::shared_ptr<RecvWaiter> rw;
    std::shared_ptr<Notify> n;
    bool accepted = false;
    {
      std::lock_guard lock(mu_);
      if (!receiver_open_) {
        // completes with "closed" below
      } else if (recv_waiter_) {
        rw = std::move(recv_waiter_);
        accepted = true;
      } else if (buffer_.size() < capacity_ && send_waiters_.empty()) {
        buffer_.push_back(std::move(value));
        accepted = true;
      } else {
        send_waiters_.push_back(PendingSend{std::move(value), w});
        park_hook(slot, [](ChannelCore& c, const SendWaiter* raw) { c.cancel_send(raw); }, w.get());
        return;
      }
      n = notify_;
    }
    if (rw) rw->complete({}, std::optional<T>(std::move(value)));
    if (accepted && n) n->notify();
    w->complete({}, accepted);
  }

  std::expected<T, RecvFailure> try_receive() {
    std::shared_ptr<SendWaiter> promoted;
    std::optional<T> out;
    {
      std::lock_guard lock(mu_);
      if (buffer_.empty()) {
        return std::unexpected(senders_ == 0 ? RecvFailure::Closed : RecvFailure::Empty);
      }
      out.emplace(std::move(buffer_.front()));
      buffer_.pop_front();
      promoted = promote_waiting_sender();
    }
    if (promoted) promoted->complete({}, true);
    return std::move(*out);
  }

  // Completes the handler with the next value, or with nothing at the end.
  template <class Handler>
  void start_receive(Handler&& handler) {
    auto slot = boost::asio::get_associated_cancellation_slot(handler);
    auto w = make_waiter<boost::system::error_code, std::optional<T>>(std::move(handler));
    std::shared_ptr<SendWaiter> promoted;
    std::optional<T> out;
    {
      std::lock_guard lock(mu_);
      if (!buffer_.empty()) {
        out.emplace(std::move(buffer_.front()));
        buffer_.pop_front();
        promoted = promote_waiting_sender();
      } else if (senders_ > 0) {
        if (recv_waiter_) panic("channel has a single receiver");
        recv_waiter_ = w;
        park_hook(slot, [](ChannelCore& c, const RecvWaiter* raw) { c.cancel_receive(raw); },
                  w.get());
        return;
      }
    }
    if (promoted) promoted->complete({}, true);
    w->complete({}, std::move(out));
  }

  // The receiver is gone: refuse further sends, release what is queued.
  void close_receiver() {
    std::deque<T> dropped;
    std::list<PendingSend> refused;
    {
      std::lock_guard lock(mu_);
      receiver_open_ = false;
      dropped.swap(buffer_);
      refused.swap(send_waiters_);
      notify_.reset();
    }
    for (auto& s : refused) s.waiter->complete({}, false);
    // the queued and refused values die here, outside the lock
  }

  void set_notify(std::shared_ptr<Notify> n) {
    bool ready = false;
    {
      std::lock_guard lock(mu_);
      notify_ = n;
      ready = !buffer_.empty() || senders_ == 0;
    }
    if (ready && n) n->notify();
  }

  std::size_t queued() {
    std::lock_guard lock(mu_);
    return buffer_.size();
  }

  std::size_t waiting_senders() {
    std::lock_guard lock(mu_);
    return send_waiters_.size();
  }

 private:
  struct PendingSend {
    T value;
    std::shared_ptr<SendWaiter> waiter;
  };

  // Hooks a parked wait to the cancellation slot of its handler. Called with
  // the lock held, on the strand of the waiting coroutine, which is where its
  // cancellation is emitted: no cancellation can slip in before the hook. A
  // hook that fires after its wait completed finds nothing to cancel; the
  // completion clears it before the coroutine resumes.
  template <class Cancel, class W>
  void park_hook(boost::asio::cancellation_slot slot, Cancel cancel, const W* raw) {
    if (!slot.is_connected()) return;
    std::weak_ptr<ChannelCore> weak = this->weak_from_this();
    slot.assign([weak, cancel, raw](boost::asio::cancellation_type) {
      if (auto core = weak.lock()) cancel(*core, raw);
    });
  }

  void cancel_receive(const RecvWaiter* which) {
    std::shared_ptr<RecvWaiter> w;
    {
      std::lock_guard lock(mu_);
      if (recv_waiter_.get() == which) w = std::move(recv_waiter_);
    }
    if (w) w->complete(boost::asio::error::operation_aborted, std::nullopt);
  }

  void cancel_send(const SendWaiter* which) {
    std::list<PendingSend> taken;
    {
      std::lock_guard lock(mu_);
      for (auto it = send_waiters_.begin(); it != send_waiters_.end(); ++it) {
        if (it->waiter.get() == which) {
          taken.splice(taken.end(), send_waiters_, it);
          break;
        }
      }
    }
    if (!taken.empty()) taken.front().waiter->complete(boost::asio::error::operation_aborted, false);
  }

  // With the lock held, after a value left the queue: the first waiting
  // sender's value takes the free place.
  std::shared_ptr<SendWaiter> promote_waiting_sender() {
    if (send_waiters_.empty()) return nullptr;
    PendingSend& first = send_waiters_.front();
    buffer_.push_back(std::move(first.value));
    auto w = std::move(first.waiter);
    send_waiters_.pop_front();
    return w;
  }

  std::mutex mu_;
  std::deque<T> buffer_;
  const std::size_t capacity_;
  std::size_t senders_ = 0;
  bool receiver_open_ = true;
  std::shared_ptr<RecvWaiter> recv_waiter_;
  std::list<PendingSend> send_waiters_;
  std::shared_ptr<Notify> notify_;
};

// Counts itself as one sender of the core while it lives.
template <class T>
class SenderRef {
 public:
  SenderRef() = default;
  explicit SenderRef(std::shared_ptr<ChannelCore<T>> core) : core_(std::move(core)) {
    if (core_) core_->add_sender();
  }
  SenderRef(const SenderRef& o) : SenderRef(o.core_) {}
  SenderRef(SenderRef&& o) noexcept : core_(std::move(o.core_)) {}
  SenderRef& operator=(const SenderRef& o) {
    if (this != &o) *this = SenderRef(o);
    return *this;
  }
  SenderRef& operator=(SenderRef&& o) noexcept {
    if (this != &o) {
      reset();
      core_ = std::move(o.core_);
    }
    return *this;
  }
  ~SenderRef() { reset(); }

  void reset() {
    if (auto c = std::move(core_)) c->remove_sender();
  }
  const std::shared_ptr<ChannelCore<T>>& core() const noexcept { return core_; }

 private:
  std::shared_ptr<ChannelCore<T>> core_;
};

}  // namespace detail

// The receiving side of a channel. Move-only; releasing it closes the channel
// for sending.
template <class T>
class Receiver {
 public:
  Receiver() = default;
  explicit Receiver(std::shared_ptr<detail::ChannelCore<T>> core) : core_(std::move(core)) {}
  Receiver(Receiver&& o) noexcept = default;
  Receiver& operator=(Receiver&& o) noexcept {
    if (this != &o) {
      reset();
      core_ = std::move(o.core_);
    }
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { reset(); }

  explicit operator bool() const noexcept { return core_ != nullptr; }

  // Releases the receiving side now, as destruction would.
  void reset() {
    if (auto c = std::move(core_)) c->close_receiver();
  }

  std::expected<T, RecvFailure> try_receive() { return core_->try_receive(); }

  // The next value, or nothing once every sender is gone and the queue is
  // drained. A cancelled wait ends with operation_aborted and takes nothing.
  boost::asio::awaitable<std::optional<T>> receive() {
    auto core = core_;
    auto ready = core->try_receive();
    if (ready) co_return std::optional<T>(std::move(*ready));
    if (ready.error() == RecvFailure::Closed) co_return std::nullopt;
    auto initiate = [core](auto handler) { core->start_receive(std::move(handler)); };
    std::optional<T> out = co_await boost::asio::async_initiate<
        const boost::asio::use_awaitable_t<>&, void(boost::system::error_code, std::optional<T>)>(
        std::move(initiate), boost::asio::use_awaitable);
    co_return out;
  }

  // Wake-ups for a task that waits on several channels (see Notify).
  void set_notify(std::shared_ptr<Notify> n) { core_->set_notify(std::move(n)); }

  std::size_t queued() const { return core_->queued(); }
  std::size_t capacity() const { return core_->capacity(); }
  std::size_t waiting_senders() const { return core_->waiting_senders(); }

 private:
  std::shared_ptr<detail::ChannelCore<T>> core_;
};

// The sending side of a bounded channel. Copies count as further senders.
template <class T>
class Sender {
 public:
  Sender() = default;
  explicit Sender(std::shared_ptr<detail::ChannelCore<T>> core) : ref_(std::move(core)) {}

  explicit operator bool() const noexcept { return ref_.core() != nullptr; }
  void reset() { ref_.reset(); }

  // Never waits; moves from `value` only when it is accepted.
  std::expected<void, SendFailure> try_send(T&& value) {
    return ref_.core()->try_send(std::move(value));
  }

  // Waits for room; false when the receiver is gone (the value is dropped).
  // A cancelled wait ends with operation_aborted and queues nothing.
  boost::asio::awaitable<bool> send(T value) {
    auto core = ref_.core();
    auto quick = core->try_send(std::move(value));
    if (quick) co_return true;
    if (quick.error() == SendFailure::Closed) co_return false;
    auto initiate = [core, &value](auto handler) {
      core->start_send(std::move(value), std::move(handler));
    };
    const bool sent = co_await boost::asio::async_initiate<const boost::asio::use_awaitable_t<>&,
                                                           void(boost::system::error_code, bool)>(
        std::move(initiate), boost::asio::use_awaitable);
    co_return sent;
  }

  // `send` that gives up once `limit` has passed since the call; the value is
  // then dropped. A value that fits at once is queued even with a zero limit.
  boost::asio::awaitable<SendOutcome> send_timeout(T value, Duration limit) {
    auto quick = try_send(std::move(value));
    if (quick) co_return SendOutcome::Sent;
    if (quick.error() == SendFailure::Closed) co_return SendOutcome::Closed;
    auto sent = co_await timeout(limit, send(std::move(value)));
    if (!sent) co_return SendOutcome::TimedOut;
    co_return *sent ? SendOutcome::Sent : SendOutcome::Closed;
  }

 private:
  detail::SenderRef<T> ref_;
};

// The sending side of an unbounded channel: sending never waits.
template <class T>
class UnboundedSender {
 public:
  UnboundedSender() = default;
  explicit UnboundedSender(std::shared_ptr<detail::ChannelCore<T>> core) : ref_(std::move(core)) {}

  explicit operator bool() const noexcept { return ref_.core() != nullptr; }
  void reset() { ref_.reset(); }

  // Fails only when the receiver is gone; moves from `value` only on success.
  bool send(T&& value) { return ref_.core()->try_send(std::move(value)).has_value(); }

 private:
  detail::SenderRef<T> ref_;
};

// The sending side of a one-shot channel: one value, then it is used up.
template <class T>
class OneshotSender {
 public:
  OneshotSender() = default;
  explicit OneshotSender(std::shared_ptr<detail::ChannelCore<T>> core) : ref_(std::move(core)) {}
  OneshotSender(OneshotSender&&) noexcept = default;
  OneshotSender& operator=(OneshotSender&&) noexcept = default;
  OneshotSender(const OneshotSender&) = delete;
  OneshotSender& operator=(const OneshotSender&) = delete;

  explicit operator bool() const noexcept { return ref_.core() != nullptr; }

  // False when the receiver is gone (the value is dropped). Releases the sender.
  bool send(T value) {
    if (!ref_.core()) panic("one-shot sender used twice");
    const bool ok = ref_.core()->try_send(std::move(value)).has_value();
    ref_.reset();
    return ok;
  }

 private:
  detail::SenderRef<T> ref_;
};

template <class T>
using OneshotReceiver = Receiver<T>;

template <class T>
std::pair<Sender<T>, Receiver<T>> channel(std::size_t capacity) {
  auto core = std::make_shared<detail::ChannelCore<T>>(capacity);
  return {Sender<T>(core), Receiver<T>(core)};
}

template <class T>
std::pair<UnboundedSender<T>, Receiver<T>> unbounded_channel() {
  auto core = std::make_shared<detail::ChannelCore<T>>(detail::kUnbounded);
  return {UnboundedSender<T>(core), Receiver<T>(core)};
}

template <class T>
std::pair<OneshotSender<T>, OneshotReceiver<T>> oneshot() {
  auto core = std::make_shared<detail::ChannelCore<T>>(1);
  return {OneshotSender<T>(core), OneshotReceiver<T>(core)};
}

}  // namespace velto::async
