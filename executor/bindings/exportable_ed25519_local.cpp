// The local exportable Ed25519 functions: each decodes its shares in order,
// computes on the calling thread and hands its text over through the last
// parameter, which is looked at only once the output exists.
#include <string>
#include <utility>
#include <vector>

#include "crypto/codec.hpp"
#include "executor/bindings/args.hpp"
#include "executor/bindings/c_api.hpp"
#include "executor/bindings/velto.h"
#include "executor/ecdsa/local.hpp"
#include "executor/ed25519_share.hpp"
#include "executor/exportable_ed25519/handlers.hpp"

extern "C" ResultFFI velto_exportable_ed25519_get_pubkey(ConstStr secret_share, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::exportable_ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    const std::string key = velto::crypto::hex_encode(share->key_share.key_share.public_key.to_bytes());
    return ffi::store_output(out, key);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_get_export_id(ConstStr secret_share, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    auto share = ffi::exportable_ed25519_share_arg(secret_share);
    if (!share) return ffi::refuse(std::move(share.error()));
    const std::string id = velto::crypto::base58_encode(share->transport_keypair.public_key().span());
    return ffi::store_output(out, id);
  });
}

extern "C" ResultFFI velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray shares, HeapString* out) {
  using namespace velto::executor;
  return ffi::guarded([&]() -> ResultFFI {
    // A null array reads as none; the first share that does not decode
    // refuses the call.
    std::vector<velto::frost::ExportableEd25519KeyShare> records;
    auto texts = ffi::optional_text_array_arg(shares.ptr, shares.count, FfiErrorKind::InvalidSecretShare,
                                              kMaxNumberOfParties);
    if (!texts) return ffi::refuse(std::move(texts.error()));
    for (const ConstStr& text : *texts) {
      auto share = ffi::exportable_ed25519_share_arg(text);
      if (!share) return ffi::refuse(std::move(share.error()));
      records.push_back(std::move(share->key_share));
    }
    auto key = velto::frost::exportable_unmask_preimage(records);
    if (!key) return ffi::refuse(FfiError(FfiErrorKind::ExecutorError, box_handler_error(std::move(key.error()))));
    return ffi::store_output(out, ffi::secret_text(exportable_key_text(*key)));
  });
}
