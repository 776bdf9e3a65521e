// Threshold sr25519 signing: FROST over ristretto255, two rounds, no
// coordinator, with the sr25519 signing transcript as the challenge.
//
// Every party on the executor's party list signs. Each draws a hiding and a
// binding nonce (d_i, e_i) and sends their commitments to all (round 1);
// from the sorted commitment list all compute the binding factors rho_j
// (RFC 9591, input Y ‖ H4(m) ‖ H5(list) ‖ j), the group commitment
// R = Σ D_j + Σ rho_j·E_j and the transcript challenge c; each sends its
// share z_i = d_i + e_i·rho_i + λ_i·x_i·c with the R it computed (round 2);
// all add the shares and verify the result as an sr25519 verifier does
// before returning it. Shares are not checked one by one (there are no
// per-party verifying keys in the wire protocol): a bad share or a
// disagreeing signer shows up as an invalid signature at every party.
//
// Messages (sised), under the executor's tag (no child is opened):
//   round 1, to all:  D ‖ E ‖ id     (66 bytes)
//   round 2, to all:  z_i ‖ R        (64 bytes)
// The executor's generator supplies two 32-byte nonce draws, hiding first.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <utility>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/ed25519.hpp"
#include "crypto/ristretto255.hpp"
#include "crypto/secret.hpp"
#include "sised/codec.hpp"
#include "sised/ed25519_codec.hpp"
#include "sised/party_id.hpp"
#include "sised/ristretto255_codec.hpp"
#include "velto-frost-sr25519/error.hpp"
#include "velto-frost-sr25519/hashes.hpp"
#include "velto-frost-sr25519/keyshare.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::frost {

VELTO_SISED_RECORD(Sr25519SigningCommitment, hiding, binding, id)

// Round 2: the signer's share z_i and the group commitment R it computed.
using Sr25519SignatureShare = BasicSignatureShare<crypto::RistrettoPoint>;
VELTO_SISED_RECORD(Sr25519SignatureShare, share, commitment)

// A signer's two nonces (d, e); they wipe themselves.
using Sr25519SigningNonces = SigningNonces;

// One nonce: H3(32 bytes drawn from `rng` ‖ secret share). Hiding first.
template <class G>
crypto::EdScalar sr25519_nonce_generate(const crypto::EdScalar& secret_share, G& rng) {
  crypto::SecretArray<32> random;
  rng.fill_bytes(random.mut_span());
  return sr25519_hash_nonce({random.span(), secret_share.as_span()});
}

template <class G>
Sr25519SigningNonces sr25519_signing_nonces(const crypto::EdScalar& secret_share, G& rng) {
  crypto::EdScalar hiding = sr25519_nonce_generate(secret_share, rng);
  crypto::EdScalar binding = sr25519_nonce_generate(secret_share, rng);
  return Sr25519SigningNonces{std::move(hiding), std::move(binding)};
}

// The binding factors (one per entry of `sorted`, in its order) and the
// group commitment of a commitment list sorted by ascending id.
using Sr25519GroupCommitment = BasicGroupCommitment<crypto::RistrettoPoint>;
Sr25519GroupCommitment sr25519_group_commitment(const crypto::RistrettoPoint& group_key,
                                                std::span<const Sr25519SigningCommitment> sorted,
                                                crypto::ByteSpan message);

// z_i = d + e·rho_own + λ_own·x_i·c, c the transcript challenge for (Y, R,
// m), λ over the ids of `sorted`.
crypto::EdScalar sr25519_signature_share(const Sr25519KeyShare& share, const Sr25519SigningNonces& nonces,
                                         std::span<const Sr25519SigningCommitment> sorted,
                                         const crypto::EdScalar& own_binding_factor,
                                         const crypto::RistrettoPoint& r, crypto::ByteSpan message);

// The 64-byte signature R ‖ s with bit 7 of byte 63 set (the sr25519 marker).
crypto::ByteArray<64> sr25519_signature_bytes(const crypto::RistrettoPoint& r, const crypto::EdScalar& s);

// sr25519 verification (context "substrate") of a 64-byte signature: the
// marker bit must be set, s (marker cleared) canonical, R a point, and
// k·(−Y) + s·B must encode to R's bytes, k the transcript challenge.
bool sr25519_verify(const crypto::RistrettoPoint& group_key, crypto::ByteSpan message,
                    const crypto::ByteArray<64>& signature);

// One signer's side of a run on `executor` (consumed; released on every way
// out) with `share` over `message`; both are borrowed and must outlive the
// run. The result is the 64-byte signature. Errors (ProtocolRunError over
// FrostSignError):
//   CommunicationError         a send or receive failed, or a message did
//                              not decode (short, invalid point, zero id,
//                              non-canonical scalar)
//   ReceivedMaliciousdData     a round-1 message names another signer than
//                              its sender
//   Inner(InvalidSignature)    a peer's R differs from the own R, or the sum
//                              fails verification
boost::asio::awaitable<std::expected<crypto::ByteArray<64>, Sr25519SignRunError>> sr25519_threshold_sign(
    ProtocolExecutor executor, const Sr25519KeyShare& share, crypto::ByteSpan message);

}  // namespace velto::frost
