#include "velto-ote/ext_common.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "crypto/error.hpp"
#include "crypto/secret.hpp"
#include "sised/decoder.hpp"
#include "sised/encoder.hpp"
#include "velto-ote/prg.hpp"

namespace velto::ote::detail {

ReceiverVole receiver_vole(const FullPprfTrees& trees, crypto::ByteSpan tag, std::size_t rows) {
  ReceiverVole r;
  r.u.reserve(kPprfTrees);
  r.v.reserve(kPprfTrees);
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    r.u.push_back(bitvec_zeroed(rows));
    r.v.push_back(bitvec_zeroed_2bit(rows));
  }
  full_trees_vole(trees, tag, r.u, r.v);
  return r;
}

std::vector<Gf4Vec> sender_vole(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::size_t rows) {
  std::vector<Gf4Vec> w;
  w.reserve(kPprfTrees);
  for (std::size_t t = 0; t < kPprfTrees; ++t) w.push_back(bitvec_zeroed_2bit(rows));
  punctured_trees_vole(trees, tag, w);
  return w;
}

crypto::Bytes correction_message(const std::vector<BitVec>& u) {
  const std::size_t words = u[kPprfTrees - 1].word_count();
  const auto x = u[kPprfTrees - 1].words();
  crypto::Bytes prefix;
  sised::Sink prefix_sink = sised::Sink::buffer(prefix);
  sised::write_varint(prefix_sink, words);
  if (!prefix_sink.ok()) panic("Serializing the correction message should not fail.");

  crypto::Bytes msg(kCorrections * (prefix.size() + 8 * words));
  std::uint8_t* out = msg.data();
  for (std::size_t t = 0; t < kCorrections; ++t) {
    std::memcpy(out, prefix.data(), prefix.size());
    out += prefix.size();
    const auto ut = u[t].words();
    for (std::size_t k = 0; k < words; ++k, out += 8) store_le64(out, ut[k] ^ x[k]);
  }
  return msg;
}

std::expected<DecodedCorrections, sised::SisedError> decode_corrections(crypto::ByteSpan payload,
                                                                        std::size_t words) {
  sised::Decoder d(payload);
  DecodedCorrections out;
  out.lengths_ok = true;
  for (crypto::ByteSpan& vec : out.vectors) {
    auto count = d.read_varint();
    if (!count) return std::unexpected(std::move(count.error()));
    if (auto c = d.charge(*count, 8); !c) return std::unexpected(std::move(c.error()));
    auto bytes = d.take(static_cast<std::size_t>(*count) * 8);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    vec = *bytes;
    if (*count != words) out.lengths_ok = false;
  }
  out.consumed = d.position();
  return out;
}

void apply_corrections(std::vector<Gf4Vec>& w, std::span<const std::uint8_t, kPprfTrees> punctured,
                       const DecodedCorrections& c) {
  for (std::size_t t = 0; t < kCorrections; ++t) {
    const std::uint64_t m0 = word_mask(punctured[t]);
    const std::uint64_t m1 = word_mask(punctured[t] >> 1);
    auto wt = w[t].words();
    const std::size_t words = c.vectors[t].size() / 8;
    if (wt.size() != 2 * words) panic("assertion failed: corrections as long as the VOLE vectors");
    for (std::size_t k = 0; k < words; ++k) {
      const std::uint64_t bits = load_le64(c.vectors[t].data() + 8 * k);
      const auto e = interleave_planes(bits & m0, bits & m1);
      wt[2 * k] ^= e[0];
      wt[2 * k + 1] ^= e[1];
    }
  }
}

void hash_rows(const std::vector<Gf4Vec>& columns, const crypto::Gf128& s, bool tweak_mod_2_16,
               std::size_t ot_count, OtDigests& d0, const crypto::Gf128* delta, OtDigests* d1) {
  constexpr std::size_t kBatch = 64;
  crypto::SecretArray<16 * kBatch> values0;
  crypto::SecretArray<16 * kBatch> values1;
  Gf4RowIter it(columns);
  for (std::size_t first = 0; first < ot_count; first += kBatch) {
    const std::size_t count = std::min(kBatch, ot_count - first);
    for (std::size_t i = 0; i < count; ++i) {
      std::uint64_t multiplier = first + i + 1;
      if (tweak_mod_2_16) multiplier &= 0xFFFFu;
      const std::optional<crypto::Gf128> row = it.next();
      if (!row) panic("assertion failed: the run has a row for every OT");
      const crypto::Gf128 e = *row ^ crypto::gf128_mul(s, crypto::Gf128{multiplier, 0});
      store_le64(values0.data() + 16 * i, e.lo);
      store_le64(values0.data() + 16 * i + 8, e.hi);
      if (delta != nullptr) {
        store_le64(values1.data() + 16 * i, e.lo ^ delta->lo);
        store_le64(values1.data() + 16 * i + 8, e.hi ^ delta->hi);
      }
    }
    ote_row_hash_many(values0.span().first(16 * count), first, d0.mut_bytes().subspan(16 * first, 16 * count));
    if (delta != nullptr) {
      ote_row_hash_many(values1.span().first(16 * count), first, d1->mut_bytes().subspan(16 * first, 16 * count));
    }
  }
}

}  // namespace velto::ote::detail
