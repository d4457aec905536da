#pragma once

#include <Python.h>

// The one place where C++ failures become Python exceptions. Every entry
// point of the module catches what its work throws and hands it here:
//
//   DatabaseException        -> RuntimeError with exactly its message
//   nanobind::python_error   -> the Python exception it carries
//   Interrupted              -> the exception the signal handler raised
//                               (KeyboardInterrupt for Ctrl-C), else
//                               RuntimeError "Interrupted"
//   std::bad_alloc           -> MemoryError
//   other std::exception     -> RuntimeError with its what() text
//
// Messages are decoded as UTF-8 with U+FFFD replacing bytes that are not
// UTF-8 (a message may quote a token or a file's bytes), so a failure never
// surfaces as UnicodeDecodeError.

// Sets the Python error for the exception being handled. Call only inside a
// catch block.
void raisePythonError() noexcept;

// Sets RuntimeError with `message`, decoded as above.
void setRuntimeError(const char* message) noexcept;

// Runs `body`, which returns a nanobind::object, and hands Python a new
// reference to its answer; nullptr with the Python error set when it throws.
template <typename Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body().release().ptr();
  } catch (...) {
    raisePythonError();
    return nullptr;
  }
}
