#include "velto-mpc-infra/async/timeout.hpp"

namespace velto::async {

std::string TimeoutError::display() const {
  return "The operation has timed out, waited for " + format_duration(waited_);
}

std::string TimeoutError::debug() const { return "TimedOut(" + format_duration(waited_) + ")"; }

}  // namespace velto::async
