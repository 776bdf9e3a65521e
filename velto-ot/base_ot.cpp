#include "velto-ot/base_ot.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "crypto/blake3.hpp"

namespace velto::ot {
namespace {

// derive-key "UC_TAG VELTO v0.1" over parent || suffix.
crypto::ByteArray<32> derive_tag(const crypto::ByteArray<32>& parent, crypto::ByteSpan suffix) {
  static const crypto::Blake3 kBase = crypto::Blake3::derive_key(kUcTagContext);
  crypto::Blake3 h = kBase;
  h.update(parent);
  h.update(suffix);
  return h.finalize();
}

// The per-OT tags of one batch: the prefix child(child(T, "EKE"), "ID") is
// the same for every OT and computed once.
class KaTags {
 public:
  explicit KaTags(const UcTag& t) : id_(derive_child_uc_tag(derive_child_uc_tag(t, "EKE"), "ID")) {}

  // B_i = child(N_i, "BIT"), the tag both bits of OT i are derived from.
  crypto::ByteArray<32> bit_parent(std::uint64_t i) const {
    if (i > 0xFFFF'FFFFu) velto::panic("Failed to serialize tag");
    crypto::ByteArray<4> index;
    for (std::size_t j = 0; j < 4; ++j) index[j] = static_cast<std::uint8_t>(i >> (8 * j));
    const UcTag n_i(derive_tag(id_.bytes(), index));
    return derive_child_uc_tag(n_i, "BIT").bytes();
  }

  // The tag of bit b (only its low bit counts), from bit_parent(i).
  static crypto::ByteArray<32> for_bit(const crypto::ByteArray<32>& bit_parent, std::uint8_t b) {
    const std::uint8_t bit = b & 1;
    return derive_tag(bit_parent, {&bit, 1});
  }

 private:
  UcTag id_;
};

// A vector of 32-byte values that wipes itself: scalars, shared points.
class WipedArrays {
 public:
  explicit WipedArrays(std::size_t n) : v_(n) {}
  WipedArrays(const WipedArrays&) = delete;
  WipedArrays& operator=(const WipedArrays&) = delete;
  ~WipedArrays() { crypto::secure_wipe(v_.data(), v_.size() * 32); }

  crypto::ByteArray<32>& operator[](std::size_t i) noexcept { return v_[i]; }
  std::span<crypto::ByteArray<32>> span() noexcept { return v_; }

