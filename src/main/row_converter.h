#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "main/cell_converter.h"
#include "main/python_call.h"
#include "query/query_set.h"

// Builds Python rows (tuples of typed values, see CellConverter) and
// columns (lists) from a cursor's result in one native call each. The
// cursor must outlive the converter; use it inside a PythonCall holding the
// interpreter. Construction checks the cursor like a row read; every read
// checks it once more. Whole results are read in slices: the values of a
// slice are found without the interpreter, then made into objects with it.
// While a read runs the cyclic garbage collector is paused, so no finalizer
// runs Python code in the middle of it. Failures:
// DatabaseException from the cursor, nanobind::python_error
// when Python cannot build an object. The cursor's current row is left as
// it was.
class RowConverter {
 public:
  explicit RowConverter(const QuerySet& cursor);

  // A new list with one tuple per row, in result order.
  PyObject* allRows(PythonCall& call);
  // A new tuple with the values of result position `position`.
  PyObject* row(uint32_t position);
  // A new list with the values of selected column `col`, in result order.
  PyObject* column(unsigned short col, PythonCall& call);

 private:
  // Rows are converted in chunks of this many, column by column: the value
  // pointers of a chunk stay in the cache and each column's conversion is
  // one loop of its type.
  static constexpr uint32_t kChunkRows = 256;

  // Values found in one slice, about: enough to make the interpreter's
  // comings and goings cheap, few enough that other threads get it often.
  static constexpr size_t kSliceValues = size_t{1} << 16;

  PyObject* tupleOf(const QuerySet::Row& row);
  // Covers result positions [0, rows) in slices of whole chunks. For each
  // slice, without the interpreter: read(first, end, values) for each of
  // its chunks, which puts `width` values a row at `values`; then with it:
  // convert(first, end, values) for each chunk.
  template <typename Read, typename Convert>
  void inSlices(uint32_t rows, size_t width, PythonCall& call, Read&& read, Convert&& convert);

  const QuerySet& cursor_;
  std::vector<CellConverter> cells_;  // one per selected column
  std::vector<const void*> values_ = std::vector<const void*>(kChunkRows);  // a chunk's values, column after column
};
