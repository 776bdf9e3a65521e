#include "crypto/blake3.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/error.hpp"

namespace velto::crypto {
namespace {

Bytes from_hex(std::string_view hex) {
  const auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
  };
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return out;
}

Bytes to_bytes(ByteSpan s) { return Bytes(s.begin(), s.end()); }

// The official vectors' input: byte i is i mod 251.
Bytes vector_input(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i % 251);
  return out;
}

// ---------------------------------------------------------------- vectors

struct Vectors {
  ByteArray<32> key{};
  std::string context;
  struct Case {
    std::size_t input_len = 0;
    Bytes hash, keyed_hash, derive_key;
  };
  std::vector<Case> cases;
};

// The vector file is flat enough for a line scan: every field we need is
// on its own line as "name": value.
Vectors load_vectors() {
  std::ifstream in(VELTO_TESTDATA_DIR "/blake3_vectors.json");
  EXPECT_TRUE(in.good()) << "missing blake3_vectors.json";
  Vectors v;
  std::string line;
  while (std::getline(in, line)) {
    const auto q1 = line.find('"');
    if (q1 == std::string::npos) continue;
    const auto q2 = line.find('"', q1 + 1);
    const auto colon = line.find(':', q2);
    if (q2 == std::string::npos || colon == std::string::npos) continue;
    const std::string name = line.substr(q1 + 1, q2 - q1 - 1);
    std::string value = line.substr(colon + 1);
    const auto vq1 = value.find('"');
    if (vq1 != std::string::npos) {
      value = value.substr(vq1 + 1, value.find('"', vq1 + 1) - vq1 - 1);
    }
    if (name == "key") {
      EXPECT_EQ(value.size(), 32u);
      std::copy(value.begin(), value.end(), v.key.begin());
    } else if (name == "context_string") {
      v.context = value;
    } else if (name == "input_len") {
      v.cases.emplace_back();
      v.cases.back().input_len = std::stoul(value);
    } else if (name == "hash") {
      v.cases.back().hash = from_hex(value);
    } else if (name == "keyed_hash") {
      v.cases.back().keyed_hash = from_hex(value);
    } else if (name == "derive_key") {
      v.cases.back().derive_key = from_hex(value);
    }
  }
  return v;
}

class Blake3Vectors : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { vectors_ = new Vectors(load_vectors()); }
  static void TearDownTestSuite() {
    delete vectors_;
    vectors_ = nullptr;
  }

  struct Mode {
    const char* name;
    Blake3 hasher;
    const Bytes Vectors::Case::*expected;
  };
  static std::vector<Mode> modes() {
    return {{"hash", Blake3::hasher(), &Vectors::Case::hash},
            {"keyed_hash", Blake3::keyed(vectors_->key), &Vectors::Case::keyed_hash},
            {"derive_key", Blake3::derive_key(vectors_->context), &Vectors::Case::derive_key}};
  }

  static Vectors* vectors_;
};

Vectors* Blake3Vectors::vectors_ = nullptr;

TEST_F(Blake3Vectors, FileCoversSingleChunkAndManyChunkInputs) {
  ASSERT_EQ(vectors_->cases.size(), 35u);
  EXPECT_EQ(vectors_->cases.front().input_len, 0u);
  EXPECT_EQ(vectors_->cases.back().input_len, 102400u);
  for (const auto& c : vectors_->cases) EXPECT_EQ(c.hash.size(), 131u);
}

