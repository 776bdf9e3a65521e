#include "crypto/error.hpp"

#include <cstdio>

namespace velto {

void panic(std::string message) { throw Panic(std::move(message)); }

std::string TextError::debug() const { return debug_string(text_); }

void require_boxed(const BoxedError& e) {
  if (!e) panic("A boxed error must hold a value. Bug!");
}

std::string backticked(std::string_view prefix, std::string_view inner) {
  std::string out(prefix);
  out += '`';
  out += inner;
  out += '`';
  return out;
}

std::string byte_list(crypto::ByteSpan bytes) {
  std::string out = "[";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ", ";
    out += std::to_string(bytes[i]);
  }
  out += ']';
  return out;
}

std::string number_of_parties_debug(std::uint16_t n) { return "NumberOfParties(" + std::to_string(n) + ")"; }

std::string debug_string(std::string_view s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[12];
          std::snprintf(buf, sizeof buf, "\\u{%x}", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace velto
