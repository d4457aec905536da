#pragma once

#include "query/uniform_condition.h"

// A condition with the same answer for every row: a comparison that no
// value of the column's type can satisfy, or that every value does (an int
// column against a constant beyond its range). It reads no value, so it
// takes part in "and", "or" and brackets like any other condition while a
// scan never visits its column.
class FixedCondition : public UniformCondition {
 public:
  FixedCondition(ConditionType conditionType, bool answer) : UniformCondition(conditionType, answer) {
    fixedAnswer = true;
  }
};
