#include "velto-ote/pprf.hpp"

#include <array>
#include <cstring>

#include "crypto/error.hpp"
#include "sised/decoder.hpp"
#include "velto-ote/prg.hpp"

namespace velto::ote {
namespace {

// 0xFF when bit is 1, 0x00 when 0 (bit is 0 or 1).
inline std::uint8_t byte_mask(std::uint8_t bit) noexcept { return static_cast<std::uint8_t>(0u - bit); }

// dst ^= src (32 bytes).
inline void xor32(std::uint8_t* dst, const std::uint8_t* src) noexcept {
  for (std::size_t i = 0; i < 32; ++i) dst[i] ^= src[i];
}

// dst ^= src & mask (32 bytes).
inline void xor32_masked(std::uint8_t* dst, const std::uint8_t* src, std::uint8_t mask) noexcept {
  for (std::size_t i = 0; i < 32; ++i) dst[i] ^= static_cast<std::uint8_t>(src[i] & mask);
}

// dst = mask ? b : a (32 bytes), without a branch.
inline void select32(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b, std::uint8_t mask) noexcept {
  for (std::size_t i = 0; i < 32; ++i) dst[i] = static_cast<std::uint8_t>(a[i] ^ ((a[i] ^ b[i]) & mask));
}

void require_batch(crypto::ByteSpan records, std::size_t record_size) {
  if (records.size() < kBaseOtCount * record_size) panic("assertion failed: the PPRF set-up takes 128 base OTs");
}

// 0 when a == b, else 1 (a, b below 4), without a branch.
inline std::uint8_t differs(std::uint8_t a, std::uint8_t b) noexcept {
  const std::uint8_t x = a ^ b;
  return static_cast<std::uint8_t>((x | (x >> 1)) & 1u);
}

inline std::uint64_t word_mask(std::uint64_t bit) noexcept { return 0 - (bit & 1u); }

}  // namespace

std::expected<PprfSetupMessage, sised::SisedError> decode_pprf_setup_message(crypto::ByteSpan payload) {
  sised::Decoder d(payload);
  auto bytes = d.take(kPprfSetupMessageSize);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  PprfSetupMessage m;
  std::memcpy(m.bytes_.data(), bytes->data(), kPprfSetupMessageSize);
  return m;
}

std::optional<FullPprfTrees> FullPprfTrees::from_bytes(crypto::ByteSpan record) {
  if (record.size() != kRecordSize) return std::nullopt;
  FullPprfTrees t;
  std::memcpy(t.bytes_.data(), record.data(), kRecordSize);
  return t;
}

crypto::ByteArray<32> FullPprfTrees::key() const noexcept {
  crypto::ByteArray<32> k;
  std::memcpy(k.data(), bytes_.data() + 8192, 32);
  return k;
}

std::optional<PuncturedPprfTrees> PuncturedPprfTrees::from_bytes(crypto::ByteSpan record) {
  if (record.size() != kRecordSize) return std::nullopt;
  PuncturedPprfTrees t;
  std::memcpy(t.bytes_.data(), record.data(), kRecordSize);
  for (std::size_t i = 0; i < kPprfTrees; ++i) {
    if (t.punctured_index(i) > 3) return std::nullopt;
  }
  return t;
}

crypto::ByteArray<32> PuncturedPprfTrees::key() const noexcept {
  crypto::ByteArray<32> k;
  std::memcpy(k.data(), bytes_.data() + kKeyOffset, 32);
  return k;
}

crypto::Gf128 PuncturedPprfTrees::delta() const noexcept {
  crypto::Gf128 d;
  for (std::size_t t = 0; t < 32; ++t) {
    d.lo |= static_cast<std::uint64_t>(punctured_index(t)) << (2 * t);
    d.hi |= static_cast<std::uint64_t>(punctured_index(t + 32)) << (2 * t);
  }
  return d;
}

bool PuncturedPprfTrees::hashes_match() const noexcept {
  return crypto::ct_equal(bytes_.span().first(2048), bytes_.span().subspan(2048, 2048));
}

FullPprfSetup build_full_pprf_trees(crypto::ByteSpan base_ot, const crypto::ByteArray<32>& key) {
  require_batch(base_ot, kBaseOtSenderRecordSize);
  FullPprfSetup out{FullPprfTrees(), PprfSetupMessage()};
  std::uint8_t* trees = out.trees.bytes_.data();
  std::uint8_t* msg = out.message.bytes_.data();

  // The level-one nodes of all trees are the first 64 records (tree t: K_t0
  // then K_t1), so their doubled outputs are the 256 leaves in order: leaf x
  // of tree t at 128t + 32x.
  crypto::SecretBytes leaves(32 * kPprfTrees * kLeavesPerTree);
  pprf_length_doubling_prg_many(base_ot.first(kBaseOtSenderRecordSize * kPprfTrees), leaves.mut_span());
  crypto::SecretBytes abv(96 * kPprfTrees * kLeavesPerTree);
  pprf_length_tripling_prg_many(leaves.span(), abv.mut_span());

  crypto::SecretArray<256> ab;
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint8_t* leaf = leaves.data() + 128 * t;
    const std::uint8_t* level2 = base_ot.data() + kBaseOtSenderRecordSize * (t + kPprfTrees);
    // Correction: (s_0 ^ s_2 ^ K_(t+64),0) || (s_1 ^ s_3 ^ K_(t+64),1).
    std::uint8_t* corr = msg + 2048 + 64 * t;
    std::memcpy(corr, level2, 64);
    xor32(corr, leaf);
    xor32(corr, leaf + 64);
    xor32(corr + 32, leaf + 32);
    xor32(corr + 32, leaf + 96);

    std::uint8_t* sums = msg + 6144 + 64 * t;
    for (std::size_t x = 0; x < kLeavesPerTree; ++x) {
      const std::uint8_t* abvx = abv.data() + 96 * (4 * t + x);
      std::memcpy(ab.data() + 64 * x, abvx, 64);
      xor32(sums, abvx);
      xor32(sums + 32, abvx + 32);
      std::memcpy(trees + 128 * t + 32 * x, abvx + 64, 32);
    }
    const crypto::ByteArray<32> h = pprf_hash(std::span<const std::uint8_t, 256>(ab.data(), 256));
    std::memcpy(msg + 32 * t, h.data(), 32);
  }
  std::memcpy(trees + 8192, key.data(), 32);
  return out;
}

