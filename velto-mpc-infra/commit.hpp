// Commitments: every party fixes a value before it sees anyone else's.
//
// Two message rounds on one executor. In the commitment round every party
// sends a 32-byte digest of its value; once every digest has arrived, the
// opening round sends the values themselves, and each receiver checks every
// opened value against its sender's digest. The digest binds the value to
// the executor's tag, to the committing party and to the whole party list,
// so a commitment cannot be replayed in another step, by another party or in
// another session.
//
// The rounds may run back to back (commit_then_decommit) or apart, with
// other work in between, on the same executor. Openings that arrive while
// digests are still being collected are kept for the opening round.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
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
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto {

// The BLAKE3 derive-key context of every commitment digest.
inline constexpr std::string_view kCommitContext = "VELTO ECDSA COMMIT V0";

using Commitment = crypto::ByteArray<32>;

// The error of the opening round.
//   InvalidCommitment  "Received an invalid commitment"  an opened value does
//                      not hash to its sender's digest
//   ReceiveFailed(e)   "Failed to receive a message: {e}"  sending or
//                      collecting the openings failed, or an opening did not
//                      decode; source: e
// Debug forms: InvalidCommitment, ReceiveFailed(<e's debug form>).
class DecommitError final : public Error {
 public:
  struct InvalidCommitment {};
  struct ReceiveFailed {
    BoxedError error;  // never null
  };
  using Value = std::variant<InvalidCommitment, ReceiveFailed>;

  // A ReceiveFailed with a null error is a programming error (panic).
  DecommitError(Value value);

  static DecommitError invalid_commitment() { return DecommitError(InvalidCommitment{}); }
  static DecommitError receive_failed(BoxedError error) { return DecommitError(ReceiveFailed{std::move(error)}); }

  VELTO_VARIANT_ERROR_ACCESSORS

 private:
  Value value_;
};

// The failure of commit_then_decommit: the commitment round's own error
// (boxed: the executor's channel error or the decoder's error), or the
// opening round's DecommitError.
using CommitThenDecommitError = std::variant<BoxedError, DecommitError>;

// The commitment digest: BLAKE3 derive-key under "VELTO ECDSA COMMIT V0" over
//   tag (32) ‖ committer (2, LE) ‖ every id of `parties` in order (2 each, LE,
//   no count) ‖ the sised encoding of `value`.
// The committed values in use are point lists (varint count, then 33 bytes
// per point), single points, pairs of points, scalars and the key-generation
// proof record; any sised-encodable value works.
template <class T>
Commitment commit_hash(const UcTag& tag, PartyId committer, std::span<const PartyId> parties, const T& value) {
  auto hasher = crypto::Blake3::derive_key(kCommitContext);
  hasher.update(tag.span());
  crypto::Bytes ids;
  ids.reserve(2 * (parties.size() + 1));
  const auto push = [&ids](PartyId id) {
    ids.push_back(static_cast<std::uint8_t>(id.value() & 0xff));
    ids.push_back(static_cast<std::uint8_t>(id.value() >> 8));
  };
  push(committer);
  for (const PartyId p : parties) push(p);
  hasher.update(ids);
  sised::hash_into(hasher, value, "Should never fail, we are serializing to a hasher");
  return hasher.finalize();
}

// The commitment round on `executor` (await it at once; the executor stays
// the caller's): sends this party's digest of `value` to every other party
// and collects every other party's digest (the first 32 bytes of its
// message). Errors (boxed): ExecutorChannelError, or the SisedError
// OutOfBounds for a message shorter than 32 bytes.
template <class T>
boost::asio::awaitable<std::expected<PartyMap<Commitment>, BoxedError>> commit_round(ProtocolExecutor& executor,
                                                                                     const T& value) {
  const Commitment own = commit_hash(executor.tag(), executor.my_party_id(), executor.parties(), value);
  if (auto sent = executor.send_to_all(own); !sent) co_return std::unexpected(std::move(sent.error()));
  co_return co_await collect_map<Commitment>(executor);
}

// The opening round on the executor of the commitment round: sends `value`
// to every other party, then takes each other party's opening as it arrives,
// decodes it as T and checks it against that party's digest in
// `commitments` (which must hold one for every other party). Returns every
// other party's opened value by id.
// Errors: ReceiveFailed (send, collection, decoding; nothing is compared for
// an opening that does not decode), InvalidCommitment (at the first opening
// that does not match; the rest are not awaited).
template <class T>
boost::asio::awaitable<std::expected<PartyMap<T>, DecommitError>> decommit_round(
    ProtocolExecutor& executor, const T& value, const PartyMap<Commitment>& commitments) {
  if (auto sent = executor.send_to_all(value); !sent)
    co_return std::unexpected(DecommitError::receive_failed(std::move(sent.error())));
  PartyMap<T> opened(executor.parties().size());
  auto poll = BufferedPoll::start(executor, executor.parties());
  for (;;) {
    auto item = co_await poll.next<T>();
    if (!item) co_return std::unexpected(DecommitError::receive_failed(std::move(item.error())));
    if (!*item) break;
    const PartyId from = (*item)->sender;
    const Commitment expected = commit_hash(executor.tag(), from, executor.parties(), (*item)->value);
    if (!crypto::ct_equal(expected, commitments.at(from))) co_return std::unexpected(DecommitError::invalid_commitment());
    opened.insert(from, std::move((*item)->value));
  }
  co_return std::move(opened);
}

// Both rounds, back to back, on `executor` (await at once).
template <class T>
boost::asio::awaitable<std::expected<PartyMap<T>, CommitThenDecommitError>> commit_then_decommit(
    ProtocolExecutor& executor, const T& value) {
  auto commitments = co_await commit_round(executor, value);
  if (!commitments) co_return std::unexpected(CommitThenDecommitError(std::in_place_index<0>, std::move(commitments.error())));
  auto opened = co_await decommit_round(executor, value, *commitments);
  if (!opened) co_return std::unexpected(CommitThenDecommitError(std::in_place_index<1>, std::move(opened.error())));
  co_return std::move(*opened);
}

}  // namespace velto
