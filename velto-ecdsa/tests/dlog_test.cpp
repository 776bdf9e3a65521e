#include "velto-ecdsa/dlog.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "crypto/chacha.hpp"
#include "crypto/codec.hpp"

namespace velto::ecdsa {
namespace {

using crypto::ByteArray;
using crypto::Point;
using crypto::Scalar;

Point point_hex(const std::string& s) {
  const auto b = crypto::hex_decode(s);
  std::optional<Point> p = b ? Point::from_compressed(*b) : std::nullopt;
  if (!p) ADD_FAILURE() << "bad point in test data: " << s;
  return p ? *p : Point();
}

// dlog_challenge.txt: challenges computed with PyPI's blake3 and Python
// integers, including the identity as R and as X and the largest id.
TEST(DlogChallenge, MatchesIndependentComputation) {
  std::ifstream in(VELTO_TESTDATA_DIR "/dlog_challenge.txt");
  ASSERT_TRUE(in);
  int rows = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ++rows;
    std::istringstream row(line);
    std::string tag_hex, r, x, expected;
    unsigned id = 0;
    row >> tag_hex >> id >> r >> x >> expected;
    SCOPED_TRACE(line);
    ByteArray<32> tag{};
    ASSERT_TRUE(crypto::hex_decode_into(tag_hex, tag));
    const Scalar c = dlog_challenge(UcTag(tag), PartyId::unchecked(static_cast<std::uint16_t>(id)), point_hex(r),
                                    point_hex(x));
    EXPECT_EQ(crypto::hex_encode(c.to_bytes()), expected);
  }
  EXPECT_EQ(rows, 8);
}

struct Fixture {
  Scalar secret;
  UcTag tag;
  PartyId prover = PartyId::unchecked(2);
  DlogProof proof;
};

Fixture make_fixture(crypto::ChaCha8Rng& rng) {
  Fixture f;
  f.secret = Scalar::random(rng);
  ByteArray<32> tag;
  rng.fill_bytes(tag);
  f.tag = UcTag(tag);
  f.proof = dlog_prove(f.secret, Scalar::random(rng), f.tag, f.prover);
  return f;
}

TEST(DlogProof, AcceptsAnHonestProof) {
  crypto::ChaCha8Rng rng(ByteArray<32>{11});
  for (int i = 0; i < 8; ++i) {
    const Fixture f = make_fixture(rng);
    EXPECT_EQ(f.proof.public_share, Point::base_mul(f.secret));
    EXPECT_TRUE(dlog_proof_verify(f.proof, f.tag, f.prover));
  }
  // Built by hand from the equations: R = k·G, z = k + c·x.
  const Scalar x = Scalar::random(rng), k = Scalar::random(rng);
  const UcTag tag(ByteArray<32>{1, 2, 3});
  const PartyId id = PartyId::unchecked(65535);
  DlogProof manual{Scalar(), Point::base_mul(k), Point::base_mul(x)};
  manual.response = k + dlog_challenge(tag, id, manual.commitment, manual.public_share) * x;
  EXPECT_TRUE(dlog_proof_verify(manual, tag, id));
}

TEST(DlogProof, RefusesAnyChangedPart) {
  crypto::ChaCha8Rng rng(ByteArray<32>{12});
  const Fixture f = make_fixture(rng);
  ByteArray<32> other_tag = f.tag.bytes();
  other_tag[31] ^= 1;

  struct Case {
    const char* what;
    DlogProof proof;
    UcTag tag;
    PartyId prover;
  };
  DlogProof z = f.proof, r = f.proof, x = f.proof, swapped = f.proof, zero = f.proof;
  z.response += Scalar::one();
  r.commitment += Point::generator();
  x.public_share += Point::generator();
  std::swap(swapped.commitment, swapped.public_share);
  zero.response = Scalar::zero();
  zero.commitment = Point::identity();
  zero.public_share = Point::identity();
  const Case cases[] = {
      {"response", z, f.tag, f.prover},
      {"commitment", r, f.tag, f.prover},
      {"public share", x, f.tag, f.prover},
      {"R and X swapped", swapped, f.tag, f.prover},
      {"another prover's id", f.proof, f.tag, PartyId::unchecked(3)},
      {"another session tag", f.proof, UcTag(other_tag), f.prover},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(dlog_proof_verify(c.proof, c.tag, c.prover));
  }
  // The all-identity record satisfies the equation (0·G = O + c·O): the check
  // is about knowledge of log X, and log O = 0 is known to everyone.
  EXPECT_TRUE(dlog_proof_verify(zero, f.tag, f.prover));
}

}  // namespace
}  // namespace velto::ecdsa
