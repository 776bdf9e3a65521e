// The link between an operation's manager task and the other parties.
//
// The manager (manager.hpp) sees plaintexts and party ids only; framing,
// encryption and the network belong to the link: the Noise-encrypted relay
// link in production, the in-memory network in tests
// (memory_communicator.hpp).
#pragma once

#include <expected>
#include <memory>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "sised/party_id.hpp"
#include "velto-mpc-infra/inbound_account.hpp"

namespace velto {

// A decrypted message from a peer: the protocol payload followed by its
// 32-byte UcTag, and who sent it.
struct ReceivedPlaintext {
  crypto::Bytes plaintext;
  PartyId sender;
};

// What a link must provide. The manager uses it as follows, and a link may
// rely on exactly this:
// - receive_next is awaited by one reader coroutine at a time, never twice
//   at once. It yields the next message in arrival order (messages kept
//   from the set-up first), or the link's error (a time-out, a closed or
//   failed connection, an undecodable or undecryptable frame, an unknown
//   sender). It must honour terminal cancellation of the awaiting coroutine
//   (the manager cancels the reader when it stops): it then completes
//   promptly; the message being read may be lost, as the link is being shut.
// - send completes once the frame for `to` has been written and flushed, or
//   fails. Sends are awaited one at a time, in the order of the commands; a
//   send may overlap a pending receive_next.
// - close is awaited at most once, at the end of a run that did not panic
//   (successful or failed), after the reader has stopped and the last send
//   has completed; everything that a completed send accepted must have been
//   delivered or flushed by then. It must end within a bounded time and its
//   outcome is ignored. After a panic the link is only destroyed.
// - The link is destroyed only after all of its operations have completed.
class Communicator {
 public:
  virtual ~Communicator() = default;

  virtual PartyId my_party_id() const = 0;
  virtual boost::asio::awaitable<std::expected<ReceivedPlaintext, BoxedError>> receive_next() = 0;
  virtual boost::asio::awaitable<std::expected<void, BoxedError>> send(crypto::Bytes plaintext,
                                                                       PartyId to) = 0;
  virtual boost::asio::awaitable<void> close() = 0;
  // The operation's inbound account (inbound_account.hpp), when the link has
  // one: the relay link's receive limit counts from its last progress. The
  // manager and the handshake run charge what they hold to it; a link
  // without one gets an account of the manager's own.
  virtual std::shared_ptr<InboundAccount> inbound_account() const { return nullptr; }
};

// The account that what is held from `link` is charged to: the link's own,
// or else a fresh one; either way with `byte_budget` as its budget.
inline std::shared_ptr<InboundAccount> budgeted_account(const Communicator& link, std::size_t byte_budget) {
  std::shared_ptr<InboundAccount> account = link.inbound_account();
  if (!account) account = std::make_shared<InboundAccount>();
  account->set_byte_budget(byte_budget);
  return account;
}

}  // namespace velto