 private:
  std::vector<crypto::ByteArray<32>> v_;
};

crypto::ByteArray<32> array32(crypto::ByteSpan s) noexcept {
  crypto::ByteArray<32> out;
  std::copy_n(s.begin(), 32, out.begin());
  return out;
}

}  // namespace

crypto::ByteArray<32> base_ot_ka_tag(const UcTag& t, std::uint64_t i, std::uint8_t b) {
  return KaTags::for_bit(KaTags(t).bit_parent(i), b);
}

crypto::ByteArray<32> moller_ka_key(const crypto::ByteArray<32>& tag, const crypto::ByteArray<32>& shared) noexcept {
  static const crypto::Blake3 kBase = crypto::Blake3::derive_key(kMollerKaContext);
  crypto::Blake3 h = kBase;
  h.update(tag);
  h.update(shared);
  return h.finalize();
}

crypto::ByteArray<32> batch_ot_key(const crypto::ByteArray<64>& sender_message,
                                   crypto::ByteSpan receiver_values) noexcept {
  crypto::Blake3 h = crypto::Blake3::derive_key(kBatchOtKeyContext);
  h.update(sender_message);
  h.update(receiver_values);
  return h.finalize();
}

crypto::ByteArray<64> BaseOtSenderMessage::bytes() const noexcept {
  crypto::ByteArray<64> out;
  std::copy(curve_point.begin(), curve_point.end(), out.begin());
  std::copy(twist_point.begin(), twist_point.end(), out.begin() + 32);
  return out;
}

std::expected<BaseOtSenderMessage, BaseOtError> decode_sender_message(crypto::ByteSpan payload) {
  auto m = sised::decode<BaseOtSenderMessage>(payload);
  if (!m) return std::unexpected(BaseOtError(BaseOtError::CommunicationError{box_error<sised::SisedError>(m.error())}));
  return *m;
}

std::expected<BaseOtReceiverMessage, BaseOtError> decode_receiver_message(crypto::ByteSpan payload) {
  auto m = sised::decode<BaseOtReceiverMessage>(payload);
  if (!m) return std::unexpected(BaseOtError(BaseOtError::CommunicationError{box_error<sised::SisedError>(m.error())}));
  if (m->values.size() % 32 != 0 || m->values.size() != kBaseOtReceiverValuesSize) {
    return std::unexpected(BaseOtError(BaseOtError::InvalidMessageSizeError{}));
  }
  return std::move(*m);
}

// --- sender ---

BaseOtSender::BaseOtSender(const crypto::SecretArray<32>& a) : a_(a) {
  a_[0] &= 0x7F;
  const std::array<crypto::ByteArray<32>, 2> bases = {kCurveBasePoint, kTwistBasePoint};
  std::array<crypto::ByteArray<32>, 2> points;
  moller_ladder_batch(bases, {&a_.array(), 1}, points);
  message_.curve_point = points[0];
  message_.twist_point = points[1];
}

std::expected<BaseOtSenderOutput, BaseOtError> BaseOtSender::derive_keys(const UcTag& t,
                                                                         crypto::ByteSpan receiver_values) const {
  if (receiver_values.size() % 32 != 0 || receiver_values.size() != kBaseOtReceiverValuesSize) {
    return std::unexpected(BaseOtError(BaseOtError::InvalidMessageSizeError{}));
  }
  // y_ib = POPF_b(r_i) for both bits, then z_ib = a * y_ib in one batch.
  constexpr std::size_t n = 2 * kBaseOtBatchSize;
  std::vector<crypto::ByteArray<32>> y(n);
  for (std::size_t i = 0; i < kBaseOtBatchSize; ++i) {
    const PopfKeys keys = popf_keys(t.bytes(), i);
    const crypto::ByteArray<32> r = array32(receiver_values.subspan(32 * i, 32));
    y[2 * i] = popf_apply(keys, r, 0);
    y[2 * i + 1] = popf_apply(keys, r, 1);
  }
  WipedArrays z(n);
  moller_ladder_batch(y, {&a_.array(), 1}, z.span());

  const KaTags tags(t);
  BaseOtSenderOutput out;
  std::uint8_t* dst = out.bytes_.data();
  for (std::size_t i = 0; i < kBaseOtBatchSize; ++i) {
    const crypto::ByteArray<32> bit_parent = tags.bit_parent(i);
    for (std::uint8_t b = 0; b < 2; ++b) {
      crypto::SecretArray<32> k(moller_ka_key(KaTags::for_bit(bit_parent, b), z[2 * i + b]));
      std::copy(k.span().begin(), k.span().end(), dst + BaseOtSenderOutput::kRecordSize * i + 32 * b);
    }
  }
  return out;
}

// --- receiver ---

void BaseOtReceiverDraws::add(std::size_t i, const crypto::SecretArray<32>& s, std::uint8_t f,
                              std::uint8_t c) noexcept {
  crypto::SecretArray<34>& slot = secrets_[i];
  std::copy(s.span().begin(), s.span().end(), slot.data());
  slot[0] &= 0x7F;
  slot[32] = f & 1;
  slot[33] = c & 1;
}

BaseOtReceiver::BaseOtReceiver(const UcTag& t, const BaseOtReceiverDraws& draws) : tag_(t), draws_(draws) {
  constexpr std::size_t n = kBaseOtBatchSize;
  const auto& secrets = draws_.secrets_;
  message_.values.resize(kBaseOtReceiverValuesSize);
  WipedArrays base(n);
  WipedArrays s(n);
  for (std::size_t i = 0; i < n; ++i) {
    base[i] = kTwistBasePoint;
    ct_select32(base[i], kCurveBasePoint, secrets[i][32]);
    std::copy_n(secrets[i].data(), 32, s[i].begin());
  }
  WipedArrays p(n);
  moller_ladder_batch(base.span(), s.span(), p.span());
  for (std::size_t i = 0; i < n; ++i) {
    const crypto::ByteArray<32> r = popf_apply(popf_keys(tag_.bytes(), i), p[i], secrets[i][33]);
    std::copy(r.begin(), r.end(), message_.values.begin() + static_cast<std::ptrdiff_t>(32 * i));
  }
}

BaseOtReceiverOutput BaseOtReceiver::derive_keys(const BaseOtSenderMessage& sender_message) const {
  constexpr std::size_t n = kBaseOtBatchSize;
  const auto& secrets = draws_.secrets_;
  // A = A_c for a curve secret, A_t for a twist secret; z_i = s_i * A.
  WipedArrays a(n);
  WipedArrays s(n);
  for (std::size_t i = 0; i < n; ++i) {
    a[i] = sender_message.twist_point;
    ct_select32(a[i], sender_message.curve_point, secrets[i][32]);
    std::copy_n(secrets[i].data(), 32, s[i].begin());
  }
  WipedArrays z(n);
  moller_ladder_batch(a.span(), s.span(), z.span());

  const KaTags tags(tag_);
  BaseOtReceiverOutput out;
  std::uint8_t* dst = out.bytes_.data();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = secrets[i][33];
    crypto::SecretArray<32> k(moller_ka_key(KaTags::for_bit(tags.bit_parent(i), c), z[i]));
    std::uint8_t* rec = dst + BaseOtReceiverOutput::kRecordSize * i;
    std::copy(k.span().begin(), k.span().end(), rec);
    rec[32] = c;
  }
  return out;
}

}  // namespace velto::ot

namespace velto::sised {

std::expected<ot::BaseOtSenderMessage, SisedError> Codec<ot::BaseOtSenderMessage>::decode(Decoder& d) {
  auto curve = d.read_array<32>();
  if (!curve) return std::unexpected(std::move(curve.error()));
  auto twist = d.read_array<32>();
  if (!twist) return std::unexpected(std::move(twist.error()));
  if (!ot::has_edwards_image(*curve) || ot::has_edwards_image(*twist)) {
    return std::unexpected(SisedError::custom(ot::kWrongCurveText));
  }
  return ot::BaseOtSenderMessage{*curve, *twist};
}

}  // namespace velto::sised
