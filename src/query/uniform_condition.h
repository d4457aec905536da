#pragma once

#include <cstddef>
#include <cstdint>

#include "query/condition.h"
#include "query/row_bits.h"

// A condition with one answer for every value it is handed, which it never
// reads: the base of conditions whose answer the column's type or layout
// settles before any row is read. A subclass states what a NULL answers.
class UniformCondition : public Condition {
 public:
  bool evaluate(const void*) const override { return answer_; }
  void evaluateRows(const char*, const uint32_t*, ptrdiff_t, size_t count,
                    uint64_t* bits) const override { fill(count, bits); }
  void evaluateDense(const char*, size_t, size_t count, uint64_t* bits) const override { fill(count, bits); }
  void evaluateTexts(const char* const*, size_t count, uint64_t* bits) const override { fill(count, bits); }

 protected:
  UniformCondition(ConditionType conditionType, bool answer) : answer_(answer) { type = conditionType; }

 private:
  void fill(size_t count, uint64_t* bits) const {
    row_bits::fillEach(count, bits, [this](size_t) { return answer_; });
  }

  const bool answer_;
};
