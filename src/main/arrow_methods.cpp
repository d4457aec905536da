// QuerySet's Arrow methods: the export wrapped in PyCapsules, and
// toArrow/toPandas/toPolars, which import their library only when called.

#include "main/arrow_methods.h"

#include <memory>

#include "main/arrow/arrow_export.h"
#include "main/python_call.h"

namespace nb = nanobind;

namespace {

constexpr const char* kStreamCapsule = "arrow_array_stream";
constexpr const char* kSchemaCapsule = "arrow_schema";

// Capsule destructors, as the PyCapsule interface lays them down: a
// consumer that takes the structure clears its release callback, else the
// capsule releases it; the capsule always frees the structure itself.
void deleteStreamCapsule(PyObject* capsule) {
  auto* const stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, kStreamCapsule));
  if (stream == nullptr) {
    PyErr_WriteUnraisable(capsule);
    return;
  }
  if (stream->release != nullptr) stream->release(stream);
  delete stream;
}

void deleteSchemaCapsule(PyObject* capsule) {
  auto* const schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, kSchemaCapsule));
  if (schema == nullptr) {
    PyErr_WriteUnraisable(capsule);
    return;
  }
  if (schema->release != nullptr) schema->release(schema);
  delete schema;
}

// Wraps a filled structure in a capsule, which then owns it; releases the
// structure when no capsule can be made.
template <typename Structure>
nb::object capsuleOf(std::unique_ptr<Structure> structure, const char* name, PyCapsule_Destructor destructor) {
  PyObject* const capsule = PyCapsule_New(structure.get(), name, destructor);
  if (capsule == nullptr) {
    structure->release(structure.get());
    throw nb::python_error();
  }
  structure.release();
  return nb::steal(capsule);
}

// The module `module`, imported for `method`; when it cannot be imported,
// ImportError (with the module as its name, the original failure as its
// cause) saying which package to install.
nb::object importFor(const char* module, const char* method, const char* package) {
  PyObject* const imported = PyImport_ImportModule(module);
  if (imported != nullptr) return nb::steal(imported);
  if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw nb::python_error();
  PyObject *type = nullptr, *cause = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &cause, &traceback);
  PyErr_NormalizeException(&type, &cause, &traceback);
  if (traceback != nullptr && cause != nullptr) PyException_SetTraceback(cause, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  const nb::object original = nb::steal(cause);
  const nb::object message = nb::steal(PyUnicode_FromFormat(
      "QuerySet.%s() needs the package %s, which is not installed: pip install %s", method, package, package));
  const nb::object name = nb::steal(PyUnicode_FromString(module));
  if (!message.is_valid() || !name.is_valid()) throw nb::python_error();
  PyErr_SetImportError(message.ptr(), name.ptr(), nullptr);
  if (original.is_valid()) {
    PyErr_Fetch(&type, &cause, &traceback);
    PyErr_NormalizeException(&type, &cause, &traceback);
    if (cause != nullptr) {
      PyException_SetCause(cause, original.inc_ref().ptr());
      PyException_SetContext(cause, original.inc_ref().ptr());
    }
    PyErr_Restore(type, cause, traceback);
  }
  throw nb::python_error();
}

nb::object call(const nb::object& callable, PyObject* argument) {
  PyObject* const result = PyObject_CallOneArg(callable.ptr(), argument);
  if (result == nullptr) throw nb::python_error();
  return nb::steal(result);
}

nb::object attribute(const nb::object& object, const char* name) {
  PyObject* const value = PyObject_GetAttrString(object.ptr(), name);
  if (value == nullptr) throw nb::python_error();
  return nb::steal(value);
}

}  // namespace

nb::object arrowStreamCapsule(const QuerySet& cursor) {
  auto stream = std::make_unique<ArrowArrayStream>();
  {
    const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
    arrow_export::exportStream(cursor, stream.get());
  }
  return capsuleOf(std::move(stream), kStreamCapsule, &deleteStreamCapsule);
}

nb::object arrowSchemaCapsule(const QuerySet& cursor) {
  auto schema = std::make_unique<ArrowSchema>();
  {
    const PythonCall call(cursor.lock(), PythonCall::Interpreter::kKeep);
    arrow_export::exportSchema(cursor, schema.get());
  }
  return capsuleOf(std::move(schema), kSchemaCapsule, &deleteSchemaCapsule);
}

nb::object toArrow(PyObject* cursor) {
  const nb::object pyarrow = importFor("pyarrow", "toArrow", "pyarrow");
  return call(attribute(pyarrow, "table"), cursor);
}

nb::object toPandas(PyObject* cursor) {
  importFor("pandas", "toPandas", "pandas");
  const nb::object pyarrow = importFor("pyarrow", "toPandas", "pyarrow");
  const nb::object table = call(attribute(pyarrow, "table"), cursor);
  const nb::object convert = attribute(table, "to_pandas");
  // An integer column with NULLs would become float64 and lose the digits
  // of its large values: it holds int objects and None instead.
  const nb::object arguments = nb::steal(PyTuple_New(0));
  const nb::dict options;
  options["integer_object_nulls"] = true;
  PyObject* const frame = PyObject_Call(convert.ptr(), arguments.ptr(), options.ptr());
  if (frame == nullptr) throw nb::python_error();
  return nb::steal(frame);
}

nb::object toPolars(PyObject* cursor) {
  const nb::object polars = importFor("polars", "toPolars", "polars");
  return call(attribute(polars, "DataFrame"), cursor);
}