TEST_F(Blake3Vectors, DigestAndExtendedOutputOfEveryMode) {
  for (const auto& c : vectors_->cases) {
    const Bytes input = vector_input(c.input_len);
    for (const auto& mode : modes()) {
      SCOPED_TRACE(::testing::Message() << mode.name << " input_len " << c.input_len);
      const Bytes& expected = c.*mode.expected;
      Blake3 h = mode.hasher;
      // Fed in two uneven halves: the wrapper must pass every byte through.
      const ByteSpan in(input);
      h.update(in.first(in.size() / 3)).update(in.subspan(in.size() / 3));
      EXPECT_EQ(to_bytes(h.finalize()), Bytes(expected.begin(), expected.begin() + 32));

      Blake3Reader reader = h.finalize_xof();
      Bytes xof(expected.size());
      reader.fill(xof);
      EXPECT_EQ(xof, expected);
      EXPECT_EQ(reader.position(), expected.size());
    }
    const Bytes derived(c.derive_key.begin(), c.derive_key.begin() + 32);
    EXPECT_EQ(to_bytes(blake3_derive_key(vectors_->context, input)), derived);
    const Bytes keyed(c.keyed_hash.begin(), c.keyed_hash.begin() + 32);
    EXPECT_EQ(to_bytes(blake3_keyed(vectors_->key, input)), keyed);
  }
}

// The generators read the output in 16-, 64-, 96- and 1,024-byte pieces and
// sometimes from an offset; every piece must continue where the last ended.
TEST_F(Blake3Vectors, ExtendedOutputReadInPiecesAndAfterSeeks) {
  const std::vector<std::size_t> pieces = {1, 16, 5, 64, 3, 96, 7};
  const std::uint64_t offsets[] = {0, 1, 31, 63, 64, 65, 100, 128, 130};
  for (const auto& c : vectors_->cases) {
    const Bytes input = vector_input(c.input_len);
    for (const auto& mode : modes()) {
      SCOPED_TRACE(::testing::Message() << mode.name << " input_len " << c.input_len);
      const Bytes& expected = c.*mode.expected;
      Blake3 h = mode.hasher;
      h.update(input);

      Blake3Reader reader = h.finalize_xof();
      Bytes got;
      for (std::size_t k = 0; got.size() < expected.size(); ++k) {
        Bytes piece(std::min(pieces[k % pieces.size()], expected.size() - got.size()));
        reader.fill(piece);
        got.insert(got.end(), piece.begin(), piece.end());
      }
      EXPECT_EQ(got, expected);

      for (const std::uint64_t offset : offsets) {
        reader.seek(offset);
        EXPECT_EQ(reader.position(), offset);
        Bytes rest(expected.size() - offset);
        reader.fill(rest);
        EXPECT_EQ(rest, Bytes(expected.begin() + static_cast<std::ptrdiff_t>(offset),
                              expected.end()))
            << "from offset " << offset;
      }
    }
  }
}

// Far beyond the published 131 bytes, for inputs whose root is a chunk or a
// parent over a stack of subtrees, against the C library's own seek.
TEST(Blake3Reader, AgreesWithLibrarySeekFarIntoTheStream) {
  const std::size_t lengths[] = {0, 65, 1024, 1025, 2048, 3073, 5121, 31744, 102400};
  const std::uint64_t offsets[] = {64 * 1000 + 7, 1ull << 40, (1ull << 38) * 64 - 3};
  for (const std::size_t len : lengths) {
    const Bytes input = vector_input(len);
    blake3_hasher ref;
    blake3_hasher_init_derive_key(&ref, "seek check");
    blake3_hasher_update(&ref, input.data(), input.size());
    Blake3 h = Blake3::derive_key("seek check");
    h.update(input);
    Blake3Reader reader = h.finalize_xof();
    for (const std::uint64_t offset : offsets) {
      Bytes expected(200), got(200);
      blake3_hasher_finalize_seek(&ref, offset, expected.data(), expected.size());
      reader.seek(offset);
      reader.fill(got);
      EXPECT_EQ(got, expected) << "input " << len << " offset " << offset;
    }
  }
}

