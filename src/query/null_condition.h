#pragma once

#include "query/uniform_condition.h"

// IS_NULL or NOT_NULL on a plain column that may hold NULL. A NULL lies in
// the row's null bitmap, not in the value, so every value this condition
// is handed is not NULL: it answers NOT_NULL for it, and filtering answers
// the rows whose flag is set with `nullAnswer` (see Condition). A
// categorised column tests its NULL_CATEGORY number instead, and a column
// that cannot hold NULL gets a FixedCondition.
class NullCondition : public UniformCondition {
 public:
  explicit NullCondition(ConditionType conditionType) : UniformCondition(conditionType, conditionType != IS_NULL) {
    nullAnswer = conditionType == IS_NULL;
  }
};
