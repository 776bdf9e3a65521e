// The encrypted executor: every pair of parties talks through its own Noise
// KK channel (noise-kk/state.hpp), keyed by the two parties' long-term X25519
// transport keys, and the relay in between sees only ciphertext.
//
// Order of use in one operation:
//  1. set-up: number the session's parties and start the session hasher
//     (encrypted_channels_setup for a key set, encrypted_channels_setup_2 for
//     a table of ids and keys); callers may append their own bytes to the
//     hasher;
//  2. build: finish the hasher into the prologue and make one channel per
//     peer (encrypted_channels_build);
//  3. handshake run over the relay link: every pair completes its two
//     48-byte messages (run_noise_handshakes, or open_encrypted_link, which
//     also wraps the result);
//  4. the EncryptedLink is the operation's Communicator: the manager
//     (manager.hpp) sends and receives plaintexts through it, and it
//     encrypts and decrypts every message on the pair's channel.
//
// The link below (the "relay link") is any Communicator that carries opaque
// frames between PartyIds: the relay connection in production, the
// in-memory network in tests. Its errors reach the caller wrapped in a
// ChannelError with the direction of the failed operation.
//
// Wire forms:
//  - handshake message: 48 bytes, the sender's ephemeral key and the tag of
//    an empty payload; exactly two per pair, initiator (the party with the
//    bytewise lower static key) first;
//  - protocol message of m bytes (the manager's plaintext is the message
//    and its 32-byte UcTag): m + 32 bytes of ciphertext and the 16-byte AEAD
//    tag, m + 48 bytes in all, with AD = sender id || recipient id (2 bytes
//    little-endian each).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/blake3.hpp"
#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "noise-kk/error.hpp"
#include "noise-kk/keys.hpp"
#include "noise-kk/state.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/executor/communicator.hpp"

namespace velto {

// Most parties of one session.
inline constexpr std::size_t kMaxEncryptedParties = 8192;
// Context of the session hasher whose output is every channel's prologue.
inline constexpr std::string_view kNoisePrologueContext = "VELTO Noise_KK prologue V0";
// Most frames the handshake run keeps for later (frames of parties it does
// not await at the time); one more ends the run.
inline constexpr std::size_t kRelayEarlyCapacity = 1024;
// Bytes a protocol message grows by on the wire: its UcTag and the AEAD tag.
inline constexpr std::size_t kEncryptedOverhead = kTagSize + noise::kTagLen;

// ---------------------------------------------------------------------------
// Errors

// A failure of the relay link below the encryption, with the direction of
// the failed operation. `inner` is the link's error (the relay connection's
// client error, or the in-memory link's).
//   Send:    "Error while sending: `{e}`"    debug Send(<inner debug>)
//   Receive: "Error while receiving: `{e}`"  debug Receive(<inner debug>)
// No source of its own.
class ChannelError final : public Error {
 public:
  enum class Kind : std::uint8_t { Send, Receive };

  static ChannelError send(BoxedError inner) { return ChannelError(Kind::Send, std::move(inner)); }
  static ChannelError receive(BoxedError inner) { return ChannelError(Kind::Receive, std::move(inner)); }

  Kind kind() const noexcept { return kind_; }
  const BoxedError& inner() const noexcept { return inner_; }

  std::string display() const override;
  std::string debug() const override;

 private:
  ChannelError(Kind kind, BoxedError inner) : kind_(kind), inner_(std::move(inner)) {}

  Kind kind_;
  BoxedError inner_;
};

// The error of the encrypted link once the channels are up; the manager
// carries it boxed in its CommunicationError.
//   InnerError(ChannelError):     the ChannelError's text; no source
//   DecryptionError(NoiseError):  "Failed to decrypt message"; source: the NoiseError
//   UnknownPartyId(PartyId):      "Failed to encrypt message, unknown party: {p}"
//                                 (sending and receiving alike); no source
class EncryptedExecutorError final : public Error {
 public:
  enum class Kind : std::uint8_t { InnerError, DecryptionError, UnknownPartyId };

