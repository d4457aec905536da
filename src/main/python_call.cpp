// Entering a database from Python: the interpreter given up around the
// wait and the work, and signal handlers run from the work's checks.

#include "main/python_call.h"

#include <nanobind/nanobind.h>

namespace {

unsigned long mainThread = 0;

void* releaseInterpreter() { return PyGILState_Check() != 0 ? PyEval_SaveThread() : nullptr; }

void reacquireInterpreter(void* state) { PyEval_RestoreThread(static_cast<PyThreadState*>(state)); }

}  // namespace

void PythonCall::install() {
  namespace nb = nanobind;
  mainThread = nb::cast<unsigned long>(nb::module_::import_("threading").attr("main_thread")().attr("ident"));
  DatabaseLock::setHostRelease({&releaseInterpreter, &reacquireInterpreter});
}

PythonCall::PythonCall(DatabaseLock* lock, Interpreter interpreter) {
  if (interpreter == Interpreter::kRelease) release();
  if (lock == nullptr) return;
  try {
    call_.emplace(*lock, &signalRaised, this);
  } catch (...) {
    reacquire();
    throw;
  }
}

PythonCall::~PythonCall() {
  call_.reset();
  reacquire();
}

void PythonCall::release() {
  if (saved_ == nullptr) saved_ = PyEval_SaveThread();
}

void PythonCall::reacquire() {
  if (saved_ == nullptr) return;
  PyEval_RestoreThread(saved_);
  saved_ = nullptr;
}

bool PythonCall::signalRaised(void* context) {
  auto& call = *static_cast<PythonCall*>(context);
  // Only the main thread runs signal handlers.
  if (PyThread_get_thread_ident() != mainThread) return false;
  if (call.saved_ == nullptr) return PyErr_CheckSignals() != 0;
  const auto now = std::chrono::steady_clock::now();
  if (now - call.lastCheck_ < kSignalCheckInterval) return false;
  call.lastCheck_ = now;
  call.reacquire();
  const bool raised = PyErr_CheckSignals() != 0;
  call.release();
  return raised;
}

PythonCall::Released::Released(PythonCall& call) : call_(call) { call_.release(); }

PythonCall::Released::~Released() { call_.reacquire(); }
