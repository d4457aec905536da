// The Python module tabulon. nanobind defines the module and the three
// classes and keeps their C++ objects inside the Python instances; the
// methods themselves are ordinary CPython method tables handed to the
// classes as type slots, so that they are plain method descriptors: their
// signatures come from the first lines of their docstrings, which makes
// inspect.signature() and help() show them like the methods of a built-in
// type. Every entry point catches what its work throws and hands it to
// raisePythonError (main/python_errors.h), and does its work inside a
// PythonCall (main/python_call.h), which holds the database's lock: one
// call at a time per database. Arguments are converted before the call
// starts, since converting one may run Python code.

#include <Python.h>
#include <nanobind/nanobind.h>

#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "databaseparser/database_parser.h"
#include "errors/interruption.h"
#include "main/arrow_methods.h"
#include "main/parameter_converter.h"
#include "main/python_call.h"
#include "main/python_errors.h"
#include "main/query_set_methods.h"
#include "main/row_iterator.h"
#include "main/signal_recorder.h"
#include "main/stream_source.h"
#include "query/query_set.h"

#ifndef TABULON_VERSION
#error "TABULON_VERSION must be defined by the build (the version in pyproject.toml)"
#endif

namespace nb = nanobind;

namespace {

// ---------------------------------------------------------------- arguments

// The C++ object of a Python instance of a bound class; TypeError when its
// __init__ never ran (a subclass that skipped it, or T.__new__(T)).
template <typename T>
T& instance(PyObject* self) {
  if (!nb::inst_ready(self)) {
    PyErr_Format(PyExc_TypeError, "%s object is not initialized: its __init__ was not called",
                 Py_TYPE(self)->tp_name);
    throw nb::python_error();
  }
  return *nb::inst_ptr<T>(self);
}

// An unsigned integer argument of type T: an int (or an object with
// __index__) from 0 to T's maximum. Anything else raises TypeError, a
// number outside that range OverflowError, as the C++ signature demands.
template <typename T>
T unsignedArgument(PyObject* argument, const char* name) {
  nb::object index;
  if (!PyLong_Check(argument)) {
    index = nb::steal(PyNumber_Index(argument));
    if (!index.is_valid()) throw nb::python_error();
    argument = index.ptr();
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(argument, &overflow);
  if (value == -1 && PyErr_Occurred()) throw nb::python_error();
  constexpr unsigned long long kMax = std::numeric_limits<T>::max();
  if (overflow != 0 || value < 0 || static_cast<unsigned long long>(value) > kMax) {
    PyErr_Format(PyExc_OverflowError, "%s must be from 0 to %llu, not %R", name, kMax, argument);
    throw nb::python_error();
  }
  return static_cast<T>(value);
}

// The UTF-8 text of a command. Only str is accepted (None and bytes raise
// TypeError); a NUL inside would silently cut the command short, so it is
// refused with ValueError.
const char* commandText(PyObject* command, const char* method) {
  if (!PyUnicode_Check(command)) {
    PyErr_Format(PyExc_TypeError, "%s() argument must be str, not %.200s", method, Py_TYPE(command)->tp_name);
    throw nb::python_error();
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(command, &size);
  if (text == nullptr) throw nb::python_error();
  if (std::strlen(text) != static_cast<size_t>(size)) {
    PyErr_SetString(PyExc_ValueError, "embedded null character in command");
    throw nb::python_error();
  }
  return text;
}

// True when a constructor was called without arguments; else TypeError.
bool noArguments(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) == 0 && (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0)) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes no arguments", Py_TYPE(self)->tp_name);
  return false;
}

nb::object none() { return nb::none(); }

nb::object integer(long long value) {
  PyObject* const made = PyLong_FromLongLong(value);
  if (made == nullptr) throw nb::python_error();
  return nb::steal(made);
}

// ---------------------------------------------------------------- method shapes

// Constructs T in place in `self`: __init__ with no arguments, the type's
// tp_init slot. Calling __init__ again on a live object raises RuntimeError
// rather than silently emptying it. The slot
// stays a slot wrapper: the constructor's signature and docstring are the
// class's (its docstring's first line, "DatabaseParser()"), which is where
// inspect.signature(cls) and help() look for them on every CPython.
template <typename T>
int initialize(PyObject* self, PyObject* args, PyObject* kwargs) {
  if (!noArguments(self, args, kwargs)) return -1;
  if (nb::inst_ready(self)) {
    PyErr_Format(PyExc_RuntimeError, "%s object is already initialized: __init__ may run only once",
                 Py_TYPE(self)->tp_name);
    return -1;
  }
  try {
    new (nb::inst_ptr<T>(self)) T();
    nb::inst_mark_ready(self);
    return 0;
  } catch (...) {
    raisePythonError();
    return -1;
  }
}

// A method without arguments (METH_NOARGS).
template <typename T, nb::object (*Body)(T&)>
PyObject* method(PyObject* self, PyObject*) {
  return guarded([&] { return Body(instance<T>(self)); });
}

// A method with one positional argument (METH_O).
template <typename T, nb::object (*Body)(T&, PyObject*)>
PyObject* methodWith(PyObject* self, PyObject* argument) {
  return guarded([&] { return Body(instance<T>(self), argument); });
}

// A method that needs the Python object itself, not only its C++ object.
template <typename T, nb::object (*Body)(PyObject*)>
PyObject* methodOfObject(PyObject* self, PyObject*) {
  return guarded([&] {
    instance<T>(self);
    return Body(self);
  });
}

// A command method: the command, positional only, and an optional params
// argument (METH_VARARGS | METH_KEYWORDS).
template <nb::object (*Body)(DatabaseParser&, PyObject*, PyObject*)>
PyObject* commandMethod(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"", "params", nullptr};
  PyObject* command = nullptr;
  PyObject* params = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O", const_cast<char**>(keywords), &command, &params)) {
    return nullptr;
  }
  return guarded([&] { return Body(instance<DatabaseParser>(self), command, params); });
}

