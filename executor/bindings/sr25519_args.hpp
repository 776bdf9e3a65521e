// The argument decoders of the sr25519 functions that no other family
// shares: the stored share, the junction path and the form of a private key.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "executor/bindings/velto.h"
#include "executor/error.hpp"
#include "executor/sr25519_share.hpp"
#include "velto-frost-sr25519/derive.hpp"

namespace velto::executor::ffi {

// -3: a stored sr25519 share.
std::expected<Sr25519StorableSecretShare, FfiError> sr25519_share_arg(ConstStr secret_share);

// -11: the junction texts of a derivation path, copied. A null array is the
// empty path only with a count of 0; with any other count it is refused
// ("Received a slice with null pointer, but length: {count}") before an
// element is read, so that a caller's lost path never signs or derives under
// the root key. Each element is a text argument (null with a length, or not
// UTF-8: refused with the element's error); its junction rules are the
// derivation's to check.
std::expected<std::vector<std::string>, FfiError> sr25519_path_arg(ConstStrArray path);

// The form of a private-key argument: only the byte 1 marks a raw scalar;
// every other value is a seed.
inline frost::Sr25519KeyForm sr25519_key_form_arg(std::uint8_t is_raw) {
  return is_raw == 1 ? frost::Sr25519KeyForm::Scalar : frost::Sr25519KeyForm::Seed;
}

}  // namespace velto::executor::ffi
