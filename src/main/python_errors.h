#pragma once

#include <Python.h>

#include "errors/database_exception.h"

// The one place where C++ failures become Python exceptions. Every entry
// point of the module catches what its work throws and hands it here:
//
//   DatabaseException        -> the Error class of its kind, with exactly
//                               its message
//   nanobind::python_error   -> the Python exception it carries
//   Interrupted              -> the exception the signal handler raised
//                               (KeyboardInterrupt for Ctrl-C), else
//                               tabulon.Error "Interrupted"
//   std::bad_alloc           -> MemoryError
//   other std::exception     -> tabulon.Error with its what() text
//
// The Error classes: tabulon.Error, a RuntimeError, for every failure the
// module reports itself, and its subclasses ParseError, UnknownNameError,
// LoadError and StaleResultError for the kinds of ErrorKind.
//
// Messages are decoded as UTF-8 with U+FFFD replacing bytes that are not
// UTF-8 (a message may quote a token or a file's bytes), so a failure never
// surfaces as UnicodeDecodeError.

// Creates the Error classes and adds them to `module`; false with the
// Python error set when that fails. Called once, when the module is
// imported.
bool addErrorClasses(PyObject* module) noexcept;

// Sets the Python error for the exception being handled. Call only inside a
// catch block.
void raisePythonError() noexcept;

// Sets the Error class of `kind` with `message`, decoded as above.
void setDatabaseError(ErrorKind kind, const char* message) noexcept;

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
