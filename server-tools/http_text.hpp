// Reading an HTTP reply body as text, by its declared charset.
//
// The charset is the "charset" parameter of the reply's Content-Type when the
// header is printable ASCII, parses as a media type and the parameter names an
// encoding of the WHATWG Encoding Standard (its label table, matched without
// regard to case or surrounding blanks); otherwise UTF-8. A byte-order mark at
// the start of the body overrides that choice (UTF-8, UTF-16LE, UTF-16BE) and
// is removed. Malformed input becomes U+FFFD. The result is UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/bytes.hpp"

namespace velto::server_tools {

// The canonical name of the encoding a label names ("utf-8", "utf-16le",
// "windows-1252", "shift_jis", ...), or nothing for an unknown label.
std::optional<std::string_view> encoding_for_label(std::string_view label) noexcept;

// The encoding named by a Content-Type header value, by the rules above;
// nothing when the header is absent, not printable ASCII, no media type, or
// has no known charset.
std::optional<std::string_view> content_type_encoding(std::optional<std::string_view> content_type);

// Decodes a body whole (BOM sniffing first, then the named encoding).
std::string decode_text(crypto::ByteSpan body, std::string_view encoding);

// The body as text: decode_text with content_type_encoding, UTF-8 by default.
std::string decode_body(crypto::ByteSpan body, std::optional<std::string_view> content_type);

}  // namespace velto::server_tools
