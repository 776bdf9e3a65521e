// The value and result classes: PyInitKeygenResult, PyMessageHash,
// PyEcdsaKeygenResult, PyEcdsaSignature, PyEd25519KeygenResult.
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace karvane {

struct MessageHash {
  std::array<std::uint8_t, 32> bytes;
};

struct InitKeygenResult {
  std::string keygen_id;
  std::vector<std::uint8_t> keygen_secret;
};

struct EcdsaKeygenResult {
  std::array<std::uint8_t, 65> pubkey_uncompressed;
  std::array<std::uint8_t, 33> pubkey_compressed;
  std::string secret_share;
};

struct EcdsaSignatureValue {
  std::array<std::uint8_t, 32> r;
  std::array<std::uint8_t, 32> s;
  std::uint8_t v;
  std::vector<std::uint8_t> der;
};

struct Ed25519KeygenResult {
  std::array<std::uint8_t, 32> pubkey;
  std::string secret_share;
};

// Type objects, made on first use (null with an error set on failure).
PyTypeObject* init_keygen_result_type();
PyTypeObject* message_hash_type();
PyTypeObject* ecdsa_keygen_result_type();
PyTypeObject* ecdsa_signature_type();
PyTypeObject* ed25519_keygen_result_type();

// New instances (null with an error set on failure).
PyObject* new_init_keygen_result(InitKeygenResult v);
PyObject* new_ecdsa_keygen_result(EcdsaKeygenResult v);
PyObject* new_ecdsa_signature(EcdsaSignatureValue v);
PyObject* new_ed25519_keygen_result(Ed25519KeygenResult v);
// The 32 bytes of a PyMessageHash instance.
const MessageHash& message_hash_of(PyObject* o);

}  // namespace karvane
