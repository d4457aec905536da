#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "storage/data_type.h"
#include "storage/unaligned.h"

// Turns the stored values of one result column into Python objects: LONG,
// INT and SHORT as int, DOUBLE and FLOAT as float, STRING as str (invalid
// UTF-8 decoded with U+FFFD replacing the bad bytes), BOOL as bool, DATE
// as datetime.date and a NULL (a null value pointer) as None. None of these objects is tracked by the cyclic garbage
// collector. A converter serves one call that reads many rows: it keeps
// the texts and dates it made in a small two-way set-associative cache and
// hands out the kept object again for an equal value, so repeated values
// (category values, dates of a year) cost no new object. Use only with the
// interpreter lock held; the converter owns a reference to each object it
// keeps and drops them when destroyed. The stored values it reads must not
// change while it lives (a cursor's reads check exactly that), so a text
// read again from the same address is the text handed out before.
class CellConverter {
 public:
  // `values`: how many values the converter is expected to serve, which
  // sizes its cache. Throws nanobind::python_error when `type` is
  // DATE and the datetime module cannot be imported.
  CellConverter(DATA_TYPE type, uint32_t values);
  ~CellConverter();
  CellConverter(CellConverter&& other) noexcept;
  CellConverter(const CellConverter&) = delete;
  CellConverter& operator=(const CellConverter&) = delete;
  CellConverter& operator=(CellConverter&&) = delete;

  // A new reference to the Python form of the stored value at `value`, or
  // nullptr with a Python exception set.
  PyObject* convert(const void* value);
  // Converts the stored values at values[0 .. count) in order and hands
  // each new reference to put(i, object). Returns false with a Python
  // exception set at the first value that cannot be converted; the objects
  // handed out before it stay with the receiver.
  template <typename Put>
  bool convertAll(const void* const* values, size_t count, Put&& put);

 private:
  template <DATA_TYPE Type>
  using TypeTag = std::integral_constant<DATA_TYPE, Type>;

  // Calls visit(TypeTag<type_>{}) and returns its answer; when the type is
  // none of the stored types, sets a Python exception and returns `failed`.
  template <typename Visit, typename Answer>
  Answer dispatch(Visit&& visit, Answer failed) const;
  // The Python form of a stored value of type Type, which must not be null.
  template <DATA_TYPE Type>
  PyObject* make(const void* value);
  // A new reference to None, the form of a NULL.
  static PyObject* none() { return Py_NewRef(Py_None); }
  // Sets the Python exception for a value of no stored type; returns nullptr.
  static PyObject* unknownType();

  // A cache entry: the object made for a value, owned, and for dates the
  // day count it was made from.
  struct Slot {
    PyObject* object = nullptr;
    unsigned short days = 0;
  };

  // Category values are stored once, so runs of one category read the
  // same address: that case is decided in line.
  PyObject* text(const char* value) {
    if (value == lastValue_) {
      Py_INCREF(last_);
      return last_;
    }
    return lookUpText(value);
  }
  // text() for a value at another address than the last one.
  PyObject* lookUpText(const char* value);
  // True when `kept` is an ASCII str of exactly `bytes`.
  static bool holds(const PyObject* kept, std::string_view bytes);
  PyObject* date(unsigned short days);
  // The two slots of cache set `key` modulo the number of sets (a text
  // passes the slot of its hash, a date its day count), the one used last
  // first; makes the cache on first use.
  Slot* setFor(size_t key);
  // A new reference to the object of the slot of `set` that `matches`
  // accepts, which becomes the set's first; nullptr when neither does.
  template <typename Matches>
  static PyObject* find(Slot* set, Matches&& matches);
  // Keeps `made` (a new reference, or nullptr on failure) as the first of
  // `set`, dropping the set's older object, and returns it as a new
  // reference of the caller's.
  static PyObject* remember(Slot* set, PyObject* made, unsigned short days = 0);

  DATA_TYPE type_;
  size_t sets_;                // cache sets, a power of two
  std::vector<Slot> cache_;    // two slots per set; empty until the first text or date
  PyObject* last_ = nullptr;          // last text handed out, kept alive by the cache
  const char* lastValue_ = nullptr;   // where `last_`'s bytes are stored
  // Texts looked up in the cache, and found there, during the trial of the
  // first kTextTrial lookups; a cache that hits fewer than a quarter of
  // them is left alone from then on (`uncached_`).
  static constexpr uint32_t kTextTrial = 4096;
  uint32_t textLookups_ = 0;
  uint32_t textHits_ = 0;
  bool uncached_ = false;
};

template <typename Visit, typename Answer>
Answer CellConverter::dispatch(Visit&& visit, Answer failed) const {
  switch (type_) {
    case LONG:
      return visit(TypeTag<LONG>{});
    case INT:
      return visit(TypeTag<INT>{});
    case SHORT:
      return visit(TypeTag<SHORT>{});
    case DOUBLE:
      return visit(TypeTag<DOUBLE>{});
    case FLOAT:
      return visit(TypeTag<FLOAT>{});
    case STRING:
      return visit(TypeTag<STRING>{});
    case BOOL:
      return visit(TypeTag<BOOL>{});
    case DATE:
      return visit(TypeTag<DATE>{});
  }
  unknownType();
  return failed;
}

template <DATA_TYPE Type>
PyObject* CellConverter::make(const void* value) {
  if constexpr (Type == LONG) return PyLong_FromLongLong(unaligned::load<int64_t>(value));
  if constexpr (Type == INT) return PyLong_FromLong(unaligned::load<int32_t>(value));
  if constexpr (Type == SHORT) return PyLong_FromLong(unaligned::load<int16_t>(value));
  if constexpr (Type == DOUBLE) return PyFloat_FromDouble(unaligned::load<double>(value));
  if constexpr (Type == FLOAT) return PyFloat_FromDouble(unaligned::load<float>(value));
  if constexpr (Type == STRING) return text(static_cast<const char*>(value));
  if constexpr (Type == BOOL) return PyBool_FromLong(unaligned::load<uint8_t>(value));
  if constexpr (Type == DATE) return date(unaligned::load<uint16_t>(value));
}

template <typename Put>
bool CellConverter::convertAll(const void* const* values, size_t count, Put&& put) {
  // The type is looked at once, not per value.
  const auto each = [&](auto type) {
    for (size_t i = 0; i < count; ++i) {
      PyObject* object = values[i] == nullptr ? none() : make<decltype(type)::value>(values[i]);
      if (object == nullptr) return false;
      put(i, object);
    }
    return true;
  };
  return dispatch(each, false);
}