  static EncryptedExecutorError inner_error(ChannelError e) { return EncryptedExecutorError(std::move(e)); }
  static EncryptedExecutorError decryption_error(noise::NoiseError e) { return EncryptedExecutorError(std::move(e)); }
  static EncryptedExecutorError unknown_party_id(PartyId p) { return EncryptedExecutorError(p); }

  Kind kind() const noexcept { return kind_; }
  // The field of the variant (null / nothing for the others).
  const ChannelError* channel_error() const noexcept { return channel_ ? &*channel_ : nullptr; }
  const noise::NoiseError* noise_error() const noexcept { return noise_ ? &*noise_ : nullptr; }
  std::optional<PartyId> party() const noexcept { return party_; }

  std::string display() const override;
  std::string debug() const override;
  const Error* source() const noexcept override { return noise_error(); }

 private:
  explicit EncryptedExecutorError(ChannelError e) : kind_(Kind::InnerError), channel_(std::move(e)) {}
  explicit EncryptedExecutorError(noise::NoiseError e) : kind_(Kind::DecryptionError), noise_(std::move(e)) {}
  explicit EncryptedExecutorError(PartyId p) : kind_(Kind::UnknownPartyId), party_(p) {}

  Kind kind_;
  std::optional<ChannelError> channel_;
  std::optional<noise::NoiseError> noise_;
  std::optional<PartyId> party_;
};

// The error of the handshake run.
//   CommunicationError(ChannelError): the ChannelError's text; no source
//   NoiseError(NoiseError):           "The noise protocol failed: `{e}`"; source: the NoiseError
//   UnknownParty(PartyId):            "Received a message from an unknown party: `{p}`"; no source
class HandshakeSetupError final : public Error {
 public:
  enum class Kind : std::uint8_t { CommunicationError, NoiseError, UnknownParty };

  static HandshakeSetupError communication_error(ChannelError e) { return HandshakeSetupError(std::move(e)); }
  static HandshakeSetupError noise_error(noise::NoiseError e) { return HandshakeSetupError(std::move(e)); }
  static HandshakeSetupError unknown_party(PartyId p) { return HandshakeSetupError(p); }

  Kind kind() const noexcept { return kind_; }
  const ChannelError* channel_error() const noexcept { return channel_ ? &*channel_ : nullptr; }
  const noise::NoiseError* noise() const noexcept { return noise_ ? &*noise_ : nullptr; }
  std::optional<PartyId> party() const noexcept { return party_; }

  std::string display() const override;
  std::string debug() const override;
  const Error* source() const noexcept override { return noise(); }

 private:
  explicit HandshakeSetupError(ChannelError e) : kind_(Kind::CommunicationError), channel_(std::move(e)) {}
  explicit HandshakeSetupError(noise::NoiseError e) : kind_(Kind::NoiseError), noise_(std::move(e)) {}
  explicit HandshakeSetupError(PartyId p) : kind_(Kind::UnknownParty), party_(p) {}

  Kind kind_;
  std::optional<ChannelError> channel_;
  std::optional<noise::NoiseError> noise_;
  std::optional<PartyId> party_;
};

// ---------------------------------------------------------------------------
// Set-up and build

class EncryptedChannels;

// The numbered parties of a session and the session hasher (BLAKE3
// derive-key under kNoisePrologueContext, fed every id as 2 bytes
// little-endian and then every key, both in list order). The keys are in
// ascending bytewise order and the i-th id belongs to the i-th key.
class EncryptedChannelSetup {
 public:
  const std::vector<PartyId>& party_ids() const noexcept { return *party_ids_; }
  const std::vector<noise::PublicKey>& keys() const noexcept { return *keys_; }

  // The unfinished hasher: the join and the operation body append their own
  // bytes to it (raw, without framing). Parties that append different bytes
  // cannot complete their handshakes.
  crypto::Blake3& session_hasher() noexcept { return hasher_; }
  const crypto::Blake3& session_hasher() const noexcept { return hasher_; }

