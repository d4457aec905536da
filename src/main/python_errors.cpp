// Turning the C++ exception being handled into its Python exception, with the
// message decoded as UTF-8, bad bytes replaced; the Error classes.

#include "main/python_errors.h"

#include <nanobind/nanobind.h>

#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <string>

#include "errors/interruption.h"

namespace {

struct ErrorClass {
  ErrorKind kind;
  const char* name;  // as the module names it
  const char* doc;
};

// The base class comes first: the others derive from it.
constexpr ErrorClass kErrorClasses[] = {
    {ErrorKind::kGeneral, "Error",
     "Every failure tabulon reports; a RuntimeError, so that code catching\n"
     "RuntimeError catches it."},
    {ErrorKind::kParse, "ParseError",
     "A command that is no valid statement: a word out of place, an unknown\n"
     "operator, brackets that do not pair up, a ? where no value stands, or\n"
     "parameters that do not fill its placeholders."},
    {ErrorKind::kUnknownName, "UnknownNameError", "A table or a column that does not exist."},
    {ErrorKind::kLoad, "LoadError",
     "A file that cannot be read or loaded, or a value (in a file, written\n"
     "in a command or given as a parameter) that its column's type cannot\n"
     "hold."},
    {ErrorKind::kStaleResult, "StaleResultError",
     "A query result read after a table behind it was loaded into or\n"
     "dropped."},
};

// The classes, indexed like kErrorClasses; set once, never released.
PyObject* errorClasses[std::size(kErrorClasses)] = {};

PyObject* errorClass(ErrorKind kind) {
  for (size_t k = 0; k < std::size(kErrorClasses); ++k) {
    if (kErrorClasses[k].kind == kind && errorClasses[k] != nullptr) return errorClasses[k];
  }
  return errorClasses[0] != nullptr ? errorClasses[0] : PyExc_RuntimeError;
}

}  // namespace

bool addErrorClasses(PyObject* module) noexcept {
  for (size_t k = 0; k < std::size(kErrorClasses); ++k) {
    const std::string qualified = std::string("tabulon.") + kErrorClasses[k].name;
    PyObject* const base = k == 0 ? PyExc_RuntimeError : errorClasses[0];
    PyObject* const made = PyErr_NewExceptionWithDoc(qualified.c_str(), kErrorClasses[k].doc, base, nullptr);
    if (made == nullptr) return false;
    errorClasses[k] = made;
    if (PyModule_AddObjectRef(module, kErrorClasses[k].name, made) < 0) return false;
  }
  return true;
}

void setDatabaseError(ErrorKind kind, const char* message) noexcept {
  PyObject* const text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace");
  if (text == nullptr) return;  // the decoder set MemoryError
  PyErr_SetObject(errorClass(kind), text);
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
    if (PyErr_Occurred() == nullptr) setDatabaseError(ErrorKind::kGeneral, e.what());
  } catch (const DatabaseException& e) {
    setDatabaseError(e.kind(), e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    setDatabaseError(ErrorKind::kGeneral, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "tabulon: unknown C++ exception");
  }
}
