// How failures travel through the library.
//
// Errors are values: every layer returns std::expected<T, E> with its own error
// type E. Every error type has a fixed display text, a debug form that follows
// the variant and field names, and optionally a source (the error it wraps).
// Types that travel boxed derive from velto::Error.
//
// Invariant violations that no input can cause are panics: velto::panic throws
// velto::Panic, which only the function interface catches (code -254).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velto {

class Error {
 public:
  virtual ~Error() = default;
  virtual std::string display() const = 0;
  virtual std::string debug() const = 0;
  virtual const Error* source() const noexcept { return nullptr; }
};

// An owned error of any type behind one pointer; display, debug form and
// source are those of the value it holds. Errors are immutable, so sharing is
// safe and keeps results copyable.
using BoxedError = std::shared_ptr<const Error>;

template <class E, class... Args>
BoxedError box_error(Args&&... args) {
  return std::make_shared<const E>(std::forward<Args>(args)...);
}

// An error that is just a text (display and debug both the text, debug quoted
// as a string literal would be).
class TextError final : public Error {
 public:
  explicit TextError(std::string text) : text_(std::move(text)) {}
  std::string display() const override { return text_; }
  std::string debug() const override;
  const std::string& text() const noexcept { return text_; }

 private:
  std::string text_;
};

// Thrown for broken invariants only. Deliberately not derived from
// std::exception so that no generic handler swallows it by accident.
class Panic {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);

// Debug form of a text: quoted, with quotes, backslashes and control
// characters escaped.
std::string debug_string(std::string_view s);

}  // namespace velto
