#include "karvane_wallet_mpc/py/ref.hpp"

#include <condition_variable>
#include <mutex>

namespace karvane::py {

namespace {

struct WorkerGate {
  std::mutex m;
  std::condition_variable left;
  bool closed = false;
  int inside = 0;
};

WorkerGate& gate() {
  static auto* g = new WorkerGate;  // never destroyed: workers may outlive statics
  return *g;
}

}  // namespace

WorkerGil::WorkerGil() noexcept {
  WorkerGate& g = gate();
  {
    const std::lock_guard lock(g.m);
    if (g.closed) return;
    ++g.inside;
  }
  state_ = PyGILState_Ensure();
  entered_ = true;
}

WorkerGil::~WorkerGil() {
  if (!entered_) return;
  PyGILState_Release(state_);
  WorkerGate& g = gate();
  const std::lock_guard lock(g.m);
  --g.inside;
  g.left.notify_all();
}

void close_worker_gate() noexcept {
  WorkerGate& g = gate();
  PyThreadState* saved = PyEval_SaveThread();
  {
    std::unique_lock lock(g.m);
    g.closed = true;
    g.left.wait(lock, [&] { return g.inside == 0; });
  }
  PyEval_RestoreThread(saved);
}

PendingError PendingError::fetch() {
  PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
  PyErr_Fetch(&t, &v, &tb);
  PyErr_NormalizeException(&t, &v, &tb);
  if (tb != nullptr && v != nullptr) PyException_SetTraceback(v, tb);
  PendingError e;
  e.type_ = Ref::steal(t);
  e.value_ = Ref::steal(v);
  e.traceback_ = Ref::steal(tb);
  return e;
}

void PendingError::restore() && {
  PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

std::string str_of(PyObject* o) {
  Ref s = Ref::steal(PyObject_Str(o));
  if (!s) {
    PyErr_Clear();
    return {};
  }
  Ref b = Ref::steal(PyUnicode_AsUTF8String(s.get()));
  if (!b) {
    PyErr_Clear();
    return {};
  }
  char* data = nullptr;
  Py_ssize_t n = 0;
  if (PyBytes_AsStringAndSize(b.get(), &data, &n) != 0) {
    PyErr_Clear();
    return {};
  }
  return std::string(data, static_cast<std::size_t>(n));
}

std::string type_qualname(PyObject* o) {
  Ref q = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__qualname__"));
  if (!q) {
    PyErr_Clear();
    return "?";
  }
  return str_of(q.get());
}

Ref text(std::string_view s) {
  return Ref::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

Ref byte_list(const unsigned char* data, std::size_t n) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return list;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = PyLong_FromLong(data[i]);
    if (item == nullptr) return Ref();
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list;
}

}  // namespace karvane::py

#include "karvane_wallet_mpc/py/class.hpp"

namespace karvane::py {

PyTypeObject* make_type(const char* name, int basicsize, std::vector<PyType_Slot> slots, const char* module) {
  PyType_Spec spec{name, basicsize, 0, Py_TPFLAGS_DEFAULT, slots.data()};
  // A bare type name draws a DeprecationWarning about the missing __module__,
  // which is set right below; keep it quiet while the type is made.
  Ref warnings = Ref::steal(PyImport_ImportModule("warnings"));
  Ref guard = warnings ? Ref::steal(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr)) : Ref();
  Ref entered = guard ? Ref::steal(PyObject_CallMethod(guard.get(), "__enter__", nullptr)) : Ref();
  if (!entered) return nullptr;
  Ref ignored = Ref::steal(PyObject_CallMethod(warnings.get(), "simplefilter", "sO", "ignore", PyExc_DeprecationWarning));
  PyObject* type = ignored ? PyType_FromSpec(&spec) : nullptr;
  Ref exited = Ref::steal(PyObject_CallMethod(guard.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
  if (type == nullptr || !exited) {
    Py_XDECREF(type);
    return nullptr;
  }
  if (type == nullptr) return nullptr;
  Ref mod = text(module);
  if (!mod || PyObject_SetAttrString(type, "__module__", mod.get()) != 0) {
    Py_DECREF(type);
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace karvane::py
