// Buffered collection: exactly one message from each awaited party, in
// arrival order, with every other message kept for a later collection on the
// same executor; the collectors built on it; and the per-peer iterators that
// open the pairwise executors of two-party sub-protocols.
//
// All coroutines here take the executor by reference: await them at once,
// while the executor is alive, and from the task that owns it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/error.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto {

// A message of an awaited party, decoded.
template <class T>
struct Received {
  T value;
  PartyId sender;
};

// Where a collection takes new messages from. The executor form reads the
// executor's inbound channel; a source for the relay link provides the same
// two members with its own error type.
struct InboundSource {
  using Error = BoxedError;

  async::Receiver<ProtocolReceivedMessage>* inbound;

  // The next message, or ManagerChannelClosed once the manager is gone.
  boost::asio::awaitable<std::expected<ProtocolReceivedMessage, Error>> next() {
    auto message = co_await inbound->receive();
    if (!message) co_return std::unexpected(ExecutorChannelError::manager_channel_closed());
    co_return std::move(*message);
  }
  static Error too_many_unexpected() { return ExecutorChannelError::too_many_unexpected_messages(); }
};

// The collection over any source. Holds a reference to the collection state
// and the source; owns nothing.
template <class Source>
class BasicBufferedPoll {
 public:
  using Error = typename Source::Error;

  // Begins a collection awaiting every id of `ids` except `own`, in the given
  // order. The previous collection on this state must have finished
  // (panic "Should never be left with a non-empty buffer" otherwise); the
  // early messages are kept.
  static BasicBufferedPoll start(CollectionState& state, Source source, std::span<const PartyId> ids,
                                 PartyId own) {
    if (!state.waiting.empty()) panic("Should never be left with a non-empty buffer");
    for (const PartyId id : ids)
      if (id != own) state.waiting.push_back(id);
    state.scan_index = 0;
    return BasicBufferedPoll(state, std::move(source));
  }

  // A poll over a collection already under way (the state is left as it is).
  static BasicBufferedPoll resume(CollectionState& state, Source source) {
    return BasicBufferedPoll(state, std::move(source));
  }

  bool finished() const noexcept { return state_->waiting.empty(); }
  std::span<const PartyId> waiting() const noexcept { return state_->waiting; }

  // The next message of an awaited party (its sender is no longer awaited
  // from then on), or nothing once every awaited party has been handed out.
  // Messages of parties not awaited go to the early-message buffer; one that
  // finds the buffer full, or takes the operation's inbound account over its
  // byte budget, is dropped and the poll fails with the source's "too many
  // unexpected messages". A message handed out marks progress on its
  // account. A cancelled wait loses no message.
  boost::asio::awaitable<std::expected<std::optional<ProtocolReceivedMessage>, Error>> next_message() {
    CollectionState& s = *state_;
    if (s.waiting.empty()) co_return std::nullopt;
    while (s.scan_index < s.early_messages.size()) {
      auto it = s.early_messages.begin() + static_cast<std::ptrdiff_t>(s.scan_index);
      if (take_waiting(it->sender)) {
        ProtocolReceivedMessage message = std::move(*it);
        s.early_messages.erase(it);
        message.held.mark_progress();
        co_return std::optional<ProtocolReceivedMessage>(std::move(message));
      }
      ++s.scan_index;
    }
    for (;;) {
      auto received = co_await source_.next();
      if (!received) co_return std::unexpected(std::move(received.error()));
      if (take_waiting(received->sender)) {
        received->held.mark_progress();
        co_return std::optional<ProtocolReceivedMessage>(std::move(*received));
      }
      if (s.early_messages.size() >= s.capacity || received->held.over_budget())
        co_return std::unexpected(Source::too_many_unexpected());
      s.early_messages.push_back(std::move(*received));
      s.scan_index = s.early_messages.size();
    }
  }

 protected:
  BasicBufferedPoll(CollectionState& state, Source source) : state_(&state), source_(std::move(source)) {}

 private:
  // Removes `id` from the waiting list (swap with the last entry).
  bool take_waiting(PartyId id) {
    auto& w = state_->waiting;
    auto it = std::find(w.begin(), w.end(), id);
    if (it == w.end()) return false;
    *it = w.back();
    w.pop_back();
    return true;
  }

  CollectionState* state_;
  Source source_;
};

// The collection on an executor, with decoding.
class BufferedPoll : public BasicBufferedPoll<InboundSource> {
 public:
  // Awaits every id of `ids` but the executor's own id.
  static BufferedPoll start(ProtocolExecutor& executor, std::span<const PartyId> ids) {
    return BufferedPoll(
        BasicBufferedPoll::start(executor.collection(), InboundSource{&executor.inbound()}, ids,
                                 executor.my_party_id()));
  }