PuncturedPprfTrees build_punctured_pprf_trees(crypto::ByteSpan base_ot, const crypto::ByteArray<32>& key,
                                              const PprfSetupMessage& message) {
  require_batch(base_ot, kBaseOtReceiverRecordSize);
  PuncturedPprfTrees out;
  std::uint8_t* rec = out.bytes_.data();
  std::memcpy(rec, message.bytes().data(), 2048);

  // The known level-one node of every tree, doubled: leaves 2c and 2c + 1.
  crypto::SecretBytes nodes(32 * kPprfTrees);
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    std::memcpy(nodes.data() + 32 * t, base_ot.data() + kBaseOtReceiverRecordSize * t, 32);
  }
  crypto::SecretBytes known(64 * kPprfTrees);
  pprf_length_doubling_prg_many(nodes.span(), known.mut_span());

  // The four level-two slots of every tree, zero at p.
  crypto::SecretBytes seeds(32 * kPprfTrees * kLeavesPerTree);
  std::array<std::uint8_t, kPprfTrees> punctured;
  crypto::SecretArray<32> other;  // the leaf recovered through the correction
  crypto::SecretArray<32> sibling;
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint8_t c = base_ot[kBaseOtReceiverRecordSize * t + 32] & 1u;
    const std::uint8_t* level2 = base_ot.data() + kBaseOtReceiverRecordSize * (t + kPprfTrees);
    const std::uint8_t d = level2[32] & 1u;
    punctured[t] = static_cast<std::uint8_t>(2 * (1 - c) + (1 - d));
    const std::uint8_t* kn = known.data() + 64 * t;

    // Leaf 2(1 - c) + d: half d of the correction ^ K_(t+64) ^ leaf 2c + d.
    const crypto::ByteSpan corr = message.correction(t);
    const std::uint8_t md = byte_mask(d);
    select32(other.data(), corr.data(), corr.data() + 32, md);
    xor32(other.data(), level2);
    select32(sibling.data(), kn, kn + 32, md);
    xor32(other.data(), sibling.data());

    // Slot x: from `known` when its high bit is c; the recovered leaf when
    // its high bit is 1 - c and its low bit is d; zero at p.
    for (std::uint8_t x = 0; x < 4; ++x) {
      const std::uint8_t hi = x >> 1;
      const std::uint8_t lo = x & 1u;
      const std::uint8_t direct = byte_mask(static_cast<std::uint8_t>(1 - differs(hi, c)));
      const std::uint8_t via_corr = byte_mask(static_cast<std::uint8_t>(differs(hi, c) & (1 - differs(lo, d))));
      std::uint8_t* slot = seeds.data() + 128 * t + 32 * x;
      xor32_masked(slot, kn + 32 * lo, direct);
      xor32_masked(slot, other.data(), via_corr);
    }
  }

  // Finalise every slot (the punctured one is expanded too and discarded,
  // so the work does not depend on p); the punctured slot's a and b are
  // what the sums leave after removing the three known leaves.
  crypto::SecretBytes abv(96 * kPprfTrees * kLeavesPerTree);
  pprf_length_tripling_prg_many(seeds.span(), abv.mut_span());
  crypto::SecretArray<256> ab;  // hash input a_0 b_0 .. a_3 b_3
  crypto::SecretArray<64> acc;  // (A, B) minus the known leaves' parts
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint8_t p = punctured[t];
    std::memcpy(acc.data(), message.sums(t).data(), 64);
    std::uint8_t* tree = rec + PuncturedPprfTrees::kTreesOffset + 129 * t;
    for (std::uint8_t x = 0; x < 4; ++x) {
      const std::uint8_t keep = byte_mask(differs(x, p));
      const std::uint8_t* abvx = abv.data() + 96 * (4 * t + x);
      xor32_masked(acc.data(), abvx, keep);
      xor32_masked(acc.data() + 32, abvx + 32, keep);
      std::memset(tree + 32 * x, 0, 32);
      xor32_masked(tree + 32 * x, abvx + 64, keep);
    }
    for (std::uint8_t x = 0; x < 4; ++x) {
      const std::uint8_t keep = byte_mask(differs(x, p));
      const std::uint8_t* abvx = abv.data() + 96 * (4 * t + x);
      select32(ab.data() + 64 * x, acc.data(), abvx, keep);
      select32(ab.data() + 64 * x + 32, acc.data() + 32, abvx + 32, keep);
    }
    tree[128] = p;
    const crypto::ByteArray<32> h = pprf_hash(std::span<const std::uint8_t, 256>(ab.data(), 256));
    std::memcpy(rec + 2048 + 32 * t, h.data(), 32);
  }
  crypto::secure_wipe(punctured.data(), punctured.size());
  std::memcpy(rec + PuncturedPprfTrees::kKeyOffset, key.data(), 32);
  return out;
}

