#include "velto-ote/prg.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/blake3.hpp"
#include "velto-ote/cote.hpp"
#include "velto-ote/tests/ote_test_util.hpp"

namespace velto::ote {
namespace {

using test_util::arr;
using test_util::to_bytes;
using test_util::vec;

TEST(GeneratorsTest, MatchReferenceValues) {
  const crypto::ByteArray<32> node = arr<32>("gen_node");
  EXPECT_EQ(to_bytes(pprf_length_doubling_prg(node).span()), vec("gen_doubling"));
  EXPECT_EQ(to_bytes(pprf_length_tripling_prg(node).span()), vec("gen_tripling"));

  // 27 words: three whole output blocks and part of a fourth.
  std::vector<std::uint64_t> words(27);
  ote_vole_prg(vec("gen_vole_prg_tag"), node, words);
  crypto::Bytes le;
  for (const std::uint64_t w : words) {
    for (int i = 0; i < 8; ++i) le.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  }
  EXPECT_EQ(le, vec("gen_vole_prg"));

  const crypto::ByteArray<16> digest = arr<16>("gen_digest16");
  OtePrgV1 stream(digest);
  crypto::Bytes blocks;
  for (int b = 0; b < 4; ++b) {
    std::array<std::uint8_t, 64> out;
    stream.next_block(out);
    blocks.insert(blocks.end(), out.begin(), out.end());
  }
  EXPECT_EQ(blocks, vec("gen_ote_prg_v1"));
  EXPECT_EQ(to_bytes(cote_prg(digest).span()), vec("gen_cote_prg"));
  EXPECT_EQ(to_bytes(ote_uniform_hash(node)), vec("gen_uniform_hash"));
}

// The chunk counter of the row hasher moves every 1,024 rows; rows below
// 1,024 get the plain keyed hash.
TEST(GeneratorsTest, RowHashOnBothSidesOf1024) {
  const crypto::ByteArray<16> value = arr<16>("gen_digest16");
  for (const std::uint64_t row : {0, 1, 1023, 1024, 1663, 2047, 2048, 5000}) {
    SCOPED_TRACE(testing::Message() << "row " << row);
    EXPECT_EQ(to_bytes(ote_row_hash(value, row)), vec("row_hash_" + std::to_string(row)));
  }
  const crypto::ByteArray<32> plain = crypto::blake3_keyed(crypto::ByteArray<32>{}, value);
  EXPECT_EQ(to_bytes(ote_row_hash(value, 1023)), crypto::Bytes(plain.begin(), plain.begin() + 16));
  EXPECT_NE(ote_row_hash(value, 1023), ote_row_hash(value, 1024));
  EXPECT_EQ(ote_row_hash(value, 1024), ote_row_hash(value, 2047));
}

// The single-compression generators agree with the general hasher over
// inputs of every length they take.
TEST(GeneratorsTest, AgreeWithTheGeneralHasher) {
  crypto::ByteArray<32> tag;
  crypto::ByteArray<32> leaf;
  for (std::size_t i = 0; i < 32; ++i) {
    tag[i] = static_cast<std::uint8_t>(i * 3);
    leaf[i] = static_cast<std::uint8_t>(200 - i);
  }
  std::vector<std::uint64_t> words(10);
  ote_vole_prg(tag, leaf, words);
  crypto::Blake3Reader r = crypto::Blake3::derive_key(kVolePrgContext).update(tag).update(leaf).finalize_xof();
  crypto::ByteArray<80> expected;
  r.fill(expected);
  for (std::size_t k = 0; k < words.size(); ++k) {
    std::uint64_t w = 0;
    for (int i = 7; i >= 0; --i) w = (w << 8) | expected[8 * k + static_cast<std::size_t>(i)];
    EXPECT_EQ(words[k], w) << "word " << k;
  }
}

// The batched forms the runs use give what the one-at-a-time forms give,
// row hashes across the 1,024-row boundary included.
TEST(GeneratorsTest, BatchedFormsMatchTheSingleOnes) {
  crypto::Bytes inputs(32 * 21);
  for (std::size_t i = 0; i < inputs.size(); ++i) inputs[i] = static_cast<std::uint8_t>(i * 31 + 7);

  crypto::Bytes doubled(64 * 21);
  crypto::Bytes tripled(96 * 21);
  pprf_length_doubling_prg_many(inputs, doubled);
  pprf_length_tripling_prg_many(inputs, tripled);
  for (std::size_t i = 0; i < 21; ++i) {
    const crypto::ByteSpan seed = crypto::ByteSpan(inputs).subspan(32 * i, 32);
    EXPECT_EQ(crypto::Bytes(doubled.begin() + 64 * i, doubled.begin() + 64 * (i + 1)),
              to_bytes(pprf_length_doubling_prg(seed).span())) << i;
    EXPECT_EQ(crypto::Bytes(tripled.begin() + 96 * i, tripled.begin() + 96 * (i + 1)),
              to_bytes(pprf_length_tripling_prg(seed).span())) << i;
  }

  // 40 rows starting at row 1,000: rows 1,024 and later hash with counter 1.
  const crypto::ByteSpan rows = crypto::ByteSpan(inputs).first(16 * 40);
  crypto::Bytes hashed(16 * 40);
  ote_row_hash_many(rows, 1000, hashed);
  for (std::size_t i = 0; i < 40; ++i) {
    crypto::ByteArray<16> row;
    std::copy_n(rows.begin() + 16 * static_cast<std::ptrdiff_t>(i), 16, row.begin());
    EXPECT_EQ(crypto::Bytes(hashed.begin() + 16 * i, hashed.begin() + 16 * (i + 1)), to_bytes(ote_row_hash(row, 1000 + i)))
        << "row " << 1000 + i;
  }

  // Three blocks of the streams of 5 seeds.
  crypto::Bytes streams(64 * 3 * 5);
  ote_prg_v1_blocks(crypto::ByteSpan(inputs).first(16 * 5), 3, streams);
  for (std::size_t i = 0; i < 5; ++i) {
    crypto::ByteArray<16> seed;
    std::copy_n(inputs.begin() + 16 * static_cast<std::ptrdiff_t>(i), 16, seed.begin());
    OtePrgV1 stream(seed);
    for (std::size_t b = 0; b < 3; ++b) {
      std::array<std::uint8_t, 64> block;
      stream.next_block(block);
      EXPECT_TRUE(std::equal(block.begin(), block.end(), streams.begin() + 64 * (3 * i + b))) << i << " " << b;
    }
  }
}

}  // namespace
}  // namespace velto::ote
