#include "velto-ote/rote.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "velto-ote/prg.hpp"
#include "velto-ote/tests/ote_test_util.hpp"

namespace velto::ote {
namespace {

using test_util::arr;
using test_util::make_batch;
using test_util::make_pair;
using test_util::to_bytes;
using test_util::vec;

std::expected<RoteSenderOutput, OteError> run_sender(const PuncturedPprfTrees& trees, crypto::ByteSpan tag,
                                                     std::size_t ot_count, crypto::ByteSpan corrections,
                                                     crypto::ByteSpan check) {
  RoteSender sender(trees, tag, ot_count);
  if (auto r = sender.receive_corrections(corrections); !r) return std::unexpected(r.error());
  return sender.receive_check(check);
}

class RoteReferenceTest : public ::testing::TestWithParam<std::size_t> {};

// Both sides against the reference computation, for 512 OTs (m = 640) and
// 200 OTs (m = 384).
TEST_P(RoteReferenceTest, BothSidesMatchReferenceValues) {
  const std::size_t ell = GetParam();
  const std::string name = "rote" + std::to_string(ell);
  const test_util::PprfPair pair = make_pair(test_util::reference_batch());
  const crypto::ByteArray<32> tag = arr<32>(name + "_tag");

  RoteReceiverRun run = rote_receiver_run(pair.full, tag, ell);
  EXPECT_EQ(run.correction_message, vec(name + "_corrections"));
  EXPECT_EQ(to_bytes(run.check_message), vec(name + "_check"));
  EXPECT_EQ(to_bytes(run.output.choices.span()), vec(name + "_choices"));
  EXPECT_EQ(to_bytes(run.output.digests.bytes()), vec(name + "_receiver_digests"));

  auto sent = run_sender(pair.punctured, tag, ell, vec(name + "_corrections"), vec(name + "_check"));
  ASSERT_TRUE(sent.has_value()) << sent.error().display();
  EXPECT_EQ(to_bytes(sent->digests0.bytes()), vec(name + "_sender_digests0"));
  EXPECT_EQ(to_bytes(sent->digests1.bytes()), vec(name + "_sender_digests1"));
  EXPECT_EQ(sent->delta, pair.punctured.delta());
}

INSTANTIATE_TEST_SUITE_P(OtCounts, RoteReferenceTest, ::testing::Values(512, 200));

TEST(RoteTest, MessageSizesFor512Ots) {
  EXPECT_EQ(rote_extended_rows(512), 640u);
  const test_util::PprfPair pair = make_pair(make_batch(1));
  const crypto::ByteArray<32> tag{};
  const RoteReceiverRun run = rote_receiver_run(pair.full, tag, 512);
  ASSERT_EQ(run.correction_message.size(), 5103u);
  for (std::size_t t = 0; t < 63; ++t) EXPECT_EQ(run.correction_message[81 * t], 10u) << "vector " << t;
  EXPECT_EQ(run.check_message.size(), 48u);
  EXPECT_EQ(softspoken_challenges(crypto::ByteArray<32>{}, 640).size(), 5u);
}

TEST(RoteTest, ReceiverHoldsTheSenderStreamOfItsChoice) {
  const test_util::PprfPair pair = make_pair(make_batch(2));
  crypto::ByteArray<32> tag{};
  tag[0] = 7;
  const RoteReceiverRun run = rote_receiver_run(pair.full, tag, 512);
  auto sent = run_sender(pair.punctured, tag, 512, run.correction_message, run.check_message);
  ASSERT_TRUE(sent.has_value()) << sent.error().display();
  std::size_t ones = 0;
  for (std::size_t j = 0; j < 512; ++j) {
    const std::uint8_t b = run.output.choices.data()[j];
    ones += b;
    const OtDigests& chosen = b ? sent->digests1 : sent->digests0;
    const OtDigests& other = b ? sent->digests0 : sent->digests1;
    ASSERT_EQ(run.output.digests.get(j), chosen.get(j)) << "OT " << j;
    ASSERT_NE(run.output.digests.get(j), other.get(j)) << "OT " << j;
  }
  // Random choice bits: neither all zero nor all one.
  EXPECT_GT(ones, 0u);
  EXPECT_LT(ones, 512u);
}

TEST(RoteTest, DifferentTagsGiveUnrelatedOutputs) {
  const test_util::PprfPair pair = make_pair(make_batch(3));
  crypto::ByteArray<32> tag_a{};
  crypto::ByteArray<32> tag_b{};
  tag_b[0] = 1;
  const RoteReceiverRun a = rote_receiver_run(pair.full, tag_a, 512);
  const RoteReceiverRun b = rote_receiver_run(pair.full, tag_b, 512);
  EXPECT_NE(a.correction_message, b.correction_message);
  for (std::size_t j = 0; j < 512; ++j) EXPECT_NE(a.output.digests.get(j), b.output.digests.get(j)) << j;
}

enum class Outcome { Ok, InvalidPprfHash, InvalidChallengeResponse, Communication };

Outcome outcome_of(const std::expected<RoteSenderOutput, OteError>& r) {
  if (r) return Outcome::Ok;
  if (r.error().is<OteError::InvalidPprfHash>()) return Outcome::InvalidPprfHash;
  if (r.error().is<OteError::InvalidChallengeResponse>()) return Outcome::InvalidChallengeResponse;
  return Outcome::Communication;
}

// Replaces vector t of the correction message (81 bytes each for 512 OTs)
// with one of `words` words.
crypto::Bytes with_vector_length(const crypto::Bytes& msg, std::size_t t, std::uint8_t words) {
  crypto::Bytes out(msg.begin(), msg.begin() + static_cast<std::ptrdiff_t>(81 * t));
  out.push_back(words);
  out.insert(out.end(), std::size_t{8} * words, 0x33);
  out.insert(out.end(), msg.begin() + static_cast<std::ptrdiff_t>(81 * (t + 1)), msg.end());
  return out;
}

struct TamperCase {
  const char* name;
  std::function<void(crypto::Bytes& corrections, crypto::Bytes& check)> tamper;
  Outcome expected;
};

TEST(RoteTest, SenderRefusesTamperedMessages) {
  const test_util::PprfPair pair = make_pair(make_batch(4));
  const crypto::ByteArray<32> tag{};
  const RoteReceiverRun run = rote_receiver_run(pair.full, tag, 512);

  const TamperCase cases[] = {
      {"honest", [](crypto::Bytes&, crypto::Bytes&) {}, Outcome::Ok},
      {"one correction bit flipped", [](crypto::Bytes& c, crypto::Bytes&) { c[81 * 3 + 9] ^= 0x10; },
       Outcome::InvalidChallengeResponse},
      {"last correction bit flipped", [](crypto::Bytes& c, crypto::Bytes&) { c.back() ^= 0x80; },
       Outcome::InvalidChallengeResponse},
      {"x~ changed", [](crypto::Bytes&, crypto::Bytes& k) { k[0] ^= 0x01; }, Outcome::InvalidChallengeResponse},
      {"h changed", [](crypto::Bytes&, crypto::Bytes& k) { k[47] ^= 0x01; }, Outcome::InvalidChallengeResponse},
      {"vector of 9 words", [](crypto::Bytes& c, crypto::Bytes&) { c = with_vector_length(c, 5, 9); },
       Outcome::InvalidPprfHash},
      {"vector of 11 words", [](crypto::Bytes& c, crypto::Bytes&) { c = with_vector_length(c, 62, 11); },
       Outcome::InvalidPprfHash},
      {"corrections one byte short", [](crypto::Bytes& c, crypto::Bytes&) { c.pop_back(); },
       Outcome::Communication},
      {"count not in shortest form",
       [](crypto::Bytes& c, crypto::Bytes&) {
         c[0] = 0xFC;
         c.insert(c.begin() + 1, 10);
       },
       Outcome::Communication},
      {"count beyond the heap budget",
       [](crypto::Bytes& c, crypto::Bytes&) { c = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F}; }, Outcome::Communication},
      {"bytes after the corrections", [](crypto::Bytes& c, crypto::Bytes&) { c.push_back(0xAB); }, Outcome::Ok},
      {"check of 47 bytes", [](crypto::Bytes&, crypto::Bytes& k) { k.pop_back(); }, Outcome::Communication},
      {"check of 50 bytes", [](crypto::Bytes&, crypto::Bytes& k) { k.resize(50, 0xCD); }, Outcome::Ok},
  };
  for (const TamperCase& c : cases) {
    SCOPED_TRACE(c.name);
    crypto::Bytes corrections = run.correction_message;
    crypto::Bytes check = to_bytes(run.check_message);
    c.tamper(corrections, check);
    const auto r = run_sender(pair.punctured, tag, 512, corrections, check);
    EXPECT_EQ(outcome_of(r), c.expected) << (r ? std::string("ok") : r.error().display());
  }
}

// A set-up message whose hash was altered fails the first run with
// InvalidPprfHash even though the check itself passes.
TEST(RoteTest, AlteredSetupHashFailsTheRun) {
  const test_util::BaseOtBatch b = make_batch(5);
  const test_util::PprfPair honest = make_pair(b);
  crypto::Bytes msg = to_bytes(honest.message.bytes());
  msg[32 * 40 + 7] ^= 0x04;
  const PuncturedPprfTrees punctured = build_punctured_pprf_trees(b.receiver.span(), b.key, *decode_pprf_setup_message(msg));
  const crypto::ByteArray<32> tag{};
  const RoteReceiverRun run = rote_receiver_run(honest.full, tag, 512);
  const auto r = run_sender(punctured, tag, 512, run.correction_message, run.check_message);
  EXPECT_EQ(outcome_of(r), Outcome::InvalidPprfHash);
}

TEST(RoteTest, CommunicationErrorCarriesTheDecodingError) {
  const test_util::PprfPair pair = make_pair(make_batch(6));
  RoteSender sender(pair.punctured, crypto::ByteArray<32>{}, 512);
  const auto r = sender.receive_corrections(crypto::Bytes{10, 1, 2});
  ASSERT_FALSE(r.has_value());
  ASSERT_TRUE(r.error().is<OteError::CommunicationError>());
  EXPECT_EQ(r.error().display(), "Out of bounds");
  ASSERT_NE(r.error().source(), nullptr);
}

}  // namespace
}  // namespace velto::ote