namespace {

// The rows of a run (a whole number of 64) from the vectors passed in.
std::size_t vole_words(std::span<const Gf4Vec> v) {
  if (v.size() != kPprfTrees) panic("assertion failed: one VOLE vector per tree");
  const std::size_t gf4_words = v[0].word_count();
  for (const Gf4Vec& x : v) {
    if (x.word_count() != gf4_words || gf4_words % 2 != 0) {
      panic("assertion failed: VOLE vectors of equal length in whole words");
    }
  }
  return gf4_words / 2;
}

}  // namespace

void full_trees_vole(const FullPprfTrees& trees, crypto::ByteSpan tag, std::span<BitVec> u, std::span<Gf4Vec> v) {
  const std::size_t n = vole_words(v);
  if (u.size() != kPprfTrees) panic("assertion failed: one VOLE vector per tree");
  for (const BitVec& x : u) {
    if (x.word_count() != n) panic("assertion failed: VOLE vectors of equal length in rows");
  }
  // All 256 leaves are contiguous at the start of the record.
  BitVec r = bitvec_zeroed(64 * n * kPprfTrees * kLeavesPerTree);
  ote_vole_prg_many(tag, trees.bytes().first(32 * kPprfTrees * kLeavesPerTree), n, r.words());
  const std::uint64_t* rw = r.words().data();
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint64_t* r0 = rw + (4 * t) * n;
    const std::uint64_t* r1 = r0 + n;
    const std::uint64_t* r2 = r1 + n;
    const std::uint64_t* r3 = r2 + n;
    auto uw = u[t].words();
    auto vw = v[t].words();
    for (std::size_t k = 0; k < n; ++k) {
      uw[k] = r0[k] ^ r1[k] ^ r2[k] ^ r3[k];
      const auto e = interleave_planes(r1[k] ^ r3[k], r2[k] ^ r3[k]);
      vw[2 * k] = e[0];
      vw[2 * k + 1] = e[1];
    }
  }
}

void punctured_trees_vole(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::span<Gf4Vec> w) {
  const std::size_t n = vole_words(w);
  // Every slot is expanded, the punctured one (zero seed) too; it gets the
  // coefficient p ^ p = 0, so nothing depends on p but masks.
  crypto::SecretBytes leaves(32 * kPprfTrees * kLeavesPerTree);
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    std::memcpy(leaves.data() + 128 * t, trees.leaf(t, 0).data(), 128);
  }
  BitVec r = bitvec_zeroed(64 * n * kPprfTrees * kLeavesPerTree);
  ote_vole_prg_many(tag, leaves.span(), n, r.words());
  const std::uint64_t* rw = r.words().data();
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint64_t p = trees.punctured_index(t);
    std::uint64_t m0[4];
    std::uint64_t m1[4];
    for (std::uint64_t x = 0; x < 4; ++x) {
      m0[x] = word_mask((x ^ p) & 1u);
      m1[x] = word_mask(((x ^ p) >> 1) & 1u);
    }
    const std::uint64_t* r0 = rw + (4 * t) * n;
    auto ww = w[t].words();
    for (std::size_t k = 0; k < n; ++k) {
      std::uint64_t p0 = 0;
      std::uint64_t p1 = 0;
      for (std::size_t x = 0; x < 4; ++x) {
        p0 ^= r0[x * n + k] & m0[x];
        p1 ^= r0[x * n + k] & m1[x];
      }
      const auto e = interleave_planes(p0, p1);
      ww[2 * k] = e[0];
      ww[2 * k + 1] = e[1];
    }
  }
}

}  // namespace velto::ote
