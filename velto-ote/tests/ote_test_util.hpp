// Shared helpers of the OT-extension tests: the reference values generated
// once by testdata/gen_ote_vectors.py, and base-OT batches built directly
// (sender keys, and the receiver's key for a choice bit).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/bytes.hpp"
#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"
#include "crypto/secret.hpp"
#include "velto-ote/pprf.hpp"

namespace velto::ote::test_util {

inline const std::map<std::string, crypto::Bytes>& vectors() {
  static const std::map<std::string, crypto::Bytes> v = [] {
    std::map<std::string, crypto::Bytes> out;
    std::ifstream in(std::string(VELTO_TESTDATA_DIR) + "/ote_vectors.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string name;
      std::string hex;
      fields >> name >> hex;
      auto bytes = crypto::hex_decode(hex);
      if (!bytes) throw std::runtime_error("bad hex in test vectors: " + name);
      out.emplace(name, std::move(*bytes));
    }
    return out;
  }();
  return v;
}

inline const crypto::Bytes& vec(const std::string& name) {
  const auto it = vectors().find(name);
  if (it == vectors().end()) throw std::runtime_error("missing test vector " + name);
  return it->second;
}

template <std::size_t N>
crypto::ByteArray<N> arr(const std::string& name) {
  const crypto::Bytes& b = vec(name);
  if (b.size() != N) throw std::runtime_error("test vector of the wrong size: " + name);
  crypto::ByteArray<N> out;
  std::copy(b.begin(), b.end(), out.begin());
  return out;
}

// One base-OT batch as both sides end it: the sender's records K_i0 || K_i1
// and the receiver's K_i || c_i.
struct BaseOtBatch {
  crypto::SecretBytes sender;
  crypto::SecretBytes receiver;
  crypto::ByteArray<32> key;

  std::uint8_t choice(std::size_t i) const { return receiver.data()[33 * i + 32]; }
};

// Random sender keys from a generator seeded with `seed`; the receiver's
// choice bit of OT i is choices[i].
inline BaseOtBatch make_batch(std::uint8_t seed, const std::array<std::uint8_t, kBaseOtCount>& choices) {
  crypto::ByteArray<32> s{};
  s[0] = seed;
  crypto::ChaCha20Rng rng(s);
  BaseOtBatch b{crypto::SecretBytes(64 * kBaseOtCount), crypto::SecretBytes(33 * kBaseOtCount), {}};
  rng.fill_bytes(b.sender.mut_span());
  for (std::size_t i = 0; i < kBaseOtCount; ++i) {
    std::copy_n(b.sender.data() + 64 * i + 32 * choices[i], 32, b.receiver.data() + 33 * i);
    b.receiver.data()[33 * i + 32] = choices[i];
  }
  rng.fill_bytes(b.key);
  return b;
}

inline BaseOtBatch make_batch(std::uint8_t seed) {
  crypto::ByteArray<32> s{};
  s[0] = static_cast<std::uint8_t>(seed ^ 0x5A);
  crypto::ChaCha20Rng rng(s);
  std::array<std::uint8_t, kBaseOtCount> choices;
  for (auto& c : choices) c = static_cast<std::uint8_t>(rng.next_u32() >> 31);
  return make_batch(seed, choices);
}

// The batch of the reference vectors.
inline BaseOtBatch reference_batch() {
  return BaseOtBatch{crypto::SecretBytes(vec("base_ot_sender")), crypto::SecretBytes(vec("base_ot_receiver")),
                     arr<32>("batch_key")};
}

// Both sides' set-up from one batch.
struct PprfPair {
  FullPprfTrees full;
  PprfSetupMessage message;
  PuncturedPprfTrees punctured;
};

inline PprfPair make_pair(const BaseOtBatch& b) {
  FullPprfSetup setup = build_full_pprf_trees(b.sender.span(), b.key);
  PuncturedPprfTrees punctured = build_punctured_pprf_trees(b.receiver.span(), b.key, setup.message);
  return PprfPair{std::move(setup.trees), std::move(setup.message), std::move(punctured)};
}

inline crypto::Bytes to_bytes(crypto::ByteSpan s) { return crypto::Bytes(s.begin(), s.end()); }

}  // namespace velto::ote::test_util
