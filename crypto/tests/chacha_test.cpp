#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

Bytes unhex(std::string_view s) { return hex_decode(s).value(); }

template <std::size_t N>
ByteArray<N> unhex_array(std::string_view s) {
  const Bytes b = unhex(s);
  ByteArray<N> a{};
  EXPECT_EQ(b.size(), N);
  std::copy_n(b.begin(), std::min(N, b.size()), a.begin());
  return a;
}

// chacha_vectors.txt: "name hex" lines produced once by pycryptodome and
// cryptography (see the file header).
const std::map<std::string, Bytes>& vectors() {
  static const std::map<std::string, Bytes> v = [] {
    std::map<std::string, Bytes> m;
    std::ifstream in(VELTO_TESTDATA_DIR "/chacha_vectors.txt");
    EXPECT_TRUE(in.good()) << "missing chacha_vectors.txt";
    std::string name, hex;
    while (in >> name) {
      if (name[0] == '#') {
        std::getline(in, hex);
        continue;
      }
      in >> hex;
      m[name] = unhex(hex);
    }
    return m;
  }();
  return v;
}

const Bytes& vec(const std::string& name) {
  const auto it = vectors().find(name);
  if (it == vectors().end()) {
    ADD_FAILURE() << "no vector " << name;
    static const Bytes empty;
    return empty;
  }
  return it->second;
}

template <std::size_t N>
ByteArray<N> vec_array(const std::string& name) {
  const Bytes& b = vec(name);
  ByteArray<N> a{};
  EXPECT_EQ(b.size(), N) << name;
  std::copy_n(b.begin(), std::min(N, b.size()), a.begin());
  return a;
}

// Reference ChaCha written straight from the definition, one block at a
// time, for round counts that no published vector covers. Checked against
// pycryptodome's ChaCha20 below.
std::uint32_t rl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void ref_qr(std::uint32_t* x, int a, int b, int c, int d) {
  x[a] += x[b]; x[d] = rl(x[d] ^ x[a], 16);
  x[c] += x[d]; x[b] = rl(x[b] ^ x[c], 12);
  x[a] += x[b]; x[d] = rl(x[d] ^ x[a], 8);
  x[c] += x[d]; x[b] = rl(x[b] ^ x[c], 7);
}

Bytes ref_block(const std::uint32_t (&state)[16], int rounds) {
  std::uint32_t x[16];
  std::memcpy(x, state, sizeof x);
  for (int r = 0; r < rounds; r += 2) {
    ref_qr(x, 0, 4, 8, 12); ref_qr(x, 1, 5, 9, 13); ref_qr(x, 2, 6, 10, 14); ref_qr(x, 3, 7, 11, 15);
    ref_qr(x, 0, 5, 10, 15); ref_qr(x, 1, 6, 11, 12); ref_qr(x, 2, 7, 8, 13); ref_qr(x, 3, 4, 9, 14);
  }
  Bytes out(64);
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t w = x[i] + state[i];
    for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<std::uint8_t>(w >> (8 * k));
  }
  return out;
}

void ref_key_state(std::uint32_t (&s)[16], const ByteArray<32>& key) {
  const std::uint32_t sigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
  for (int i = 0; i < 4; ++i) s[i] = sigma[i];
  for (int i = 0; i < 8; ++i) {
    s[4 + i] = static_cast<std::uint32_t>(key[4 * i]) | (key[4 * i + 1] << 8) |
               (key[4 * i + 2] << 16) | (static_cast<std::uint32_t>(key[4 * i + 3]) << 24);
  }
}

// Generator stream: 64-bit block counter in words 12-13, stream id 0.
Bytes ref_stream(int rounds, const ByteArray<32>& key, std::uint64_t first_block,
                 std::size_t nbytes) {
  std::uint32_t s[16] = {};
  ref_key_state(s, key);
  Bytes out;
  for (std::uint64_t b = first_block; out.size() < nbytes; ++b) {
    s[12] = static_cast<std::uint32_t>(b);
    s[13] = static_cast<std::uint32_t>(b >> 32);
    const Bytes blk = ref_block(s, rounds);
    out.insert(out.end(), blk.begin(), blk.end());
  }
  out.resize(nbytes);
  return out;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t len) {
  if (from + len > b.size()) {
    ADD_FAILURE() << "slice " << from << "+" << len << " beyond " << b.size();
    return {};
  }
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(from + len));
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

const ByteArray<32> kRfcKey = [] {
  ByteArray<32> k{};
  for (std::size_t i = 0; i < 32; ++i) k[i] = static_cast<std::uint8_t>(i);
  return k;
}();

