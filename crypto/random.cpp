#include "crypto/random.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "crypto/error.hpp"

#if defined(__linux__)
#include <sys/random.h>
#else
#include <sodium.h>
#endif

namespace velto::crypto {

void os_random(MutByteSpan out) {
#if defined(__linux__)
  std::size_t done = 0;
  while (done < out.size()) {
    // Blocks only until the kernel pool is initialised; large requests may
    // come back partly filled, and signals may interrupt.
    const ssize_t n = getrandom(out.data() + done, out.size() - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      panic(std::string("OS random number generator failed: ") + std::strerror(errno));
    }
    done += static_cast<std::size_t>(n);
  }
#else
  if (sodium_init() < 0) panic("OS random number generator failed: libsodium unavailable");
  randombytes_buf(out.data(), out.size());
#endif
}

}  // namespace velto::crypto
