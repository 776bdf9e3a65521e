#include "velto-ote/rote.hpp"

#include <cstring>
#include <utility>

#include "crypto/blake3.hpp"
#include "crypto/error.hpp"
#include "sised/decoder.hpp"
#include "sised/encoder.hpp"
#include "velto-ote/ext_common.hpp"
#include "velto-ote/prg.hpp"

namespace velto::ote {
namespace {

using detail::store_le64;
using detail::word_mask;

// The two bit planes of the universal hash of a GF(4) vector (before they
// are interleaved into its 32-byte form).
std::array<crypto::Gf128, 2> gf4_hash_planes(std::span<const crypto::Gf128> challenges, const Gf4Vec& v) {
  const auto w = v.words();
  if (w.size() % 4 != 0 || w.size() / 4 > challenges.size()) {
    panic("assertion failed: one challenge per 128 elements");
  }
  crypto::Gf128Accumulator s0;
  crypto::Gf128Accumulator s1;
  for (std::size_t k = 0; k < w.size() / 4; ++k) {
    const std::uint64_t* c = w.data() + 4 * k;
    const crypto::Gf128 plane0{compact_bits(c[0]) | (std::uint64_t{compact_bits(c[1])} << 32),
                               compact_bits(c[2]) | (std::uint64_t{compact_bits(c[3])} << 32)};
    const crypto::Gf128 plane1{compact_bits(c[0] >> 1) | (std::uint64_t{compact_bits(c[1] >> 1)} << 32),
                               compact_bits(c[2] >> 1) | (std::uint64_t{compact_bits(c[3] >> 1)} << 32)};
    s0.add_product(challenges[k], plane0);
    s1.add_product(challenges[k], plane1);
  }
  return {s0.finish(), s1.finish()};
}

crypto::ByteArray<32> planes_to_bytes(const std::array<crypto::Gf128, 2>& s) noexcept {
  const auto lo = interleave_planes(s[0].lo, s[1].lo);
  const auto hi = interleave_planes(s[0].hi, s[1].hi);
  crypto::ByteArray<32> out;
  store_le64(out.data(), lo[0]);
  store_le64(out.data() + 8, lo[1]);
  store_le64(out.data() + 16, hi[0]);
  store_le64(out.data() + 24, hi[1]);
  return out;
}

// Challenge seed (F[0..32]) and row tweak s (F[32..48]).
struct FiatShamir {
  std::vector<crypto::Gf128> challenges;
  crypto::Gf128 tweak;
};

FiatShamir fiat_shamir(crypto::ByteSpan tag, const crypto::ByteArray<32>& key, crypto::ByteSpan corrections,
                       std::size_t rows) {
  const crypto::ByteArray<48> fs = rote_fiat_shamir_challenge(tag, key, corrections);
  crypto::ByteArray<32> seed;
  std::memcpy(seed.data(), fs.data(), 32);
  crypto::ByteArray<16> tweak;
  std::memcpy(tweak.data(), fs.data() + 32, 16);
  return {softspoken_challenges(seed, rows), crypto::Gf128::from_le_bytes(tweak)};
}

OteError communication_error(sised::SisedError e) {
  return OteError::CommunicationError{velto::box_error<sised::SisedError>(std::move(e))};
}

}  // namespace

crypto::ByteArray<48> rote_fiat_shamir_challenge(crypto::ByteSpan tag, const crypto::ByteArray<32>& key,
                                                 crypto::ByteSpan corrections) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kRoteFiatShamirContext);
  h.update(tag).update(key).update(corrections);
  crypto::ByteArray<48> out;
  h.finalize_xof().fill(out);
  return out;
}

std::vector<crypto::Gf128> softspoken_challenges(const crypto::ByteArray<32>& seed, std::size_t n) {
  const std::size_t count = (n + 127) / 128;
  crypto::Blake3Reader r = crypto::Blake3::derive_key(kSoftSpokenChallengeContext).update(seed).finalize_xof();
  std::vector<crypto::Gf128> out(count);
  crypto::ByteArray<16> b;
  for (crypto::Gf128& c : out) {
    r.fill(b);
    c = crypto::Gf128::from_le_bytes(b);
  }
  return out;
}

crypto::ByteArray<32> gf4_universal_hash(std::span<const crypto::Gf128> challenges, const Gf4Vec& v) {
  return planes_to_bytes(gf4_hash_planes(challenges, v));
}

crypto::ByteArray<32> check_digest(std::span<const crypto::ByteArray<32>, kPprfTrees> values) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kCheckDigestContext);
  for (const auto& v : values) h.update(v);
  return h.finalize();
}

