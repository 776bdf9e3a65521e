// Errors of the sised encoding: SisedError when a value does not decode,
// EncodeError when a value cannot be written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/error.hpp"

namespace velto::sised {

// Why a byte string did not decode. Custom carries the text of a value-level
// refusal ("Invalid Scalar", "Zero value in a NonZero type", ...).
class SisedError final : public velto::Error {
 public:
  enum class Kind : std::uint8_t { OutOfBounds, HeapSizeLimitExceeded, InvalidVarIntEncoding, Custom };

  explicit SisedError(Kind kind) : kind_(kind) {}

  static SisedError out_of_bounds() { return SisedError(Kind::OutOfBounds); }
  static SisedError heap_size_limit_exceeded() { return SisedError(Kind::HeapSizeLimitExceeded); }
  static SisedError invalid_varint_encoding() { return SisedError(Kind::InvalidVarIntEncoding); }
  static SisedError custom(std::string_view text) { return SisedError(Kind::Custom, std::string(text)); }

  Kind kind() const noexcept { return kind_; }
  // The text of a Custom error; empty for the other kinds.
  const std::string& custom_text() const noexcept { return text_; }

  std::string display() const override;
  std::string debug() const override;

  friend bool operator==(const SisedError& a, const SisedError& b) noexcept {
    return a.kind_ == b.kind_ && a.text_ == b.text_;
  }

 private:
  SisedError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  std::string text_;
};

// Why a value could not be encoded. The writers only ever produce
// Custom("usize is limited to u32"), for a length or count of 2^32 or more.
class EncodeError final : public velto::Error {
 public:
  enum class Kind : std::uint8_t { OutOfBounds, Custom };

  static constexpr std::string_view kLengthLimitText = "usize is limited to u32";

  static EncodeError out_of_bounds() { return EncodeError(Kind::OutOfBounds, {}); }
  static EncodeError custom(std::string_view text) { return EncodeError(Kind::Custom, std::string(text)); }
  static EncodeError length_limit() { return custom(kLengthLimitText); }

  Kind kind() const noexcept { return kind_; }
  const std::string& custom_text() const noexcept { return text_; }

  std::string display() const override;
  std::string debug() const override;

  friend bool operator==(const EncodeError& a, const EncodeError& b) noexcept {
    return a.kind_ == b.kind_ && a.text_ == b.text_;
  }

 private:
  EncodeError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  std::string text_;
};

using SisedEncodeError = EncodeError;

}  // namespace velto::sised
