// The stored BIP340 share record.
//
// Bip340StorableSecretShare (sised):
//   "bip340" (6 ASCII bytes) ‖ varint 0 ‖ secret share (32 BE) ‖ group key
//   (33, SEC1 compressed, either parity) ‖ chain code (32) ‖ own party id ‖
//   threshold ‖ number of parties (u16 LE each) ‖ transport private key (32)
//   ‖ sorted party map
// The key fields are those of the ECDSA key pair (read_ecdsa_keypair_fields),
// in the same order. The map lists every party of the session, the own one
// included. A wrong prefix or variant is "Invalid StorableSecretShare tag";
// the fields refuse as their codecs do ("Invalid Scalar", "Invalid
// Compressed AffinePoint" for a bad key and for the identity, "Zero value in
// a NonZero type", "Invalid number of parties", "Invalid private key").
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "executor/api_type.hpp"
#include "executor/common/named_share.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "sised/codec.hpp"
#include "velto-frost-bip340/keyshare.hpp"

namespace velto::executor {

inline constexpr std::string_view kBip340SharePrefix = "bip340";

struct Bip340StorableSecretShare {
  bip340::Bip340KeyShare key_share;
  // The stored private key and the X25519 public key derived from it.
  noise::NoiseKeyPair transport_keypair;
  PartyPubkeyMap partyid_pubkey_map;

  friend bool operator==(const Bip340StorableSecretShare& a, const Bip340StorableSecretShare& b) noexcept;
};

// The share's text, lower-case hex, and its reader (hex of either case).
std::string bip340_share_encode(const Bip340StorableSecretShare& share);
std::expected<Bip340StorableSecretShare, ShareArgError> bip340_share_decode(std::string_view text);

// The key share of a stored share that an operation may use. A record can
// read well and still be inconsistent: a threshold above the number of
// parties, or a map that does not hold the own transport public key under
// the own id. Such a share would reach the protocols' invariants, so it is
// refused with ExecutorFailure { InvalidKeyShare } before any session.
std::expected<const bip340::Bip340KeyShare*, ExecutorFailure> bip340_share_checked_key_share(
    const Bip340StorableSecretShare& share);

}  // namespace velto::executor

namespace velto::sised {

template <>
struct Codec<executor::Bip340StorableSecretShare> {
  static void encode(Sink& s, const executor::Bip340StorableSecretShare& v);
  static std::size_t size(const executor::Bip340StorableSecretShare& v) noexcept;
  static std::expected<executor::Bip340StorableSecretShare, SisedError> decode(Decoder& d);
};

}  // namespace velto::sised
