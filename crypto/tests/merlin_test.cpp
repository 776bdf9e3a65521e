#include "crypto/merlin.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/ristretto255.hpp"

namespace velto::crypto {
namespace {

Bytes unhex(std::string_view text) {
  auto bytes = hex_decode(text);
  EXPECT_TRUE(bytes.has_value()) << text;
  return bytes.value_or(Bytes{});
}

// The two published Merlin v1.0 transcript vectors.
TEST(MerlinTranscript, SimpleVector) {
  MerlinTranscript t("test protocol");
  t.append_message("some label", as_bytes("some data"));
  ByteArray<32> c{};
  t.challenge_bytes("challenge", c);
  EXPECT_EQ(hex_encode(c), "d5a21972d0d5fe320c0d263fac7fffb8145aa640af6e9bca177c03c7efcf0615");
}

TEST(MerlinTranscript, ComplexVectorCrossesTheRateManyTimes) {
  MerlinTranscript t("test protocol");
  t.append_message("step1", as_bytes("some data"));
  const Bytes data(1024, 99);
  ByteArray<32> c{};
  for (int i = 0; i < 32; ++i) {
    t.challenge_bytes("challenge", c);
    t.append_message("bigdata", data);
    t.append_message("challengedata", c);
  }
  EXPECT_EQ(hex_encode(c), "a8c933f54fae76e3f9bea93648c1308e7dfa2152dd51674ff3ca438351cf003c");
}

// The sr25519 signing transcript (context "substrate") rebuilt here from the
// Merlin operations alone, to check oracle signatures whose message ends at
// bytes 164 to 168 of a STROBE block (and one block later). A verifier that
// recomputes the challenge accepts such a signature only if every absorbed
// byte landed where the oracle put it.
ByteArray<64> signing_challenge(ByteSpan pubkey, ByteSpan r, ByteSpan msg) {
  MerlinTranscript t("SigningContext");
  t.append_message("", as_bytes("substrate"));
  t.append_message("sign-bytes", msg);
  t.append_message("proto-name", as_bytes("Schnorr-sig"));
  t.append_message("sign:pk", pubkey);
  t.append_message("sign:R", r);
  ByteArray<64> out{};
  t.challenge_bytes("sign:c", out);
  return out;
}

TEST(MerlinTranscript, OracleSignaturesAtTheBlockBoundaryVerify) {
  std::ifstream in(VELTO_TESTDATA_DIR "/merlin_boundary_sigs.txt");
  ASSERT_TRUE(in) << "missing test data";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::size_t len = 0;
    std::string pk_hex, msg_hex, sig_hex;
    fields >> len >> pk_hex >> msg_hex >> sig_hex;
    const Bytes pk = unhex(pk_hex), msg = unhex(msg_hex), sig = unhex(sig_hex);
    ASSERT_EQ(msg.size(), len);
    ASSERT_EQ(sig.size(), 64u);
    SCOPED_TRACE(len);
    const auto y = RistrettoPoint::from_bytes(pk);
    ASSERT_TRUE(y);
    const ByteSpan r(sig.data(), 32);
    ByteArray<32> s_bytes{};
    std::copy_n(sig.begin() + 32, 32, s_bytes.begin());
    ASSERT_EQ(s_bytes[31] & 0x80, 0x80);  // the sr25519 marker bit
    s_bytes[31] &= 0x7F;
    const auto s = EdScalar::from_canonical(s_bytes);
    ASSERT_TRUE(s);
    const EdScalar k = EdScalar::from_bytes_wide(signing_challenge(pk, r, msg));
    const RistrettoPoint r_check = RistrettoPoint::base_mul(*s) - *y * k;
    EXPECT_EQ(hex_encode(r_check.to_bytes()), hex_encode(r));
    // One flipped message bit moves the challenge.
    Bytes flipped = msg;
    flipped[len - 1] ^= 1;
    const EdScalar k2 = EdScalar::from_bytes_wide(signing_challenge(pk, r, flipped));
    EXPECT_NE(hex_encode((RistrettoPoint::base_mul(*s) - *y * k2).to_bytes()), hex_encode(r));
    ++cases;
  }
  EXPECT_EQ(cases, 14);
}

}  // namespace
}  // namespace velto::crypto
