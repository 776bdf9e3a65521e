// Threshold ECDSA signing: presigning, the presignature record, the signing
// step and the sign handler.
//
// Presigning gives every signer i additive shares u_i of k·phi and v_i of
// x·phi, where k is a fresh nonce known to nobody (only R = k·G is public),
// phi a fresh mask known to nobody and x the group key. Each signer holds
// additive shares k_i, phi_i of k and phi and s_i of x (its Lagrange-weighted
// key share plus a zero share); every ordered pair (i, j) multiplies i's
// (k_i, s_i) by a random scalar chi_ij of j with one random VOLE, and j then
// tells i phi_j - chi_ij, which swaps the random scalar for j's mask share.
// Commitments to the nonce points, a pairwise check of every product in the
// exponent and a global check of the key shares stop a deviating signer.
//
// Signing then turns one presignature and the message hash into a partial
// signature (w_i, u_i) per signer and combines them (partial_sig.hpp) in one
// exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "sised/codec.hpp"
#include "sised/secp256k1_codec.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-ecdsa/partial_sig.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa {

// Child labels, part of the wire protocol.
inline constexpr std::string_view kSignerInitLabel = "ECDSA Signer Init";
inline constexpr std::string_view kSampleZetasLabel = "sample zetas";
inline constexpr std::string_view kRvolesInitLabel = "rvoles init";
inline constexpr std::string_view kPresignLabel = "ECDSA Presign";
inline constexpr std::string_view kCommitNoncesLabel = "commit R_i";
inline constexpr std::string_view kMultiplicationLabel = "alice bob samples";
inline constexpr std::string_view kSignLabel = "ECDSA Sign";
inline constexpr std::string_view kPresignRandomizerContext = "VELTO ECDSA HASH FOR PRESIGN RANDOMIZER V0";

// The most presignatures one presigning run makes.
inline constexpr std::size_t kMaxPresignatures = 100;

// ---------------------------------------------------------------------------
// Presign records.

// What signer i tells signer j about one presignature index b: gamma_u =
// c_ij[2b]·G, gamma_v = c_ij[2b+1]·G, i's public key share P_i[b] and psi =
// phi_i[b] - chi_ji. Wire form: the three points (33 bytes compressed each),
// then psi (32 bytes big-endian): 131 bytes.
struct PresignPairRecord {
  crypto::Point gamma_u;
  crypto::Point gamma_v;
  crypto::Point public_share;
  crypto::Scalar psi;
};

inline constexpr std::size_t kPresignPairRecordSize = 131;
// What one decoded record costs the heap budget of its message.
inline constexpr std::size_t kPresignPairRecordHeapSize = 296;

VELTO_SISED_RECORD(PresignPairRecord, gamma_u, gamma_v, public_share, psi)
VELTO_SISED_HEAP_SIZE(PresignPairRecord, kPresignPairRecordHeapSize)

// Item reader of a record sequence: three compressed points ("Invalid
// Compressed AffinePoint") and a scalar ("Invalid Scalar"); OutOfBounds when
// fewer than the bytes of a field are left.
std::expected<PresignPairRecord, sised::SisedError> read_point_scalar_seq_next(sised::Decoder& d);

// A whole presign message: varint count, charged 296 bytes per record before
// anything is read, then the records. Bytes after the last record are
// ignored.
std::expected<std::vector<PresignPairRecord>, sised::SisedError> decode_presign_records(crypto::ByteSpan payload);

// ---------------------------------------------------------------------------
// Presignatures.

// One signer's record of one presignature. Held in memory only; the scalars
// wipe themselves.
struct PreSignature {
  crypto::Scalar nonce_share;       // k_i
  crypto::Scalar mask_share;        // phi_i
  crypto::Scalar key_mask_share;    // v_i, share of x·phi
  crypto::Scalar nonce_mask_share;  // u_i, share of k·phi
  crypto::Point public_nonce;       // R = k·G
  crypto::ByteArray<32> keyshare_hash{};
  std::uint16_t signers = 0;
};

