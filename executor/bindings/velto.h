/*
 * The library's function interface, in the platform C calling convention.
 *
 * Records
 * - ConstStr: a borrowed byte text {ptr, len}. Inputs are borrowed for the
 *   duration of the call; the library copies what it keeps. ptr may be null
 *   only when len is 0. Outputs handed to a callback belong to the library and
 *   are valid only until the callback returns; an empty output is {NULL, 0}.
 * - HeapString: a text the library allocated for the receiver, exactly len
 *   bytes, no terminator. The receiver owns it and gives it back with
 *   velto_dealloc_heap_string.
 * - ResultFFI: {message, code}. Success is exactly {{NULL, 0}, 0}; otherwise
 *   code is negative and message is a HeapString owned by the receiver.
 *
 * Codes: -1 room id, -2 host authority, -3 secret share, -4 message (hash),
 * -6 party count or threshold, -8 failure of an accepted operation, -9 keygen
 * secret, -10 keygen id(s), -11 derivation path, -12 xpriv, -13 spriv,
 * -14 API key, -15 private key, -16 tweak, -17 xpub, -18 spub, -19 public key,
 * -20 chain code, -253 null pointer (out-pointer or callback), -254 panic.
 *
 * Asynchronous functions check and copy their arguments, start one detached
 * task and return success; the task then calls the callback exactly once,
 * from a library worker thread, possibly before the starting function has
 * returned. A refused call never calls its callback. A null callback is
 * refused with -253. The context pointer is handed back unchanged and never
 * read.
 *
 * Functions that hand out texts through out-pointers check every out-pointer
 * before storing anything: if one of them is null the call returns -253 and
 * nothing is stored.
 */
#ifndef VELTO_H
#define VELTO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ConstStr {
  const uint8_t* ptr;
  uint64_t len;
} ConstStr;

typedef struct HeapString {
  uint8_t* ptr;
  uint64_t len;
} HeapString;

typedef struct ResultFFI {
  HeapString message;
  int32_t code;
} ResultFFI;

/* A borrowed list of texts: count consecutive ConstStr records. */
typedef struct ConstStrArray {
  const ConstStr* ptr;
  uint64_t count;
} ConstStrArray;

/* A borrowed list of unsigned 32-bit integers (a BIP32 derivation path,
 * first index first). */
typedef struct U32Array {
  const uint32_t* ptr;
  uint64_t count;
} U32Array;

/* Completion of an operation with one output text. */
typedef void (*SingleCallback)(void* context, ConstStr output, ResultFFI result);
/* Completion of an operation with two output texts. */
typedef void (*DoubleCallback)(void* context, ConstStr first, ConstStr second, ResultFFI result);

/* Gives back a HeapString the library handed out. Does nothing when ptr is
 * null or len is 0. The bytes are wiped before the memory is freed. */
void velto_dealloc_heap_string(uint8_t* ptr, uint64_t len);

/* A fresh transport key pair: the keygen id (Base58 of the X25519 public key)
 * and the keygen secret (64 lowercase hex digits of the private key). */
ResultFFI velto_init_keygen(HeapString* keygen_id_out, HeapString* keygen_secret_out);

/* SHA-256 and Keccak-256 (padding byte 0x01) of input[0..len) into hash32[0..32).
 * input may be null only when len is 0; hash32 must not be null. A broken
 * precondition prints its message to stderr and aborts the process. */
void velto_sha256(const uint8_t* input, uint64_t len, uint8_t* hash32);
void velto_keccak256(const uint8_t* input, uint64_t len, uint8_t* hash32);

/* Asks the relay at host (an authority: host and optional port, no scheme)
 * for a room of n parties (1 to 8192; otherwise -8). The callback receives the
 * room id as 32 lowercase hex digits, or code -8 / -254. */
ResultFFI velto_create_room(ConstStr host, uint16_t n, ConstStr api_key, SingleCallback callback, void* context);

/* ---------------------------------------------------------------------------
 * Threshold ECDSA (secp256k1).
 *
 * Keygen-type operations (keygen, refresh, reshare, import) deliver the group
 * public key as 130 lowercase hex digits (uncompressed SEC1) and the party's
 * new share text. Signing delivers hex of r || s || v (27 + recovery id) ||
 * DER. The export delivers the xprv text at the receiver and no output at
 * every other party. */

ResultFFI velto_ecdsa_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid, ConstStr host_url,
                             ConstStrArray keygen_ids, DoubleCallback callback, void* context);
