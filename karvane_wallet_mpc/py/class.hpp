// Classes over a C++ value: the instance is a Python object header followed
// by one T, built in place and destroyed with the object. Types are heap
// types made from a spec (stable ABI), not subclassable.
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace karvane::py {

template <class T>
struct Instance {
  PyObject_HEAD
  alignas(T) unsigned char storage[sizeof(T)];

  T& value() noexcept { return *std::launder(reinterpret_cast<T*>(storage)); }
};

template <class T>
T& value_of(PyObject* self) noexcept {
  return reinterpret_cast<Instance<T>*>(self)->value();
}

template <class T>
void dealloc_instance(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  value_of<T>(self).~T();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
  free_fn(self);
  Py_DECREF(tp);
}

// A new instance of `type` holding T(args...), or null with an error set.
template <class T, class... Args>
PyObject* make_instance(PyTypeObject* type, Args&&... args) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (reinterpret_cast<Instance<T>*>(self)->storage) T(std::forward<Args>(args)...);
  return self;
}

// The doc of a class or method with a text signature:
// "{name}{signature}\n--\n\n{docstring}".
inline std::string signature_doc(const char* name, const char* signature, const char* docstring = "") {
  return std::string(name) + signature + "\n--\n\n" + docstring;
}

// Builds a heap type named `name` (bare) from the given slots, then sets its
// __module__ to `module`. `slots` must end with {0, nullptr}.
PyTypeObject* make_type(const char* name, int basicsize, std::vector<PyType_Slot> slots, const char* module);

}  // namespace karvane::py
