// Full private-key extraction of ECDSA protocol version 1.1.0.
//
// The session holds exactly the key's threshold of parties. Every party
// weights its share by its Lagrange coefficient at 0 over the session's ids;
// every party but the receiver sends that weighted share (one 32-byte
// scalar) to the receiver, which adds them up and checks the sum against the
// group key.
#pragma once

#include <expected>
#include <optional>

#include "velto-mpc-infra/async/asio.hpp"

#include "sised/party_id.hpp"
#include "velto-ecdsa/bip32.hpp"
#include "velto-ecdsa/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::ecdsa::legacy {

// The version's name for the extraction error (texts in velto-ecdsa/error.hpp).
using VssError = EcdsaExtractLibError;

// The rounds on `executor` (the caller's child for the extraction). `receiver`
// must be one of the executor's parties: callers check that before (nothing
// can be sent to a party outside the session).
// Result: at the receiver the key x with the key pair's chain code, depth 0,
// no parent fingerprint and child number 0; nothing elsewhere.
// Errors:
//   InvalidNumberOfParticipants {threshold, session size}  before anything
//                               is sent, at every party
//   CommunicationError          a failed send, receive or scalar decoding
//   ReceivedInvalidPrivateKey   (receiver) the sum times G is not the key
// Await at once.
boost::asio::awaitable<std::expected<std::optional<Xpriv>, VssError>> ecdsa_v110_extract_rounds(
    ProtocolExecutor& executor, const KeyPair& key, PartyId receiver);

}  // namespace velto::ecdsa::legacy
