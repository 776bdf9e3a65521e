#include "velto-ot/base_ot.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "crypto/chacha.hpp"
#include "sised/codec.hpp"
#include "velto-ot/tests/test_util.hpp"

namespace velto::ot {
namespace {

using testing::hex;
using testing::hex_array;
using testing::read_named;
using testing::read_rows;
using testing::ScriptedRng;
using testing::to_hex;

UcTag tag_of(std::uint8_t x) { return UcTag(crypto::ByteArray<32>{x, 0x55, x}); }

crypto::ByteArray<32> key_array(crypto::ByteSpan s) {
  crypto::ByteArray<32> out;
  std::copy_n(s.begin(), 32, out.begin());
  return out;
}

// Per-OT tags, the key-agreement hash and the batch key against BLAKE3 from
// an independent library.
TEST(BaseOtHashes, MatchReferenceVectors) {
  int count = 0;
  for (const auto& row : read_rows("base_ot_hash_vectors.txt")) {
    if (row[0] == "ka_tag") {
      const auto b = static_cast<std::uint8_t>(std::stoi(row[3]));
      EXPECT_EQ(to_hex(base_ot_ka_tag(UcTag(hex_array<32>(row[1])), std::stoull(row[2]), b)), row[4]) << row[2];
    } else if (row[0] == "ka_key") {
      EXPECT_EQ(to_hex(moller_ka_key(hex_array<32>(row[1]), hex_array<32>(row[2]))), row[3]);
    } else if (row[0] == "batch_key") {
      EXPECT_EQ(to_hex(batch_ot_key(hex_array<64>(row[1]), hex(row[2]))), row[3]);
    } else {
      continue;
    }
    ++count;
  }
  EXPECT_EQ(count, 8);
}

TEST(BaseOtHashes, IndexAboveU32Panics) {
  const UcTag t = tag_of(1);
  EXPECT_NO_THROW(base_ot_ka_tag(t, 0xFFFF'FFFFu, 0));
  try {
    base_ot_ka_tag(t, 0x1'0000'0000u, 0);
    FAIL() << "no panic";
  } catch (const velto::Panic& p) {
    EXPECT_EQ(p.message(), "Failed to serialize tag");
  }
}

// One whole batch from fixed draws against an independent model: the draw
// order, both messages, every key record, the batch key and the set-up
// transcript input.
TEST(BaseOtBatch, MatchesReferenceBatch) {
  auto v = read_named("base_ot_batch_vector.txt");
  const UcTag t(hex_array<32>(to_hex(v["tag"])));

  ScriptedRng sender_rng(v["sender_draw"]);
  const BaseOtSender sender = BaseOtSender::random(sender_rng);
  EXPECT_EQ(sender_rng.consumed(), 32u);
  const auto sender_bytes = sender.message().bytes();
  EXPECT_EQ(crypto::Bytes(sender_bytes.begin(), sender_bytes.end()), v["sender_message"]);

  ScriptedRng receiver_rng(v["receiver_draws"]);
  const BaseOtReceiver receiver = BaseOtReceiver::random(t, receiver_rng);
  EXPECT_EQ(receiver_rng.consumed(), 40u * kBaseOtBatchSize);
  EXPECT_EQ(crypto::Bytes(receiver.values().begin(), receiver.values().end()), v["receiver_values"]);

  const auto sender_out = sender.derive_keys(t, receiver.values());
  ASSERT_TRUE(sender_out.has_value());
  EXPECT_EQ(to_hex(sender_out->bytes()), to_hex(v["sender_records"]));

  const BaseOtReceiverOutput receiver_out = receiver.derive_keys(sender.message());
  EXPECT_EQ(to_hex(receiver_out.bytes()), to_hex(v["receiver_records"]));

  EXPECT_EQ(to_hex(batch_ot_key(sender_bytes, receiver.values())), to_hex(v["batch_key"]));
}

// For every OT the receiver holds the sender's key of its choice bit and
// not the other one, over several tags and generator seeds.
TEST(BaseOtBatch, ReceiverKeyIsTheSenderKeyOfItsChoice) {
  for (std::uint8_t seed = 1; seed <= 3; ++seed) {
    crypto::ChaCha8Rng rng(crypto::ByteArray<32>{seed});
    const UcTag t = tag_of(seed);
    const BaseOtSender sender = BaseOtSender::random(rng);
    const BaseOtReceiver receiver = BaseOtReceiver::random(t, rng);

    const auto receiver_msg = decode_receiver_message(*sised::encode(receiver.message()));
    ASSERT_TRUE(receiver_msg.has_value());
    const auto sender_out = sender.derive_keys(t, receiver_msg->values);
    ASSERT_TRUE(sender_out.has_value());
    const auto sender_msg = decode_sender_message(*sised::encode(sender.message()));
    ASSERT_TRUE(sender_msg.has_value());
    const BaseOtReceiverOutput receiver_out = receiver.derive_keys(*sender_msg);

    int ones = 0;
    for (std::size_t i = 0; i < kBaseOtBatchSize; ++i) {
      const std::uint8_t c = receiver_out.choice(i);
      ASSERT_LE(c, 1);
      ones += c;
      const auto k = key_array(receiver_out.key(i));
      EXPECT_EQ(k, key_array(sender_out->key(i, c))) << "OT " << i;
      EXPECT_NE(k, key_array(sender_out->key(i, static_cast<std::uint8_t>(1 - c)))) << "OT " << i;
    }
    EXPECT_GT(ones, 32);
    EXPECT_LT(ones, 96);
  }
}

// The same draws give the same batch under one tag and unrelated keys under
// another.
TEST(BaseOtBatch, DeterministicPerTagAndUnrelatedAcrossTags) {
  const auto run = [](const UcTag& t) {
    crypto::ChaCha8Rng rng(crypto::ByteArray<32>{9});
    const BaseOtSender sender = BaseOtSender::random(rng);
    const BaseOtReceiver receiver = BaseOtReceiver::random(t, rng);
    auto s = sender.derive_keys(t, receiver.values());
    EXPECT_TRUE(s.has_value());
    const auto r = receiver.derive_keys(sender.message());
    return std::pair(crypto::Bytes(s->bytes().begin(), s->bytes().end()),
                     crypto::Bytes(r.bytes().begin(), r.bytes().end()));
  };
  const auto first = run(tag_of(1));
  const auto again = run(tag_of(1));
  const auto other = run(tag_of(2));
  EXPECT_EQ(first, again);

  std::set<crypto::Bytes> keys;
  for (const auto* out : {&first.first, &other.first}) {
    for (std::size_t k = 0; k < out->size(); k += 32) keys.emplace(out->begin() + k, out->begin() + k + 32);
  }
  EXPECT_EQ(keys.size(), 2 * 2 * kBaseOtBatchSize);
}

// The sender message: 64 raw bytes; the receiver message: a sised byte
// string of 4,099 bytes.
TEST(BaseOtMessages, WireSizes) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{4});
  const BaseOtSender sender = BaseOtSender::random(rng);
  const BaseOtReceiver receiver = BaseOtReceiver::random(tag_of(4), rng);
  const auto s = sised::encode(sender.message());
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->size(), 64u);
  const auto sb = sender.message().bytes();
  EXPECT_EQ(*s, crypto::Bytes(sb.begin(), sb.end()));
  const auto r = sised::encode(receiver.message());
  ASSERT_TRUE(r.has_value());
  ASSERT_EQ(r->size(), 4099u);
  EXPECT_EQ(crypto::Bytes(r->begin(), r->begin() + 3), (crypto::Bytes{0xFD, 0x00, 0x10}));
}

// How the receiver reads the sender's payload.
TEST(BaseOtMessages, SenderMessageDecoding) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{5});
  const BaseOtSender sender = BaseOtSender::random(rng);
  const auto good = sender.message().bytes();
  crypto::ByteArray<32> minus_one;
  minus_one.fill(0xFF);
  minus_one[0] = 0xEC;
  minus_one[31] = 0x7F;  // 2^255 - 20

  struct Case {
    std::string name;
    crypto::Bytes payload;
    std::string error;  // empty: decodes to the sender's message
  };
  crypto::Bytes swapped(good.begin() + 32, good.end());
  swapped.insert(swapped.end(), good.begin(), good.begin() + 32);
  crypto::Bytes first_minus_one(minus_one.begin(), minus_one.end());
  first_minus_one.insert(first_minus_one.end(), good.begin() + 32, good.end());
  crypto::Bytes both_curve(good.begin(), good.begin() + 32);
  both_curve.insert(both_curve.end(), good.begin(), good.begin() + 32);
  crypto::Bytes long_payload(good.begin(), good.end());
  long_payload.resize(96, 0xEE);

  const std::vector<Case> cases = {
      {"exact", crypto::Bytes(good.begin(), good.end()), ""},
      {"trailing bytes ignored", long_payload, ""},
      {"swapped halves", swapped, "Point is on the wrong curve"},
      {"first half u = -1", first_minus_one, "Point is on the wrong curve"},
      {"second half on the curve", both_curve, "Point is on the wrong curve"},
      {"63 bytes", crypto::Bytes(good.begin(), good.end() - 1), "Out of bounds"},
      {"empty", {}, "Out of bounds"},
  };
  for (const Case& c : cases) {
    const auto m = decode_sender_message(c.payload);
    if (c.error.empty()) {
      ASSERT_TRUE(m.has_value()) << c.name;
      EXPECT_EQ(*m, sender.message()) << c.name;
      continue;
    }
    ASSERT_FALSE(m.has_value()) << c.name;
    ASSERT_TRUE(m.error().is<BaseOtError::CommunicationError>()) << c.name;
    EXPECT_EQ(m.error().display(), c.error) << c.name;
    ASSERT_NE(m.error().source(), nullptr);
    EXPECT_NE(dynamic_cast<const sised::SisedError*>(m.error().source()), nullptr) << c.name;
  }
}

