#include "velto-ote/cote.hpp"

#include <cstring>
#include <utility>

#include "crypto/blake3.hpp"
#include "crypto/chacha.hpp"
#include "crypto/error.hpp"
#include "sised/decoder.hpp"
#include "velto-ote/ext_common.hpp"
#include "velto-ote/prg.hpp"
#include "velto-ote/rote.hpp"

namespace velto::ote {
namespace {

using detail::store_le64;
using detail::word_mask;

std::array<std::uint64_t, 2> gf4_hash_planes_v0(std::span<const std::uint64_t> challenges, const Gf4Vec& v) {
  const auto w = v.words();
  if (w.size() % 2 != 0 || w.size() / 2 > challenges.size()) {
    panic("assertion failed: one challenge per 64 elements");
  }
  std::uint64_t s0 = 0;
  std::uint64_t s1 = 0;
  for (std::size_t k = 0; k < w.size() / 2; ++k) {
    const std::uint64_t plane0 = compact_bits(w[2 * k]) | (std::uint64_t{compact_bits(w[2 * k + 1])} << 32);
    const std::uint64_t plane1 =
        compact_bits(w[2 * k] >> 1) | (std::uint64_t{compact_bits(w[2 * k + 1] >> 1)} << 32);
    s0 ^= crypto::gf64_mul(challenges[k], plane0);
    s1 ^= crypto::gf64_mul(challenges[k], plane1);
  }
  return {s0, s1};
}

crypto::ByteArray<16> planes_to_bytes(const std::array<std::uint64_t, 2>& s) noexcept {
  const auto e = interleave_planes(s[0], s[1]);
  crypto::ByteArray<16> out;
  store_le64(out.data(), e[0]);
  store_le64(out.data() + 8, e[1]);
  return out;
}

// The transcript takes each correction vector in its sised form.
void absorb_corrections(Transcript& transcript, const detail::DecodedCorrections& c) {
  std::vector<std::uint64_t> words;
  for (const crypto::ByteSpan& vec : c.vectors) {
    words.resize(vec.size() / 8);
    for (std::size_t k = 0; k < words.size(); ++k) words[k] = detail::load_le64(vec.data() + 8 * k);
    transcript.append(words);
  }
}

template <class E>
E comm_error(sised::SisedError e) {
  return typename E::CommunicationError{velto::box_error<sised::SisedError>(std::move(e))};
}

}  // namespace

std::vector<std::uint64_t> cote_challenges(const crypto::ByteArray<32>& key, std::size_t n) {
  const std::size_t count = (n + 63) / 64;
  crypto::Blake3 h = crypto::Blake3::keyed(key);
  h.update(crypto::as_bytes(kCoteChallengeLabel)).update(crypto::as_bytes(kCoteConsistencyCheck));
  crypto::ChaCha20Rng rng(h.finalize());
  std::vector<std::uint64_t> out(count);
  std::uint64_t v = 0;
  std::uint64_t power = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (k % kCoteChallengeBatch == 0) {
      v = rng.next_u64();
      power = v;
    } else {
      power = crypto::gf64_mul(power, v);
    }
    out[k] = power;
  }
  return out;
}

crypto::ByteArray<16> gf4_universal_hash_v0(std::span<const std::uint64_t> challenges, const Gf4Vec& v) {
  return planes_to_bytes(gf4_hash_planes_v0(challenges, v));
}

crypto::ByteArray<32> cote_universal_hash_transcript(std::span<const crypto::ByteArray<16>, kPprfTrees> values) {
  crypto::Blake3 h = crypto::Blake3::derive_key(kCheckDigestContext);
  for (const auto& v : values) h.update(v);
  return h.finalize();
}

crypto::ByteArray<16> ote_uniform_hash(const crypto::ByteArray<32>& tau) {
  crypto::ByteArray<16> out{};
  crypto::chacha20_xor(tau, crypto::ByteArray<12>{}, 0, out);
  return out;
}

// ---------------------------------------------------------------- receiver

CoteReceiver::CoteReceiver(const FullPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count,
                           Transcript& transcript)
    : ot_count_(ot_count), rows_(cote_extended_rows(ot_count)) {
  transcript.append(trees.key());
  detail::ReceiverVole vole = detail::receiver_vole(trees, tag, rows_);
  correction_message_ = detail::correction_message(vole.u);
  auto decoded = detail::decode_corrections(correction_message_, rows_ / 64);
  absorb_corrections(transcript, *decoded);
  // Only the choice vector is needed from here on.
  u_.push_back(std::move(vole.u[kPprfTrees - 1]));
  v_ = std::move(vole.v);
}

