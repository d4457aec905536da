#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "errors/database_exception.h"
#include "storage/column_map_base.h"
#include "storage/number_set.h"

// The rules by which every category map numbers its values, whatever their
// type: where a new value's number falls between its neighbours', how a
// renumbering spreads the values, which free number a value out of order
// takes, and how range lookups read the bounds. The functions own nothing
// and keep no state: they work on the caller's entries, which must be in
// value order where a function says so and have an `unsigned short number`
// member; `taken` is the caller's set of assigned numbers.
namespace category_numbering {

// Number of the first value of an empty map.
inline constexpr unsigned short FIRST = 32767;
// Bound above every assigned number (0 is the bound below).
inline constexpr unsigned short TOP = 65535;
static_assert(NULL_CATEGORY == TOP, "NULL's number must be one that numbering never assigns");
// Renumbering spreads the values over [RENUMBER_START, RENUMBER_START + RENUMBER_SPAN).
inline constexpr unsigned short RENUMBER_START = 3276;
inline constexpr double RENUMBER_SPAN = 58983.0;
// Most values that this spacing can give distinct numbers (a step of at least 1).
inline constexpr uint64_t MAX_SPACED_VALUES = 58982;
// Most values a map can number: every number but 0 and TOP.
inline constexpr uint64_t MAX_NUMBERS = 65534;

// The number for a new value between its neighbours in value order, given
// their numbers (absent neighbours are null). False when there is no room:
// the value would be the smallest while the smallest number is below 2.
bool candidate(const unsigned short* predecessor, const unsigned short* successor, unsigned short& out);

// candidate() for a new value that goes just before `successor` in
// `entries` (in value order; its end when the value is the largest).
template <typename Entries>
bool candidateBefore(const Entries& entries, typename Entries::const_iterator successor, unsigned short& out) {
  const unsigned short* above = successor == entries.end() ? nullptr : &successor->number;
  const unsigned short* below = successor == entries.begin() ? nullptr : &std::prev(successor)->number;
  return candidate(below, above, out);
}

// The renumbered number of the index-th of `count` values in ascending
// order: evenly spaced from RENUMBER_START, with room below and above, while
// the spacing keeps a step of at least 1; beyond that spread over every
// number from 1 to MAX_NUMBERS.
unsigned short renumbered(uint64_t index, uint64_t count);

// Gives every entry of `entries` (in value order) its renumbered number,
// makes `taken` hold exactly those, and calls renamed(old, new) for each.
// Throws, changing nothing, when there are more values than numbers.
template <typename Entries, typename Renamed>
void spread(Entries& entries, NumberSet& taken, Renamed renamed) {
  const uint64_t count = entries.size();
  if (count > MAX_NUMBERS) {
    throw DatabaseException("Category map of %d values cannot be renumbered: at most %d distinct values fit",
                            static_cast<int>(count), static_cast<int>(MAX_NUMBERS));
  }
  taken.clear();
  for (uint64_t index = 0; index < count; ++index) {
    auto& entry = entries[index];
    const unsigned short old = entry.number;
    entry.number = renumbered(index, count);
    taken.insert(entry.number);
    renamed(old, entry.number);
  }
}

// Makes room for one more element, doubling the capacity when full.
template <typename Vector>
void reserveOneMore(Vector& items) {
  if (items.size() == items.capacity()) items.reserve(items.empty() ? 64 : 2 * items.size());
}

// Makes room in `ordered` for one more waiting entry beside the `waiting`
// ones, so that merge() allocates nothing.
template <typename Vector>
void reserveForMerge(Vector& ordered, size_t waiting) {
  const size_t needed = ordered.size() + waiting + 1;
  if (ordered.capacity() < needed) ordered.reserve(2 * needed + 64);
}

// Moves the entries of `waiting` (values not in `ordered`, in any order)
// into `ordered` (in value order by `less`): sorted unless they arrived
// sorted, then merged from the back in one pass. Allocates nothing when
// reserveForMerge made room for every waiting entry.
template <typename Vector, typename Less>
void merge(Vector& ordered, Vector& waiting, Less less) noexcept {
  if (waiting.empty()) return;
  if (!std::is_sorted(waiting.begin(), waiting.end(), less)) std::sort(waiting.begin(), waiting.end(), less);
  size_t left = ordered.size();
  size_t right = waiting.size();
  ordered.resize(left + right);
  for (size_t out = left + right; right > 0;) {
    if (left > 0 && less(waiting[right - 1], ordered[left - 1])) {
      ordered[--out] = ordered[--left];
    } else {
      ordered[--out] = waiting[--right];
    }
  }
  waiting.clear();
}

// A number `taken` does not hold: the first at or after `hint`, else the
// first from 1; 0 when every number is taken. Moves `hint` past the
// answer, so that a run of calls walks the numbers once.
unsigned short freeNumber(const NumberSet& taken, unsigned short& hint);

// Range lookups over entries in value order, probing with the first entry
// not less than the value (`found`; `equal` when it is the value).
template <typename Entries>
unsigned short greaterEqual(const Entries& entries, typename Entries::const_iterator found, bool equal) {
  if (found == entries.end()) return TOP;
  if (equal) return found->number;
  if (found == entries.begin()) return 0;
  return found->number;
}

template <typename Entries>
unsigned short lessEqual(const Entries& entries, typename Entries::const_iterator found, bool equal) {
  if (found == entries.end()) return TOP;
  if (equal) return found->number;
  if (found == entries.begin()) return 0;
  return std::prev(found)->number;
}

}  // namespace category_numbering
