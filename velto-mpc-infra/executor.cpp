#include "velto-mpc-infra/executor.hpp"

#include <algorithm>

#include "crypto/blake3.hpp"
#include "crypto/random.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto {

namespace {

crypto::ChaCha8Rng seeded_rng(const crypto::SecretArray<32>& seed_key, const UcTag& tag) {
  auto seed = crypto::Blake3::keyed(seed_key.array()).update(tag.span()).finalize();
  crypto::ChaCha8Rng rng(seed);
  crypto::secure_wipe(seed.data(), seed.size());
  return rng;
}

}  // namespace

// ---------------------------------------------------------------------------
// ExecutorChannelError

std::string ExecutorChannelError::display() const {
  switch (kind_) {
    case Kind::ManagerChannelClosed: return "The manager channel was closed";
    case Kind::TooManyUnexpectedMessages: return "Too many messages have came from unexpected parties";
  }
  return {};
}

std::string ExecutorChannelError::debug() const {
  switch (kind_) {
    case Kind::ManagerChannelClosed: return "ManagerChannelClosed";
    case Kind::TooManyUnexpectedMessages: return "TooManyUnexpectedMessages";
  }
  return {};
}

BoxedError ExecutorChannelError::manager_channel_closed() {
  return box_error<ExecutorChannelError>(Kind::ManagerChannelClosed);
}

BoxedError ExecutorChannelError::too_many_unexpected_messages() {
  return box_error<ExecutorChannelError>(Kind::TooManyUnexpectedMessages);
}

// ---------------------------------------------------------------------------
// Limits

ExecutorLimits ExecutorLimits::for_parties(std::size_t parties) const noexcept {
  ExecutorLimits out = *this;
  out.max_pending_uc_tags = std::max(max_pending_uc_tags, 4 * parties);
  out.max_pending_messages_per_tag = std::max(max_pending_messages_per_tag, 2 * parties);
  out.inbound_capacity = std::max(inbound_capacity, 2 * parties);
  out.max_held_bytes =
      std::max(max_held_bytes, parties * (kHeldBytesPerParty + kHeldBytesPerPartyPair * parties));
  return out;
}

ExecutorLimits ExecutorBuilder::limits() const noexcept {
  return ExecutorLimits{max_pending_uc_tags, max_pending_messages_per_tag, inbound_capacity, max_held_bytes}
      .for_parties(party_count_);
}

// ---------------------------------------------------------------------------
// ProtocolExecutor

ProtocolExecutor::ProtocolExecutor(const UcTag& tag, PartyId my_party_id,
                                   async::UnboundedSender<ManagerMessage> manager, PartyList parties,
                                   async::Receiver<ProtocolReceivedMessage> inbound, std::size_t capacity,
                                   const crypto::SecretArray<32>& seed_key)
    : tag_(tag),
      seed_key_(seed_key),
      rng_(seeded_rng(seed_key, tag)),
      parties_(std::move(parties)),
      manager_(std::move(manager)),
      inbound_(std::move(inbound)),
      my_party_id_(my_party_id) {
  collection_.capacity = capacity;
}

ProtocolExecutor ProtocolExecutor::open(const UcTag& tag, PartyId my_party_id,
                                        async::UnboundedSender<ManagerMessage> manager, PartyList parties,
                                        std::size_t capacity, const crypto::SecretArray<32>& seed_key) {
  auto [inbound_tx, inbound_rx] = async::channel<ProtocolReceivedMessage>(capacity);
  // If the manager has ended, the Register is dropped here together with
  // the inbound sender inside it: the new executor's inbound channel is then
  // closed from the start, so its collections report ManagerChannelClosed,
  // and so do its sends. Nothing else is needed.
  (void)manager.send(manager_message::Register{tag, std::move(inbound_tx), parties});
  return ProtocolExecutor(tag, my_party_id, std::move(manager), std::move(parties), std::move(inbound_rx),
                          capacity, seed_key);
}

ProtocolExecutor& ProtocolExecutor::operator=(ProtocolExecutor&& other) noexcept {
  if (this != &other) {
    release();
    tag_ = other.tag_;
    seed_key_ = std::move(other.seed_key_);
    rng_ = other.rng_;
    parties_ = std::move(other.parties_);
    manager_ = std::move(other.manager_);
    inbound_ = std::move(other.inbound_);
    collection_ = std::move(other.collection_);
    my_party_id_ = other.my_party_id_;
  }
  return *this;
}

