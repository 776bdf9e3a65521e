// The Noise KK channel fed a peer's bytes at every step: a first or second
// handshake message from the fuzzer (refused without a panic, and a refused
// first message never completes a handshake), and after a real handshake a
// transport message from the fuzzer, which must not authenticate and must
// leave the channel usable, so the next genuine message still decrypts to
// its plaintext; the genuine message itself carries any payload both ways.
//
// Input: a mode byte, then the message or payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "noise-kk/keys.hpp"
#include "noise-kk/prims.hpp"
#include "noise-kk/state.hpp"

namespace {

namespace noise = velto::noise;
namespace crypto = velto::crypto;

noise::NoiseKeyPair keypair(std::uint8_t seed) {
  crypto::ByteArray<32> priv;
  priv.fill(seed);
  return *noise::keypair_from_private(crypto::SecretArray<32>(priv));
}

struct Pair {
  noise::HandshakeState initiator;
  noise::HandshakeState responder;
};

Pair fresh_pair() {
  static const noise::NoiseKeyPair s_i = keypair(0x11), s_r = keypair(0x22), e_i = keypair(0x33), e_r = keypair(0x44);
  const crypto::ByteArray<32> prologue{9};
  Pair p{noise::initialize_handshake(true, s_i, s_r.public_key(), prologue),
         noise::initialize_handshake(false, s_r, s_i.public_key(), prologue)};
  p.initiator.set_ephemeral(e_i);
  p.responder.set_ephemeral(e_r);
  return p;
}

// Sends `payload` from `from` to `to` and checks it arrives unchanged.
void transport(noise::HandshakeState& from, noise::HandshakeState& to, crypto::ByteSpan payload, crypto::ByteSpan ad) {
  crypto::Bytes buf(payload.begin(), payload.end());
  buf.resize(payload.size() + noise::kTagLen);
  VELTO_FUZZ_CHECK(from.write_message(buf, ad).has_value());
  VELTO_FUZZ_CHECK(to.read_message(buf, ad).has_value());
  VELTO_FUZZ_CHECK(std::equal(payload.begin(), payload.end(), buf.begin()));
}

bool handshake_message(noise::HandshakeState& from, noise::HandshakeState& to) {
  crypto::Bytes buf(noise::kHandshakeMessageLen);
  VELTO_FUZZ_CHECK(from.write_message(buf).has_value());
  return to.read_message(buf).has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint8_t mode = in.u8();
  const auto body = in.rest();
  crypto::Bytes message(body.begin(), body.end());
  Pair p = fresh_pair();

  switch (mode % 3) {
    case 0: {
      // A forged first message.
      const auto counter = p.responder.message_counter();
      if (!p.responder.read_message(message)) {
        VELTO_FUZZ_CHECK(!p.responder.is_transport());
        return 0;
      }
      VELTO_FUZZ_CHECK(p.responder.message_counter() == counter + 1);
      break;
    }
    case 1: {
      // A genuine first message, then a forged answer.
      VELTO_FUZZ_CHECK(handshake_message(p.initiator, p.responder));
      if (p.initiator.read_message(message)) VELTO_FUZZ_CHECK(p.initiator.is_transport());
      break;
    }
    default: {
      VELTO_FUZZ_CHECK(handshake_message(p.initiator, p.responder));
      VELTO_FUZZ_CHECK(handshake_message(p.responder, p.initiator));
      VELTO_FUZZ_CHECK(p.initiator.is_transport() && p.responder.is_transport());
      const crypto::ByteArray<4> ad{1, 0, 2, 0};
      // A forged transport message never authenticates, and the channel
      // stays usable.
      crypto::Bytes forged = message;
      VELTO_FUZZ_CHECK(!p.responder.read_message(forged, ad).has_value());
      transport(p.initiator, p.responder, body, ad);
      transport(p.responder, p.initiator, body, ad);
      break;
    }
  }
  return 0;
}