const std::string kSunscreen =
    "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
    "future, sunscreen would be it.";

// ------------------------------------------------------------ block, stream

TEST(ChaChaBlock, Rfc8439BlockFunction) {
  // RFC 8439 section 2.3.2: counter 1, nonce 00000009 0000004a 00000000.
  std::array<std::uint32_t, 16> state = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574,
                                         0x03020100, 0x07060504, 0x0b0a0908, 0x0f0e0d0c,
                                         0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c,
                                         0x00000001, 0x09000000, 0x4a000000, 0x00000000};
  const auto out = chacha_block<20>(state);
  Bytes serial;
  for (const std::uint32_t w : out) {
    for (int k = 0; k < 4; ++k) serial.push_back(static_cast<std::uint8_t>(w >> (8 * k)));
  }
  EXPECT_EQ(hex_encode(serial),
            "10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
            "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e");
}

TEST(ChaCha20Xor, Rfc8439Encryption) {
  // RFC 8439 section 2.4.2.
  Bytes data(kSunscreen.begin(), kSunscreen.end());
  chacha20_xor(kRfcKey, unhex_array<12>("000000000000004a00000000"), 1, data);
  EXPECT_EQ(hex_encode(data),
            "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0bf91b65c5524733ab8f59"
            "3dabcd62b3571639d624e65152ab8f530c359f0861d807ca0dbf500d6a6156a38e088a22b65e52bc514d"
            "16ccf806818ce91ab77937365af90bbf74a35be6b40b8eedf2785e42874d");
  chacha20_xor(kRfcKey, unhex_array<12>("000000000000004a00000000"), 1, data);
  EXPECT_EQ(std::string(data.begin(), data.end()), kSunscreen);
}

TEST(ChaCha20Xor, EveryLengthMatchesTheKeystream) {
  const auto key = vec_array<32>("xor_key");
  const auto nonce = vec_array<12>("xor_nonce");
  const Bytes& ks = vec("xor_keystream_counter_7");
  for (const std::size_t len : {0, 1, 63, 64, 65, 255, 256, 257, 511, 1100}) {
    Bytes data(len, 0);
    chacha20_xor(key, nonce, 7, data);
    EXPECT_EQ(data, slice(ks, 0, len)) << "length " << len;
  }
  // A stream continued at a later block counter.
  Bytes tail(300, 0);
  chacha20_xor(key, nonce, 9, tail);
  EXPECT_EQ(tail, slice(ks, 128, 300));
}

TEST(ChaCha20Xor, RunsUpToTheLastCounterAndRefusesToWrap) {
  const auto key = vec_array<32>("xor_key");
  const auto nonce = vec_array<12>("xor_nonce");
  Bytes data(192, 0);  // blocks 2^32 - 3 .. 2^32 - 1
  chacha20_xor(key, nonce, 0xfffffffdu, data);
  EXPECT_EQ(data, vec("xor_keystream_counter_4294967293"));
  Bytes one_more(193, 0);
  EXPECT_THROW(chacha20_xor(key, nonce, 0xfffffffdu, one_more), velto::Panic);
}

// ------------------------------------------------------------ 4-block kernels

using Kernel = void (*)(const std::array<std::uint32_t, 16>&, int, bool, std::uint8_t*) noexcept;

struct NamedKernel {
  const char* name;
  Kernel kernel;
  std::uint64_t blocks;
};

std::vector<NamedKernel> kernels() {
  std::vector<NamedKernel> k = {{"portable x4", &chacha_detail::blocks4_portable, 4},
                                {"portable x8", &chacha_detail::blocks8_portable, 8},
                                {"dispatch x4", &chacha_detail::blocks4, 4},
                                {"dispatch x8", &chacha_detail::blocks8, 8}};
  if (chacha_detail::cpu_has_avx2()) {
    k.push_back({"avx2 x4", &chacha_detail::blocks4_avx2, 4});
    k.push_back({"avx2 x8", &chacha_detail::blocks8_avx2, 8});
  }
  return k;
}

