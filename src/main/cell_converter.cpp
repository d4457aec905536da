#include "main/cell_converter.h"

#include <datetime.h>
#include <boost/python.hpp>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "storage/node_config.h"
#include "storage/text_bytes.h"

namespace {

// Slots of the value cache: room for the texts of a category column of a
// few thousand values, and for every date of a decade without collisions.
constexpr size_t kCacheSlots = 4096;

// Reads a stored value, which packed rows may hold unaligned.
template <typename T>
T load(const void* value) {
  T v;
  std::memcpy(&v, value, sizeof(T));
  return v;
}

struct CivilDate {
  int year;
  int month;
  int day;
};

// The proleptic Gregorian date `days` days after 1970-01-01.
CivilDate civilFromDays(unsigned short days) {
  // Days counted from 0000-03-01, so that leap days end each 400-year era.
  const int z = static_cast<int>(days) + 719468;
  const int era = z / 146097;
  const int dayOfEra = z - era * 146097;
  const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const int month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const int year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return CivilDate{year, month, day};
}

}  // namespace

CellConverter::CellConverter(DATA_TYPE type) : type_(type) {
  // The datetime C interface is a per-file static, filled on first need.
  if (type_ == DATE && PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) boost::python::throw_error_already_set();
  }
}

CellConverter::~CellConverter() {
  Py_XDECREF(last_);
  for (const Slot& slot : cache_) Py_XDECREF(slot.object);
}

CellConverter::CellConverter(CellConverter&& other) noexcept
    : type_(other.type_),
      cache_(std::move(other.cache_)),
      last_(other.last_),
      lastValue_(other.lastValue_) {
  other.cache_.clear();
  other.last_ = nullptr;
}

PyObject* CellConverter::convert(const void* value) {
  if (value == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "A stored value of the result could not be read");
    return nullptr;
  }
  switch (type_) {
    case LONG:
      return PyLong_FromLongLong(load<int64_t>(value));
    case INT:
      return PyLong_FromLong(load<int32_t>(value));
    case SHORT:
      return PyLong_FromLong(load<int16_t>(value));
    case DOUBLE:
      return PyFloat_FromDouble(load<double>(value));
    case FLOAT:
      return PyFloat_FromDouble(load<float>(value));
    case STRING:
      return text(static_cast<const char*>(value));
    case BOOL:
      return PyBool_FromLong(load<uint8_t>(value));
    case DATE:
      return date(load<uint16_t>(value));
  }
  PyErr_SetString(PyExc_RuntimeError, "Unknown data type provided");
  return nullptr;
}

PyObject* CellConverter::text(const char* value) {
  // Category values are stored once, so runs of one category read the
  // same address.
  if (value == lastValue_) {
    Py_INCREF(last_);
    return last_;
  }
  const std::string_view bytes(value, NodeConfig::textBytes(value) - 1);
  Slot& slot = slotFor(text_bytes::hash(bytes.data(), bytes.size()));
  PyObject* made = reuse(slot.object, bytes);
  if (made == nullptr) {
    made = remember(slot, PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                               "replace"));
    if (made == nullptr) return nullptr;
  }
  Py_INCREF(made);
  Py_XSETREF(last_, made);
  lastValue_ = value;
  return made;
}

PyObject* CellConverter::reuse(PyObject* kept, std::string_view bytes) {
  // An ASCII str holds exactly the bytes it was made from, so equal bytes
  // give an equal str.
  if (kept == nullptr || !PyUnicode_IS_ASCII(kept) ||
      static_cast<size_t>(PyUnicode_GET_LENGTH(kept)) != bytes.size() ||
      !text_bytes::same(static_cast<const char*>(PyUnicode_DATA(kept)), bytes.data(), bytes.size())) {
    return nullptr;
  }
  Py_INCREF(kept);
  return kept;
}

PyObject* CellConverter::date(unsigned short days) {
  Slot& slot = slotFor(days);
  if (slot.object != nullptr && slot.days == days) {
    Py_INCREF(slot.object);
    return slot.object;
  }
  const CivilDate civil = civilFromDays(days);
  PyObject* made = remember(slot, PyDate_FromDate(civil.year, civil.month, civil.day));
  if (made != nullptr) slot.days = days;
  return made;
}

CellConverter::Slot& CellConverter::slotFor(size_t hash) {
  if (cache_.empty()) cache_.resize(kCacheSlots);
  return cache_[hash % kCacheSlots];
}

PyObject* CellConverter::remember(Slot& slot, PyObject* made) {
  if (made == nullptr) return nullptr;
  Py_XSETREF(slot.object, made);
  Py_INCREF(made);
  return made;
}
