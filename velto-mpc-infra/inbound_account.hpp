// What one operation holds of the messages it has received and not yet used,
// and when its protocol last moved on.
//
// Bytes: every received message is charged to the operation's account while
// it is held (by the handshake run, the manager's table of unregistered tags,
// an executor's inbound channel or early-message buffer), through the
// HeldBytes it carries; the charge ends when the message is used or dropped.
// The count limits bound how many messages peers and the relay can make a
// party hold; the account bounds their bytes, over the whole operation
// (ExecutorLimits::max_held_bytes). All operations share one process, so one
// room must not be able to take its memory.
//
// Progress: a message that a waiting protocol step takes marks progress, and
// so does every send the relay link completes (a party that is sending is not
// stalled). The relay link's receive limit counts from the last progress, so
// frames that no step waits for (junk, replays, messages under tags nobody
// opened) do not extend the wait: a stalled operation ends one limit after
// its last progress, whatever else arrives.
//
// An account is shared by the tasks of one operation and may be used from any
// thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>

namespace velto {

class InboundAccount {
 public:
  using Clock = std::chrono::steady_clock;

  // Progress counts from now; the budget is unlimited until set.
  InboundAccount() noexcept;

  void set_byte_budget(std::size_t bytes) noexcept { budget_.store(bytes, std::memory_order_relaxed); }
  std::size_t byte_budget() const noexcept { return budget_.load(std::memory_order_relaxed); }
  std::size_t held_bytes() const noexcept { return held_.load(std::memory_order_relaxed); }
  // Whether the messages held now exceed the budget.
  bool over_budget() const noexcept { return held_bytes() > byte_budget(); }

  void mark_progress() noexcept;
  Clock::time_point last_progress() const noexcept;

 private:
  friend class HeldBytes;
  std::atomic<std::size_t> held_{0};
  std::atomic<std::size_t> budget_;
  std::atomic<Clock::rep> progress_;
};

// The charge of one held message: `bytes` counted on the account from its
// creation to its release or destruction. Move-only; an empty charge (no
// account) counts nothing.
class HeldBytes {
 public:
  HeldBytes() noexcept = default;
  HeldBytes(std::shared_ptr<InboundAccount> account, std::size_t bytes) noexcept;
  HeldBytes(HeldBytes&& other) noexcept;
  HeldBytes& operator=(HeldBytes&& other) noexcept;
  HeldBytes(const HeldBytes&) = delete;
  HeldBytes& operator=(const HeldBytes&) = delete;
  ~HeldBytes() { release(); }

  std::size_t bytes() const noexcept { return bytes_; }
  // Whether the account this charge is on is over its budget.
  bool over_budget() const noexcept { return account_ && account_->over_budget(); }
  // Marks progress on the account (a waiting step took this message).
  void mark_progress() const noexcept {
    if (account_) account_->mark_progress();
  }
  void release() noexcept;

 private:
  std::shared_ptr<InboundAccount> account_;
  std::size_t bytes_ = 0;
};

}  // namespace velto
