#pragma once

#include <memory>

#include "query/condition.h"

// A condition on raw stored bytes: the constant's bytes are compared with the
// row's bytes one by one as unsigned characters, stopping at the first
// difference. For a STRING constant the length includes its NUL, so texts
// order as strcmp orders them and the comparison never passes the row text's
// NUL. Owns its copy of the constant.
class SimpleCondition : public Condition {
 public:
  // Takes over `value`, a block of `length` bytes allocated with new[].
  SimpleCondition(ConditionType conditionType, char* value, unsigned short length);

  bool evaluate(const void* value) const override;
  // Equality and inequality on values of 1, 2, 4 or 8 bytes compare them
  // as integers, which is byte equality; other cases go row by row.
  void evaluateRows(const char* base, const uint32_t* rows, ptrdiff_t delta, size_t count,
                    uint64_t* bits) const override;
  void evaluateDense(const char* values, size_t width, size_t count, uint64_t* bits) const override;
  // Texts are compared in one loop per comparison type.
  void evaluateTexts(const char* const* texts, size_t count, uint64_t* bits) const override;

  const char* value() const { return value_.get(); }
  unsigned short length() const { return length_; }

 private:
  std::unique_ptr<char[]> value_;
  unsigned short length_;
};
