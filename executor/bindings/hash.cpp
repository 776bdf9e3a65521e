// velto_sha256 and velto_keccak256: synchronous digests for callers that need
// the message hashes signing uses. No result record and no panic guard: a
// broken precondition is a breach of the caller's contract and stops the
// process with its message on stderr.
#include <cstdio>
#include <cstdlib>

#include "crypto/hash.hpp"
#include "crypto/keccak.hpp"
#include "executor/bindings/velto.h"

namespace {

[[noreturn]] void stop(const char* message) noexcept {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

// The input as a span; the checks in their fixed order.
velto::crypto::ByteSpan checked_input(const uint8_t* input, uint64_t len, const uint8_t* hash32) noexcept {
  if (input == nullptr && len != 0) stop("ptr is null but len is not 0");
  if (hash32 == nullptr) stop("hash32 is null");
  if (len == 0) return {};
  return {input, static_cast<std::size_t>(len)};
}

template <std::size_t N>
void write_digest(const velto::crypto::ByteArray<N>& digest, uint8_t* hash32) noexcept {
  for (std::size_t i = 0; i < 32; ++i) hash32[i] = digest[i];
}

}  // namespace

extern "C" void velto_sha256(const uint8_t* input, uint64_t len, uint8_t* hash32) {
  const auto data = checked_input(input, len, hash32);
  velto::crypto::Sha256 h;
  h.update(data);
  write_digest(h.finalize(), hash32);
}

extern "C" void velto_keccak256(const uint8_t* input, uint64_t len, uint8_t* hash32) {
  const auto data = checked_input(input, len, hash32);
  velto::crypto::Keccak256 h;
  h.update(data);
  write_digest(h.finalize(), hash32);
}
