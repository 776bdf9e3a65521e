#include "noise-kk/state.hpp"

#include <algorithm>

namespace velto::noise {
namespace {

using Kind = NoiseError::Kind;

std::unexpected<NoiseError> fail(Kind kind) { return std::unexpected(NoiseError(kind)); }

// The checks every message passes before anything changes.
std::expected<void, NoiseError> check_bounds(std::size_t len, MessageCounter counter, crypto::ByteSpan ad) {
  if (len < kTagLen || len > kMaxMessageLen) return fail(Kind::UnsupportedMessageLengthError);
  if (counter < 2 && !ad.empty()) return fail(Kind::InvalidInputError);
  return {};
}

}  // namespace

HandshakeState::HandshakeState(bool initiator, const NoiseKeyPair& s, const PublicKey& rs,
                               crypto::ByteSpan prologue)
    : s_(s), rs_(rs.bytes()), initiator_(initiator) {
  symmetric_.mix_hash(prologue);
  const crypto::ByteSpan own = s.public_key().span();
  const crypto::ByteSpan peer = rs.span();
  symmetric_.mix_hash(initiator ? own : peer);
  symmetric_.mix_hash(initiator ? peer : own);
}

const SecretKey& HandshakeState::ephemeral_private() const noexcept {
  // Until the first write creates it, the ephemeral key is all zero.
  static const SecretKey kNone;
  return e_ ? e_->private_key() : kNone;
}

std::expected<void, NoiseError> HandshakeState::write_message(crypto::MutByteSpan message,
                                                              crypto::ByteSpan ad) {
  if (auto ok = check_bounds(message.size(), counter_, ad); !ok) return ok;

  if (counter_ < 2) {
    if (message.size() < kHandshakeMessageLen) return fail(Kind::MissingneError);
    if (!e_) e_.emplace(generate_ephemeral());
    const auto& e_pub = e_->public_key().bytes();
    std::copy(e_pub.begin(), e_pub.end(), message.begin());
    symmetric_.mix_hash(e_pub);
    if (counter_ == 0) {
      symmetric_.mix_key(dh(e_->private_key(), rs_).span());  // es
      symmetric_.mix_key(dh(s_->private_key(), rs_).span());  // ss
    } else {
      symmetric_.mix_key(dh(e_->private_key(), re_).span());  // ee
      symmetric_.mix_key(dh(e_->private_key(), rs_).span());  // se
    }
    if (auto ok = symmetric_.encrypt_and_hash(message.subspan(kDhLen)); !ok) return ok;
    if (counter_ == 1) complete();
  } else {
    CipherState& sending = initiator_ ? c1_ : c2_;
    if (auto ok = sending.encrypt_with_ad(ad, message); !ok) return ok;
  }
  ++counter_;
  return {};
}

std::expected<void, NoiseError> HandshakeState::read_message(crypto::MutByteSpan message,
                                                             crypto::ByteSpan ad) {
  if (auto ok = check_bounds(message.size(), counter_, ad); !ok) return ok;

  if (counter_ < 2) {
    if (message.size() < kHandshakeMessageLen) return fail(Kind::MissingreError);
    crypto::ByteArray<32> re_bytes;
    std::copy_n(message.begin(), kDhLen, re_bytes.begin());
    const auto re = public_key_from_bytes(re_bytes);
    if (!re) return std::unexpected(re.error());
    re_ = re->bytes();
    symmetric_.mix_hash(re_);
    if (counter_ == 0) {
      symmetric_.mix_key(dh(s_->private_key(), re_).span());  // es
      symmetric_.mix_key(dh(s_->private_key(), rs_).span());  // ss
    } else {
      symmetric_.mix_key(dh(ephemeral_private(), re_).span());  // ee
      symmetric_.mix_key(dh(s_->private_key(), re_).span());    // se
    }
    if (auto ok = symmetric_.decrypt_and_hash(message.subspan(kDhLen)); !ok) return ok;
    if (counter_ == 1) complete();
  } else {
    CipherState& receiving = initiator_ ? c2_ : c1_;
    if (auto ok = receiving.decrypt_with_ad(ad, message); !ok) return ok;
  }
  ++counter_;
  return {};
}

void HandshakeState::complete() {
  auto [k1, k2] = symmetric_.split();
  c1_ = std::move(k1);
  c2_ = std::move(k2);
  symmetric_.wipe_keys();
  s_.reset();  // NoiseKeyPair wipes its private key
  e_.reset();
  crypto::secure_wipe(rs_.data(), rs_.size());
  crypto::secure_wipe(re_.data(), re_.size());
  is_transport_ = true;
}

}  // namespace velto::noise