TEST(ChaChaKernels, BlocksMatchTheReferenceAcrossCounterCarries) {
  const auto key = vec_array<32>("rng_seed");
  struct Case {
    std::uint64_t counter;
    bool wide;
  };
  const Case cases[] = {
      {0, true},
      {0xfffffffcull, true},           // carry from word 12 into word 13 mid-batch
      {0xfffffffffffffffcull, true},   // 64-bit wrap mid-batch
      {0x0123456789abcdefull, true},
      {0xfffffffcull, false},          // word 12 wraps alone, word 13 is nonce
  };
  for (const NamedKernel& k : kernels()) {
    for (const int rounds : {8, 12, 20}) {
      for (const Case& c : cases) {
        std::uint32_t s[16] = {};
        ref_key_state(s, key);
        s[12] = static_cast<std::uint32_t>(c.counter);
        s[13] = static_cast<std::uint32_t>(c.counter >> 32);
        s[14] = 0xa5a5a5a5;
        s[15] = 0x5a5a5a5a;
        Bytes expected;
        for (std::uint64_t j = 0; j < k.blocks; ++j) {
          std::uint32_t sj[16];
          std::memcpy(sj, s, sizeof s);
          if (c.wide) {
            sj[12] = static_cast<std::uint32_t>(c.counter + j);
            sj[13] = static_cast<std::uint32_t>((c.counter + j) >> 32);
          } else {
            sj[12] = static_cast<std::uint32_t>(c.counter) + static_cast<std::uint32_t>(j);
          }
          const Bytes blk = ref_block(sj, rounds);
          expected.insert(expected.end(), blk.begin(), blk.end());
        }
        std::array<std::uint32_t, 16> in{};
        std::memcpy(in.data(), s, sizeof s);
        Bytes got(64 * k.blocks);
        k.kernel(in, rounds / 2, c.wide, got.data());
        EXPECT_EQ(got, expected) << k.name << " rounds " << rounds << " counter " << c.counter
                                 << (c.wide ? " wide" : " narrow");
      }
    }
  }
}

// ------------------------------------------------------------ generators

TEST(ChaChaRng, TwentyRoundStreamMatchesPycryptodome) {
  const auto seed = vec_array<32>("rng_seed");
  const Bytes& expected = vec("chacha20_rng_stream_0");
  EXPECT_EQ(ref_stream(20, seed, 0, expected.size()), expected);  // the reference itself

  ChaCha20Rng rng(seed);
  Bytes got(expected.size());
  rng.fill_bytes(got);
  EXPECT_EQ(got, expected);
}

TEST(ChaChaRng, SixtyFourBitCounterCarriesInsideOneRefill) {
  const auto seed = vec_array<32>("rng_seed");
  ChaCha20Rng rng(seed);
  rng.set_word_pos((0x100000000ull - 2) * 16);  // blocks 2^32 - 2 .. 2^32 + 1
  Bytes got(512);
  rng.fill_bytes(got);
  EXPECT_EQ(got, vec("chacha20_rng_stream_at_block_4294967294"));
}

TEST(ChaChaRng, EightRoundStreamMatchesReference) {
  const auto seed = vec_array<32>("rng_seed");
  ChaCha8Rng rng(seed);
  Bytes got(1000);
  rng.fill_bytes(got);
  EXPECT_EQ(got, ref_stream(8, seed, 0, 1000));
}

class ChaCha8Draws : public ::testing::Test {
 protected:
  ByteArray<32> seed = vec_array<32>("rng_seed");
  ChaCha8Rng rng{seed};
  Bytes stream = ref_stream(8, seed, 0, 4096);
  Bytes draw(std::size_t n) {
    Bytes b(n);
    rng.fill_bytes(b);
    return b;
  }
};

TEST_F(ChaCha8Draws, FirstWordIsBlockZeroLittleEndian) {
  EXPECT_EQ(rng.next_u32(), le32(stream, 0));
  ChaCha8Rng bytes(seed);
  Bytes four(4);
  bytes.fill_bytes(four);
  EXPECT_EQ(four, slice(stream, 0, 4));
}

TEST_F(ChaCha8Draws, PartlyUsedWordIsSkipped) {
  EXPECT_EQ(draw(1), slice(stream, 0, 1));
  EXPECT_EQ(draw(4), slice(stream, 4, 4));
  EXPECT_EQ(draw(5), slice(stream, 8, 5));
  EXPECT_EQ(rng.next_u32(), le32(stream, 16));
}

TEST_F(ChaCha8Draws, ByteDrawCrossingTheBufferEndContinuesInTheNextBlocks) {
  EXPECT_EQ(draw(250), slice(stream, 0, 250));  // 63 words used
  EXPECT_EQ(draw(10), slice(stream, 252, 10));  // 1 old word, then 2 new ones
  EXPECT_EQ(rng.next_u32(), le32(stream, 264));
}

TEST_F(ChaCha8Draws, U64WithOneWordLeftTakesItAsTheLowHalf) {
  draw(252);  // 63 words
  const std::uint64_t v = rng.next_u64();
  EXPECT_EQ(static_cast<std::uint32_t>(v), le32(stream, 252));
  EXPECT_EQ(static_cast<std::uint32_t>(v >> 32), le32(stream, 256));
  EXPECT_EQ(rng.next_u32(), le32(stream, 260));
}

