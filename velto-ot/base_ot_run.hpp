// The base OT batch over a session executor: both sides of both versions.
//
// Each side sends its one message, then waits for the peer's, then derives
// its keys (base_ot.hpp does the computation). Both messages travel at the
// same time, so the two sides may start in any order.
//
// The executor is the "BASE OT" child of the pair's executor, narrowed to
// the peer (base_ot_subsession); its tag T keys every per-OT value and its
// generator supplies all randomness. The functions take it by reference:
// await them at once, from the task that owns the executor, and drop the
// executor afterwards.
//
// Two versions produce the same keys for the same draws:
// - without a transcript (current protocol): each side also returns the
//   batch key, BLAKE3 derive-key "Velto Base BATCH OT V0" over A_c || A_t ||
//   the receiver's 4,096 bytes;
// - with a transcript (the older engine): the side absorbs A_c, A_t and the
//   receiver's message in its sised form (varint length, then the bytes)
//   into the caller's transcript, which the caller finishes into the set-up
//   digest; no batch key.
#pragma once

#include <expected>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/transcript.hpp"
#include "velto-ot/base_ot.hpp"
#include "velto-ot/error.hpp"

namespace velto::ot {

// The child of a pair executor under the label "BASE OT", for the same peer.
PeerExecutor base_ot_subsession(const PeerExecutor& parent);

struct BaseOtSenderResult {
  BaseOtSenderOutput output;
  crypto::ByteArray<32> batch_key;
};

struct BaseOtReceiverResult {
  BaseOtReceiverOutput output;
  crypto::ByteArray<32> batch_key;
};

// The sender of one batch (current protocol). Sends A_c || A_t (64 bytes),
// receives the receiver's byte string. Errors: CommunicationError for a
// failed send, receive or decoding; InvalidMessageSizeError when the byte
// string is not 4,096 bytes long.
boost::asio::awaitable<std::expected<BaseOtSenderResult, BaseOtError>> base_ot_sender(PeerExecutor& executor);

// The receiver of one batch (current protocol). Sends its 4,096 bytes as a
// sised byte string (4,099 bytes), receives A_c || A_t. Errors:
// CommunicationError for a failed send or receive, a message shorter than
// 64 bytes, or points on the wrong curves ("Point is on the wrong curve").
boost::asio::awaitable<std::expected<BaseOtReceiverResult, BaseOtError>> base_ot_receiver(PeerExecutor& executor);

// The same sides for the older engine: no batch key; the messages are
// absorbed into `transcript` instead. On failure the transcript holds
// whatever was absorbed before it.
boost::asio::awaitable<std::expected<BaseOtSenderOutput, BaseOtError>> base_ot_sender(PeerExecutor& executor,
                                                                                    Transcript& transcript);
boost::asio::awaitable<std::expected<BaseOtReceiverOutput, BaseOtError>> base_ot_receiver(PeerExecutor& executor,
                                                                                        Transcript& transcript);

}  // namespace velto::ot
