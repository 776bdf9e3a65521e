#include "velto-mpc-infra/async/asio.hpp"

#include "velto-ote/ote_protocol.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "velto-mpc-infra/buffered_poll.hpp"
#include "velto-ote/tests/ote_test_util.hpp"
#include "velto-ote/tests/session_util.hpp"

namespace velto::ote {
namespace {

namespace asio = boost::asio;
using session_test::PartyFn;
using session_test::pid;
using session_test::run_parties;

// Both sides' set-up, shared read-only by the two parties of a session.
std::shared_ptr<const test_util::PprfPair> shared_pair(std::uint8_t seed) {
  return std::make_shared<const test_util::PprfPair>(test_util::make_pair(test_util::make_batch(seed)));
}

// What a party saw: its digests (both for the sender), choices, transcript
// digest and error text.
struct Seen {
  std::string error;
  crypto::Bytes digests0;
  crypto::Bytes digests1;
  crypto::Bytes choices;
  crypto::ByteArray<32> transcript{};
};

PeerExecutor run_executor(const ProtocolExecutor& root, PartyId peer) {
  // Party 1 holds the full trees, party 2 the punctured ones; the run's tag
  // is the pair (1, 2) under a step label.
  return PeerExecutor(root.child("ote test").child_pair(pid(1), pid(2)), peer);
}

asio::awaitable<Seen> rote_receiver_party(ProtocolExecutor root, std::shared_ptr<const test_util::PprfPair> p) {
  PeerExecutor ex = run_executor(root, pid(2));
  Seen seen;
  auto out = rote_receiver(ex, p->full, 512);
  if (!out) {
    seen.error = out.error().display();
    co_return seen;
  }
  seen.digests0 = test_util::to_bytes(out->digests.bytes());
  seen.choices = test_util::to_bytes(out->choices.span());
  co_return seen;
}

asio::awaitable<Seen> rote_sender_party(ProtocolExecutor root, std::shared_ptr<const test_util::PprfPair> p) {
  PeerExecutor ex = run_executor(root, pid(1));
  Seen seen;
  auto out = co_await rote_sender(ex, p->punctured, 512);
  if (!out) {
    seen.error = out.error().display();
    co_return seen;
  }
  seen.digests0 = test_util::to_bytes(out->digests0.bytes());
  seen.digests1 = test_util::to_bytes(out->digests1.bytes());
  co_return seen;
}

void expect_receiver_holds_chosen(const Seen& receiver, const Seen& sender, std::size_t ots) {
  ASSERT_EQ(receiver.error, "");
  ASSERT_EQ(sender.error, "");
  ASSERT_EQ(receiver.digests0.size(), 16 * ots);
  for (std::size_t j = 0; j < ots; ++j) {
    const crypto::Bytes& chosen = receiver.choices[j] ? sender.digests1 : sender.digests0;
    ASSERT_TRUE(std::equal(chosen.begin() + 16 * j, chosen.begin() + 16 * (j + 1), receiver.digests0.begin() + 16 * j))
        << "OT " << j;
  }
}

TEST(OteSessionTest, RandomOtExtension) {
  const auto p = shared_pair(1);
  const std::vector<PartyFn<Seen>> fns = {
      [p](ProtocolExecutor root) { return rote_receiver_party(std::move(root), p); },
      [p](ProtocolExecutor root) { return rote_sender_party(std::move(root), p); },
  };
  const auto seen = run_parties<Seen>({pid(1), pid(2)}, fns);
  expect_receiver_holds_chosen(seen[0], seen[1], 512);
}

// A receiver that sends the right corrections and a check message with one
// changed bit of x~.
asio::awaitable<Seen> cheating_receiver_party(ProtocolExecutor root, std::shared_ptr<const test_util::PprfPair> p) {
  PeerExecutor ex = run_executor(root, pid(2));
  RoteReceiverRun run = rote_receiver_run(p->full, ex.executor().tag().span(), 512);
  run.check_message[5] ^= 0x08;
  Seen seen;
  if (!ex.executor().send_payload_to(pid(2), run.correction_message) ||
      !ex.executor().send_payload_to(pid(2), crypto::Bytes(run.check_message.begin(), run.check_message.end()))) {
    seen.error = "send failed";
  }
  co_return seen;
}

TEST(OteSessionTest, SenderRefusesAChangedCheckMessage) {
  const auto p = shared_pair(2);
  const std::vector<PartyFn<Seen>> fns = {
      [p](ProtocolExecutor root) { return cheating_receiver_party(std::move(root), p); },
      [p](ProtocolExecutor root) { return rote_sender_party(std::move(root), p); },
  };
  const auto seen = run_parties<Seen>({pid(1), pid(2)}, fns);
  EXPECT_EQ(seen[0].error, "");
  EXPECT_EQ(seen[1].error, "The received consistency check response is not consistent with the computed one");
}

asio::awaitable<Seen> cote_receiver_party(ProtocolExecutor root, std::shared_ptr<const test_util::PprfPair> p) {
  PeerExecutor ex = run_executor(root, pid(2));
  Transcript transcript;
  Seen seen;
  auto out = co_await cote_receiver(ex, p->full, 416, transcript);
  if (!out) {
    seen.error = out.error().display();
    co_return seen;
  }
  seen.digests0 = test_util::to_bytes(out->digests.bytes());
  seen.choices = test_util::to_bytes(out->choices.span());
  seen.transcript = transcript.finalize();
  co_return seen;
}

asio::awaitable<Seen> cote_sender_party(ProtocolExecutor root, std::shared_ptr<const test_util::PprfPair> p) {
  PeerExecutor ex = run_executor(root, pid(1));
  Transcript transcript;
  Seen seen;
  auto out = co_await cote_sender(ex, p->punctured, 416, transcript);
  if (!out) {
    seen.error = out.error().display();
    co_return seen;
  }
  seen.digests0 = test_util::to_bytes(out->digests0.bytes());
  seen.digests1 = test_util::to_bytes(out->digests1.bytes());
  seen.transcript = transcript.finalize();
  co_return seen;
}

TEST(OteSessionTest, CorrelatedOtExtensionKeepsMatchingTranscripts) {
  const auto p = shared_pair(3);
  const std::vector<PartyFn<Seen>> fns = {
      [p](ProtocolExecutor root) { return cote_receiver_party(std::move(root), p); },
      [p](ProtocolExecutor root) { return cote_sender_party(std::move(root), p); },
  };
  const auto seen = run_parties<Seen>({pid(1), pid(2)}, fns);
  expect_receiver_holds_chosen(seen[0], seen[1], 416);
  EXPECT_EQ(seen[0].transcript, seen[1].transcript);
}

}  // namespace
}  // namespace velto::ote