TEST_F(ChaCha8Draws, U64AtTheBufferEndRefillsFirst) {
  draw(256);
  const std::uint64_t v = rng.next_u64();
  EXPECT_EQ(v, le32(stream, 256) | (static_cast<std::uint64_t>(le32(stream, 260)) << 32));
}

TEST_F(ChaCha8Draws, DrawSequencesFollowTheWordStream) {
  // The generator is a stream of words: every draw starts at the next unused
  // word and takes ceil(n / 4) of them. Large draws exercise the paths that
  // write whole groups of blocks straight to the output, from aligned and
  // unaligned positions and with four precomputed blocks still waiting.
  struct Op {
    char kind;  // 'b' bytes, '4' next_u32, '8' next_u64
    std::size_t n;
  };
  const std::vector<std::vector<Op>> sequences = {
      {{'b', 3},   {'8', 0},   {'b', 256}, {'4', 0},   {'b', 1000}, {'b', 0},   {'8', 0},
       {'b', 257}, {'b', 255}, {'4', 0},   {'b', 512}, {'8', 0},    {'b', 33},  {'b', 65536},
       {'8', 0},   {'b', 768}, {'b', 2},   {'4', 0},   {'b', 64},   {'b', 7}},
      // From a fresh generator: eight-block and four-block direct writes.
      {{'b', 768}, {'b', 256}, {'4', 0}, {'b', 1024}, {'8', 0}, {'b', 300}},
      // Buffer used up while the next four blocks wait: they come first.
      {{'4', 0}, {'b', 252}, {'b', 600}, {'8', 0}, {'b', 1536}, {'b', 1}, {'b', 511}},
  };
  for (std::size_t q = 0; q < sequences.size(); ++q) {
    ChaCha8Rng gen(seed);
    std::size_t total = 0;
    for (const Op& op : sequences[q]) {
      total += op.kind == 'b' ? (op.n + 3) / 4 * 4 : op.kind == '4' ? 4 : 8;
    }
    const Bytes s = ref_stream(8, seed, 0, total);
    std::size_t pos = 0;  // in bytes, always a whole word
    for (std::size_t i = 0; i < sequences[q].size(); ++i) {
      const Op& op = sequences[q][i];
      if (op.kind == 'b') {
        Bytes got(op.n);
        gen.fill_bytes(got);
        ASSERT_EQ(got, slice(s, pos, op.n)) << "sequence " << q << " op " << i;
        pos += (op.n + 3) / 4 * 4;
      } else if (op.kind == '4') {
        ASSERT_EQ(gen.next_u32(), le32(s, pos)) << "sequence " << q << " op " << i;
        pos += 4;
      } else {
        ASSERT_EQ(gen.next_u64(),
                  le32(s, pos) | (static_cast<std::uint64_t>(le32(s, pos + 4)) << 32))
            << "sequence " << q << " op " << i;
        pos += 8;
      }
      ASSERT_EQ(gen.get_word_pos(), pos / 4) << "sequence " << q << " op " << i;
    }
  }
}

TEST_F(ChaCha8Draws, SetWordPosJumpsIntoTheStream) {
  EXPECT_EQ(rng.get_word_pos(), 0u);
  rng.next_u32();
  rng.set_word_pos(37);  // inside block 2
  EXPECT_EQ(rng.get_word_pos(), 37u);
  EXPECT_EQ(draw(300), slice(stream, 37 * 4, 300));
  rng.set_word_pos(900);  // forwards, past everything computed so far
  EXPECT_EQ(draw(8), slice(stream, 3600, 8));
  rng.set_word_pos(5);  // and back
  EXPECT_EQ(draw(600), slice(stream, 20, 600));
  ChaCha8Rng copy = rng;  // a copy continues the same stream
  EXPECT_EQ(copy.next_u64(), rng.next_u64());
}

// ------------------------------------------------------------ AEAD

