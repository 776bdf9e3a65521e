#include "velto-ecdsa/bip32.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/error.hpp"
#include "crypto/hash.hpp"

namespace velto::ecdsa {
namespace {

using crypto::ByteArray;
using crypto::Point;
using crypto::Scalar;

std::string panic_message(const std::function<void()>& f) {
  try {
    f();
  } catch (const Panic& p) {
    return p.message();
  }
  return "(no panic)";
}

// One published chain entry: its path as indices from the master key, and its
// two texts.
struct ChainEntry {
  int vector = 0;
  std::string path_text;
  std::vector<std::uint32_t> path;
  std::string xpub;
  std::string xprv;
};

std::vector<std::uint32_t> parse_path(const std::string& text) {
  std::vector<std::uint32_t> out;
  std::istringstream in(text);
  std::string part;
  std::getline(in, part, '/');  // "m"
  while (std::getline(in, part, '/')) {
    const bool hardened = part.back() == 'H';
    if (hardened) part.pop_back();
    out.push_back(static_cast<std::uint32_t>(std::stoul(part)) | (hardened ? kHardenedIndex : 0));
  }
  return out;
}

// The chains of BIP-0032 test vectors 1 to 4 (bip32_chains.txt).
const std::vector<ChainEntry>& chains() {
  static const std::vector<ChainEntry> entries = [] {
    std::vector<ChainEntry> out;
    std::ifstream in(VELTO_TESTDATA_DIR "/bip32_chains.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream row(line);
      ChainEntry e;
      row >> e.vector >> e.path_text >> e.xpub >> e.xprv;
      e.path = parse_path(e.path_text);
      out.push_back(std::move(e));
    }
    return out;
  }();
  return entries;
}

Xpub xpub_of(const std::string& text) {
  auto x = parse_xpub(text);
  if (!x) ADD_FAILURE() << text << ": " << x.error().display();
  return x ? *x : Xpub{};
}

Xpriv xpriv_of(const std::string& text) {
  auto x = parse_xpriv(text);
  if (!x) ADD_FAILURE() << text << ": " << x.error().display();
  return x ? *x : Xpriv{};
}

// ---------------------------------------------------------------- texts

TEST(ExtendedKeyText, PublishedKeysReadAndWriteBack) {
  ASSERT_EQ(chains().size(), 17u);
  for (const ChainEntry& e : chains()) {
    SCOPED_TRACE(e.path_text);
    const Xpub pub = xpub_of(e.xpub);
    const Xpriv prv = xpriv_of(e.xprv);
    EXPECT_EQ(xpub_to_string(pub), e.xpub);
    EXPECT_EQ(xprv_to_string(prv), e.xprv);
    EXPECT_LE(e.xprv.size(), 112u);
    // The two texts describe one key.
    EXPECT_EQ(Point::base_mul(prv.private_key), pub.public_key);
    EXPECT_EQ(prv.chain_code, pub.chain_code);
    EXPECT_EQ(prv.depth, pub.depth);
    EXPECT_EQ(prv.depth, e.path.size());
    EXPECT_EQ(prv.child_number, e.path.empty() ? 0u : e.path.back());
    EXPECT_EQ(prv.parent_fingerprint, pub.parent_fingerprint);
  }
}

// The xpub of vector 5 and texts built around the master key of vector 1
// (bip32_refusals.txt), each given to the reader of its kind. Vector 5's
// "invalid" keys that these readers accept are the ones whose fault lies in a
// field the readers take as it stands (depth, fingerprint, child number) or
// in the byte before the private key, which is not examined.
TEST(ExtendedKeyText, RefusalsAndAcceptances) {
  std::ifstream in(VELTO_TESTDATA_DIR "/bip32_refusals.txt");
  ASSERT_TRUE(in);
  int rows = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ++rows;
    std::istringstream row(line);
    std::string reader, expected, text;
    row >> reader >> expected >> text;
    if (text == "-") text.clear();
    SCOPED_TRACE(line);
    std::string got;
    if (reader == "xpub") {
      const auto r = parse_xpub(text);
      if (r) {
        got = "accept";
      } else if (r.error().is<XpubError::InvalidBase58>()) {
        got = "InvalidBase58";
      } else if (const auto* l = std::get_if<XpubError::InvalidLength>(&r.error().value())) {
        got = "InvalidLength:" + std::to_string(l->length);
      } else if (const auto* ver = std::get_if<XpubError::InvalidVersion>(&r.error().value())) {
        std::ostringstream o;
        o << "version:" << std::uppercase << std::hex << ver->found;
        got = o.str();
      } else if (const auto* k = std::get_if<XpubError::InvalidPublicKey>(&r.error().value())) {
        got = "InvalidPublicKey";
        // It carries the 33 key bytes of the text.
        const auto payload = crypto::base58check_decode(text);
        ASSERT_TRUE(payload);
        EXPECT_TRUE(std::equal(k->key.begin(), k->key.end(), payload->begin() + 45));
      }
    } else {
      const auto r = parse_xpriv(text);
      if (r) {
        got = "accept";
      } else if (r.error().is<XprivError::InvalidBase58>()) {
        got = "InvalidBase58";
      } else if (const auto* l = std::get_if<XprivError::InvalidLength>(&r.error().value())) {
        got = "InvalidLength:" + std::to_string(l->len);
      } else if (const auto* ver = std::get_if<XprivError::UnknownVersion>(&r.error().value())) {
        std::ostringstream o;
        o << "version:" << std::uppercase << std::hex << ver->found;
        got = o.str();
      } else if (r.error().is<XprivError::InvalidPrivateKey>()) {
        got = "InvalidPrivateKey";
      }
    }
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(rows, 34);
}

TEST(ExtendedKeyText, DisplayOfAnXpubGivenToTheXprvReader) {
  const auto r = parse_xpriv(chains().front().xpub);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().display(), "Invalid version: 488B21E, expected: 488ADE4");
}

TEST(ExtendedKeyText, IdentityHasNoXpubText) {
  Xpub x = xpub_of(chains().front().xpub);
  x.public_key = Point::identity();
  EXPECT_EQ(panic_message([&] { (void)xpub_to_string(x); }), "Compressed public key should always be 33 bytes");
}

// ---------------------------------------------------------------- derivation

// Every run of non-hardened steps between two published keys of one chain:
// the derived xpub must be the published one, and the tweak sum must move the
// published private key of the start onto that of the end.
TEST(PublicDerivation, MatchesEveryReachablePublishedStep) {
  int checked = 0;
  const auto& all = chains();
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (std::size_t j = i + 1; j < all.size() && all[j].vector == all[i].vector; ++j) {
      const std::vector<std::uint32_t>& from = all[i].path;
      const std::vector<std::uint32_t>& to = all[j].path;
      const std::span<const std::uint32_t> steps = std::span(to).subspan(from.size());
      if (std::any_of(steps.begin(), steps.end(), [](std::uint32_t s) { return s >= kHardenedIndex; })) continue;
      SCOPED_TRACE(all[i].path_text + " -> " + all[j].path_text);
      const std::optional<DerivedXpub> d = derive_child_pubkey_path(xpub_of(all[i].xpub), steps);
      ASSERT_TRUE(d);
      EXPECT_EQ(xpub_to_string(d->xpub), all[j].xpub);
      EXPECT_EQ(xpriv_of(all[i].xprv).private_key + d->tweak_sum, xpriv_of(all[j].xprv).private_key);
      ++checked;
    }
  }
  // Vector 1: m/0H -> /1; /2H -> /2, /2H -> /2/1000000000, /2 -> /1000000000.
  // Vector 2: m -> /0; /2147483647H -> /1; /2147483646H -> /2.
  EXPECT_EQ(checked, 7);
}

