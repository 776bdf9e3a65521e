// The OT extensions over a session executor narrowed to the peer.
//
// The executor's tag T keys the run's VOLE expansion and hashes; it must be
// fresh for every run (the trees are reused). Messages travel on that tag;
// the receiving side takes the peer's messages in the order they were sent.
// The coroutines take the executor and the trees by reference: await them
// at once, from the task that owns the executor.
#pragma once

#include <cstddef>
#include <expected>

#include "velto-mpc-infra/async/asio.hpp"

#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ote/cote.hpp"
#include "velto-ote/error.hpp"
#include "velto-ote/pprf.hpp"
#include "velto-ote/rote.hpp"

namespace velto::ote {

// The random-OT receiver (full trees): computes the run, sends the
// correction message and then the check message, and waits for nothing. A
// failed send is CoteError::CommError carrying the executor's error.
std::expected<RoteReceiverOutput, CoteError> rote_receiver(PeerExecutor& executor, const FullPprfTrees& trees,
                                                          std::size_t ot_count);

// The random-OT sender (punctured trees): expands its VOLE, waits for the
// correction message, then for the check message, and verifies (errors as
// RoteSender gives them; a failed receive is OteError::CommunicationError).
boost::asio::awaitable<std::expected<RoteSenderOutput, OteError>> rote_sender(PeerExecutor& executor,
                                                                             const PuncturedPprfTrees& trees,
                                                                             std::size_t ot_count);

// The correlated-OT receiver (full trees): sends the corrections, waits for
// the seeds, sends the response. The caller's transcript is absorbed into
// as the run goes and stays with the caller. A failed send, receive or
// decoding is RoteError::CommunicationError.
boost::asio::awaitable<std::expected<CoteReceiverOutput, RoteError>> cote_receiver(PeerExecutor& executor,
                                                                                  const FullPprfTrees& trees,
                                                                                  std::size_t ot_count,
                                                                                  Transcript& transcript);

// The correlated-OT sender (punctured trees): waits for the corrections,
// draws τ1 then τ2 from the executor's generator and sends the seeds, waits
// for the response and verifies; the outputs are released only then.
boost::asio::awaitable<std::expected<CoteSenderOutput, OteError>> cote_sender(PeerExecutor& executor,
                                                                             const PuncturedPprfTrees& trees,
                                                                             std::size_t ot_count,
                                                                             Transcript& transcript);

}  // namespace velto::ote
