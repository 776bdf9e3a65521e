// The key share of the BIP340 scheme.
//
// BIP340 keys are made, refreshed and reshared by the ECDSA key machinery of
// protocol version 1.1.0, so a share is that machinery's KeyPair: secret
// share, group key (full point, either y parity), chain code, own party id,
// threshold and number of parties. Signatures verify under the x-only form of
// the group key.
#pragma once

#include "velto-ecdsa/keys.hpp"

namespace velto::bip340 {

using Bip340KeyShare = ecdsa::KeyPair;

}  // namespace velto::bip340
