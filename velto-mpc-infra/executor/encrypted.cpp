#include "velto-mpc-infra/executor/encrypted.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "velto-mpc-infra/buffered_poll.hpp"

namespace asio = boost::asio;

namespace velto {

namespace {

// AD of a transport message: sender id, then recipient id, 2 bytes
// little-endian each.
std::array<std::uint8_t, 4> transport_ad(PartyId sender, PartyId recipient) noexcept {
  return {static_cast<std::uint8_t>(sender.value()), static_cast<std::uint8_t>(sender.value() >> 8),
          static_cast<std::uint8_t>(recipient.value()), static_cast<std::uint8_t>(recipient.value() >> 8)};
}

void check_party_count(std::size_t n) {
  if (n > kMaxEncryptedParties)
    panic("The number of parties is too large, the maximum is " + std::to_string(kMaxEncryptedParties));
}

// The relay link as a source of the buffered collection: frames handed out
// as they are, the link's failures as receive errors.
struct RelaySource {
  using Error = ChannelError;

  Communicator* relay;
  std::shared_ptr<InboundAccount> account;

  asio::awaitable<std::expected<ProtocolReceivedMessage, ChannelError>> next() {
    auto frame = co_await relay->receive_next();
    if (!frame) co_return std::unexpected(ChannelError::receive(std::move(frame.error())));
    HeldBytes held(account, frame->plaintext.size());
    ProtocolReceivedMessage message{std::move(frame->plaintext), frame->sender, std::move(held)};
    co_return message;
  }
  static ChannelError too_many_unexpected() {
    return ChannelError::receive(ExecutorChannelError::too_many_unexpected_messages());
  }
};

using HandshakeResult = std::expected<void, HandshakeSetupError>;

}  // namespace

// ---------------------------------------------------------------------------
// Errors

std::string ChannelError::display() const {
  const std::string inner = inner_ ? inner_->display() : std::string();
  return (kind_ == Kind::Send ? "Error while sending: `" : "Error while receiving: `") + inner + "`";
}

std::string ChannelError::debug() const {
  const std::string inner = inner_ ? inner_->debug() : std::string();
  return (kind_ == Kind::Send ? "Send(" : "Receive(") + inner + ")";
}

std::string EncryptedExecutorError::display() const {
  switch (kind_) {
    case Kind::InnerError: return channel_->display();
    case Kind::DecryptionError: return "Failed to decrypt message";
    case Kind::UnknownPartyId: return "Failed to encrypt message, unknown party: " + party_->display();
  }
  return {};
}

std::string EncryptedExecutorError::debug() const {
  switch (kind_) {
    case Kind::InnerError: return "InnerError(" + channel_->debug() + ")";
    case Kind::DecryptionError: return "DecryptionError(" + noise_->debug() + ")";
    case Kind::UnknownPartyId: return "UnknownPartyId(" + party_->debug() + ")";
  }
  return {};
}

std::string HandshakeSetupError::display() const {
  switch (kind_) {
    case Kind::CommunicationError: return channel_->display();
    case Kind::NoiseError: return "The noise protocol failed: `" + noise_->display() + "`";
    case Kind::UnknownParty: return "Received a message from an unknown party: `" + party_->display() + "`";
  }
  return {};
}

std::string HandshakeSetupError::debug() const {
  switch (kind_) {
    case Kind::CommunicationError: return "CommunicationError(" + channel_->debug() + ")";
    case Kind::NoiseError: return "NoiseError(" + noise_->debug() + ")";
    case Kind::UnknownParty: return "UnknownParty(" + party_->debug() + ")";
  }
  return {};
}

// ---------------------------------------------------------------------------
// Set-up and build

EncryptedChannelSetup::EncryptedChannelSetup(std::vector<PartyId> ids, std::vector<noise::PublicKey> keys)
    : hasher_(crypto::Blake3::derive_key(kNoisePrologueContext)) {
  for (const PartyId id : ids) {
    const std::array<std::uint8_t, 2> le{static_cast<std::uint8_t>(id.value()),
                                         static_cast<std::uint8_t>(id.value() >> 8)};
    hasher_.update(le);
  }
  for (const noise::PublicKey& k : keys) hasher_.update(k.span());
  party_ids_ = std::make_shared<const std::vector<PartyId>>(std::move(ids));
  keys_ = std::make_shared<const std::vector<noise::PublicKey>>(std::move(keys));
}

EncryptedChannelSetup encrypted_channels_setup(std::span<const noise::PublicKey> keys) {
  std::vector<noise::PublicKey> sorted(keys.begin(), keys.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  check_party_count(sorted.size());
  std::vector<PartyId> ids;
  ids.reserve(sorted.size());
  for (std::size_t i = 0; i < sorted.size(); ++i) ids.push_back(PartyId::unchecked(static_cast<std::uint16_t>(i + 1)));
  return EncryptedChannelSetup(std::move(ids), std::move(sorted));
}

EncryptedChannelSetup encrypted_channels_setup_2(const std::map<PartyId, noise::PublicKey>& table) {
  check_party_count(table.size());
  std::vector<std::pair<noise::PublicKey, PartyId>> pairs;
  pairs.reserve(table.size());
  for (const auto& [id, key] : table) pairs.emplace_back(key, id);
  // By key; the map's id order breaks ties, so the result is the same on
  // every machine.
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PartyId> ids;
  std::vector<noise::PublicKey> keys;
  ids.reserve(pairs.size());
  keys.reserve(pairs.size());
  for (const auto& [key, id] : pairs) {
    ids.push_back(id);
    keys.push_back(key);
  }
  return EncryptedChannelSetup(std::move(ids), std::move(keys));
}

noise::HandshakeState* EncryptedChannels::channel(PartyId peer) noexcept {
  auto it = channels_.find(peer);
  return it == channels_.end() ? nullptr : &it->second;
}

const noise::HandshakeState* EncryptedChannels::channel(PartyId peer) const noexcept {
  auto it = channels_.find(peer);
  return it == channels_.end() ? nullptr : &it->second;
}

bool EncryptedChannels::all_transport() const noexcept {
  return std::all_of(channels_.begin(), channels_.end(), [](const auto& e) { return e.second.is_transport(); });
}

std::optional<EncryptedChannels> encrypted_channels_build(EncryptedChannelSetup setup,
                                                          const noise::NoiseKeyPair& own) {
  EncryptedChannels out;
  out.prologue_ = setup.hasher_.finalize();
  const auto& ids = *setup.party_ids_;
  const auto& keys = *setup.keys_;
  if (ids.size() != keys.size()) panic("assertion failed: party_ids.len() == keys.len()");

  std::optional<PartyId> my_id;
  out.channels_.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (keys[i] == own.public_key()) {
      if (my_id) panic("assertion failed: my_id.is_none()");
      my_id = ids[i];
      continue;
    }
    const bool initiator = own.public_key() < keys[i];
    out.channels_.emplace(ids[i], noise::initialize_handshake(initiator, own, keys[i], out.prologue_));
  }
  if (!my_id) return std::nullopt;
  out.my_id_ = *my_id;
  out.party_ids_ = std::move(setup.party_ids_);
  out.keys_ = std::move(setup.keys_);
  return out;
}

// ---------------------------------------------------------------------------
// Handshake run

namespace {

// Collects one frame from every party of `awaited` and hands each to
// `step` (which may send); frames of other parties stay in `early`.
template <class Step>
asio::awaitable<HandshakeResult> collect_handshake_messages(EncryptedChannels& channels, Communicator& relay,
                                                            const std::shared_ptr<InboundAccount>& account,
                                                            EarlyFrames& early, const std::vector<PartyId>& awaited,
                                                            Step step) {
  RelaySource source{&relay, account};
  auto poll = BasicBufferedPoll<RelaySource>::start(early.state, std::move(source), awaited, channels.my_id());
  for (;;) {
    auto next = co_await poll.next_message();
    if (!next) co_return std::unexpected(HandshakeSetupError::communication_error(std::move(next.error())));
    if (!*next) co_return HandshakeResult();
    ProtocolReceivedMessage message = std::move(**next);
    noise::HandshakeState* channel = channels.channel(message.sender);
    if (channel == nullptr) co_return std::unexpected(HandshakeSetupError::unknown_party(message.sender));
    auto read = channel->read_message(message.payload);
    if (!read) co_return std::unexpected(HandshakeSetupError::noise_error(std::move(read.error())));
    auto stepped = co_await step(*channel, message);
    if (!stepped) co_return stepped;
  }
}

}  // namespace

asio::awaitable<HandshakeResult> run_noise_handshakes(EncryptedChannels& channels, Communicator& relay,
                                                      EarlyFrames& early) {
  std::vector<PartyId> initiated;  // peers with a higher key: we write first
  std::vector<PartyId> answered;   // peers with a lower key: they write first
  const std::shared_ptr<InboundAccount> account =
      budgeted_account(relay, ExecutorLimits{}.for_parties(channels.party_ids().size()).max_held_bytes);

  // Phase 1: the first message to every peer we initiate with.
  for (const PartyId peer : channels.party_ids()) {
    noise::HandshakeState* channel = channels.channel(peer);
    if (channel == nullptr) continue;  // ourselves
    if (channel->is_transport()) panic("assertion failed: !ns.is_transport()");
    if (!channel->is_initiator()) {
      answered.push_back(peer);
      continue;
    }
    initiated.push_back(peer);
    crypto::Bytes message(noise::kHandshakeMessageLen, 0);
    auto written = channel->write_message(message);
    if (!written) co_return std::unexpected(HandshakeSetupError::noise_error(std::move(written.error())));
    auto sent = co_await relay.send(std::move(message), peer);
    if (!sent)
      co_return std::unexpected(HandshakeSetupError::communication_error(ChannelError::send(std::move(sent.error()))));
  }

  // Phase 2: read each first message addressed to us and answer it at once,
  // in the same buffer at the same length.
  auto answer = [&relay](noise::HandshakeState& channel,
                         ProtocolReceivedMessage& message) -> asio::awaitable<HandshakeResult> {
    std::fill(message.payload.begin(), message.payload.end(), std::uint8_t{0});
    auto written = channel.write_message(message.payload);
    if (!written) co_return std::unexpected(HandshakeSetupError::noise_error(std::move(written.error())));
    auto sent = co_await relay.send(std::move(message.payload), message.sender);
    if (!sent)
      co_return std::unexpected(HandshakeSetupError::communication_error(ChannelError::send(std::move(sent.error()))));
    co_return HandshakeResult();
  };
  auto phase2 = co_await collect_handshake_messages(channels, relay, account, early, answered, answer);
  if (!phase2) co_return phase2;

  // Phase 3: the answers to our first messages.
  auto done = [](noise::HandshakeState&, ProtocolReceivedMessage&) -> asio::awaitable<HandshakeResult> {
    co_return HandshakeResult();
  };
  auto phase3 = co_await collect_handshake_messages(channels, relay, account, early, initiated, done);
  if (!phase3) co_return phase3;

  if (!channels.all_transport()) panic("assertion failed: ns.is_transport()");
  co_return HandshakeResult();
}

// ---------------------------------------------------------------------------
// Transport

std::expected<void, EncryptedExecutorError> encrypt_outgoing_message(EncryptedChannels& channels,
                                                                     crypto::Bytes& plaintext, PartyId to) {
  noise::HandshakeState* channel = channels.channel(to);
  if (channel == nullptr) return std::unexpected(EncryptedExecutorError::unknown_party_id(to));
  if (!channel->is_transport()) panic("Should never fail");
  plaintext.resize(plaintext.size() + noise::kTagLen);
  const auto ad = transport_ad(channels.my_id(), to);
  if (!channel->write_message(plaintext, ad)) panic("Should never fail");
  return {};
}

std::expected<void, EncryptedExecutorError> decrypt_incoming_message(EncryptedChannels& channels,
                                                                     crypto::Bytes& payload, PartyId sender) {
  noise::HandshakeState* channel = channels.channel(sender);
  if (channel == nullptr) return std::unexpected(EncryptedExecutorError::unknown_party_id(sender));
  if (!channel->is_transport()) panic("assertion failed: ns.is_transport()");
  const auto ad = transport_ad(sender, channels.my_id());
  auto read = channel->read_message(payload, ad);
  if (!read) return std::unexpected(EncryptedExecutorError::decryption_error(std::move(read.error())));
  payload.resize(payload.size() - noise::kTagLen);
  return {};
}

EncryptedLink::EncryptedLink(std::shared_ptr<Communicator> relay, EncryptedChannels channels, EarlyFrames early)
    : relay_(std::move(relay)), channels_(std::move(channels)), kept_(std::move(early.state.early_messages)) {
  if (!channels_.all_transport()) panic("assertion failed: ns.is_transport()");
}

asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> EncryptedLink::receive_next() {
  std::optional<ProtocolReceivedMessage> frame;
  if (!kept_.empty()) {
    frame.emplace(std::move(kept_.front()));
    kept_.pop_front();
  } else {
    auto received = co_await relay_->receive_next();
    if (!received) {
      auto error = EncryptedExecutorError::inner_error(ChannelError::receive(std::move(received.error())));
      co_return std::unexpected(box_error<EncryptedExecutorError>(std::move(error)));
    }
    frame.emplace(std::move(received->plaintext), received->sender);
  }
  auto opened = decrypt_incoming_message(channels_, frame->payload, frame->sender);
  if (!opened) co_return std::unexpected(box_error<EncryptedExecutorError>(std::move(opened.error())));
  ReceivedPlaintext out{std::move(frame->payload), frame->sender};
  co_return out;
}

asio::awaitable<std::expected<void, BoxedError>> EncryptedLink::send(crypto::Bytes plaintext, PartyId to) {
  auto sealed = encrypt_outgoing_message(channels_, plaintext, to);
  if (!sealed) co_return std::unexpected(box_error<EncryptedExecutorError>(std::move(sealed.error())));
  auto sent = co_await relay_->send(std::move(plaintext), to);
  if (!sent) {
    auto error = EncryptedExecutorError::inner_error(ChannelError::send(std::move(sent.error())));
    co_return std::unexpected(box_error<EncryptedExecutorError>(std::move(error)));
  }
  co_return std::expected<void, BoxedError>();
}

asio::awaitable<void> EncryptedLink::close() { co_await relay_->close(); }

asio::awaitable<std::expected<std::shared_ptr<EncryptedLink>, HandshakeSetupError>> open_encrypted_link(
    std::shared_ptr<Communicator> relay, EncryptedChannels channels) {
  EarlyFrames early;
  auto run = co_await run_noise_handshakes(channels, *relay, early);
  if (!run) co_return std::unexpected(std::move(run.error()));
  co_return std::make_shared<EncryptedLink>(std::move(relay), std::move(channels), std::move(early));
}

}  // namespace velto
