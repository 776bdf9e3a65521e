#include "crypto/hash.hpp"

#include <sodium/core.h>
#include <sodium/crypto_generichash_blake2b.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

inline std::uint32_t load32_le(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void store32_le(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Builds the inner and outer states of an HMAC over hash H with block size B:
// the key (hashed first when longer than a block) padded with zeros and
// XORed with 0x36 and 0x5c.
template <class H>
void hmac_init(ByteSpan key, H& inner, H& outer) noexcept {
  constexpr std::size_t kBlock = H::kBlockSize;
  std::array<std::uint8_t, kBlock> pad{};
  if (key.size() > kBlock) {
    const auto digest = H().update(key).finalize();
    std::copy(digest.begin(), digest.end(), pad.begin());
  } else {
    std::copy(key.begin(), key.end(), pad.begin());
  }
  for (auto& b : pad) b ^= 0x36;
  inner.update(pad);
  for (auto& b : pad) b ^= 0x36 ^ 0x5c;
  outer.update(pad);
  secure_wipe(pad.data(), pad.size());
}

template <class H, std::size_t N>
ByteArray<N> hmac_finish(const H& inner, const H& outer) noexcept {
  const ByteArray<N> inner_digest = inner.finalize();
  H o = outer;
  return o.update(inner_digest).finalize();
}

}  // namespace

// ---------------------------------------------------------------- SHA-2

Sha256::Sha256() noexcept { crypto_hash_sha256_init(&st_); }
Sha256::~Sha256() { secure_wipe(&st_, sizeof st_); }

Sha256& Sha256::update(ByteSpan data) noexcept {
  crypto_hash_sha256_update(&st_, data.data(), data.size());
  return *this;
}

ByteArray<32> Sha256::finalize() const noexcept {
  crypto_hash_sha256_state st = st_;
  ByteArray<32> out;
  crypto_hash_sha256_final(&st, out.data());
  secure_wipe(&st, sizeof st);
  return out;
}

ByteArray<32> sha256(ByteSpan data) noexcept { return Sha256().update(data).finalize(); }

Sha512::Sha512() noexcept { crypto_hash_sha512_init(&st_); }
Sha512::~Sha512() { secure_wipe(&st_, sizeof st_); }

Sha512& Sha512::update(ByteSpan data) noexcept {
  crypto_hash_sha512_update(&st_, data.data(), data.size());
  return *this;
}

ByteArray<64> Sha512::finalize() const noexcept {
  crypto_hash_sha512_state st = st_;
  ByteArray<64> out;
  crypto_hash_sha512_final(&st, out.data());
  secure_wipe(&st, sizeof st);
  return out;
}

ByteArray<64> sha512(ByteSpan data) noexcept { return Sha512().update(data).finalize(); }

HmacSha512::HmacSha512(ByteSpan key) noexcept { hmac_init(key, inner_, outer_); }

HmacSha512& HmacSha512::update(ByteSpan data) noexcept {
  inner_.update(data);
  return *this;
}

ByteArray<64> HmacSha512::finalize() const noexcept {
  return hmac_finish<Sha512, 64>(inner_, outer_);
}

ByteArray<64> hmac_sha512(ByteSpan key, ByteSpan msg) noexcept {
  return HmacSha512(key).update(msg).finalize();
}

SecretArray<64> hkdf_sha512_extract(ByteSpan salt, ByteSpan ikm) noexcept {
  ByteArray<64> prk = hmac_sha512(salt, ikm);
  SecretArray<64> out(prk);
  secure_wipe(prk.data(), prk.size());
  return out;
}

void hkdf_sha512_expand(ByteSpan prk, ByteSpan info, MutByteSpan out) {
  constexpr std::size_t kHashLen = 64;
  if (out.size() > 255 * kHashLen) {
    panic("HKDF-SHA512 output longer than 255 blocks requested. Bug!");
  }
  const HmacSha512 keyed(prk);
  ByteArray<kHashLen> t{};
  std::size_t done = 0;
  for (std::uint8_t i = 1; done < out.size(); ++i) {
    HmacSha512 mac = keyed;
    if (i > 1) mac.update(t);
    mac.update(info);
    mac.update(ByteSpan(&i, 1));
    t = mac.finalize();
    const std::size_t take = std::min(kHashLen, out.size() - done);
    std::copy_n(t.begin(), take, out.begin() + static_cast<std::ptrdiff_t>(done));
    done += take;
  }
  secure_wipe(t.data(), t.size());
}

// ---------------------------------------------------------------- RIPEMD-160

namespace {

struct Ripemd160 {
  std::array<std::uint32_t, 5> h{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

  static constexpr std::uint8_t kRl[80] = {
      0, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 7,  4,  13, 1,
      10, 6, 15, 3,  12, 0,  9,  5,  2,  14, 11, 8,  3,  10, 14, 4,  9,  15, 8,  1,
      2,  7, 0,  6,  13, 11, 5,  12, 1,  9,  11, 10, 0,  8,  12, 4,  13, 3,  7,  15,
      14, 5, 6,  2,  4,  0,  5,  9,  7,  12, 2,  10, 14, 1,  3,  8,  11, 6,  15, 13};
  static constexpr std::uint8_t kRr[80] = {
      5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12, 6,  11, 3,  7,
      0,  13, 5,  10, 14, 15, 8, 12, 4,  9,  1,  2,  15, 5,  1,  3,  7,  14, 6,  9,
      11, 8,  12, 2, 10, 0, 4,  13, 8,  6,  4,  1,  3,  11, 15, 0,  5,  12, 2,  13,
      9,  7,  10, 14, 12, 15, 10, 4, 1,  5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
  static constexpr std::uint8_t kSl[80] = {
      11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,  7,  6,  8,  13,
      11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12, 11, 13, 6,  7,  14, 9,  13, 15,
      14, 8,  13, 6,  5,  12, 7,  5,  11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,
      8,  6,  5,  12, 9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
  static constexpr std::uint8_t kSr[80] = {
      8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,  9,  13, 15, 7,
      12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11, 9,  7,  15, 11, 8,  6,  6,  14,
      12, 13, 5,  14, 13, 13, 7,  5,  15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,
      12, 5,  15, 8,  8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};
  static constexpr std::uint32_t kKl[5] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC,
                                           0xA953FD4E};
  static constexpr std::uint32_t kKr[5] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x7A6D76E9,
                                           0x00000000};

  static std::uint32_t f(int round, std::uint32_t x, std::uint32_t y, std::uint32_t z) noexcept {
    switch (round) {
      case 0: return x ^ y ^ z;
      case 1: return (x & y) | (~x & z);
      case 2: return (x | ~y) ^ z;
      case 3: return (x & z) | (y & ~z);
      default: return x ^ (y | ~z);
    }
  }

  void compress(const std::uint8_t* block) noexcept {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load32_le(block + 4 * i);
    std::uint32_t al = h[0], bl = h[1], cl = h[2], dl = h[3], el = h[4];
    std::uint32_t ar = al, br = bl, cr = cl, dr = dl, er = el;
    for (int j = 0; j < 80; ++j) {
      const int round = j / 16;
      std::uint32_t t = std::rotl(al + f(round, bl, cl, dl) + x[kRl[j]] + kKl[round], kSl[j]) + el;
      al = el;
      el = dl;
      dl = std::rotl(cl, 10);
      cl = bl;
      bl = t;
      t = std::rotl(ar + f(4 - round, br, cr, dr) + x[kRr[j]] + kKr[round], kSr[j]) + er;
      ar = er;
      er = dr;
      dr = std::rotl(cr, 10);
      cr = br;
      br = t;
    }
    const std::uint32_t t = h[1] + cl + dr;
    h[1] = h[2] + dl + er;
    h[2] = h[3] + el + ar;
    h[3] = h[4] + al + br;
    h[4] = h[0] + bl + cr;
    h[0] = t;
  }
};

}  // namespace

ByteArray<20> ripemd160(ByteSpan data) noexcept {
  Ripemd160 r;
  const std::size_t full = data.size() / 64;
  for (std::size_t i = 0; i < full; ++i) r.compress(data.data() + 64 * i);

  // Padding: 0x80, zeros, then the bit length as 64-bit little-endian; one or
  // two final blocks.
  std::array<std::uint8_t, 128> tail{};
  const std::size_t rem = data.size() - 64 * full;
  if (rem != 0) std::memcpy(tail.data(), data.data() + 64 * full, rem);
  tail[rem] = 0x80;
  const std::size_t tail_len = rem < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) << 3;
  for (int i = 0; i < 8; ++i) {
    tail[tail_len - 8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  r.compress(tail.data());
  if (tail_len == 128) r.compress(tail.data() + 64);

  ByteArray<20> out;
  for (std::size_t i = 0; i < 5; ++i) store32_le(out.data() + 4 * i, r.h[i]);
  return out;
}

ByteArray<20> hash160(ByteSpan data) noexcept { return ripemd160(sha256(data)); }

// ---------------------------------------------------------------- BLAKE2s

namespace {

constexpr std::array<std::uint32_t, 8> kBlake2sIv = {0x6A09E667, 0xBB67AE85, 0x3C6EF372,
                                                      0xA54FF53A, 0x510E527F, 0x9B05688C,
                                                      0x1F83D9AB, 0x5BE0CD19};

constexpr std::uint8_t kSigma[10][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
    {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
    {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
    {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
    {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
};

inline void blake2s_g(std::uint32_t* v, int a, int b, int c, int d, std::uint32_t x,
                      std::uint32_t y) noexcept {
  v[a] = v[a] + v[b] + x;
  v[d] = std::rotr(v[d] ^ v[a], 16);
  v[c] = v[c] + v[d];
  v[b] = std::rotr(v[b] ^ v[c], 12);
  v[a] = v[a] + v[b] + y;
  v[d] = std::rotr(v[d] ^ v[a], 8);
  v[c] = v[c] + v[d];
  v[b] = std::rotr(v[b] ^ v[c], 7);
}

}  // namespace

Blake2s::Blake2s() noexcept : h_(kBlake2sIv) {
  // Parameter block: digest length 32, no key, fanout 1, depth 1.
  h_[0] ^= 0x01010000U | kDigestSize;
}

Blake2s::~Blake2s() {
  secure_wipe(h_.data(), sizeof h_);
  secure_wipe(buf_.data(), buf_.size());
}

void Blake2s::compress(const std::uint8_t* block, std::uint32_t last) noexcept {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load32_le(block + 4 * i);
  std::uint32_t v[16];
  for (int i = 0; i < 8; ++i) {
    v[i] = h_[static_cast<std::size_t>(i)];
    v[i + 8] = kBlake2sIv[static_cast<std::size_t>(i)];
  }
  v[12] ^= static_cast<std::uint32_t>(counter_);
  v[13] ^= static_cast<std::uint32_t>(counter_ >> 32);
  v[14] ^= last;
  for (const auto& s : kSigma) {
    blake2s_g(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);
    blake2s_g(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);
    blake2s_g(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);
    blake2s_g(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);
    blake2s_g(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);
    blake2s_g(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);
    blake2s_g(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);
    blake2s_g(v, 3, 4, 9, 14, m[s[14]], m[s[15]]);
  }
  for (int i = 0; i < 8; ++i) h_[static_cast<std::size_t>(i)] ^= v[i] ^ v[i + 8];
}

Blake2s& Blake2s::update(ByteSpan data) noexcept {
  // The last block must be compressed with the final flag, so a full buffer
  // is only compressed once more input arrives.
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
  if (n == 0) return *this;
  const std::size_t room = kBlockSize - buf_len_;
  if (n > room) {
    std::memcpy(buf_.data() + buf_len_, p, room);
    counter_ += kBlockSize;
    compress(buf_.data(), 0);
    buf_len_ = 0;
    p += room;
    n -= room;
    while (n > kBlockSize) {
      counter_ += kBlockSize;
      compress(p, 0);
      p += kBlockSize;
      n -= kBlockSize;
    }
  }
  std::memcpy(buf_.data() + buf_len_, p, n);
  buf_len_ += n;
  return *this;
}

ByteArray<32> Blake2s::finalize() const noexcept {
  Blake2s s = *this;
  s.counter_ += s.buf_len_;
  std::fill(s.buf_.begin() + static_cast<std::ptrdiff_t>(s.buf_len_), s.buf_.end(), 0);
  s.compress(s.buf_.data(), 0xFFFFFFFFU);
  ByteArray<32> out;
  for (std::size_t i = 0; i < 8; ++i) store32_le(out.data() + 4 * i, s.h_[i]);
  return out;
}

ByteArray<32> blake2s(ByteSpan data) noexcept { return Blake2s().update(data).finalize(); }

HmacBlake2s::HmacBlake2s(ByteSpan key) noexcept { hmac_init(key, inner_, outer_); }

HmacBlake2s& HmacBlake2s::update(ByteSpan data) noexcept {
  inner_.update(data);
  return *this;
}

ByteArray<32> HmacBlake2s::finalize() const noexcept {
  return hmac_finish<Blake2s, 32>(inner_, outer_);
}

ByteArray<32> hmac_blake2s(ByteSpan key, ByteSpan data) noexcept {
  return HmacBlake2s(key).update(data).finalize();
}

ByteArray<32> hmac_blake2s(ByteSpan key, std::initializer_list<ByteSpan> data) noexcept {
  HmacBlake2s mac(key);
  for (const ByteSpan piece : data) mac.update(piece);
  return mac.finalize();
}

template <std::size_t N>
  requires(N == 2 || N == 3)
std::array<SecretArray<32>, N> hkdf_blake2s(const ByteArray<32>& chaining_key,
                                            ByteSpan ikm) noexcept {
  ByteArray<32> extracted = hmac_blake2s(chaining_key, ikm);
  const SecretArray<32> temp(extracted);
  secure_wipe(extracted.data(), extracted.size());
  const HmacBlake2s keyed(temp.span());
  std::array<SecretArray<32>, N> out;
  for (std::size_t i = 0; i < N; ++i) {
    HmacBlake2s mac = keyed;
    if (i > 0) mac.update(out[i - 1].span());
    const std::uint8_t counter = static_cast<std::uint8_t>(i + 1);
    mac.update(ByteSpan(&counter, 1));
    ByteArray<32> block = mac.finalize();
    out[i] = SecretArray<32>(block);
    secure_wipe(block.data(), block.size());
  }
  return out;
}

template std::array<SecretArray<32>, 2> hkdf_blake2s<2>(const ByteArray<32>&, ByteSpan) noexcept;
template std::array<SecretArray<32>, 3> hkdf_blake2s<3>(const ByteArray<32>&, ByteSpan) noexcept;

// ---------------------------------------------------------------- BLAKE2b

ByteArray<32> blake2b_256(ByteSpan data) noexcept {
  // Lets libsodium pick its fastest BLAKE2b kernel; the portable one it
  // starts with gives the same result.
  [[maybe_unused]] static const int sodium_ready = sodium_init();
  ByteArray<32> out;
  crypto_generichash_blake2b(out.data(), out.size(), data.data(), data.size(), nullptr, 0);
  return out;
}

// ---------------------------------------------------------------- expand_message_xmd

std::string_view display(XmdError e) noexcept {
  switch (e) {
    case XmdError::OutputTooLong:
      return "expand_message_xmd: requested output longer than 8160 bytes";
    case XmdError::DstTooLong:
      return "expand_message_xmd: domain separation tag longer than 255 bytes";
  }
  return "expand_message_xmd: unknown error";
}

std::expected<Bytes, XmdError> expand_message_xmd_sha256(ByteSpan msg, ByteSpan dst,
                                                         std::size_t len) {
  constexpr std::size_t kB = 32;   // SHA-256 output
  constexpr std::size_t kS = 64;   // SHA-256 block
  const std::size_t ell = (len + kB - 1) / kB;
  if (ell > 255) return std::unexpected(XmdError::OutputTooLong);
  if (dst.size() > 255) return std::unexpected(XmdError::DstTooLong);

  const std::uint8_t dst_len = static_cast<std::uint8_t>(dst.size());
  // Every b_i hashes "... || DST || len(DST)": prepare that suffix once.
  const auto with_dst_prime = [&](Sha256& h) -> Sha256& {
    return h.update(dst).update(ByteSpan(&dst_len, 1));
  };

  static constexpr std::array<std::uint8_t, kS> kZeroPad{};
  const std::array<std::uint8_t, 3> len_and_zero = {static_cast<std::uint8_t>(len >> 8),
                                                     static_cast<std::uint8_t>(len), 0};
  Sha256 h0;
  h0.update(kZeroPad).update(msg).update(len_and_zero);
  const ByteArray<kB> b0 = with_dst_prime(h0).finalize();

  Bytes out;
  out.reserve(ell * kB);
  ByteArray<kB> prev{};  // b_(i-1); XOR with b_0 gives b_0 for i = 1
  for (std::size_t i = 1; i <= ell; ++i) {
    ByteArray<kB> chained;
    for (std::size_t j = 0; j < kB; ++j) chained[j] = b0[j] ^ prev[j];
    const std::uint8_t index = static_cast<std::uint8_t>(i);
    Sha256 hi;
    hi.update(chained).update(ByteSpan(&index, 1));
    prev = with_dst_prime(hi).finalize();
    out.insert(out.end(), prev.begin(), prev.end());
  }
  out.resize(len);
  return out;
}

}  // namespace velto::crypto
