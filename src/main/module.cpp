#include <Python.h>
#include <boost/python.hpp>

#include <cstring>

#include "databaseparser/database_parser.h"
#include "errors/database_exception.h"
#include "query/query_set.h"

namespace {

namespace bp = boost::python;

// Every DatabaseException leaving a bound method becomes RuntimeError with
// exactly the exception's message.
void translateDatabaseException(const DatabaseException& e) {
  PyErr_SetString(PyExc_RuntimeError, e.what());
}

// The UTF-8 text of a command. Only str is accepted (the binding refuses
// None and bytes with TypeError); a NUL inside would silently cut the
// command short, so it is refused with ValueError.
const char* commandText(const bp::str& command) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(command.ptr(), &size);
  if (text == nullptr) bp::throw_error_already_set();
  if (std::strlen(text) != static_cast<size_t>(size)) {
    PyErr_SetString(PyExc_ValueError, "embedded null character in command");
    bp::throw_error_already_set();
  }
  return text;
}

void executeCommand(DatabaseParser& parser, const bp::str& command) {
  parser.executeCommand(commandText(command));
}

QuerySet executeSelect(DatabaseParser& parser, const bp::str& command) {
  return parser.executeSelect(commandText(command));
}

}  // namespace

BOOST_PYTHON_MODULE(tabulon) {
  bp::register_exception_translator<DatabaseException>(&translateDatabaseException);

  bp::class_<DatabaseParser>("DatabaseParser", bp::init<>())
      .def("executeCommand", &executeCommand)
      .def("executeSelect", &executeSelect);

  bp::class_<QuerySet>("QuerySet", bp::init<>())
      .def("getString", &QuerySet::getString)
      .def("getFloat", &QuerySet::getDouble)
      .def("getInt", &QuerySet::getLong)
      .def("getNumberOfRows", &QuerySet::getNumberOfRows)
      .def("getNumberOfCols", &QuerySet::getNumberOfCols)
      .def("setRow", &QuerySet::setRow);
}