TEST(Blake3, CopiesContinueIndependently) {
  const Bytes prefix = vector_input(1500);  // past one chunk: the copy carries the stack
  const Bytes a = vector_input(10), b = vector_input(2000);
  const auto joined = [&](const Bytes& tail) {
    Bytes all = prefix;
    all.insert(all.end(), tail.begin(), tail.end());
    return Blake3::hasher().update(all).finalize();
  };
  Blake3 prepared = Blake3::hasher();
  prepared.update(prefix);
  Blake3 first = prepared;
  Blake3 second = prepared;
  EXPECT_EQ(first.update(a).finalize(), joined(a));
  EXPECT_EQ(second.update(b).finalize(), joined(b));
  EXPECT_EQ(prepared.finalize(), Blake3::hasher().update(prefix).finalize());

  // A reader copied mid-stream resumes at the same position.
  Blake3Reader r1 = first.finalize_xof();
  Bytes skip(37);
  r1.fill(skip);
  Blake3Reader r2 = r1;
  Bytes x(100), y(100);
  r1.fill(x);
  r2.fill(y);
  EXPECT_EQ(x, y);
  EXPECT_EQ(r2.position(), 137u);
}

TEST(Blake3, ResetKeepsModeAndKey) {
  ByteArray<32> key{};
  key[0] = 7;
  Blake3 h = Blake3::keyed(key);
  h.update(vector_input(3000));
  h.reset().update(vector_input(16));
  EXPECT_EQ(h.finalize(), blake3_keyed(key, vector_input(16)));

  Blake3 d = Blake3::derive_key("ctx");
  d.update(vector_input(5));
  d.reset();
  EXPECT_EQ(d.finalize(), blake3_derive_key("ctx", {}));
}

// ---------------------------------------------------------------- single block

TEST_F(Blake3Vectors, KeyedSingleBlockIsTheKeyedExtendedOutput) {
  // Official vectors: counter 0 and 1 are output bytes 0..63 and 64..127.
  for (const auto& c : vectors_->cases) {
    if (c.input_len > 64) continue;
    SCOPED_TRACE(::testing::Message() << "input_len " << c.input_len);
    const Bytes input = vector_input(c.input_len);
    const Bytes& expected = c.keyed_hash;
    EXPECT_EQ(to_bytes(blake3_keyed_single_block(vectors_->key, input, 0)),
              Bytes(expected.begin(), expected.begin() + 64));
    EXPECT_EQ(to_bytes(blake3_keyed_single_block(vectors_->key, input, 1)),
              Bytes(expected.begin() + 64, expected.begin() + 128));
  }
}

TEST(Blake3KeyedSingleBlock, CounterSelectsOutputBlockOfTheKeyedHash) {
  const ByteArray<32> zero_key{};  // the row hash's key
  ByteArray<32> other_key{};
  other_key[31] = 0x80;
  const std::uint64_t counters[] = {0, 1, 2, 1023, 1024, 5000, (1ull << 32) + 5};
  for (const auto& key : {zero_key, other_key}) {
    for (const std::size_t len : {0u, 1u, 16u, 63u, 64u}) {
      Bytes input(len);
      for (std::size_t i = 0; i < len; ++i) input[i] = static_cast<std::uint8_t>(5 * i + 1);
      blake3_hasher ref;
      blake3_hasher_init_keyed(&ref, key.data());
      blake3_hasher_update(&ref, input.data(), input.size());
      for (const std::uint64_t c : counters) {
        ByteArray<64> expected{};
        blake3_hasher_finalize_seek(&ref, 64 * c, expected.data(), expected.size());
        EXPECT_EQ(blake3_keyed_single_block(key, input, c), expected)
            << "length " << len << " counter " << c;
      }
      // Counter 0 starts with the ordinary keyed hash.
      const auto block0 = blake3_keyed_single_block(key, input, 0);
      const auto digest = blake3_keyed(key, input);
      EXPECT_TRUE(std::equal(digest.begin(), digest.end(), block0.begin()));
    }
  }
}

TEST(Blake3KeyedSingleBlock, MoreThanOneBlockIsABug) {
  const ByteArray<32> key{};
  EXPECT_THROW(blake3_keyed_single_block(key, vector_input(65), 0), Panic);
}

}  // namespace
}  // namespace velto::crypto
