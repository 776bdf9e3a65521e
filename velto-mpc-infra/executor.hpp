// The protocol executor: one party's handle on one protocol instance.
//
// An executor is bound to a UcTag. Through it a protocol sends to one party
// or to all others, receives the messages of its tag (buffered_poll.hpp),
// draws its randomness, and opens child executors for its steps. Every
// executor of an operation talks to the operation's manager task
// (manager.hpp): it queues commands on one unbounded manager channel, and the
// manager feeds it through its own bounded inbound channel. Sends never wait
// for the network.
//
// Lifetime: an executor registers its tag when it is opened and deregisters
// it when it is released (destroyed). It is moved, never copied; one task
// uses it at a time. If the manager has ended (after an error), opening,
// sending and collecting report ManagerChannelClosed and releasing is silent.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/chacha.hpp"
#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/async/channel.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"
#include "velto-mpc-infra/inbound_account.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto {

// Limits of the engine. The three counts are the values for sessions of up
// to 64 parties; larger sessions raise them (ExecutorLimits::for_parties).
inline constexpr std::size_t kMaxPartiesPerOperation = 8192;
inline constexpr std::size_t kInboundCapacity = 256;
inline constexpr std::size_t kMaxPendingUcTags = 256;
inline constexpr std::size_t kMaxPendingMessagesPerTag = 512;
inline constexpr std::chrono::milliseconds kHandOffTimeout{100};
// The byte budget of the messages one operation holds (inbound_account.hpp),
// beside the count limits, and what it grows by with the session's size.
//
// How it was chosen: the largest honest message of a supported protocol is
// the VOLE correction of an ECDSA presign with the most presignatures (100):
// 512 rows of 202 scalars, about 3.3 MB; every other message whose size does
// not depend on the session is below 16 KiB (OT-extension set-up 10 KiB,
// presign records 13 KiB). The messages that grow with the session carry one
// point per party or per threshold (VSS commitments and their echoes, FROST
// commitments): at most 33 bytes times the party count each. An honest party
// holds at once at most about one such message per peer and step (it
// collects one from every peer), plus a few small early ones; the peak is a
// step where every peer's largest message arrives together (n - 1 VOLE
// corrections, or n - 1 echoes of 33 t bytes). Allowing 8 MiB (two messages
// of the 4 MiB frame limit) per party plus 256 bytes per pair of parties
// leaves more than twice that peak at every supported size; 64 MiB, sixteen
// frames of the 4 MiB limit, is the floor for small sessions. Without it a
// relay or a peer could make one operation hold about 4 GiB through the
// count limits alone (1,024 early frames, 256 tags x 512 messages, 256
// messages per executor, each up to 4 MiB).
inline constexpr std::size_t kMaxHeldBytes = std::size_t{64} << 20;
inline constexpr std::size_t kHeldBytesPerParty = std::size_t{8} << 20;
inline constexpr std::size_t kHeldBytesPerPartyPair = 256;
// The tag the manager appends behind every payload.
inline constexpr std::size_t kTagSize = 32;
// Spare capacity of every queued payload: the tag, plus the 16-byte
// authentication tag that the encrypted link adds in place, so that a message
// is allocated once on its way out.
inline constexpr std::size_t kSendSpare = kTagSize + 16;

// A copy of already-encoded bytes with the spare capacity a queued payload
// carries.
inline crypto::Bytes outgoing_payload(crypto::ByteSpan bytes) {
  crypto::Bytes out;
  out.reserve(bytes.size() + kSendSpare);
  out.assign(bytes.begin(), bytes.end());
  return out;
}

// The sorted party list of an operation, shared by all its executors and the
// manager.
using PartyList = std::shared_ptr<const std::vector<PartyId>>;

// What the manager hands to an executor: one message of its tag (the tag
// already removed) and its sender.
struct ProtocolReceivedMessage {
  crypto::Bytes payload;
  PartyId sender;
  // The message's charge on the operation's inbound account while it is
  // held; empty for messages that are not counted.
  HeldBytes held{};
};

// The commands on the manager channel.
namespace manager_message {
struct Register {
  UcTag tag;
  async::Sender<ProtocolReceivedMessage> inbound;
  PartyList parties;
};
struct Deregister {
  UcTag tag;
};
// `payload` normally has kSendSpare bytes of spare capacity.
struct Send {
  crypto::Bytes payload;
  UcTag tag;
  PartyId to;
};
struct SendToAll {
  crypto::Bytes payload;
  UcTag tag;
};
}  // namespace manager_message

using ManagerMessage = std::variant<manager_message::Register, manager_message::Deregister,
                                    manager_message::Send, manager_message::SendToAll>;

// The error of an executor talking to its manager. Travels boxed.
class ExecutorChannelError final : public Error {
 public:
  enum class Kind : std::uint8_t { ManagerChannelClosed, TooManyUnexpectedMessages };
  explicit ExecutorChannelError(Kind kind) noexcept : kind_(kind) {}
  Kind kind() const noexcept { return kind_; }
  // "The manager channel was closed" /
  // "Too many messages have came from unexpected parties"
  std::string display() const override;
  std::string debug() const override;

