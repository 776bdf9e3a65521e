#include "server-tools/http_text.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <utility>

#include <iconv.h>

namespace velto::server_tools {

namespace {

struct Label {
  std::string_view label;
  std::string_view encoding;
};

// The label table of the WHATWG Encoding Standard.
constexpr Label kLabels[] = {
    {"unicode-1-1-utf-8", "utf-8"}, {"unicode11utf8", "utf-8"}, {"unicode20utf8", "utf-8"}, {"utf-8", "utf-8"},
    {"utf8", "utf-8"}, {"x-unicode20utf8", "utf-8"},
    {"866", "ibm866"}, {"cp866", "ibm866"}, {"csibm866", "ibm866"}, {"ibm866", "ibm866"},
    {"csisolatin2", "iso-8859-2"}, {"iso-8859-2", "iso-8859-2"}, {"iso-ir-101", "iso-8859-2"},
    {"iso8859-2", "iso-8859-2"}, {"iso88592", "iso-8859-2"}, {"iso_8859-2", "iso-8859-2"},
    {"iso_8859-2:1987", "iso-8859-2"}, {"l2", "iso-8859-2"}, {"latin2", "iso-8859-2"},
    {"csisolatin3", "iso-8859-3"}, {"iso-8859-3", "iso-8859-3"}, {"iso-ir-109", "iso-8859-3"},
    {"iso8859-3", "iso-8859-3"}, {"iso88593", "iso-8859-3"}, {"iso_8859-3", "iso-8859-3"},
    {"iso_8859-3:1988", "iso-8859-3"}, {"l3", "iso-8859-3"}, {"latin3", "iso-8859-3"},
    {"csisolatin4", "iso-8859-4"}, {"iso-8859-4", "iso-8859-4"}, {"iso-ir-110", "iso-8859-4"},
    {"iso8859-4", "iso-8859-4"}, {"iso88594", "iso-8859-4"}, {"iso_8859-4", "iso-8859-4"},
    {"iso_8859-4:1988", "iso-8859-4"}, {"l4", "iso-8859-4"}, {"latin4", "iso-8859-4"},
    {"csisolatincyrillic", "iso-8859-5"}, {"cyrillic", "iso-8859-5"}, {"iso-8859-5", "iso-8859-5"},
    {"iso-ir-144", "iso-8859-5"}, {"iso8859-5", "iso-8859-5"}, {"iso88595", "iso-8859-5"},
    {"iso_8859-5", "iso-8859-5"}, {"iso_8859-5:1988", "iso-8859-5"},
    {"arabic", "iso-8859-6"}, {"asmo-708", "iso-8859-6"}, {"csiso88596e", "iso-8859-6"},
    {"csiso88596i", "iso-8859-6"}, {"csisolatinarabic", "iso-8859-6"}, {"ecma-114", "iso-8859-6"},
    {"iso-8859-6", "iso-8859-6"}, {"iso-8859-6-e", "iso-8859-6"}, {"iso-8859-6-i", "iso-8859-6"},
    {"iso-ir-127", "iso-8859-6"}, {"iso8859-6", "iso-8859-6"}, {"iso88596", "iso-8859-6"},
    {"iso_8859-6", "iso-8859-6"}, {"iso_8859-6:1987", "iso-8859-6"},
    {"csisolatingreek", "iso-8859-7"}, {"ecma-118", "iso-8859-7"}, {"elot_928", "iso-8859-7"},
    {"greek", "iso-8859-7"}, {"greek8", "iso-8859-7"}, {"iso-8859-7", "iso-8859-7"}, {"iso-ir-126", "iso-8859-7"},
    {"iso8859-7", "iso-8859-7"}, {"iso88597", "iso-8859-7"}, {"iso_8859-7", "iso-8859-7"},
    {"iso_8859-7:1987", "iso-8859-7"}, {"sun_eu_greek", "iso-8859-7"},
    {"csiso88598e", "iso-8859-8"}, {"csisolatinhebrew", "iso-8859-8"}, {"hebrew", "iso-8859-8"},
    {"iso-8859-8", "iso-8859-8"}, {"iso-8859-8-e", "iso-8859-8"}, {"iso-ir-138", "iso-8859-8"},
    {"iso8859-8", "iso-8859-8"}, {"iso88598", "iso-8859-8"}, {"iso_8859-8", "iso-8859-8"},
    {"iso_8859-8:1988", "iso-8859-8"}, {"visual", "iso-8859-8"},
    {"csiso88598i", "iso-8859-8-i"}, {"iso-8859-8-i", "iso-8859-8-i"}, {"logical", "iso-8859-8-i"},
    {"csisolatin6", "iso-8859-10"}, {"iso-8859-10", "iso-8859-10"}, {"iso-ir-157", "iso-8859-10"},
    {"iso8859-10", "iso-8859-10"}, {"iso885910", "iso-8859-10"}, {"l6", "iso-8859-10"}, {"latin6", "iso-8859-10"},
    {"iso-8859-13", "iso-8859-13"}, {"iso8859-13", "iso-8859-13"}, {"iso885913", "iso-8859-13"},
    {"iso-8859-14", "iso-8859-14"}, {"iso8859-14", "iso-8859-14"}, {"iso885914", "iso-8859-14"},
    {"csisolatin9", "iso-8859-15"}, {"iso-8859-15", "iso-8859-15"}, {"iso8859-15", "iso-8859-15"},
    {"iso885915", "iso-8859-15"}, {"iso_8859-15", "iso-8859-15"}, {"l9", "iso-8859-15"},
    {"iso-8859-16", "iso-8859-16"},
    {"cskoi8r", "koi8-r"}, {"koi", "koi8-r"}, {"koi8", "koi8-r"}, {"koi8-r", "koi8-r"}, {"koi8_r", "koi8-r"},
    {"koi8-ru", "koi8-u"}, {"koi8-u", "koi8-u"},
    {"csmacintosh", "macintosh"}, {"mac", "macintosh"}, {"macintosh", "macintosh"}, {"x-mac-roman", "macintosh"},
    {"dos-874", "windows-874"}, {"iso-8859-11", "windows-874"}, {"iso8859-11", "windows-874"},
    {"iso885911", "windows-874"}, {"tis-620", "windows-874"}, {"windows-874", "windows-874"},
    {"cp1250", "windows-1250"}, {"windows-1250", "windows-1250"}, {"x-cp1250", "windows-1250"},
    {"cp1251", "windows-1251"}, {"windows-1251", "windows-1251"}, {"x-cp1251", "windows-1251"},
    {"ansi_x3.4-1968", "windows-1252"}, {"ascii", "windows-1252"}, {"cp1252", "windows-1252"},
    {"cp819", "windows-1252"}, {"csisolatin1", "windows-1252"}, {"ibm819", "windows-1252"},
    {"iso-8859-1", "windows-1252"}, {"iso-ir-100", "windows-1252"}, {"iso8859-1", "windows-1252"},
    {"iso88591", "windows-1252"}, {"iso_8859-1", "windows-1252"}, {"iso_8859-1:1987", "windows-1252"},
    {"l1", "windows-1252"}, {"latin1", "windows-1252"}, {"us-ascii", "windows-1252"},
    {"windows-1252", "windows-1252"}, {"x-cp1252", "windows-1252"},
    {"cp1253", "windows-1253"}, {"windows-1253", "windows-1253"}, {"x-cp1253", "windows-1253"},
    {"cp1254", "windows-1254"}, {"csisolatin5", "windows-1254"}, {"iso-8859-9", "windows-1254"},
    {"iso-ir-148", "windows-1254"}, {"iso8859-9", "windows-1254"}, {"iso88599", "windows-1254"},
    {"iso_8859-9", "windows-1254"}, {"iso_8859-9:1989", "windows-1254"}, {"l5", "windows-1254"},
    {"latin5", "windows-1254"}, {"windows-1254", "windows-1254"}, {"x-cp1254", "windows-1254"},
    {"cp1255", "windows-1255"}, {"windows-1255", "windows-1255"}, {"x-cp1255", "windows-1255"},
    {"cp1256", "windows-1256"}, {"windows-1256", "windows-1256"}, {"x-cp1256", "windows-1256"},
    {"cp1257", "windows-1257"}, {"windows-1257", "windows-1257"}, {"x-cp1257", "windows-1257"},
    {"cp1258", "windows-1258"}, {"windows-1258", "windows-1258"}, {"x-cp1258", "windows-1258"},
    {"x-mac-cyrillic", "x-mac-cyrillic"}, {"x-mac-ukrainian", "x-mac-cyrillic"},
    {"chinese", "gbk"}, {"csgb2312", "gbk"}, {"csiso58gb231280", "gbk"}, {"gb2312", "gbk"}, {"gb_2312", "gbk"},
    {"gb_2312-80", "gbk"}, {"gbk", "gbk"}, {"iso-ir-58", "gbk"}, {"x-gbk", "gbk"},
    {"gb18030", "gb18030"},
    {"big5", "big5"}, {"big5-hkscs", "big5"}, {"cn-big5", "big5"}, {"csbig5", "big5"}, {"x-x-big5", "big5"},
    {"cseucpkdfmtjapanese", "euc-jp"}, {"euc-jp", "euc-jp"}, {"x-euc-jp", "euc-jp"},
    {"csiso2022jp", "iso-2022-jp"}, {"iso-2022-jp", "iso-2022-jp"},
    {"csshiftjis", "shift_jis"}, {"ms932", "shift_jis"}, {"ms_kanji", "shift_jis"}, {"shift-jis", "shift_jis"},
    {"shift_jis", "shift_jis"}, {"sjis", "shift_jis"}, {"windows-31j", "shift_jis"}, {"x-sjis", "shift_jis"},
    {"cseuckr", "euc-kr"}, {"csksc56011987", "euc-kr"}, {"euc-kr", "euc-kr"}, {"iso-ir-149", "euc-kr"},
    {"korean", "euc-kr"}, {"ks_c_5601-1987", "euc-kr"}, {"ks_c_5601-1989", "euc-kr"}, {"ksc5601", "euc-kr"},
    {"ksc_5601", "euc-kr"}, {"windows-949", "euc-kr"},
    {"csiso2022kr", "replacement"}, {"hz-gb-2312", "replacement"}, {"iso-2022-cn", "replacement"},
    {"iso-2022-cn-ext", "replacement"}, {"iso-2022-kr", "replacement"}, {"replacement", "replacement"},
    {"unicodefffe", "utf-16be"}, {"utf-16be", "utf-16be"},
    {"csunicode", "utf-16le"}, {"iso-10646-ucs-2", "utf-16le"}, {"ucs-2", "utf-16le"}, {"unicode", "utf-16le"},
    {"unicodefeff", "utf-16le"}, {"utf-16", "utf-16le"}, {"utf-16le", "utf-16le"},
    {"x-user-defined", "x-user-defined"},
};

constexpr char32_t kReplacement = 0xFFFD;

bool is_ascii_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

char ascii_lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trim(std::string_view s, bool (*blank)(char) noexcept) noexcept {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool is_ows(char c) noexcept { return c == ' ' || c == '\t'; }

bool is_token_char(char c) noexcept {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
      return true;
    default:
      return false;
  }
}

bool is_token(std::string_view s) noexcept {
  if (s.empty()) return false;
  for (const char c : s)
    if (!is_token_char(c)) return false;
  return true;
}

void put_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-8 with every maximal invalid subpart replaced by one U+FFFD.
std::string decode_utf8(crypto::ByteSpan in) {
  std::string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const std::uint8_t b = in[i];
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    std::size_t need = 0;
    char32_t cp = 0;
    std::uint8_t lower = 0x80, upper = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lower = 0xA0;
      if (b == 0xED) upper = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lower = 0x90;
      if (b == 0xF4) upper = 0x8F;
    } else {
      put_utf8(out, kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (std::size_t k = 0; k < need; ++k, ++j) {
      if (j >= in.size() || in[j] < lower || in[j] > upper) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (in[j] & 0x3F);
      lower = 0x80;
      upper = 0xBF;
    }
    if (!ok) {
      put_utf8(out, kReplacement);
      i = j;  // the maximal subpart is consumed; the offending byte is read again
      continue;
    }
    put_utf8(out, cp);
    i = j;
  }
  return out;
}

std::string decode_utf16(crypto::ByteSpan in, bool big_endian) {
  std::string out;
  out.reserve(in.size());
  std::optional<char32_t> lead;
  std::size_t i = 0;
  for (; i + 1 < in.size(); i += 2) {
    const char32_t unit = big_endian ? static_cast<char32_t>((in[i] << 8) | in[i + 1])
                                     : static_cast<char32_t>((in[i + 1] << 8) | in[i]);
    if (lead) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        put_utf8(out, 0x10000 + ((*lead - 0xD800) << 10) + (unit - 0xDC00));
        lead.reset();
        continue;
      }
      put_utf8(out, kReplacement);
      lead.reset();
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      lead = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      put_utf8(out, kReplacement);
    } else {
      put_utf8(out, unit);
    }
  }
  if (lead || i < in.size()) put_utf8(out, kReplacement);
  return out;
}

