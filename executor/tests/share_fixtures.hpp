// The ECDSA share records of testdata/share_ecdsa_records.txt (assembled
// byte by byte from the record layouts by share_ecdsa_gen.py, with
// independent curve, X25519, BLAKE3 and BIP32 code) and small helpers for
// building corrupted records from them.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"

namespace velto::executor::test {

struct ShareFixture {
  std::map<std::string, std::string> fields;
  // "path secret pubkey chain_code depth fingerprint child_number" lines.
  std::vector<std::string> derives;

  const std::string& at(const std::string& key) const {
    auto it = fields.find(key);
    if (it == fields.end()) throw std::runtime_error("fixture field missing: " + key);
    return it->second;
  }
  bool has(const std::string& key) const { return fields.count(key) != 0; }
  const std::string& name() const { return at("name"); }
  int num(const std::string& key) const { return std::stoi(at(key)); }
};

// The blocks of a record file in the test data folder: "key value" lines,
// blocks apart by empty lines, "#" comments.
inline std::vector<ShareFixture> load_share_fixtures(const std::string& file = "share_ecdsa_records.txt") {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/" + file);
  if (!in) throw std::runtime_error("cannot open " + file);
  std::vector<ShareFixture> out;
  std::string line;
  bool in_block = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) {
      in_block = false;
      continue;
    }
    if (!in_block) {
      out.emplace_back();
      in_block = true;
    }
    const auto space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "derive") {
      out.back().derives.push_back(value);
    } else {
      out.back().fields[key] = value;
    }
  }
  return out;
}

inline const std::vector<ShareFixture>& share_fixtures() {
  static const std::vector<ShareFixture> all = load_share_fixtures();
  return all;
}

inline const ShareFixture& share_fixture(const std::string& name) {
  for (const auto& f : share_fixtures()) {
    if (f.name() == name) return f;
  }
  throw std::runtime_error("no share fixture " + name);
}

inline crypto::Bytes unhex(const std::string& text) {
  auto b = crypto::hex_decode(text);
  if (!b) throw std::runtime_error("bad hex in test: " + text);
  return *b;
}

inline std::string hex(crypto::ByteSpan b) { return crypto::hex_encode(b); }

// The record with `replacement` written over the bytes from `offset` on.
inline std::string patch(const std::string& record_hex, std::size_t offset, const std::string& replacement_hex) {
  std::string out = record_hex;
  out.replace(2 * offset, replacement_hex.size(), replacement_hex);
  return out;
}

// The record with `inserted` placed before the byte at `offset`, and
// `removed` bytes taken out there first.
inline std::string splice(const std::string& record_hex, std::size_t offset, std::size_t removed,
                          const std::string& inserted_hex) {
  std::string out = record_hex;
  out.replace(2 * offset, 2 * removed, inserted_hex);
  return out;
}

// "1:aabb,3:ccdd" as id -> hex.
inline std::map<int, std::string> parse_id_list(const std::string& text) {
  std::map<int, std::string> out;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    if (item.empty()) continue;
    const auto colon = item.find(':');
    out[std::stoi(item.substr(0, colon))] = item.substr(colon + 1);
  }
  return out;
}

}  // namespace velto::executor::test
