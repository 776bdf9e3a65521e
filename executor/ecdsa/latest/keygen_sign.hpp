// The current-version (v1.5.0) ECDSA key-generation and signing handlers: the
// protocol runs of velto_ecdsa_keygen and velto_ecdsa_sign once the session
// has agreed on v1.5.0. Each takes the started root executor of its session
// (moved in) and yields its value or an ExecutorFailure of kind Executor
// carrying the protocol's error, without a manager error.
#pragma once

#include "velto-mpc-infra/async/asio.hpp"

#include <cstdint>
#include <expected>

#include "crypto/bytes.hpp"
#include "executor/ecdsa_share.hpp"
#include "executor/error.hpp"
#include "velto-ecdsa/keys.hpp"
#include "velto-mpc-infra/executor.hpp"

namespace velto::executor {

// A fresh key generation with threshold `threshold` among all parties of the
// session: a joint tag, then the key generation under "ECDSA Keygen". The
// party's new key pair (its own party id and the session's party count).
boost::asio::awaitable<std::expected<ecdsa::KeyPair, ExecutorFailure>> ecdsa_keygen_handler_latest(
    ProtocolExecutor root, std::uint16_t threshold);

// Signs `message_hash` with the derived key pair among the session's parties:
// a joint tag, exactly one presignature, the signing step. The signature
// bytes r (32) ‖ s (32) ‖ recovery id (1, 0 to 3) ‖ DER(r, s).
boost::asio::awaitable<std::expected<crypto::Bytes, ExecutorFailure>> ecdsa_sign_handler_latest(
    ProtocolExecutor root, crypto::ByteArray<32> message_hash, ExtendedKeyPair key);

}  // namespace velto::executor