// windows-1252 bytes 0x80 to 0x9F (the rest of the table is Latin-1).
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string decode_windows1252(crypto::ByteSpan in) {
  std::string out;
  out.reserve(in.size());
  for (const std::uint8_t b : in) put_utf8(out, (b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : b);
  return out;
}

std::string decode_x_user_defined(crypto::ByteSpan in) {
  std::string out;
  for (const std::uint8_t b : in) put_utf8(out, b < 0x80 ? b : 0xF780 + (b - 0x80));
  return out;
}

// The names under which the system's converter knows the remaining encodings,
// most specific first.
std::array<const char*, 3> iconv_names(std::string_view encoding) noexcept {
  if (encoding == "ibm866") return {"IBM866", "CP866", nullptr};
  if (encoding == "iso-8859-8-i") return {"ISO-8859-8", nullptr, nullptr};
  if (encoding == "macintosh") return {"MACINTOSH", "MAC", nullptr};
  if (encoding == "windows-874") return {"WINDOWS-874", "CP874", "TIS-620"};
  if (encoding == "x-mac-cyrillic") return {"MAC-CYRILLIC", "MACCYRILLIC", nullptr};
  if (encoding == "gbk") return {"GB18030", "GBK", nullptr};
  if (encoding == "big5") return {"BIG5-HKSCS", "BIG5", nullptr};
  if (encoding == "shift_jis") return {"WINDOWS-31J", "CP932", "SHIFT_JIS"};
  if (encoding == "euc-kr") return {"CP949", "UHC", "EUC-KR"};
  if (encoding.starts_with("windows-125")) {
    static constexpr const char* kCp[] = {"CP1250", "CP1251", "CP1252", "CP1253", "CP1254",
                                          "CP1255", "CP1256", "CP1257", "CP1258"};
    return {kCp[encoding.back() - '0'], nullptr, nullptr};
  }
  static thread_local std::string upper;
  upper.clear();
  for (const char c : encoding) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return {upper.c_str(), nullptr, nullptr};
}

// Through iconv; a sequence it refuses becomes U+FFFD and decoding goes on at
// the next byte. Falls back to UTF-8 when the system lacks the encoding.
std::string decode_iconv(crypto::ByteSpan in, std::string_view encoding) {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  for (const char* name : iconv_names(encoding)) {
    if (name == nullptr) break;
    cd = iconv_open("UTF-8", name);
    if (cd != reinterpret_cast<iconv_t>(-1)) break;
  }
  if (cd == reinterpret_cast<iconv_t>(-1)) return decode_utf8(in);
  std::string out;
  char buf[1024];
  char* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
  std::size_t src_left = in.size();
  while (src_left > 0) {
    char* dst = buf;
    std::size_t dst_left = sizeof buf;
    const std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    put_utf8(out, kReplacement);
    if (errno == EINVAL) break;  // input ends inside a sequence
    ++src;                       // EILSEQ: skip one byte
    --src_left;
  }
  char* dst = buf;
  std::size_t dst_left = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dst_left);  // shift back to the initial state
  out.append(buf, static_cast<std::size_t>(dst - buf));
  iconv_close(cd);
  return out;
}

}  // namespace

