// Conversion of stored values into Python objects, with a small cache of
// the objects made for texts and dates.

#include "main/cell_converter.h"

#include <datetime.h>
#include <nanobind/nanobind.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "storage/node_config.h"
#include "storage/text_bytes.h"

namespace {

// Most sets of the value cache: room for the texts of a column of a few
// thousand values, and for every date of a decade without collisions. A
// converter serving fewer values gets fewer sets.
constexpr uint32_t kMaxCacheSets = 4096;

}  // namespace

CellConverter::CellConverter(DATA_TYPE type, uint32_t values)
    : type_(type), sets_(std::bit_ceil(std::clamp(values, uint32_t{1}, kMaxCacheSets))) {
  // The datetime C interface is a per-file static, filled on first need.
  if (type_ == DATE && PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) throw nanobind::python_error();
  }
}

CellConverter::~CellConverter() {
  for (const Slot& slot : cache_) Py_XDECREF(slot.object);
}

CellConverter::CellConverter(CellConverter&& other) noexcept
    : type_(other.type_),
      sets_(other.sets_),
      cache_(std::move(other.cache_)),
      last_(other.last_),
      lastValue_(other.lastValue_),
      textLookups_(other.textLookups_),
      textHits_(other.textHits_),
      uncached_(other.uncached_) {
  other.cache_.clear();
  other.last_ = nullptr;
  other.lastValue_ = nullptr;
}

PyObject* CellConverter::convert(const void* value) {
  if (value == nullptr) return none();
  return dispatch([&](auto type) { return make<decltype(type)::value>(value); },
                  static_cast<PyObject*>(nullptr));
}

PyObject* CellConverter::unknownType() {
  PyErr_SetString(PyExc_RuntimeError, "Unknown data type provided");
  return nullptr;
}

PyObject* CellConverter::lookUpText(const char* value) {
  const std::string_view bytes(value, NodeConfig::textBytes(value) - 1);
  if (uncached_) return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace");
  Slot* const set = setFor(text_bytes::slotOf(text_bytes::hash(bytes.data(), bytes.size()), sets_));
  PyObject* made = find(set, [&](const Slot& slot) { return holds(slot.object, bytes); });
  if (made != nullptr) ++textHits_;
  // Texts that are rarely seen twice are made without the cache from the
  // trial on: there it costs a hash, two probes and a release per text.
  if (++textLookups_ == kTextTrial && textHits_ * 4 < textLookups_) uncached_ = true;
  if (made == nullptr) {
    made = remember(set, PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                                              "replace"));
    if (made == nullptr) return nullptr;
  }
  // The cache keeps `made` alive: it is now the first of its set, and a set
  // only ever drops its second object, so it stays the first until another
  // text is handed out.
  last_ = made;
  lastValue_ = value;
  return made;
}

bool CellConverter::holds(const PyObject* kept, std::string_view bytes) {
  // An ASCII str holds exactly the bytes it was made from, so equal bytes
  // give an equal str.
  return kept != nullptr && PyUnicode_IS_ASCII(kept) &&
         static_cast<size_t>(PyUnicode_GET_LENGTH(kept)) == bytes.size() &&
         text_bytes::same(static_cast<const char*>(PyUnicode_DATA(kept)), bytes.data(), bytes.size());
}

PyObject* CellConverter::date(unsigned short days) {
  Slot* const set = setFor(days);
  PyObject* const kept =
      find(set, [days](const Slot& slot) { return slot.object != nullptr && slot.days == days; });
  if (kept != nullptr) return kept;
  const CivilDate civil = civilFromDays(days);
  return remember(set, PyDate_FromDate(civil.year, civil.month, civil.day), days);
}

CellConverter::Slot* CellConverter::setFor(size_t key) {
  if (cache_.empty()) cache_.resize(2 * sets_);
  return &cache_[2 * (key & (sets_ - 1))];
}

template <typename Matches>
PyObject* CellConverter::find(Slot* set, Matches&& matches) {
  if (!matches(set[0])) {
    if (!matches(set[1])) return nullptr;
    std::swap(set[0], set[1]);
  }
  Py_INCREF(set[0].object);
  return set[0].object;
}

PyObject* CellConverter::remember(Slot* set, PyObject* made, unsigned short days) {
  if (made == nullptr) return nullptr;
  Py_XDECREF(set[1].object);
  set[1] = set[0];
  set[0] = Slot{made, days};
  Py_INCREF(made);
  return made;
}
