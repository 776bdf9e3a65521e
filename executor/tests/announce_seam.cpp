#include "executor/tests/announce_seam.hpp"

#include <map>
#include <mutex>
#include <optional>

#include "executor/lib/version.hpp"

namespace velto::executor {

namespace {

std::mutex& announcements_mutex() {
  static std::mutex m;
  return m;
}

std::map<crypto::ByteArray<32>, std::uint8_t>& announcements() {
  static std::map<crypto::ByteArray<32>, std::uint8_t> m;
  return m;
}

}  // namespace

namespace test_seam {

std::optional<std::uint8_t> announced_version_code(const crypto::ByteArray<32>& own_public_key) {
  std::lock_guard lock(announcements_mutex());
  const auto it = announcements().find(own_public_key);
  if (it == announcements().end()) return std::nullopt;
  return it->second;
}

}  // namespace test_seam

namespace testing {

ScopedAnnouncedVersion::ScopedAnnouncedVersion(const crypto::ByteArray<32>& key, std::uint8_t code) : key_(key) {
  std::lock_guard lock(announcements_mutex());
  announcements().insert_or_assign(key, code);
}

ScopedAnnouncedVersion::~ScopedAnnouncedVersion() {
  std::lock_guard lock(announcements_mutex());
  announcements().erase(key_);
}

}  // namespace testing

}  // namespace velto::executor
