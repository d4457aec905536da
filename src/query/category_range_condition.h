#pragma once

#include <cstring>

#include "query/condition.h"

// True for category numbers in [low, high]. Used where one bound is not
// enough: a lower bound on a floating-point column whose map holds NaN,
// which numbers after every other value but must not satisfy a comparison.
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
    result = v >= low && v <= high;
    return result;
  }

  unsigned short low;
  unsigned short high;
};
