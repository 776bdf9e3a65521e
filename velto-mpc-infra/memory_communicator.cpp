#include "velto-mpc-infra/memory_communicator.hpp"

#include <utility>

#include "velto-mpc-infra/async/timeout.hpp"

namespace asio = boost::asio;

namespace velto {

std::string MemoryLinkError::display() const {
  switch (kind_) {
    case Kind::Closed: return "The in-memory link is closed";
    case Kind::UnknownParty: return "The party " + std::to_string(id_) + " is not on the network";
    case Kind::UnknownClient: return "The client " + std::to_string(id_) + " is unknown";
  }
  return {};
}

std::string MemoryLinkError::debug() const {
  switch (kind_) {
    case Kind::Closed: return "Closed";
    case Kind::UnknownParty: return "UnknownParty(PartyId(" + std::to_string(id_) + "))";
    case Kind::UnknownClient: return "UnknownClient(" + std::to_string(id_) + ")";
  }
  return {};
}

// One party's end of the network.
class MemoryLink final : public Communicator {
 public:
  MemoryLink(std::shared_ptr<InMemoryNetwork> network, PartyId me, async::Receiver<InMemoryNetwork::Frame> inbox)
      : network_(std::move(network)), me_(me), inbox_(std::move(inbox)) {}

  PartyId my_party_id() const override { return me_; }

  asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override {
    std::optional<InMemoryNetwork::Frame> frame;
    if (network_->options_.receive_timeout) {
      auto waited = co_await async::timeout(*network_->options_.receive_timeout, inbox_.receive());
      if (!waited) co_return std::unexpected(box_error<async::TimeoutError>(waited.error()));
      frame = std::move(*waited);
    } else {
      frame = co_await inbox_.receive();
    }
    if (!frame) co_return std::unexpected(box_error<MemoryLinkError>(MemoryLinkError::Kind::Closed, 0));
    if (frame->error) co_return std::unexpected(std::move(frame->error));
    const auto sender = network_->party_of(frame->from);
    if (!sender) co_return std::unexpected(box_error<MemoryLinkError>(MemoryLinkError::Kind::UnknownClient, frame->from));
    co_return ReceivedPlaintext{std::move(frame->payload), *sender};
  }

  asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes plaintext, PartyId to) override {
    if (closed_) co_return std::unexpected(box_error<MemoryLinkError>(MemoryLinkError::Kind::Closed, 0));
    if (network_->options_.send_delay.count() > 0) {
      auto ex = co_await asio::this_coro::executor;
      asio::steady_timer delay(ex, network_->options_.send_delay);
      co_await delay.async_wait(asio::use_awaitable);
      // Like a socket closed before it was flushed: a frame still on its way
      // when the link is closed is lost.
      if (closed_) co_return std::expected<void, BoxedError>();
    }
    co_return network_->deliver(network_->endpoint(me_).relay_id, to, std::move(plaintext));
  }

  asio::awaitable<void> close() override {
    closed_ = true;
    inbox_.reset();
    network_->endpoint(me_).closed = true;
    co_return;
  }

 private:
  std::shared_ptr<InMemoryNetwork> network_;
  PartyId me_;
  async::Receiver<InMemoryNetwork::Frame> inbox_;
  bool closed_ = false;
};

InMemoryNetwork::InMemoryNetwork(std::span<const PartyId> parties, Options options) : options_(options) {
  std::uint64_t next_relay_id = 0x7000;
  for (const PartyId p : parties) {
    auto [it, inserted] = endpoints_.try_emplace(p);
    if (!inserted) continue;
    auto [tx, rx] = async::unbounded_channel<Frame>();
    it->second.relay_id = next_relay_id;
    it->second.inbox = std::move(tx);
    it->second.receiver = std::move(rx);
    parties_by_relay_id_.emplace(next_relay_id, p);
    next_relay_id += 3;
  }
}

std::shared_ptr<InMemoryNetwork> InMemoryNetwork::create(std::span<const PartyId> parties, Options options) {
  return std::shared_ptr<InMemoryNetwork>(new InMemoryNetwork(parties, options));
}

InMemoryNetwork::Endpoint& InMemoryNetwork::endpoint(PartyId party) {
  auto it = endpoints_.find(party);
  if (it == endpoints_.end()) panic(party.debug() + " is not on the in-memory network");
  return it->second;
}

const InMemoryNetwork::Endpoint& InMemoryNetwork::endpoint(PartyId party) const {
  return const_cast<InMemoryNetwork*>(this)->endpoint(party);
}

std::shared_ptr<Communicator> InMemoryNetwork::link(PartyId party) {
  Endpoint& e = endpoint(party);
  if (e.taken) panic(party.debug() + "'s in-memory link was taken twice");
  e.taken = true;
  return std::make_shared<MemoryLink>(shared_from_this(), party, std::move(e.receiver));
}

std::uint64_t InMemoryNetwork::relay_id(PartyId party) const { return endpoint(party).relay_id; }

std::optional<PartyId> InMemoryNetwork::party_of(std::uint64_t relay_id) const {
  auto it = parties_by_relay_id_.find(relay_id);
  if (it == parties_by_relay_id_.end()) return std::nullopt;
  return it->second;
}

std::expected<void, BoxedError> InMemoryNetwork::deliver(std::uint64_t from, PartyId to, crypto::Bytes payload) {
  auto it = endpoints_.find(to);
  if (it == endpoints_.end())
    return std::unexpected(box_error<MemoryLinkError>(MemoryLinkError::Kind::UnknownParty, to.value()));
  Frame frame{from, std::move(payload), nullptr};
  // A recipient that has closed its link gets nothing, as with a relay.
  if (it->second.inbox.send(std::move(frame))) ++it->second.delivered;
  return {};
}

void InMemoryNetwork::inject(PartyId to, std::uint64_t from_relay_id, crypto::Bytes plaintext) {
  Frame frame{from_relay_id, std::move(plaintext), nullptr};
  (void)endpoint(to).inbox.send(std::move(frame));
}

void InMemoryNetwork::inject_error(PartyId to, BoxedError error) {
  Frame frame{0, {}, std::move(error)};
  (void)endpoint(to).inbox.send(std::move(frame));
}

std::size_t InMemoryNetwork::frames_delivered(PartyId to) const { return endpoint(to).delivered; }

bool InMemoryNetwork::closed(PartyId party) const { return endpoint(party).closed; }

}  // namespace velto
