// The BIP340 key tweak: the key share of P' = P_e + t·G, P_e the even-y form
// of the group key P (as libsecp256k1's x-only tweak-add computes it).
#pragma once

#include <optional>

#include "crypto/bytes.hpp"
#include "velto-frost-bip340/keyshare.hpp"

namespace velto::bip340 {

// The share tweaked by the 32 big-endian bytes t: when P has odd y the share
// and P are negated first (every holder of the key does the same, so the
// shares stay shares of the negated secret); then t is added to the share and
// t·G to the key. The result keeps its own y parity. Nothing when t is not
// below n (tested without branching on t's bits) or when the tweaked key is
// the point at infinity. Chain code, id, threshold and party count are kept.
std::optional<Bip340KeyShare> bip340_tweak_pubkey(const Bip340KeyShare& share, const crypto::ByteArray<32>& tweak);

}  // namespace velto::bip340
