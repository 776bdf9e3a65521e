// Helpers shared by the base-OT tests: hex, test-data files and a generator
// that replays fixed bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"

namespace velto::ot::testing {

inline crypto::Bytes hex(const std::string& text) {
  if (text == "-") return {};
  auto b = crypto::hex_decode(text);
  EXPECT_TRUE(b.has_value()) << text;
  return b ? *b : crypto::Bytes{};
}

template <std::size_t N>
crypto::ByteArray<N> hex_array(const std::string& text) {
  const crypto::Bytes b = hex(text);
  EXPECT_EQ(b.size(), N) << text;
  crypto::ByteArray<N> out{};
  std::copy_n(b.begin(), std::min(N, b.size()), out.begin());
  return out;
}

inline std::string to_hex(crypto::ByteSpan b) { return crypto::hex_encode(b); }

// The lines of a test-data file split into words; comments (#) and blank
// lines are skipped.
inline std::vector<std::vector<std::string>> read_rows(const std::string& file) {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::vector<std::string> row;
    for (std::string w; words >> w;) row.push_back(w);
    rows.push_back(std::move(row));
  }
  return rows;
}

// name=hex lines.
inline std::map<std::string, crypto::Bytes> read_named(const std::string& file) {
  std::map<std::string, crypto::Bytes> out;
  for (const auto& row : read_rows(file)) {
    const std::size_t eq = row.at(0).find('=');
    out[row[0].substr(0, eq)] = hex(row[0].substr(eq + 1));
  }
  return out;
}

// A generator that hands out given bytes in order and fails the test when
// asked for more.
class ScriptedRng {
 public:
  explicit ScriptedRng(crypto::Bytes data) : data_(std::move(data)) {}
  void fill_bytes(crypto::MutByteSpan out) {
    ASSERT_LE(pos_ + out.size(), data_.size()) << "generator drained";
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), out.size(), out.begin());
    pos_ += out.size();
  }
  std::size_t consumed() const noexcept { return pos_; }

 private:
  crypto::Bytes data_;
  std::size_t pos_ = 0;
};

}  // namespace velto::ot::testing