std::optional<std::string_view> encoding_for_label(std::string_view label) noexcept {
  label = trim(label, is_ascii_blank);
  for (const Label& l : kLabels) {
    if (l.label.size() != label.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < label.size() && same; ++i) same = ascii_lower(label[i]) == l.label[i];
    if (same) return l.encoding;
  }
  return std::nullopt;
}

std::optional<std::string_view> content_type_encoding(std::optional<std::string_view> content_type) {
  if (!content_type) return std::nullopt;
  for (const char c : *content_type)
    if (c < 0x20 || c > 0x7E) {
      if (c != '\t') return std::nullopt;
    }
  std::string_view rest = trim(*content_type, is_ows);
  // type "/" subtype
  const auto slash = rest.find('/');
  if (slash == std::string_view::npos || !is_token(rest.substr(0, slash))) return std::nullopt;
  rest.remove_prefix(slash + 1);
  const auto semi = rest.find(';');
  if (!is_token(trim(rest.substr(0, semi), is_ows))) return std::nullopt;
  if (semi == std::string_view::npos) return std::nullopt;
  rest.remove_prefix(semi + 1);
  std::optional<std::string> charset;
  // *( ";" name "=" ( token / quoted-string ) ), blanks around the separators
  while (true) {
    rest = trim(rest, is_ows);
    if (rest.empty()) break;
    const auto eq = rest.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view name = rest.substr(0, eq);
    if (!is_token(name)) return std::nullopt;
    rest.remove_prefix(eq + 1);
    std::string value;
    if (!rest.empty() && rest.front() == '"') {
      std::size_t i = 1;
      bool closed = false;
      for (; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) {
          value += rest[++i];
        } else if (rest[i] == '"') {
          closed = true;
          break;
        } else {
          value += rest[i];
        }
      }
      if (!closed) return std::nullopt;
      rest.remove_prefix(i + 1);
    } else {
      const auto end = rest.find(';');
      value = std::string(trim(rest.substr(0, end), is_ows));
      if (!is_token(value)) return std::nullopt;
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    bool is_charset = name.size() == 7;
    for (std::size_t i = 0; i < name.size() && is_charset; ++i) is_charset = ascii_lower(name[i]) == "charset"[i];
    if (is_charset && !charset) charset = std::move(value);
    rest = trim(rest, is_ows);
    if (rest.empty()) break;
    if (rest.front() != ';') return std::nullopt;
    rest.remove_prefix(1);
  }
  if (!charset) return std::nullopt;
  return encoding_for_label(*charset);
}

std::string decode_text(crypto::ByteSpan body, std::string_view encoding) {
  if (body.size() >= 3 && body[0] == 0xEF && body[1] == 0xBB && body[2] == 0xBF) return decode_utf8(body.subspan(3));
  if (body.size() >= 2 && body[0] == 0xFF && body[1] == 0xFE) return decode_utf16(body.subspan(2), false);
  if (body.size() >= 2 && body[0] == 0xFE && body[1] == 0xFF) return decode_utf16(body.subspan(2), true);
  if (encoding == "utf-8") return decode_utf8(body);
  if (encoding == "utf-16le") return decode_utf16(body, false);
  if (encoding == "utf-16be") return decode_utf16(body, true);
  if (encoding == "windows-1252") return decode_windows1252(body);
  if (encoding == "x-user-defined") return decode_x_user_defined(body);
  if (encoding == "replacement") {
    std::string out;
    if (!body.empty()) put_utf8(out, kReplacement);
    return out;
  }
  return decode_iconv(body, encoding);
}

std::string decode_body(crypto::ByteSpan body, std::optional<std::string_view> content_type) {
  return decode_text(body, content_type_encoding(content_type).value_or("utf-8"));
}

}  // namespace velto::server_tools
