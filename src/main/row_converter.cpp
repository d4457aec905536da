// Rows and columns to Python in chunks of positions, one typed loop per column,
// with the garbage collector paused so no finalizer runs mid-read.

#include "main/row_converter.h"

#include <nanobind/nanobind.h>

#include <algorithm>

#include "errors/interruption.h"

namespace nb = nanobind;

namespace {

// Keeps the cyclic garbage collector off for its lifetime: a collection
// may run finalizers, which are arbitrary Python code.
class CollectorPause {
 public:
  CollectorPause() : wasEnabled_(PyGC_Disable() != 0) {}
  ~CollectorPause() {
    if (wasEnabled_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  const bool wasEnabled_;
};

// A tuple of `size` empty items that the cyclic collector does not track.
// Every value a converter makes is untracked, so a result's tuples can take
// part in no cycle; PyTuple_New would link each into the collector's list
// only for the caller to unlink it again.
PyObject* untrackedTuple(Py_ssize_t size) {
  if (size == 0) return PyTuple_New(0);
#if PY_VERSION_HEX >= 0x030E0000
  // From 3.14 on a tuple caches its hash in a field that only the tuple
  // functions set up.
  PyObject* const made = PyTuple_New(size);
  if (made != nullptr) PyObject_GC_UnTrack(made);
  return made;
#else
  PyTupleObject* const tuple = PyObject_GC_NewVar(PyTupleObject, &PyTuple_Type, size);
  if (tuple == nullptr) return nullptr;
  std::fill_n(tuple->ob_item, size, nullptr);
  return reinterpret_cast<PyObject*>(tuple);
#endif
}

// Takes over a new reference; throws the pending Python error for nullptr.
nb::object owned(PyObject* made) {
  if (made == nullptr) throw nb::python_error();
  return nb::steal(made);
}

}  // namespace

RowConverter::RowConverter(const QuerySet& cursor) : cursor_(cursor) {
  const unsigned short columns = cursor.getNumberOfCols();
  const uint32_t rows = cursor.getNumberOfRows();
  cells_.reserve(columns);
  for (unsigned short col = 0; col < columns; ++col) {
    cells_.emplace_back(cursor.getColumnType(col), rows);
  }
}

template <typename Read, typename Convert>
void RowConverter::inSlices(uint32_t rows, size_t width, PythonCall& call, Read&& read, Convert&& convert) {
  width = std::max<size_t>(width, 1);
  const uint32_t sliceRows =
      std::max<uint32_t>(kChunkRows, static_cast<uint32_t>(kSliceValues / width) / kChunkRows * kChunkRows);
  values_.resize(std::min<size_t>(rows, sliceRows) * width);
  for (uint32_t first = 0; first < rows;) {
    const uint32_t end = first + std::min(rows - first, sliceRows);
    {
      const PythonCall::Released released(call);
      checkInterrupt();
      for (uint32_t chunk = first; chunk < end; chunk += kChunkRows) {
        read(chunk, std::min(end, chunk + kChunkRows), values_.data() + (chunk - first) * width);
      }
    }
    for (uint32_t chunk = first; chunk < end; chunk += kChunkRows) {
      convert(chunk, std::min(end, chunk + kChunkRows), values_.data() + (chunk - first) * width);
    }
    first = end;
  }
}

PyObject* RowConverter::tupleOf(const QuerySet::Row& row) {
  const nb::object tuple = owned(untrackedTuple(static_cast<Py_ssize_t>(cells_.size())));
  for (size_t col = 0; col < cells_.size(); ++col) {
    PyObject* value = cells_[col].convert(row.value(static_cast<unsigned short>(col)));
    if (value == nullptr) throw nb::python_error();
    PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(col), value);
  }
  return tuple.inc_ref().ptr();
}

PyObject* RowConverter::allRows(PythonCall& call) {
  const uint32_t rows = cursor_.getNumberOfRows();
  const nb::object list = owned(PyList_New(static_cast<Py_ssize_t>(rows)));
  const CollectorPause pause;
  PyObject** const tuples = PySequence_Fast_ITEMS(list.ptr());
  const auto columns = static_cast<Py_ssize_t>(cells_.size());
  // A chunk's values are read row by row, then converted column by column:
  // each converter runs its type's loop over the chunk.
  const auto read = [&](uint32_t first, uint32_t end, const void** values) {
    cursor_.readColumns(first, end, values);
  };
  const auto convert = [&](uint32_t first, uint32_t end, const void* const* values) {
    for (uint32_t position = first; position < end; ++position) {
      tuples[position] = untrackedTuple(columns);
      if (tuples[position] == nullptr) throw nb::python_error();
    }
    const size_t count = end - first;
    for (Py_ssize_t col = 0; col < columns; ++col) {
      const bool converted = cells_[static_cast<size_t>(col)].convertAll(
          values + static_cast<size_t>(col) * count, count,
          [&](size_t i, PyObject* value) { PyTuple_SET_ITEM(tuples[first + i], col, value); });
      if (!converted) throw nb::python_error();
    }
  };
  inSlices(rows, cells_.size(), call, read, convert);
  return list.inc_ref().ptr();
}

PyObject* RowConverter::row(uint32_t position) {
  const CollectorPause pause;
  PyObject* tuple = nullptr;
  cursor_.readRows(position, position + 1,
                   [&](const QuerySet::Row& row) { tuple = tupleOf(row); });
  return tuple;
}

PyObject* RowConverter::column(unsigned short col, PythonCall& call) {
  if (col >= cells_.size()) {
    cursor_.getColumnType(col);  // throws the column range message
  }
  const uint32_t rows = cursor_.getNumberOfRows();
  const nb::object list = owned(PyList_New(static_cast<Py_ssize_t>(rows)));
  const CollectorPause pause;
  PyObject** const items = PySequence_Fast_ITEMS(list.ptr());
  const auto read = [&](uint32_t first, uint32_t end, const void** values) {
    cursor_.readColumn(col, first, end, values);
  };
  const auto convert = [&](uint32_t first, uint32_t end, const void* const* values) {
    if (!cells_[col].convertAll(values, end - first, [&](size_t i, PyObject* value) { items[first + i] = value; })) {
      throw nb::python_error();
    }
  };
  inSlices(rows, 1, call, read, convert);
  return list.inc_ref().ptr();
}
