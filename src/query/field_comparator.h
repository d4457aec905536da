#pragma once

#include <cstring>

#include "query/field_comparator_base.h"
#include "storage/data_type.h"

// Compares values of storage type T (the value types of LONG, INT, SHORT,
// DOUBLE, FLOAT, BOOL and DATE, or unsigned short for category numbers):
// -1, 0 or 1. Floating-point values order NaN after every number with all
// NaNs equal, so sorting sees a strict weak ordering. Created through
// createTemplatedClass<FieldComparator>(type, column, descending).
template <typename T>
class FieldComparator : public FieldComparatorBase {
 public:
  FieldComparator(unsigned short columnNumber, bool isDescending)
      : FieldComparatorBase(columnNumber, isDescending) {}

  int compare(const void* a, const void* b) const override {
    T x;
    T y;
    std::memcpy(&x, a, sizeof(T));
    std::memcpy(&y, b, sizeof(T));
    const ValueLess<T> less;
    if (less(x, y)) {
      return -1;
    }
    return less(y, x) ? 1 : 0;
  }
};
