// The local sr25519 functions: each decodes its arguments in its fixed order,
// computes on the calling thread and hands its text over through the last
// parameter, which is looked at only once the output exists.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "crypto/ristretto255.hpp"
#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/sr25519_args.hpp"
#include "executor/bindings/velto.h"
#include "executor/error.hpp"
#include "executor/sr25519/local.hpp"

using namespace velto::executor;

namespace {
const char* chars(ConstStr s) { return reinterpret_cast<const char*>(s.ptr); }
}  // namespace

extern "C" ResultFFI velto_sr25519_get_pubkey(ConstStr secret_share, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::sr25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    return ffi::store_output(out, velto::crypto::hex_encode(share->key_share.group_key.to_bytes()));
  });
}

extern "C" ResultFFI velto_sr25519_derive_pubkey(ConstStr secret_share, ConstStrArray derivation_path,
                                                 HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::sr25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    auto path = ffi::sr25519_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto key = sr25519_share_child_pubkey_hex(*share, *path);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement, std::move(key.error())));
    return ffi::store_output(out, *key);
  });
}

extern "C" ResultFFI velto_sr25519_derive_pubkey_from_pubkey(ConstStr public_key, ConstStrArray derivation_path,
                                                             HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto bytes = parse_hex32_arg(chars(public_key), public_key.len);
    if (!bytes) return ffi::refuse(FfiError(FfiErrorKind::InvalidPublicKey, std::move(bytes.error())));
    auto point = velto::crypto::RistrettoPoint::from_bytes(bytes->span());
    if (!point) return ffi::refuse(FfiError(FfiErrorKind::InvalidPublicKey, Sr25519InvalidPublicKey()));
    auto path = ffi::sr25519_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    auto key = sr25519_child_pubkey_hex(*point, *path);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement, std::move(key.error())));
    return ffi::store_output(out, *key);
  });
}

extern "C" ResultFFI velto_sr25519_derive_private_key_from_private_key(ConstStr private_key, uint8_t is_raw,
                                                                      ConstStrArray derivation_path,
                                                                      HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto bytes = ffi::private_key_arg(private_key);
    if (!bytes) return ffi::refuse(std::move(bytes.error()));
    auto path = ffi::sr25519_path_arg(derivation_path);
    if (!path) return ffi::refuse(std::move(path.error()));
    const auto form = ffi::sr25519_key_form_arg(is_raw);
    std::optional<velto::crypto::EdScalar> secret = velto::frost::sr25519_expand_seed(form, *bytes);
    if (!secret) {
      return ffi::refuse(FfiError(FfiErrorKind::InvalidPrivateKey,
                                  ExecutorFailure(ExecutorErrorKind{ExecutorErrorKind::InvalidImportedPrivateKey{}})));
    }
    auto child = sr25519_child_secret(*secret, *path);
    if (!child) return ffi::refuse(FfiError(FfiErrorKind::InvalidDerivationElement, std::move(child.error())));
    return ffi::store_output(out, ffi::secret_hex(velto::crypto::SecretArray<32>(child->as_span())));
  });
}

extern "C" ResultFFI velto_sr25519_get_export_id(ConstStr secret_share, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::sr25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    return ffi::store_output(out, velto::crypto::base58_encode(share->transport_keypair.public_key().span()));
  });
}

extern "C" ResultFFI velto_sr25519_offline_export_full_private_key(ConstStrArray shares, HeapString* out) {
  return ffi::guarded([&]() -> ResultFFI {
    // A null array is no share at all, whatever its count.
    auto texts = ffi::optional_text_array_arg(shares.ptr, shares.count, FfiErrorKind::InvalidSecretShare,
                                              kMaxNumberOfParties);
    if (!texts) return ffi::refuse(std::move(texts.error()));
    std::vector<Sr25519StorableSecretShare> decoded;
    decoded.reserve(texts->size());
    for (const ConstStr& text : *texts) {
      auto share = ffi::sr25519_share_arg(text);
      if (!share) return ffi::refuse(std::move(share.error()));
      decoded.push_back(std::move(*share));
    }
    auto key = sr25519_offline_export(decoded);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::ExecutorError, std::move(key.error())));
    return ffi::store_output(out, ffi::secret_hex(velto::crypto::SecretArray<32>(key->as_span())));
  });
}