ResultFFI velto_ecdsa_sign(ConstStr secret_share, ConstStr msg_hash, ConstStr room_uuid, ConstStr host_url,
                           U32Array derivation_path, SingleCallback callback, void* context);
ResultFFI velto_ecdsa_refresh(ConstStr secret_share, DoubleCallback callback, void* context, ConstStr room_uuid,
                              ConstStr host_url);
ResultFFI velto_ecdsa_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret, ConstStrArray keygen_ids,
                                        ConstStr room_uuid, ConstStr host_url, DoubleCallback callback,
                                        void* context);
ResultFFI velto_ecdsa_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                              ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                              DoubleCallback callback, void* context);
ResultFFI velto_ecdsa_export_full_private_key(ConstStr secret_share, ConstStr export_to, ConstStr room_uuid,
                                              ConstStr host_url, SingleCallback callback, void* context);
ResultFFI velto_ecdsa_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                   ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                   DoubleCallback callback, void* context);
ResultFFI velto_ecdsa_import_private_key_importer(uint16_t threshold, ConstStr private_key, ConstStr keygen_secret,
                                                  ConstStr room_uuid, ConstStr host_url, ConstStrArray keygen_ids,
                                                  ConstStr chain_code, DoubleCallback callback, void* context);

/* Local ECDSA functions: run on the calling thread; the output goes to *out
 * (checked last; -253 when null, nothing stored). */
ResultFFI velto_ecdsa_derive_pubkey(ConstStr secret_share, U32Array derivation_path, HeapString* out);
ResultFFI velto_ecdsa_get_xpub(ConstStr secret_share, HeapString* out);
ResultFFI velto_ecdsa_derive_pubkey_from_xpub(ConstStr xpub, U32Array derivation_path, HeapString* out);
ResultFFI velto_ecdsa_get_export_id(ConstStr secret_share, HeapString* out);
ResultFFI velto_ecdsa_offline_export_full_private_key(ConstStrArray shares, HeapString* out);
ResultFFI velto_ecdsa_derive_private_key_from_xpriv(ConstStr xpriv, U32Array derivation_path, HeapString* out);

/* ---------------------------------------------------------------------------
 * Threshold Ed25519 (FROST over edwards25519).
 *
 * Keygen-type operations (keygen, refresh, reshare, import) deliver the group
 * public key as 64 lowercase hex digits (the compressed Edwards point) and
 * the party's new share text. Signing delivers 128 hex digits of the 64-byte
 * Ed25519 signature R || s of the message bytes under the key derived along
 * derivation_path (non-hardened indices only; a hardened one fails through the
 * callback with -8). Every peer from protocol version v1.1.0 on is served. */

ResultFFI velto_ed25519_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid, ConstStr host_url,
                               ConstStrArray keygen_ids, DoubleCallback callback, void* context);
/* message: the message itself in hex digits of either case (an even number,
 * 0 included); it is signed as it stands. */
ResultFFI velto_ed25519_sign(ConstStr secret_share, ConstStr message, ConstStr room_uuid, ConstStr host_url,
                             U32Array derivation_path, SingleCallback callback, void* context);
ResultFFI velto_ed25519_refresh(ConstStr secret_share, DoubleCallback callback, void* context, ConstStr room_uuid,
                                ConstStr host_url);
ResultFFI velto_ed25519_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret, ConstStrArray keygen_ids,
                                          ConstStr room_uuid, ConstStr host_url, DoubleCallback callback,
                                          void* context);
ResultFFI velto_ed25519_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                DoubleCallback callback, void* context);
/* The party named by export_to (an export id) receives the spriv text; every
 * other party receives no output and success. A sender's success only means
 * that its share was handed to the session for the receiver: it does not
 * tell whether the receiver then rebuilt the key. */
ResultFFI velto_ed25519_export_full_private_key(ConstStr secret_share, ConstStr export_to, ConstStr room_uuid,
                                                ConstStr host_url, SingleCallback callback, void* context);
ResultFFI velto_ed25519_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                     ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                     DoubleCallback callback, void* context);
/* private_key: 64 hex digits. is_raw 1: the secret scalar itself (little-
 * endian, non-zero, below the group order); any other value: an RFC 8032
 * seed. The imported key gets a chain code of 32 zero bytes. */
ResultFFI velto_ed25519_import_private_key_importer(uint16_t threshold, ConstStr private_key, ConstStr keygen_secret,
                                                    ConstStr room_uuid, ConstStr host_url, ConstStrArray keygen_ids,
                                                    uint8_t is_raw, DoubleCallback callback, void* context);

