#include "velto-frost-bip340/tweak.hpp"

#include "crypto/secp256k1.hpp"

namespace velto::bip340 {

std::optional<Bip340KeyShare> bip340_tweak_pubkey(const Bip340KeyShare& share, const crypto::ByteArray<32>& tweak) {
  const std::optional<crypto::Scalar> t = crypto::Scalar::from_bytes_checked(tweak);
  if (!t) return std::nullopt;
  const bool odd = !share.public_key.has_even_y();
  const crypto::Point even_key = odd ? -share.public_key : share.public_key;
  crypto::Point tweaked = even_key + crypto::Point::base_mul(*t);
  if (tweaked.is_identity()) return std::nullopt;
  Bip340KeyShare out = share;
  out.secret_share = crypto::Scalar::select(share.secret_share, -share.secret_share, odd) + *t;
  out.public_key = tweaked;
  return out;
}

}  // namespace velto::bip340
