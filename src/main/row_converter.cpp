// Rows and columns to Python in chunks of positions, one typed loop per column,
// with the garbage collector paused so no finalizer runs mid-read.

#include "main/row_converter.h"

#include <nanobind/nanobind.h>

#include <algorithm>

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

template <typename Visit>
void RowConverter::inChunks(uint32_t rows, Visit&& visit) {
  for (uint32_t first = 0; first < rows;) {
    // Ctrl-C stops a long read between chunks.
    if (PyErr_CheckSignals() != 0) throw nb::python_error();
    const uint32_t end = first + std::min(rows - first, kChunkRows);
    visit(first, end);
    first = end;
  }
}

template <typename Put>
void RowConverter::convertChunk(unsigned short col, uint32_t first, uint32_t end, Put&& put) {
  cursor_.readColumn(col, first, end, values_.data());
  if (!cells_[col].convertAll(values_.data(), end - first, put)) throw nb::python_error();
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

PyObject* RowConverter::allRows() {
  const uint32_t rows = cursor_.getNumberOfRows();
  const nb::object list = owned(PyList_New(static_cast<Py_ssize_t>(rows)));
  const CollectorPause pause;
  PyObject** const tuples = PySequence_Fast_ITEMS(list.ptr());
  const auto columns = static_cast<Py_ssize_t>(cells_.size());
  inChunks(rows, [&](uint32_t first, uint32_t end) {
    for (uint32_t position = first; position < end; ++position) {
      tuples[position] = untrackedTuple(columns);
      if (tuples[position] == nullptr) throw nb::python_error();
    }
    // The chunk's values are read row by row, then converted column by
    // column: each converter runs its type's loop over the chunk.
    const size_t count = end - first;
    values_.resize(cells_.size() * count);
    cursor_.readColumns(first, end, values_.data());
    for (Py_ssize_t col = 0; col < columns; ++col) {
      const void* const* const values = values_.data() + static_cast<size_t>(col) * count;
      const bool converted = cells_[static_cast<size_t>(col)].convertAll(
          values, count, [&](size_t i, PyObject* value) { PyTuple_SET_ITEM(tuples[first + i], col, value); });
      if (!converted) throw nb::python_error();
    }
  });
  return list.inc_ref().ptr();
}

PyObject* RowConverter::row(uint32_t position) {
  const CollectorPause pause;
  PyObject* tuple = nullptr;
  cursor_.readRows(position, position + 1,
                   [&](const QuerySet::Row& row) { tuple = tupleOf(row); });
  return tuple;
}

PyObject* RowConverter::column(unsigned short col) {
  if (col >= cells_.size()) {
    cursor_.getColumnType(col);  // throws the column range message
  }
  const uint32_t rows = cursor_.getNumberOfRows();
  const nb::object list = owned(PyList_New(static_cast<Py_ssize_t>(rows)));
  const CollectorPause pause;
  PyObject** const items = PySequence_Fast_ITEMS(list.ptr());
  inChunks(rows, [&](uint32_t first, uint32_t end) {
    convertChunk(col, first, end, [&](size_t i, PyObject* value) { items[first + i] = value; });
  });
  return list.inc_ref().ptr();
}
