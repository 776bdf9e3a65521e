// The stored sr25519 share record.
//
// Sr25519StorableSecretShare (sised):
//   "sr25519" (7 ASCII bytes) ‖ varint 0 ‖ group key (32, ristretto255) ‖
//   secret share (32 LE) ‖ own party id ‖ number of parties ‖ threshold
//   (u16 LE each) ‖ transport private key (32) ‖ sorted party map
// The map lists every party of the session, the own one included. There is
// no chain code. A wrong prefix or variant is "Invalid StorableSecretShare
// tag"; the fields refuse as their codecs do ("Invalid RistrettoPoint",
// "Invalid Scalar", "Zero value in a NonZero type", "Invalid number of
// parties", "Invalid private key").
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
#include "velto-frost-sr25519/keyshare.hpp"

namespace velto::executor {

inline constexpr std::string_view kSr25519SharePrefix = "sr25519";

struct Sr25519StorableSecretShare {
  frost::Sr25519KeyShare key_share;
  // The stored private key and the X25519 public key derived from it.
  noise::NoiseKeyPair transport_keypair;
  PartyPubkeyMap partyid_pubkey_map;

  friend bool operator==(const Sr25519StorableSecretShare& a, const Sr25519StorableSecretShare& b) noexcept;
};

// The share's text, lower-case hex, and its reader (hex of either case).
std::string sr25519_share_encode(const Sr25519StorableSecretShare& share);
std::expected<Sr25519StorableSecretShare, ShareArgError> sr25519_share_decode(std::string_view text);

// The key share of a stored share that an operation may use. A record can
// read well and still be inconsistent: a threshold above the number of
// parties, or a map that does not hold the own transport public key under
// the own id. Such a share would reach the protocols' invariants, so it is
// refused with ExecutorFailure { InvalidKeyShare } before any session.
std::expected<const frost::Sr25519KeyShare*, ExecutorFailure> sr25519_share_checked_key_share(
    const Sr25519StorableSecretShare& share);

}  // namespace velto::executor

namespace velto::sised {

template <>
struct Codec<executor::Sr25519StorableSecretShare> {
  static void encode(Sink& s, const executor::Sr25519StorableSecretShare& v);
  static std::size_t size(const executor::Sr25519StorableSecretShare& v) noexcept;
  static std::expected<executor::Sr25519StorableSecretShare, SisedError> decode(Decoder& d);
};

}  // namespace velto::sised
