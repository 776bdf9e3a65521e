#include "velto-mpc/schemes/exportable_ed25519.hpp"

#include <cstdio>

#include "velto-mpc/ffi/conversions.hpp"

namespace velto::mpc::exportable {

namespace {

// The text as it is when it is UTF-8; otherwise every byte from 0x80 on as
// \xNN, so that no library text can make the class fail to raise.
std::string shown(std::string bytes) {
  if (is_utf8(bytes)) return bytes;
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
    out += escaped;
  }
  return out;
}

std::string copy(ConstStr s) {
  if (s.ptr == nullptr || s.len == 0) return {};
  return std::string(reinterpret_cast<const char*>(s.ptr), s.len);
}

Outcome<std::string> read_share(std::string_view what, ResultFFI (*fn)(ConstStr, HeapString*),
                                const std::string& secret_share) {
  HeapString out{nullptr, 0};
  const ResultFFI r = fn(const_str(secret_share), &out);
  if (r.code != 0) return std::unexpected(std::string(what) + " failed: " + library_error_text(r));
  if (r.message.ptr != nullptr) velto_dealloc_heap_string(r.message.ptr, r.message.len);
  std::string text = copy(ConstStr{out.ptr, out.len});
  velto_dealloc_heap_string(out.ptr, out.len);
  if (!is_utf8(text)) return std::unexpected(std::string(what) + " returned a text that is not UTF-8");
  return text;
}

}  // namespace

std::string library_error_text(ResultFFI result) {
  std::string text = "MPC error " + std::to_string(result.code);
  if (result.message.ptr != nullptr && result.message.len != 0) {
    text += ": " + shown(std::string(reinterpret_cast<const char*>(result.message.ptr), result.message.len));
  }
  velto_dealloc_heap_string(result.message.ptr, result.message.len);
  return text;
}

namespace detail {
bool all_utf8(const std::string& s) { return is_utf8(s); }
bool all_utf8(const DoubleOutput& p) { return is_utf8(p.first) && is_utf8(p.second); }
}  // namespace detail

Outcome<std::vector<std::uint8_t>> decode_hex(std::string_view what, std::string_view text) {
  const std::string prefix = std::string(what) + " hex decode: ";
  if (text.size() % 2 != 0) return std::unexpected(prefix + "Odd number of digits");
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    for (std::size_t k = i; k < i + 2; ++k) {
      if (nibble(text[k]) < 0) {
        return std::unexpected(prefix + "Invalid character '" + shown(std::string(1, text[k])) + "' at position " +
                               std::to_string(k));
      }
    }
    out.push_back(static_cast<std::uint8_t>(nibble(text[i]) * 16 + nibble(text[i + 1])));
  }
  return out;
}

Outcome<std::string> get_pubkey(const std::string& secret_share) {
  return read_share("get_pubkey", &velto_exportable_ed25519_get_pubkey, secret_share);
}

Outcome<std::string> get_export_id(const std::string& secret_share) {
  return read_share("export_id", &velto_exportable_ed25519_get_export_id, secret_share);
}

}  // namespace velto::mpc::exportable

using velto::mpc::DoubleOutput;
using velto::mpc::exportable::Delivered;
using velto::mpc::exportable::LibraryFailure;

extern "C" void velto_exportable_single_cb(void* context, ConstStr output, ResultFFI result) {
  std::unique_ptr<velto::mpc::exportable::SingleCell> cell(static_cast<velto::mpc::exportable::SingleCell*>(context));
  if (result.code != 0) {
    (void)cell->tx.send(Delivered<std::string>(LibraryFailure{velto::mpc::exportable::library_error_text(result)}));
    return;
  }
  if (result.message.ptr != nullptr) velto_dealloc_heap_string(result.message.ptr, result.message.len);
  // A closed channel (the operation was dropped) just drops the value.
  (void)cell->tx.send(Delivered<std::string>(velto::mpc::exportable::copy(output)));
}

extern "C" void velto_exportable_double_cb(void* context, ConstStr first, ConstStr second, ResultFFI result) {
  std::unique_ptr<velto::mpc::exportable::DoubleCell> cell(static_cast<velto::mpc::exportable::DoubleCell*>(context));
  if (result.code != 0) {
    (void)cell->tx.send(Delivered<DoubleOutput>(LibraryFailure{velto::mpc::exportable::library_error_text(result)}));
    return;
  }
  if (result.message.ptr != nullptr) velto_dealloc_heap_string(result.message.ptr, result.message.len);
  (void)cell->tx.send(Delivered<DoubleOutput>(
      DoubleOutput(velto::mpc::exportable::copy(first), velto::mpc::exportable::copy(second))));
}
