// Partial signatures and their combination into an ordinary secp256k1 ECDSA
// signature.
//
// Every signer's partial signature carries its shares w_i and u_i of the
// numerator phi·(m + r·x) and of the denominator phi·k, plus what the
// signers must agree on (public nonce, public key, message hash, number of
// signers). The combination checks that agreement, divides the sums,
// normalises s to the lower half of the group order with the matching
// recovery id, and accepts the result only when public-key recovery from it
// gives back the group key.
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/error.hpp"

namespace velto::ecdsa {

inline constexpr std::string_view kInvalidNumberOfParties = "Invalid number of parties";

// One signer's contribution. Wire form (164 bytes): w (32, big-endian, below
// n), u (32), public nonce (33, SEC1 compressed), public key (33, kept as
// bytes), message hash (32), required (u16 little-endian, 1 to 8192). Bytes
// after the 164th are ignored.
struct PartialSignature {
  crypto::Scalar w;
  crypto::Scalar u;
  crypto::Point public_nonce;
  crypto::ByteArray<33> public_key{};
  crypto::ByteArray<32> message_hash{};
  std::uint16_t required = 0;
};

inline constexpr std::size_t kPartialSignatureSize = 164;

// An ECDSA signature with its recovery id (bit 0: y parity of the nonce point
// after normalisation, bit 1: the nonce's x was not below n).
struct RecoverableSignature {
  crypto::Scalar r;
  crypto::Scalar s;
  std::uint8_t recovery_id = 0;
};

// Combines the own partial signature (first) with the other signers' (in any
// order). Errors, in the order checked:
// - PartialSignatureError InsufficientPartialSignatures: empty input, or a
//   number of others other than own required - 1;
// - per other signature: PublicKeyMismatch, MessageHashMismatch,
//   PublicNonceMismatch, PartialSignaturesRequiredMismatch;
// - ZeroPhiK when the u sum to 0;
// - Unknown when the result fails the final check (r or s zero, no key for r
//   and the recovery id, verification failure, or a recovered key other than
//   the own public key).
std::expected<RecoverableSignature, EcdsaSignError> combine_partial_signatures(
    std::span<const PartialSignature> signatures);

}  // namespace velto::ecdsa

namespace velto::sised {

template <>
struct Codec<ecdsa::PartialSignature> {
  static constexpr std::size_t fixed_size = ecdsa::kPartialSignatureSize;
  static void encode(Sink& s, const ecdsa::PartialSignature& v) {
    Codec<crypto::Scalar>::encode(s, v.w);
    Codec<crypto::Scalar>::encode(s, v.u);
    Codec<crypto::Point>::encode(s, v.public_nonce);
    s.write(v.public_key);
    s.write(v.message_hash);
    write_u16(s, v.required);
  }
  static std::expected<ecdsa::PartialSignature, SisedError> decode(Decoder& d) {
    ecdsa::PartialSignature out;
    auto w = Codec<crypto::Scalar>::decode(d);
    if (!w) return std::unexpected(std::move(w.error()));
    out.w = *w;
    auto u = Codec<crypto::Scalar>::decode(d);
    if (!u) return std::unexpected(std::move(u.error()));
    out.u = *u;
    auto nonce = Codec<crypto::Point>::decode(d);
    if (!nonce) return std::unexpected(std::move(nonce.error()));
    out.public_nonce = *nonce;
    if (auto r = d.read_into(out.public_key); !r) return std::unexpected(std::move(r.error()));
    if (auto r = d.read_into(out.message_hash); !r) return std::unexpected(std::move(r.error()));
    auto required = d.read_u16();
    if (!required) return std::unexpected(std::move(required.error()));
    if (*required == 0 || *required > 8192) return std::unexpected(SisedError::custom(ecdsa::kInvalidNumberOfParties));
    out.required = *required;
    return out;
  }
};

}  // namespace velto::sised
