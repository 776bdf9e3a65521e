// Text codecs: hexadecimal and Base58 / Base58Check (Bitcoin alphabet).
//
// Share records and private keys pass through these codecs, so the digit
// arithmetic has no data-dependent branches and its loops run over the full
// width; the Base58 tables span at most two cache lines. What shapes the
// running time is the lengths (which the text shows anyway) and the position
// of an invalid character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"

namespace velto::crypto {

// A character in its literal debug form: single quotes, with \0 \t \r \n \\ \'
// escapes and \u{..} for unprintable characters (exact for U+0000..U+00FF,
// the range the decoders report; other characters print as UTF-8).
std::string debug_char(char32_t c);

// ---------------------------------------------------------------- hex

struct HexError final : public Error {
  enum class Kind { OddLength, InvalidStringLength, InvalidHexCharacter };

  Kind kind = Kind::OddLength;
  // InvalidHexCharacter: the offending byte taken as a code point, and its
  // byte position in the text.
  char32_t c = 0;
  std::size_t index = 0;

  static HexError odd_length() { return HexError(Kind::OddLength, 0, 0); }
  static HexError invalid_string_length() { return HexError(Kind::InvalidStringLength, 0, 0); }
  static HexError invalid_hex_character(char32_t ch, std::size_t at) {
    return HexError(Kind::InvalidHexCharacter, ch, at);
  }

  std::string display() const override;
  std::string debug() const override;

  friend bool operator==(const HexError& a, const HexError& b) noexcept {
    return a.kind == b.kind && a.c == b.c && a.index == b.index;
  }

 private:
  HexError(Kind k, char32_t ch, std::size_t at) : kind(k), c(ch), index(at) {}
};

// Lower-case digits, high nibble first.
std::string hex_encode(ByteSpan data);
// Digits of either case. An odd length is OddLength; otherwise the first
// character that is not a digit is InvalidHexCharacter.
std::expected<Bytes, HexError> hex_decode(std::string_view text);
// As hex_decode into exactly out.size() bytes: OddLength first, then
// InvalidStringLength when the text does not hold out.size() bytes, then
// characters. On failure `out` is zeroed.
std::expected<void, HexError> hex_decode_into(std::string_view text, MutByteSpan out);

// ---------------------------------------------------------------- Base58

struct Base58Error final : public Error {
  enum class Kind {
    BufferTooSmall,
    InvalidCharacter,
    NonAsciiCharacter,
    InvalidChecksum,
    InvalidVersion,
    NoChecksum,
    NoVersion,
  };

  Kind kind = Kind::BufferTooSmall;
  char character = 0;                  // InvalidCharacter
  std::size_t index = 0;               // InvalidCharacter, NonAsciiCharacter
  ByteArray<4> checksum{};             // InvalidChecksum: computed from the payload
  ByteArray<4> expected_checksum{};    // InvalidChecksum: carried by the text
  std::uint8_t ver = 0;                // InvalidVersion: found
  std::uint8_t expected_ver = 0;       // InvalidVersion: required

  static Base58Error buffer_too_small() { return Base58Error(Kind::BufferTooSmall); }
  static Base58Error invalid_character(char ch, std::size_t at);
  static Base58Error non_ascii_character(std::size_t at);
  static Base58Error invalid_checksum(const ByteArray<4>& computed, const ByteArray<4>& carried);
  static Base58Error invalid_version(std::uint8_t found, std::uint8_t required);
  static Base58Error no_checksum() { return Base58Error(Kind::NoChecksum); }
  static Base58Error no_version() { return Base58Error(Kind::NoVersion); }

  std::string display() const override;
  std::string debug() const override;

  friend bool operator==(const Base58Error& a, const Base58Error& b) noexcept {
    return a.kind == b.kind && a.character == b.character && a.index == b.index &&
           a.checksum == b.checksum && a.expected_checksum == b.expected_checksum &&
           a.ver == b.ver && a.expected_ver == b.expected_ver;
  }

 private:
  explicit Base58Error(Kind k) : kind(k) {}
};

// Each leading zero byte becomes a leading '1'.
std::string base58_encode(ByteSpan data);
// The longest text that can decode to at most `max_output` bytes (each
// character carries log2(58) bits, each leading '1' one zero byte). Callers
// that know the size of what they read refuse longer texts before decoding.
std::size_t base58_max_text_length(std::size_t max_output) noexcept;
// Decodes a value of at most `max_output` bytes: a text longer than
// base58_max_text_length(max_output) is refused before decoding, and the
// decoding stops as soon as the text is seen to hold more (BufferTooSmall
// both).
std::expected<Bytes, Base58Error> base58_decode(std::string_view text,
                                                std::size_t max_output = SIZE_MAX);
// Decodes into the front of `buf` and returns the decoded length;
// BufferTooSmall when the value needs more than buf.size() bytes. Errors are
// reported for the first offending character in text order: the decoding
// stops at the first character that makes the value (or its leading '1's)
// too large for `buf`, so the work is bounded by buf.size() whatever the
// length of the text. On failure `buf` is zeroed.
std::expected<std::size_t, Base58Error> base58_decode_into(std::string_view text, MutByteSpan buf);

// Base58Check: the payload followed by the first 4 bytes of
// SHA-256(SHA-256(payload)).
std::string base58check_encode(ByteSpan payload);
// Returns the payload without its checksum, reading at most `max_output`
// bytes of payload and checksum (refused as base58_decode does). With `expected_version`, the payload must
// not be empty (NoVersion) and its first byte must equal it (both checked
// after the checksum).
std::expected<Bytes, Base58Error> base58check_decode(
    std::string_view text, std::optional<std::uint8_t> expected_version = std::nullopt,
    std::size_t max_output = SIZE_MAX);
// `buf` receives payload and checksum, so it needs 4 bytes beyond the
// payload; returns the payload length.
std::expected<std::size_t, Base58Error> base58check_decode_into(
    std::string_view text, MutByteSpan buf,
    std::optional<std::uint8_t> expected_version = std::nullopt);

}  // namespace velto::crypto