 private:
  friend EncryptedChannelSetup encrypted_channels_setup(std::span<const noise::PublicKey> keys);
  friend EncryptedChannelSetup encrypted_channels_setup_2(const std::map<PartyId, noise::PublicKey>& table);
  friend std::optional<EncryptedChannels> encrypted_channels_build(EncryptedChannelSetup setup,
                                                                   const noise::NoiseKeyPair& own);
  // Feeds the ids, then the keys, into a fresh hasher.
  EncryptedChannelSetup(std::vector<PartyId> ids, std::vector<noise::PublicKey> keys);

  std::shared_ptr<const std::vector<PartyId>> party_ids_;
  std::shared_ptr<const std::vector<noise::PublicKey>> keys_;
  crypto::Blake3 hasher_;
};

// Keygen-type sessions: the parties' static keys (a key given twice counts
// once). The keys are sorted bytewise and numbered 1 to n in that order, so
// the party with the lowest key is PartyId 1 on every machine. More than
// 8192 distinct keys: panic "The number of parties is too large, the maximum
// is 8192" (the operation reports it as a stop).
EncryptedChannelSetup encrypted_channels_setup(std::span<const noise::PublicKey> keys);

// Sign-type sessions: the table of ids and keys from a stored share. The
// pairs are sorted by key (ties by id); the ids keep their values. The same
// limit and panic as above.
EncryptedChannelSetup encrypted_channels_setup_2(const std::map<PartyId, noise::PublicKey>& table);

// One Noise KK channel per peer, all in their handshake phase, plus the
// session's lists and the own id.
class EncryptedChannels {
 public:
  EncryptedChannels(EncryptedChannels&&) noexcept = default;
  EncryptedChannels& operator=(EncryptedChannels&&) noexcept = default;

  PartyId my_id() const noexcept { return my_id_; }
  // In key order (as in the set-up).
  const std::vector<PartyId>& party_ids() const noexcept { return *party_ids_; }
  const std::vector<noise::PublicKey>& keys() const noexcept { return *keys_; }
  // The 32-byte prologue every channel of this party was started with.
  const crypto::ByteArray<32>& prologue() const noexcept { return prologue_; }

  // The channel with `peer`, or null when `peer` has none (the own id, or a
  // stranger).
  noise::HandshakeState* channel(PartyId peer) noexcept;
  const noise::HandshakeState* channel(PartyId peer) const noexcept;
  std::size_t peer_count() const noexcept { return channels_.size(); }
  // Whether every channel has completed its handshake.
  bool all_transport() const noexcept;

 private:
  friend std::optional<EncryptedChannels> encrypted_channels_build(EncryptedChannelSetup setup,
                                                                   const noise::NoiseKeyPair& own);
  EncryptedChannels() = default;

