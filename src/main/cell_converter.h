#pragma once

#include <Python.h>

#include <string_view>
#include <vector>

#include "storage/data_type.h"

// Turns the stored values of one result column into Python objects: LONG,
// INT and SHORT as int, DOUBLE and FLOAT as float, STRING as str (invalid
// UTF-8 decoded with U+FFFD replacing the bad bytes), BOOL as bool and DATE
// as datetime.date. None of these objects is tracked by the cyclic garbage
// collector. A converter serves one call that reads many rows: it keeps
// the texts and dates it made in a small direct-mapped cache and hands out
// the kept object again for an equal value, so repeated values (category
// values, dates of a year) cost no new object. Use only with the
// interpreter lock held; the converter owns a reference to each object it
// keeps and drops them when destroyed. The stored values it reads must not
// change while it lives (a cursor's reads check exactly that), so a text
// read again from the same address is the text handed out before.
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
  // A cache entry: the object made for a value, owned, and for dates the
  // day count it was made from.
  struct Slot {
    PyObject* object = nullptr;
    unsigned short days = 0;
  };

  PyObject* text(const char* value);
  // `kept` again (a new reference) when it is an ASCII str of exactly `bytes`.
  static PyObject* reuse(PyObject* kept, std::string_view bytes);
  PyObject* date(unsigned short days);
  // The cache slot of a value hashed to `hash`; makes the cache on first use.
  Slot& slotFor(size_t hash);
  // Keeps `made` (a new reference, or nullptr on failure) in `slot` and
  // returns it.
  static PyObject* remember(Slot& slot, PyObject* made);

  DATA_TYPE type_;
  std::vector<Slot> cache_;   // empty until the first text or date
  PyObject* last_ = nullptr;          // last text handed out, owned
  const char* lastValue_ = nullptr;   // where `last_`'s bytes are stored
};
