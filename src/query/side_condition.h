#pragma once

#include <cstddef>
#include <cstdint>

#include "query/condition.h"

// A condition of a joined query as one side's table sees it: one of that
// side's conditions, answering for the side's own column number, or a
// stand-in for a condition on the other side, which holds for every row.
// Stand-ins in the places of the other side's conditions (the same leaves
// of the same compiled clause) make the clause keep exactly the rows of this
// side that can pass it with some row of the other side: the clause joins
// its answers by "and" and "or" only, so taking an unknown answer as true
// never loses a row. The wrapped condition must outlive this one.
class SideCondition : public Condition {
 public:
  // Takes the place of `joined` in its clause; `own` is null for a
  // condition on the other side, else the condition to ask, for `column`.
  SideCondition(const Condition& joined, const Condition* own, unsigned short ownColumn) : own_(own) {
    column = ownColumn;
    type = joined.type;
    fixedAnswer = own == nullptr;
    nullAnswer = own != nullptr && own->nullAnswer;
  }

  bool evaluate(const void* value) const override {
    return own_ == nullptr || own_->evaluate(value);
  }
  void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                    uint64_t* bits) const override {
    own_->evaluateRows(base, rows, delta, count, bits);
  }
  void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const override {
    own_->evaluateDense(values, width, count, bits);
  }
  void evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) const override {
    own_->evaluateTexts(texts, count, bits);
  }

 private:
  const Condition* own_;
};
