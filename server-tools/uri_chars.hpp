// Character classes of URI text (RFC 3986), shared by the relay address
// builder and the host check of the function interface.
#pragma once

namespace velto::server_tools::uri {

inline bool is_unreserved(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

inline bool is_sub_delim(unsigned char c) noexcept {
  switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')':
    case '*': case '+': case ',': case ';': case '=':
      return true;
    default:
      return false;
  }
}

inline bool is_hex_digit(unsigned char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace velto::server_tools::uri
