// Echo broadcast: making equivocation visible on a relay that only carries
// messages from one party to one other.
//
// Two forms, each on an executor opened for it alone (usually a child with
// its own label), so that its messages never mix with others:
// - echo_broadcast (all parties): every party sends its value to all others,
//   collects one value from each, and then every party sends a 32-byte
//   digest of the whole sorted list; a digest that differs from the own one
//   means somebody sent different values to different peers.
// - the single-sender form: the sender queues its value for all others
//   (echo_broadcast_send) and takes no further part; each receiver
//   (echo_broadcast_receive) forwards the value it got to every other
//   receiver and compares the copies it gets back with its own.
// A detected difference fails with CheatingDetected and names nobody. The
// comparison rounds collect every message before deciding.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/blake3.hpp"
#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"

namespace velto {

// The BLAKE3 derive-key context of the all-party digest.
inline constexpr std::string_view kBroadcastDigestContext = "broadcast_everyone hashing";

// The error of both forms of the echo broadcast.
//   Communication(e)      "Communication Error: {e}"  a send or a collection
//                         failed, or a message did not decode; source: e
//   CheatingDetected      "Cheating detected"
//   SerializationError(e) "Serialization Error: {e}"  a value or list could
//                         not be encoded; source: e
//   NoSuchParty(p)        "No such party: {p}"  the named sender is not in
//                         the executor's party list
// Debug forms: Communication(<e's debug form>), CheatingDetected,
// SerializationError(OutOfBounds), NoSuchParty(PartyId(4)).
class InfraError final : public Error {
 public:
  struct Communication {
    BoxedError error;  // never null
  };
  struct CheatingDetected {};
  struct SerializationError {
    sised::EncodeError error;
  };
  struct NoSuchParty {
    PartyId party;
  };
  using Value = std::variant<Communication, CheatingDetected, SerializationError, NoSuchParty>;

  // A Communication with a null error is a programming error (panic).
  InfraError(Value value);

  static InfraError communication(BoxedError error) { return InfraError(Communication{std::move(error)}); }
  static InfraError cheating_detected() { return InfraError(CheatingDetected{}); }
  static InfraError serialization(sised::EncodeError error) { return InfraError(SerializationError{std::move(error)}); }
  static InfraError no_such_party(PartyId party) { return InfraError(NoSuchParty{party}); }

  VELTO_VARIANT_ERROR_ACCESSORS

 private:
  Value value_;
};

namespace broadcast_detail {

// A copy of an encoded payload with room for the tag the manager appends.
inline crypto::Bytes payload_copy(const crypto::Bytes& encoded) {
  crypto::Bytes out;
  out.reserve(encoded.size() + kTagSize);
  out.assign(encoded.begin(), encoded.end());
  return out;
}

}  // namespace broadcast_detail

// The digest of an all-party broadcast: BLAKE3 derive-key under
// "broadcast_everyone hashing" over the entry count (sised varint) and then,
// per entry in ascending id order, the sised encoding of the value followed
// by the id (2 bytes little-endian).
template <class T>
std::expected<crypto::ByteArray<32>, InfraError> broadcast_digest(const PartyMap<T>& entries) {
  auto hasher = crypto::Blake3::derive_key(kBroadcastDigestContext);
  sised::Sink sink = sised::Sink::callback(&hasher, [](void* h, crypto::ByteSpan bytes) {
    static_cast<crypto::Blake3*>(h)->update(bytes);
    return true;
  });
  sised::write_varint(sink, entries.size());
  for (const auto& [id, value] : entries) {
    sised::encode_value(sink, value);
    sised::write_u16(sink, id.value());
  }
  if (!sink.ok()) return std::unexpected(InfraError::serialization(*sink.encode_error()));
  return hasher.finalize();
}

// The all-party form on `executor` (consumed: released, and so deregistered,
// when the broadcast ends): sends `value` to every other party, collects one
// value from each, adds the own, and compares the digest of the sorted list
// with every other party's. Returns every party's value by id, the own
// included; every honest party that completes holds the same map.
// Errors: Communication (send, collection, decoding; a digest shorter than
// 32 bytes), CheatingDetected (a digest differed; decided after every digest
// has arrived), SerializationError.
template <class T>
boost::asio::awaitable<std::expected<PartyMap<T>, InfraError>> echo_broadcast(ProtocolExecutor executor, T value) {
  auto encoded = sised::encode(value, kTagSize);
  if (!encoded) co_return std::unexpected(InfraError::serialization(std::move(encoded.error())));
  if (auto sent = executor.send_payload_to_all(std::move(*encoded)); !sent)
    co_return std::unexpected(InfraError::communication(std::move(sent.error())));

  PartyMap<T> list(executor.parties().size());
  {
    auto poll = BufferedPoll::start(executor, executor.parties());
    for (;;) {
      auto item = co_await poll.next<T>();
      if (!item) co_return std::unexpected(InfraError::communication(std::move(item.error())));
      if (!*item) break;
      list.insert((*item)->sender, std::move((*item)->value));
    }
  }
  list.insert(executor.my_party_id(), std::move(value));

  auto digest = broadcast_digest(list);
  if (!digest) co_return std::unexpected(std::move(digest.error()));
  if (auto sent = executor.send_to_all(*digest); !sent)
    co_return std::unexpected(InfraError::communication(std::move(sent.error())));

  bool differs = false;
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<crypto::ByteArray<32>>();
    if (!item) co_return std::unexpected(InfraError::communication(std::move(item.error())));
    if (!*item) break;
    differs |= !crypto::ct_equal((*item)->value, *digest);
  }
  if (differs) co_return std::unexpected(InfraError::cheating_detected());
  co_return std::move(list);
}