TEST(ChaCha20Poly1305, Rfc8439Vector) {
  // RFC 8439 section 2.8.2.
  const auto key = unhex_array<32>("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
  const auto nonce = unhex_array<12>("070000004041424344454647");
  const Bytes ad = unhex("50515253c0c1c2c3c4c5c6c7");
  const Bytes sealed = chacha20poly1305_encrypt(key, nonce, ad, as_bytes(kSunscreen));
  EXPECT_EQ(hex_encode(sealed),
            "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fa"
            "fb69da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4"
            "fad675945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116"
            "1ae10b594f09e26a7e902ecbd0600691");
  const auto opened = chacha20poly1305_decrypt(key, nonce, ad, sealed);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(std::string(opened->begin(), opened->end()), kSunscreen);
}

TEST(ChaCha20Poly1305, GeneratedVectors) {
  const auto key = vec_array<32>("aead_key");
  const auto nonce = vec_array<12>("aead_nonce");
  EXPECT_EQ(chacha20poly1305_encrypt(key, nonce, vec("aead_ad"), vec("aead_plaintext")),
            vec("aead_sealed"));
  EXPECT_EQ(chacha20poly1305_encrypt(key, nonce, {}, {}), vec("aead_sealed_empty"));
  EXPECT_EQ(chacha20poly1305_decrypt(key, nonce, {}, vec("aead_sealed_empty")), Bytes{});
}

TEST(ChaCha20Poly1305, RejectsEveryAlteration) {
  const auto key = vec_array<32>("aead_key");
  const auto nonce = vec_array<12>("aead_nonce");
  const Bytes& ad = vec("aead_ad");
  const Bytes& sealed = vec("aead_sealed");
  ASSERT_EQ(chacha20poly1305_decrypt(key, nonce, ad, sealed), vec("aead_plaintext"));

  struct Case {
    const char* what;
    std::function<void(ByteArray<32>&, ByteArray<12>&, Bytes&, Bytes&)> alter;
  };
  const Case cases[] = {
      {"first ciphertext bit", [](auto&, auto&, auto&, Bytes& s) { s[0] ^= 1; }},
      {"last ciphertext byte", [](auto&, auto&, auto&, Bytes& s) { s[s.size() - 17] ^= 0x80; }},
      {"tag byte", [](auto&, auto&, auto&, Bytes& s) { s.back() ^= 1; }},
      {"truncated", [](auto&, auto&, auto&, Bytes& s) { s.pop_back(); }},
      {"shorter than a tag", [](auto&, auto&, auto&, Bytes& s) { s.resize(15); }},
      {"empty", [](auto&, auto&, auto&, Bytes& s) { s.clear(); }},
      {"associated data", [](auto&, auto&, Bytes& a, auto&) { a[0] ^= 1; }},
      {"missing associated data", [](auto&, auto&, Bytes& a, auto&) { a.clear(); }},
      {"nonce", [](auto&, ByteArray<12>& n, auto&, auto&) { n[11] ^= 1; }},
      {"key", [](ByteArray<32>& k, auto&, auto&, auto&) { k[31] ^= 1; }},
  };
  for (const Case& c : cases) {
    ByteArray<32> k = key;
    ByteArray<12> n = nonce;
    Bytes a = ad, s = sealed;
    c.alter(k, n, a, s);
    EXPECT_EQ(chacha20poly1305_decrypt(k, n, a, s), std::nullopt) << c.what;
  }
}

TEST(ChaCha20Poly1305, InPlaceSealAndOpen) {
  const auto key = vec_array<32>("aead_key");
  const auto nonce = vec_array<12>("aead_nonce");
  const Bytes& pt = vec("aead_plaintext");
  Bytes buf = pt;
  buf.resize(pt.size() + kAeadTagSize);
  const MutByteSpan all(buf);
  chacha20poly1305_encrypt_into(key, nonce, vec("aead_ad"), all.first(pt.size()), all);
  EXPECT_EQ(buf, vec("aead_sealed"));

  ASSERT_TRUE(chacha20poly1305_decrypt_into(key, nonce, vec("aead_ad"), all, all.first(pt.size())));
  EXPECT_EQ(slice(buf, 0, pt.size()), pt);

  // A failed open leaves no partial plaintext behind.
  Bytes sealed = vec("aead_sealed");
  sealed[5] ^= 1;
  Bytes out(pt.size(), 0xee);
  EXPECT_FALSE(chacha20poly1305_decrypt_into(key, nonce, vec("aead_ad"), sealed, out));
  EXPECT_EQ(out, Bytes(pt.size(), 0));
}

TEST(ChaCha20Poly1305, WrongOutputSizeIsAProgrammingError) {
  const ByteArray<32> key{};
  const ByteArray<12> nonce{};
  Bytes pt(10), out(25), sealed(26);
  EXPECT_THROW(chacha20poly1305_encrypt_into(key, nonce, {}, pt, out), velto::Panic);
  EXPECT_THROW((void)chacha20poly1305_decrypt_into(key, nonce, {}, sealed, MutByteSpan(out)),
               velto::Panic);
}

}  // namespace
}  // namespace velto::crypto
