#pragma once

#include <cstddef>
#include <cstdint>

#include "query/condition.h"
#include "query/row_bits.h"

// A condition with the same answer for every row: a comparison that no
// value of the column's type can satisfy, or that every value does (an int
// column against a constant beyond its range). It reads no value, so it
// takes part in "and", "or" and brackets like any other condition while a
// scan never visits its column.
class FixedCondition : public Condition {
 public:
  FixedCondition(ConditionType conditionType, bool answer) : answer_(answer) {
    type = conditionType;
    fixedAnswer = true;
  }

  bool evaluate(const void*) const override {
    return answer_;
  }
  void evaluateRows(const char*, const uint32_t*, ptrdiff_t, size_t count,
                    uint64_t* bits) const override { fill(count, bits); }
  void evaluateDense(const char*, size_t, size_t count, uint64_t* bits) const override { fill(count, bits); }
  void evaluateTexts(const char* const*, size_t count, uint64_t* bits) const override { fill(count, bits); }

 private:
  void fill(size_t count, uint64_t* bits) const {
    row_bits::fillEach(count, bits, [this](size_t) { return answer_; });
  }

  bool answer_;
};
