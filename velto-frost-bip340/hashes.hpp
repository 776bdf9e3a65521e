// The hashes of BIP340 threshold signing.
//
// Nonces, binding factors and the commitment-list digest are those of FROST
// over secp256k1 with SHA-256, under the context "FROST-secp256k1-SHA256-v1":
//   H1 (binding factor)  hash_to_field with expand_message_xmd(SHA-256), tag
//                        context ‖ "rho", 48 bytes read big-endian mod n
//   H3 (nonce)           the same with tag context ‖ "nonce"
//   H4 (message)         SHA-256(context ‖ "msg" ‖ m)
//   H5 (commitments)     SHA-256(context ‖ "com" ‖ encoded list)
// The signature challenge is BIP340's tagged hash
//   SHA-256(T ‖ T ‖ R.x ‖ P.x ‖ m) mod n,  T = SHA-256("BIP0340/challenge"),
// so an aggregated signature is an ordinary BIP340 signature.
//
// The SHA-256 states after the constant prefixes of H4, H5 and the challenge
// are built once per process; every hash continues from a copy.
#pragma once

#include <initializer_list>
#include <span>
#include <string_view>

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/party_id.hpp"
#include "velto-frost-ed25519/sign_types.hpp"

namespace velto::bip340 {

inline constexpr std::string_view kBip340Context = "FROST-secp256k1-SHA256-v1";

// A signer's entry of the commitment list: hiding commitment D, binding
// commitment E, id.
using Bip340SigningCommitment = frost::BasicSigningCommitment<crypto::Point>;

// A party id as a scalar, and its 32-byte big-endian encoding.
crypto::Scalar bip340_id_scalar(PartyId id) noexcept;
crypto::ByteArray<32> bip340_id_bytes(PartyId id) noexcept;

// H1 and H3 over the concatenation of `parts`.
crypto::Scalar bip340_hash_rho(std::initializer_list<crypto::ByteSpan> parts);
crypto::Scalar bip340_hash_nonce(std::initializer_list<crypto::ByteSpan> parts);

// H4 and H5.
crypto::ByteArray<32> bip340_hash_msg(crypto::ByteSpan message);
crypto::ByteArray<32> bip340_hash_com(std::span<const Bip340SigningCommitment> sorted);

// The binding factors of one signing run: H1(P compressed ‖ msg digest ‖
// commitment digest ‖ id), P the group key exactly as held (its own parity
// prefix).
class Bip340BindingFactorHasher {
 public:
  Bip340BindingFactorHasher(const crypto::Point& group_key, const crypto::ByteArray<32>& msg_digest,
                            const crypto::ByteArray<32>& com_digest);
  crypto::Scalar factor(PartyId id) const;

 private:
  crypto::ByteArray<33> group_key_;
  crypto::ByteArray<32> msg_digest_;
  crypto::ByteArray<32> com_digest_;
};

// The BIP340 challenge of R.x, P.x and m.
crypto::Scalar bip340_challenge_hash(const crypto::ByteArray<32>& r_x, const crypto::ByteArray<32>& p_x,
                                     crypto::ByteSpan message);

}  // namespace velto::bip340
