// Holders for secret material. Both wipe their bytes when they die or are
// moved from, and neither can be printed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "crypto/bytes.hpp"

namespace velto::crypto {

// A fixed-size secret (keys, seeds). Copyable on purpose where a protocol
// needs a second copy; every copy wipes itself.
template <std::size_t N>
class SecretArray {
 public:
  SecretArray() noexcept { bytes_.fill(0); }
  explicit SecretArray(const ByteArray<N>& b) noexcept : bytes_(b) {}
  explicit SecretArray(ByteSpan b) noexcept { std::copy_n(b.begin(), N, bytes_.begin()); }
  SecretArray(const SecretArray&) noexcept = default;
  SecretArray& operator=(const SecretArray&) noexcept = default;
  SecretArray(SecretArray&& o) noexcept : bytes_(o.bytes_) { o.wipe(); }
  SecretArray& operator=(SecretArray&& o) noexcept {
    if (this != &o) {
      bytes_ = o.bytes_;
      o.wipe();
    }
    return *this;
  }
  ~SecretArray() { wipe(); }

  void wipe() noexcept { secure_wipe(bytes_.data(), N); }
  std::uint8_t* data() noexcept { return bytes_.data(); }
  const std::uint8_t* data() const noexcept { return bytes_.data(); }
  static constexpr std::size_t size() noexcept { return N; }
  ByteSpan span() const noexcept { return {bytes_.data(), N}; }
  MutByteSpan mut_span() noexcept { return {bytes_.data(), N}; }
  const ByteArray<N>& array() const noexcept { return bytes_; }
  std::uint8_t& operator[](std::size_t i) noexcept { return bytes_[i]; }
  std::uint8_t operator[](std::size_t i) const noexcept { return bytes_[i]; }

  // Constant time.
  friend bool operator==(const SecretArray& a, const SecretArray& b) noexcept {
    return ct_equal(a.span(), b.span());
  }

 private:
  ByteArray<N> bytes_;
};

// A variable-length secret buffer (serialised shares, decrypted payloads).
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::size_t n) : bytes_(n, 0) {}
  explicit SecretBytes(ByteSpan b) : bytes_(b.begin(), b.end()) {}
  explicit SecretBytes(Bytes&& b) noexcept : bytes_(std::move(b)) {}
  SecretBytes(const SecretBytes&) = default;
  SecretBytes& operator=(const SecretBytes& o) {
    if (this != &o) {
      wipe();
      bytes_ = o.bytes_;
    }
    return *this;
  }
  SecretBytes(SecretBytes&& o) noexcept : bytes_(std::move(o.bytes_)) { o.bytes_.clear(); }
  SecretBytes& operator=(SecretBytes&& o) noexcept {
    if (this != &o) {
      wipe();
      bytes_ = std::move(o.bytes_);
      o.bytes_.clear();
    }
    return *this;
  }
  ~SecretBytes() { wipe(); }

  // Wipes the whole allocation, including capacity beyond size.
  void wipe() noexcept {
    bytes_.resize(bytes_.capacity());
    secure_wipe(bytes_.data(), bytes_.size());
    bytes_.clear();
  }
  std::uint8_t* data() noexcept { return bytes_.data(); }
  const std::uint8_t* data() const noexcept { return bytes_.data(); }
  std::size_t size() const noexcept { return bytes_.size(); }
  bool empty() const noexcept { return bytes_.empty(); }
  ByteSpan span() const noexcept { return {bytes_.data(), bytes_.size()}; }
  MutByteSpan mut_span() noexcept { return {bytes_.data(), bytes_.size()}; }
  // Growing reallocates; wipe the old block first so no copy is left behind.
  void resize(std::size_t n) {
    if (n <= bytes_.capacity()) {
      bytes_.resize(n, 0);
      return;
    }
    Bytes grown(n, 0);
    std::copy(bytes_.begin(), bytes_.end(), grown.begin());
    wipe();
    bytes_ = std::move(grown);
  }
  void append(ByteSpan b) {
    const std::size_t old = bytes_.size();
    resize(old + b.size());
    std::copy(b.begin(), b.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(old));
  }

 private:
  Bytes bytes_;
};

}  // namespace velto::crypto
