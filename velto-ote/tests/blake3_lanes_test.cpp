#include "velto-ote/blake3_lanes.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"

namespace velto::ote::detail {
namespace {

// Every lane implementation against the library's own compression (Single),
// for group sizes that leave partial groups, all block lengths, counters
// above 2^32 and both modes.
TEST(Blake3LanesTest, EveryImplementationMatchesTheSingleCompression) {
  crypto::ChaCha20Rng rng(crypto::ByteArray<32>{5});
  const std::size_t n = 37;
  std::vector<std::uint8_t> blocks(64 * n);
  rng.fill_bytes(blocks);
  std::vector<std::uint8_t> len(n);
  std::vector<std::uint64_t> counter(n);
  for (std::size_t i = 0; i < n; ++i) {
    len[i] = static_cast<std::uint8_t>(i * 7 % 65);
    std::fill(blocks.begin() + static_cast<std::ptrdiff_t>(64 * i + len[i]), blocks.begin() + static_cast<std::ptrdiff_t>(64 * (i + 1)), 0);
    counter[i] = i % 3 == 0 ? i : (std::uint64_t{i} << 33) + 5;
  }
  crypto::ByteArray<32> raw_key;
  rng.fill_bytes(raw_key);
  const Blake3Key keys[] = {keyed_words(raw_key.data()), derive_key_words("lanes test", 10)};
  const std::uint8_t modes[] = {keyed_mode_flag(), derive_mode_flag()};

  for (int k = 0; k < 2; ++k) {
    std::vector<std::uint8_t> expected(64 * n);
    std::vector<CompressLane> lanes;
    for (std::size_t i = 0; i < n; ++i) lanes.push_back({blocks.data() + 64 * i, len[i], counter[i], expected.data() + 64 * i});
    compress_root_lanes_with(LaneImpl::Single, keys[k], modes[k], lanes);
    for (const LaneImpl impl : {LaneImpl::Lanes4, LaneImpl::Lanes8, LaneImpl::Lanes16}) {
      if (!lane_impl_available(impl)) continue;
      for (const std::size_t count : {std::size_t{1}, std::size_t{5}, std::size_t{16}, n}) {
        std::vector<std::uint8_t> got(64 * count, 0xAA);
        std::vector<CompressLane> some;
        for (std::size_t i = 0; i < count; ++i) some.push_back({lanes[i].block, lanes[i].block_len, lanes[i].counter, got.data() + 64 * i});
        compress_root_lanes_with(impl, keys[k], modes[k], some);
        EXPECT_EQ(got, std::vector<std::uint8_t>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(64 * count)))
            << "implementation " << static_cast<int>(impl) << ", " << count << " lanes, mode " << k;
      }
    }
  }
  // The single compression itself is the keyed hash for a 16-byte input.
  const crypto::ByteArray<32> plain = crypto::blake3_keyed(raw_key, crypto::ByteSpan(blocks).first(16));
  std::uint8_t block[64] = {};
  std::copy_n(blocks.begin(), 16, block);
  std::uint8_t out[64];
  const CompressLane one{block, 16, 0, out};
  compress_root_lanes(keys[0], modes[0], std::span(&one, 1));
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out));
}

}  // namespace
}  // namespace velto::ote::detail
