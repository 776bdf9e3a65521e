// ChaCha: the raw block function, the ChaCha20 stream cipher with the
// 32-bit-counter / 96-bit-nonce layout, the ChaCha-based random generators
// every protocol step draws from, and the ChaCha20-Poly1305 AEAD.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "crypto/bytes.hpp"

namespace velto::crypto {

namespace chacha_detail {

inline constexpr std::array<std::uint32_t, 4> kSigma = {0x61707865u, 0x3320646eu, 0x79622d32u,
                                                        0x6b206574u};  // "expand 32-byte k"

constexpr std::uint32_t rotl32(std::uint32_t v, int n) noexcept {
  return (v << n) | (v >> (32 - n));
}

constexpr void quarter_round(std::array<std::uint32_t, 16>& x, int a, int b, int c,
                             int d) noexcept {
  x[a] += x[b]; x[d] = rotl32(x[d] ^ x[a], 16);
  x[c] += x[d]; x[b] = rotl32(x[b] ^ x[c], 12);
  x[a] += x[b]; x[d] = rotl32(x[d] ^ x[a], 8);
  x[c] += x[d]; x[b] = rotl32(x[b] ^ x[c], 7);
}

inline void store_le32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t load_le32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Four (eight) consecutive blocks of the state `in` (block j uses block
// counter + j), written as 256 (512) bytes, each block's words
// little-endian. With `wide_counter` the counter is the 64-bit value in words
// 12 (low) and 13; otherwise it is word 12 alone and wraps modulo 2^32.
//
// The dispatching entry points pick the fastest kernel this CPU runs; the
// named kernels are exposed so that tests and benchmarks can pin one.
void blocks4(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide_counter,
             std::uint8_t* out) noexcept;
void blocks8(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide_counter,
             std::uint8_t* out) noexcept;
void blocks4_portable(const std::array<std::uint32_t, 16>& in, int double_rounds,
                      bool wide_counter, std::uint8_t* out) noexcept;
void blocks8_portable(const std::array<std::uint32_t, 16>& in, int double_rounds,
                      bool wide_counter, std::uint8_t* out) noexcept;
// Only call these when cpu_has_avx2() is true.
void blocks4_avx2(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide_counter,
                  std::uint8_t* out) noexcept;
void blocks8_avx2(const std::array<std::uint32_t, 16>& in, int double_rounds, bool wide_counter,
                  std::uint8_t* out) noexcept;
bool cpu_has_avx2() noexcept;

}  // namespace chacha_detail

// The ChaCha block function with `Rounds` rounds (8, 12 or 20): the state
// after the rounds plus the input state, as 16 words.
template <int Rounds>
constexpr std::array<std::uint32_t, 16> chacha_block(
    const std::array<std::uint32_t, 16>& input) noexcept {
  static_assert(Rounds > 0 && Rounds % 2 == 0, "ChaCha runs whole double rounds");
  std::array<std::uint32_t, 16> x = input;
  for (int i = 0; i < Rounds; i += 2) {
    chacha_detail::quarter_round(x, 0, 4, 8, 12);
    chacha_detail::quarter_round(x, 1, 5, 9, 13);
    chacha_detail::quarter_round(x, 2, 6, 10, 14);
    chacha_detail::quarter_round(x, 3, 7, 11, 15);
    chacha_detail::quarter_round(x, 0, 5, 10, 15);
    chacha_detail::quarter_round(x, 1, 6, 11, 12);
    chacha_detail::quarter_round(x, 2, 7, 8, 13);
    chacha_detail::quarter_round(x, 3, 4, 9, 14);
  }
  for (std::size_t i = 0; i < 16; ++i) x[i] += input[i];
  return x;
}

// ChaCha20 with a 32-bit block counter and a 96-bit nonce: XORs the key
// stream, starting at block `counter`, into `data` in place. Running the
// counter past 2^32 - 1 is a programming error and panics.
void chacha20_xor(const ByteArray<32>& key, const ByteArray<12>& nonce, std::uint32_t counter,
                  MutByteSpan data);

// A ChaCha random generator with `Rounds` rounds, keyed with a 32-byte seed;
// 64-bit block counter from 0 and 64-bit stream id 0.
//
// Output is a stream of 32-bit words kept in a buffer of four blocks (64
// words). A draw of n bytes takes the next ceil(n / 4) words, each giving its
// bytes little-endian; the unused bytes of the last word are dropped. Draws
// that run past the buffer continue in the next four blocks.
//
// Blocks are computed eight at a time where that is faster: the second four
// wait in the upper half of the storage and become the buffer at the next
// refill, which changes the cost but not the stream.
template <int Rounds>
class ChaChaRng {
 public:
  static constexpr std::size_t kBufferWords = 64;

  explicit ChaChaRng(const ByteArray<32>& seed) noexcept {
    std::copy(chacha_detail::kSigma.begin(), chacha_detail::kSigma.end(), state_.begin());
    for (std::size_t i = 0; i < 8; ++i) state_[4 + i] = chacha_detail::load_le32(&seed[4 * i]);
    for (std::size_t i = 12; i < 16; ++i) state_[i] = 0;
    buf_.fill(0);
  }
  ChaChaRng(const ChaChaRng&) noexcept = default;
  ChaChaRng& operator=(const ChaChaRng&) noexcept = default;
  ~ChaChaRng() {
    secure_wipe(state_.data(), sizeof state_);
    secure_wipe(buf_.data(), buf_.size());
  }

