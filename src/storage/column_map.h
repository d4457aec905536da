#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "errors/database_exception.h"
#include "storage/column_map_base.h"
#include "storage/data_type.h"

// Rules of category numbering shared by every category map.
namespace category_numbering {

// Number of the first value of an empty map.
inline constexpr unsigned short FIRST = 32767;
// Bound above every assigned number (0 is the bound below).
inline constexpr unsigned short TOP = 65535;
// Renumbering spreads the values over [RENUMBER_START, RENUMBER_START + RENUMBER_SPAN).
inline constexpr unsigned short RENUMBER_START = 3276;
inline constexpr double RENUMBER_SPAN = 58983.0;
// Most values that renumbering can give distinct numbers (a step of at least 1).
inline constexpr uint64_t MAX_RENUMBERED_VALUES = 58982;

// The number for a new value between its neighbours in value order, given
// their numbers (absent neighbours are null). False when there is no room:
// the value would be the smallest while the smallest number is below 2.
inline bool candidate(const unsigned short* predecessor, const unsigned short* successor, unsigned short& out) {
  if (predecessor == nullptr && successor == nullptr) {
    out = FIRST;
    return true;
  }
  if (predecessor == nullptr) {
    if (*successor < 2) return false;
    out = static_cast<unsigned short>(*successor / 2);
    return true;
  }
  const unsigned upper = successor == nullptr ? TOP : *successor;
  out = static_cast<unsigned short>((static_cast<unsigned>(*predecessor) + upper) / 2);
  return true;
}

// Throws when n values cannot all get distinct numbers on renumbering.
inline void requireRenumberable(uint64_t n) {
  if (n > MAX_RENUMBERED_VALUES) {
    throw DatabaseException("Category map of %d values cannot be renumbered: at most %d distinct values fit",
                            static_cast<int>(n), static_cast<int>(MAX_RENUMBERED_VALUES));
  }
}

// The renumbered number of the index-th of n values in ascending order.
inline unsigned short renumbered(uint64_t index, double step) {
  return static_cast<unsigned short>(RENUMBER_START + static_cast<unsigned>(static_cast<double>(index) * step));
}

inline double renumberStep(uint64_t n) { return RENUMBER_SPAN / static_cast<double>(n + 1); }

// Range lookups over an ordered value -> number map, probing with the first
// entry not less than the value (`found`).
template <typename Map>
unsigned short greaterEqual(const Map& values, typename Map::const_iterator found, bool equal) {
  if (values.empty() || found == values.end()) return TOP;
  if (equal) return found->second;
  if (found == values.begin()) return 0;
  return found->second;
}

template <typename Map>
unsigned short lessEqual(const Map& values, typename Map::const_iterator found, bool equal) {
  if (values.empty() || found == values.end()) return TOP;
  if (equal) return found->second;
  if (found == values.begin()) return 0;
  return std::prev(found)->second;
}

}  // namespace category_numbering

// The category map of one column whose stored values have type T (every
// type but text). Values are passed as T* to their stored form. The map owns
// its values: the pointers of `intToValue` and of getValuePointer point at
// the keys of `valueToInt` and stay valid while the value is in the map.
// Floating-point keys are ordered by ValueLess, so NaN is one value greater
// than every number. Types of one or two bytes (bool, short, date) also
// keep a direct table indexed by the value's bits, so that the exact
// lookups of loading and sampling cost one array read.
template <typename T>
class ColumnMap : public ColumnMapBase {
 public:
  using ValueMap = std::map<T, unsigned short, ValueLess<T>>;

  unsigned short getInt(void* value) override {
    if constexpr (kDirect) return static_cast<unsigned short>(direct_[slotOf(loadValue(value))]);
    const auto found = valueToInt.find(loadValue(value));
    return found == valueToInt.end() ? 0 : found->second;
  }

  unsigned short getIntLessEq(void* value) override {
    const T probe = loadValue(value);
    const auto found = valueToInt.lower_bound(probe);
    return category_numbering::lessEqual(valueToInt, found, isKey(found, probe));
  }

  unsigned short getIntGreatEQ(void* value) override {
    const T probe = loadValue(value);
    const auto found = valueToInt.lower_bound(probe);
    return category_numbering::greaterEqual(valueToInt, found, isKey(found, probe));
  }