TEST(PublicDerivation, RefusesEveryPublishedHardenedStep) {
  int checked = 0;
  const auto& all = chains();
  for (std::size_t i = 0; i + 1 < all.size(); ++i) {
    if (all[i + 1].vector != all[i].vector || all[i + 1].path.back() < kHardenedIndex) continue;
    SCOPED_TRACE(all[i + 1].path_text);
    const std::uint32_t step = all[i + 1].path.back();
    EXPECT_FALSE(derive_child_pubkey_path(xpub_of(all[i].xpub), std::span(&step, 1)));
    ++checked;
  }
  EXPECT_EQ(checked, 7);
}

TEST(PublicDerivation, PathEdges) {
  const Xpub master = xpub_of(chains().front().xpub);
  const ByteArray<20> id = crypto::hash160(master.public_key.to_compressed());

  // Empty path: the key itself, tweak 0.
  const auto same = derive_child_pubkey_path(master, {});
  ASSERT_TRUE(same);
  EXPECT_EQ(same->xpub, master);
  EXPECT_TRUE(same->tweak_sum.is_zero());

  // The largest non-hardened index, and the first hardened one.
  const std::uint32_t last = kHardenedIndex - 1;
  const auto child = derive_child_pubkey_path(master, std::span(&last, 1));
  ASSERT_TRUE(child);
  EXPECT_EQ(child->xpub.depth, 1);
  EXPECT_EQ(child->xpub.child_number, last);
  EXPECT_TRUE(std::equal(child->xpub.parent_fingerprint.begin(), child->xpub.parent_fingerprint.end(), id.begin()));
  EXPECT_EQ(child->xpub.public_key, Point::base_mul(child->tweak_sum) + master.public_key);

  const std::uint32_t hardened[] = {0, kHardenedIndex};
  EXPECT_FALSE(derive_child_pubkey_path(master, std::span(hardened).subspan(1)));
  // A hardened index anywhere in the path refuses the whole path.
  EXPECT_FALSE(derive_child_pubkey_path(master, hardened));

  // Depth 255 cannot grow, even by one step; the empty path still works.
  Xpub deep = master;
  deep.depth = 255;
  const std::uint32_t zero = 0;
  EXPECT_FALSE(derive_child_pubkey_path(deep, std::span(&zero, 1)));
  const auto deep_same = derive_child_pubkey_path(deep, {});
  ASSERT_TRUE(deep_same);
  EXPECT_EQ(deep_same->xpub, deep);
  // Depth 254 takes one step and then stops.
  deep.depth = 254;
  EXPECT_TRUE(derive_child_pubkey_path(deep, std::span(&zero, 1)));
  const std::uint32_t two[] = {0, 0};
  EXPECT_FALSE(derive_child_pubkey_path(deep, two));

  // No key at the identity.
  Xpub none = master;
  none.public_key = Point::identity();
  EXPECT_FALSE(derive_child_pubkey_path(none, std::span(&zero, 1)));
}

}  // namespace
}  // namespace velto::ecdsa