template <typename Function>
PyCFunction cFunction(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// ---------------------------------------------------------------- DatabaseParser

// The parameters given, or null for none.
const Parameters* given(const std::optional<Parameters>& parameters) {
  return parameters ? &*parameters : nullptr;
}

// A command reading an Arrow stream reads it on this thread with the
// interpreter held, since its producer may run Python code; a
// KeyboardInterrupt that the producer turned into an error of its own is
// raised as it was. Any other command runs without the interpreter.
void runReadingStreams(DatabaseParser& parser, const char* text, const Parameters& parameters) {
  SignalRecorder signals;
  try {
    const PythonCall call(&parser.lock(), PythonCall::Interpreter::kKeep);
    const DatabaseLock::NestedReads nested(parser.lock());
    parser.executeCommand(text, &parameters);
  } catch (...) {
    if (signals.raiseRecorded()) throw nb::python_error();
    throw;
  }
}

nb::object executeCommand(DatabaseParser& parser, PyObject* command, PyObject* params) {
  const char* const text = commandText(command, "executeCommand");
  StreamSources streams;
  const std::optional<Parameters> parameters = convertParameters(params, &streams);
  if (!streams.empty()) {
    runReadingStreams(parser, text, *parameters);
    return none();
  }
  {
    const PythonCall call(&parser.lock(), PythonCall::Interpreter::kRelease);
    parser.executeCommand(text, given(parameters));
  }
  return none();
}

nb::object executeSelect(DatabaseParser& parser, PyObject* command, PyObject* params) {
  const char* const text = commandText(command, "executeSelect");
  const std::optional<Parameters> parameters = convertParameters(params);
  std::optional<QuerySet> cursor;
  {
    const PythonCall call(&parser.lock(), PythonCall::Interpreter::kRelease);
    cursor.emplace(parser.executeSelect(text, given(parameters)));
  }
  return nb::cast(std::move(*cursor), nb::rv_policy::move);
}

nb::object interrupt(DatabaseParser& parser) {
  parser.requireOpen();
  parser.lock().interrupt();
  return none();
}

nb::object closeDatabase(DatabaseParser& parser) {
  {
    const PythonCall call(&parser.lock(), PythonCall::Interpreter::kRelease);
    parser.close();
  }
  return none();
}

nb::object enter(PyObject* self) {
  instance<DatabaseParser>(self).requireOpen();
  return nb::borrow(self);
}

// __exit__(exc_type, exc_value, traceback): closes; an exception leaving
// the block goes on.
PyObject* exitSlot(PyObject* self, PyObject* args) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  if (!PyArg_ParseTuple(args, "OOO:__exit__", &type, &value, &traceback)) return nullptr;
  return guarded([&] { return closeDatabase(instance<DatabaseParser>(self)); });
}

