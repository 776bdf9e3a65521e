// The error of a spawned task of an operation that ended without a result
// (it panicked or was cancelled). It wraps the runtime's join error: the
// display is the runtime's text, the debug form names the record.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <string>
#include <utility>

#include "crypto/error.hpp"
#include "velto-mpc-infra/async/runtime.hpp"

namespace velto::executor {

class JoinError final : public Error {
 public:
  explicit JoinError(async::TaskJoinError inner) : inner_(std::move(inner)) {}
  const async::TaskJoinError& inner() const noexcept { return inner_; }
  std::string display() const override { return inner_.display(); }
  std::string debug() const override { return "JoinError { inner: " + inner_.debug() + " }"; }

 private:
  async::TaskJoinError inner_;
};

}  // namespace velto::executor
