#include "karvane_wallet_mpc/py/args.hpp"

#include <limits>

namespace karvane::py {

namespace {

// Raises the type refusal "'{type}' object cannot be converted to '{kind}'"
// wrapped with the parameter's name.
bool refuse(PyObject* o, const char* name, const char* kind);

// Turns the pending TypeError into "argument '{name}': ..." with the original
// as cause; leaves any other pending error alone. Always returns false.
bool name_argument(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
  PendingError original = PendingError::fetch();
  const std::string text = "argument '" + std::string(name) + "': " + str_of(original.value());
  Ref msg = py::text(text);
  if (!msg) return false;
  Ref wrapped = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, msg.get(), nullptr));
  if (!wrapped) return false;
  Ref cause = std::move(original).take_value();
  PyException_SetCause(wrapped.get(), cause.release());  // steals
  PyErr_SetObject(PyExc_TypeError, wrapped.get());
  return false;
}

bool refuse(PyObject* o, const char* name, const char* kind) {
  const std::string text = "'" + type_qualname(o) + "' object cannot be converted to '" + kind + "'";
  PyErr_SetString(PyExc_TypeError, text.c_str());
  return name_argument(name);
}

bool out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return false;
}

// An integer by the index protocol, within [0, max]. Errors unnamed.
bool index_in_range(PyObject* o, unsigned long max, unsigned long& out) {
  Ref idx = Ref::steal(PyNumber_Index(o));
  if (!idx) return false;
  const long v = PyLong_AsLong(idx.get());
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < 0 || static_cast<unsigned long>(v) > max) return out_of_range();
  out = static_cast<unsigned long>(v);
  return true;
}

// Iterates a sequence other than a str, calling `item` for each element.
template <class Item>
bool for_each_item(PyObject* o, const char* name, Item item) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to a list");
    return name_argument(name);
  }
  if (PySequence_Check(o) == 0) return refuse(o, name, "Sequence");
  Ref it = Ref::steal(PyObject_GetIter(o));
  if (!it) return name_argument(name);
  while (true) {
    Ref x = Ref::steal(PyIter_Next(it.get()));
    if (!x) break;
    if (!item(x.get())) return name_argument(name);
  }
  if (PyErr_Occurred() != nullptr) return name_argument(name);
  return true;
}

bool utf8_of(PyObject* o, std::string& out) {
  Ref b = Ref::steal(PyUnicode_AsUTF8String(o));
  if (!b) return false;
  char* data = nullptr;
  Py_ssize_t n = 0;
  if (PyBytes_AsStringAndSize(b.get(), &data, &n) != 0) return false;
  out.assign(data, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

bool match_args(const char* callable, std::initializer_list<const char*> names, PyObject* args, PyObject* kwargs,
                PyObject** out) {
  const auto nparams = static_cast<Py_ssize_t>(names.size());
  const Py_ssize_t npos = args == nullptr ? 0 : PyTuple_Size(args);
  const std::string fn = std::string(callable) + "()";
  if (npos > nparams) {
    const std::string text = fn + " takes " + std::to_string(nparams) + " positional argument" +
                             (nparams == 1 ? "" : "s") + " but " + std::to_string(npos) +
                             (npos == 1 ? " was" : " were") + " given";
    PyErr_SetString(PyExc_TypeError, text.c_str());
    return false;
  }
  Py_ssize_t i = 0;
  for (; i < npos; ++i) out[i] = PyTuple_GetItem(args, i);
  for (Py_ssize_t k = npos; k < nparams; ++k) out[k] = nullptr;
  if (kwargs != nullptr) {
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      std::string kname;
      if (!PyUnicode_Check(key) || !utf8_of(key, kname)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, (fn + " keywords must be strings").c_str());
        return false;
      }
      Py_ssize_t found = -1;
      Py_ssize_t j = 0;
      for (const char* n : names) {
        if (kname == n) found = j;
        ++j;
      }
      if (found < 0) {
        PyErr_SetString(PyExc_TypeError, (fn + " got an unexpected keyword argument '" + kname + "'").c_str());
        return false;
      }
      if (out[found] != nullptr) {
        PyErr_SetString(PyExc_TypeError, (fn + " got multiple values for argument '" + kname + "'").c_str());
        return false;
      }
      out[found] = value;
    }
  }
  std::vector<std::string> missing;
  Py_ssize_t j = 0;
  for (const char* n : names) {
    if (out[j] == nullptr) missing.push_back(std::string("'") + n + "'");
    ++j;
  }
  if (!missing.empty()) {
    std::string list;
    for (std::size_t m = 0; m < missing.size(); ++m) {
      if (m > 0) list += missing.size() == 2 ? " and " : (m + 1 == missing.size() ? ", and " : ", ");
      list += missing[m];
    }
    const std::string text = fn + " missing " + std::to_string(missing.size()) + " required positional argument" +
                             (missing.size() == 1 ? "" : "s") + ": " + list;
    PyErr_SetString(PyExc_TypeError, text.c_str());
    return false;
  }
  return true;
}

