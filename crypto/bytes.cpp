#include "crypto/bytes.hpp"

#include <sodium.h>

namespace velto::crypto {

void secure_wipe(void* data, std::size_t n) noexcept {
  if (n != 0) sodium_memzero(data, n);
}

bool ct_equal(ByteSpan a, ByteSpan b) noexcept {
  if (a.size() != b.size()) return false;
  std::uint8_t acc = 0;
  for (std::size_t i = 0; i < a.size(); ++i) acc |= static_cast<std::uint8_t>(a[i] ^ b[i]);
  // Keep the accumulator opaque so the loop is not turned into an early exit.
  asm volatile("" : "+r"(acc));
  return acc == 0;
}

}  // namespace velto::crypto
