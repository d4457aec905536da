#pragma once

#include <algorithm>
#include <cstring>

#include "query/condition.h"
#include "query/row_bits.h"
#include "storage/column_map_base.h"

// True for category numbers in [low, high], or for NE outside it; never
// for NULL_CATEGORY, which no comparison holds for (a `high` above it is
// taken as the number below it). Used where one bound is not enough: a
// lower bound on a floating-point column whose map holds NaN, which
// numbers after every other value but must not satisfy a comparison, a
// lower bound or inequality on a column that may hold NULL, and equality
// with a zero, which -0.0 and 0.0 (two values of a map) both satisfy.
class CategoryRangeCondition : public Condition {
 public:
  CategoryRangeCondition(ConditionType conditionType, unsigned short lowest,
                         unsigned short highest)
      : low(lowest), high(std::min<unsigned short>(highest, NULL_CATEGORY - 1)) {
    type = conditionType;
  }

  bool evaluate(const void* row) const override {
    unsigned short v;
    std::memcpy(&v, row, sizeof(v));
    return ((v >= low && v <= high) != (type == NE)) && v != NULL_CATEGORY;
  }

  void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                    uint64_t* bits) const override {
    const unsigned short lowest = low;
    const unsigned short highest = high;
    const bool outside = type == NE;
    row_bits::fill<unsigned short>(base, rows, delta, count, bits, [lowest, highest, outside](unsigned short v) {
      return ((v >= lowest && v <= highest) != outside) && v != NULL_CATEGORY;
    });
  }

  unsigned short low;
  unsigned short high;
};
