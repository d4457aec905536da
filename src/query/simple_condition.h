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

  bool evaluate(const void* value) override;

  const char* value() const { return value_.get(); }
  unsigned short length() const { return length_; }

 private:
  std::unique_ptr<char[]> value_;
  unsigned short length_;
};
