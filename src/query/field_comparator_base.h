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
  // Whether orderKey is available: it maps each value to an unsigned
  // 64-bit key whose order (and equality) is the order of compare().
  virtual bool hasOrderKey() const { return false; }
  virtual uint64_t orderKey(const void*) const { return 0; }

  // Column compared, in the numbering of the result set that sorts.
  unsigned short column;
  bool descending;
};
