#include "velto-ecdsa/partial_sig.hpp"

#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include <algorithm>

namespace velto::ecdsa {

namespace {

using crypto::Point;
using crypto::Scalar;

// The group order n, big-endian.
constexpr crypto::ByteArray<32> kOrder = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xBA, 0xAE, 0xDC, 0xE6, 0xAF, 0x48,
                                          0xA0, 0x3B, 0xBF, 0xD2, 0x5E, 0x8C, 0xD0, 0x36, 0x41, 0x41};

EcdsaSignError partial_error(PartialSignatureError::Kind kind) {
  return EcdsaSignError::PartialSignatureError{PartialSignatureError(kind)};
}

// The final check: the key recovered from (r, s, recovery id) and the hash
// verifies the signature and equals the own public key.
bool recovers_public_key(const RecoverableSignature& sig, const crypto::ByteArray<33>& public_key,
                         const crypto::ByteArray<32>& message_hash) {
  const secp256k1_context* ctx = crypto::secp256k1_ctx();
  const std::optional<Point> expected = Point::from_sec1_strict(public_key);
  if (!expected) return false;
  if (sig.r.is_zero() || sig.s.is_zero()) return false;

  crypto::ByteArray<64> compact;
  const auto r = sig.r.to_bytes();
  const auto s = sig.s.to_bytes();
  std::copy(r.begin(), r.end(), compact.begin());
  std::copy(s.begin(), s.end(), compact.begin() + 32);

  secp256k1_ecdsa_recoverable_signature recoverable;
  if (secp256k1_ecdsa_recoverable_signature_parse_compact(ctx, &recoverable, compact.data(), sig.recovery_id) != 1) {
    return false;
  }
  secp256k1_pubkey recovered;
  if (secp256k1_ecdsa_recover(ctx, &recovered, &recoverable, message_hash.data()) != 1) return false;
  secp256k1_ecdsa_signature plain;
  if (secp256k1_ecdsa_signature_parse_compact(ctx, &plain, compact.data()) != 1) return false;
  if (secp256k1_ecdsa_verify(ctx, &plain, message_hash.data(), &recovered) != 1) return false;
  return Point::from_raw(recovered) == *expected;
}

}  // namespace

std::expected<RecoverableSignature, EcdsaSignError> combine_partial_signatures(
    std::span<const PartialSignature> signatures) {
  using Kind = PartialSignatureError::Kind;
  if (signatures.empty()) return std::unexpected(partial_error(Kind::InsufficientPartialSignatures));
  const PartialSignature& own = signatures.front();
  const auto others = signatures.subspan(1);
  if (others.size() != static_cast<std::uint16_t>(own.required - 1)) {
    return std::unexpected(partial_error(Kind::InsufficientPartialSignatures));
  }

  Scalar w_sum = own.w;
  Scalar u_sum = own.u;
  for (const PartialSignature& other : others) {
    if (other.public_key != own.public_key) return std::unexpected(partial_error(Kind::PublicKeyMismatch));
    if (other.message_hash != own.message_hash) return std::unexpected(partial_error(Kind::MessageHashMismatch));
    if (!(other.public_nonce == own.public_nonce)) return std::unexpected(partial_error(Kind::PublicNonceMismatch));
    if (other.required != own.required) {
      return std::unexpected(partial_error(Kind::PartialSignaturesRequiredMismatch));
    }
    w_sum += other.w;
    u_sum += other.u;
  }
  if (u_sum.is_zero()) return std::unexpected(EcdsaSignError::ZeroPhiK{});

  RecoverableSignature sig;
  sig.s = w_sum * u_sum.invert();

  const crypto::ByteArray<32> x = own.public_nonce.x_bytes();
  const bool x_overflow = !std::lexicographical_compare(x.begin(), x.end(), kOrder.begin(), kOrder.end());
  sig.r = Scalar::from_bytes_reduced(x);
  const bool y_odd = !own.public_nonce.has_even_y();
  const bool flip = sig.s.is_high();
  sig.s = Scalar::select(sig.s, -sig.s, flip);
  sig.recovery_id = static_cast<std::uint8_t>((x_overflow ? 2 : 0) | ((y_odd != flip) ? 1 : 0));

  if (!recovers_public_key(sig, own.public_key, own.message_hash)) return std::unexpected(EcdsaSignError::Unknown{});
  return sig;
}

}  // namespace velto::ecdsa
