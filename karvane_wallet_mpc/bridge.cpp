#include "karvane_wallet_mpc/bridge.hpp"

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "crypto/error.hpp"
#include "karvane_wallet_mpc/error.hpp"

namespace karvane::bridge {

namespace asio = boost::asio;

namespace {

std::atomic<velto::async::Runtime*> g_runtime{nullptr};

// What the future's done-callback reaches: the operation's strand and its
// cancellation signal. Shared with the supervisor, not with the future, so the
// future never keeps itself alive through it.
struct Cancel {
  explicit Cancel(asio::any_io_executor ex) : strand(asio::make_strand(ex)) {}
  asio::strand<asio::any_io_executor> strand;
  asio::cancellation_signal signal;  // touched on the strand only
  std::atomic<bool> requested{false};

  void request(const std::shared_ptr<Cancel>& self) {
    if (requested.exchange(true)) return;
    asio::post(strand, [self] { self->signal.emit(asio::cancellation_type::terminal); });
  }
};

struct Target {
  py::GilRef loop;
  py::GilRef future;
};

bool future_is(PyObject* fut, const char* method) {
  py::Ref r = py::Ref::steal(PyObject_CallMethod(fut, method, nullptr));
  if (!r) {
    PyErr_Clear();
    return false;
  }
  return PyObject_IsTrue(r.get()) == 1;
}

// loop.call_soon_threadsafe target: (future, ok, value).
PyObject* set_outcome(PyObject*, PyObject* args) {
  PyObject *fut = nullptr, *ok = nullptr, *value = nullptr;
  if (!PyArg_UnpackTuple(args, "set_outcome", 3, 3, &fut, &ok, &value)) return nullptr;
  if (!future_is(fut, "done")) {
    py::Ref r = py::Ref::steal(
        PyObject_CallMethod(fut, PyObject_IsTrue(ok) == 1 ? "set_result" : "set_exception", "O", value));
    if (!r) return nullptr;
  }
  Py_RETURN_NONE;
}

PyMethodDef g_set_outcome_def{"set_outcome", set_outcome, METH_VARARGS, nullptr};

// future.add_done_callback target; self is a capsule holding the Cancel.
PyObject* on_done(PyObject* capsule, PyObject* fut) {
  if (future_is(fut, "cancelled")) {
    auto* cancel = static_cast<std::shared_ptr<Cancel>*>(PyCapsule_GetPointer(capsule, "karvane.cancel"));
    if (cancel != nullptr) (*cancel)->request(*cancel);
  }
  Py_RETURN_NONE;
}

PyMethodDef g_on_done_def{"on_done", on_done, METH_O, nullptr};

void free_cancel(PyObject* capsule) {
  delete static_cast<std::shared_ptr<Cancel>*>(PyCapsule_GetPointer(capsule, "karvane.cancel"));
}

// With the lock held: the outcome to the loop, unless the future is cancelled.
// The operation's Python references are released here, under the lock, so
// that nothing of Python is left for the worker to touch afterwards. Once the
// interpreter is on its way out nobody is waiting: the outcome is dropped.
void complete(Target& target, const Maker& make) {
  py::WorkerGil gil;
  if (!gil) return;
  const py::Ref loop = target.loop.take();
  const py::Ref future = target.future.take();
  if (future_is(future.get(), "cancelled")) return;
  PyObject* value = make();
  const bool ok = value != nullptr;
  py::Ref outcome = ok ? py::Ref::steal(value) : py::PendingError::fetch().take_value();
  static PyObject* setter = PyCFunction_New(&g_set_outcome_def, nullptr);
  if (setter == nullptr) {
    PyErr_Print();
    return;
  }
  py::Ref r = py::Ref::steal(PyObject_CallMethod(loop.get(), "call_soon_threadsafe", "OOOO", setter, future.get(),
                                                 ok ? Py_True : Py_False, outcome.get()));
  if (!r) PyErr_Print();  // e.g. the loop is closed: the result is lost
}

Maker panic_maker(std::string text) {
  return [text = std::move(text)]() -> PyObject* {
    PyObject* type = async_panic_type();
    if (type == nullptr) return nullptr;
    const std::string full = kAsyncPanicPrefix + (text.empty() ? std::string("unknown error") : text);
    PyErr_SetString(type, full.c_str());
    return nullptr;
  };
}

bool is_aborted(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const boost::system::system_error& se) {
    return se.code() == asio::error::operation_aborted;
  } catch (...) {
    return false;
  }
}

asio::awaitable<void> supervise(Operation op, std::shared_ptr<Target> target, std::shared_ptr<Cancel> cancel) {
  if (cancel->requested.load()) co_return;  // cancelled before it ran: no library call
  Maker outcome;
  try {
    outcome = co_await op();
  } catch (const velto::Panic& p) {
    outcome = panic_maker(p.message());
  } catch (...) {
    const auto e = std::current_exception();
    if (cancel->requested.load() && is_aborted(e)) co_return;  // dropped by cancellation
    outcome = panic_maker(velto::async::detail::exception_text(e));
  }
  if (cancel->requested.load()) co_return;
  complete(*target, outcome);
}

}  // namespace

bool set_runtime(velto::async::Runtime* rt) noexcept {
  velto::async::Runtime* expected = nullptr;
  return g_runtime.compare_exchange_strong(expected, rt);
}

velto::async::Runtime* runtime() noexcept { return g_runtime.load(); }

PyObject* spawn(Operation op) {
  velto::async::Runtime* rt = runtime();
  if (rt == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "the module runtime is not running");
    return nullptr;
  }
  py::Ref asyncio = py::Ref::steal(PyImport_ImportModule("asyncio"));
  if (!asyncio) return nullptr;
  py::Ref loop = py::Ref::steal(PyObject_CallMethod(asyncio.get(), "get_running_loop", nullptr));
  if (!loop) return nullptr;
  py::Ref fut = py::Ref::steal(PyObject_CallMethod(loop.get(), "create_future", nullptr));
  if (!fut) return nullptr;

  auto cancel = std::make_shared<Cancel>(rt->executor());
  py::Ref capsule = py::Ref::steal(
      PyCapsule_New(new std::shared_ptr<Cancel>(cancel), "karvane.cancel", &free_cancel));
  if (!capsule) return nullptr;
  py::Ref callback = py::Ref::steal(PyCFunction_New(&g_on_done_def, capsule.get()));
  if (!callback) return nullptr;
  py::Ref added = py::Ref::steal(PyObject_CallMethod(fut.get(), "add_done_callback", "O", callback.get()));
  if (!added) return nullptr;

  auto target = std::make_shared<Target>();
  target->loop = py::GilRef(loop);
  target->future = py::GilRef(fut);
  // The completion handler keeps the signal alive until the spawned frame has
  // let go of its slot.
  auto done = [keep = cancel](const std::exception_ptr&) {};
  asio::co_spawn(cancel->strand, supervise(std::move(op), std::move(target), cancel),
                 asio::bind_cancellation_slot(cancel->signal.slot(), std::move(done)));
  return fut.release();
}

Maker value_error(const char* text) {
  return [text]() -> PyObject* {
    PyErr_SetString(PyExc_ValueError, text);
    return nullptr;
  };
}

}  // namespace karvane::bridge
