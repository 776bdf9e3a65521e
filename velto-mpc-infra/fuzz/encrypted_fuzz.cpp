// The encrypted executor's link between two parties: after a real pair of
// Noise KK handshakes, a relay payload from the fuzzer never authenticates
// (from the peer or from a stranger) and leaves the channel usable, and any
// plaintext travels encrypted and decrypts to itself with the documented
// size (plaintext + 16-byte tag).
//
// Input: a sender-id byte, then the payload (also used as the plaintext).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cmake/fuzz/fuzz_check.hpp"
#include "crypto/bytes.hpp"
#include "crypto/secret.hpp"
#include "noise-kk/keys.hpp"
#include "noise-kk/prims.hpp"
#include "velto-mpc-infra/executor/encrypted.hpp"

namespace {

namespace noise = velto::noise;
namespace crypto = velto::crypto;
using velto::PartyId;

noise::NoiseKeyPair keypair(std::uint8_t seed) {
  crypto::ByteArray<32> priv;
  priv.fill(seed);
  return *noise::keypair_from_private(crypto::SecretArray<32>(priv));
}

struct Session {
  velto::EncryptedChannels a;
  velto::EncryptedChannels b;
};

// Two parties with completed handshakes on both ends.
Session connected() {
  static const noise::NoiseKeyPair ka = keypair(0x51), kb = keypair(0x62);
  const std::vector<noise::PublicKey> keys{ka.public_key(), kb.public_key()};
  Session s{*velto::encrypted_channels_build(velto::encrypted_channels_setup(keys), ka),
            *velto::encrypted_channels_build(velto::encrypted_channels_setup(keys), kb)};
  const PartyId ida = s.a.my_id(), idb = s.b.my_id();
  noise::HandshakeState* ab = s.a.channel(idb);
  noise::HandshakeState* ba = s.b.channel(ida);
  VELTO_FUZZ_CHECK(ab && ba);
  noise::HandshakeState* first = ab->is_initiator() ? ab : ba;
  noise::HandshakeState* second = ab->is_initiator() ? ba : ab;
  crypto::Bytes m1(noise::kHandshakeMessageLen), m2(noise::kHandshakeMessageLen);
  VELTO_FUZZ_CHECK(first->write_message(m1) && second->read_message(m1));
  VELTO_FUZZ_CHECK(second->write_message(m2) && first->read_message(m2));
  VELTO_FUZZ_CHECK(s.a.all_transport() && s.b.all_transport());
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velto::fuzz::FuzzInput in(data, size);
  const std::uint16_t sender_raw = static_cast<std::uint16_t>(in.u8() % 4);
  const auto body = in.rest();
  Session s = connected();
  const PartyId peer = s.a.my_id();

  // A forged payload, from the peer or from an id with no channel.
  if (sender_raw != 0) {
    const auto sender = *PartyId::from(sender_raw);
    crypto::Bytes forged(body.begin(), body.end());
    auto r = velto::decrypt_incoming_message(s.b, forged, sender);
    VELTO_FUZZ_CHECK(!r.has_value());
    const bool known = s.b.channel(sender) != nullptr;
    VELTO_FUZZ_CHECK(r.error().kind() == (known ? velto::EncryptedExecutorError::Kind::DecryptionError
                                                : velto::EncryptedExecutorError::Kind::UnknownPartyId));
  }

  // The plaintext both ways; the channel is still usable after the forgery.
  crypto::Bytes plaintext(body.begin(), body.end());
  VELTO_FUZZ_CHECK(velto::encrypt_outgoing_message(s.a, plaintext, s.b.my_id()).has_value());
  VELTO_FUZZ_CHECK(plaintext.size() == body.size() + noise::kTagLen);
  VELTO_FUZZ_CHECK(velto::decrypt_incoming_message(s.b, plaintext, peer).has_value());
  VELTO_FUZZ_CHECK(plaintext.size() == body.size() && std::equal(body.begin(), body.end(), plaintext.begin()));
  // A replay of the same ciphertext is refused.
  crypto::Bytes again(body.begin(), body.end());
  VELTO_FUZZ_CHECK(velto::encrypt_outgoing_message(s.b, again, peer).has_value());
  crypto::Bytes replay = again;
  VELTO_FUZZ_CHECK(velto::decrypt_incoming_message(s.a, again, s.b.my_id()).has_value());
  VELTO_FUZZ_CHECK(!velto::decrypt_incoming_message(s.a, replay, s.b.my_id()).has_value());
  return 0;
}
