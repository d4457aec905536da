#include "main/row_converter.h"

#include <boost/python.hpp>

namespace bp = boost::python;

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

}  // namespace

RowConverter::RowConverter(const QuerySet& cursor) : cursor_(cursor) {
  const unsigned short columns = cursor.getNumberOfCols();
  cells_.reserve(columns);
  for (unsigned short col = 0; col < columns; ++col) {
    cells_.emplace_back(cursor.getColumnType(col));
  }
}

PyObject* RowConverter::tupleOf(const QuerySet::Row& row) {
  const bp::handle<> tuple(PyTuple_New(static_cast<Py_ssize_t>(cells_.size())));
  for (size_t col = 0; col < cells_.size(); ++col) {
    PyObject* value = cells_[col].convert(row.value(static_cast<unsigned short>(col)));
    if (value == nullptr) bp::throw_error_already_set();
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(col), value);
  }
  // No value is tracked by the collector, so the tuple can take part in no
  // cycle; the collector would untrack it itself, after visiting it.
  PyObject_GC_UnTrack(tuple.get());
  return bp::incref(tuple.get());
}

PyObject* RowConverter::allRows() {
  const uint32_t rows = cursor_.getNumberOfRows();
  const bp::handle<> list(PyList_New(static_cast<Py_ssize_t>(rows)));
  const CollectorPause pause;
  Py_ssize_t index = 0;
  cursor_.readRows(0, rows, [&](const QuerySet::Row& row) {
    PyList_SET_ITEM(list.get(), index++, tupleOf(row));
  });
  return bp::incref(list.get());
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
  CellConverter& cell = cells_[col];
  const uint32_t rows = cursor_.getNumberOfRows();
  const bp::handle<> list(PyList_New(static_cast<Py_ssize_t>(rows)));
  const CollectorPause pause;
  Py_ssize_t index = 0;
  cursor_.readRows(0, rows, [&](const QuerySet::Row& row) {
    PyObject* value = cell.convert(row.value(col));
    if (value == nullptr) bp::throw_error_already_set();
    PyList_SET_ITEM(list.get(), index++, value);
  });
  return bp::incref(list.get());
}
