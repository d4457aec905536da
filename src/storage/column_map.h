#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

#include "storage/category_less.h"
#include "storage/category_numbering.h"
#include "storage/column_map_base.h"
#include "storage/data_type.h"
#include "storage/number_set.h"
#include "storage/number_slots.h"
#include "storage/unaligned.h"
#include "storage/value_hash_index.h"

// The category map of one column whose stored values have type T (every
// type but text). Values are passed as T* to their stored form. The map owns
// its values: each is stored once, in arrival order, in `stored_`, whose
// elements never move, so a pointer from getValuePointer stays valid while
// the map lives. Floating-point values are ordered by CategoryLess, so NaN
// is one value greater than every number and -0.0 a value just below 0.0.
// The order is a sorted vector of (value, number) entries; values numbered
// out of order, and new sampled ones, wait in a vector of their own and are
// merged into it, sorted, when an operation needs the order. The exact
// lookups of loading and sampling go through a table beside it: for types
// of one or two bytes (bool, short, date) a direct table indexed by the
// value's bits, for wider types a hash index. Which numbers are taken is a
// bit set. A number's value is found by a search of the ordered values while
// the numbers follow them, and through a table indexed by number while they
// do not (from the first value numbered out of order to the next
// renumbering).
template <typename T>
class ColumnMap : public ColumnMapBase {
 public:
  unsigned short getInt(void* value) override {
    return static_cast<unsigned short>(lookup(unaligned::load<T>(value)));
  }

  unsigned short getIntLessEq(void* value) override {
    settle();
    const T probe = unaligned::load<T>(value);
    const auto found = firstNotLess(probe);
    return category_numbering::lessEqual(ordered_, found, isKey(found, probe));
  }

  unsigned short getIntGreatEQ(void* value) override {
    settle();
    const T probe = unaligned::load<T>(value);
    const auto found = firstNotLess(probe);
    return category_numbering::greaterEqual(ordered_, found, isKey(found, probe));
  }

  // A value already in the map is not added again (false).
  bool add(void* value) override {
    const T newValue = unaligned::load<T>(value);
    if (lookup(newValue) != 0) return false;
    settle();
    const auto successor = firstNotLess(newValue);
    unsigned short number = 0;
    if (!category_numbering::candidateBefore(ordered_, successor, number) || taken_.contains(number)) return false;
    const auto at = successor - ordered_.begin();
    category_numbering::reserveOneMore(ordered_);
    const Entry entry = store(newValue, number);
    ordered_.insert(ordered_.begin() + at, entry);
    taken_.insert(number);
    return true;
  }

  // True when the value was new to the map.
  bool add(void* value, unsigned short number) override {
    const T newValue = unaligned::load<T>(value);
    const uint32_t known = lookup(newValue);
    // Sampling records the same values over and over: for them this test
    // is the whole call, kept apart from record() so that it saves no
    // registers.
    if (known == (kPresent | number)) return false;
    return record(newValue, number, known != 0);
  }

  // A value already in the map keeps its number.
  unsigned short addUnordered(void* value) override {
    const T newValue = unaligned::load<T>(value);
    const uint32_t known = lookup(newValue);
    if (known != 0) return static_cast<unsigned short>(known);
    const unsigned short number = category_numbering::freeNumber(taken_, freeHint_);
    if (number == 0) return 0;
    leaveOrder();
    category_numbering::reserveForMerge(ordered_, pending_.size());
    category_numbering::reserveOneMore(pending_);
    pending_.push_back(store(newValue, number));
    taken_.insert(number);
    return number;
  }

  bool containsValue(void* value) override { return lookup(unaligned::load<T>(value)) != 0; }

  bool containsInt(unsigned short number) override { return taken_.contains(number); }

  void recalculatePositions() override {
    settle();
    category_numbering::spread(ordered_, taken_, [](unsigned short, unsigned short) {});
    enterOrder();
    for (const Entry& entry : ordered_) remember(entry.value, entry.number);
  }

  void renumber(unsigned short* translation) override {
    settle();
    category_numbering::spread(ordered_, taken_,
                               [translation](unsigned short old, unsigned short number) { translation[old] = number; });
    enterOrder();
    // One pass over the lookup table rather than a lookup per value.
    const auto renumbered = [translation](uint32_t entry) {
      return kPresent | translation[static_cast<unsigned short>(entry)];
    };
    if constexpr (kDirect) {
      for (uint32_t& entry : direct_) {
        if (entry != 0) entry = renumbered(entry);
      }
    } else {
      hashed_.updateEntries(renumbered);
    }
  }

  void getAllInts(std::vector<unsigned short>& out) override {
    out.clear();
    out.reserve(taken_.size());
    taken_.forEach([&out](unsigned short number) { out.push_back(number); });
  }

  uint64_t getSize() override { return ordered_.size() + pending_.size(); }

  // Null for a number that is not assigned.
  void* getValuePointer(unsigned short number) const override {
    if (!taken_.contains(number)) return nullptr;
    if (!numbersInOrder_) return const_cast<T*>(&stored_[slots_.at(number)]);
    const auto found = std::lower_bound(ordered_.begin(), ordered_.end(), number,
                                        [](const Entry& entry, unsigned short n) { return entry.number < n; });
    return const_cast<T*>(&stored_[found->slot]);
  }