/* Local Ed25519 functions: run on the calling thread; the output goes to *out
 * (checked last; -253 when null, nothing stored). The derived private key is
 * 64 hex digits of the 32-byte little-endian scalar. */
ResultFFI velto_ed25519_derive_pubkey(ConstStr secret_share, U32Array derivation_path, HeapString* out);
ResultFFI velto_ed25519_get_spub(ConstStr secret_share, HeapString* out);
ResultFFI velto_ed25519_derive_pubkey_from_spub(ConstStr spub, U32Array derivation_path, HeapString* out);
ResultFFI velto_ed25519_get_export_id(ConstStr secret_share, HeapString* out);
ResultFFI velto_ed25519_offline_export_full_private_key(ConstStrArray shares, HeapString* out);
ResultFFI velto_ed25519_derive_private_key_from_spriv(ConstStr spriv, U32Array derivation_path, HeapString* out);

/* ---------------------------------------------------------------------------
 * Exportable Ed25519: keys born from a 32-byte seed that can be rebuilt.
 *
 * One party samples the seed (velto_exportable_ed25519_sample_key), every
 * other party of the room receives (velto_exportable_ed25519_receive_key);
 * both take the same arguments. Keygen-type operations (both key-generation
 * roles, refresh, reshare, import) deliver the group public key as 64
 * lowercase hex digits (compressed Edwards point) and the party's new share
 * text. Signing delivers 128 hex digits of an RFC 8032 signature of the
 * message bytes (hex of any even length, the empty text included). The
 * export delivers 128 hex digits of seed || public key at the receiver and
 * no output at every other party. Counts (n, t, threshold, new_threshold)
 * are accepted from 1 to 8192 each; a null keygen-id array reads as none.
 * The importer's private key is a seed, checked last (-15). */

ResultFFI velto_exportable_ed25519_sample_key(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid,
                                              ConstStr host_url, ConstStrArray keygen_ids, DoubleCallback callback,
                                              void* context);
ResultFFI velto_exportable_ed25519_receive_key(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid,
                                               ConstStr host_url, ConstStrArray keygen_ids, DoubleCallback callback,
                                               void* context);
ResultFFI velto_exportable_ed25519_sign(ConstStr secret_share, ConstStr message, ConstStr room_uuid,
                                        ConstStr host_url, SingleCallback callback, void* context);
ResultFFI velto_exportable_ed25519_refresh(ConstStr secret_share, DoubleCallback callback, void* context,
                                           ConstStr room_uuid, ConstStr host_url);
ResultFFI velto_exportable_ed25519_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret,
                                                     ConstStrArray keygen_ids, ConstStr room_uuid,
                                                     ConstStr host_url, DoubleCallback callback, void* context);
ResultFFI velto_exportable_ed25519_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                           ConstStrArray keygen_ids, ConstStr room_uuid,
                                                           ConstStr host_url, DoubleCallback callback,
                                                           void* context);
ResultFFI velto_exportable_ed25519_export_full_private_key(ConstStr secret_share, ConstStr export_to,
                                                           ConstStr room_uuid, ConstStr host_url,
                                                           SingleCallback callback, void* context);
ResultFFI velto_exportable_ed25519_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                                ConstStrArray keygen_ids, ConstStr room_uuid,
                                                                ConstStr host_url, DoubleCallback callback,
                                                                void* context);
ResultFFI velto_exportable_ed25519_import_private_key_importer(uint16_t threshold, ConstStr private_key,
                                                               ConstStr keygen_secret, ConstStr room_uuid,
                                                               ConstStr host_url, ConstStrArray keygen_ids,
                                                               DoubleCallback callback, void* context);

/* Local exportable Ed25519 functions: run on the calling thread; the output
 * goes to *out (checked last; -253 when null, nothing stored). The offline
 * export rebuilds seed || public key from the first t shares (t of the first
 * share); a null array reads as none; a rebuilt key that is not the shares'
 * key fails with -8. */
ResultFFI velto_exportable_ed25519_get_pubkey(ConstStr secret_share, HeapString* out);
ResultFFI velto_exportable_ed25519_get_export_id(ConstStr secret_share, HeapString* out);
ResultFFI velto_exportable_ed25519_offline_export_full_private_key(ConstStrArray shares, HeapString* out);

#ifdef __cplusplus
}
#endif

#endif /* VELTO_H */

