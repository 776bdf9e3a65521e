#include "karvane_wallet_mpc/types.hpp"

#include <string>
#include <utility>

#include "executor/bindings/velto.h"
#include "karvane_wallet_mpc/py/args.hpp"
#include "karvane_wallet_mpc/py/class.hpp"
#include "velto-mpc/ffi/conversions.hpp"

namespace karvane {

namespace {

constexpr const char* kModule = "karvane_wallet_mpc";

template <class T>
constexpr int basicsize() {
  return static_cast<int>(sizeof(py::Instance<T>));
}

// tp_new of the result classes: "No constructor defined for {name}".
template <const char* Name>
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  const std::string text = std::string("No constructor defined for ") + Name;
  PyErr_SetString(PyExc_TypeError, text.c_str());
  return nullptr;
}

// Read-only properties: a getter per field, copying on each read.
template <class T, auto Member>
PyObject* get_bytes(PyObject* self, void*) {
  return py::byte_list(py::value_of<T>(self).*Member).release();
}
template <class T, auto Member>
PyObject* get_text(PyObject* self, void*) {
  return py::text(py::value_of<T>(self).*Member).release();
}

PyTypeObject* g_init_keygen_result = nullptr;
PyTypeObject* g_message_hash = nullptr;
PyTypeObject* g_ecdsa_keygen_result = nullptr;
PyTypeObject* g_ecdsa_signature = nullptr;
PyTypeObject* g_ed25519_keygen_result = nullptr;

// --- PyMessageHash ---------------------------------------------------------

PyObject* new_message_hash(const std::array<std::uint8_t, 32>& bytes) {
  PyTypeObject* t = message_hash_type();
  if (t == nullptr) return nullptr;
  return py::make_instance<MessageHash>(t, MessageHash{bytes});
}

PyObject* message_hash_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  PyObject* a[1];
  if (!py::match_args("PyMessageHash.__new__", {"hex_str"}, args, kwargs, a)) return nullptr;
  std::string hex;
  if (!py::to_text(a[0], "hex_str", hex)) return nullptr;
  if (hex.size() % 2 != 0) {
    PyErr_SetString(PyExc_ValueError, "Odd number of digits");
    return nullptr;
  }
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) {
      // The byte shown as a character (a byte of a multi-byte character as
      // its Latin-1 code point), and its byte position.
      const auto byte = static_cast<unsigned char>(c);
      py::Ref ch = py::Ref::steal(PyUnicode_FromOrdinal(byte));
      py::Ref shown = ch ? py::Ref::steal(PyObject_Repr(ch.get())) : py::Ref();
      const std::string text =
          "Invalid character " + (shown ? py::str_of(shown.get()) : std::string("?")) + " at position " + std::to_string(i);
      PyErr_SetString(PyExc_ValueError, text.c_str());
      return nullptr;
    }
    if (i % 2 == 0) bytes.push_back(static_cast<char>(v << 4));
    else bytes.back() = static_cast<char>(bytes.back() | v);
  }
  if (bytes.size() != 32) {
    PyErr_SetString(PyExc_ValueError, "MessageHash must be exactly 32 bytes");
    return nullptr;
  }
  std::array<std::uint8_t, 32> out{};
  for (std::size_t i = 0; i < 32; ++i) out[i] = static_cast<std::uint8_t>(bytes[i]);
  return new_message_hash(out);
}

template <void (*Hash)(const std::uint8_t*, std::uint64_t, std::uint8_t*)>
PyObject* message_hash_digest(PyObject*, PyObject* args, PyObject* kwargs) {
  PyObject* a[1];
  const char* name = Hash == &velto_sha256 ? "PyMessageHash.sha256" : "PyMessageHash.keccak256";
  if (!py::match_args(name, {"data"}, args, kwargs, a)) return nullptr;
  const char* data = nullptr;
  std::size_t len = 0;
  if (!py::to_bytes_view(a[0], "data", data, len)) return nullptr;
  std::array<std::uint8_t, 32> digest{};
  Hash(reinterpret_cast<const std::uint8_t*>(data), len, digest.data());
  return new_message_hash(digest);
}

