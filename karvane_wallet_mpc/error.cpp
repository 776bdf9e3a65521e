#include "karvane_wallet_mpc/error.hpp"

namespace karvane {

namespace {

PyObject* new_type(PyObject*& cell, const char* name, PyObject* base) {
  if (cell == nullptr) cell = PyErr_NewException(name, base, nullptr);
  if (cell == nullptr && !PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "Failed to initialize new exception type.");
  return cell;
}

PyObject* g_mpc_error = nullptr;
PyObject* g_sync_panic = nullptr;
PyObject* g_async_panic = nullptr;

}  // namespace

PyObject* mpc_error_type() { return new_type(g_mpc_error, "karvane_wallet_mpc.MPCError", PyExc_Exception); }
PyObject* sync_panic_type() {
  return new_type(g_sync_panic, "karvane_wallet_mpc.PanicException", PyExc_BaseException);
}
PyObject* async_panic_type() { return new_type(g_async_panic, "karvane_wallet_mpc.OperationPanic", PyExc_Exception); }

PyObject* to_py_err(const velto::mpc::VeltoError& e) {
  PyObject* type = mpc_error_type();
  if (type == nullptr) return nullptr;
  py::Ref text = py::text(e.display());
  if (!text) return nullptr;
  PyErr_SetObject(type, text.get());
  return nullptr;
}

PyObject* raise_sync_panic(const std::string& text) {
  PyObject* type = sync_panic_type();
  if (type == nullptr) return nullptr;
  py::Ref t = py::text(text);
  if (!t) return nullptr;
  PyErr_SetObject(type, t.get());
  return nullptr;
}

}  // namespace karvane
