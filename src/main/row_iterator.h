#pragma once

#include <Python.h>

#include <cstdint>

#include "main/row_converter.h"
#include "query/query_set.h"

// The iterator behind `for row in cursor` (Python class QuerySetIterator).
// Holds its own copy of the cursor, so it shares the result and keeps it
// alive, but not a position: it walks result positions 0 .. rows - 1 on its
// own and leaves the cursor's current row alone. Construction and every
// step check the cursor like a row read. Not copyable: the converter refers
// to the iterator's own cursor.
class RowIterator {
 public:
  explicit RowIterator(const QuerySet& cursor);
  RowIterator(const RowIterator&) = delete;
  RowIterator& operator=(const RowIterator&) = delete;

  // A new tuple with the next row's values; nullptr (no error set) after
  // the last row.
  PyObject* next();
  // The lock of the cursor's database, which each step holds.
  DatabaseLock* lock() const { return cursor_.lock(); }

 private:
  const QuerySet cursor_;   // declared before the converter that refers to it
  RowConverter converter_;
  uint32_t position_ = 0;  // result position of the next row
};