  static BoxedError manager_channel_closed();
  static BoxedError too_many_unexpected_messages();

 private:
  Kind kind_;
};

// The limits that bound what peers can make a party hold.
struct ExecutorLimits {
  std::size_t max_pending_uc_tags = kMaxPendingUcTags;
  std::size_t max_pending_messages_per_tag = kMaxPendingMessagesPerTag;
  std::size_t inbound_capacity = kInboundCapacity;
  std::size_t max_held_bytes = kMaxHeldBytes;

  // The limits in force for an operation of `parties` parties. The base
  // values are kept for small sessions. For large ones each grows with the
  // party count, because honest traffic grows with it: one step on one tag
  // brings a message from every peer, and a fast peer may already be one
  // step further on the same tag (inbound channel, early messages, messages
  // held for an unregistered tag: 2n), and ahead on the pairwise tags (two
  // directions per peer, each with a sub-step) and per-dealer tags that this
  // party has not opened yet (unregistered tags: 4n). The byte budget grows
  // as said at kMaxHeldBytes. Nothing changes on the wire.
  ExecutorLimits for_parties(std::size_t parties) const noexcept;
};

// The collection state of an executor (buffered_poll.hpp): messages that
// arrived from parties not awaited at the time, the parties still awaited,
// and how far the current collection has scanned the early messages.
struct CollectionState {
  std::deque<ProtocolReceivedMessage> early_messages;
  std::vector<PartyId> waiting;
  std::size_t scan_index = 0;
  // The inbound capacity; also the most early messages held.
  std::size_t capacity = kInboundCapacity;
};

class PeerExecutor;

class ProtocolExecutor {
 public:
  // Opens an executor on `tag`: makes its inbound channel, queues its
  // Register and seeds its generator. The constructor behind every child.
  static ProtocolExecutor open(const UcTag& tag, PartyId my_party_id,
                               async::UnboundedSender<ManagerMessage> manager, PartyList parties,
                               std::size_t capacity, const crypto::SecretArray<32>& seed_key);

  ProtocolExecutor(ProtocolExecutor&& other) noexcept = default;
  // Releases the executor held before (deregistering its tag).
  ProtocolExecutor& operator=(ProtocolExecutor&& other) noexcept;
  ProtocolExecutor(const ProtocolExecutor&) = delete;
  ProtocolExecutor& operator=(const ProtocolExecutor&) = delete;
  // Queues Deregister (silently dropped when the manager has ended), then
  // releases the manager link, the inbound channel and the collection state.
  ~ProtocolExecutor();

  // Children: same party list, own id, manager link, seed key and capacity,
  // on the derived tag. The parent stays usable.
  ProtocolExecutor child(std::string_view label) const;
  // The version child: the label length is hashed as 8 bytes.
  ProtocolExecutor child_u64_label(std::string_view label) const;
  ProtocolExecutor child_indexed(std::string_view label, PartyId id) const;
  ProtocolExecutor child_label_two_ids(std::string_view label, PartyId id1, PartyId id2) const;
  // Ordered: (a, b) and (b, a) are the two directions of a pair.
  ProtocolExecutor child_pair(PartyId a, PartyId b) const;
  // An executor with this one's settings on a tag computed elsewhere (the
  // jointly generated tag).
  ProtocolExecutor with_tag(const UcTag& tag) const;

  // Narrows the executor to one peer, which must be in `parties`.
  PeerExecutor peer(PartyId id) &&;

  // Queue the sised encoding of `value` (in a buffer with kSendSpare spare
  // bytes) for `to`, or for every other party of the tag. A recipient
  // outside `parties` is a programming error (panic). Fails with the boxed
  // encoder error (nothing queued) or ManagerChannelClosed.
  template <class T>
  std::expected<void, BoxedError> send_to(PartyId to, const T& value);
  template <class T>
  std::expected<void, BoxedError> send_to_all(const T& value);
  // The same for a payload encoded by the caller.
  std::expected<void, BoxedError> send_payload_to(PartyId to, crypto::Bytes payload);
  std::expected<void, BoxedError> send_payload_to_all(crypto::Bytes payload);

  const UcTag& tag() const noexcept { return tag_; }
  PartyId my_party_id() const noexcept { return my_party_id_; }
  const std::vector<PartyId>& parties() const noexcept { return *parties_; }
  const PartyList& shared_parties() const noexcept { return parties_; }
  // The party count, 1 to 8192.
  std::uint16_t number_of_parties() const;
  bool has_party(PartyId id) const noexcept;
  std::size_t capacity() const noexcept { return collection_.capacity; }

  // The executor's generator: ChaCha8 seeded with BLAKE3 keyed by the
  // operation's seed key over the tag. Same seed key and tag, same stream.
  crypto::ChaCha8Rng& rng() noexcept { return rng_; }