// The inputs of the combination, per index b of [first, last) and, for the
// per-peer lists, one entry per other signer in ascending id order.
struct PresignCombineInputs {
  std::span<const crypto::Point> own_nonce_points;                    // R_i[b]
  std::span<const std::vector<crypto::Point>> opened_nonce_points;    // per peer: R_j[b]
  std::span<const crypto::Scalar> mask_shares;                        // phi_i[b]
  std::span<const std::vector<PresignPairRecord>> received_records;   // per peer: j's records for i
  std::span<const std::vector<crypto::Scalar>> sender_outputs;        // per peer: c_ij, 2Q
  std::span<const std::vector<crypto::Scalar>> receiver_outputs;      // per peer: d_ji, 2Q
  std::span<const crypto::Scalar> nonce_shares;                       // k_i[b]
  std::span<const crypto::Scalar> key_shares;                         // s_i[b]
  const KeyPair* key_pair = nullptr;
  std::uint16_t signers = 0;
  std::size_t first = 0;
  std::size_t last = 0;
};

// Per index: R = R_i + sum of R_j; S = phi_i + sum of psi_ji; u = k_i·S +
// sum of c_ij[2b] + sum of d_ji[2b]; v = s_i·S + sum of c_ij[2b+1] + sum of
// d_ji[2b+1]. No failure: a list too short for an index is a bug (panic).
std::vector<PreSignature> combine_presignature(const PresignCombineInputs& in);

// The failure of presigning: the signer-init step's own error, or the
// presigning error of every later step.
using PresignFailure = std::variant<EcdsaSignerInitError, EcdsaPresignError>;

// The failure as a boxed error carrying it.
BoxedError box_presign_failure(PresignFailure failure);

// Presigning of `count` presignatures (1 to 100) on the session executor E,
// whose party list is the signing set. Opens E's children "ECDSA Signer
// Init" and "ECDSA Presign" (E stays usable for the signing step). Await it
// at once; E and the key pair must outlive the wait.
// Failures: any signer-init failure; RequestedPresignaturesExceedsAmount for
// a count above 100; CommunicationError (sends, commitment and record
// collection); AliceError and BobError (the two roles of a random VOLE);
// DecommitError; MaliciousMessage (an opening or record list of the wrong
// length, a failed pairwise check); GlobalCheckFailed (public key shares
// that do not add up to the group key).
boost::asio::awaitable<std::expected<std::vector<PreSignature>, PresignFailure>> ecdsa_presign(
    const ProtocolExecutor& session, const KeyPair& key_pair, std::size_t count);

// ---------------------------------------------------------------------------
// Signing.

// delta: BLAKE3 derive-key under "VELTO ECDSA HASH FOR PRESIGN RANDOMIZER V0"
// over message hash (32) ‖ R compressed (33) ‖ derivation tweak (32, big-
// endian), read big-endian and reduced once.
crypto::Scalar presign_randomizer(const crypto::ByteArray<32>& message_hash, const crypto::Point& public_nonce,
                                  const crypto::Scalar& tweak);

// This signer's partial signature from its presignature (shifted by
// delta / t so that every signer moves the nonce the same way). Errors,
// before anything is sent: KeyPairDoesNotMatchPreSignature when the key-share
// hash differs; Unknown when the hash reduces to 0 modulo n.
std::expected<PartialSignature, EcdsaSignError> make_partial_signature(const PreSignature& presignature,
                                                                       const KeyPair& key_pair,
                                                                       const crypto::ByteArray<32>& message_hash);

// The signing step on the session executor's child "ECDSA Sign": the own
// partial signature to every other signer, one from each of them (in arrival
// order), then the combination. Send and collection failures are
// CommunicationError. Await it at once.
boost::asio::awaitable<std::expected<RecoverableSignature, EcdsaSignError>> ecdsa_sign_from_presignature(
    const ProtocolExecutor& session, const PreSignature& presignature, const KeyPair& key_pair,
    const crypto::ByteArray<32>& message_hash);

// r (32) ‖ s (32) ‖ recovery id (1) ‖ DER(r, s).
crypto::Bytes signature_output_bytes(const RecoverableSignature& signature);

// The sign handler of the current protocol: a jointly generated session tag
// on the root executor (consumed), one presignature, the signing step, and
// the output bytes above. The error is boxed as it came: the tag
// generation's error, EcdsaSignerInitError, EcdsaPresignError or
// EcdsaSignError.
boost::asio::awaitable<std::expected<crypto::Bytes, BoxedError>> ecdsa_sign_handler_latest(
    ProtocolExecutor root, KeyPair key_pair, crypto::ByteArray<32> message_hash);

}  // namespace velto::ecdsa
