#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

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

  // Integers are offset into unsigned order; floating-point values use
  // their bits (negative ones inverted), with -0 made 0 and every NaN the
  // largest key, as compare() orders them.
  uint64_t orderKey(const void* value) const override {
    T x;
    std::memcpy(&x, value, sizeof(T));
    if constexpr (std::is_floating_point_v<T>) {
      const double wide = static_cast<double>(x);
      if (std::isnan(wide)) return UINT64_MAX;
      const uint64_t bits = std::bit_cast<uint64_t>(wide == 0 ? 0.0 : wide);
      return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
    } else if constexpr (std::is_signed_v<T>) {
      return static_cast<uint64_t>(static_cast<int64_t>(x)) ^ (uint64_t{1} << 63);
    } else {
      return static_cast<uint64_t>(x);
    }
  }
};
