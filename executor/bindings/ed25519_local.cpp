// The local Ed25519 functions: each decodes its arguments in its fixed order,
// computes on the calling thread and hands its text over through the last
// parameter, which is looked at only once the output exists.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/velto.h"
#include "executor/ed25519/local.hpp"
#include "executor/error.hpp"
#include "velto-frost-ed25519/spub.hpp"

using namespace velto::executor;

extern "C" ResultFFI velto_ed25519_derive_pubkey(ConstStr secret_share, U32Array derivation_path, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto key = ed25519_share_child_pubkey_hex(*share, *path);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement, std::move(key.error())));
    return ffi::store_output(out, *key);
  });
}

extern "C" ResultFFI velto_ed25519_get_spub(ConstStr secret_share, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto key = ed25519_share_to_keypair(*share);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidSecretShare, std::move(key.error())));
    return ffi::store_output(out, ed25519_key_share_spub(key->get()));
  });
}

extern "C" ResultFFI velto_ed25519_derive_pubkey_from_spub(ConstStr spub, U32Array derivation_path, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto parent = ffi::decode_arg(spub, FfiErrorKind::InvalidSpub, velto::frost::parse_spub);
    if (!parent) return ffi::refuse(std::move(parent.error()));
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto key = ed25519_spub_child_pubkey_hex(*parent, *path);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement));
    return ffi::store_output(out, *key);
  });
}

extern "C" ResultFFI velto_ed25519_get_export_id(ConstStr secret_share, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    return ffi::store_output(out, velto::crypto::base58_encode(share->transport_keypair.public_key().span()));
  });
}

extern "C" ResultFFI velto_ed25519_offline_export_full_private_key(ConstStrArray shares, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    // A null array is no share at all, whatever its count.
    auto texts = ffi::optional_text_array_arg(shares.ptr, shares.count, FfiErrorKind::InvalidSecretShare,
                                              kMaxNumberOfParties);
    if (!texts) return ffi::refuse(std::move(texts.error()));
    std::vector<Ed25519StorableSecretShare> decoded;
    decoded.reserve(texts->size());
    for (const ConstStr& text : *texts) {
      auto share = ffi::ed25519_share_arg(text);
      if (!share) return ffi::refuse(std::move(share.error()));
      decoded.push_back(std::move(*share));
    }
    auto key = ed25519_offline_export(decoded);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::ExecutorError, std::move(key.error())));
    return ffi::store_output(out, ffi::secret_text(velto::frost::spriv_encode(*key)));
  });
}

extern "C" ResultFFI velto_ed25519_derive_private_key_from_spriv(ConstStr spriv, U32Array derivation_path,
                                                                 HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto text = ffi::borrow_text(spriv);
    if (!text) return ffi::refuse(FfiError(FfiErrorKind::InvalidSpriv, std::move(text.error())));
    auto path = ffi::derivation_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto parent = velto::frost::parse_spriv(*text);
    if (!parent) {
      return ffi::refuse(FfiError(FfiErrorKind::InvalidSpriv, box_handler_error(std::move(parent.error()))));
    }
    auto child = ed25519_spriv_child_key(*parent, *path);
    if (!child) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement));
    return ffi::store_output(out, ffi::secret_hex(velto::crypto::SecretArray<32>(child->to_bytes())));
  });
}