RoteReceiverRun rote_receiver_run(const FullPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count) {
  const std::size_t rows = rote_extended_rows(ot_count);
  detail::ReceiverVole vole = detail::receiver_vole(trees, tag, rows);
  const auto x = vole.u[kPprfTrees - 1].words();

  RoteReceiverRun run;
  run.correction_message = detail::correction_message(vole.u);
  const FiatShamir fs = fiat_shamir(tag, trees.key(), run.correction_message, rows);

  crypto::Gf128Accumulator xt;
  for (std::size_t b = 0; b < rows / 128; ++b) {
    xt.add_product(fs.challenges[b], crypto::Gf128{x[2 * b], x[2 * b + 1]});
  }
  const crypto::ByteArray<16> x_tilde = xt.finish().to_le_bytes();

  std::array<crypto::ByteArray<32>, kPprfTrees> hashes;
  for (std::size_t t = 0; t < kPprfTrees; ++t) hashes[t] = gf4_universal_hash(fs.challenges, vole.v[t]);
  const crypto::ByteArray<32> h = check_digest(hashes);
  std::memcpy(run.check_message.data(), x_tilde.data(), 16);
  std::memcpy(run.check_message.data() + 16, h.data(), 32);

  // The outputs come from the first m - 128 rows.
  for (Gf4Vec& v : vole.v) v.truncate(rows - 128);
  run.output.choices = ChoiceBits(ot_count);
  run.output.digests = OtDigests(ot_count);
  detail::hash_rows(vole.v, fs.tweak, false, ot_count, run.output.digests, nullptr, nullptr);
  for (std::size_t j = 0; j < ot_count; ++j) {
    run.output.choices.data()[j] = static_cast<std::uint8_t>((x[j / 64] >> (j % 64)) & 1u);
  }
  return run;
}

RoteSender::RoteSender(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count)
    : delta_(trees.delta()),
      hashes_match_(trees.hashes_match()),
      key_(trees.key()),
      ot_count_(ot_count),
      rows_(rote_extended_rows(ot_count)),
      w_(detail::sender_vole(trees, tag, rote_extended_rows(ot_count))) {
  if (tag.size() != 32) panic("assertion failed: a UC tag is 32 bytes");
  std::memcpy(tag_.data(), tag.data(), 32);
  for (std::size_t t = 0; t < kPprfTrees; ++t) punctured_[t] = trees.punctured_index(t);
}

RoteSender::~RoteSender() {
  crypto::secure_wipe(punctured_.data(), punctured_.size());
  crypto::secure_wipe(&delta_, sizeof delta_);
  crypto::secure_wipe(&tweak_, sizeof tweak_);
  if (!check_planes_.empty()) {
    crypto::secure_wipe(check_planes_.data(), check_planes_.size() * sizeof check_planes_[0]);
  }
}

std::expected<void, OteError> RoteSender::receive_corrections(crypto::ByteSpan payload) {
  if (corrected_) panic("assertion failed: one correction message per run");
  auto decoded = detail::decode_corrections(payload, rows_ / 64);
  if (!decoded) return std::unexpected(communication_error(std::move(decoded.error())));
  if (!decoded->lengths_ok) return std::unexpected(OteError::InvalidPprfHash{});
  detail::apply_corrections(w_, punctured_, *decoded);

  FiatShamir fs = fiat_shamir(tag_, key_, payload.first(decoded->consumed), rows_);
  challenges_ = std::move(fs.challenges);
  tweak_ = fs.tweak;
  check_planes_.resize(kPprfTrees);
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    check_planes_[t] = gf4_hash_planes(challenges_, w_[t]);
    w_[t].truncate(rows_ - 128);
  }
  corrected_ = true;
  return {};
}

std::expected<RoteSenderOutput, OteError> RoteSender::receive_check(crypto::ByteSpan payload) {
  if (!corrected_) panic("assertion failed: the check message follows the corrections");
  sised::Decoder d(payload);
  auto x_bytes = d.read_array<16>();
  if (!x_bytes) return std::unexpected(communication_error(std::move(x_bytes.error())));
  auto h = d.read_array<32>();
  if (!h) return std::unexpected(communication_error(std::move(h.error())));
  const crypto::Gf128 x_tilde = crypto::Gf128::from_le_bytes(*x_bytes);

  if (!hashes_match_) return std::unexpected(OteError::InvalidPprfHash{});

  // t̃'_t = t̃_t ^ p_t * x̃ (element e gets p_t where bit e of x̃ is set).
  std::array<crypto::ByteArray<32>, kPprfTrees> hashes;
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    const std::uint64_t m0 = word_mask(punctured_[t]);
    const std::uint64_t m1 = word_mask(punctured_[t] >> 1);
    std::array<crypto::Gf128, 2> s = check_planes_[t];
    s[0] ^= crypto::Gf128{x_tilde.lo & m0, x_tilde.hi & m0};
    s[1] ^= crypto::Gf128{x_tilde.lo & m1, x_tilde.hi & m1};
    hashes[t] = planes_to_bytes(s);
  }
  const crypto::ByteArray<32> expected = check_digest(hashes);
  if (!crypto::ct_equal(expected, *h)) return std::unexpected(OteError::InvalidChallengeResponse{});

  RoteSenderOutput out{delta_, OtDigests(ot_count_), OtDigests(ot_count_)};
  detail::hash_rows(w_, tweak_, false, ot_count_, out.digests0, &delta_, &out.digests1);
  return out;
}

}  // namespace velto::ote
