#pragma once

#include <Python.h>

#include "storage/arrow_abi.h"

// The Arrow C stream of a Python object that speaks the Arrow PyCapsule
// interface (has __arrow_c_stream__: pyarrow, polars, pandas, DuckDB, a
// QuerySet), moved out of its capsule. The source owns the stream from
// then on and releases it when it goes, unless the engine took it over
// (which leaves its release callback null). Made and destroyed with the
// interpreter held; the stream's callbacks may run Python code, so it is
// read with the interpreter held too.
class StreamSource {
 public:
  // Calls `object`.__arrow_c_stream__(); raises TypeError (as
  // nanobind::python_error) when the object has none or hands over
  // something other than an unread stream capsule.
  explicit StreamSource(PyObject* object);
  ~StreamSource();
  StreamSource(const StreamSource&) = delete;
  StreamSource& operator=(const StreamSource&) = delete;

  // Whether `object` has __arrow_c_stream__.
  static bool speaksArrow(PyObject* object);

  ArrowArrayStream& stream() { return stream_; }

 private:
  ArrowArrayStream stream_{};
};
