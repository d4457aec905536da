#include <Python.h>
#include <boost/python.hpp>

#include <cstring>
#include <memory>

#include "databaseparser/database_parser.h"
#include "errors/database_exception.h"
#include "main/query_set_methods.h"
#include "main/row_iterator.h"
#include "query/query_set.h"

namespace {

namespace bp = boost::python;

// Every DatabaseException leaving a bound method becomes RuntimeError with
// exactly the exception's message. A message may quote file data that is
// not UTF-8: such bytes become U+FFFD, as in every text read from a table.
void translateDatabaseException(const DatabaseException& e) {
  const char* const message = e.what();
  PyObject* const text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace");
  if (text == nullptr) return;
  PyErr_SetObject(PyExc_RuntimeError, text);
  Py_DECREF(text);
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

constexpr const char* kDatabaseParserDoc =
    "An in-memory database and the engine that runs commands on it.\n\n"
    "Every failure raises RuntimeError with a plain English message; the\n"
    "object stays usable afterwards.";
constexpr const char* kDatabaseParserInitDoc =
    "Creates an empty database, reading .tbconfig from the working directory\n"
    "if it exists.";
constexpr const char* kExecuteCommandDoc =
    "executeCommand(command: str) -> None\n\n"
    "Runs a CREATE TABLE, LOAD or DROP TABLE statement; any other statement,\n"
    "SELECT included, is refused.";
constexpr const char* kExecuteSelectDoc =
    "executeSelect(command: str) -> QuerySet\n\n"
    "Runs a SELECT statement and returns a cursor over its result.";

constexpr const char* kQuerySetDoc =
    "A cursor over the result of a query.\n\n"
    "Read it cell by cell (setRow, then getString/getInt/getFloat), row by\n"
    "row (for row in cursor) or all at once (fetchAll, getColumn). Values\n"
    "come as int (long, int, short), float (double, float), str (string),\n"
    "bool (bool) and datetime.date (date); invalid UTF-8 in stored text is\n"
    "replaced by U+FFFD. Copies share one current row. Once a table behind\n"
    "the result is loaded into or dropped, every read raises RuntimeError\n"
    "\"Query result is no longer valid: table NAME has changed\"; len() and\n"
    "the column names stay available.";
constexpr const char* kQuerySetInitDoc = "Creates an empty cursor: no result, no rows, no columns.";
constexpr const char* kGetStringDoc =
    "getString(col: int) -> str\n\n"
    "Text of selected column col in the current row, for every column type.";
constexpr const char* kGetFloatDoc =
    "getFloat(col: int) -> float\n\n"
    "Numeric column col of the current row as a float.";
constexpr const char* kGetIntDoc =
    "getInt(col: int) -> int\n\n"
    "Numeric column col of the current row as an int; floating-point values\n"
    "are truncated toward zero.";
constexpr const char* kGetNumberOfRowsDoc = "getNumberOfRows() -> int\n\nRows in the result.";
constexpr const char* kGetNumberOfColsDoc =
    "getNumberOfCols() -> int\n\nSelected columns in the result.";
constexpr const char* kSetRowDoc =
    "setRow(row: int) -> None\n\n"
    "Makes row (from 0, in result order) the current row.";
constexpr const char* kLenDoc = "Rows in the result, as getNumberOfRows().";
constexpr const char* kIterDoc =
    "Iterates over the rows in result order, each a tuple of typed values.\n"
    "Every iteration starts at the first row; the current row is not moved.";
constexpr const char* kFetchAllDoc =
    "fetchAll() -> list[tuple[int | float | str | bool | datetime.date, ...]]\n\n"
    "Every row as a tuple of typed values, in result order, built in one call.\n"
    "The current row is not moved.";
constexpr const char* kGetColumnDoc =
    "getColumn(col: int) -> list[int | float | str | bool | datetime.date]\n\n"
    "Selected column col of every row, in result order, built in one call.\n"
    "The current row is not moved.";
constexpr const char* kGetColumnNamesDoc =
    "getColumnNames() -> list[str]\n\nNames of the selected columns, in select order.";
constexpr const char* kToCSVDoc =
    "toCSV() -> str\n\n"
    "The result as CSV text: a header line with the column names, then one\n"
    "line per row with values in their text form; a value holding a comma\n"
    "is put in double quotes. The current row is not moved.";
constexpr const char* kReprDoc = "Shape and column names of the result; reads no rows.";
constexpr const char* kReprHtmlDoc =
    "_repr_html_() -> str\n\n"
    "The first 20 rows as an HTML table, text escaped, for notebooks.";

constexpr const char* kIteratorDoc =
    "Iterator over the rows of a QuerySet, made by iter(cursor); yields one\n"
    "tuple of typed values per row.";
constexpr const char* kIteratorIterDoc = "The iterator itself.";
constexpr const char* kIteratorNextDoc = "The next row; StopIteration after the last.";

std::shared_ptr<RowIterator> self(std::shared_ptr<RowIterator> iterator) { return iterator; }

}  // namespace

BOOST_PYTHON_MODULE(tabulon) {
  // Only the texts written here: no generated signatures.
  const bp::docstring_options docs(true, false, false);
  bp::register_exception_translator<DatabaseException>(&translateDatabaseException);

  bp::class_<DatabaseParser>("DatabaseParser", kDatabaseParserDoc,
                             bp::init<>(kDatabaseParserInitDoc))
      .def("executeCommand", &executeCommand, kExecuteCommandDoc)
      .def("executeSelect", &executeSelect, kExecuteSelectDoc);

  bp::class_<QuerySet>("QuerySet", kQuerySetDoc, bp::init<>(kQuerySetInitDoc))
      .def("getString", &getString, kGetStringDoc)
      .def("getFloat", &QuerySet::getDouble, kGetFloatDoc)
      .def("getInt", &QuerySet::getLong, kGetIntDoc)
      .def("getNumberOfRows", &QuerySet::getNumberOfRows, kGetNumberOfRowsDoc)
      .def("getNumberOfCols", &QuerySet::getNumberOfCols, kGetNumberOfColsDoc)
      .def("setRow", &QuerySet::setRow, kSetRowDoc)
      .def("__len__", &QuerySet::getNumberOfRows, kLenDoc)
      .def("__iter__", &iterateRows, kIterDoc)
      .def("fetchAll", &fetchAll, kFetchAllDoc)
      .def("getColumn", &getColumn, kGetColumnDoc)
      .def("getColumnNames", &getColumnNames, kGetColumnNamesDoc)
      .def("toCSV", &toCSV, kToCSVDoc)
      .def("__repr__", &reprQuerySet, kReprDoc)
      .def("_repr_html_", &reprHtml, kReprHtmlDoc);

  bp::class_<RowIterator, std::shared_ptr<RowIterator>, boost::noncopyable>(
      "QuerySetIterator", kIteratorDoc, bp::no_init)
      .def("__iter__", &self, kIteratorIterDoc)
      .def("__next__", &nextRow, kIteratorNextDoc);
}