PyObject* message_hash_to_hex(PyObject* self, PyObject*) {
  return py::text(velto::mpc::to_ffi(py::value_of<MessageHash>(self).bytes).view()).release();
}

PyObject* message_hash_as_bytes(PyObject* self, PyObject*) {
  const auto& b = py::value_of<MessageHash>(self).bytes;
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(b.data()), 32);
}

PyMethodDef g_message_hash_methods[] = {
    {"sha256", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&message_hash_digest<&velto_sha256>)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, "sha256(data)\n--\n\n"},
    {"keccak256",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&message_hash_digest<&velto_keccak256>)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, "keccak256(data)\n--\n\n"},
    {"to_hex", &message_hash_to_hex, METH_NOARGS, "to_hex($self)\n--\n\n"},
    {"as_bytes", &message_hash_as_bytes, METH_NOARGS, "as_bytes($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr}};

// --- PyInitKeygenResult ----------------------------------------------------

PyObject* init_keygen_result_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  PyObject* a[2];
  if (!py::match_args("PyInitKeygenResult.__new__", {"keygen_id", "keygen_secret"}, args, kwargs, a))
    return nullptr;
  InitKeygenResult v;
  if (!py::to_text(a[0], "keygen_id", v.keygen_id)) return nullptr;
  if (!py::to_byte_list(a[1], "keygen_secret", v.keygen_secret)) return nullptr;
  return new_init_keygen_result(std::move(v));
}

PyObject* init_keygen_result_secret_hex(PyObject* self, PyObject*) {
  return py::text(velto::mpc::to_ffi(py::value_of<InitKeygenResult>(self).keygen_secret)).release();
}

