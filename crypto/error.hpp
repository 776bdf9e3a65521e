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

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "crypto/bytes.hpp"

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

// ---------------------------------------------------------------------------
// Helpers for error types that hold their variants in a std::variant.

// Visitor built from lambdas: std::visit(Overloaded{[](const A&) {...}, ...}, v).
template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

// A variant that carries a boxed error must carry one: a null box is a bug of
// the code that built the error.
void require_boxed(const BoxedError& e);

// prefix + "`" + inner + "`", the wrapper form of many display texts.
std::string backticked(std::string_view prefix, std::string_view inner);

// "[2, 0, 255]": the debug form of a byte array.
std::string byte_list(crypto::ByteSpan bytes);

// "NumberOfParties(5)": the debug form of a party count.
std::string number_of_parties_debug(std::uint16_t n);

// Accessors of an error type whose variants are held in `Value value_`.
#define VELTO_VARIANT_ERROR_ACCESSORS                             \
  const Value& value() const noexcept { return value_; }        \
  template <class V>                                            \
  bool is() const noexcept {                                    \
    return std::holds_alternative<V>(value_);                   \
  }                                                             \
  template <class V>                                            \
  const V* get_if() const noexcept {                            \
    return std::get_if<V>(&value_);                             \
  }                                                             \
  std::string display() const override;                         \
  std::string debug() const override;                           \
  const Error* source() const noexcept override;

// The members of an error type built from any of its variants, whose
// validate() (defined beside display()) checks the variant's invariants.
#define VELTO_VARIANT_ERROR_MEMBERS(Type)        \
 public:                                         \
  template <class V>                             \
    requires std::is_constructible_v<Value, V>   \
  Type(V value) : value_(std::move(value)) {     \
    validate();                                  \
  }                                              \
  VELTO_VARIANT_ERROR_ACCESSORS                  \
                                                 \
 private:                                        \
  void validate() const;                         \
  Value value_;                                  \
                                                 \
 public:

}  // namespace velto