// The sender's side of the single-sender form: queues `value` for every
// other party of the executor's tag (one SendToAll) and nothing more.
// Errors: SerializationError, Communication (the manager has ended).
template <class T>
std::expected<void, InfraError> echo_broadcast_send(ProtocolExecutor& executor, const T& value) {
  auto encoded = sised::encode(value, kTagSize);
  if (!encoded) return std::unexpected(InfraError::serialization(std::move(encoded.error())));
  if (auto sent = executor.send_payload_to_all(std::move(*encoded)); !sent)
    return std::unexpected(InfraError::communication(std::move(sent.error())));
  return {};
}

// A receiver's side of the single-sender form on `executor` (consumed), for
// the value sent by `sender`, which must not be this party (panic):
// 1. `sender` must be in the party list, else NoSuchParty (nothing is read);
// 2. collect the sender's value;
// 3. send it, encoded again, to every party except this one and the sender,
//    in list order, one Send each;
// 4. collect one echo from each of them and compare it with the own copy
//    (T's ==; for point lists: length and every point).
// Returns the sender's value. Errors: NoSuchParty, Communication (send,
// collection, a value or echo that does not decode), CheatingDetected (an
// echo differed; decided after every echo has arrived), SerializationError.
template <class T>
boost::asio::awaitable<std::expected<T, InfraError>> echo_broadcast_receive(ProtocolExecutor executor,
                                                                            PartyId sender) {
  const PartyId me = executor.my_party_id();
  if (sender == me) panic("echo_broadcast_receive: the sender is this party");
  if (!executor.has_party(sender)) co_return std::unexpected(InfraError::no_such_party(sender));

  std::optional<T> received;
  {
    const PartyId from[1] = {sender};
    auto poll = BufferedPoll::start(executor, from);
    auto item = co_await poll.next<T>();
    if (!item) co_return std::unexpected(InfraError::communication(std::move(item.error())));
    if (!*item) panic("echo_broadcast_receive: the sender was not awaited");
    received.emplace(std::move((*item)->value));
  }

  std::vector<PartyId> echoers;
  echoers.reserve(executor.parties().size());
  for (const PartyId p : executor.parties())
    if (p != me && p != sender) echoers.push_back(p);

  auto encoded = sised::encode(*received, kTagSize);
  if (!encoded) co_return std::unexpected(InfraError::serialization(std::move(encoded.error())));
  for (const PartyId p : echoers) {
    if (auto sent = executor.send_payload_to(p, broadcast_detail::payload_copy(*encoded)); !sent)
      co_return std::unexpected(InfraError::communication(std::move(sent.error())));
  }

  bool differs = false;
  auto poll = BufferedPoll::start(executor, echoers);
  for (;;) {
    auto item = co_await poll.next<T>();
    if (!item) co_return std::unexpected(InfraError::communication(std::move(item.error())));
    if (!*item) break;
    differs |= !((*item)->value == *received);
  }
  if (differs) co_return std::unexpected(InfraError::cheating_detected());
  co_return std::move(*received);
}

}  // namespace velto
