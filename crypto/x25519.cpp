#include "crypto/x25519.hpp"

#include <sodium.h>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

void ensure_sodium() {
  // Also picks the fastest X25519 implementation for this CPU.
  static const int rc = sodium_init();
  if (rc < 0) {
    panic("libsodium failed to initialise. Bug!");
  }
}

}  // namespace

ByteArray<32> x25519_base(const ByteArray<32>& priv) {
  ensure_sodium();
  ByteArray<32> pub;
  // A clamped scalar is a non-zero multiple of 8 below 8l, so the result is
  // never the all-zero value libsodium reports as an error.
  if (crypto_scalarmult_curve25519_base(pub.data(), priv.data()) != 0) {
    panic("X25519 of the base point failed. Bug!");
  }
  return pub;
}

std::optional<ByteArray<32>> x25519(const ByteArray<32>& priv, const ByteArray<32>& pub) {
  ensure_sodium();
  ByteArray<32> shared;
  if (crypto_scalarmult_curve25519(shared.data(), priv.data(), pub.data()) != 0) {
    secure_wipe(shared.data(), shared.size());
    return std::nullopt;
  }
  return shared;
}

}  // namespace velto::crypto
