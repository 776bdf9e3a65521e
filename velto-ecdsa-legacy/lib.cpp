#include "velto-ecdsa-legacy/lib.hpp"

#include <utility>

namespace velto::ecdsa::legacy {

std::optional<KeyPair> keypair_from_private_key(crypto::ByteSpan private_key, const crypto::ByteArray<32>& chain_code) {
  if (private_key.size() != 32) return std::nullopt;
  auto secret = scalar_from_be_bytes(private_key);
  if (!secret) return std::nullopt;
  const crypto::Point public_key = crypto::Point::base_mul(*secret);
  return KeyPair{std::move(*secret), chain_code, public_key, PartyId::unchecked(1), 1, 1};
}

}  // namespace velto::ecdsa::legacy