  std::uint32_t next_u32() noexcept {
    if (index_ >= kBufferWords) refill();
    return word(index_++);
  }

  // Two consecutive words, the first one the low half. With one word left in
  // the buffer, that word is the low half and the first word of the next
  // four blocks the high half.
  std::uint64_t next_u64() noexcept {
    if (index_ + 1 < kBufferWords) {
      const std::uint64_t lo = word(index_);
      const std::uint64_t hi = word(index_ + 1);
      index_ += 2;
      return lo | (hi << 32);
    }
    if (index_ >= kBufferWords) {
      refill();
      index_ = 2;
      return static_cast<std::uint64_t>(word(0)) | (static_cast<std::uint64_t>(word(1)) << 32);
    }
    const std::uint64_t lo = word(kBufferWords - 1);
    refill();
    index_ = 1;
    return lo | (static_cast<std::uint64_t>(word(0)) << 32);
  }

  void fill_bytes(MutByteSpan out) noexcept {
    std::size_t done = 0;
    while (done < out.size()) {
      if (index_ >= kBufferWords) {
        if (!stashed_) {
          // Whole buffers are generated straight into the output: the
          // stream and the final position are the same as through the
          // buffer.
          while (out.size() - done >= 2 * kBufferBytes) {
            chacha_detail::blocks8(state_, Rounds / 2, true, out.data() + done);
            advance_counter(8);
            done += 2 * kBufferBytes;
          }
          if (out.size() - done >= kBufferBytes) {
            chacha_detail::blocks4(state_, Rounds / 2, true, out.data() + done);
            advance_counter(4);
            done += kBufferBytes;
          }
          if (done == out.size()) break;
        }
        refill();
      }
      const std::size_t n = std::min((kBufferWords - index_) * 4, out.size() - done);
      std::memcpy(out.data() + done, buf_.data() + base_ + index_ * 4, n);
      index_ += (n + 3) / 4;
      done += n;
    }
  }

  // Position in the word stream (block counter * 16 + word within block),
  // modulo 2^64.
  std::uint64_t get_word_pos() const noexcept {
    const std::uint64_t buffer_start = counter() - 4;
    return buffer_start * 16 + index_;
  }
  void set_word_pos(std::uint64_t word_pos) noexcept {
    set_counter(word_pos / 16);
    stashed_ = false;
    refill();
    index_ = static_cast<std::size_t>(word_pos % 16);
  }

 private:
  static constexpr std::size_t kBufferBytes = kBufferWords * 4;

  std::uint32_t word(std::size_t i) const noexcept {
    return chacha_detail::load_le32(buf_.data() + base_ + 4 * i);
  }
  std::uint64_t counter() const noexcept {
    return static_cast<std::uint64_t>(state_[12]) | (static_cast<std::uint64_t>(state_[13]) << 32);
  }
  void set_counter(std::uint64_t c) noexcept {
    state_[12] = static_cast<std::uint32_t>(c);
    state_[13] = static_cast<std::uint32_t>(c >> 32);
  }
  void advance_counter(std::uint64_t blocks) noexcept { set_counter(counter() + blocks); }
  // The counter always names the first block after the current buffer.
  void refill() noexcept {
    if (stashed_) {
      base_ = kBufferBytes;
      stashed_ = false;
    } else {
      chacha_detail::blocks8(state_, Rounds / 2, true, buf_.data());
      base_ = 0;
      stashed_ = true;
    }
    advance_counter(4);
    index_ = 0;
  }

  // Constants, key, block counter (words 12-13), stream id.
  std::array<std::uint32_t, 16> state_;
  // The buffer is the 256 bytes at base_; with stashed_, the next four
  // blocks follow it at offset 256.
  alignas(32) std::array<std::uint8_t, 2 * kBufferBytes> buf_;
  std::size_t base_ = 0;
  bool stashed_ = false;
  std::size_t index_ = kBufferWords;  // next unused word of the buffer
};

using ChaCha8Rng = ChaChaRng<8>;
using ChaCha12Rng = ChaChaRng<12>;
using ChaCha20Rng = ChaChaRng<20>;

// ChaCha20-Poly1305 with a 96-bit nonce. The sealed form is the ciphertext
// followed by the 16-byte tag.
inline constexpr std::size_t kAeadTagSize = 16;

Bytes chacha20poly1305_encrypt(const ByteArray<32>& key, const ByteArray<12>& nonce, ByteSpan ad,
                               ByteSpan plaintext);
// nullopt when the input is shorter than a tag or does not authenticate.
std::optional<Bytes> chacha20poly1305_decrypt(const ByteArray<32>& key,
                                              const ByteArray<12>& nonce, ByteSpan ad,
                                              ByteSpan sealed);

// Output-span forms; `out` may be the input buffer itself. Encryption needs
// out.size() == plaintext.size() + 16. Decryption returns false when the
// input is shorter than a tag or does not authenticate (`out` is then zeroed);
// otherwise it needs out.size() == sealed.size() - 16. A wrong output size is
// a programming error and panics.
void chacha20poly1305_encrypt_into(const ByteArray<32>& key, const ByteArray<12>& nonce,
                                   ByteSpan ad, ByteSpan plaintext, MutByteSpan out);
[[nodiscard]] bool chacha20poly1305_decrypt_into(const ByteArray<32>& key,
                                                 const ByteArray<12>& nonce, ByteSpan ad,
                                                 ByteSpan sealed, MutByteSpan out);

}  // namespace velto::crypto
