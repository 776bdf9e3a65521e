// One end of a Noise KK channel ("Noise_KK_25519_ChaChaPoly_BLAKE2s"): the
// two handshake messages, then transport messages in both directions.
//
// Where this channel departs from standard Noise:
//  - messages (tag included) may be up to 16,777,215 bytes, not 65,535;
//  - transport messages take associated data; handshake messages refuse it;
//  - a cipher with an empty key refuses to work instead of passing the
//    plaintext through;
//  - a 128-bit message counter (messages written or read, both directions)
//    alone picks the step: 0 and 1 are the handshake, 2 and above transport.
//    The state does not check that a call fits its role;
//  - the ephemeral key is made at the first handshake write (unless one was
//    set beforehand);
//  - every message is processed in place in a buffer the caller sizes.
//
// Buffer layout (L = buffer length, 16 <= L <= 16,777,215):
//   handshake: [0, 32) sender's ephemeral key, [32, L-16) payload, then tag
//   transport: [0, L-16) payload, then tag
// To write, place the payload and leave the rest to be overwritten. After a
// successful read the payload plaintext stands at the same place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>

#include "crypto/bytes.hpp"
#include "noise-kk/error.hpp"
#include "noise-kk/keys.hpp"
#include "noise-kk/prims.hpp"

namespace velto::noise {

__extension__ using MessageCounter = unsigned __int128;

class HandshakeState {
 public:
  // Mixes the prologue, then the initiator's and the responder's static
  // public keys (the KK pre-messages) into the handshake hash.
  HandshakeState(bool initiator, const NoiseKeyPair& s, const PublicKey& rs, crypto::ByteSpan prologue);
  HandshakeState(HandshakeState&&) noexcept = default;
  HandshakeState& operator=(HandshakeState&&) noexcept = default;
  HandshakeState(const HandshakeState&) = delete;
  HandshakeState& operator=(const HandshakeState&) = delete;

  // Produces the next outgoing message in `message`. Counter 0: tokens e,
  // es, ss; counter 1: e, ee, se, after which the handshake completes;
  // counter 2 and above: transport with the own sending cipher.
  // Errors: UnsupportedMessageLengthError (L outside 16..16,777,215),
  // InvalidInputError (associated data on a handshake message),
  // MissingneError (handshake message shorter than 48 bytes), and the
  // cipher's errors. Failures leave the counter where it was.
  std::expected<void, NoiseError> write_message(crypto::MutByteSpan message, crypto::ByteSpan ad = {});
  // Consumes the next incoming message in `message`, the steps mirroring
  // write_message. Errors: as for writing with MissingreError in place of
  // MissingneError, InvalidPublicKeyError for a refused remote ephemeral
  // key, DecryptionError when the tag does not verify. A failed handshake
  // step leaves the state unusable; a failed transport read leaves the
  // receiving nonce unchanged and the channel usable.
  std::expected<void, NoiseError> read_message(crypto::MutByteSpan message, crypto::ByteSpan ad = {});

  bool is_transport() const noexcept { return is_transport_; }
  bool is_initiator() const noexcept { return initiator_; }
  MessageCounter message_counter() const noexcept { return counter_; }
  // The handshake hash h (Noise's channel binding value); kept after the
  // handshake completes.
  const crypto::ByteArray<kHashLen>& handshake_hash() const noexcept { return symmetric_.handshake_hash(); }

  // Uses `e` as the ephemeral key instead of drawing one at the first
  // handshake write. For fixed test vectors; call before any handshake write.
  void set_ephemeral(const NoiseKeyPair& e) { e_.emplace(e); }

 private:
  // After the second handshake message: the transport ciphers from split,
  // and every handshake secret wiped.
  void complete();
  const SecretKey& ephemeral_private() const noexcept;

  MessageCounter counter_ = 0;
  std::optional<NoiseKeyPair> s_;
  std::optional<NoiseKeyPair> e_;
  crypto::ByteArray<32> rs_;
  crypto::ByteArray<32> re_{};
  SymmetricState symmetric_;
  CipherState c1_;  // initiator to responder
  CipherState c2_;  // responder to initiator
  bool initiator_;
  bool is_transport_ = false;
};

// A new channel end; the session engine passes its 32-byte session prologue.
inline HandshakeState initialize_handshake(bool initiator, const NoiseKeyPair& s, const PublicKey& rs,
                                           crypto::ByteSpan prologue) {
  return HandshakeState(initiator, s, rs, prologue);
}

}  // namespace velto::noise
