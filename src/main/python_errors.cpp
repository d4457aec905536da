// Turning the C++ exception being handled into its Python exception, with the
// message decoded as UTF-8, bad bytes replaced.

#include "main/python_errors.h"

#include <nanobind/nanobind.h>

#include <cstring>
#include <exception>
#include <new>

#include "errors/database_exception.h"
#include "errors/interruption.h"

void setRuntimeError(const char* message) noexcept {
  PyObject* const text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace");
  if (text == nullptr) return;  // the decoder set MemoryError
  PyErr_SetObject(PyExc_RuntimeError, text);
  Py_DECREF(text);
}

void raisePythonError() noexcept {
  try {
    throw;
  } catch (nanobind::python_error& e) {
    e.restore();
  } catch (const Interrupted& e) {
    // Stopped by a signal handler, whose exception (KeyboardInterrupt for
    // Ctrl-C) is pending already, or by DatabaseParser.interrupt().
    if (PyErr_Occurred() == nullptr) setRuntimeError(e.what());
  } catch (const DatabaseException& e) {
    setRuntimeError(e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    setRuntimeError(e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "tabulon: unknown C++ exception");
  }
}