constexpr const char* kDatabaseParserDoc =
    "DatabaseParser()\n--\n\n"
    "An in-memory database and the engine that runs commands on it.\n\n"
    "DatabaseParser() creates an empty database, reading .tbconfig from the\n"
    "working directory if it exists. Every failure raises Error (a\n"
    "RuntimeError) or its subclass ParseError, UnknownNameError, LoadError or\n"
    "StaleResultError, with a plain English message; the object stays usable\n"
    "afterwards. A database\n"
    "serves one call at a time, from any thread: commands, queries and bulk\n"
    "reads run without the interpreter lock, and a call from another thread\n"
    "waits for the running one. close(), or the end of a with block, drops\n"
    "every table at once.";

PyMethodDef kDatabaseParserMethods[] = {
    {"executeCommand", cFunction(&commandMethod<executeCommand>), METH_VARARGS | METH_KEYWORDS,
     "executeCommand($self, command, /, params=None)\n--\n\n"
     "Runs a CREATE TABLE, LOAD or DROP TABLE statement, all or nothing; any\n"
     "other statement, SELECT included, is refused. With params (a sequence)\n"
     "every ? outside quotes is a placeholder, filled in order: the file name\n"
     "of load ... from ? and config from ?: a str or os.PathLike, or any\n"
     "object with __arrow_c_stream__, whose rows are read instead of a file\n"
     "(on this thread, with the interpreter held)."},
    {"executeSelect", cFunction(&commandMethod<executeSelect>), METH_VARARGS | METH_KEYWORDS,
     "executeSelect($self, command, /, params=None)\n--\n\n"
     "Runs a SELECT statement and returns a cursor (QuerySet) over its result.\n"
     "With params (a sequence) every ? outside quotes is a placeholder for\n"
     "the value of a condition, filled in order: an int, float, str, bool or\n"
     "datetime.date, converted to the column's type as a written value is;\n"
     "a str is taken as it is, quotes and all. None is refused (write is\n"
     "null), and so are an Arrow stream and a count of values other than\n"
     "the count of ?."},
    {"interrupt", &method<DatabaseParser, interrupt>, METH_NOARGS,
     "interrupt($self, /)\n--\n\n"
     "Stops the command, query or read running on this database, from any\n"
     "thread: it raises RuntimeError \"Interrupted\" at its next check, within\n"
     "milliseconds, and a load is undone. Does nothing when no call is running."},
    {"close", &method<DatabaseParser, closeDatabase>, METH_NOARGS,
     "close($self, /)\n--\n\n"
     "Drops every table, freeing its memory now, and closes the database:\n"
     "afterwards every call on it and every read of its cursors and Arrow\n"
     "streams raises Error \"Database is closed\". Closing again does nothing."},
    {"__enter__", &methodOfObject<DatabaseParser, enter>, METH_NOARGS,
     "__enter__($self, /)\n--\n\nThe database itself, for a with block."},
    {"__exit__", &exitSlot, METH_VARARGS,
     "__exit__($self, exc_type, exc_value, traceback, /)\n--\n\n"
     "Closes the database at the end of a with block."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kDatabaseParserSlots[] = {
    {Py_tp_init, reinterpret_cast<void*>(&initialize<DatabaseParser>)},
    {Py_tp_methods, kDatabaseParserMethods},
    {0, nullptr},
};

// ---------------------------------------------------------------- QuerySet

// Runs `read` inside a short call on the cursor's database.
template <typename Read>
auto locked(const QuerySet& cursor, Read&& read) {
  const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
  return read();
}

// Whether column `col` of the current row holds a NULL that a number
// getter gives as None: the column must be numeric, else the getter's own
// refusal stands.
bool numericNull(const QuerySet& cursor, unsigned short col) {
  return cursor.isNull(col) && isNumeric(cursor.getColumnType(col));
}

nb::object getString(QuerySet& cursor, PyObject* col) {
  const auto column = unsignedArgument<unsigned short>(col, "col");
  std::optional<std::string> value = locked(cursor, [&]() -> std::optional<std::string> {
    if (cursor.isNull(column)) return std::nullopt;
    return cursor.getString(column);
  });
  if (!value) return nb::none();
  const std::string& text = *value;
  PyObject* const decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (decoded == nullptr) throw nb::python_error();
  return nb::steal(decoded);
}

nb::object getFloat(QuerySet& cursor, PyObject* col) {
  const auto column = unsignedArgument<unsigned short>(col, "col");
  const std::optional<double> value = locked(cursor, [&]() -> std::optional<double> {
    if (numericNull(cursor, column)) return std::nullopt;
    return cursor.getDouble(column);
  });
  if (!value) return nb::none();
  PyObject* const made = PyFloat_FromDouble(*value);
  if (made == nullptr) throw nb::python_error();
  return nb::steal(made);
}

nb::object getInt(QuerySet& cursor, PyObject* col) {
  const auto column = unsignedArgument<unsigned short>(col, "col");
  const std::optional<int64_t> value = locked(cursor, [&]() -> std::optional<int64_t> {
    if (numericNull(cursor, column)) return std::nullopt;
    return cursor.getLong(column);
  });
  if (!value) return nb::none();
  return integer(*value);
}

uint32_t rowCount(const QuerySet& cursor) {
  return locked(cursor, [&] { return cursor.getNumberOfRows(); });
}

nb::object getNumberOfRows(QuerySet& cursor) { return integer(rowCount(cursor)); }

nb::object getNumberOfCols(QuerySet& cursor) {
  return integer(locked(cursor, [&] { return cursor.getNumberOfCols(); }));
}

nb::object setRow(QuerySet& cursor, PyObject* row) {
  const auto position = unsignedArgument<unsigned int>(row, "row");
  locked(cursor, [&] { cursor.setRow(position); });
  return none();
}

nb::object fetchAllRows(QuerySet& cursor) { return fetchAll(cursor); }

nb::object getColumnOf(QuerySet& cursor, PyObject* col) {
  return getColumn(cursor, unsignedArgument<unsigned short>(col, "col"));
}

nb::object columnNames(QuerySet& cursor) { return getColumnNames(cursor); }

nb::object csvText(QuerySet& cursor) { return toCSV(cursor); }

nb::object htmlTable(QuerySet& cursor) { return reprHtml(cursor); }

nb::object iterator(QuerySet& cursor) { return iterateRows(cursor); }

nb::object length(QuerySet& cursor) { return integer(rowCount(cursor)); }

nb::object representation(QuerySet& cursor) { return reprQuerySet(cursor); }

nb::object arrowSchema(QuerySet& cursor) { return arrowSchemaCapsule(cursor); }

// __arrow_c_stream__(requested_schema=None). The result always comes in its
// own types: the interface lets a producer ignore a requested schema, and
// the consumer then casts if it must.
PyObject* arrowStream(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"requested_schema", nullptr};
  PyObject* requested = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__", const_cast<char**>(keywords),
                                   &requested)) {
    return nullptr;
  }
  return guarded([&] { return arrowStreamCapsule(instance<QuerySet>(self)); });
}

