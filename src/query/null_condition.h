#pragma once

#include <cstddef>
#include <cstdint>

#include "query/condition.h"
#include "query/row_bits.h"

// IS_NULL or NOT_NULL on a plain column that may hold NULL. A NULL lies in
// the row's null bitmap, not in the value, so every value this condition
// is handed is not NULL: it answers NOT_NULL for it, and filtering answers
// the rows whose flag is set with `nullAnswer` (see Condition). A
// categorised column tests its NULL_CATEGORY number instead, and a column
// that cannot hold NULL gets a FixedCondition.
class NullCondition : public Condition {
 public:
  explicit NullCondition(ConditionType conditionType) {
    type = conditionType;
    nullAnswer = conditionType == IS_NULL;
  }

  bool evaluate(const void*) const override {
    return !nullAnswer;
  }
  void evaluateRows(const char*, const uint32_t*, ptrdiff_t, size_t count,
                    uint64_t* bits) const override { fill(count, bits); }
  void evaluateDense(const char*, size_t, size_t count, uint64_t* bits) const override { fill(count, bits); }
  void evaluateTexts(const char* const*, size_t count, uint64_t* bits) const override { fill(count, bits); }

 private:
  void fill(size_t count, uint64_t* bits) const {
    const bool answer = !nullAnswer;
    row_bits::fillEach(count, bits, [answer](size_t) { return answer; });
  }
};