PyMethodDef g_init_keygen_result_methods[] = {
    {"keygen_secret_hex", &init_keygen_result_secret_hex, METH_NOARGS, "keygen_secret_hex($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef g_init_keygen_result_props[] = {
    {"keygen_id", &get_text<InitKeygenResult, &InitKeygenResult::keygen_id>, nullptr, nullptr, nullptr},
    {"keygen_secret", &get_bytes<InitKeygenResult, &InitKeygenResult::keygen_secret>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

// --- result classes --------------------------------------------------------

constexpr char kEcdsaKeygenResultName[] = "PyEcdsaKeygenResult";
constexpr char kEcdsaSignatureName[] = "PyEcdsaSignature";
constexpr char kEd25519KeygenResultName[] = "PyEd25519KeygenResult";

PyGetSetDef g_ecdsa_keygen_result_props[] = {
    {"pubkey_uncompressed", &get_bytes<EcdsaKeygenResult, &EcdsaKeygenResult::pubkey_uncompressed>, nullptr,
     nullptr, nullptr},
    {"pubkey_compressed", &get_bytes<EcdsaKeygenResult, &EcdsaKeygenResult::pubkey_compressed>, nullptr, nullptr,
     nullptr},
    {"secret_share", &get_text<EcdsaKeygenResult, &EcdsaKeygenResult::secret_share>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyObject* signature_v(PyObject* self, void*) { return PyLong_FromLong(py::value_of<EcdsaSignatureValue>(self).v); }

PyGetSetDef g_ecdsa_signature_props[] = {
    {"r", &get_bytes<EcdsaSignatureValue, &EcdsaSignatureValue::r>, nullptr, nullptr, nullptr},
    {"s", &get_bytes<EcdsaSignatureValue, &EcdsaSignatureValue::s>, nullptr, nullptr, nullptr},
    {"v", &signature_v, nullptr, nullptr, nullptr},
    {"der", &get_bytes<EcdsaSignatureValue, &EcdsaSignatureValue::der>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyGetSetDef g_ed25519_keygen_result_props[] = {
    {"pubkey", &get_bytes<Ed25519KeygenResult, &Ed25519KeygenResult::pubkey>, nullptr, nullptr, nullptr},
    {"secret_share", &get_text<Ed25519KeygenResult, &Ed25519KeygenResult::secret_share>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

template <class T>
PyType_Slot slot_dealloc() {
  return {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc_instance<T>)};
}

template <class T>
PyTypeObject* once(PyTypeObject*& cell, const char* name, std::vector<PyType_Slot> slots) {
  if (cell == nullptr) {
    slots.push_back(slot_dealloc<T>());
    slots.push_back({0, nullptr});
    cell = py::make_type(name, basicsize<T>(), std::move(slots), kModule);
  }
  return cell;
}

}  // namespace

PyTypeObject* init_keygen_result_type() {
  static const std::string doc = py::signature_doc("PyInitKeygenResult", "(keygen_id, keygen_secret)");
  return once<InitKeygenResult>(g_init_keygen_result, "PyInitKeygenResult",
                                {{Py_tp_doc, const_cast<char*>(doc.c_str())},
                                 {Py_tp_new, reinterpret_cast<void*>(&init_keygen_result_new)},
                                 {Py_tp_methods, g_init_keygen_result_methods},
                                 {Py_tp_getset, g_init_keygen_result_props}});
}

PyTypeObject* message_hash_type() {
  static const std::string doc = py::signature_doc("PyMessageHash", "(hex_str)");
  return once<MessageHash>(g_message_hash, "PyMessageHash",
                           {{Py_tp_doc, const_cast<char*>(doc.c_str())},
                            {Py_tp_new, reinterpret_cast<void*>(&message_hash_new)},
                            {Py_tp_methods, g_message_hash_methods}});
}

PyTypeObject* ecdsa_keygen_result_type() {
  return once<EcdsaKeygenResult>(g_ecdsa_keygen_result, kEcdsaKeygenResultName,
                                 {{Py_tp_new, reinterpret_cast<void*>(&no_constructor<kEcdsaKeygenResultName>)},
                                  {Py_tp_getset, g_ecdsa_keygen_result_props}});
}

PyTypeObject* ecdsa_signature_type() {
  return once<EcdsaSignatureValue>(g_ecdsa_signature, kEcdsaSignatureName,
                                   {{Py_tp_new, reinterpret_cast<void*>(&no_constructor<kEcdsaSignatureName>)},
                                    {Py_tp_getset, g_ecdsa_signature_props}});
}

PyTypeObject* ed25519_keygen_result_type() {
  return once<Ed25519KeygenResult>(
      g_ed25519_keygen_result, kEd25519KeygenResultName,
      {{Py_tp_new, reinterpret_cast<void*>(&no_constructor<kEd25519KeygenResultName>)},
       {Py_tp_getset, g_ed25519_keygen_result_props}});
}

PyObject* new_init_keygen_result(InitKeygenResult v) {
  PyTypeObject* t = init_keygen_result_type();
  return t == nullptr ? nullptr : py::make_instance<InitKeygenResult>(t, std::move(v));
}

PyObject* new_ecdsa_keygen_result(EcdsaKeygenResult v) {
  PyTypeObject* t = ecdsa_keygen_result_type();
  return t == nullptr ? nullptr : py::make_instance<EcdsaKeygenResult>(t, std::move(v));
}

PyObject* new_ed25519_keygen_result(Ed25519KeygenResult v) {
  PyTypeObject* t = ed25519_keygen_result_type();
  return t == nullptr ? nullptr : py::make_instance<Ed25519KeygenResult>(t, std::move(v));
}

PyObject* new_ecdsa_signature(EcdsaSignatureValue v) {
  PyTypeObject* t = ecdsa_signature_type();
  return t == nullptr ? nullptr : py::make_instance<EcdsaSignatureValue>(t, std::move(v));
}

const MessageHash& message_hash_of(PyObject* o) { return py::value_of<MessageHash>(o); }

}  // namespace karvane
