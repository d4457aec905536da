#pragma once

#include <cstdint>

// A sort key on one column: compares two values of that column in the form
// in which the rows hold them (pointers may be unaligned). Owned by whoever
// created it (the result-set factory or an index set).
class FieldComparatorBase {
 public:
  FieldComparatorBase(unsigned short columnNumber, bool isDescending)
      : column(columnNumber), descending(isDescending) {}
  virtual ~FieldComparatorBase() = default;

  FieldComparatorBase(const FieldComparatorBase&) = delete;
  FieldComparatorBase& operator=(const FieldComparatorBase&) = delete;

  // Negative when a orders before b, 0 when equal, positive after; always
  // ascending (the caller applies `descending`).
  virtual int compare(const void* a, const void* b) const = 0;
  // An unsigned 64-bit key of the value: a smaller key means an earlier
  // value by compare().
  virtual uint64_t orderKey(const void* value) const = 0;
  // Whether equal order keys also mean equal values; otherwise compare()
  // decides between values of equal keys.
  virtual bool orderKeyIsExact() const { return true; }

  // Column compared, in the numbering of the result set that sorts.
  unsigned short column;
  bool descending;
};