  // A value already in the map is not added again (false).
  bool add(void* value) override {
    const T newValue = loadValue(value);
    if constexpr (kDirect) {
      if (direct_[slotOf(newValue)] != 0) return false;
    }
    const auto successor = valueToInt.lower_bound(newValue);
    if (isKey(successor, newValue)) return false;
    const unsigned short* successorNumber = successor == valueToInt.end() ? nullptr : &successor->second;
    const unsigned short* predecessorNumber =
        successor == valueToInt.begin() ? nullptr : &std::prev(successor)->second;
    unsigned short number = 0;
    if (!category_numbering::candidate(predecessorNumber, successorNumber, number)) return false;
    if (intToValue.count(number) != 0) return false;
    const auto entry = valueToInt.emplace_hint(successor, newValue, number);
    intToValue.emplace(number, const_cast<T*>(&entry->first));
    setDirect(newValue, number);
    return true;
  }

  void add(void* value, unsigned short number) override {
    const T newValue = loadValue(value);
    if constexpr (kDirect) {
      // Sampling records the same values over and over: skip the tree.
      if (direct_[slotOf(newValue)] == (kPresent | number)) return;
    }
    valueToInt[newValue] = number;
    setDirect(newValue, number);
  }

  bool containsValue(void* value) override {
    if constexpr (kDirect) return direct_[slotOf(loadValue(value))] != 0;
    return valueToInt.count(loadValue(value)) != 0;
  }

  bool containsInt(unsigned short number) override { return intToValue.count(number) != 0; }

  void recalculatePositions() override {
    category_numbering::requireRenumberable(valueToInt.size());
    intToValue.clear();
    const double step = category_numbering::renumberStep(valueToInt.size());
    uint64_t index = 0;
    for (auto& [key, number] : valueToInt) {
      number = category_numbering::renumbered(index++, step);
      intToValue.emplace_hint(intToValue.end(), number, const_cast<T*>(&key));
      setDirect(key, number);
    }
  }

  void getAllInts(std::vector<unsigned short>& out) override {
    out.clear();
    out.reserve(intToValue.size());
    for (const auto& entry : intToValue) out.push_back(entry.first);
  }

  uint64_t getSize() override { return valueToInt.size(); }

  // Null for a number that is not assigned.
  void* getValuePointer(unsigned short number) const override {
    const auto found = intToValue.find(number);
    return found == intToValue.end() ? nullptr : found->second;
  }

  std::unique_ptr<ColumnMapBase> clone() const override {
    auto copy = std::make_unique<ColumnMap<T>>();
    copy->valueToInt = valueToInt;
    for (const auto& [value, number] : copy->valueToInt) copy->intToValue.emplace(number, const_cast<T*>(&value));
    copy->direct_ = direct_;
    return copy;
  }

  std::map<unsigned short, T*> intToValue;  // number -> key inside valueToInt
  ValueMap valueToInt;                      // value -> number

 private:
  static constexpr bool kDirect = sizeof(T) <= 2;
  // Marks a present entry of the direct table above its 16-bit number.
  static constexpr uint32_t kPresent = 0x10000;

  // The direct-table slot of a value: its bits as an unsigned number.
  static size_t slotOf(const T& value) {
    if constexpr (sizeof(T) == 1) {
      uint8_t bits = 0;
      std::memcpy(&bits, &value, 1);
      return bits;
    } else {
      uint16_t bits = 0;
      std::memcpy(&bits, &value, sizeof(bits));
      return bits;
    }
  }

  void setDirect(const T& value, unsigned short number) {
    if constexpr (kDirect) direct_[slotOf(value)] = kPresent | number;
  }

  // Values arrive as pointers into packed rows, which are not aligned for T.
  static T loadValue(const void* value) {
    T loaded;
    std::memcpy(&loaded, value, sizeof(T));
    return loaded;
  }

  bool isKey(typename ValueMap::const_iterator found, const T& value) const {
    return found != valueToInt.end() && !valueToInt.key_comp()(value, found->first);
  }

  // Slots of the direct table: one per bit pattern of T, none for wider types.
  static constexpr size_t directSlots() {
    if constexpr (kDirect) {
      return size_t{1} << (8 * sizeof(T));
    } else {
      return 0;
    }
  }

  // Value bits -> kPresent | number for every value in the map; empty for
  // wider types.
  std::vector<uint32_t> direct_ = std::vector<uint32_t>(directSlots());
};

// Keeps categorised only the columns fit to be tree levels after `rows`
// sampled rows: a map with n distinct values stays when 2 * log2(n) <=
// log2(rows) (at most sqrt(rows) values) and n <= CONFIG_CATEGORY_THRESHOLD.
// Every other map is destroyed and its entry erased. An empty map stays.
void cleanColumnMaps(std::map<unsigned short, ColumnMapBase*>& maps, unsigned int rows);
