#include "velto-ote/cote.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "crypto/chacha.hpp"
#include "velto-ote/tests/ote_test_util.hpp"

namespace velto::ote {
namespace {

using test_util::arr;
using test_util::make_batch;
using test_util::make_pair;
using test_util::to_bytes;
using test_util::vec;

// Everything both sides of one run produce.
struct CoteRun {
  crypto::Bytes corrections;
  crypto::ByteArray<kCoteSeedsMessageSize> seeds;
  crypto::ByteArray<kCoteResponseSize> response;
  CoteReceiverOutput receiver;
  std::expected<CoteSenderOutput, OteError> sender = std::unexpected(OteError::InvalidPprfHash{});
  crypto::ByteArray<32> receiver_transcript;
  crypto::ByteArray<32> sender_transcript;
};

// A run where `tamper` may change the response before the sender reads it.
CoteRun run_cote(const test_util::PprfPair& pair, crypto::ByteSpan tag, std::size_t ell,
                 const crypto::ByteArray<32>& tau1, const crypto::ByteArray<32>& tau2,
                 const std::function<void(crypto::Bytes&)>& tamper = {}) {
  CoteRun out;
  Transcript rt;
  Transcript st;
  CoteReceiver receiver(pair.full, tag, ell, rt);
  CoteSender sender(pair.punctured, tag, ell, st);
  out.corrections = receiver.correction_message();
  EXPECT_TRUE(sender.receive_corrections(out.corrections, st).has_value());
  out.seeds = sender.challenge_seeds(tau1, tau2, st);
  auto response = receiver.receive_seeds(out.seeds, rt);
  EXPECT_TRUE(response.has_value());
  out.response = *response;
  out.receiver = receiver.take_output();
  crypto::Bytes sent = to_bytes(out.response);
  if (tamper) tamper(sent);
  out.sender = sender.receive_response(sent, st);
  out.receiver_transcript = rt.finalize();
  out.sender_transcript = st.finalize();
  return out;
}

// 1,664 OTs (m = 1,728): rows beyond 1,024 exercise the row hasher's chunk
// counter on both sides.
TEST(CoteTest, BothSidesMatchReferenceValues) {
  const test_util::PprfPair reference = make_pair(test_util::reference_batch());
  // The older engine keeps a set-up digest where the batch key sits.
  test_util::BaseOtBatch batch = test_util::reference_batch();
  batch.key = arr<32>("cote1664_setup_digest");
  const test_util::PprfPair pair = make_pair(batch);
  ASSERT_EQ(to_bytes(pair.full.bytes().first(8192)), to_bytes(reference.full.bytes().first(8192)));

  const CoteRun run = run_cote(pair, vec("cote1664_tag"), 1664, arr<32>("cote1664_tau1"), arr<32>("cote1664_tau2"));
  EXPECT_EQ(run.corrections, vec("cote1664_corrections"));
  EXPECT_EQ(to_bytes(run.response), vec("cote1664_response"));
  EXPECT_EQ(to_bytes(run.receiver_transcript), vec("cote1664_transcript"));
  EXPECT_EQ(run.sender_transcript, run.receiver_transcript);
  EXPECT_EQ(to_bytes(run.receiver.choices.span()), vec("cote1664_choices"));
  EXPECT_EQ(to_bytes(run.receiver.digests.bytes()), vec("cote1664_receiver_digests"));
  ASSERT_TRUE(run.sender.has_value()) << run.sender.error().display();
  EXPECT_EQ(to_bytes(run.sender->digests0.bytes()), vec("cote1664_sender_digests0"));
  EXPECT_EQ(to_bytes(run.sender->digests1.bytes()), vec("cote1664_sender_digests1"));

  const std::vector<std::uint64_t> chi = cote_challenges(arr<32>("cote1664_tau2"), 1728);
  crypto::Bytes chi_bytes;
  for (const std::uint64_t c : chi) {
    for (int i = 0; i < 8; ++i) chi_bytes.push_back(static_cast<std::uint8_t>(c >> (8 * i)));
  }
  EXPECT_EQ(chi_bytes, vec("cote1664_challenges"));
}

TEST(CoteTest, SizesFor416Ots) {
  EXPECT_EQ(cote_extended_rows(416), 512u);
  EXPECT_EQ(cote_challenges(crypto::ByteArray<32>{}, 512).size(), 8u);
  const test_util::PprfPair pair = make_pair(make_batch(1));
  const CoteRun run = run_cote(pair, crypto::ByteArray<32>{}, 416, crypto::ByteArray<32>{1}, crypto::ByteArray<32>{2});
  ASSERT_EQ(run.corrections.size(), 63u * 65u);
  for (std::size_t t = 0; t < 63; ++t) EXPECT_EQ(run.corrections[65 * t], 8u);
  EXPECT_EQ(run.receiver.digests.size(), 416u);
  ASSERT_TRUE(run.sender.has_value());
  EXPECT_EQ(run.sender->digests0.size(), 416u);
}

TEST(CoteTest, ReceiverDigestIsTheSenderDigestOfItsChoice) {
  const test_util::PprfPair pair = make_pair(make_batch(2));
  const CoteRun run = run_cote(pair, crypto::ByteArray<32>{9}, 832, crypto::ByteArray<32>{3}, crypto::ByteArray<32>{4});
  ASSERT_TRUE(run.sender.has_value());
  for (std::size_t j = 0; j < 832; ++j) {
    const bool b = run.receiver.choices.data()[j] != 0;
    ASSERT_EQ(run.receiver.digests.get(j), (b ? run.sender->digests1 : run.sender->digests0).get(j)) << j;
    ASSERT_NE(run.receiver.digests.get(j), (b ? run.sender->digests0 : run.sender->digests1).get(j)) << j;
  }
}

TEST(CoteTest, FreshSeedsGiveUnrelatedRuns) {
  const test_util::PprfPair pair = make_pair(make_batch(3));
  crypto::ByteArray<32> seed{};
  crypto::ChaCha8Rng rng(seed);
  Transcript rt;
  Transcript st;
  CoteReceiver receiver(pair.full, crypto::ByteArray<32>{}, 416, rt);
  CoteSender sender(pair.punctured, crypto::ByteArray<32>{}, 416, st);
  ASSERT_TRUE(sender.receive_corrections(receiver.correction_message(), st).has_value());
  const auto first = sender.draw_challenge_seeds(rng, st);
  CoteSender again(pair.punctured, crypto::ByteArray<32>{}, 416, st);
  ASSERT_TRUE(again.receive_corrections(receiver.correction_message(), st).has_value());
  const auto second = again.draw_challenge_seeds(rng, st);
  EXPECT_NE(first, second);
}

TEST(CoteTest, SenderRefusesATamperedResponse) {
  const test_util::PprfPair pair = make_pair(make_batch(4));
  struct Case {
    const char* name;
    std::function<void(crypto::Bytes&)> tamper;
    bool ok;
    bool communication;
  };
  const Case cases[] = {
      {"honest", [](crypto::Bytes&) {}, true, false},
      {"x~ bit", [](crypto::Bytes& r) { r[3] ^= 0x20; }, false, false},
      {"h byte", [](crypto::Bytes& r) { r[39] ^= 0x01; }, false, false},
      {"39 bytes", [](crypto::Bytes& r) { r.pop_back(); }, false, true},
      {"41 bytes", [](crypto::Bytes& r) { r.push_back(0); }, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CoteRun run =
        run_cote(pair, crypto::ByteArray<32>{}, 416, crypto::ByteArray<32>{5}, crypto::ByteArray<32>{6}, c.tamper);
    EXPECT_EQ(run.sender.has_value(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(run.sender.error().is<OteError::CommunicationError>(), c.communication);
      EXPECT_EQ(run.sender.error().is<OteError::InvalidChallengeResponse>(), !c.communication);
    }
  }
}

TEST(CoteTest, CorrectionOfWrongLengthIsRefusedBeforeAnyCheck) {
  const test_util::PprfPair pair = make_pair(make_batch(5));
  Transcript rt;
  CoteReceiver receiver(pair.full, crypto::ByteArray<32>{}, 416, rt);
  for (const std::uint8_t words : {7, 9}) {
    crypto::Bytes msg = receiver.correction_message();
    // Vector 5 (65 bytes each) with another word count.
    crypto::Bytes changed(msg.begin(), msg.begin() + 65 * 5);
    changed.push_back(words);
    changed.insert(changed.end(), std::size_t{8} * words, 0);
    changed.insert(changed.end(), msg.begin() + 65 * 6, msg.end());
    Transcript st;
    CoteSender sender(pair.punctured, crypto::ByteArray<32>{}, 416, st);
    const auto r = sender.receive_corrections(changed, st);
    ASSERT_FALSE(r.has_value());
    EXPECT_TRUE(r.error().is<OteError::InvalidPprfHash>()) << int{words};
  }
}

TEST(CoteTest, AlteredSetupHashFailsAfterTheResponse) {
  const test_util::BaseOtBatch b = make_batch(6);
  const test_util::PprfPair honest = make_pair(b);
  crypto::Bytes msg = to_bytes(honest.message.bytes());
  msg[5] ^= 0x01;
  test_util::PprfPair altered{FullPprfTrees(*FullPprfTrees::from_bytes(honest.full.bytes())),
                            *decode_pprf_setup_message(msg),
                            build_punctured_pprf_trees(b.receiver.span(), b.key, *decode_pprf_setup_message(msg))};
  const CoteRun run = run_cote(altered, crypto::ByteArray<32>{}, 416, crypto::ByteArray<32>{7}, crypto::ByteArray<32>{8});
  ASSERT_FALSE(run.sender.has_value());
  EXPECT_TRUE(run.sender.error().is<OteError::InvalidPprfHash>());
}

TEST(CoteTest, ShortSeedsFailTheReceiver) {
  const test_util::PprfPair pair = make_pair(make_batch(7));
  Transcript rt;
  CoteReceiver receiver(pair.full, crypto::ByteArray<32>{}, 416, rt);
  const auto r = receiver.receive_seeds(crypto::Bytes(63, 1), rt);
  ASSERT_FALSE(r.has_value());
  EXPECT_TRUE(r.error().is<RoteError::CommunicationError>());
  EXPECT_EQ(r.error().display(), "Communication Error: `Out of bounds`");
}

}  // namespace
}  // namespace velto::ote
