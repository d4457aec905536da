#pragma once

#include <cstring>

#include "query/condition.h"
#include "query/row_bits.h"

// True for category numbers in [low, high], or for NE outside it. Used
// where one bound is not enough: a lower bound on a floating-point column
// whose map holds NaN, which numbers after every other value but must not
// satisfy a comparison, and equality with a zero, which -0.0 and 0.0 (two
// values of a map) both satisfy.
class CategoryRangeCondition : public Condition {
 public:
  CategoryRangeCondition(ConditionType conditionType, unsigned short lowest,
                         unsigned short highest)
      : low(lowest), high(highest) {
    type = conditionType;
  }

  bool evaluate(const void* row) override {
    unsigned short v;
    std::memcpy(&v, row, sizeof(v));
    result = (v >= low && v <= high) != (type == NE);
    return result;
  }

  void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count, uint64_t* bits) override {
    const unsigned short lowest = low;
    const unsigned short highest = high;
    const bool outside = type == NE;
    row_bits::fill<unsigned short>(base, rows, delta, count, bits, [lowest, highest, outside](unsigned short v) {
      return (v >= lowest && v <= highest) != outside;
    });
  }

  unsigned short low;
  unsigned short high;
};