  std::unique_ptr<ColumnMapBase> clone() const override {
    auto copy = std::make_unique<ColumnMap<T>>(*this);
    copy->ordered_.reserve(ordered_.size() + pending_.size());
    copy->settle();
    return copy;
  }

  // Merges the waiting values (of addUnordered and new sampled ones) into
  // the ordered values, which hold every value afterwards. Allocates nothing.
  void settle() noexcept {
    category_numbering::merge(ordered_, pending_,
                              [](const Entry& a, const Entry& b) { return CategoryLess<T>()(a.value, b.value); });
  }

 private:
  // One value of the map: a copy of it (for searches), its number and where
  // `stored_` holds it.
  struct Entry {
    T value{};
    unsigned short number = 0;
    uint32_t slot = 0;
  };

  static constexpr bool kDirect = sizeof(T) <= 2;

  // The value's bits as an unsigned number of its width; every NaN, which
  // the map holds as one value, has the same key.
  using Key = std::conditional_t<sizeof(T) == 1, uint8_t,
                                 std::conditional_t<sizeof(T) == 2, uint16_t,
                                                    std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
  static Key keyOf(T value) {
    if constexpr (std::is_floating_point_v<T>) {
      if (value != value) value = std::numeric_limits<T>::quiet_NaN();
    }
    Key bits = 0;
    std::memcpy(&bits, &value, sizeof(T));
    return bits;
  }

  // Marks a present entry of the lookup table above its 16-bit number.
  static constexpr uint32_t kPresent = ValueHashIndex<Key>::kPresent;

  // kPresent | number for a value in the map, else 0.
  uint32_t lookup(const T& value) const {
    if constexpr (kDirect) {
      return direct_[keyOf(value)];
    } else {
      return hashed_.find(keyOf(value));
    }
  }

  void remember(const T& value, unsigned short number) {
    if constexpr (kDirect) {
      direct_[keyOf(value)] = kPresent | number;
    } else {
      hashed_.set(keyOf(value), kPresent | number);
    }
  }

  // add(value, number) of a value the lookup table does not hold with
  // that number (`known`: holds with another).
  [[gnu::noinline]] bool record(const T& value, unsigned short number, bool known) {
    leaveOrder();
    if (known) {
      settle();
      Entry& entry = *firstNotLess(value);
      slots_.place(number, entry.slot);
      entry.number = number;
      remember(value, number);
      return false;
    }
    // A new value waits beside the order like those of addUnordered: a
    // sample may bring thousands, merged into the order in one pass.
    category_numbering::reserveForMerge(ordered_, pending_.size());
    category_numbering::reserveOneMore(pending_);
    pending_.push_back(store(value, number));
    return true;
  }

  // Fills slots_ with every value's slot before the first value is numbered
  // out of order; throws, changing nothing the map reads, when memory runs out.
  void leaveOrder() {
    if (!numbersInOrder_) return;
    for (const std::vector<Entry>* entries : {&ordered_, &pending_}) {
      for (const Entry& entry : *entries) slots_.place(entry.number, entry.slot);
    }
    numbersInOrder_ = false;
  }

  // After a renumbering: the numbers follow the values again.
  void enterOrder() noexcept {
    numbersInOrder_ = true;
    slots_.clear();
  }

  // Stores a new value and enters it into the lookup tables with `number`;
  // its entry is the caller's to place.
  Entry store(const T& value, unsigned short number) {
    if (!numbersInOrder_) slots_.place(number, static_cast<uint32_t>(stored_.size()));
    stored_.push_back(value);
    remember(value, number);
    return Entry{value, number, static_cast<uint32_t>(stored_.size() - 1)};
  }

  typename std::vector<Entry>::iterator firstNotLess(const T& value) {
    return std::lower_bound(ordered_.begin(), ordered_.end(), value,
                            [](const Entry& entry, const T& probe) { return CategoryLess<T>()(entry.value, probe); });
  }

  bool isKey(typename std::vector<Entry>::const_iterator found, const T& value) const {
    return found != ordered_.end() && !CategoryLess<T>()(value, found->value);
  }

  // Slots of the direct table: one per bit pattern of T, none for wider types.
  static constexpr size_t directSlots() {
    if constexpr (kDirect) {
      return size_t{1} << (8 * sizeof(T));
    } else {
      return 0;
    }
  }

  std::deque<T> stored_;         // every value, in arrival order; elements never move
  std::vector<Entry> ordered_;   // in value order, but for the waiting values (settle())
  std::vector<Entry> pending_;   // values of addUnordered and new sampled ones, in arrival order
  NumberSet taken_;              // numbers of add and addUnordered (sampling's only after recalculatePositions)
  bool numbersInOrder_ = true;   // every number ascends with its value in ordered_, and pending_ is empty
  NumberSlots slots_;            // number -> its value's index in stored_, while the numbers are out of order
  // Value bits -> kPresent | number for every value in the map, for types
  // of one or two bytes; empty for wider types, which use hashed_.
  std::vector<uint32_t> direct_ = std::vector<uint32_t>(directSlots());
  ValueHashIndex<Key> hashed_;
  unsigned short freeHint_ = 1;  // where addUnordered looks for a free number first
};