bool to_text(PyObject* o, const char* name, std::string& out) {
  if (!PyUnicode_Check(o)) return refuse(o, name, "PyString");
  if (!utf8_of(o, out)) return name_argument(name);
  return true;
}

bool to_u16(PyObject* o, const char* name, std::uint16_t& out) {
  unsigned long v = 0;
  if (!index_in_range(o, std::numeric_limits<std::uint16_t>::max(), v)) return name_argument(name);
  out = static_cast<std::uint16_t>(v);
  return true;
}

bool to_byte_list(PyObject* o, const char* name, std::vector<std::uint8_t>& out) {
  out.clear();
  return for_each_item(o, name, [&](PyObject* x) {
    unsigned long v = 0;
    if (!index_in_range(x, 255, v)) return false;
    out.push_back(static_cast<std::uint8_t>(v));
    return true;
  });
}

bool to_text_list(PyObject* o, const char* name, std::vector<std::string>& out) {
  out.clear();
  return for_each_item(o, name, [&](PyObject* x) {
    if (!PyUnicode_Check(x)) {
      const std::string text = "'" + type_qualname(x) + "' object cannot be converted to 'PyString'";
      PyErr_SetString(PyExc_TypeError, text.c_str());
      return false;
    }
    std::string s;
    if (!utf8_of(x, s)) return false;
    out.push_back(std::move(s));
    return true;
  });
}

bool to_u32_list(PyObject* o, const char* name, std::vector<std::uint32_t>& out) {
  out.clear();
  return for_each_item(o, name, [&](PyObject* x) {
    unsigned long v = 0;
    if (!index_in_range(x, std::numeric_limits<std::uint32_t>::max(), v)) return false;
    out.push_back(static_cast<std::uint32_t>(v));
    return true;
  });
}

bool to_bool(PyObject* o, const char* name, bool& out) {
  if (!PyBool_Check(o)) {
    Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__module__"));
    if (!module) PyErr_Clear();
    const bool numpy_bool = module && PyUnicode_Check(module.get()) &&
                            PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
                            (type_qualname(o) == "bool_" || type_qualname(o) == "bool");
    if (!numpy_bool) return refuse(o, name, "PyBool");
  }
  const int truth = PyObject_IsTrue(o);
  if (truth < 0) return name_argument(name);
  out = truth == 1;
  return true;
}

bool to_bytes_view(PyObject* o, const char* name, const char*& data, std::size_t& len) {
  if (!PyBytes_Check(o)) return refuse(o, name, "PyBytes");
  char* p = nullptr;
  Py_ssize_t n = 0;
  if (PyBytes_AsStringAndSize(o, &p, &n) != 0) return name_argument(name);
  data = p;
  len = static_cast<std::size_t>(n);
  return true;
}

bool check_instance(PyObject* o, const char* name, PyTypeObject* type, const char* kind) {
  const int r = PyObject_IsInstance(o, reinterpret_cast<PyObject*>(type));
  if (r < 0) return name_argument(name);
  if (r == 0) return refuse(o, name, kind);
  return true;
}

}  // namespace karvane::py
