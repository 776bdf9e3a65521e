// Version 1.1.0 signing: one run, no presignatures.
//
// On the root executor (consumed): a jointly generated tag; under it
// "ECDSA Signer Init" / "SIGNING INIT TO MODULAR INVERSE INIT", the pairwise
// set-ups (mul_setup.hpp); under "ECDSA Sign", the modular inverse
// (R and shares w_i of k^-1, modular_inverse.hpp), the key multiplication
// (one input-and-adjust step of two products per pair: v_i shares k^-1·x),
// the committed Gammas on "SIGN TO COMMIT GAMMAS" (Σ w_i·PK − v_i·G must be
// the identity and Σ v_i·R must be PK), and the signature shares
// s_i = m·w_i + r·v_i. Every party sums them, takes the low s with its
// recovery id, verifies, and returns r ‖ s ‖ recovery id ‖ DER.
#pragma once

#include <expected>
#include <string_view>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa::legacy {

inline constexpr std::string_view kSigningInitToInverseLabel = "SIGNING INIT TO MODULAR INVERSE INIT";
inline constexpr std::string_view kCommitGammasLabel = "SIGN TO COMMIT GAMMAS";

// Signs `message_hash` with the (derived) key pair's share and public key,
// every party of the root executor's list taking part. The error is boxed as
// the failing step gives it:
//   the joint tag's error;
//   SignerInitError (a pair's set-up);
//   EcdsaPresignInitError: SampleError (the modular inverse), InputAndAdjust
//     (the key multiplication), CommunicationError / DecommitError (the Gamma
//     rounds), Unknown (the Gamma sums);
//   EcdsaSignErrorV4: Unknown (a hash that is zero modulo n, checked before
//     any share is sent; or a signature that does not verify),
//     CommunicationError (the signature shares).
// Await it at once: the key pair is read while the run is under way.
boost::asio::awaitable<std::expected<crypto::Bytes, BoxedError>> ecdsa_sign_v4(ProtocolExecutor root,
                                                                             const KeyPair& key_pair,
                                                                             crypto::ByteArray<32> message_hash);

}  // namespace velto::ecdsa::legacy
