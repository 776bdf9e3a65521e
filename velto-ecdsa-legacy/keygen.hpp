// Distributed key generation of ECDSA protocol version 1.1.0.
//
// The rounds are those of the current key generation (velto-ecdsa/keygen.hpp):
// every party deals a polynomial of degree t − 1 by private evaluations on
// the executor it is given, proves knowledge of its summed share under
// "DLComZK" / "DLComZK to Com", and checks that the public shares lie on one
// polynomial. Only the committed proof differs on the wire
// (keygen/zkpok_comm.hpp).
#pragma once

#include <cstdint>
#include <expected>

#include "velto-mpc-infra/async/asio.hpp"

#include "crypto/secp256k1.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keygen.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa::legacy {

// The key generation core on `executor` (released when the run ends) with
// this party's constant term `c` and the threshold t.
// Errors (EcdsaKeygenLibError):
//   InvalidThreshold       t is 0 or above the number of parties; nothing is
//                          sent
//   CommunicationError     an evaluation or a digest could not be exchanged,
//                          or an evaluation is not a canonical scalar
//   InvalidCommittedZKPoK  an opening does not match its digest or could not
//                          be received (InvalidCommitment), or a proof does
//                          not verify (InvalidProof)
//   InvalidLagrangeSum     the public shares do not lie on one polynomial of
//                          degree below t, or they interpolate to the
//                          identity (constant terms that cancel)
boost::asio::awaitable<std::expected<KeygenOutput, EcdsaKeygenLibError>> ecdsa_keygen_future_v4(
    crypto::Scalar c, ProtocolExecutor executor, std::uint16_t threshold);

// A fresh key on `executor` (the "ECDSA Keygen" child of a joint tag, or the
// BIP340 scheme's own child): the chain code is the child-tag value of its
// tag under "BIP32 Chaincode", c is drawn from its generator, then the core
// runs. Errors: those of the core.
boost::asio::awaitable<std::expected<KeyPair, EcdsaKeygenLibError>> ecdsa_keygen_v4(ProtocolExecutor executor,
                                                                                   std::uint16_t threshold);

}  // namespace velto::ecdsa::legacy