// How the sender reads the receiver's payload: decoding errors are
// communication errors, any length but 4,096 is InvalidMessageSizeError.
TEST(BaseOtMessages, ReceiverMessageDecoding) {
  const auto byte_string = [](std::size_t n) {
    auto b = sised::encode(crypto::Bytes(n, 0x5A));
    return *b;
  };
  struct Case {
    std::string name;
    crypto::Bytes payload;
    bool size_error;
    std::string debug;  // of the error; empty: accepted
  };
  crypto::Bytes truncated = byte_string(4096);
  truncated.pop_back();
  crypto::Bytes trailing = byte_string(4096);
  trailing.push_back(1);
  const std::vector<Case> cases = {
      {"4096", byte_string(4096), false, ""},
      {"4096 then trailing bytes", trailing, false, ""},
      {"0", byte_string(0), true, "InvalidMessageSizeError"},
      {"4064", byte_string(4064), true, "InvalidMessageSizeError"},
      {"4095", byte_string(4095), true, "InvalidMessageSizeError"},
      {"4097", byte_string(4097), true, "InvalidMessageSizeError"},
      {"4128", byte_string(4128), true, "InvalidMessageSizeError"},
      {"truncated", truncated, false, "CommunicationError(OutOfBounds)"},
      {"empty", {}, false, "CommunicationError(OutOfBounds)"},
      {"varint not shortest", {0xFC, 0x05, 0, 0, 0, 0, 0}, false, "CommunicationError(InvalidVarIntEncoding)"},
      {"over 4 MiB", {0xFE, 0x01, 0x00, 0x40}, false, "CommunicationError(HeapSizeLimitExceeded)"},
  };
  for (const Case& c : cases) {
    const auto m = decode_receiver_message(c.payload);
    if (c.debug.empty()) {
      ASSERT_TRUE(m.has_value()) << c.name;
      EXPECT_EQ(m->values, crypto::Bytes(4096, 0x5A)) << c.name;
      continue;
    }
    ASSERT_FALSE(m.has_value()) << c.name;
    EXPECT_EQ(m.error().is<BaseOtError::InvalidMessageSizeError>(), c.size_error) << c.name;
    EXPECT_EQ(m.error().debug(), c.debug) << c.name;
  }
}

// The sender itself refuses wrong lengths before deriving anything.
TEST(BaseOtSender, RefusesWrongValueLengths) {
  crypto::ChaCha8Rng rng(crypto::ByteArray<32>{6});
  const BaseOtSender sender = BaseOtSender::random(rng);
  for (std::size_t n : {0u, 32u, 4064u, 4095u, 4097u, 4128u}) {
    const crypto::Bytes values(n, 1);
    const auto out = sender.derive_keys(tag_of(6), values);
    ASSERT_FALSE(out.has_value()) << n;
    EXPECT_EQ(out.error().display(), "Received message of invalid size") << n;
  }
}

}  // namespace
}  // namespace velto::ot
