// An in-memory network of n parties in one process, for tests and
// benchmarks: each party gets a link (a Communicator) whose frames go
// straight into the recipient's inbox. Like the relay, the network knows
// parties by relay ids and each link translates the sender's relay id back
// into a PartyId through the network's table.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/async/duration.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"

namespace velto {

// The errors of an in-memory link.
class MemoryLinkError final : public Error {
 public:
  enum class Kind : std::uint8_t {
    Closed,         // "The in-memory link is closed"
    UnknownParty,   // "The party {p} is not on the network" (a send to a stranger)
    UnknownClient,  // "The client {x} is unknown" (a frame from an unknown relay id)
  };
  MemoryLinkError(Kind kind, std::uint64_t id) noexcept : kind_(kind), id_(id) {}
  Kind kind() const noexcept { return kind_; }
  std::string display() const override;
  std::string debug() const override;

 private:
  Kind kind_;
  std::uint64_t id_;
};

class InMemoryNetwork : public std::enable_shared_from_this<InMemoryNetwork> {
 public:
  struct Options {
    // Each send waits this long before the frame reaches the recipient's
    // inbox (a slow connection that takes time to flush); a frame still
    // waiting when its link is closed is lost.
    async::Duration send_delay{0};
    // When set, a receive that waits longer fails with the TimeoutError.
    std::optional<async::Duration> receive_timeout;
  };

  static std::shared_ptr<InMemoryNetwork> create(std::span<const PartyId> parties, Options options);
  static std::shared_ptr<InMemoryNetwork> create(std::span<const PartyId> parties) {
    return create(parties, Options{});
  }

  // The link of `party`; each link can be taken once.
  std::shared_ptr<Communicator> link(PartyId party);

  std::uint64_t relay_id(PartyId party) const;

  // Test hooks. A raw frame for `to` as if relayed from `from_relay_id`
  // (which need not belong to any party).
  void inject(PartyId to, std::uint64_t from_relay_id, crypto::Bytes plaintext);
  // The next receive of `to` fails with `error`.
  void inject_error(PartyId to, BoxedError error);
  // Frames that reached the inbox of `to` so far.
  std::size_t frames_delivered(PartyId to) const;
  // Whether the link of `party` has been closed.
  bool closed(PartyId party) const;

 private:
  friend class MemoryLink;

  struct Frame {
    std::uint64_t from = 0;
    crypto::Bytes payload;
    BoxedError error;
  };
  struct Endpoint {
    std::uint64_t relay_id = 0;
    async::UnboundedSender<Frame> inbox;
    async::Receiver<Frame> receiver;  // handed to the link
    std::atomic<std::size_t> delivered{0};
    std::atomic<bool> closed{false};
    bool taken = false;
  };

  InMemoryNetwork(std::span<const PartyId> parties, Options options);
  Endpoint& endpoint(PartyId party);
  const Endpoint& endpoint(PartyId party) const;
  std::expected<void, BoxedError> deliver(std::uint64_t from, PartyId to, crypto::Bytes payload);
  std::optional<PartyId> party_of(std::uint64_t relay_id) const;

  Options options_;
  std::map<PartyId, Endpoint> endpoints_;
  std::unordered_map<std::uint64_t, PartyId> parties_by_relay_id_;
};

}  // namespace velto
