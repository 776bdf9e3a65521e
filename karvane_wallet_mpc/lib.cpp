// The module's entry point. The body runs once per process: it builds the
// module runtime (kept for the life of the process), registers it with the
// asyncio bridge, creates MPCError and registers the classes in order, each
// added to the module and to __all__.
#include "velto-mpc-infra/async/asio.hpp"

#include "karvane_wallet_mpc/py/ref.hpp"

#include <cstdint>
#include <exception>
#include <string>

#include "karvane_wallet_mpc/bridge.hpp"
#include "karvane_wallet_mpc/ecdsa.hpp"
#include "karvane_wallet_mpc/ed25519.hpp"
#include "karvane_wallet_mpc/error.hpp"
#include "karvane_wallet_mpc/exportable_ed25519.hpp"
#include "karvane_wallet_mpc/types.hpp"
#include "velto-mpc-infra/async/runtime.hpp"

namespace karvane {

namespace {

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "karvane_wallet_mpc", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

PyObject* g_module = nullptr;  // the one module object, once made
std::int64_t g_interpreter = -1;

// atexit hook: from here on no runtime worker enters the interpreter (an
// operation that completes later is dropped), and the workers inside have
// left before finalization starts.
PyObject* close_gate(PyObject*, PyObject*) {
  py::close_worker_gate();
  Py_RETURN_NONE;
}

PyMethodDef g_close_gate_def{"_close_worker_gate", close_gate, METH_NOARGS, nullptr};

bool register_exit_hook() {
  py::Ref atexit = py::Ref::steal(PyImport_ImportModule("atexit"));
  py::Ref hook = py::Ref::steal(PyCFunction_New(&g_close_gate_def, nullptr));
  if (!atexit || !hook) return false;
  py::Ref r = py::Ref::steal(PyObject_CallMethod(atexit.get(), "register", "O", hook.get()));
  return static_cast<bool>(r);
}

// Sets module.name and appends the name to __all__.
bool add(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    PyErr_Clear();
    all = py::Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) != 0) return false;
  }
  if (PyObject_SetAttrString(module, name, value) != 0) return false;
  py::Ref n = py::text(name);
  return n && PyList_Append(all.get(), n.get()) == 0;
}

// The module runtime: built on the first import attempt that gets this far and
// kept for the life of the process. A retried import finds it and reuses it.
velto::async::Runtime* module_runtime(std::string& error) {
  static velto::async::Runtime* rt = nullptr;
  if (rt != nullptr) return rt;
  try {
    rt = new velto::async::Runtime(0);  // never released
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "unknown error";
  }
  return rt;
}

bool body(PyObject* module) {
  std::string error;
  velto::async::Runtime* rt = module_runtime(error);
  if (rt == nullptr) {
    raise_sync_panic("Failed to build the module runtime: " + error);
    return false;
  }
  (void)bridge::set_runtime(rt);
  if (!register_exit_hook()) return false;
  if (!add(module, "MPCError", mpc_error_type())) return false;
  const struct {
    const char* name;
    PyTypeObject* (*type)();
  } classes[] = {
      {"PyInitKeygenResult", &init_keygen_result_type},
      {"PyMessageHash", &message_hash_type},
      {"PyEcdsaKeygenResult", &ecdsa_keygen_result_type},
      {"PyEcdsaSignature", &ecdsa_signature_type},
      {"PyEd25519KeygenResult", &ed25519_keygen_result_type},
      {"PyEcdsa", &ecdsa_type},
      {"PyEd25519", &ed25519_type},
      {"PyExportableEd25519", &exportable_ed25519_type},
  };
  for (const auto& c : classes)
    if (!add(module, c.name, reinterpret_cast<PyObject*>(c.type()))) return false;
  return true;
}

}  // namespace

}  // namespace karvane

extern "C" PyMODINIT_FUNC PyInit_karvane_wallet_mpc(void) {
  using namespace karvane;
  const std::int64_t interp = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (g_module != nullptr) {
    if (interp != g_interpreter) {
      PyErr_SetString(PyExc_ImportError,
                      "karvane_wallet_mpc can be imported only once per process (not in a sub-interpreter)");
      return nullptr;
    }
    Py_INCREF(g_module);
    return g_module;
  }
  py::Ref module = py::Ref::steal(PyModule_Create(&g_def));
  if (!module) return nullptr;
  if (!body(module.get())) return nullptr;
  g_interpreter = interp;
  g_module = module.get();
  Py_INCREF(g_module);  // kept for later imports
  return module.release();
}
