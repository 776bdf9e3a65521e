// Our RAII layer over the CPython limited C API: owned references, the
// interpreter lock, and errors as C++ values.
//
// Every function here expects the interpreter lock to be held, except
// Gil and WorkerGil (which take it) and GilRef's destructor (which takes it
// itself through a WorkerGil).
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

namespace karvane::py {

// An owned (strong) reference. Released with the lock held.
class Ref {
 public:
  Ref() noexcept = default;
  // Takes over a new reference (may be null).
  static Ref steal(PyObject* o) noexcept { return Ref(o); }
  // Adds a reference to a borrowed one.
  static Ref borrow(PyObject* o) noexcept {
    Py_XINCREF(o);
    return Ref(o);
  }
  Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* o) noexcept : p_(o) {}
  PyObject* p_ = nullptr;
};

// Holds the interpreter lock for its lifetime (from any thread).
class Gil {
 public:
  Gil() noexcept : state_(PyGILState_Ensure()) {}
  ~Gil() { PyGILState_Release(state_); }
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;

 private:
  PyGILState_STATE state_;
};

// How a runtime worker enters the interpreter. At exit the worker gate
// closes: close_worker_gate() (from an atexit hook, lock held) stops new
// entries and waits, with the lock released, until every worker inside has
// left. After that a WorkerGil takes nothing and is false, so no library
// thread touches an interpreter that is finalizing.
class WorkerGil {
 public:
  WorkerGil() noexcept;
  ~WorkerGil();
  WorkerGil(const WorkerGil&) = delete;
  WorkerGil& operator=(const WorkerGil&) = delete;
  // Whether the lock is held (false once the gate is closed).
  explicit operator bool() const noexcept { return entered_; }

 private:
  bool entered_ = false;
  PyGILState_STATE state_{};
};

// Closes the worker gate for good; called with the lock held, which it
// releases while it waits. Idempotent.
void close_worker_gate() noexcept;

// A reference that may be dropped on a thread without the lock (a runtime
// worker): the destructor takes the lock for the release. Once the worker
// gate is closed the reference is left to the interpreter's end.
class GilRef {
 public:
  GilRef() noexcept = default;
  explicit GilRef(Ref r) noexcept : p_(r.release()) {}
  GilRef(GilRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  GilRef& operator=(GilRef&& o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  GilRef(const GilRef&) = delete;
  GilRef& operator=(const GilRef&) = delete;
  ~GilRef() {
    if (p_ == nullptr) return;
    WorkerGil gil;
    if (gil) Py_DECREF(p_);
  }
  PyObject* get() const noexcept { return p_; }
  // Takes the reference out (the lock must be held by the caller).
  Ref take() noexcept { return Ref::steal(std::exchange(p_, nullptr)); }

 private:
  PyObject* p_ = nullptr;
};

// A pending Python exception taken out of the interpreter (normalised).
class PendingError {
 public:
  // Fetches and clears the current exception (there must be one).
  static PendingError fetch();
  // Sets it again as the current exception.
  void restore() &&;
  PyObject* value() const noexcept { return value_.get(); }
  Ref take_value() && { return std::move(value_); }

 private:
  Ref type_, value_, traceback_;
};

// str(o) as UTF-8, or "" when that fails (the error is cleared).
std::string str_of(PyObject* o);
// type(o).__qualname__.
std::string type_qualname(PyObject* o);
// A new str from UTF-8 bytes.
Ref text(std::string_view s);
// A new list of ints from bytes.
Ref byte_list(const unsigned char* data, std::size_t n);
template <class C>
Ref byte_list(const C& c) {
  return byte_list(reinterpret_cast<const unsigned char*>(c.data()), c.size());
}

}  // namespace karvane::py
