#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "main/cell_converter.h"
#include "query/query_set.h"

// Builds Python rows (tuples of typed values, see CellConverter) and
// columns (lists) from a cursor's result in one native call each. The
// cursor must outlive the converter. Construction checks the cursor like a
// row read; every read checks it once more. While a read runs the cyclic
// garbage collector is paused, so no finalizer can run Python code that
// changes the tables between the check and the last value read. Failures:
// DatabaseException from the cursor, nanobind::python_error
// when Python cannot build an object. The cursor's current row is left as
// it was.
class RowConverter {
 public:
  explicit RowConverter(const QuerySet& cursor);

  // A new list with one tuple per row, in result order.
  PyObject* allRows();
  // A new tuple with the values of result position `position`.
  PyObject* row(uint32_t position);
  // A new list with the values of selected column `col`, in result order.
  PyObject* column(unsigned short col);

 private:
  // Rows are converted in chunks of this many, column by column: the value
  // pointers of a chunk stay in the cache and each column's conversion is
  // one loop of its type.
  static constexpr uint32_t kChunkRows = 256;

  PyObject* tupleOf(const QuerySet::Row& row);
  // Calls visit(first, end) for consecutive chunks covering [0, rows).
  template <typename Visit>
  static void inChunks(uint32_t rows, Visit&& visit);
  // Converts column `col` at result positions [first, end), a chunk at
  // most, handing value i to put(i, object).
  template <typename Put>
  void convertChunk(unsigned short col, uint32_t first, uint32_t end, Put&& put);

  const QuerySet& cursor_;
  std::vector<CellConverter> cells_;  // one per selected column
  std::vector<const void*> values_ = std::vector<const void*>(kChunkRows);  // a chunk's values, column after column
};