/* ---------------------------------------------------------------------------
 * Threshold sr25519 (FROST over Ristretto255, Schnorrkel signatures).
 *
 * Keygen-type operations (keygen, refresh, reshare, import) deliver the group
 * public key as 64 lowercase hex digits (the compressed Ristretto255 point)
 * and the party's new share text. Signing delivers 128 hex digits of the
 * 64-byte sr25519 signature (signing context "substrate") of the message
 * bytes under the key derived along derivation_path. Only peers from
 * protocol version v1.3.0 on are served.
 *
 * A derivation path is an array of junction texts, one soft junction each (a
 * decimal number or any text; one that begins with "/" is a hard junction
 * and fails: through the callback with -8 when signing, with -11 in the
 * local functions). An array with a count of 0 is the empty path (the group
 * key itself); a null array with any other count is refused with -11, as is
 * an element that is null with a length or not UTF-8. */
#ifndef VELTO_H_SR25519
#define VELTO_H_SR25519

#ifdef __cplusplus
extern "C" {
#endif

/* t above n is refused with -6 (after the other arguments). */
ResultFFI velto_sr25519_keygen(uint16_t n, uint16_t t, ConstStr keygen_secret, ConstStr room_uuid, ConstStr host_url,
                               ConstStrArray keygen_ids, DoubleCallback callback, void* context);
/* message: the message itself in hex digits of either case (an even number,
 * 0 included). */
ResultFFI velto_sr25519_sign(ConstStr secret_share, ConstStr message, ConstStr room_uuid, ConstStr host_url,
                             ConstStrArray derivation_path, SingleCallback callback, void* context);
ResultFFI velto_sr25519_refresh(ConstStr secret_share, DoubleCallback callback, void* context, ConstStr room_uuid,
                                ConstStr host_url);
ResultFFI velto_sr25519_reshare_new_party(uint16_t new_threshold, ConstStr keygen_secret, ConstStrArray keygen_ids,
                                          ConstStr room_uuid, ConstStr host_url, DoubleCallback callback,
                                          void* context);
ResultFFI velto_sr25519_reshare_remaining_party(uint16_t new_threshold, ConstStr secret_share,
                                                ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                DoubleCallback callback, void* context);
/* The party named by export_to (an export id) receives the secret scalar as
 * 64 hex digits (little-endian); every other party receives no output and
 * success once its share was handed to the session. An export_to outside the
 * share's parties fails with -8 before any room is joined. */
ResultFFI velto_sr25519_export_full_private_key(ConstStr secret_share, ConstStr export_to, ConstStr room_uuid,
                                                ConstStr host_url, SingleCallback callback, void* context);
ResultFFI velto_sr25519_import_private_key_recipient(uint16_t threshold, ConstStr keygen_secret,
                                                     ConstStrArray keygen_ids, ConstStr room_uuid, ConstStr host_url,
                                                     DoubleCallback callback, void* context);
/* private_key: 64 hex digits. is_raw 1: the secret scalar itself (little-
 * endian, non-zero, below the group order); any other value: a 32-byte seed
 * (mini secret key), expanded. */
ResultFFI velto_sr25519_import_private_key_importer(uint16_t threshold, ConstStr private_key, ConstStr keygen_secret,
                                                    ConstStr room_uuid, ConstStr host_url, ConstStrArray keygen_ids,
                                                    uint8_t is_raw, DoubleCallback callback, void* context);

/* Local sr25519 functions: run on the calling thread; the output goes to *out
 * (checked last; -253 when null, nothing stored). Public keys are 64 hex
 * digits of the compressed point, secret keys 64 hex digits of the
 * little-endian scalar. In the private-key derivation is_raw 1 reads the key
 * as a scalar (-15 when not below the group order) and any other value as a
 * seed; the output is always the derived scalar. The offline export rebuilds
 * the secret from the shares (the first one is the reference for the
 * threshold and the group key); a null array reads as none. */
ResultFFI velto_sr25519_get_pubkey(ConstStr secret_share, HeapString* out);
ResultFFI velto_sr25519_derive_pubkey(ConstStr secret_share, ConstStrArray derivation_path, HeapString* out);
ResultFFI velto_sr25519_derive_pubkey_from_pubkey(ConstStr public_key, ConstStrArray derivation_path,
                                                  HeapString* out);
ResultFFI velto_sr25519_derive_private_key_from_private_key(ConstStr private_key, uint8_t is_raw,
                                                            ConstStrArray derivation_path, HeapString* out);
ResultFFI velto_sr25519_get_export_id(ConstStr secret_share, HeapString* out);
ResultFFI velto_sr25519_offline_export_full_private_key(ConstStrArray shares, HeapString* out);

#ifdef __cplusplus
}
#endif

#endif /* VELTO_H_SR25519 */
