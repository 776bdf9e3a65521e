// The pieces that the stored records with an ASCII name in front (sr25519,
// BIP340) share: the head of the record (the name, then the variant 0), the
// equality of transport key pairs, and the consistency check of a record that
// reads well before an operation uses it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

#include "crypto/bytes.hpp"
#include "executor/api_type.hpp"
#include "executor/error.hpp"
#include "noise-kk/keys.hpp"
#include "sised/codec.hpp"
#include "sised/party_id.hpp"

namespace velto::executor {

inline constexpr std::string_view kInvalidShareTagText = "Invalid StorableSecretShare tag";

// The name's bytes and the variant 0.
inline void write_named_share_head(sised::Sink& s, std::string_view name) {
  s.write(crypto::as_bytes(name));
  sised::write_varint(s, 0);
}

// A wrong name or variant is "Invalid StorableSecretShare tag"; a record too
// short for either fails as the decoder does.
inline std::expected<void, sised::SisedError> read_named_share_head(sised::Decoder& d, std::string_view name) {
  auto prefix = d.take(name.size());
  if (!prefix) return std::unexpected(std::move(prefix.error()));
  const crypto::ByteSpan expected = crypto::as_bytes(name);
  if (!std::equal(prefix->begin(), prefix->end(), expected.begin(), expected.end())) {
    return std::unexpected(sised::SisedError::custom(kInvalidShareTagText));
  }
  auto variant = d.read_varint();
  if (!variant) return std::unexpected(std::move(variant.error()));
  if (*variant != 0) return std::unexpected(sised::SisedError::custom(kInvalidShareTagText));
  return {};
}

inline bool same_transport_keypair(const noise::NoiseKeyPair& a, const noise::NoiseKeyPair& b) noexcept {
  return a.private_key() == b.private_key() && a.public_key() == b.public_key();
}

// A record is consistent when its threshold is at most its number of parties
// and its map holds its own transport public key under its own id; otherwise
// ExecutorFailure { InvalidKeyShare }.
inline std::expected<void, ExecutorFailure> check_own_share_entry(const PartyPubkeyMap& map, PartyId own_id,
                                                                  std::uint16_t threshold, std::uint16_t num_parties,
                                                                  const noise::NoiseKeyPair& transport) {
  const auto own = map.find(own_id);
  if (threshold > num_parties || own == map.end() || !(own->second == transport.public_key())) {
    return std::unexpected(ExecutorFailure(ExecutorErrorKind::InvalidKeyShare{}));
  }
  return {};
}

}  // namespace velto::executor
