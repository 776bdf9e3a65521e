// PyExportableEd25519: one party's side of the exportable Ed25519 scheme
// (the receiving side of key generation; the sampling party is a service
// that calls the library directly).
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

namespace karvane {

PyTypeObject* exportable_ed25519_type();

}  // namespace karvane