ProtocolExecutor::~ProtocolExecutor() { release(); }

void ProtocolExecutor::release() noexcept {
  if (manager_) {
    // The Deregister follows every command of this executor in the FIFO.
    (void)manager_.send(manager_message::Deregister{tag_});
    manager_.reset();
  }
  inbound_.reset();
  collection_.early_messages.clear();
  collection_.waiting.clear();
  collection_.scan_index = 0;
}

ProtocolExecutor ProtocolExecutor::with_tag(const UcTag& tag) const {
  return open(tag, my_party_id_, manager_, parties_, collection_.capacity, seed_key_);
}

ProtocolExecutor ProtocolExecutor::child(std::string_view label) const {
  return with_tag(derive_child_uc_tag(tag_, label));
}

ProtocolExecutor ProtocolExecutor::child_u64_label(std::string_view label) const {
  return with_tag(child_u64_label_uc_tag(tag_, label));
}

ProtocolExecutor ProtocolExecutor::child_indexed(std::string_view label, PartyId id) const {
  return with_tag(child_indexed_uc_tag(tag_, label, id));
}

ProtocolExecutor ProtocolExecutor::child_label_two_ids(std::string_view label, PartyId id1, PartyId id2) const {
  return with_tag(child_label_two_ids_uc_tag(tag_, label, id1, id2));
}

ProtocolExecutor ProtocolExecutor::child_pair(PartyId a, PartyId b) const {
  return with_tag(child_pair_uc_tag(tag_, a, b));
}

PeerExecutor ProtocolExecutor::peer(PartyId id) && {
  require_party(id);
  return PeerExecutor(std::move(*this), id);
}

std::uint16_t ProtocolExecutor::number_of_parties() const {
  const std::size_t n = parties_->size();
  if (n == 0 || n > kMaxPartiesPerOperation) panic("Too many parties! Bug!");
  return static_cast<std::uint16_t>(n);
}

bool ProtocolExecutor::has_party(PartyId id) const noexcept {
  return std::binary_search(parties_->begin(), parties_->end(), id);
}

void ProtocolExecutor::require_party(PartyId id) const {
  if (!has_party(id)) panic(id.debug() + " is not in parties set: " + debug_party_list(*parties_));
}

std::expected<void, BoxedError> ProtocolExecutor::queue(ManagerMessage&& message) {
  if (!manager_.send(std::move(message))) return std::unexpected(ExecutorChannelError::manager_channel_closed());
  return {};
}

std::expected<void, BoxedError> ProtocolExecutor::send_payload_to(PartyId to, crypto::Bytes payload) {
  require_party(to);
  return queue(manager_message::Send{std::move(payload), tag_, to});
}

std::expected<void, BoxedError> ProtocolExecutor::send_payload_to_all(crypto::Bytes payload) {
  return queue(manager_message::SendToAll{std::move(payload), tag_});
}

// ---------------------------------------------------------------------------
// PeerExecutor

PeerExecutor::PeerExecutor(ProtocolExecutor executor, PartyId peer)
    : executor_(std::move(executor)),
      peer_(peer),
      pair_{std::min(executor_.my_party_id(), peer), std::max(executor_.my_party_id(), peer)} {}

// ---------------------------------------------------------------------------
// build_executor

std::optional<ProtocolExecutor> build_executor(ExecutorBuilder& builder, const UcTag& root,
                                               std::span<const PartyId> all_party_ids) {
  crypto::SecretArray<32> seed_key;
  crypto::os_random(seed_key.mut_span());
  if (builder.built()) return std::nullopt;

  std::vector<PartyId> ids(all_party_ids.begin(), all_party_ids.end());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  if (ids.size() > kMaxPartiesPerOperation) panic("Too many parties");
  const PartyId me = builder.communicator->my_party_id();
  if (!std::binary_search(ids.begin(), ids.end(), me)) panic("my_party_id not in all_party_ids");

  builder.party_count_ = ids.size();
  builder.state_ = ExecutorBuilder::State::Built;
  auto parties = std::make_shared<const std::vector<PartyId>>(std::move(ids));
  auto [manager_tx, manager_rx] = async::unbounded_channel<ManagerMessage>();
  builder.manager_receiver = std::move(manager_rx);
  // The receiver is held by the builder, so this Register cannot be refused.
  return ProtocolExecutor::open(root, me, std::move(manager_tx), std::move(parties),
                                builder.limits().inbound_capacity, seed_key);
}

}  // namespace velto
