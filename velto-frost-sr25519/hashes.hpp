// The hashes of the sr25519 threshold protocols.
//
// Protocol hashes are SHA-512 over the ciphersuite prefix
// "FROST-RISTRETTO255-SHA512-v1", a short tag and the inputs, simply
// concatenated; scalar results read the 64-byte digest little-endian and
// reduce it modulo l. A party id enters a hash as its 32-byte scalar
// encoding. Key generation uses the tags "coeff", "nonce" and "PoDL"; signing
// "rho", "nonce", "msg" and "com", whose binding factor input starts with
// the group key (RFC 9591). The signature challenge is not one of them: it
// comes from the sr25519 signing transcript (Merlin, context "substrate"),
// so a threshold signature verifies as an ordinary sr25519 signature.
//
// The SHA-512 state that has absorbed prefix and tag is built once per
// process for each tag; a hash starts from a copy of it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/hash.hpp"
#include "crypto/ristretto255.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-ed25519/sign_types.hpp"

namespace velto::frost {

inline constexpr std::string_view kSr25519CiphersuitePrefix = "FROST-RISTRETTO255-SHA512-v1";
// The signing context under which every sr25519 signature of this library
// is made.
inline constexpr std::string_view kSr25519SigningContext = "substrate";

enum class Sr25519HashTag : std::uint8_t { Coeff, Nonce, Podl, Rho, Msg, Com };
std::string_view sr25519_hash_tag(Sr25519HashTag tag) noexcept;

// The SHA-512 state that has absorbed prefix and tag; built on first use,
// published lock-free, never changed afterwards.
const crypto::Sha512& sr25519_prepared_state(Sr25519HashTag tag);

// "coeff" ‖ context ‖ random ‖ a0: a polynomial coefficient of degree ≥ 1.
crypto::EdScalar sr25519_hash_coeff(const crypto::ByteArray<32>& context, crypto::ByteSpan random,
                                    const crypto::EdScalar& a0);

// "nonce" ‖ the parts in order. Key generation feeds context, 32 random
// bytes and a0; signing 32 random bytes and the secret share.
crypto::EdScalar sr25519_hash_nonce(std::initializer_list<crypto::ByteSpan> parts);

// "PoDL" ‖ id ‖ context ‖ A0 ‖ R: the challenge of the proof of knowledge
// of a key-generation constant term.
crypto::EdScalar sr25519_hash_podl(PartyId id, const crypto::ByteArray<32>& context,
                                   const crypto::RistrettoPoint& constant_commitment,
                                   const crypto::RistrettoPoint& proof_point);

// "msg" ‖ message: the 64-byte digest, not reduced.
crypto::ByteArray<64> sr25519_hash_msg(crypto::ByteSpan message);

// One signer's entry of the signing commitment list (and its round-1
// message): hiding commitment D, binding commitment E, id.
using Sr25519SigningCommitment = BasicSigningCommitment<crypto::RistrettoPoint>;

// "com" ‖ per entry in list order: id ‖ D ‖ E (96 bytes each).
crypto::ByteArray<64> sr25519_hash_com(std::span<const Sr25519SigningCommitment> list);

// The binding factors of one signing run: "rho" ‖ Y ‖ message digest ‖
// commitment digest ‖ id. The common part is absorbed once; each signer's
// factor continues from a copy of that state.
class Sr25519BindingFactorHasher {
 public:
  Sr25519BindingFactorHasher(const crypto::RistrettoPoint& group_key, const crypto::ByteArray<64>& msg_digest,
                             const crypto::ByteArray<64>& com_digest);
  crypto::EdScalar factor(PartyId id) const noexcept;

 private:
  crypto::Sha512 state_;
};

// The sr25519 signature challenge for key Y, nonce point R and message m:
// the signing transcript "SigningContext" with context "substrate",
// "sign-bytes" m, "proto-name" "Schnorr-sig", "sign:pk" Y, "sign:R" R, and
// 64 challenge bytes "sign:c" reduced modulo l.
crypto::EdScalar sr25519_signing_challenge(const crypto::RistrettoPoint& group_key, const crypto::RistrettoPoint& r,
                                           crypto::ByteSpan message);

// The id as a scalar and its 32-byte encoding (the id little-endian in
// bytes 0 and 1, zeros after).
crypto::EdScalar sr25519_id_scalar(PartyId id) noexcept;
crypto::ByteArray<32> sr25519_id_bytes(PartyId id) noexcept;

}  // namespace velto::frost
