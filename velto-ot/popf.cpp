#include "velto-ot/popf.hpp"

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"

namespace velto::ot {
namespace {

inline std::uint8_t byte_barrier(std::uint8_t x) noexcept {
  __asm__ volatile("" : "+r"(x));
  return x;
}

constexpr crypto::ByteArray<12> kPopfNonce = {0x24, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24, 0x24};

}  // namespace

PopfKeys popf_keys(const crypto::ByteArray<32>& seed, std::uint64_t i) noexcept {
  // Hashing the context costs a compression; do it once.
  static const crypto::Blake3 kBase = crypto::Blake3::derive_key(kPopfContext);
  crypto::Blake3 h = kBase;
  h.update(seed);
  crypto::ByteArray<8> index;
  for (std::size_t j = 0; j < 8; ++j) index[j] = static_cast<std::uint8_t>(i >> (8 * j));
  h.update(index);
  crypto::Blake3 h1 = h;
  const std::uint8_t zero = 0;
  const std::uint8_t one = 1;
  h.update({&zero, 1});
  h1.update({&one, 1});
  return PopfKeys{h.finalize(), h1.finalize()};
}

void ct_select32(crypto::ByteArray<32>& dst, const crypto::ByteArray<32>& src, std::uint8_t choice) noexcept {
  const std::uint8_t mask = byte_barrier(static_cast<std::uint8_t>(0 - (choice & 1)));
  for (std::size_t j = 0; j < 32; ++j) dst[j] = static_cast<std::uint8_t>(dst[j] ^ (mask & (dst[j] ^ src[j])));
}

crypto::ByteArray<32> popf_apply(const PopfKeys& keys, const crypto::ByteArray<32>& x, std::uint8_t b) noexcept {
  crypto::ByteArray<32> key = keys.k0;
  ct_select32(key, keys.k1, b);
  crypto::ByteArray<32> out = x;
  // Wipes its state and key stream when done.
  crypto::chacha20_xor(key, kPopfNonce, 0, out);
  crypto::secure_wipe(key.data(), key.size());
  return out;
}

}  // namespace velto::ot
