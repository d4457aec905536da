// Python values of a command's params argument as ParameterValues.

#include "main/parameter_converter.h"

#include <datetime.h>
#include <nanobind/nanobind.h>

#include <cstring>
#include <memory>
#include <string>

namespace nb = nanobind;

namespace {

[[noreturn]] void fail() { throw nb::python_error(); }

// Text without NUL characters, which would cut it short in the engine.
std::string text(const char* bytes, Py_ssize_t size, Py_ssize_t number) {
  if (std::memchr(bytes, '\0', static_cast<size_t>(size)) != nullptr) {
    PyErr_Format(PyExc_ValueError, "parameter %zd holds a null character", number);
    fail();
  }
  return std::string(bytes, static_cast<size_t>(size));
}

std::string bytesText(PyObject* bytes, Py_ssize_t number) {
  return text(PyBytes_AS_STRING(bytes), PyBytes_GET_SIZE(bytes), number);
}

// A str as UTF-8; lone surrogates (undecodable bytes of a file name, as
// os.fsdecode leaves them) become the bytes they stand for.
std::string strText(PyObject* str, Py_ssize_t number) {
  const nb::object encoded = nb::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogateescape"));
  if (!encoded.is_valid()) fail();
  return bytesText(encoded.ptr(), number);
}

ParameterValue integer(PyObject* value, Py_ssize_t number) {
  int overflow = 0;
  const long long converted = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (converted == -1 && PyErr_Occurred()) fail();
  if (overflow != 0) {
    PyErr_Format(PyExc_OverflowError, "parameter %zd is an int beyond 64 bits: %R", number, value);
    fail();
  }
  return {static_cast<int64_t>(converted)};
}

// The path of an os.PathLike object, or nullopt for any other object.
std::optional<ParameterValue> path(PyObject* value, Py_ssize_t number) {
  PyObject* const type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  const nb::object method = nb::steal(PyObject_GetAttrString(type, "__fspath__"));
  if (!method.is_valid()) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) fail();
    PyErr_Clear();
    return std::nullopt;
  }
  const nb::object spelled = nb::steal(PyOS_FSPath(value));
  if (!spelled.is_valid()) fail();
  if (PyBytes_Check(spelled.ptr())) return ParameterValue{bytesText(spelled.ptr(), number)};
  return ParameterValue{strText(spelled.ptr(), number)};
}

ParameterValue date(PyObject* value) {
  return {ParameterValue::Date{PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value)}};
}

// The stream of an object with __arrow_c_stream__, taken into `streams`;
// TypeError without them: the command reads no stream.
ParameterValue stream(PyObject* value, Py_ssize_t number, StreamSources* streams) {
  if (streams == nullptr) {
    PyErr_Format(PyExc_TypeError,
                 "parameter %zd is a %.200s, an Arrow stream, which only executeCommand reads, for the file name "
                 "of load ... from ? or config from ?",
                 number, Py_TYPE(value)->tp_name);
    fail();
  }
  streams->push_back(std::make_unique<StreamSource>(value));
  return {ParameterValue::Stream{&streams->back()->stream()}};
}

ParameterValue convert(PyObject* value, Py_ssize_t number, StreamSources* streams) {
  if (value == Py_None) return {ParameterValue::Null{}};
  if (PyBool_Check(value)) return {value == Py_True};
  if (PyLong_Check(value)) return integer(value, number);
  if (PyFloat_Check(value)) return {PyFloat_AsDouble(value)};
  if (PyUnicode_Check(value)) return {strText(value, number)};
  if (PyDateTime_Check(value)) {
    PyErr_Format(PyExc_TypeError,
                 "parameter %zd is a datetime.datetime, which no column holds: pass its date() for a date column",
                 number);
    fail();
  }
  if (PyDate_Check(value)) return date(value);
  if (PyIndex_Check(value)) {
    const nb::object index = nb::steal(PyNumber_Index(value));
    if (!index.is_valid()) fail();
    return integer(index.ptr(), number);
  }
  if (std::optional<ParameterValue> spelled = path(value, number)) return *std::move(spelled);
  if (StreamSource::speaksArrow(value)) return stream(value, number, streams);
  PyErr_Format(PyExc_TypeError,
               "parameter %zd is a %.200s; parameters are int, float, str, bool, datetime.date, None, os.PathLike "
               "or, for a file name, an object with __arrow_c_stream__",
               number, Py_TYPE(value)->tp_name);
  fail();
}

}  // namespace

std::optional<Parameters> convertParameters(PyObject* params, StreamSources* streams) {
  if (params == nullptr || params == Py_None) return std::nullopt;
  if (!PySequence_Check(params) || PyUnicode_Check(params) || PyBytes_Check(params) || PyByteArray_Check(params)) {
    PyErr_Format(PyExc_TypeError, "params must be a sequence of values, such as a list or a tuple, not %.200s",
                 Py_TYPE(params)->tp_name);
    fail();
  }
  if (PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) fail();
  }
  // A tuple of its own: converting a value may run Python code that
  // changes the sequence given.
  const nb::object values = nb::steal(PySequence_Tuple(params));
  if (!values.is_valid()) fail();
  const Py_ssize_t count = PyTuple_GET_SIZE(values.ptr());
  Parameters converted;
  converted.reserve(static_cast<size_t>(count));
  for (Py_ssize_t k = 0; k < count; ++k) converted.push_back(convert(PyTuple_GET_ITEM(values.ptr(), k), k + 1, streams));
  return converted;
}
