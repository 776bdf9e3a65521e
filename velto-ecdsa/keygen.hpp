// Distributed key generation of threshold ECDSA keys.
//
// Every party deals a random polynomial of degree t − 1 by sending each
// other party its evaluation at that party's id, sums what it receives into
// its share x_i, proves knowledge of x_i with a committed Schnorr proof, and
// checks that all public shares X_j lie on one polynomial of degree below t
// by comparing the Lagrange interpolations at 0 over every window of t
// consecutive ids. The common interpolation is the group public key Y.
//
// Messages (sised):
//   "ECDSA Keygen" (fresh) or "keygen_inner" (refresh, reshare)
//        f_i(j), one 32-byte scalar to each other party j
//   "DLComZK to Com"   32-byte digest to all, then R ‖ X_i ‖ z to all
// All randomness comes from the generators of the executors named above.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/bytes.hpp"
#include "crypto/error.hpp"
#include "crypto/secp256k1.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"
#include "velto-mpc-infra/party_map.hpp"
#include "velto-mpc-infra/uc_tag.hpp"

namespace velto::ecdsa {

inline constexpr std::string_view kKeygenLabel = "ECDSA Keygen";
inline constexpr std::string_view kChainCodeLabel = "BIP32 Chaincode";

// What the keygen core gives one party. A class with a constructor, not an
// aggregate, since it travels through coroutine results.
class KeygenOutput {
 public:
  KeygenOutput(crypto::Scalar share, crypto::Point key) : secret_share(std::move(share)), public_key(key) {}

  // x_i
  crypto::Scalar secret_share;
  // Y, the same at every party
  crypto::Point public_key;
};

// The chain code of a fresh key: the child tag of `tag` under
// "BIP32 Chaincode". Needs no message; every party derives the same.
crypto::ByteArray<32> bip32_chaincode_tag(const UcTag& tag);

// Collects exactly one scalar from every other party of `executor` and adds
// them all to `own_evaluation`: x_i = f_i(i) + Σ_{j≠i} f_j(i). Errors: the
// first receive or decoding error, boxed. Await at once.
boost::asio::awaitable<std::expected<crypto::Scalar, BoxedError>> keygen_share_fold(ProtocolExecutor& executor,
                                                                                    crypto::Scalar own_evaluation);

// The committed proof step of a key generation: on the key-generation
// executor, proves knowledge of this party's share and returns every other
// party's checked public share (committed_dlog_proof, zkpok_comm.hpp, with
// the opening record of the protocol version).
using DlogProofStep = boost::asio::awaitable<std::expected<PartyMap<crypto::Point>, EcdsaKeygenLibError>> (*)(
    const ProtocolExecutor&, const crypto::Scalar&);

// The current protocol's proof step: openings R ‖ X ‖ z, challenge over R
// then X.
DlogProofStep current_dlog_proof_step();

// The keygen core on `executor` (the "ECDSA Keygen" or "keygen_inner"
// executor, released when the run ends), with this party's constant term
// `a0`, the threshold t and the protocol version's proof step.
// Errors:
//   InvalidThreshold       t is 0 or above the number of parties (nothing
//                          is sent)
//   CommunicationError     a share could not be sent or received, or did not
//                          decode as a scalar; the digests of the proof step
//                          could not be exchanged
//   InvalidCommittedZKPoK  a peer's opening or proof was refused
//   InvalidLagrangeSum     the public shares do not lie on one polynomial of
//                          degree below t, or they interpolate to the
//                          identity (only possible when the constant terms of
//                          all parties cancel, which no honest run causes)
// A party list of more than 8192 ids is a bug of the engine (panic).
boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> ecdsa_keygen_future(
    ProtocolExecutor executor, crypto::Scalar a0, std::uint16_t threshold,
    DlogProofStep proof_step = current_dlog_proof_step());

// The keygen core as above, except that a group key at the identity is
// returned rather than refused: the resharing forms report that case with
// their own errors. `proof_step` is the protocol version's proof step.
boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> keygen_core(
    ProtocolExecutor executor, crypto::Scalar a0, std::uint16_t threshold,
    DlogProofStep proof_step = current_dlog_proof_step());

// A fresh key on the key-generation executor `keygen` (moved in): the chain
// code from its tag, a0 drawn from its generator, then ecdsa_keygen_future
// with `proof_step`. The party's key pair (its own id and the executor's
// party count). Errors: those of ecdsa_keygen_future.
boost::asio::awaitable<std::expected<KeyPair, EcdsaKeygenLibError>> keygen_fresh_key(
    ProtocolExecutor keygen, std::uint16_t threshold, DlogProofStep proof_step = current_dlog_proof_step());

// A fresh key generation on the started root executor of a session (moved
// in): generates a session tag jointly, opens "ECDSA Keygen" on it, derives
// the chain code from that tag, draws a0 from its generator and runs the
// keygen core. Errors, boxed: the joint tag generation's error, or the
// EcdsaKeygenLibError of the core (InvalidThreshold before the tag
// generation, so nothing is sent).
boost::asio::awaitable<std::expected<KeyPair, BoxedError>> ecdsa_keygen_handler_latest(ProtocolExecutor root,
                                                                                       std::uint16_t threshold);

}  // namespace velto::ecdsa
