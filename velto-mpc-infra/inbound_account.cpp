#include "velto-mpc-infra/inbound_account.hpp"

#include <limits>
#include <utility>

namespace velto {

InboundAccount::InboundAccount() noexcept
    : budget_(std::numeric_limits<std::size_t>::max()), progress_(Clock::now().time_since_epoch().count()) {}

void InboundAccount::mark_progress() noexcept {
  progress_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

InboundAccount::Clock::time_point InboundAccount::last_progress() const noexcept {
  return Clock::time_point(Clock::duration(progress_.load(std::memory_order_relaxed)));
}

HeldBytes::HeldBytes(std::shared_ptr<InboundAccount> account, std::size_t bytes) noexcept
    : account_(std::move(account)), bytes_(account_ ? bytes : 0) {
  if (account_) account_->held_.fetch_add(bytes_, std::memory_order_relaxed);
}

HeldBytes::HeldBytes(HeldBytes&& other) noexcept
    : account_(std::move(other.account_)), bytes_(std::exchange(other.bytes_, 0)) {}

HeldBytes& HeldBytes::operator=(HeldBytes&& other) noexcept {
  if (this != &other) {
    release();
    account_ = std::move(other.account_);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

void HeldBytes::release() noexcept {
  if (account_) account_->held_.fetch_sub(bytes_, std::memory_order_relaxed);
  account_.reset();
  bytes_ = 0;
}

}  // namespace velto
