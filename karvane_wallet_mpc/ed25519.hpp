// PyEd25519: one party's side of threshold Ed25519 (FROST over edwards25519).
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

namespace karvane {

PyTypeObject* ed25519_type();

}  // namespace karvane
