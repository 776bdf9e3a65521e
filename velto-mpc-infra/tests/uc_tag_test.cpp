#include "velto-mpc-infra/uc_tag.hpp"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "crypto/blake3.hpp"

namespace velto {
namespace {

crypto::ByteArray<32> hex32(std::string_view h) {
  crypto::ByteArray<32> out{};
  for (std::size_t i = 0; i < 32; ++i) out[i] = static_cast<std::uint8_t>(std::stoi(std::string(h.substr(2 * i, 2)), nullptr, 16));
  return out;
}

UcTag counting_parent() {
  crypto::ByteArray<32> b{};
  for (std::size_t i = 0; i < 32; ++i) b[i] = static_cast<std::uint8_t>(i);
  return UcTag(b);
}

constexpr PartyId P1 = PartyId::unchecked(1);
constexpr PartyId P2 = PartyId::unchecked(2);
constexpr PartyId P3 = PartyId::unchecked(3);

// Expected tags computed once with an independent BLAKE3 implementation
// (derive-key under "UC_TAG VELTO v0.1"); `parent` is the bytes 00 01 .. 1F.
TEST(UcTagDerivation, MatchesIndependentBlake3) {
  const UcTag parent = counting_parent();
  const UcTag root = root_uc_tag();
  struct Case {
    std::string what;
    UcTag tag;
    std::string_view expected;
  };
  const std::vector<Case> cases = {
      {"root: 8 zero bytes", root, "ac0e8e6388a545efb330e3a9a0b2b83a57487422b903150a857e743c64203e31"},
      {"child of root", derive_child_uc_tag(root, "ECDSA Presign"),
       "5a2973806fd658fd32bf762bee9b5e25e76c53818e99d43f096086f4739c52e0"},
      {"child", derive_child_uc_tag(parent, "vss"), "dc76bf13c4fe22d6578faaad417cab5f5b4c42b634c019b051f0621cb2a9ffe7"},
      {"child, empty label", derive_child_uc_tag(parent, ""),
       "6877055655487d976d512d3a333abf292bca0aa3248c18c58651e4026c52cf37"},
      {"version child", child_u64_label_uc_tag(parent, kVersionLabel),
       "ac2d26937f15900a005689cf5754226ca7fde8530cfae3423a814e9af3711ec0"},
      {"indexed 3", child_indexed_uc_tag(parent, "vss", P3),
       "439d64db1436e2e957debb52e3a83e6828a20e198f03ce29608b034e2d2afe92"},
      {"indexed 513 (both id bytes)", child_indexed_uc_tag(parent, "vss", PartyId::unchecked(513)),
       "dbd9e7e9b4169a5fed7f34297e5ebf15440f0d0b0fe34d6c4f21b8bd4fa6ebd6"},
      {"label and two ids", child_label_two_ids_uc_tag(parent, "MODULAR INVERSE TO MULT v0.1", P1, P2),
       "b0333706c5d087564f638fdc9e0875385aa8b93b3de8639f5d45f98fb9f1344a"},
      {"pair (1, 2)", child_pair_uc_tag(parent, P1, P2),
       "e359fd56f77184f705095699dd52945e9e172851d4f597844c0235a9f324b8f8"},
      {"pair (2, 1)", child_pair_uc_tag(parent, P2, P1),
       "720d193e64e608d26f7366f48e52720b4425d8d6063a2bd3fd8163d31684dfa2"},
      {"joint tag from J = A5..A5", joint_uc_tag(parent, crypto::ByteArray<32>{
                                                             0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5,
                                                             0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5,
                                                             0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5,
                                                             0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}),
       "ae0a8fd906de825b4889e61fe3bda2ec088c249364b5b8d7fad124b7fe50b132"},
      {"chain of hash domains", derive_child_uc_tag(derive_child_uc_tag(parent, "EKE"), "ID"),
       "f77daf18b11e569bf9d974a586e9072189da11bcdeb6c1115f7d9c8c52a95f17"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.tag.bytes(), hex32(c.expected));
  }
}

TEST(UcTagDerivation, VersionChildHashesExactly53Bytes) {
  const UcTag parent = counting_parent();
  crypto::Bytes input(parent.bytes().begin(), parent.bytes().end());
  const std::uint8_t len[8] = {0x0D, 0, 0, 0, 0, 0, 0, 0};
  input.insert(input.end(), std::begin(len), std::end(len));
  const auto label = crypto::as_bytes("Velto Version");
  input.insert(input.end(), label.begin(), label.end());
  ASSERT_EQ(input.size(), 53u);
  EXPECT_EQ(child_u64_label_uc_tag(parent, kVersionLabel).bytes(),
            crypto::blake3_derive_key(kUcTagContext, input));
  // The one-byte length form of the plain child is a different tag.
  EXPECT_NE(child_u64_label_uc_tag(parent, kVersionLabel), derive_child_uc_tag(parent, kVersionLabel));
}

TEST(UcTagDerivation, DistinctInputsGiveDistinctTags) {
  const UcTag parent = counting_parent();
  const std::vector<UcTag> tags = {
      parent,
      derive_child_uc_tag(parent, "vss"),
      derive_child_uc_tag(parent, "vsS"),
      child_indexed_uc_tag(parent, "vss", P1),
      child_indexed_uc_tag(parent, "vss", P2),
      child_label_two_ids_uc_tag(parent, "vss", P1, P2),
      child_label_two_ids_uc_tag(parent, "vss", P2, P1),
      child_pair_uc_tag(parent, P1, P2),
      child_pair_uc_tag(parent, P2, P1),
      child_pair_uc_tag(root_uc_tag(), P1, P2),
  };
  const std::unordered_set<UcTag> unique(tags.begin(), tags.end());
  EXPECT_EQ(unique.size(), tags.size());
  EXPECT_EQ(root_uc_tag(), root_uc_tag());
}

TEST(UcTagValue, CodecOrderingAndDebug) {
  const UcTag parent = counting_parent();
  crypto::Bytes msg(parent.bytes().begin(), parent.bytes().end());
  msg.push_back(0xEE);  // trailing byte, ignored
  EXPECT_EQ(sised::decode<UcTag>(msg).value(), parent);
  EXPECT_EQ(sised::encode(parent).value(), crypto::Bytes(parent.bytes().begin(), parent.bytes().end()));
  EXPECT_EQ(sised::decode<UcTag>(crypto::ByteSpan(msg).first(31)).error().kind(),
            sised::SisedError::Kind::OutOfBounds);

  crypto::ByteArray<32> high{};
  high[0] = 1;
  EXPECT_LT(parent, UcTag(high));  // bytewise
  EXPECT_EQ(UcTag().debug(), "UcTag(" + std::string(64, '0') + ")");
}

}  // namespace
}  // namespace velto
