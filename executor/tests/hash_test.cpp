// velto_sha256 and velto_keccak256 through the C interface, against published
// digests, and their stops on a broken precondition.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/bindings/velto.h"

namespace {

using HashFn = void (*)(const uint8_t*, uint64_t, uint8_t*);

std::string digest_hex(HashFn fn, const std::string& input) {
  std::array<std::uint8_t, 32> out{};
  fn(reinterpret_cast<const uint8_t*>(input.data()), input.size(), out.data());
  return velto::crypto::hex_encode(out);
}

struct Vector {
  const char* name;
  HashFn fn;
  std::string input;
  const char* expected;
};

// SHA-256: FIPS 180-4 examples (empty, "abc", the 448-bit two-block message)
// and the 64/65-byte block boundary. Keccak-256 (padding byte 0x01): the
// empty and "abc" values are the published Keccak-256 answers; the 135, 136,
// 137 and 272-byte inputs (the letter a repeated) were computed once with
// pycryptodome's Crypto.Hash.keccak (digest_bits=256).
const std::vector<Vector>& vectors() {
  static const std::vector<Vector> v = {
      {"sha256 empty", velto_sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"sha256 abc", velto_sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"sha256 448 bits", velto_sha256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"sha256 64 a", velto_sha256, std::string(64, 'a'),
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {"sha256 65 a", velto_sha256, std::string(65, 'a'),
       "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {"keccak256 empty", velto_keccak256, "", "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470"},
      {"keccak256 abc", velto_keccak256, "abc", "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45"},
      {"keccak256 135 a", velto_keccak256, std::string(135, 'a'),
       "34367dc248bbd832f4e3e69dfaac2f92638bd0bbd18f2912ba4ef454919cf446"},
      {"keccak256 136 a", velto_keccak256, std::string(136, 'a'),
       "a6c4d403279fe3e0af03729caada8374b5ca54d8065329a3ebcaeb4b60aa386e"},
      {"keccak256 137 a", velto_keccak256, std::string(137, 'a'),
       "d869f639c7046b4929fc92a4d988a8b22c55fbadb802c0c66ebcd484f1915f39"},
      {"keccak256 272 a", velto_keccak256, std::string(272, 'a'),
       "cf7fcd4f705ee749930d19ca84561a9bf62516bd90a471545fa2f49fdc7e63c8"},
  };
  return v;
}

TEST(LibraryHash, PublishedDigests) {
  for (const auto& v : vectors()) EXPECT_EQ(digest_hex(v.fn, v.input), v.expected) << v.name;
}

TEST(LibraryHash, EmptyInputWithNullOrAnyPointer) {
  for (const auto& v : vectors()) {
    if (!v.input.empty()) continue;
    std::array<std::uint8_t, 32> from_null{};
    std::array<std::uint8_t, 32> from_pointer{};
    const std::uint8_t byte = 0x5a;
    v.fn(nullptr, 0, from_null.data());
    v.fn(&byte, 0, from_pointer.data());
    EXPECT_EQ(velto::crypto::hex_encode(from_null), v.expected) << v.name;
    EXPECT_EQ(from_pointer, from_null) << v.name;
  }
}

// The digest is written only after the whole input was read, so hashing a
// buffer into itself gives the digest of its old contents.
TEST(LibraryHash, OutputMayOverlapInput) {
  for (const HashFn fn : {HashFn(velto_sha256), HashFn(velto_keccak256)}) {
    std::array<std::uint8_t, 32> buf{};
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<std::uint8_t>(3 * i + 1);
    std::array<std::uint8_t, 32> expected{};
    const auto copy = buf;
    fn(copy.data(), copy.size(), expected.data());
    fn(buf.data(), buf.size(), buf.data());
    EXPECT_EQ(buf, expected);
  }
}

TEST(LibraryHashDeathTest, BrokenPreconditionsStopWithTheirMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::array<std::uint8_t, 32> out{};
  const std::uint8_t byte = 1;
  for (const HashFn fn : {HashFn(velto_sha256), HashFn(velto_keccak256)}) {
    EXPECT_DEATH(fn(nullptr, 3, out.data()), "ptr is null but len is not 0");
    EXPECT_DEATH(fn(&byte, 1, nullptr), "hash32 is null");
    // Both broken: the input is checked first.
    EXPECT_DEATH(fn(nullptr, 1, nullptr), "ptr is null but len is not 0");
  }
}

}  // namespace
