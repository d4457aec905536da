#pragma once

#include <cstdint>

#include "query/field_comparator_base.h"
#include "storage/unaligned.h"

// A sort key on a categorised floating-point column whose map holds both
// -0.0 and 0.0. The two zeros have numbers next to each other in value
// order; 0.0's number compares as -0.0's, so that the zeros are equal, as
// on a plain column, and rows holding them are ordered by the next key.
class ZeroCategoryComparator : public FieldComparatorBase {
 public:
  ZeroCategoryComparator(unsigned short columnNumber, bool isDescending, unsigned short negativeZero,
                         unsigned short positiveZero)
      : FieldComparatorBase(columnNumber, isDescending), negative_(negativeZero), positive_(positiveZero) {}

  int compare(const void* a, const void* b) const override {
    const unsigned short x = rank(a);
    const unsigned short y = rank(b);
    return (x > y) - (x < y);
  }

  uint64_t orderKey(const void* value) const override { return rank(value); }

 private:
  unsigned short rank(const void* value) const {
    const auto number = unaligned::load<unsigned short>(value);
    return number == positive_ ? negative_ : number;
  }

  unsigned short negative_;  // category number of -0.0
  unsigned short positive_;  // category number of 0.0
};