// Slot versions of __len__, __iter__ and __repr__.
Py_ssize_t lengthSlot(PyObject* self) {
  try {
    return static_cast<Py_ssize_t>(rowCount(instance<QuerySet>(self)));
  } catch (...) {
    raisePythonError();
    return -1;
  }
}

PyObject* iterSlot(PyObject* self) { return method<QuerySet, iterator>(self, nullptr); }

PyObject* reprSlot(PyObject* self) { return method<QuerySet, representation>(self, nullptr); }

constexpr const char* kQuerySetDoc =
    "QuerySet()\n--\n\n"
    "A cursor over the result of a query.\n\n"
    "Read it cell by cell (setRow, then getString/getInt/getFloat), row by\n"
    "row (for row in cursor), all at once (fetchAll, getColumn) or as Arrow\n"
    "data (toArrow, toPandas, toPolars, or any library that reads the Arrow\n"
    "PyCapsule interface: pyarrow.table(cursor), polars.DataFrame(cursor),\n"
    "duckdb.sql(\"select ... from cursor\")). Values come as int (long, int,\n"
    "short), float (double, float), str (string), bool (bool) and\n"
    "datetime.date (date), a missing value (NULL) as None; invalid UTF-8 in\n"
    "stored text is replaced by U+FFFD. Copies share one current row. Once a\n"
    "table behind the result is loaded into or dropped, every read raises\n"
    "RuntimeError \"Query result is no longer valid: table NAME has changed\";\n"
    "len() and the column names stay available. Once its database is closed,\n"
    "every read, len() included, raises Error \"Database is closed\".\n"
    "QuerySet() makes an empty cursor: no result, no rows, no columns.";

