#include <Python.h>
#include <boost/python.hpp>

#include "errors/database_exception.h"

namespace {

// Every DatabaseException leaving a bound method becomes RuntimeError with
// exactly the exception's message.
void translateDatabaseException(const DatabaseException& e) {
  PyErr_SetString(PyExc_RuntimeError, e.what());
}

}  // namespace

BOOST_PYTHON_MODULE(tabulon) {
  boost::python::register_exception_translator<DatabaseException>(
      &translateDatabaseException);
}
