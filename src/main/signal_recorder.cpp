// Wrapping Python's SIGINT handler for the length of a call, to keep the
// exception it raises.

#include "main/signal_recorder.h"

#include <nanobind/nanobind.h>

#include <csignal>

namespace nb = nanobind;

struct SignalRecorder::State {
  nb::object signalModule;
  nb::object original;  // the handler the wrapper calls
  nb::object wrapper;
  nb::object raised;    // the exception the handler raised, if any
};

SignalRecorder::SignalRecorder() {
  try {
    const nb::object threading = nb::module_::import_("threading");
    if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return;
    auto state = std::make_shared<State>();
    state->signalModule = nb::module_::import_("signal");
    state->original = state->signalModule.attr("getsignal")(SIGINT);
    if (!PyCallable_Check(state->original.ptr())) return;
    // The wrapper holds the state weakly: a handler kept past the recorder
    // (stored by the code it ran) only calls the original one.
    std::weak_ptr<State> weak = state;
    nb::object original = state->original;
    state->wrapper = nb::cpp_function([weak, original](nb::handle number, nb::handle frame) {
      try {
        original(number, frame);
      } catch (nb::python_error& error) {
        if (const std::shared_ptr<State> live = weak.lock()) live->raised = nb::borrow(error.value());
        throw;
      }
    });
    state->signalModule.attr("signal")(SIGINT, state->wrapper);
    state_ = std::move(state);
  } catch (nb::python_error& error) {
    // Without a wrapper the call still runs; only the recording is lost.
    error.discard_as_unraisable("tabulon: wrapping the SIGINT handler");
  }
}

SignalRecorder::~SignalRecorder() {
  if (state_ == nullptr) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  try {
    const nb::object current = state_->signalModule.attr("getsignal")(SIGINT);
    if (current.is(state_->wrapper)) state_->signalModule.attr("signal")(SIGINT, state_->original);
  } catch (nb::python_error& error) {
    error.discard_as_unraisable("tabulon: restoring the SIGINT handler");
  }
  PyErr_Restore(type, value, traceback);
}

bool SignalRecorder::raiseRecorded() {
  if (state_ == nullptr || !state_->raised.is_valid()) return false;
  PyErr_Clear();
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(state_->raised.ptr())), state_->raised.ptr());
  return true;
}