PyMethodDef kQuerySetMethods[] = {
    {"getString", &methodWith<QuerySet, getString>, METH_O,
     "getString($self, col, /)\n--\n\n"
     "Text of selected column col in the current row, for every column type;\n"
     "None for a missing value (NULL)."},
    {"getFloat", &methodWith<QuerySet, getFloat>, METH_O,
     "getFloat($self, col, /)\n--\n\n"
     "Numeric column col of the current row as a float; None for a NULL."},
    {"getInt", &methodWith<QuerySet, getInt>, METH_O,
     "getInt($self, col, /)\n--\n\n"
     "Numeric column col of the current row as an int; floating-point values\n"
     "are truncated toward zero. None for a NULL."},
    {"getNumberOfRows", &method<QuerySet, getNumberOfRows>, METH_NOARGS,
     "getNumberOfRows($self, /)\n--\n\nRows in the result."},
    {"getNumberOfCols", &method<QuerySet, getNumberOfCols>, METH_NOARGS,
     "getNumberOfCols($self, /)\n--\n\nSelected columns in the result."},
    {"setRow", &methodWith<QuerySet, setRow>, METH_O,
     "setRow($self, row, /)\n--\n\n"
     "Makes row (from 0, in result order) the current row."},
    {"__len__", &method<QuerySet, length>, METH_NOARGS | METH_COEXIST,
     "__len__($self, /)\n--\n\nRows in the result, as getNumberOfRows()."},
    {"__iter__", &method<QuerySet, iterator>, METH_NOARGS | METH_COEXIST,
     "__iter__($self, /)\n--\n\n"
     "Iterates over the rows in result order, each a tuple of typed values.\n"
     "Every iteration starts at the first row; the current row is not moved."},
    {"fetchAll", &method<QuerySet, fetchAllRows>, METH_NOARGS,
     "fetchAll($self, /)\n--\n\n"
     "Every row as a tuple of typed values, in result order, built in one call.\n"
     "The current row is not moved."},
    {"getColumn", &methodWith<QuerySet, getColumnOf>, METH_O,
     "getColumn($self, col, /)\n--\n\n"
     "Selected column col of every row, in result order, built in one call.\n"
     "The current row is not moved."},
    {"getColumnNames", &method<QuerySet, columnNames>, METH_NOARGS,
     "getColumnNames($self, /)\n--\n\nNames of the selected columns, in select order."},
    {"toCSV", &method<QuerySet, csvText>, METH_NOARGS,
     "toCSV($self, /)\n--\n\n"
     "The result as CSV text: a header line with the column names, then one\n"
     "line per row with values in their text form, double and float values\n"
     "in the shortest text that reads back as the same value; a value\n"
     "holding a comma, a double quote or a line break is put in double\n"
     "quotes, its double quotes doubled. A NULL is an empty field, the empty\n"
     "text \"\". The current row is not moved."},
    {"__repr__", &method<QuerySet, representation>, METH_NOARGS | METH_COEXIST,
     "__repr__($self, /)\n--\n\nShape and column names of the result; reads no rows."},
    {"_repr_html_", &method<QuerySet, htmlTable>, METH_NOARGS,
     "_repr_html_($self, /)\n--\n\n"
     "The first 20 rows as an HTML table, text escaped, for notebooks; a NULL\n"
     "is an empty cell of class \"null\"."},
    {"__arrow_c_stream__", cFunction(&arrowStream), METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\n"
     "The rows as an Arrow C stream of record batches, in result order, in a\n"
     "PyCapsule named \"arrow_array_stream\" (the Arrow PyCapsule interface).\n"
     "Types: long, int, short as int64, int32, int16; double, float as\n"
     "float64, float32; bool as boolean; date as date32; string as utf8, with\n"
     "invalid UTF-8 replaced by U+FFFD; a NULL is null. requested_schema is\n"
     "accepted and not followed. The stream shares the result; once a table\n"
     "behind it is loaded into or dropped, its next batch fails with \"Query\n"
     "result is no longer valid: table NAME has changed\", once the database\n"
     "is closed with \"Database is closed\". The current row is not moved."},
    {"__arrow_c_schema__", &method<QuerySet, arrowSchema>, METH_NOARGS,
     "__arrow_c_schema__($self, /)\n--\n\n"
     "The result's schema (a struct with one field per column) in a PyCapsule\n"
     "named \"arrow_schema\" (the Arrow PyCapsule interface)."},
    {"toArrow", &methodOfObject<QuerySet, toArrow>, METH_NOARGS,
     "toArrow($self, /)\n--\n\n"
     "The result as a pyarrow.Table, read through the Arrow C stream.\n"
     "Needs pyarrow; raises ImportError naming it when it is not installed."},
    {"toPandas", &methodOfObject<QuerySet, toPandas>, METH_NOARGS,
     "toPandas($self, /)\n--\n\n"
     "The result as a pandas.DataFrame, by way of toArrow(); date columns\n"
     "hold datetime.date objects, integer columns with a NULL int objects and\n"
     "None. Needs pandas and pyarrow; raises ImportError naming the one that\n"
     "is not installed."},
    {"toPolars", &methodOfObject<QuerySet, toPolars>, METH_NOARGS,
     "toPolars($self, /)\n--\n\n"
     "The result as a polars.DataFrame, read through the Arrow C stream.\n"
     "Needs polars (not pyarrow); raises ImportError naming it when it is not\n"
     "installed."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kQuerySetSlots[] = {
    {Py_tp_init, reinterpret_cast<void*>(&initialize<QuerySet>)},
    {Py_tp_methods, kQuerySetMethods},
    {Py_sq_length, reinterpret_cast<void*>(&lengthSlot)},
    {Py_mp_length, reinterpret_cast<void*>(&lengthSlot)},
    {Py_tp_iter, reinterpret_cast<void*>(&iterSlot)},
    {Py_tp_repr, reinterpret_cast<void*>(&reprSlot)},
    {0, nullptr},
};

// ---------------------------------------------------------------- QuerySetIterator

PyObject* iteratorSelfSlot(PyObject* self) {
  return guarded([&] {
    instance<RowIterator>(self);
    return nb::borrow(self);
  });
}

PyObject* iteratorSelf(PyObject* self, PyObject*) { return iteratorSelfSlot(self); }

// tp_iternext: nullptr without an error after the last row.
PyObject* nextSlot(PyObject* self) {
  try {
    return nextRow(instance<RowIterator>(self)).release().ptr();
  } catch (...) {
    raisePythonError();
    return nullptr;
  }
}

PyObject* nextMethod(PyObject* self, PyObject*) {
  PyObject* const row = nextSlot(self);
  if (row == nullptr && !PyErr_Occurred()) PyErr_SetNone(PyExc_StopIteration);
  return row;
}

constexpr const char* kIteratorDoc =
    "Iterator over the rows of a QuerySet, made by iter(cursor); yields one\n"
    "tuple of typed values per row.";

PyMethodDef kIteratorMethods[] = {
    {"__iter__", &iteratorSelf, METH_NOARGS | METH_COEXIST, "__iter__($self, /)\n--\n\nThe iterator itself."},
    {"__next__", &nextMethod, METH_NOARGS | METH_COEXIST,
     "__next__($self, /)\n--\n\nThe next row; StopIteration after the last."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kIteratorSlots[] = {
    {Py_tp_iter, reinterpret_cast<void*>(&iteratorSelfSlot)},
    {Py_tp_iternext, reinterpret_cast<void*>(&nextSlot)},
    {Py_tp_methods, kIteratorMethods},
    {0, nullptr},
};


}  // namespace

NB_MODULE(tabulon, m) {
  // The first exception a thread throws sets up the C++ runtime's
  // per-thread state; done here, while memory is plentiful, so that a
  // failure under memory pressure raises instead of aborting the process.
  try {
    throw Interrupted();
  } catch (const Interrupted&) {
  }
  PythonCall::install();
  if (!addErrorClasses(m.ptr())) throw nb::python_error();
  nb::class_<DatabaseParser>(m, "DatabaseParser", kDatabaseParserDoc, nb::type_slots(kDatabaseParserSlots));
  nb::class_<QuerySet>(m, "QuerySet", kQuerySetDoc, nb::type_slots(kQuerySetSlots));
  nb::class_<RowIterator>(m, "QuerySetIterator", kIteratorDoc, nb::type_slots(kIteratorSlots));
  m.attr("__version__") = TABULON_VERSION;
}
