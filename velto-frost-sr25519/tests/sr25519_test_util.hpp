// Helpers of the sr25519 tests: test data files, whole key-generation and
// signing sessions over the in-memory network.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <expected>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/codec.hpp"
#include "velto-frost-ed25519/tests/frost_test_util.hpp"
#include "velto-frost-sr25519/dkg.hpp"
#include "velto-frost-sr25519/sign.hpp"
#include "velto-mpc-infra/async/runtime.hpp"
#include "velto-mpc-infra/tests/executor_test_util.hpp"

namespace velto::frost::sr_testing {

namespace asio = boost::asio;
using frost::testing::hex;
using frost::testing::subsets;
using frost::testing::unhex;
using frost::testing::unhex_array;
using velto::testing::ids_1_to;
using velto::testing::pid;
using velto::testing::run_session;

// The whitespace-separated fields of every line of a test data file that
// is neither empty nor a comment.
inline std::vector<std::vector<std::string>> data_lines(const std::string& name) {
  std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/" + name);
  if (!in) ADD_FAILURE() << "missing test data " << name;
  std::vector<std::vector<std::string>> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    out.push_back(std::move(f));
  }
  return out;
}

// "-" stands for the empty byte string in the data files.
inline crypto::Bytes field_bytes(const std::string& f) { return f == "-" ? crypto::Bytes{} : unhex(f); }

inline crypto::RistrettoPoint rpoint(std::string_view text) {
  auto p = crypto::RistrettoPoint::from_bytes(unhex(text));
  if (!p) ADD_FAILURE() << "not a ristretto255 point: " << text;
  return p.value_or(crypto::RistrettoPoint{});
}

using KeygenResult = std::expected<Sr25519KeyShare, Sr25519KeygenRunError>;
using SignResult = std::expected<crypto::ByteArray<64>, Sr25519SignRunError>;

// A fresh key generation among `ids` with threshold t, one result per party
// in the order of `ids`.
inline std::vector<KeygenResult> run_keygen(async::Runtime& rt, const std::vector<PartyId>& ids, std::uint16_t t) {
  auto outcomes = run_session<KeygenResult>(
      rt, ids, [t](PartyId, ProtocolExecutor root) { return sr25519_keygen_fresh(std::move(root), t); });
  std::vector<KeygenResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

inline std::vector<Sr25519KeyShare> keygen_ok(async::Runtime& rt, const std::vector<PartyId>& ids, std::uint16_t t) {
  std::vector<Sr25519KeyShare> out;
  for (auto& r : run_keygen(rt, ids, t)) {
    if (!r) {
      ADD_FAILURE() << "keygen failed: " << r.error().display();
      continue;
    }
    out.push_back(std::move(*r));
  }
  return out;
}

// Signing among the holders of `shares` (their ids form the session).
inline std::vector<SignResult> run_sign(async::Runtime& rt, const std::vector<Sr25519KeyShare>& shares,
                                        const crypto::Bytes& message) {
  std::vector<PartyId> ids;
  for (const auto& s : shares) ids.push_back(s.own_id);
  auto outcomes = run_session<SignResult>(rt, ids, [&shares, &message](PartyId me, ProtocolExecutor root) {
    std::size_t i = 0;
    while (shares[i].own_id != me) ++i;
    return sr25519_threshold_sign(std::move(root), shares[i], message);
  });
  std::vector<SignResult> out;
  for (auto& o : outcomes) out.push_back(std::move(o.result));
  return out;
}

}  // namespace velto::frost::sr_testing
