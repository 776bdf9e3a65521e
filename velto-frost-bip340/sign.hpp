// Threshold BIP340 signing: FROST over secp256k1 in BIP340 form, two rounds,
// no coordinator.
//
// Every party on the executor's party list signs. The rounds are the FROST
// rounds shared with the other Schnorr schemes (velto-frost-ed25519/
// sign_core.hpp) with this scheme's hashes (hashes.hpp) and BIP340's parity
// rules: the challenge term of a share is negated when the group key P has
// odd y, the nonce term when the group commitment R has odd y, so the sum is
// a signature under the x-only key of P with the even-y form of R. Before a
// signature is returned every party verifies it as a BIP340 verifier would.
// Shares are not checked one by one: a bad share or a disagreeing signer
// shows up as an invalid signature at every party.
//
// Messages (sised), under the executor's tag (no child is opened):
//   round 1, to all:  D ‖ E ‖ id      (33 + 33 + 2 = 68 bytes; points SEC1
//                                      compressed, the identity 33 zeros)
//   round 2, to all:  z_i ‖ R.x       (32 + 32 = 64 bytes)
// The executor's generator supplies two 32-byte nonce draws, hiding first.
#pragma once

#include <expected>
#include <optional>
#include <span>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/secp256k1.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-frost-bip340/hashes.hpp"
#include "velto-frost-bip340/keyshare.hpp"
#include "velto-frost-ed25519/error.hpp"
#include "velto-frost-ed25519/sign_types.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::frost {
// Wire forms of the two rounds (found by argument-dependent lookup, so they
// live beside the record templates).
VELTO_SISED_RECORD(bip340::Bip340SigningCommitment, hiding, binding, id)
using Bip340RoundTwo = BasicSignatureShare<crypto::ByteArray<32>, crypto::Scalar>;
VELTO_SISED_RECORD(Bip340RoundTwo, share, commitment)
}  // namespace velto::frost

namespace velto::bip340 {

using frost::Bip340SignError;

// Round 2: the signer's share z_i and the x coordinate of the group
// commitment R it computed.
using Bip340SignatureShare = frost::Bip340RoundTwo;

// A signer's two nonces; they wipe themselves.
struct Bip340SigningNonces {
  crypto::Scalar hiding;   // d
  crypto::Scalar binding;  // e
};

// One nonce: H3(32 bytes drawn from `rng` ‖ secret share).
template <class G>
crypto::Scalar bip340_nonce_generate(const crypto::Scalar& secret_share, G& rng) {
  crypto::SecretArray<32> random;
  rng.fill_bytes(random.mut_span());
  crypto::ByteArray<32> secret = secret_share.to_bytes();
  crypto::Scalar nonce = bip340_hash_nonce({random.span(), secret});
  crypto::secure_wipe(secret.data(), secret.size());
  return nonce;
}

// Both nonces, hiding first.
template <class G>
Bip340SigningNonces bip340_signing_nonces(const crypto::Scalar& secret_share, G& rng) {
  crypto::Scalar hiding = bip340_nonce_generate(secret_share, rng);
  crypto::Scalar binding = bip340_nonce_generate(secret_share, rng);
  return Bip340SigningNonces{hiding, binding};
}

// The binding factors (one per entry of `sorted`, in its order) and the group
// commitment R of a commitment list sorted by ascending id, under the group
// key as held.
using Bip340GroupCommitment = frost::BasicGroupCommitment<crypto::Point, crypto::Scalar>;
Bip340GroupCommitment bip340_group_commitment(const crypto::Point& group_key,
                                              std::span<const Bip340SigningCommitment> sorted,
                                              crypto::ByteSpan message);

// z_i = ±(d + e·rho_own) ± λ_own·s·c: the nonce term negated when R has odd
// y, the challenge term when the group key has odd y; c the BIP340 challenge
// of R.x, P.x and the message; λ over the ids of `sorted`.
crypto::Scalar bip340_signature_share(const Bip340KeyShare& share, const Bip340SigningNonces& nonces,
                                      std::span<const Bip340SigningCommitment> sorted,
                                      const crypto::Scalar& own_binding_factor, const crypto::Point& r,
                                      crypto::ByteSpan message);

// BIP340 verification of a 64-byte signature R.x ‖ s over `message` under
// the 32-byte x-only key: false for a key with no point, s not below n, or
// s·G − e·P at infinity, with odd y or with another x than R.x.
bool bip340_verify(const crypto::ByteArray<32>& x_only_key, crypto::ByteSpan message,
                   const crypto::ByteArray<64>& signature);

// One signer's side of a run on `executor` (consumed; released on every way
// out) with `share` over `message`; both are borrowed and must outlive the
// run. The result is the 64-byte signature R.x ‖ s. Errors:
//   CommunicationError      a send or receive failed, or a message did not
//                           decode (short, invalid point, zero id, z ≥ n)
//   ReceivedMaliciousdData  a round-1 message names another signer than its
//                           sender
//   InvalidSignature        a peer's R.x differs from the own, or the sum
//                           fails verification
boost::asio::awaitable<std::expected<crypto::ByteArray<64>, Bip340SignError>> frost_bip340_sign(
    ProtocolExecutor executor, const Bip340KeyShare& share, crypto::ByteSpan message);

}  // namespace velto::bip340
