#pragma once

#include <Python.h>

#include "storage/data_type.h"

// Turns the stored values of one result column into Python objects: LONG,
// INT and SHORT as int, DOUBLE and FLOAT as float, STRING as str (invalid
// UTF-8 decoded with U+FFFD replacing the bad bytes), BOOL as bool and DATE
// as datetime.date. None of these objects is tracked by the cyclic garbage
// collector. A converter serves one call that reads many rows: it keeps
// the last text and the last date it made and hands out that object again
// when the next value is equal, which makes repeated category values
// cheap. Use only with the interpreter lock held; the converter owns a
// reference to each object it keeps and drops them when destroyed.
class CellConverter {
 public:
  // Throws boost::python::error_already_set when `type` is DATE and the
  // datetime module cannot be imported.
  explicit CellConverter(DATA_TYPE type);
  ~CellConverter();
  CellConverter(CellConverter&& other) noexcept;
  CellConverter(const CellConverter&) = delete;
  CellConverter& operator=(const CellConverter&) = delete;
  CellConverter& operator=(CellConverter&&) = delete;

  // A new reference to the Python form of the stored value at `value`, or
  // nullptr with a Python exception set.
  PyObject* convert(const void* value);

 private:
  PyObject* text(const char* value);
  PyObject* date(unsigned short days);
  // Keeps `made` (a new reference, or nullptr on failure) as the last
  // object and returns it.
  PyObject* remember(PyObject* made);

  DATA_TYPE type_;
  PyObject* last_ = nullptr;      // last text or date made, owned
  unsigned short lastDays_ = 0;   // day count of `last_` for DATE
};