  CollectionState& collection() noexcept { return collection_; }
  async::Receiver<ProtocolReceivedMessage>& inbound() noexcept { return inbound_; }

 private:
  ProtocolExecutor(const UcTag& tag, PartyId my_party_id, async::UnboundedSender<ManagerMessage> manager,
                   PartyList parties, async::Receiver<ProtocolReceivedMessage> inbound, std::size_t capacity,
                   const crypto::SecretArray<32>& seed_key);

  void release() noexcept;
  void require_party(PartyId id) const;
  std::expected<void, BoxedError> queue(ManagerMessage&& message);

  UcTag tag_;
  crypto::SecretArray<32> seed_key_;
  crypto::ChaCha8Rng rng_;
  PartyList parties_;
  async::UnboundedSender<ManagerMessage> manager_;
  async::Receiver<ProtocolReceivedMessage> inbound_;
  CollectionState collection_;
  PartyId my_party_id_;
};

// Both ids of a pair, the lower first: the same record on both sides.
struct PartyPair {
  PartyId low;
  PartyId high;
  friend bool operator==(const PartyPair&, const PartyPair&) = default;
};

// An executor narrowed to one peer, for two-party sub-protocols.
class PeerExecutor {
 public:
  PeerExecutor(ProtocolExecutor executor, PartyId peer);

  ProtocolExecutor& executor() noexcept { return executor_; }
  const ProtocolExecutor& executor() const noexcept { return executor_; }
  PartyId peer() const noexcept { return peer_; }
  const PartyPair& pair() const noexcept { return pair_; }

  // A sub-session of this pair under `label`, for the same peer.
  PeerExecutor child(std::string_view label) const { return PeerExecutor(executor_.child(label), peer_); }

  template <class T>
  std::expected<void, BoxedError> send(const T& value) {
    return executor_.send_to(peer_, value);
  }

 private:
  ProtocolExecutor executor_;
  PartyId peer_;
  PartyPair pair_;
};

// The set-up record of one operation's session: the link, the receiving side
// of the manager channel once the root executor is built, and the limits
// (the base values; the limits in force follow from the party count).
class ExecutorBuilder {
 public:
  explicit ExecutorBuilder(std::shared_ptr<Communicator> link, ExecutorLimits limits = ExecutorLimits{})
      : communicator(std::move(link)),
        max_pending_uc_tags(limits.max_pending_uc_tags),
        max_pending_messages_per_tag(limits.max_pending_messages_per_tag),
        inbound_capacity(limits.inbound_capacity),
        max_held_bytes(limits.max_held_bytes) {}
  ExecutorBuilder(ExecutorBuilder&&) noexcept = default;
  ExecutorBuilder& operator=(ExecutorBuilder&&) noexcept = default;

  std::shared_ptr<Communicator> communicator;
  // Empty until build_executor fills it.
  async::Receiver<ManagerMessage> manager_receiver;
  std::size_t max_pending_uc_tags;
  std::size_t max_pending_messages_per_tag;
  std::size_t inbound_capacity;
  std::size_t max_held_bytes;

  // new -> built (build_executor) -> launched (the manager took it over).
  bool built() const noexcept { return state_ != State::New; }
  bool launched() const noexcept { return state_ == State::Launched; }
  // 0 until built.
  std::size_t party_count() const noexcept { return party_count_; }
  // The limits in force for the built session.
  ExecutorLimits limits() const noexcept;

 private:
  enum class State : std::uint8_t { New, Built, Launched };
  friend std::optional<ProtocolExecutor> build_executor(ExecutorBuilder&, const UcTag&,
                                                        std::span<const PartyId>);
  friend class ExecutorManager;
  State state_ = State::New;
  std::size_t party_count_ = 0;
};

// Builds the root executor of an operation: draws the operation's seed key,
// creates the manager channel (its receiver goes into the builder), opens
// the root executor on `root` and queues its Register as the manager's first
// command. Duplicate ids count once; the ids must include the link's own id
// and number at most 8192 (both invariants of the callers; panics).
// Returns nothing when the builder has been built before.
std::optional<ProtocolExecutor> build_executor(ExecutorBuilder& builder, const UcTag& root,
                                               std::span<const PartyId> all_party_ids);

// ---------------------------------------------------------------------------

template <class T>
std::expected<void, BoxedError> ProtocolExecutor::send_to(PartyId to, const T& value) {
  require_party(to);
  auto payload = sised::encode(value, kSendSpare);
  if (!payload) return std::unexpected(box_error<sised::EncodeError>(std::move(payload.error())));
  return queue(manager_message::Send{std::move(*payload), tag_, to});
}

template <class T>
std::expected<void, BoxedError> ProtocolExecutor::send_to_all(const T& value) {
  auto payload = sised::encode(value, kSendSpare);
  if (!payload) return std::unexpected(box_error<sised::EncodeError>(std::move(payload.error())));
  return queue(manager_message::SendToAll{std::move(*payload), tag_});
}

}  // namespace velto