  // The next awaited message decoded as T (sised, under a fresh 4 MiB heap
  // budget; bytes after the value are ignored), or nothing when finished.
  // Errors: ExecutorChannelError or the SisedError of the decoding (the
  // sender is no longer awaited then either), boxed.
  template <class T>
  boost::asio::awaitable<std::expected<std::optional<Received<T>>, BoxedError>> next() {
    auto message = co_await next_message();
    if (!message) co_return std::unexpected(std::move(message.error()));
    if (!*message) co_return std::nullopt;
    auto value = sised::decode<T>((*message)->payload);
    if (!value) co_return std::unexpected(box_error<sised::SisedError>(std::move(value.error())));
    co_return std::optional<Received<T>>(Received<T>{std::move(*value), (*message)->sender});
  }

 private:
  explicit BufferedPoll(BasicBufferedPoll&& base) : BasicBufferedPoll(std::move(base)) {}
};

// One T from every other party of the executor, by sender. The first error
// ends the collection.
template <class T>
boost::asio::awaitable<std::expected<PartyMap<T>, BoxedError>> collect_map(ProtocolExecutor& executor) {
  PartyMap<T> out(executor.parties().size());
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.template next<T>();
    if (!item) co_return std::unexpected(std::move(item.error()));
    if (!*item) break;
    out.insert((*item)->sender, std::move((*item)->value));
  }
  co_return out;
}

// One T from every other party of the executor, in arrival order.
template <class T>
boost::asio::awaitable<std::expected<std::vector<Received<T>>, BoxedError>> collect_in_arrival_order(
    ProtocolExecutor& executor) {
  std::vector<Received<T>> out;
  out.reserve(executor.parties().size());
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.template next<T>();
    if (!item) co_return std::unexpected(std::move(item.error()));
    if (!*item) break;
    out.push_back(std::move(**item));
  }
  co_return out;
}

// The next message decoded as T: from an awaited party while a collection
// is under way; otherwise the oldest early message, whoever sent it, or else
// the next inbound message.
template <class T>
boost::asio::awaitable<std::expected<Received<T>, BoxedError>> receive_next(ProtocolExecutor& executor) {
  std::optional<ProtocolReceivedMessage> message;
  CollectionState& s = executor.collection();
  if (!s.waiting.empty()) {
    auto poll = BasicBufferedPoll<InboundSource>::resume(s, InboundSource{&executor.inbound()});
    auto next = co_await poll.next_message();
    if (!next) co_return std::unexpected(std::move(next.error()));
    if (!*next) panic("We checked that waiting_len is not 0");
    // The poll marked the progress.
    message = std::move(*next);
  } else {
    if (!s.early_messages.empty()) {
      message = std::move(s.early_messages.front());
      s.early_messages.pop_front();
      s.scan_index = 0;
    } else {
      message = co_await executor.inbound().receive();
      if (!message) co_return std::unexpected(ExecutorChannelError::manager_channel_closed());
    }
    message->held.mark_progress();
  }
  auto value = sised::decode<T>(message->payload);
  if (!value) co_return std::unexpected(box_error<sised::SisedError>(std::move(value.error())));
  co_return Received<T>{std::move(*value), message->sender};
}

// The two pairwise executors for one peer: `first` on child_pair(own, peer),
// where this party plays the first role of the sub-protocol, and `second` on
// child_pair(peer, own), where it plays the other. The peer does the same
// with the ids swapped, so every ordered pair has one instance.
struct PeerPair {
  PartyId peer;
  PeerExecutor first;
  PeerExecutor second;
};

// Walks the executor's parties (ascending, skipping the own id) and opens
// each peer's pair executors as it goes.
class PeerPairs {
 public:
  explicit PeerPairs(const ProtocolExecutor& executor) : executor_(&executor) {}

  std::optional<PeerPair> next() {
    const auto& parties = executor_->parties();
    const PartyId own = executor_->my_party_id();
    while (index_ < parties.size() && parties[index_] == own) ++index_;
    if (index_ == parties.size()) return std::nullopt;
    const PartyId p = parties[index_++];
    PeerExecutor first(executor_->child_pair(own, p), p);
    PeerExecutor second(executor_->child_pair(p, own), p);
    return PeerPair{p, std::move(first), std::move(second)};
  }

 private:
  const ProtocolExecutor* executor_;
  std::size_t index_ = 0;
};

std::vector<PeerPair> peer_pairs(const ProtocolExecutor& executor);

// The same walk, handing each peer its value in `map` (found with the filter
// rule of PartyMap: every peer must have an entry).
template <class T>
std::vector<std::pair<PeerPair, const T*>> peer_pairs_with(const ProtocolExecutor& executor,
                                                           const PartyMap<T>& map) {
  auto entries = map.filter(executor.parties(), executor.my_party_id());
  std::vector<std::pair<PeerPair, const T*>> out;
  out.reserve(entries.size());
  PeerPairs pairs(executor);
  for (const auto& entry : entries) {
    auto pair = pairs.next();
    if (!pair || pair->peer != entry.get().first) panic("Expected `filter` ids to be ordered and a subset of map");
    out.emplace_back(std::move(*pair), &entry.get().second);
  }
  return out;
}

}  // namespace velto
