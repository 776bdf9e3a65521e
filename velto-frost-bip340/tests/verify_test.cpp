// The scheme's own BIP340 verifier against the 19 published BIP340 vectors
// (testdata/bip340-test-vectors.csv, from BIP-0340): every expected result,
// invalid keys, r and s out of range and messages of other lengths included.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "velto-frost-bip340/sign.hpp"
#include "velto-frost-bip340/tests/bip340_test_util.hpp"

namespace velto::bip340::testing {
namespace {

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string field;
  while (std::getline(ss, field, ',')) out.push_back(field);
  return out;
}

TEST(Bip340Verify, PublishedVectors) {
  std::ifstream in(VELTO_TESTDATA_DIR "/bip340-test-vectors.csv");
  ASSERT_TRUE(in.good());
  std::string line;
  std::getline(in, line);  // header
  int count = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> f = split(line);
    ASSERT_GE(f.size(), 7u) << line;
    const crypto::Bytes key = unhex(f[2]);
    const crypto::Bytes message = unhex(f[4]);
    const bool expected = f[6] == "TRUE";
    crypto::ByteArray<32> x{};
    const bool key_has_32_bytes = key.size() == 32;
    if (key_has_32_bytes) std::copy(key.begin(), key.end(), x.begin());
    ASSERT_TRUE(key_has_32_bytes) << "vector " << f[0];
    EXPECT_EQ(bip340_verify(x, message, unhex_array<64>(f[5])), expected) << "vector " << f[0];
    ++count;
  }
  EXPECT_EQ(count, 19);
}

}  // namespace
}  // namespace velto::bip340::testing
