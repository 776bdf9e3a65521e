// The writing half of sised: a byte sink with a sticky failure state, and the
// writers of varints and fixed-width integers that every codec builds on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "crypto/bytes.hpp"
#include "sised/error.hpp"

namespace velto::sised {

// Largest length, count or discriminant that a varint can carry.
inline constexpr std::uint64_t kMaxVarint = 0xFFFF'FFFFu;

// Where encoded bytes go: a growable buffer, a byte counter (the size pass),
// or any writer behind a callback (a hasher, a fallible text writer).
//
// The first failure sticks: after the encoder's own failure (a length above
// kMaxVarint) or a failed callback write, every later write is ignored, so a
// codec can write field after field without checking in between.
class Sink {
 public:
  // Writes `bytes` somewhere; returns false when the write failed (the
  // callback keeps its own error).
  using WriteFn = bool (*)(void* context, crypto::ByteSpan bytes);

  static Sink buffer(crypto::Bytes& out) noexcept { return Sink(&out, nullptr, nullptr); }
  static Sink counter() noexcept { return Sink(nullptr, nullptr, nullptr); }
  static Sink callback(void* context, WriteFn write_fn) noexcept { return Sink(nullptr, context, write_fn); }

  void write(crypto::ByteSpan bytes) {
    if (state_ != State::Ok) return;
    if (buffer_ != nullptr) {
      buffer_->insert(buffer_->end(), bytes.begin(), bytes.end());
    } else if (write_ != nullptr && !write_(context_, bytes)) {
      state_ = State::SinkFailed;
      return;
    }
    written_ += bytes.size();
  }
  void write_byte(std::uint8_t b) { write({&b, 1}); }

  // Records the encoder's own failure; the first failure wins.
  void fail(EncodeError error) {
    if (state_ != State::Ok) return;
    state_ = State::EncodeFailed;
    error_.emplace(std::move(error));
  }

  bool ok() const noexcept { return state_ == State::Ok; }
  bool sink_failed() const noexcept { return state_ == State::SinkFailed; }
  // The encoder's own failure, when that is what stopped the encoding.
  const std::optional<EncodeError>& encode_error() const noexcept { return error_; }
  // Bytes accepted so far.
  std::size_t written() const noexcept { return written_; }

 private:
  enum class State : std::uint8_t { Ok, EncodeFailed, SinkFailed };

  Sink(crypto::Bytes* buffer, void* context, WriteFn write_fn) noexcept
      : buffer_(buffer), context_(context), write_(write_fn) {}

  crypto::Bytes* buffer_;
  void* context_;
  WriteFn write_;
  std::size_t written_ = 0;
  State state_ = State::Ok;
  std::optional<EncodeError> error_;
};

// Number of bytes of the varint form of v (v at most kMaxVarint).
constexpr std::size_t varint_size(std::uint64_t v) noexcept {
  if (v <= 251) return 1;
  if (v <= 0xFF) return 2;
  if (v <= 0xFFFF) return 3;
  if (v <= 0xFF'FFFF) return 4;
  return 5;
}

// Writes v in shortest form: one byte up to 251, else 0xFB + k followed by the
// k low bytes of v, least significant first. Above kMaxVarint the sink fails
// with "usize is limited to u32" and nothing is written.
void write_varint(Sink& sink, std::uint64_t v);

inline void write_u16(Sink& sink, std::uint16_t v) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  sink.write(b);
}

inline void write_u32(Sink& sink, std::uint32_t v) {
  std::uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  sink.write(b);
}

inline void write_u64(Sink& sink, std::uint64_t v) {
  std::uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  sink.write(b);
}

}  // namespace velto::sised
