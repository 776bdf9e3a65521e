#include "server-tools/http_text.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velto::server_tools {
namespace {

crypto::ByteSpan span(const std::string& s) { return crypto::as_bytes(s); }

TEST(HttpText, EncodingFromContentType) {
  struct Case {
    std::optional<std::string> header;
    std::optional<std::string> encoding;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt},
      {"text/plain", std::nullopt},
      {"text/plain; charset=utf-8", "utf-8"},
      {"text/plain;charset=UTF-16LE", "utf-16le"},
      {"text/plain; charset=\"utf-16be\"", "utf-16be"},
      {"text/plain; format=flowed; charset=latin1", "windows-1252"},
      {"TEXT/PLAIN; CHARSET=ascii", "windows-1252"},
      {"text/plain; charset=utf-16", "utf-16le"},
      {"text/plain; charset=koi8-r", "koi8-r"},
      {"text/plain; charset=sjis", "shift_jis"},
      {"text/plain; charset=iso-2022-kr", "replacement"},
      // Unknown labels and headers that do not parse fall back to the default.
      {"text/plain; charset=utf-7", std::nullopt},
      {"text/plain; charset=", std::nullopt},
      {"text; charset=utf-16le", std::nullopt},
      {"text/plain charset=utf-16le", std::nullopt},
      {"text/plain; charset=utf-16le; broken", std::nullopt},
      {"text/plain; charset=\"utf-16le", std::nullopt},
      {"text/plain; charset=utf-16le\x01", std::nullopt},
      {"text/plain; charset=utf-16le \xC3\xA9", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header.value_or("(none)"));
    const auto got = content_type_encoding(c.header);
    EXPECT_EQ(got ? std::optional<std::string>(std::string(*got)) : std::nullopt, c.encoding);
  }
}

TEST(HttpText, LabelsIgnoreCaseAndBlanks) {
  EXPECT_EQ(encoding_for_label(" \tUtF-8\n"), "utf-8");
  EXPECT_EQ(encoding_for_label("ISO-8859-1"), "windows-1252");
  EXPECT_EQ(encoding_for_label("x-user-defined"), "x-user-defined");
  EXPECT_EQ(encoding_for_label("utf8 x"), std::nullopt);
}

TEST(HttpText, Decoding) {
  struct Case {
    const char* name;
    std::optional<std::string> content_type;
    std::string body;
    std::string text;
  };
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<Case> cases = {
      {"plain ASCII, no header", std::nullopt, "0123abcd", "0123abcd"},
      {"UTF-8 passes", "text/plain; charset=utf-8", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"UTF-8 BOM removed", std::nullopt, "\xEF\xBB\xBF" "ab", "ab"},
      {"UTF-16LE BOM selects and is removed", "text/plain; charset=utf-8", std::string("\xFF\xFE" "a\0b\0", 6), "ab"},
      {"UTF-16BE BOM selects and is removed", std::nullopt, std::string("\xFE\xFF\0a\0b", 6), "ab"},
      {"UTF-8 BOM beats a UTF-16 label", "text/plain; charset=utf-16le", "\xEF\xBB\xBF" "ab", "ab"},
      {"UTF-16LE by label", "text/plain; charset=utf-16le", std::string("a\0\xE9\0", 4), "a\xC3\xA9"},
      {"UTF-16BE by label", "text/plain; charset=utf-16be", std::string("\0a\x20\xAC", 4), "a\xE2\x82\xAC"},
      {"UTF-16 surrogate pair", "text/plain; charset=utf-16le", std::string("\x3D\xD8\x00\xDE", 4),
       "\xF0\x9F\x98\x80"},
      {"UTF-16 lone surrogate", "text/plain; charset=utf-16le", std::string("\x3D\xD8" "a\0", 4), fffd + "a"},
      {"UTF-16 odd trailing byte", "text/plain; charset=utf-16le", std::string("a\0b", 3), "a" + fffd},
      {"malformed UTF-8: lone continuation", std::nullopt, "a\x80z", "a" + fffd + "z"},
      {"malformed UTF-8: truncated sequence is one replacement", std::nullopt, "a\xF0\x9F\x98z", "a" + fffd + "z"},
      {"malformed UTF-8: overlong form", std::nullopt, "\xC0\x80", fffd + fffd},
      {"malformed UTF-8: surrogate", std::nullopt, "\xED\xA0\x80", fffd + fffd + fffd},
      {"malformed UTF-8: lone byte at the end", std::nullopt, "ab\xE9", "ab" + fffd},
      {"windows-1252 by a latin1 label", "text/plain; charset=latin1", "\xE9\x80\x81", "\xC3\xA9\xE2\x82\xAC\xC2\x81"},
      {"KOI8-R", "text/plain; charset=koi8-r", "\xC1", "\xD0\xB0"},
      {"Shift_JIS", "text/plain; charset=shift_jis", "\x82\xA0", "\xE3\x81\x82"},
      {"replacement encoding", "text/plain; charset=iso-2022-kr", "anything", fffd},
      {"replacement encoding, empty body", "text/plain; charset=iso-2022-kr", "", ""},
      {"x-user-defined", "text/plain; charset=x-user-defined", "a\x80", "a\xEF\x9E\x80"},
      {"unknown label: UTF-8", "text/plain; charset=bogus", "caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_body(span(c.body), c.content_type), c.text);
  }
}

}  // namespace
}  // namespace velto::server_tools