std::expected<crypto::ByteArray<kCoteResponseSize>, RoteError> CoteReceiver::receive_seeds(
    crypto::ByteSpan payload, Transcript& transcript) {
  if (done_) panic("assertion failed: one seeds message per run");
  sised::Decoder d(payload);
  auto tau2 = d.read_array<32>();
  if (!tau2) return std::unexpected(comm_error<RoteError>(std::move(tau2.error())));
  auto tau1 = d.read_array<32>();
  if (!tau1) return std::unexpected(comm_error<RoteError>(std::move(tau1.error())));
  transcript.append(*tau2).append(*tau1);

  const std::vector<std::uint64_t> chi = cote_challenges(*tau2, rows_);
  const auto x = u_[0].words();
  std::uint64_t x_tilde = 0;
  for (std::size_t k = 0; k < x.size(); ++k) x_tilde ^= crypto::gf64_mul(chi[k], x[k]);
  std::array<crypto::ByteArray<16>, kPprfTrees> hashes;
  for (std::size_t t = 0; t < kPprfTrees; ++t) hashes[t] = gf4_universal_hash_v0(chi, v_[t]);
  const crypto::ByteArray<32> h = cote_universal_hash_transcript(hashes);
  transcript.append(x_tilde).append(h);

  crypto::ByteArray<kCoteResponseSize> response;
  store_le64(response.data(), x_tilde);
  std::memcpy(response.data() + 8, h.data(), 32);

  for (Gf4Vec& v : v_) v.truncate(rows_ - 64);
  const crypto::Gf128 s = crypto::Gf128::from_le_bytes(ote_uniform_hash(*tau1));
  output_.choices = ChoiceBits(ot_count_);
  output_.digests = OtDigests(ot_count_);
  detail::hash_rows(v_, s, true, ot_count_, output_.digests, nullptr, nullptr);
  for (std::size_t j = 0; j < ot_count_; ++j) {
    output_.choices.data()[j] = static_cast<std::uint8_t>((x[j / 64] >> (j % 64)) & 1u);
  }
  v_.clear();
  u_.clear();
  done_ = true;
  return response;
}

CoteReceiverOutput CoteReceiver::take_output() {
  if (!done_) panic("assertion failed: the outputs follow the seeds");
  return std::move(output_);
}

// ---------------------------------------------------------------- sender

CoteSender::CoteSender(const PuncturedPprfTrees& trees, crypto::ByteSpan tag, std::size_t ot_count,
                       Transcript& transcript)
    : delta_(trees.delta()),
      hashes_match_(trees.hashes_match()),
      ot_count_(ot_count),
      rows_(cote_extended_rows(ot_count)),
      w_(detail::sender_vole(trees, tag, cote_extended_rows(ot_count))) {
  transcript.append(trees.key());
  for (std::size_t t = 0; t < kPprfTrees; ++t) punctured_[t] = trees.punctured_index(t);
}

CoteSender::~CoteSender() {
  crypto::secure_wipe(punctured_.data(), punctured_.size());
  crypto::secure_wipe(&delta_, sizeof delta_);
  crypto::secure_wipe(check_planes_.data(), sizeof check_planes_);
}

std::expected<void, OteError> CoteSender::receive_corrections(crypto::ByteSpan payload, Transcript& transcript) {
  if (stage_ != 0) panic("assertion failed: one correction message per run");
  auto decoded = detail::decode_corrections(payload, rows_ / 64);
  if (!decoded) return std::unexpected(comm_error<OteError>(std::move(decoded.error())));
  if (!decoded->lengths_ok) return std::unexpected(OteError::InvalidPprfHash{});
  absorb_corrections(transcript, *decoded);
  detail::apply_corrections(w_, punctured_, *decoded);
  stage_ = 1;
  return {};
}

crypto::ByteArray<kCoteSeedsMessageSize> CoteSender::challenge_seeds(const crypto::ByteArray<32>& tau1,
                                                                     const crypto::ByteArray<32>& tau2,
                                                                     Transcript& transcript) {
  if (stage_ != 1) panic("assertion failed: the seeds follow the corrections");
  transcript.append(tau2).append(tau1);
  const std::vector<std::uint64_t> chi = cote_challenges(tau2, rows_);
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    check_planes_[t] = gf4_hash_planes_v0(chi, w_[t]);
    w_[t].truncate(rows_ - 64);
  }
  const crypto::Gf128 s = crypto::Gf128::from_le_bytes(ote_uniform_hash(tau1));
  output_ = CoteSenderOutput{delta_, OtDigests(ot_count_), OtDigests(ot_count_)};
  detail::hash_rows(w_, s, true, ot_count_, output_.digests0, &delta_, &output_.digests1);
  w_.clear();

  crypto::ByteArray<kCoteSeedsMessageSize> msg;
  std::memcpy(msg.data(), tau2.data(), 32);
  std::memcpy(msg.data() + 32, tau1.data(), 32);
  stage_ = 2;
  return msg;
}

std::expected<CoteSenderOutput, OteError> CoteSender::receive_response(crypto::ByteSpan payload,
                                                                       Transcript& transcript) {
  if (stage_ != 2) panic("assertion failed: the response follows the seeds");
  sised::Decoder d(payload);
  auto x_tilde = d.read_u64();
  if (!x_tilde) return std::unexpected(comm_error<OteError>(std::move(x_tilde.error())));
  auto h = d.read_array<32>();
  if (!h) return std::unexpected(comm_error<OteError>(std::move(h.error())));
  transcript.append(*x_tilde).append(*h);
  stage_ = 3;

  std::array<crypto::ByteArray<16>, kPprfTrees> hashes;
  for (std::size_t t = 0; t < kPprfTrees; ++t) {
    std::array<std::uint64_t, 2> s = check_planes_[t];
    s[0] ^= *x_tilde & word_mask(punctured_[t]);
    s[1] ^= *x_tilde & word_mask(punctured_[t] >> 1);
    hashes[t] = planes_to_bytes(s);
  }
  if (!hashes_match_) return std::unexpected(OteError::InvalidPprfHash{});
  const crypto::ByteArray<32> expected = cote_universal_hash_transcript(hashes);
  if (!crypto::ct_equal(expected, *h)) return std::unexpected(OteError::InvalidChallengeResponse{});
  return std::move(output_);
}

}  // namespace velto::ote