  std::shared_ptr<const std::vector<PartyId>> party_ids_;
  std::shared_ptr<const std::vector<noise::PublicKey>> keys_;
  std::unordered_map<PartyId, noise::HandshakeState> channels_;
  crypto::ByteArray<32> prologue_{};
  PartyId my_id_ = PartyId::unchecked(1);
};

// Finishes the hasher into the prologue and makes one channel for every
// party but the own one: this party initiates when its static key is
// bytewise lower than the peer's. Nothing when the own key is not among the
// session's keys; the own key listed twice is a broken invariant of the
// set-up (panic "assertion failed: my_id.is_none()").
std::optional<EncryptedChannels> encrypted_channels_build(EncryptedChannelSetup setup,
                                                          const noise::NoiseKeyPair& own);

// ---------------------------------------------------------------------------
// Handshake run

// Frames of the relay link that the handshake run read while their senders
// were not awaited, in arrival order: answers that overtook the first
// messages, and protocol messages of peers that finished earlier. Holds at
// most kRelayEarlyCapacity frames.
struct EarlyFrames {
  CollectionState state{.early_messages = {}, .waiting = {}, .scan_index = 0, .capacity = kRelayEarlyCapacity};
};

// Completes every pairwise handshake, in three phases each finished before
// the next: (1) a 48-byte first message to every peer this party initiates
// with; (2) the first message of every peer that initiates with this party,
// in arrival order, each answered at once; (3) the answers of the peers of
// phase 1. Sends are awaited one at a time. Frames of parties not awaited
// stay in `early` for the encrypted link, charged to the relay link's inbound
// account (or one of the run's own) under the byte budget of a session of
// this size; a frame that takes the account over it ends the run as an
// overflow of `early` does. Fails at the first error:
// CommunicationError for a relay send or receive failure (a receive deadline
// included) or an overflow of `early`, NoiseError for a handshake step
// (DecryptionError when the parties' prologues differ), UnknownParty for an
// awaited sender without a channel. With no peers it sends and receives
// nothing.
boost::asio::awaitable<std::expected<void, HandshakeSetupError>> run_noise_handshakes(EncryptedChannels& channels,
                                                                                      Communicator& relay,
                                                                                      EarlyFrames& early);

// ---------------------------------------------------------------------------
// Transport

// Encrypts a manager plaintext (protocol message || UcTag) in place for
// `to`: the buffer grows by the 16-byte AEAD tag (reallocating only if it
// lacks the room), AD = own id || to. UnknownPartyId when `to` has no
// channel (the plaintext is left as it was). A channel still in its
// handshake, or a refusal of the channel (a message beyond 16,777,215 bytes,
// 2^64 - 1 messages one way), is a broken invariant (panic "Should never
// fail").
std::expected<void, EncryptedExecutorError> encrypt_outgoing_message(EncryptedChannels& channels,
                                                                     crypto::Bytes& plaintext, PartyId to);

// Decrypts a relay payload from `sender` in place, AD = sender || own id,
// and drops the AEAD tag: the buffer then holds the plaintext (protocol
// message || UcTag). UnknownPartyId for a sender without a channel,
// DecryptionError for a payload that does not authenticate (tampered,
// replayed, reordered, meant for another party or session, shorter than a
// tag); the channel stays usable.
std::expected<void, EncryptedExecutorError> decrypt_incoming_message(EncryptedChannels& channels,
                                                                     crypto::Bytes& payload, PartyId sender);

// The operation's link once the handshakes are done: the Communicator that
// the executor builder and the manager hold. Send encrypts and hands the
// frame to the relay link; receive-next yields the frames kept during the
// handshake run first, in arrival order, then newly received ones, each
// decrypted; close closes the relay link. Errors are boxed
// EncryptedExecutorError values.
//
// As the manager uses it (communicator.hpp): one reader at a time, sends
// one at a time, both on the manager's strand, so the channel table is
// never touched by two threads.
class EncryptedLink final : public Communicator {
 public:
  // `channels` must have completed their handshakes (panic otherwise).
  EncryptedLink(std::shared_ptr<Communicator> relay, EncryptedChannels channels, EarlyFrames early);

  PartyId my_party_id() const override { return channels_.my_id(); }
  boost::asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() override;
  boost::asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes plaintext, PartyId to) override;
  boost::asio::awaitable<void> close() override;
  // The relay link's.
  std::shared_ptr<InboundAccount> inbound_account() const override { return relay_->inbound_account(); }

  // Frames kept from the handshake run and not yet handed out.
  std::size_t kept_frames() const noexcept { return kept_.size(); }
  EncryptedChannels& channels() noexcept { return channels_; }

 private:
  std::shared_ptr<Communicator> relay_;
  EncryptedChannels channels_;
  std::deque<ProtocolReceivedMessage> kept_;
};

// Runs the handshakes over `relay` and wraps the result: the Communicator
// for ExecutorBuilder. Errors: those of run_noise_handshakes.
boost::asio::awaitable<std::expected<std::shared_ptr<EncryptedLink>, HandshakeSetupError>> open_encrypted_link(
    std::shared_ptr<Communicator> relay, EncryptedChannels channels);

}  // namespace velto
