// Randomness from the operating system: for seed keys, transport keys and
// anything else that must not come from a protocol step's own generator.
#pragma once

#include <cstddef>

#include "crypto/bytes.hpp"

namespace velto::crypto {

// Fills `out` from the kernel's cryptographically secure source. A failure
// of that source cannot be recovered from and panics.
void os_random(MutByteSpan out);

template <std::size_t N>
ByteArray<N> os_random_array() {
  ByteArray<N> a;
  os_random(a);
  return a;
}

// The OS source as a generator, for generic code that takes any generator
// with fill_bytes.
struct OsRng {
  void fill_bytes(MutByteSpan out) { os_random(out); }
};

}  // namespace velto::crypto
