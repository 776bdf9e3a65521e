// Test support: makes the party with a given transport public key announce
// another version code than this build's own. Production builds have no such
// switch; the library only declares the seam weakly (executor/lib/version.hpp)
// and this file, compiled into the test binary only, defines it.
#pragma once

#include <cstdint>

#include "crypto/bytes.hpp"

namespace velto::executor::testing {

// While alive, the party whose own public key is `key` announces `code`.
class ScopedAnnouncedVersion {
 public:
  ScopedAnnouncedVersion(const crypto::ByteArray<32>& key, std::uint8_t code);
  ~ScopedAnnouncedVersion();
  ScopedAnnouncedVersion(const ScopedAnnouncedVersion&) = delete;
  ScopedAnnouncedVersion& operator=(const ScopedAnnouncedVersion&) = delete;

 private:
  crypto::ByteArray<32> key_;
};

}  // namespace velto::executor::testing
