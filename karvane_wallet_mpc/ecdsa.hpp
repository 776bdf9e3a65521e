// PyEcdsa: one party's side of threshold ECDSA on secp256k1.
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

namespace karvane {

PyTypeObject* ecdsa_type();

}  // namespace karvane
