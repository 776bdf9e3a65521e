// The local ECDSA functions: each decodes its arguments in its fixed order,
// computes on the calling thread and hands its text over through the last
// parameter, which is looked at only once the output exists.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/api_type.hpp"
#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/velto.h"
#include "executor/ecdsa/local.hpp"
#include "executor/error.hpp"
#include "velto-ecdsa/bip32.hpp"

extern "C" ResultFFI velto_ecdsa_derive_pubkey(ConstStr secret_share, U32Array derivation_path, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::ecdsa_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto key = ecdsa_share_child_pubkey_hex(*share, *path);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement, std::move(key.error())));
    return ffi::store_output(out, *key);
  });
}

extern "C" ResultFFI velto_ecdsa_get_xpub(ConstStr secret_share, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::ecdsa_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    return ffi::store_output(out, velto::ecdsa::xpub_to_string(ecdsa_share_xpub(*share)));
  });
}

extern "C" ResultFFI velto_ecdsa_derive_pubkey_from_xpub(ConstStr xpub, U32Array derivation_path, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto parent = ffi::decode_arg(xpub, FfiErrorKind::InvalidXpub, velto::ecdsa::parse_xpub);
    if (!parent) return ffi::refuse(std::move(parent.error()));
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto key = ecdsa_xpub_child_pubkey_hex(*parent, *path);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement));
    return ffi::store_output(out, *key);
  });
}

extern "C" ResultFFI velto_ecdsa_get_export_id(ConstStr secret_share, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::ecdsa_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    return ffi::store_output(out, ecdsa_share_export_id(*share));
  });
}

extern "C" ResultFFI velto_ecdsa_offline_export_full_private_key(ConstStrArray shares, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto texts = ffi::text_array_arg(shares.ptr, shares.count, FfiErrorKind::InvalidSecretShare, kMaxNumberOfParties);
    if (!texts) return ffi::refuse(std::move(texts.error()));
    // In array order; the first bad element refuses the call.
    std::vector<EcdsaStorableSecretShare> decoded;
    decoded.reserve(texts->size());
    for (const ConstStr& text : *texts) {
      auto share = ffi::ecdsa_share_arg(text);
      if (!share) return ffi::refuse(std::move(share.error()));
      decoded.push_back(std::move(*share));
    }
    auto key = ecdsa_offline_export(decoded);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::ExecutorError, std::move(key.error())));
    return ffi::store_output(out, ffi::secret_text(velto::ecdsa::xprv_to_string(*key)));
  });
}

extern "C" ResultFFI velto_ecdsa_derive_private_key_from_xpriv(ConstStr xpriv, U32Array derivation_path,
                                                              HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto parent = ffi::decode_arg(xpriv, FfiErrorKind::InvalidXpriv, velto::ecdsa::parse_xpriv);
    if (!parent) return ffi::refuse(std::move(parent.error()));
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto child = ecdsa_xpriv_child_key(*parent, *path);
    if (!child) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement));
    return ffi::store_output(out, secret_scalar_hex(*child));
  });
}
