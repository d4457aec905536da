#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include "query/query_set.h"

// The Arrow side of QuerySet in Python: the Arrow PyCapsule interface
// (capsules holding the structures of the Arrow C data and C stream
// interfaces, filled by main/arrow/arrow_export.h) and the conversions to
// pyarrow, pandas and polars built on it. None of these libraries is needed
// to import tabulon: each conversion imports its library when called.
// Failures are thrown (DatabaseException, nanobind::python_error).

// A PyCapsule named "arrow_array_stream" holding a stream of the result's
// rows; the capsule releases the stream unless a consumer took it.
nanobind::object arrowStreamCapsule(const QuerySet& cursor);
// A PyCapsule named "arrow_schema" holding the result's schema.
nanobind::object arrowSchemaCapsule(const QuerySet& cursor);

// pyarrow.table(cursor).
nanobind::object toArrow(PyObject* cursor);
// pyarrow.table(cursor).to_pandas().
nanobind::object toPandas(PyObject* cursor);
// polars.DataFrame(cursor).
nanobind::object toPolars(PyObject* cursor);
