#include "noise-kk/prims.hpp"

#include "crypto/chacha.hpp"
#include "crypto/hash.hpp"
#include "crypto/x25519.hpp"

namespace velto::noise {
namespace {

using Kind = NoiseError::Kind;

std::unexpected<NoiseError> fail(Kind kind) { return std::unexpected(NoiseError(kind)); }

// 32 zero bits, then n as 64-bit little-endian.
crypto::ByteArray<12> nonce_bytes(std::uint64_t n) noexcept {
  crypto::ByteArray<12> out{};
  for (std::size_t i = 0; i < 8; ++i) out[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  return out;
}

}  // namespace

SecretKey dh(const SecretKey& private_key, const crypto::ByteArray<32>& public_key) {
  SecretKey out;
  if (auto shared = crypto::x25519(private_key.array(), public_key)) {
    out = SecretKey(*shared);
    crypto::secure_wipe(shared->data(), shared->size());
  }
  // An all-zero shared secret stays all zero: it is used as it is.
  return out;
}

// ---------------------------------------------------------------------------
// CipherState

bool CipherState::has_key() const noexcept {
  std::uint8_t acc = 0;
  for (std::size_t i = 0; i < kKeyLen; ++i) acc |= k_[i];
  asm volatile("" : "+r"(acc));
  return acc != 0;
}

std::expected<void, NoiseError> CipherState::encrypt_with_ad(crypto::ByteSpan ad, crypto::MutByteSpan message) {
  if (n_ == kMaxNonce) return fail(Kind::ExhaustedNonceError);
  if (!has_key()) return fail(Kind::EmptyKeyError);
  if (message.size() < kTagLen) return fail(Kind::UnsupportedMessageLengthError);
  const crypto::ByteSpan plaintext = message.first(message.size() - kTagLen);
  crypto::chacha20poly1305_encrypt_into(k_.array(), nonce_bytes(n_), ad, plaintext, message);
  ++n_;
  return {};
}

std::expected<void, NoiseError> CipherState::decrypt_with_ad(crypto::ByteSpan ad, crypto::MutByteSpan message) {
  if (n_ == kMaxNonce) return fail(Kind::ExhaustedNonceError);
  if (!has_key()) return fail(Kind::EmptyKeyError);
  if (message.size() < kTagLen) return fail(Kind::UnsupportedMessageLengthError);
  if (!crypto::chacha20poly1305_decrypt_into(k_.array(), nonce_bytes(n_), ad, message,
                                             message.first(message.size() - kTagLen)))
    return fail(Kind::DecryptionError);
  ++n_;
  return {};
}

// ---------------------------------------------------------------------------
// SymmetricState

SymmetricState::SymmetricState() : h_(crypto::blake2s(crypto::as_bytes(kProtocolName))), ck_(h_) {}

void SymmetricState::mix_hash(crypto::ByteSpan data) {
  h_ = crypto::Blake2s().update(h_).update(data).finalize();
}

void SymmetricState::mix_key(crypto::ByteSpan ikm) {
  auto [ck, k] = crypto::hkdf_blake2s<2>(ck_.array(), ikm);
  ck_ = std::move(ck);
  cipher_ = CipherState(k);
}

std::expected<void, NoiseError> SymmetricState::encrypt_and_hash(crypto::MutByteSpan message) {
  if (auto ok = cipher_.encrypt_with_ad(h_, message); !ok) return ok;
  mix_hash(message);
  return {};
}

std::expected<void, NoiseError> SymmetricState::decrypt_and_hash(crypto::MutByteSpan message) {
  // h absorbs the ciphertext, which the in-place decryption overwrites:
  // hash it first, keep the result until the tag has verified.
  const crypto::ByteArray<kHashLen> next = crypto::Blake2s().update(h_).update(message).finalize();
  if (auto ok = cipher_.decrypt_with_ad(h_, message); !ok) return ok;
  h_ = next;
  return {};
}

std::pair<CipherState, CipherState> SymmetricState::split() const {
  const auto [k1, k2] = crypto::hkdf_blake2s<2>(ck_.array(), {});
  return {CipherState(k1), CipherState(k2)};
}

void SymmetricState::wipe_keys() noexcept {
  ck_.wipe();
  cipher_.clear();
}

}  // namespace velto::noise
